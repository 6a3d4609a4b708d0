// `receiver-emulator link PATH ...`: plays a receiver on TORVIX's link
// protocol at PATH (a symbolic link to a fresh pseudo-terminal) until
// interrupted.
#pragma once

#include <CLI/CLI.hpp>

#include "emulator/core/command.h"

namespace emulator {

// Registers the subcommand on `app`; the returned command runs it.
Command AddLinkCommand(CLI::App& app);

}  // namespace emulator
