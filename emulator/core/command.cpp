#include "emulator/core/command.h"

#include <string>

#include "common/exit_codes.h"

namespace emulator {
namespace {

// `check` with its name and text, noting in `failed` when it refuses a value.
CLI::Validator Noting(const CLI::Validator& check, const std::shared_ptr<bool>& failed) {
  return CLI::Validator(
      [check, failed](std::string& value) {
        std::string error = check(value);
        if (!error.empty()) *failed = true;
        return error;
      },
      check.get_description(), check.get_name());
}

}  // namespace

CLI::Validator PathChecks::ExistingFile() const { return Noting(CLI::ExistingFile, failed_); }

CLI::Validator PathChecks::ExistingDirectory() const { return Noting(CLI::ExistingDirectory, failed_); }

std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv, const PathChecks& paths) {
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::ParseError& error) {
    // Prints the help, the version or the fault; 0 for the first two.
    if (app.exit(error) == 0) return common::kExitOk;
    return paths.Failed() ? common::kExitFile : common::kExitUsage;
  }
}

int RunChosen(const std::initializer_list<Command>& commands) {
  for (const Command& c : commands) {
    if (c.subcommand != nullptr && c.subcommand->parsed()) return c.run();
  }
  return common::kExitUsage;
}

}  // namespace emulator
