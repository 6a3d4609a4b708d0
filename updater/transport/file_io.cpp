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

ReplacingFile::~ReplacingFile() { Discard(); }

void ReplacingFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
  tempPath_.clear();
}

bool ReplacingFile::Create(const std::string& path) {
  Discard();
  path_ = path;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    // An existing file must be one we may write: a write-protected file is
    // not replaced behind its owner's back.
    if (!S_ISREG(st.st_mode)) return false;
    const int probe = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (probe < 0) return false;
    ::close(probe);
  } else if (errno != ENOENT) {
    return false;
  }
  for (int n = 0; n < 100; ++n) {
    const std::string candidate = path + ".part" + std::to_string(::getpid()) + "-" + std::to_string(n);
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fd_ = fd;
      tempPath_ = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool ReplacingFile::Write(const void* data, std::size_t n) {
  if (fd_ < 0) return false;
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(fd_, p + done, n - done);
    if (w > 0) {
      done += static_cast<std::size_t>(w);
    } else if (w < 0 && errno != EINTR) {
      return false;
    }
  }
  return true;
}

bool ReplacingFile::Commit() {
  if (fd_ < 0) return false;
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0 && ::fchmod(fd_, st.st_mode & 07777) != 0) return false;
  if (::fsync(fd_) != 0) return false;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return false;
  if (::rename(tempPath_.c_str(), path_.c_str()) != 0) return false;
  tempPath_.clear();
  return true;
}

}  // namespace updater
