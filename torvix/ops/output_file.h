// A file the operator named for a command's output.  A regular file (or a
// new one) is replaced only when its whole new contents were written
// (common::ReplacingFile); a device or a pipe that is there (/dev/stdout, a
// FIFO, /dev/full) cannot be replaced and is written straight, so that a
// failed write says what the device said.  Every error is "path: reason",
// the system's text.  POSIX; blocks on the file system; one thread per object.
#pragma once

#include <string>
#include <string_view>

#include "common/replacing_file.h"

namespace torvix {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // an uncommitted file is discarded, the chosen one left as it was
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Checks that `path` can be written and gets it ready; false with Error().
  bool Create(const std::string& path);
  bool Write(std::string_view bytes);
  // Puts the contents in place (a regular file) or closes the device; false
  // with Error() when that fails.
  bool Commit();
  const std::string& Error() const { return error_; }

 private:
  bool Fail(int error);

  common::ReplacingFile replacing_;
  int device_ = -1;  // a device or pipe written straight; -1: the replacing file
  std::string path_;
  std::string error_;
};

// Makes `path` hold exactly `contents`; false with `error` ("path: reason").
bool WriteOutputFile(const std::string& path, std::string_view contents, std::string& error);

}  // namespace torvix
