// What both command lines share when one operation runs on several
// receivers at once: the receivers' short names, the files kept apart by
// them, the summary table and the overall exit code.  Pure functions, any
// thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/cli/events.h"

namespace common::cli {

// The short name of a receiver's port: "COM3" for a COM name, the last part
// of a device path ("ttyUSB0", "usb-FTDI_..._A1B2C3-if00-port0").
std::string ShortName(const std::string& portOrDevice);

// `file` with "-<shortName>" inserted before the extension of its last part:
// "backup/data.txt" and "ttyUSB0" give "backup/data-ttyUSB0.txt"; a name
// without an extension gets it at the end.
std::string WithShortName(const std::string& file, const std::string& shortName);

// None when every receiver can have its own port and files: otherwise the
// text that says which two clash (the same port twice, or two ports whose
// short names, and so whose files, would be the same).
std::optional<std::string> ReceiverClash(const std::vector<std::string>& portsOrDevices);

// The table printed after the receivers have ended, one row each:
//   device                  result             seconds  exit
//   /dev/ttyUSB0            done                 41.20     0
std::string SummaryTable(const std::vector<ReceiverResult>& results);

// 0 when every receiver succeeded, otherwise the exit code of the first one
// (in the order they were given) that did not.
int OverallExitCode(const std::vector<ReceiverResult>& results);

}  // namespace common::cli
