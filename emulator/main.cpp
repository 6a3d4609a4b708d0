// receiver-emulator: plays a receiver's side of the serial protocols on a
// pseudo-terminal, one protocol per subcommand.
#include <CLI/CLI.hpp>

#include "emulator/core/command.h"
#include "emulator/link/link_command.h"

int main(int argc, char** argv) {
  CLI::App app{"Receiver emulator: a receiver on a pseudo-terminal, reachable at a path of your choice"};
  app.require_subcommand(1);
  const emulator::Command link = emulator::AddLinkCommand(app);
  CLI11_PARSE(app, argc, argv);
  return emulator::RunChosen({link});
}
