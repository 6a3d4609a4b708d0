#include "torvix/ops/input_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvix {

InputFile::~InputFile() {
  if (buffer_.fd >= 0) ::close(buffer_.fd);
}

bool InputFile::Open(const std::string& path) {
  if (buffer_.fd >= 0) ::close(buffer_.fd);
  path_ = path;
  buffer_.Restart();
  stream_.clear();
  buffer_.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (buffer_.fd < 0) {
    buffer_.error = errno;
    return false;
  }
  struct stat st {};
  if (::fstat(buffer_.fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    buffer_.error = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(buffer_.fd);
    buffer_.fd = -1;
    return false;
  }
  return true;
}

std::string InputFile::Error() const { return path_ + ": " + std::strerror(buffer_.error); }

InputFile::Buffer::int_type InputFile::Buffer::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (fd < 0 || error != 0) return traits_type::eof();
  for (;;) {
    const ssize_t n = ::read(fd, bytes, sizeof bytes);
    if (n > 0) {
      setg(bytes, bytes, bytes + n);
      return traits_type::to_int_type(*gptr());
    }
    if (n == 0) return traits_type::eof();
    if (errno != EINTR) {
      error = errno;
      return traits_type::eof();
    }
  }
}

}  // namespace torvix
