// One protocol's subcommand of receiver-emulator: the CLI11 subcommand it
// registered and what runs when that subcommand was chosen.
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

namespace emulator {

struct Command {
  CLI::App* subcommand = nullptr;
  std::function<int()> run;  // returns the process's exit code
};

// Runs the command whose subcommand the command line chose; 2 when none.
inline int RunChosen(const std::initializer_list<Command>& commands) {
  for (const Command& c : commands) {
    if (c.subcommand != nullptr && c.subcommand->parsed()) return c.run();
  }
  return 2;
}

}  // namespace emulator
