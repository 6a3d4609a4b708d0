// `receiver-emulator link PATH ...`: plays a receiver on TORVIX's link
// protocol at PATH (a symbolic link to a fresh pseudo-terminal) until
// interrupted.
#pragma once

#include <CLI/CLI.hpp>

#include "emulator/core/command.h"

namespace emulator {

// Registers the subcommand on `app`, its file options checked by `paths`;
// the returned command runs it (main thread, until interrupted) and gives
// the exit code: 0 after a stop, common::kExitUsage without a PATH,
// common::kExitFile when a file cannot be read or written, 1 when the line
// cannot be made.
Command AddLinkCommand(CLI::App& app, const PathChecks& paths);

}  // namespace emulator
