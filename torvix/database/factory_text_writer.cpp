#include "torvix/database/factory_text_writer.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "torvix/database/records.h"

namespace torvix {

namespace {

// Banners, one text line per entry.  All are "#" comment lines to the reader.
// clang-format off
constexpr const char* kTitleBanner[] = {
    "##########################################################################################################################",
    "#                                                                                                                        #",
    "# Factory data of the digital satellite receiver.                                                                        #",
    "# DOS text file.                                                                                                         #",
    "#                                                                                                                        #",
    "##########################################################################################################################",
};
constexpr const char* kKvrsAntennaBanner[] = {
    "###################################################################################################################",
    "# ant_tag ant_num universal_lnb   lnb_low  lnb_high  antenna_type          DiSEqC   22KHz    0/12V     14/18V     #",
    "# (a)      xx         u/n          xxxxx      xxxxx     f/d/a            n/a/b/c/d  n/0/22   n/0/12    n/0/18     #",
    "# a        1       universal(or u) 9750       10600  Fixed/DiSEqC/Actuator                                        #",
    "###################################################################################################################",
};
constexpr const char* kAntennaInfoBanner[] = {
    "##########################################################################################################################",
    "# [antenna information]                                                                                                  #",
    "# tag          antenna_config                                                                                            #",
    "# (a)          -1...8                                                                                                    #",
    "#              -1: Ignore switch config => The antenna_config_value on sat_definition_line will be used.                 #",
    "#              0 : none                                                                                                  #",
    "#              1 : DiSEqC                                                                                                #",
    "#              2 : 22KHz                                                                                                 #",
    "#              3 : 012V                                                                                                  #",
    "#              4 : 14/18V + 22KHz                                                                                        #",
    "#              5 : 0/12V + 14/18V                                                                                        #",
    "#              6 : 0/12V + 22KHz                                                                                         #",
    "#              7 : 0/12V + DiSEqC                                                                                        #",
    "#              8 : 0/12V + 14/18V + 22KHz                                                                                #",
    "# *** antenna information is optional. ***                                                                               #",
    "##########################################################################################################################",
};
constexpr const char* kBasicSatelliteBanner[] = {
    "##########################################################################################################################",
    "# [satellite information]                                                                                                #",
    "# tag     sat_name        lnb_low   lnb_high  lnb_type  angle     east_west DiSEqC    22KHz   0/12V   14/18V             #",
    "# (s)     \"ccccccccc\"     xxxxx     xxxxx     u/n       xxx.x     e/w       n/a/b/c/d n/0/22  n/0/12  n/14/18            #",
    "# s       \"ASTRA DEF\"     9750      10600     universal 19.2      east      a         n       n       n                  #",
    "#                                                                                                                        #",
    "# [transponder information]                                                                                              #",
    "# tag     frequency       symbol    polar     22K       14/18V    0/12V     FEC                                          #",
    "# (t)     xxxxx           xxxxx     h/v       0/22      14/18     0/12      x/x                                          #",
    "# t       12663           22000     hor       0         14        0         3/4                                          #",
    "##########################################################################################################################",
};
constexpr const char* kKvrsSatelliteBanner[] = {
    "###############################################################################################################",
    "# [satellite information]                                                                                     #",
    "# tag     sat_name        lnb_low   lnb_high  lnb_type  angle     east_west   diseqc 1.2                      #",
    "# (s)     \"ccccccccc\"     xxxxx     xxxxx     u/n       xxx.x     e/w         y/n                           #",
    "# s       \"ASTRA DEF\"     9750      10600     universal 19.2      east         y                            #",
    "#                                                                                                             #",
    "# tag     frequency       symbol    polar     22K       14/18V    0/12V     FEC                               #",
    "# (t)     xxxxx           xxxxx     h/v       0/22      14/18     0/12      x/x                               #",
    "# t       12663           22000     hor       0         14        0         3/4                               #",
    "###############################################################################################################",
};
constexpr const char* kBasicProgramBanner[] = {
    "##########################################################################################################################",
    "# [program information]                                                                                                  #",
    "# tag     prog_name       sat_index tp_index  serviceID video_pid audio_pid pcr_pid   txt_pid   scramble  favorite  lock #",
    "# (v/r)   \"ccccccccccccc\" xx        xxx       xxxxx     xxxx      xxxx      xxxx      xxxx      0/1       0/1       0/1  #",
    "# v       \"ZDF On-line\"   1         2         2048      4096      4097      4096      4000      0         1         0    #",
    "##########################################################################################################################",
};
constexpr const char* kKvrsProgramBanner[] = {
    "#####################################################################################################################################",
    "# [program information]                                                                                                             #",
    "# tag   prog_name         ant_index sat_index tp_index  serviceID video_pid audio_pid pcr_pid   txt_pid   scramble  favorite  lock  #",
    "# (v/r) \"ccccccccccccc\" xx         xx        xxx       xxxxx     xxxx      xxxx      xxxx      xxxx      0/1       0/1       0/1    #",
    "# v     \"ZDF On-line\"   1          1         2         2048      4096      4097      4096      4000      0         1         0      #",
    "#####################################################################################################################################",
};
// clang-format on

// Printed words, indexed by the stored value.
constexpr const char* kLnbTypeWords[] = {"normal", "universal"};
constexpr const char* kEastWestWords[] = {"east", "west"};
constexpr const char* kPortWords[] = {"a", "b", "c", "d"};
constexpr const char* kTone22Words[] = {"0", "22"};
constexpr const char* kVolt012Words[] = {"0", "12"};
constexpr const char* kVolt1418Words[] = {"14", "18"};
constexpr const char* kSatelliteNotUsed = "none";
constexpr const char* kAntennaNotUsed = "n";
// Antenna type 3 and FEC codes 6 and 7 have no word; what they print is
// refused by the reader rather than taken for a valid value.
constexpr const char* kAntennaTypeWords[] = {"  f", "  d", "  a", "  type3"};
constexpr const char* kDiseqc12Words[] = {"n", "y"};
constexpr const char* kPolarizationWords[] = {"ver", "hor"};
constexpr const char* kFecWords[] = {"auto", "1/2", "2/3", "3/4", "5/6", "7/8", "fec6", "fec7"};
constexpr const char* kServiceTagWords[] = {"  v", "  r"};

constexpr char kDosLineEnd[] = "\r\n";

// Writes text lines to the stream as DOS text.
class DosTextOut {
 public:
  explicit DosTextOut(std::ostream& out) : out_(out) {}

