// The frame of torvix-cli: subcommands register on one CLI::App and leave
// their exit code in a CommandOutcome; RunCommandLine parses and returns it.
#pragma once

#include <CLI/CLI.hpp>

#include "common/cli/output.h"
#include "common/exit_codes.h"
#include "torvix/cli/program_name.h"

namespace torvix::cli {

// Set by the subcommand that ran; the codes are those of common/exit_codes.h.
struct CommandOutcome {
  int exitCode = common::kExitOk;
};

// Parses the arguments, which runs the chosen subcommand's callback, and
// returns its exit code: 0 after --help, common::kExitUsage (with a line on
// standard error) when the arguments do not parse or name no subcommand.
// What `gathered` (may be null) holds then goes to standard output; a
// standard output that cannot be written (--help, `gathered`) gives a line
// on standard error and common::kExitFile.  Main thread.
int RunCommandLine(CLI::App& app, int argc, char** argv, const CommandOutcome& outcome,
                   common::cli::GatheredOutput* gathered = nullptr);

}  // namespace torvix::cli
