#include "updater/transport/file_io.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace updater {

InputFile::~InputFile() { Close(); }

bool InputFile::Open(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    Close();
    return false;
  }
  return true;
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
      return false;
    }
  }
  return true;
}

void InputFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace updater
