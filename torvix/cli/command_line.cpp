#include "torvix/cli/command_line.h"

#include <algorithm>
#include <iostream>
#include <sstream>

#include <unistd.h>

namespace torvix::cli {

namespace {
constexpr const char* kProgram = kProgramName;
}  // namespace

int RunCommandLine(CLI::App& app, int argc, char** argv, const CommandOutcome& outcome,
                   common::cli::GatheredOutput* gathered) {
  std::vector<std::string> known;
  for (const CLI::App* sub : app.get_subcommands({})) known.push_back(sub->get_name());
  const std::string unknown =
      common::cli::UnknownSubcommand(kProgram, std::vector<std::string>(argv + std::min(argc, 1), argv + argc), known);
  if (!unknown.empty()) {
    std::cerr << unknown << '\n';
    return common::kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Prints the help text, or the error and a hint, as CLI11 words them.
    std::ostringstream help;
    const int code = app.exit(error, help, std::cerr);
    if (const int failed = common::cli::WriteAll(STDOUT_FILENO, help.str()); failed != 0) {
      return common::cli::ReportOutputError(stderr, kProgram, failed);
    }
    return code == 0 ? common::kExitOk : common::kExitUsage;
  }
  if (gathered != nullptr) {
    const int delivered = gathered->Deliver(STDOUT_FILENO, stderr, kProgram);
    if (delivered != common::kExitOk) return delivered;
  }
  return outcome.exitCode;
}

}  // namespace torvix::cli
