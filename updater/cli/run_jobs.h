// Runs one of Updater's operations for updater-cli, on one receiver or on
// several at once (one worker each, with its own port, console and files),
// through the command lines' shared runner (common/cli/runner.h), which
// answers the stop signals for all of them.
//
// Ctrl-C is the stop button: with a terminal to answer on, it asks the
// mode's question once (for all the receivers) and, on yes, asks every
// running operation to stop at its next safe point; without one it stops
// them at once.  SIGTERM, SIGHUP and output nobody reads any more stop them
// the same way without asking.
//
// Main thread only; blocks until every operation has ended.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "common/operation_history.h"
#include "updater/transport/workers.h"

namespace updater::cli {

// One receiver of a run.
struct Target {
  Job job;             // its file (already with its short name where that applies) and port
  std::string device;  // the device it opens: in events and the summary
  std::string prefix;  // before each of its lines, empty for a receiver alone
  std::string trace;   // its trace file, empty for none
  common::OperationHistory history{};  // where its operation is recorded
};

struct RunSettings {
  bool json = false;         // events on `out`, the rest on `err`
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  int input = 0;             // answers to the stop question, when a terminal
  bool terminal = false;     // `out` is a terminal: a bar for a receiver alone
  PortTimings timings;
};

// The exit code of the run: 0 when every receiver succeeded, else the first
// failure's (common/exit_codes.h).  Several receivers end with a summary table.
int RunJobs(Mode mode, const std::vector<Target>& targets, const RunSettings& settings);

}  // namespace updater::cli
