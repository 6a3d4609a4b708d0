// A file the operator named, opened for reading as a stream for the readers
// that take one (the factory-data text, a database image).  A read error
// ends the stream as the end of the file would, never with an exception,
// and is kept: a caller checks Failed() before trusting what it read.
// POSIX; blocks on the file system; one thread per object.
#pragma once

#include <istream>
#include <streambuf>
#include <string>

namespace torvix {

class InputFile {
 public:
  InputFile() : stream_(&buffer_) {}
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens `path`; false when it cannot be opened or is a folder (Error()
  // says why).
  bool Open(const std::string& path);
  // The file's bytes from the start (binary); empty before Open().
  std::istream& Stream() { return stream_; }
  // True once a read of the file failed.
  bool Failed() const { return buffer_.error != 0; }
  // "path: reason", the system's text of the failure.
  std::string Error() const;

 private:
  struct Buffer : std::streambuf {
    int fd = -1;
    int error = 0;  // errno of the failed open or read
    char bytes[4096];
    // Forgets what was read before.
    void Restart() {
      error = 0;
      setg(nullptr, nullptr, nullptr);
    }
    int_type underflow() override;
  };
  std::string path_;
  Buffer buffer_;
  std::istream stream_;
};

}  // namespace torvix
