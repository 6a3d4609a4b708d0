#include "torvix/cli/database_commands.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "torvix/cli/file_output.h"
#include "torvix/database/database_image.h"
#include "torvix/database/factory_text_reader.h"
#include "torvix/database/factory_text_writer.h"

namespace torvix::cli {

namespace {

constexpr char kInvalidImageMessage[] = "Factory data of the receiver is not valid.";

int FileError(std::ostream& err, const std::string& text) {
  err << "torvix-cli: " << text << '\n';
  return kExitFileError;
}

std::string SystemError(const std::string& path) { return path + ": " + std::strerror(errno); }

}  // namespace

int CompileCommand(const std::string& textPath, const std::string& imagePath, std::ostream& err) {
  std::ifstream in(textPath, std::ios::binary);
  if (!in) return FileError(err, SystemError(textPath));
  StreamByteSource raw(in);
  DosTextSource text(raw);
  const int result = ReadFactoryText(text);
  if (in.bad()) return FileError(err, textPath + ": read error");
  if (result != FT_OK) {
    const std::string& message = GetFactoryTextMessage();
    err << message;
    if (message.empty() || message.back() != '\n') err << '\n';
    return result;
  }
  const DatabaseImage& image = GetDatabaseImage();
  std::string error;
  if (!ReplaceFile(imagePath, {reinterpret_cast<const char*>(image.Data()), DatabaseImage::kSize}, error)) {
    return FileError(err, error);
  }
  return kExitOk;
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
    return kExitInvalidImage;
  }
  std::ostringstream text;
  if (WriteFactoryText(text) != 0) {
    err << kInvalidImageMessage << '\n';
    return kExitInvalidImage;
  }
  std::string error;
  if (!ReplaceFile(textPath, text.str(), error)) return FileError(err, error);
  return kExitOk;
}

void AddDatabaseCommands(CLI::App& app, CommandOutcome& outcome) {
  auto* compile = app.add_subcommand(
      "compile",
      "Compile a factory-data text file into a 131072-byte receiver database image.\n"
      "Exit codes: 0 done; 1 to 9 the text was refused (the message tells the line); 2 also for a wrong\n"
      "command line; 10 a file could not be read or written.  IMAGE is replaced only on success.");
  auto compileArgs = std::make_shared<std::pair<std::string, std::string>>();
  compile->add_option("TEXT", compileArgs->first, "factory-data text file to read")->required();
  compile->add_option("IMAGE", compileArgs->second, "database image file to write")->required();
  compile->callback([compileArgs, &outcome] {
    outcome.exitCode = CompileCommand(compileArgs->first, compileArgs->second, std::cerr);
  });

  auto* print = app.add_subcommand(
      "print",
      "Print a receiver database image as a factory-data text file (DOS text).\n"
      "Exit codes: 0 done; 1 the image is not valid; 2 wrong command line; 10 a file could not be read\n"
      "or written.  TEXT is replaced only when the whole text was written.");
  auto printArgs = std::make_shared<std::pair<std::string, std::string>>();
  print->add_option("IMAGE", printArgs->first, "database image file to read")->required();
  print->add_option("TEXT", printArgs->second, "factory-data text file to write")->required();
  print->callback([printArgs, &outcome] {
    outcome.exitCode = PrintCommand(printArgs->first, printArgs->second, std::cerr);
  });
}

}  // namespace torvix::cli
