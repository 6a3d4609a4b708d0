// One protocol's subcommand of receiver-emulator: the CLI11 subcommand it
// registered and what runs when that subcommand was chosen; and the parsing
// of the command line, whose faults end the program with the exit codes of
// the shared table (common/exit_codes.h).  Main thread; nothing blocks.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>

#include <CLI/CLI.hpp>

namespace emulator {

struct Command {
  CLI::App* subcommand = nullptr;
  std::function<int()> run;  // returns the process's exit code
};

// Checks for options that name a file or a folder that must exist.  They
// say what CLI11's own checks say ("File does not exist: PATH"), and note
// that they failed, so that the exit code can tell a missing file from a
// wrong command line.  Copies share what they noted.
class PathChecks {
 public:
  CLI::Validator ExistingFile() const;
  CLI::Validator ExistingDirectory() const;
  // Whether a check has failed.
  bool Failed() const { return *failed_; }

 private:
  std::shared_ptr<bool> failed_ = std::make_shared<bool>(false);
};

// Parses the command line.  None when the program goes on; else the exit
// code, after CLI11 has printed what it prints: 0 after --help or
// --version, common::kExitFile when a named file or folder is missing,
// common::kExitUsage for any other fault of the command line.
std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv, const PathChecks& paths);

// Runs the command whose subcommand the command line chose;
// common::kExitUsage when none.
int RunChosen(const std::initializer_list<Command>& commands);

}  // namespace emulator
