// The database subcommands of torvix-cli:
//   compile TEXT IMAGE  compiles a factory-data text file into a 131072-byte image;
//                       exit 0, or common::kExitRefused with the reader's
//                       message (which names the line) on standard error.
//   print IMAGE TEXT    prints an image as a factory-data text file; exit 0, or
//                       common::kExitInvalidImage when the image is not valid.
// A file that cannot be opened, read or written exits with common::kExitFile.
// The output file is replaced only when its whole new contents were written.
#pragma once

#include <ostream>
#include <string>

#include "torvix/cli/command_line.h"

namespace torvix::cli {

void AddDatabaseCommands(CLI::App& app, CommandOutcome& outcome);

// The two commands themselves; messages go to `err`.
int CompileCommand(const std::string& textPath, const std::string& imagePath, std::ostream& err);
int PrintCommand(const std::string& imagePath, const std::string& textPath, std::ostream& err);

}  // namespace torvix::cli
