#include "torvix/cli/database_commands.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/replacing_file.h"
#include "torvix/database/database_image.h"
#include "torvix/database/factory_text_reader.h"
#include "torvix/database/factory_text_writer.h"

namespace torvix::cli {

namespace {

constexpr char kInvalidImageMessage[] = "Factory data of the receiver is not valid.";

int FileError(std::ostream& err, const std::string& text) {
  err << "torvix-cli: " << text << '\n';
  return common::kExitFile;
}

std::string SystemError(const std::string& path) { return path + ": " + std::strerror(errno); }

}  // namespace

int CompileCommand(const std::string& textPath, const std::string& imagePath, std::ostream& err) {
  std::ifstream in(textPath, std::ios::binary);
  if (!in) return FileError(err, SystemError(textPath));
  StreamByteSource raw(in);
  DosTextSource text(raw);
  const int result = ReadFactoryText(text);
  if (result != FT_OK) {
    const std::string& message = GetFactoryTextMessage();
    err << message;
    if (message.empty() || message.back() != '\n') err << '\n';
    // The reader's own result code (1 to 9) would overlap the table's codes.
    return common::kExitRefused;
  }
  const DatabaseImage& image = GetDatabaseImage();
  std::string error;
  if (!common::ReplaceFile(imagePath, {reinterpret_cast<const char*>(image.Data()), DatabaseImage::kSize}, error)) {
    return FileError(err, error);
  }
  return common::kExitOk;
}

int PrintCommand(const std::string& imagePath, const std::string& textPath, std::ostream& err) {
  std::ifstream in(imagePath, std::ios::binary);
  if (!in) return FileError(err, SystemError(imagePath));
  DatabaseImage& image = GetDatabaseImage();
  in.read(reinterpret_cast<char*>(image.Data()), DatabaseImage::kSize);
  const std::streamsize size = in.gcount();
  if (in.bad()) return FileError(err, imagePath + ": read error");
  if (size != static_cast<std::streamsize>(DatabaseImage::kSize) || in.peek() != std::char_traits<char>::eof()) {
    err << "torvix-cli: " << imagePath << ": not a database image (an image has " << DatabaseImage::kSize
        << " bytes)\n";
    return common::kExitInvalidImage;
  }
  std::ostringstream text;
  if (WriteFactoryText(text) != 0) {
    err << kInvalidImageMessage << '\n';
    return common::kExitInvalidImage;
  }
  std::string error;
  if (!common::ReplaceFile(textPath, text.str(), error)) return FileError(err, error);
  return common::kExitOk;
}

namespace {

// A subcommand that reads one file and writes another.
struct FileCommand {
  const char* name;
  const char* description;
  const char* footer;
  const char* inputName;
  const char* inputHelp;
  const char* outputName;
  const char* outputHelp;
  int (*run)(const std::string& input, const std::string& output, std::ostream& err);
};

void AddFileCommand(CLI::App& app, CommandOutcome& outcome, const FileCommand& command) {
  auto* sub = app.add_subcommand(command.name, command.description);
  sub->footer(command.footer);
  auto paths = std::make_shared<std::pair<std::string, std::string>>();
  sub->add_option(command.inputName, paths->first, command.inputHelp)->required()->type_name("FILE");
  sub->add_option(command.outputName, paths->second, command.outputHelp)->required()->type_name("FILE");
  sub->callback([paths, run = command.run, &outcome] { outcome.exitCode = run(paths->first, paths->second, std::cerr); });
}

}  // namespace

void AddDatabaseCommands(CLI::App& app, CommandOutcome& outcome) {
  AddFileCommand(app, outcome,
                 {"compile", "Compile a factory-data text file into a database image",
                  "Reads TEXT (DOS text) and writes the 131072-byte receiver database image to IMAGE, which is\n"
                  "replaced only on success.\n"
                  "Exit codes: 0 done; 2 wrong command line; 3 the text was refused (the message names the line);\n"
                  "10 a file could not be read or written.",
                  "TEXT", "factory-data text file to read", "IMAGE", "database image file to write", CompileCommand});
  AddFileCommand(app, outcome,
                 {"print", "Print a database image as a factory-data text file",
                  "Reads the 131072-byte receiver database image IMAGE and writes it as DOS text to TEXT, which is\n"
                  "replaced only when the whole text was written.\n"
                  "Exit codes: 0 done; 2 wrong command line; 6 the image is not valid; 10 a file could not be read\n"
                  "or written.",
                  "IMAGE", "database image file to read", "TEXT", "factory-data text file to write", PrintCommand});
}

}  // namespace torvix::cli
