// Files of the workers: the settings or software file read whole or in
// pieces, and a received settings file that replaces the chosen one only
// once it is complete.  Worker thread only; every descriptor is closed on
// every path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/replacing_file.h"

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
  // Why the latest Open or Read failed, naming the file.
  const std::string& Error() const { return error_; }

 private:
  bool Fail(int error);

  int fd_ = -1;
  std::string path_;
  std::string error_;
};

// The received settings go through a file that replaces the chosen one only
// once the reception is complete.
using ReplacingFile = common::ReplacingFile;

}  // namespace updater
