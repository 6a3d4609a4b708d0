#include "torvix/cli/file_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace torvix::cli {

namespace {

// Closes a descriptor on every path.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }
  bool Close() {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;  // not retried on EINTR: the descriptor is gone either way on Linux
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

mode_t NewFileMode(const std::string& path) {
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0) return existing.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool ReplaceFile(const std::string& path, std::string_view contents, std::string& error) {
  std::string temporary = path + ".XXXXXX";
  std::vector<char> name(temporary.begin(), temporary.end());
  name.push_back('\0');
  FileDescriptor fd(::mkstemp(name.data()));
  if (fd.Get() < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  temporary = name.data();
  const bool written = WriteAll(fd.Get(), contents) && ::fchmod(fd.Get(), NewFileMode(path)) == 0 &&
                       ::fsync(fd.Get()) == 0;
  const int writeErrno = errno;
  if (!fd.Close() || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    error = path + ": " + std::strerror(written ? errno : writeErrno);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace torvix::cli
