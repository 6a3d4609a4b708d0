#include "torvix/cli/command_line.h"

namespace torvix::cli {

int RunCommandLine(CLI::App& app, int argc, char** argv, const CommandOutcome& outcome) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Prints the help text, or the error and a hint, as CLI11 words them.
    const int code = app.exit(error);
    return code == 0 ? common::kExitOk : common::kExitUsage;
  }
  return outcome.exitCode;
}

}  // namespace torvix::cli
