// torvix-cli: the link tool's command-line front end.
#include <string>

#include "common/build_version.h"
#include "common/cli/output.h"
#include "torvix/cli/command_line.h"
#include "torvix/cli/database_commands.h"
#include "torvix/cli/diff_command.h"
#include "torvix/cli/offline_commands.h"
#include "torvix/cli/receiver_commands.h"
#include "torvix/ops/database_factory_text.h"

int main(int argc, char** argv) {
  CLI::App app{"TORVIX command line: factory-data text, receiver database images, and the receiver itself."};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("torvix-cli ") + common::kBuildVersion);
  app.footer(torvix::cli::kReceiverExitCodesHelp);
  torvix::cli::CommandOutcome outcome;
  torvix::cli::AddDatabaseCommands(app, outcome);
  torvix::cli::AddDiffCommand(app, outcome);
  torvix::DatabaseFactoryText factoryText;
  torvix::cli::ReceiverCommandSettings receiver;
  const std::string self = argc > 0 ? argv[0] : "TORVIX";
  receiver.programName = self.substr(self.find_last_of('/') + 1);  // the boxes' caption
  receiver.factoryText = &factoryText;
  torvix::cli::AddReceiverCommands(app, outcome.exitCode, receiver);
  // What the commands without a receiver print is gathered and written
  // whole at the end, so that a standard output that fails is seen.
  common::cli::GatheredOutput gathered;
  torvix::cli::OfflineCommandSettings offline;
  if (gathered.File() != nullptr) offline.out = gathered.File();
  torvix::cli::AddOfflineCommands(app, outcome.exitCode, offline);
  return torvix::cli::RunCommandLine(app, argc, argv, outcome, &gathered);
}
