// The frame of torvix-cli: subcommands register on one CLI::App and leave
// their exit code in a CommandOutcome; RunCommandLine parses and returns it.
#pragma once

#include <CLI/CLI.hpp>

namespace torvix::cli {

// Exit codes shared by all subcommands (a subcommand may add its own).
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;       // the command line itself was wrong
inline constexpr int kExitFileError = 10;  // a file could not be opened, read or written

// Set by the subcommand that ran.
struct CommandOutcome {
  int exitCode = kExitOk;
};

// Parses the arguments, which runs the chosen subcommand's callback, and
// returns its exit code: 0 after --help, kExitUsage (with a line on standard
// error) when the arguments do not parse.
int RunCommandLine(CLI::App& app, int argc, char** argv, const CommandOutcome& outcome);

}  // namespace torvix::cli
