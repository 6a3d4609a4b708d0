// The factory-data text of the emulator's built-in database, as the text
// writer must print it: the golden value that the download tests compare a
// received file with.  Written out, not printed by the writer under test.
#pragma once

#include <string>

namespace emulator::testing {

inline const std::string kSampleDatabaseText =
    "##########################################################################################################################\r\n"
    "#                                                                                                                        #\r\n"
    "# Factory data of the digital satellite receiver.                                                                        #\r\n"
    "# DOS text file.                                                                                                         #\r\n"
    "#                                                                                                                        #\r\n"
    "##########################################################################################################################\r\n"
    "\r\n"
    "\r\n"
    "##########################################################################################################################\r\n"
    "# [satellite information]                                                                                                #\r\n"
    "# tag     sat_name        lnb_low   lnb_high  lnb_type  angle     east_west DiSEqC    22KHz   0/12V   14/18V             #\r\n"
    "# (s)     \"ccccccccc\"     xxxxx     xxxxx     u/n       xxx.x     e/w       n/a/b/c/d n/0/22  n/0/12  n/14/18            #\r\n"
    "# s       \"ASTRA DEF\"     9750      10600     universal 19.2      east      a         n       n       n                  #\r\n"
    "#                                                                                                                        #\r\n"
    "# [transponder information]                                                                                              #\r\n"
    "# tag     frequency       symbol    polar     22K       14/18V    0/12V     FEC                                          #\r\n"
    "# (t)     xxxxx           xxxxx     h/v       0/22      14/18     0/12      x/x                                          #\r\n"
    "# t       12663           22000     hor       0         14        0         3/4                                          #\r\n"
    "##########################################################################################################################\r\n"
    "  s       \"ASTRA\"         9750      10600     universal 19.2      east      none      none      none      none\r\n"
    "      t   12603           22000     hor       0         14        0         3/4\r\n"
    "      t   11836           27500     ver       0         14        0         3/4\r\n"
    "\r\n"
    "##########################################################################################################################\r\n"
    "# [program information]                                                                                                  #\r\n"
    "# tag     prog_name       sat_index tp_index  serviceID video_pid audio_pid pcr_pid   txt_pid   scramble  favorite  lock #\r\n"
    "# (v/r)   \"ccccccccccccc\" xx        xxx       xxxxx     xxxx      xxxx      xxxx      xxxx      0/1       0/1       0/1  #\r\n"
    "# v       \"ZDF On-line\"   1         2         2048      4096      4097      4096      4000      0         1         0    #\r\n"
    "##########################################################################################################################\r\n"
    "  v       \"Das Erste\"     1         2         28106     101       102       101       104       0         0         0\r\n"
    "  r       \"Radio One\"     1         1         12345     0         201       201       0         0         0         0\r\n";

}  // namespace emulator::testing