  // Writes `text`, turning every line feed into CR LF.
  void Write(std::string_view text) {
    std::size_t start = 0;
    for (std::size_t nl = text.find('\n'); nl != std::string_view::npos; nl = text.find('\n', start)) {
      out_.write(text.data() + start, static_cast<std::streamsize>(nl - start));
      out_.write(kDosLineEnd, 2);
      start = nl + 1;
    }
    out_.write(text.data() + start, static_cast<std::streamsize>(text.size() - start));
  }

  void Printf(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    char line[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    Write(std::string_view(line, static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(sizeof line) - 1))));
  }

  void Banner(std::span<const char* const> lines) {
    for (const char* line : lines) {
      Write(line);
      Write("\n");
    }
  }

 private:
  std::ostream& out_;
};

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// Tenths of a degree with one decimal, independent of the locale.
std::string AngleText(unsigned tenths) { return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10); }

const char* SwitchWord(const SwitchSetting& s, const char* const (&words)[2], const char* notUsed) {
  return s.used ? words[s.value ? 1 : 0] : notUsed;
}

const char* DiseqcWord(const DiseqcSetting& d, const char* notUsed) {
  return d.used ? kPortWords[d.port & 3u] : notUsed;
}

int ClampCount(std::int64_t count, int room) { return static_cast<int>(std::clamp<std::int64_t>(count, 0, room)); }

class ImagePrinter {
 public:
  ImagePrinter(const DatabaseImage& image, std::ostream& out)
      : image_(image),
        out_(out),
        header_(LoadHeader(image)),
        layout_(LayoutForFormat(header_.format)),
        satellites_(ClampCount(header_.satellite_count, layout_.satellites.room)),
        transponders_(ClampCount(header_.transponder_count, layout_.transponders.room)),
        services_(ClampCount(header_.service_count, layout_.services.room)),
        antennas_(layout_.kvrs ? ClampCount(header_.antenna_count, layout_.antennas.room) : 0) {
    for (int j = 0; j < transponders_; ++j) bySatellite_[LoadTransponderSatellite(image_, layout_, j)].push_back(j);
  }

  void Print() {
    out_.Banner(kTitleBanner);
    out_.Write("\n");
    if (layout_.kvrs) {
      out_.Write("KVRS\n\n");
      out_.Banner(kKvrsAntennaBanner);
      for (int i = 0; i < antennas_; ++i) PrintAntenna(i);
    }
    if (header_.antenna_config != kNoAntennaConfig) {
      out_.Banner(kAntennaInfoBanner);
      out_.Printf("a         %d\n\n", header_.antenna_config);
    }
    out_.Write("\n");
    if (layout_.kvrs) {
      out_.Banner(kKvrsSatelliteBanner);
    } else {
      out_.Banner(kBasicSatelliteBanner);
    }
    for (int i = 0; i < satellites_; ++i) {
      PrintSatellite(i);
      for (int j : bySatellite_[static_cast<std::size_t>(i)]) PrintTransponder(j);
    }
    out_.Write("\n");
    if (layout_.kvrs) {
      out_.Banner(kKvrsProgramBanner);
    } else {
      out_.Banner(kBasicProgramBanner);
    }
    for (int i = 0; i < services_; ++i) PrintService(i);
  }

