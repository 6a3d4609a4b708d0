// torvix-cli's commands that talk to a receiver: connect, read-user-data,
// write-factory-data and upgrade (with --backup TEXT: read-user-data into
// TEXT first, and no upgrade unless that completed).  Each runs the link
// tool's operation through a console, on a thread of the shared runner
// (common/cli/runner.h), which owns the stop signals.  Ctrl-C is the Cancel
// button: an upgrade asks first when its input is a terminal, and stops at
// once without one; SIGTERM, SIGHUP and a standard output that can no longer
// be written stop without the question.  Either way a running job tells the
// receiver to stop, and the run ends with a line that says it was stopped.
//
// --device and --port may be given several times: the operation then runs on
// every receiver at once, each on a thread with its own port, prefixed lines
// instead of a bar, the files it writes (read-user-data's TEXT, --backup,
// --trace) with the receiver's short name before their extension, and a
// summary table at the end; the exit code is 0 when all succeeded, else the
// first failure's (in the order given).  Ctrl-C stops them all, and an
// upgrade asks once for all.  --json prints events (common/cli/events.h) on
// standard output and the human text on standard error; --trace FILE writes
// every frame exchanged (common/trace_file.h).  Each operation is recorded in
// the service history (--history PATH, --no-history, --unit ID, RT_HISTORY;
// common/cli/history_command.h); a history that cannot be written says so in
// one line on standard error and changes no exit code.
#pragma once

#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "common/cli/history_command.h"
#include "common/cli/output.h"
#include "torvix/cli/program_name.h"
#include "torvix/ops/operations.h"

namespace torvix::cli {

// The exit codes, as the commands' help shows them: the table both command lines share.
inline constexpr const char* kReceiverExitCodesHelp = common::cli::kExitCodesHelp;

struct ReceiverCommandSettings {
  std::string programName = "TORVIX";  // caption of the boxes
  LinkTimings timings;                 // production values unless a test shortens them
  FactoryText* factoryText = nullptr;  // needed by read-user-data and write-factory-data
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  std::FILE* in = stdin;                // answers questions when it is a terminal
  std::string programTitle = kProgramName;  // named in the trace files' heading and the history's rows
  // Where RT_HISTORY and the default history file are read from (std::getenv
  // in the program); empty: only --history PATH records.
  common::cli::Environment environment;
};

// Registers the commands on `app`.  The command that runs stores its exit
// code in `exitCode`, which must outlive the parse.  read-user-data and
// write-factory-data are registered only with a FactoryText.
void AddReceiverCommands(CLI::App& app, int& exitCode, const ReceiverCommandSettings& settings);

}  // namespace torvix::cli
