#include "updater/transport/file_io.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace updater {

InputFile::~InputFile() { Close(); }

bool InputFile::Fail(int error) {
  error_ = path_ + ": " + std::strerror(error);
  return false;
}

bool InputFile::Open(const std::string& path) {
  Close();
  path_ = path;
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return Fail(errno);
  struct stat st {};
  int error = 0;
  if (::fstat(fd_, &st) != 0) {
    error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  }
  if (error == 0) return true;
  Close();
  return Fail(error);
}

bool InputFile::Size(std::uint64_t& size) const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return false;
  size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool InputFile::Read(void* buffer, std::size_t n, std::size_t& got) {
  got = 0;
  if (fd_ < 0) return false;
  auto* p = static_cast<std::uint8_t*>(buffer);
  while (got < n) {
    const ssize_t r = ::read(fd_, p + got, n - got);
    if (r > 0) {
      got += static_cast<std::size_t>(r);
    } else if (r == 0) {
      break;
    } else if (errno != EINTR) {
      return Fail(errno);
    }
  }
  return true;
}

void InputFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace updater
