#include "common/cli/output.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "common/exit_codes.h"
#include "common/write_all.h"

namespace common::cli {

std::string OwnLine(std::string_view program, std::string_view text) {
  std::string line(program);
  line += ": ";
  line += text;
  return line;
}

std::string FileError(std::string_view program, std::string_view file, std::string_view reason) {
  std::string text(file);
  text += ": ";
  text += reason;
  return OwnLine(program, text);
}

int WriteAll(int fd, std::string_view text) { return common::WriteAll(fd, text.data(), text.size()); }

int ReportOutputError(std::FILE* err, std::string_view program, int error) {
  const std::string line = FileError(program, kStandardOutputName, std::strerror(error)) + "\n";
  std::fputs(line.c_str(), err);
  std::fflush(err);
  return kExitFile;
}

GatheredOutput::GatheredOutput() : file_(::open_memstream(&buffer_, &size_)) {}

GatheredOutput::~GatheredOutput() {
  if (file_ != nullptr) std::fclose(file_);
  std::free(buffer_);
}

int GatheredOutput::Deliver(int fd, std::FILE* err, std::string_view program) {
  if (file_ == nullptr) return kExitOk;
  const bool complete = std::fflush(file_) == 0 && !std::ferror(file_);
  const int error = complete ? WriteAll(fd, std::string_view(buffer_ == nullptr ? "" : buffer_, size_)) : ENOMEM;
  std::fclose(file_);
  file_ = nullptr;
  return error == 0 ? kExitOk : ReportOutputError(err, program, error);
}

std::optional<int> ComNumber(std::string_view text) {
  if (text.size() > 3 && (text[0] == 'C' || text[0] == 'c') && (text[1] == 'O' || text[1] == 'o') &&
      (text[2] == 'M' || text[2] == 'm')) {
    text.remove_prefix(3);
  }
  if (text.empty() || text.size() > 4 || text[0] == '0') return std::nullopt;
  int number = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  return number;
}

std::string UnknownSubcommand(std::string_view program, const std::vector<std::string>& args,
                              const std::vector<std::string>& known) {
  for (const std::string& arg : args) {
    if (arg.empty() || arg[0] == '-') continue;
    for (const std::string& name : known) {
      if (arg == name) return "";
    }
    std::string names;
    for (const std::string& name : known) names += (names.empty() ? "" : ", ") + name;
    return FileError(program, arg, "unknown subcommand; the subcommands are " + names);
  }
  return "";
}

}  // namespace common::cli
