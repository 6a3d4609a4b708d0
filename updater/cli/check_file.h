// updater-cli check FILE: every check an operation makes of a file before it
// needs a receiver, and what the file holds and costs on the line.
//   .wsw  signature, header's record count, each record's size, what the
//         update would stop at, the line time at 115200 bit/s
//   .wdb  size, block count, base address, the line time at the chosen rate
// Exits as the operation would refuse the file: 3 refused, 10 unreadable.
// Caller's thread; reads the file whole.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace updater::cli {

int CheckFile(const std::string& path, std::uint32_t baud, std::FILE* out, std::FILE* err);

// Why an update would refuse or fail on the software file at `path`, as
// check says it: common::kExitRefused with the reason (no 55 AA, a record
// cut short or too long), common::kExitFile when it cannot be read; none
// when the update can go through it.  Caller's thread; reads the file whole.
struct Refusal {
  int code;
  std::string reason;  // names the file
};
std::optional<Refusal> SoftwareFileRefusal(const std::string& path);

}  // namespace updater::cli
