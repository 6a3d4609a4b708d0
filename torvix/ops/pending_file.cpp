#include "torvix/ops/pending_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvix {
namespace {

// A new file gets what open() would give it: 0666 less the umask.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

std::string Folder(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

PendingFile::~PendingFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

bool PendingFile::Create(const std::string& path, std::string& error) {
  path_ = path;
  std::string pattern = Folder(path) + "/.torvix-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = ::mkstemp(name.data());
  if (fd_ < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  temporary_ = name.data();
  struct stat existing {};
  const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : NewFileMode();
  ::fchmod(fd_, mode);
  return true;
}

bool PendingFile::Commit(std::string_view contents, std::string& error) {
  if (fd_ < 0) {
    error = path_ + ": not created";
    return false;
  }
  std::size_t done = 0;
  while (done < contents.size()) {
    const ssize_t w = ::write(fd_, contents.data() + done, contents.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) {
      error = path_ + ": " + std::strerror(errno);
      return false;
    }
    done += static_cast<std::size_t>(w);
  }
  if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
    error = path_ + ": " + std::strerror(errno);
    fd_ = -1;
    return false;
  }
  fd_ = -1;
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) {
    error = path_ + ": " + std::strerror(errno);
    return false;
  }
  temporary_.clear();
  return true;
}

}  // namespace torvix
