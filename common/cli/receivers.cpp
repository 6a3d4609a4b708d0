#include "common/cli/receivers.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace common::cli {

std::string ShortName(const std::string& portOrDevice) {
  const std::filesystem::path path(portOrDevice);
  const std::string name = path.filename().string();
  return name.empty() ? path.parent_path().filename().string() : name;
}

std::string WithShortName(const std::string& file, const std::string& shortName) {
  const std::filesystem::path path(file);
  const std::string name = path.filename().string();
  const std::string extension = path.extension().string();
  const std::string stem = name.substr(0, name.size() - extension.size());
  return (path.parent_path() / (stem + "-" + shortName + extension)).string();
}

std::optional<std::string> ReceiverClash(const std::vector<std::string>& portsOrDevices) {
  for (std::size_t i = 0; i < portsOrDevices.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (portsOrDevices[i] == portsOrDevices[j]) return portsOrDevices[i] + " is given twice";
      if (ShortName(portsOrDevices[i]) == ShortName(portsOrDevices[j])) {
        return portsOrDevices[j] + " and " + portsOrDevices[i] + " have the same short name \"" +
               ShortName(portsOrDevices[i]) + "\", which keeps their files apart: use names that differ";
      }
    }
  }
  return std::nullopt;
}

std::string SummaryTable(const std::vector<ReceiverResult>& results) {
  std::size_t width = 6;
  for (const ReceiverResult& r : results) width = std::max(width, r.device.size());
  char row[64];
  std::string table = "device" + std::string(width - 6 + 2, ' ');
  std::snprintf(row, sizeof row, "%-16s %9s %5s\n", "result", "seconds", "exit");
  table += row;
  for (const ReceiverResult& r : results) {
    table += r.device + std::string(width - r.device.size() + 2, ' ');
    std::snprintf(row, sizeof row, "%-16s %9.2f %5d\n", ResultWord(r.exitCode), r.seconds, r.exitCode);
    table += row;
  }
  return table;
}

int OverallExitCode(const std::vector<ReceiverResult>& results) {
  for (const ReceiverResult& r : results) {
    if (r.exitCode != 0) return r.exitCode;
  }
  return 0;
}

}  // namespace common::cli
