// Files of the workers: the settings or software file read whole or in
// pieces, and a received settings file that replaces the chosen one only
// once it is complete.  Worker thread only; every descriptor is closed on
// every path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace updater {

class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens an existing regular file for reading; false when it cannot.
  bool Open(const std::string& path);
  bool Size(std::uint64_t& size) const;
  // Reads until `n` bytes came or the file ended; `got` tells how many.
  // False on a system error.
  bool Read(void* buffer, std::size_t n, std::size_t& got);
  void Close();

 private:
  int fd_ = -1;
};

// A file written next to `path` under a temporary name that takes the place
// of `path` on Commit().  Until then `path` stays exactly as it was; the
// temporary file is removed when the object goes without a commit.
class ReplacingFile {
 public:
  ReplacingFile() = default;
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Checks that `path` can be written (an existing file must be writable, a
  // new one creatable in its folder) and creates the temporary file.
  bool Create(const std::string& path);
  bool Write(const void* data, std::size_t n);
  // Flushes the temporary file to the disk and renames it over `path`,
  // keeping the permission bits of a file that was there.
  bool Commit();

 private:
  void Discard();

  int fd_ = -1;
  std::string path_;
  std::string tempPath_;
};

}  // namespace updater