 private:
  void PrintAntenna(int index) {
    const AntennaRecord a = LoadAntenna(image_, index);
    out_.Printf("a %10d       %-10s %10d %10d     %-10s           %-10s %-10s %-10s %-10s\n", index + 1,
                kLnbTypeWords[a.universal_lnb], a.lnb_low, a.lnb_high, kAntennaTypeWords[a.antenna_type & 3u],
                DiseqcWord(a.diseqc, kAntennaNotUsed), SwitchWord(a.tone_22khz, kTone22Words, kAntennaNotUsed),
                SwitchWord(a.volt_0_12, kVolt012Words, kAntennaNotUsed),
                SwitchWord(a.volt_14_18, kVolt1418Words, kAntennaNotUsed));
  }

  void PrintSatellite(int index) {
    const SatelliteRecord s = LoadSatellite(image_, layout_, index);
    const std::string name = Quoted(s.name);
    const std::string angle = AngleText(s.angle);
    if (layout_.kvrs) {
      out_.Printf("  s       %-16s%-10d%-10d%-10s%-10s%-10s%-10s%-10d\n", name.c_str(), s.lnb_low, s.lnb_high,
                  kLnbTypeWords[s.universal_lnb], angle.c_str(), kEastWestWords[s.east_west],
                  kDiseqc12Words[s.diseqc_1_2], s.biased_value);
    } else {
      out_.Printf("  s       %-16s%-10d%-10d%-10s%-10s%-10s%-10s%-10s%-10s%s\n", name.c_str(), s.lnb_low, s.lnb_high,
                  kLnbTypeWords[s.universal_lnb], angle.c_str(), kEastWestWords[s.east_west],
                  DiseqcWord(s.diseqc, kSatelliteNotUsed), SwitchWord(s.tone_22khz, kTone22Words, kSatelliteNotUsed),
                  SwitchWord(s.volt_0_12, kVolt012Words, kSatelliteNotUsed),
                  SwitchWord(s.volt_14_18, kVolt1418Words, kSatelliteNotUsed));
    }
  }

  void PrintTransponder(int index) {
    const TransponderRecord t = LoadTransponder(image_, layout_, index);
    out_.Printf("      t   %-16d%-10d%-10s%-10s%-10s%-10s%s\n", t.frequency, t.symbolrate,
                kPolarizationWords[t.polarization], kTone22Words[t.tone_22khz], kVolt1418Words[t.volt_14_18],
                kVolt012Words[t.volt_0_12], kFecWords[t.fec & 7u]);
  }

  // 1-based position of transponder `t` among the transponders of satellite
  // `satellite` (records 0 to t in table order); 0 when t is no transponder.
  int TransponderPosition(int t, unsigned satellite) const {
    if (t >= transponders_) return 0;
    const std::vector<int>& mine = bySatellite_[satellite & 0xFFu];
    return static_cast<int>(std::upper_bound(mine.begin(), mine.end(), t) - mine.begin());
  }

  void PrintService(int index) {
    const ServiceRecord s = LoadService(image_, layout_, index);
    const std::string name = Quoted(s.name);
    const int t = s.transponder_index;
    if (layout_.kvrs) {
      out_.Printf("%-10s%-16s%-10d%-10d%-10d%-10d%-10d%-10d%-10d%-10d%-10d%-10d%d\n", kServiceTagWords[s.tv_radio],
                  name.c_str(), s.ant_index + 1, s.sat_index + 1, TransponderPosition(t, s.sat_index), s.service_id,
                  s.video_pid, s.audio_pid, s.pcr_pid, s.txt_pid, s.scramble, s.favorite, s.lock);
      return;
    }
    // The basic record names its satellite only through its transponder.
    int satIndex = 0;
    int tpIndex = 0;
    if (t < transponders_) {
      const unsigned satellite = LoadTransponderSatellite(image_, layout_, t);
      satIndex = static_cast<int>(satellite) + 1;
      tpIndex = TransponderPosition(t, satellite);
    }
    out_.Printf("%-10s%-16s%-10d%-10d%-10d%-10d%-10d%-10d%-10d%-10d%-10d%d\n", kServiceTagWords[s.tv_radio],
                name.c_str(), satIndex, tpIndex, s.service_id, s.video_pid, s.audio_pid, s.pcr_pid, s.txt_pid,
                s.scramble, s.favorite, s.lock);
  }

  const DatabaseImage& image_;
  DosTextOut out_;
  const ImageHeader header_;
  const ImageLayout& layout_;
  const int satellites_;
  const int transponders_;
  // The transponder indices of each satellite index byte, in table order.
  std::array<std::vector<int>, 256> bySatellite_;
  const int services_;
  const int antennas_;
};

}  // namespace

int WriteFactoryText(std::ostream& out, const DatabaseImage& image) {
  if (!HasImageMagic(image)) return kWriteInvalidImage;
  ImagePrinter(image, out).Print();
  return kWriteOk;
}

int WriteFactoryText(std::ostream& out) { return WriteFactoryText(out, GetDatabaseImage()); }

}  // namespace torvix
