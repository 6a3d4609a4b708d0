#include "common/replacing_file.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/write_all.h"

namespace common {
namespace {

// Symbolic links followed before giving up, as the kernel does.
constexpr int kMaxLinks = 40;
// Names tried for the moment between naming an unnamed file and renaming it.
constexpr int kNameAttempts = 100;

// What open() would give a new file: 0666 less the umask.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

std::string FolderOf(const std::string& path) {
  std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

// Follows `path` through symbolic links (a dangling one leads to the file it
// would create).  0, or the errno that stopped it.
int FollowLinks(const std::string& path, std::string& target) {
  target = path;
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
    if (!S_ISLNK(st.st_mode)) return 0;
    if (hops == kMaxLinks) return ELOOP;
    std::vector<char> buffer(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    const ssize_t n = ::readlink(target.c_str(), buffer.data(), buffer.size());
    if (n < 0) return errno;
    if (static_cast<std::size_t>(n) >= buffer.size()) return ENAMETOOLONG;  // changed under us
    const std::string link(buffer.data(), static_cast<std::size_t>(n));
    target = link.front() == '/' ? link : (std::filesystem::path(FolderOf(target)) / link).string();
  }
}

// A name beside `target` that nothing has yet: target.XXXXXX.
std::string CandidateName(const std::string& target, std::mt19937& random) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = target + ".";
  for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
  return name;
}

// Gives the open file `fd` the name `name`; 0 or the errno.
int NameOpenFile(int fd, const std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  // Without /proc the descriptor itself can be named (a privileged call).
  if (errno == ENOENT && ::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
  return errno;
}

}  // namespace

ReplacingFile::~ReplacingFile() { Discard(); }

bool ReplacingFile::Fail(int error) {
  error_ = path_ + ": " + std::strerror(error);
  return false;
}

void ReplacingFile::Discard() {
  // An unnamed file vanishes with its descriptor.
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
}

bool ReplacingFile::Create(const std::string& path) {
  Discard();
  path_ = path;
  error_.clear();
  if (const int error = FollowLinks(path, target_); error != 0) return Fail(error);
  folder_ = FolderOf(target_);
  mode_t mode = NewFileMode();
  struct stat existing {};
  const bool exists = ::stat(target_.c_str(), &existing) == 0;
  if (exists) {
    if (!S_ISREG(existing.st_mode)) return Fail(S_ISDIR(existing.st_mode) ? EISDIR : EINVAL);
    if (::access(target_.c_str(), W_OK) != 0) return Fail(errno);
    mode = existing.st_mode & 07777;
  } else if (errno != ENOENT) {
    return Fail(errno);
  }
  int fd = -1;
  if (temporaryKind_ == Temporary::kUnnamedWherePossible) {
    fd = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  }
  if (fd < 0) {
    // No unnamed files here (or not wanted): a named one beside the target.
    std::string pattern = target_ + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
      // The new contents go beside the file: it is its folder that refused
      // (missing, not writable, full), and the operator has to be told so.
      error_ = folder_ + ": " + std::strerror(errno) + " (the folder of " + path + ")";
      return false;
    }
    temporary_ = name.data();
  }
  fd_ = fd;
  if (::fchmod(fd_, mode) != 0) {
    const int error = errno;
    Discard();
    return Fail(error);
  }
  // The owner and group stay where that is allowed (root, or a group of
  // one's own); a file that cannot keep them is still replaced.
  if (exists && ::fchown(fd_, existing.st_uid, existing.st_gid) != 0) {
    // Kept as the creator's.
  }
  return true;
}

bool ReplacingFile::Write(const void* data, std::size_t n) {
  if (fd_ < 0) return Fail(EBADF);
  const int error = WriteAll(fd_, data, n);
  return error == 0 || Fail(error);
}

int ReplacingFile::LinkIntoPlace() {
  // A new file takes its name at once: nothing to rename, no moment with a
  // second name.
  const int direct = NameOpenFile(fd_, target_);
  if (direct != EEXIST) return direct;
  // An existing file is replaced by a rename, which needs a name to rename
  // from, for the two system calls between here and there.
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string name = CandidateName(target_, random);
    if (const int error = NameOpenFile(fd_, name); error != 0) {
      if (error == EEXIST) continue;
      return error;
    }
    if (::rename(name.c_str(), target_.c_str()) == 0) return 0;
    const int error = errno;
    ::unlink(name.c_str());
    return error;
  }
  return EEXIST;
}

bool ReplacingFile::Commit() {
  if (fd_ < 0) return Fail(EBADF);
  int error = 0;
  if (::fsync(fd_) != 0) error = errno;
  if (error == 0 && temporary_.empty()) error = LinkIntoPlace();
  // close() is not retried on EINTR: the descriptor is gone either way on Linux.
  if (::close(fd_) != 0 && error == 0) error = errno;
  fd_ = -1;
  if (error == 0 && !temporary_.empty() && ::rename(temporary_.c_str(), target_.c_str()) != 0) error = errno;
  if (error != 0) {
    Discard();
    return Fail(error);
  }
  temporary_.clear();
  // The new name is on the disk once its folder is.
  if (const int folder = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return true;
}

bool ReplaceFile(const std::string& path, std::string_view contents, std::string& error) {
  ReplacingFile file;
  const bool done = file.Create(path) && file.Write(contents) && file.Commit();
  if (!done) error = file.Error();
  return done;
}

}  // namespace common
