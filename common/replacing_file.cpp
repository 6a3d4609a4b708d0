#include "common/replacing_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace common {
namespace {

// What open() would give a new file: 0666 less the umask.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

ReplacingFile::~ReplacingFile() { Discard(); }

bool ReplacingFile::Fail(int error) {
  error_ = path_ + ": " + std::strerror(error);
  return false;
}

void ReplacingFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
}

bool ReplacingFile::Create(const std::string& path) {
  Discard();
  path_ = path;
  error_.clear();
  mode_t mode = NewFileMode();
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0) {
    if (!S_ISREG(existing.st_mode)) return Fail(S_ISDIR(existing.st_mode) ? EISDIR : EINVAL);
    if (::access(path.c_str(), W_OK) != 0) return Fail(errno);
    mode = existing.st_mode & 07777;
  } else if (errno != ENOENT) {
    return Fail(errno);
  }
  std::string pattern = path + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    // The new contents go beside the file: it is its folder that refused
    // (missing, not writable, full), and the operator has to be told so.
    const int error = errno;
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) folder = ".";
    error_ = folder + ": " + std::strerror(error) + " (the folder of " + path + ")";
    return false;
  }
  fd_ = fd;
  temporary_ = name.data();
  if (::fchmod(fd_, mode) != 0) {
    const int error = errno;
    Discard();
    return Fail(error);
  }
  return true;
}

bool ReplacingFile::Write(const void* data, std::size_t n) {
  if (fd_ < 0) return Fail(EBADF);
  const auto* p = static_cast<const unsigned char*>(data);
  for (std::size_t done = 0; done < n;) {
    const ssize_t w = ::write(fd_, p + done, n - done);
    if (w > 0) {
      done += static_cast<std::size_t>(w);
    } else if (w < 0 && errno != EINTR) {
      return Fail(errno);
    }
  }
  return true;
}

bool ReplacingFile::Commit() {
  if (fd_ < 0) return Fail(EBADF);
  int error = 0;
  if (::fsync(fd_) != 0) error = errno;
  // close() is not retried on EINTR: the descriptor is gone either way on Linux.
  if (::close(fd_) != 0 && error == 0) error = errno;
  fd_ = -1;
  if (error == 0 && ::rename(temporary_.c_str(), path_.c_str()) != 0) error = errno;
  if (error != 0) {
    Discard();
    return Fail(error);
  }
  temporary_.clear();
  return true;
}

bool ReplaceFile(const std::string& path, std::string_view contents, std::string& error) {
  ReplacingFile file;
  const bool done = file.Create(path) && file.Write(contents) && file.Commit();
  if (!done) error = file.Error();
  return done;
}

}  // namespace common
