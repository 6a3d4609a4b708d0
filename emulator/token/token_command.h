// The `updater` subcommand of receiver-emulator: plays the receiver's side of
// Updater's token protocol on a pseudo-terminal until the given number of
// sessions has run or the process is told to stop (SIGINT, SIGTERM).
#pragma once

#include <CLI/CLI.hpp>

#include "emulator/core/command.h"

namespace emulator {

// Registers the subcommand with its options on `app`, its file and folder
// options checked by `paths`; the returned command runs it (main thread) and
// gives the exit code: 0 when every session ran to its end, 1 otherwise;
// common::kExitFile when the image cannot be read, common::kExitUsage for
// options that do not fit together or an image too large to serve.
Command AddTokenCommand(CLI::App& app, const PathChecks& paths);

}  // namespace emulator
