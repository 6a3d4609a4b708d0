// torvix-cli: the link tool's command-line front end.
#include "torvix/cli/command_line.h"
#include "torvix/cli/database_commands.h"

int main(int argc, char** argv) {
  CLI::App app{"TORVIX command line: factory-data text and receiver database images."};
  app.require_subcommand(1);
  torvix::cli::CommandOutcome outcome;
  torvix::cli::AddDatabaseCommands(app, outcome);
  return torvix::cli::RunCommandLine(app, argc, argv, outcome);
}
