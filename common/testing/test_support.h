// What the test folders share: a temporary folder that goes away with the
// test, waiting for a condition against a deadline, whole-file reads and
// writes, CSV records, and a USB-serial adapter in a made-up device tree.  Pseudo-terminal pairs are common/pty.h; a link receiver served on
// a thread is emulator/link/served_receiver.h.  For tests and benchmarks
// only; any thread unless said otherwise.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace common::testing {

// A new, empty folder below the system's temporary folder (TMPDIR or /tmp),
// named "<prefix>-XXXXXX"; removed with all it holds on destruction.  Ok() is
// false (and Path() empty) when it could not be made.
class TempFolder {
 public:
  explicit TempFolder(std::string_view prefix = "rt-test");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  bool Ok() const { return !path_.empty(); }
  const std::filesystem::path& Path() const { return path_; }
  // Path() / name, as a string for the APIs that take one.
  std::string operator/(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// True as soon as `done` returns true, false once `limit` has passed on the
// steady clock without it.  Asks every few milliseconds; blocks the caller
// for at most `limit` plus one call of `done`.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20));

// The whole file as bytes, or empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
// Replaces `path` with `contents` (making its folder); false on any failure.
bool WriteFile(const std::filesystem::path& path, std::string_view contents);

// The records of an RFC 4180 text (the history's CSV): fields parted by
// commas, quoted ones with "" for a quote and line breaks kept; a record
// ends at CRLF or LF.
std::vector<std::vector<std::string>> ParseCsv(std::string_view text);

// A USB-serial adapter under `root` (its sys/ and dev/) as the kernel and
// udev show one (FTDI FT232R, serial A1B2C3), its by-id name leading to
// `line`, an existing device (a pseudo-terminal: the kernel's name of it is
// what the tree tells about); returns that by-id name.
std::string PlugUsbAdapter(const std::filesystem::path& root, const std::string& line);

}  // namespace common::testing
