// receiver-emulator: plays a receiver's side of the serial protocols on a
// pseudo-terminal, one protocol per subcommand.
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "common/build_version.h"
#include "emulator/core/command.h"
#include "emulator/link/link_command.h"
#include "emulator/token/token_command.h"

int main(int argc, char** argv) {
  CLI::App app{"Plays a satellite receiver on a pseudo-terminal, reachable at a path of your choice"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("receiver-emulator ") + common::kBuildVersion);
  const emulator::PathChecks paths;
  const emulator::Command link = emulator::AddLinkCommand(app, paths);
  const emulator::Command updater = emulator::AddTokenCommand(app, paths);
  if (const std::optional<int> exitCode = emulator::ParseCommandLine(app, argc, argv, paths)) return *exitCode;
  return emulator::RunChosen({link, updater});
}
