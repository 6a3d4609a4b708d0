#include "torvix/cli/database_commands.h"

#include <iostream>
#include <sstream>

#include "common/cli/output.h"
#include "torvix/cli/program_name.h"
#include "torvix/database/database_image.h"
#include "torvix/database/factory_text_reader.h"
#include "torvix/database/factory_text_writer.h"
#include "torvix/database/records.h"
#include "torvix/ops/factory_report.h"
#include "torvix/ops/input_file.h"
#include "torvix/ops/output_file.h"

namespace torvix::cli {

namespace {

constexpr char kInvalidImageMessage[] = "Factory data of the receiver is not valid.";

// What torvix-cli says of its own, after the system's texts: "torvix-cli: FILE: reason".
void SayOwn(std::ostream& err, const std::string& text) { err << common::cli::OwnLine(kProgramName, text) << '\n'; }

int FileError(std::ostream& err, const std::string& text) {
  SayOwn(err, text);
  return common::kExitFile;
}

}  // namespace

int CompileCommand(const std::string& textPath, const std::string& imagePath, std::ostream& out, std::ostream& err) {
  InputFile in;
  if (!in.Open(textPath)) return FileError(err, in.Error());
  StreamByteSource raw(in.Stream());
  DosTextSource text(raw);
  const int result = ReadFactoryText(text);
  if (in.Failed()) return FileError(err, in.Error());
  if (result != FT_OK) {
    // The reader's message as it is, behind the file and line it is about.
    std::string message = TextErrorAt(textPath, GetFactoryTextMessage());
    if (message.back() != '\n') message += '\n';
    err << message;
    // The reader's own result code (1 to 9) would overlap the table's codes.
    return common::kExitRefused;
  }
  const DatabaseImage& image = GetDatabaseImage();
  std::string error;
  if (!WriteOutputFile(imagePath, {reinterpret_cast<const char*>(image.Data()), DatabaseImage::kSize}, error)) {
    return FileError(err, error);
  }
  out << textPath << ": " << FactoryListText(FactoryListOf(image.Data())) << '\n';
  return out.flush() ? common::kExitOk : common::kExitFile;
}

int PrintCommand(const std::string& imagePath, const std::string& textPath, std::ostream&, std::ostream& err) {
  InputFile in;
  if (!in.Open(imagePath)) return FileError(err, in.Error());
  DatabaseImage& image = GetDatabaseImage();
  in.Stream().read(reinterpret_cast<char*>(image.Data()), DatabaseImage::kSize);
  const std::streamsize size = in.Stream().gcount();
  const bool longer = in.Stream().peek() != std::char_traits<char>::eof();
  if (in.Failed()) return FileError(err, in.Error());
  if (size != static_cast<std::streamsize>(DatabaseImage::kSize) || longer) {
    SayOwn(err, imagePath + ": not a database image (an image has " + std::to_string(DatabaseImage::kSize) +
                    " bytes)");
    return common::kExitInvalidImage;
  }
  std::ostringstream text;
  if (WriteFactoryText(text) != 0) {
    err << kInvalidImageMessage << '\n';
    SayOwn(err, imagePath + ": not a database image (it does not begin with \"" +
                    std::string(kImageMagic) + "\")");
    return common::kExitInvalidImage;
  }
  std::string error;
  if (!WriteOutputFile(textPath, text.str(), error)) return FileError(err, error);
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
  int (*run)(const std::string& input, const std::string& output, std::ostream& out, std::ostream& err);
};

void AddFileCommand(CLI::App& app, CommandOutcome& outcome, const FileCommand& command) {
  auto* sub = app.add_subcommand(command.name, command.description);
  sub->footer(command.footer);
  auto paths = std::make_shared<std::pair<std::string, std::string>>();
  sub->add_option(command.inputName, paths->first, command.inputHelp)->required()->type_name("FILE");
  sub->add_option(command.outputName, paths->second, command.outputHelp)->required()->type_name("FILE");
  sub->callback([paths, run = command.run, &outcome] { outcome.exitCode = run(paths->first, paths->second, std::cout, std::cerr); });
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
