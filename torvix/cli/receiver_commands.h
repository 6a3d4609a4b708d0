// torvix-cli's commands that talk to a receiver: connect, read-user-data,
// write-factory-data and upgrade.  Each runs the link tool's operation through
// a console; Ctrl-C is the Cancel button.
#pragma once

#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "torvix/ops/operations.h"

namespace torvix::cli {

// Exit codes of the receiver commands.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;          // the receiver exchange failed
inline constexpr int kExitRefused = 3;         // wrong ROM image, hardware, access code, or text refused
inline constexpr int kExitPortNotOpened = 4;   // the port did not open
inline constexpr int kExitDeclined = 5;        // a question was not accepted (--yes, --access-code)
inline constexpr int kExitFile = 10;           // a file could not be opened, read or written
inline constexpr int kExitStopped = 130;       // stopped with Ctrl-C

int ExitCodeFor(OperationResult result);

struct ReceiverCommandSettings {
  std::string programName = "TORVIX";  // caption of the boxes
  LinkTimings timings;                 // production values unless a test shortens them
  FactoryText* factoryText = nullptr;  // needed by read-user-data and write-factory-data
  std::FILE* out = stdout;
  std::FILE* in = stdin;
};

// Registers the commands on `app`.  The command that runs stores its exit
// code in `exitCode`, which must outlive the parse.  read-user-data and
// write-factory-data are registered only with a FactoryText.
void AddReceiverCommands(CLI::App& app, int& exitCode, const ReceiverCommandSettings& settings);

}  // namespace torvix::cli
