// How both command lines word what they add to the system's texts, and how
// they make sure that what they print on standard output arrived.
//
//   torvix-cli: rom.bin: No such file or directory
//   updater-cli: standard output: No space left on device
//
// Pure functions and one small owner of a buffer; any thread, nothing blocks
// but the writes themselves.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace common::cli {

// "<program>: <file>: <reason>", the one form of a line the command line adds
// about a file (or a device, or "standard output"); no line feed.
std::string FileError(std::string_view program, std::string_view file, std::string_view reason);
// "<program>: <text>", for a line whose text names its file already
// ("rom.bin: the file has 1000 bytes, ..."); no line feed.
std::string OwnLine(std::string_view program, std::string_view text);

// What names standard output in such a line.
inline constexpr std::string_view kStandardOutputName = "standard output";

// Writes all of `text` to descriptor `fd`, again after EINTR and after a short
// write.  0, or the errno of the write that failed.  Blocks as the descriptor
// does.
int WriteAll(int fd, std::string_view text);

// The line for a standard output that could not be written (`error` is an
// errno value) on `err`; returns common::kExitFile.
int ReportOutputError(std::FILE* err, std::string_view program, int error);

// A command's report gathered in memory (open_memstream) and handed to
// standard output whole at the end, so that a failed write is seen with its
// reason.  For the commands that need no receiver; the receiver commands
// write as they go and watch every write themselves.  One thread.
class GatheredOutput {
 public:
  GatheredOutput();
  ~GatheredOutput();
  GatheredOutput(const GatheredOutput&) = delete;
  GatheredOutput& operator=(const GatheredOutput&) = delete;

  // The stream to print into; null when no memory could be had, in which
  // case the caller prints to standard output directly.
  std::FILE* File() const { return file_; }
  // Writes what was gathered to `fd`: 0 when it arrived (or there was
  // nothing), else the line on `err` and common::kExitFile.  Once.
  int Deliver(int fd, std::FILE* err, std::string_view program);

 private:
  std::FILE* file_ = nullptr;
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace common::cli

namespace common::cli {

// The exit codes as both command lines' --help shows them (common/exit_codes.h).
inline constexpr const char* kExitCodesHelp =
    "Exit codes: 0 done; 1 the exchange with the receiver failed; 2 wrong command line; 3 refused (ROM image,\n"
    "hardware, access code, text, file); 4 the port did not open; 5 a question was not accepted; 6 a database\n"
    "image that is not valid; 10 a file or standard output could not be read or written; 130 stopped (Ctrl-C,\n"
    "SIGTERM, SIGHUP, or standard output closed).";

// The number n of a COM port given as "COMn" (any case) or as "n"; none for
// anything else.  Which numbers a program takes is its own.
std::optional<int> ComNumber(std::string_view text);

// The line for a first argument that names no subcommand of `known`
// ("torvix-cli: frobnicate: unknown subcommand; ..."), empty when the first
// argument that is not an option names one, or there is none.
std::string UnknownSubcommand(std::string_view program, const std::vector<std::string>& args,
                              const std::vector<std::string>& known);

}  // namespace common::cli
