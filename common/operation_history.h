// What a front end hands to the operations of either program so that each
// operation on a receiver leaves its row in the service history
// (common/history/history.h): the recorder, who records, and the unit.  The
// operations (torvix/ops, updater/transport) begin the row and finish it;
// the front ends only construct the Recorder and fill this in.
//
// Also the one mapping from the command lines' exit codes to the history's
// results, so that a window's run and a command line's run of the same
// outcome read alike.  No Qt; constant functions, any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/exit_codes.h"
#include "common/history/history.h"

namespace common {

struct OperationHistory {
  history::Recorder* recorder = nullptr;  // null: nothing is recorded; outlives every operation given it
  std::string program;                    // "torvix", "torvix-cli", "torvix-channels", "updater" or "updater-cli"
  std::string version;                    // common::kBuildVersion
  std::optional<std::string> unit;        // the receiver's label (--unit, the window's "Unit" field)
};

// The result column for an operation that ended with `exitCode` (the table
// of common/exit_codes.h): ok, refused (refused input, an image that is not
// valid), declined, stopped, else failed.
constexpr std::string_view HistoryResultFor(int exitCode) {
  switch (exitCode) {
    case kExitOk: return history::kOk;
    case kExitRefused:
    case kExitInvalidImage: return history::kRefused;
    case kExitDeclined: return history::kDeclined;
    case kExitStopped: return history::kStopped;
    default: return history::kFailed;
  }
}

// A box's text as one line of the history: line breaks and runs of blanks
// become one space, none at either end.
inline std::string ShownLine(std::string_view text) {
  std::string line;
  bool blank = false;
  for (const char c : text) {
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
      blank = !line.empty();
      continue;
    }
    if (blank) line += ' ';
    blank = false;
    line += c;
  }
  return line;
}

}  // namespace common
