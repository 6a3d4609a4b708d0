// The database subcommands of torvix-cli:
//   compile TEXT IMAGE  compiles a factory-data text file into a 131072-byte image
//                       and says what the list holds; exit 0, or
//                       common::kExitRefused with the reader's message on standard
//                       error behind the file and line ("TEXT:30: * Error : line 30. ...").
//   print IMAGE TEXT    prints an image as a factory-data text file; exit 0, or
//                       common::kExitInvalidImage when the image is not valid.
// A file that cannot be opened, read or written (a folder, a missing or
// unreadable file, a full device) exits with common::kExitFile and
// "torvix-cli: FILE: reason".  The output file is replaced only when its
// whole new contents were written; a device or pipe is written straight.
// Caller's thread; blocks on the files only.
#pragma once

#include <ostream>
#include <string>

#include "torvix/cli/command_line.h"

namespace torvix::cli {

void AddDatabaseCommands(CLI::App& app, CommandOutcome& outcome);

// The two commands themselves; their report goes to `out`, messages to `err`.
int CompileCommand(const std::string& textPath, const std::string& imagePath, std::ostream& out, std::ostream& err);
int PrintCommand(const std::string& imagePath, const std::string& textPath, std::ostream& out, std::ostream& err);

}  // namespace torvix::cli
