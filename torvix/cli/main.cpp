// torvix-cli: the link tool's command-line front end.
#include <CLI/CLI.hpp>

#include <string>

#include "torvix/cli/receiver_commands.h"

int main(int argc, char** argv) {
  CLI::App app{"TORVIX command line: talk to a receiver over a serial line"};
  app.require_subcommand(1);
  int exitCode = 0;
  torvix::cli::ReceiverCommandSettings settings;
  const std::string self = argc > 0 ? argv[0] : "TORVIX";
  settings.programName = self.substr(self.find_last_of('/') + 1);
  torvix::cli::AddReceiverCommands(app, exitCode, settings);
  CLI11_PARSE(app, argc, argv);
  return exitCode;
}
