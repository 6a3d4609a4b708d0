#include "emulator/core/line.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace emulator {
namespace {

constexpr unsigned kBitsPerByte = 10;      // start bit, 8 data bits, stop bit
constexpr std::size_t kPacedChunk = 64;    // bytes handed over at a time when paced

// Binds a socket in the abstract namespace to a name made from the link's
// absolute path: the system refuses the name to a second emulator for as
// long as the first lives, and frees it when the first ends, however it
// ends.  Returns the socket, or -1 with errno (EADDRINUSE: held).
int HoldPath(const std::string& path) {
  const std::string absolute = std::filesystem::absolute(path).lexically_normal().string();
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const unsigned char c : absolute) hash = (hash ^ c) * 1099511628211ull;
  char name[64];
  const int length = std::snprintf(name, sizeof name, "receiver-emulator/%016llx", static_cast<unsigned long long>(hash));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name, static_cast<std::size_t>(length));  // sun_path[0] == 0: abstract
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<std::size_t>(length));
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

Line::Line(const Options& options) : options_(options) {
  if (!pty_.Ok()) {
    error_ = "cannot open a pseudo-terminal: " + pty_.Error();
    return;
  }
  devicePath_ = pty_.SlavePath();
  // Opened before the watch begins, so that only the tool's opens count.
  deviceFd_ = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  watchFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (deviceFd_ < 0 || watchFd_ < 0 || ::inotify_add_watch(watchFd_, pty_.SlavePath().c_str(), IN_OPEN | IN_CLOSE) < 0) {
    error_ = "cannot watch " + pty_.SlavePath() + ": " + std::strerror(errno);
    return;
  }
  if (options_.linkPath.empty()) return;
  pathHold_ = HoldPath(options_.linkPath);
  if (pathHold_ < 0) {
    error_ = errno == EADDRINUSE ? options_.linkPath + " is served by another receiver-emulator; not taking it over"
                                 : "cannot hold " + options_.linkPath + ": " + std::strerror(errno);
    return;
  }
  struct stat st {};
  if (::lstat(options_.linkPath.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error_ = options_.linkPath + " exists and is not a symbolic link; not replacing it";
      return;
    }
    // Left by an emulator that is gone: nobody holds the path.
    ::unlink(options_.linkPath.c_str());
  }
  if (::symlink(pty_.SlavePath().c_str(), options_.linkPath.c_str()) != 0) {
    error_ = "cannot create " + options_.linkPath + ": " + std::strerror(errno);
    return;
  }
  madeLink_ = true;
  devicePath_ = options_.linkPath;
}

Line::~Line() {
  // The link may have been pointed elsewhere meanwhile: that one is not ours.
  std::error_code error;
  if (madeLink_ && std::filesystem::read_symlink(options_.linkPath, error) == pty_.SlavePath()) {
    ::unlink(options_.linkPath.c_str());
  }
  if (pathHold_ >= 0) ::close(pathHold_);
  if (watchFd_ >= 0) ::close(watchFd_);
  if (deviceFd_ >= 0) ::close(deviceFd_);
}

void Line::CountToolEvents() {
  if (watchFd_ < 0) return;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t r = ::read(watchFd_, buffer, sizeof buffer);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return;
    for (const char* p = buffer; p < buffer + r;) {
      const auto* event = reinterpret_cast<const inotify_event*>(p);
      if (event->mask & IN_OPEN) ++opens_;
      if (event->mask & IN_CLOSE) ++closes_;
      p += sizeof(inotify_event) + event->len;
    }
  }
}

std::uint64_t Line::ToolOpens() {
  CountToolEvents();
  return opens_;
}

std::uint64_t Line::ToolCloses() {
  CountToolEvents();
  return closes_;
}

void Line::ForgetTool() {
  if (deviceFd_ < 0) return;
  // A real port's driver drops its input queue at the last close.
  ::tcflush(deviceFd_, TCIFLUSH);
  ::ioctl(deviceFd_, TIOCNXCL);
}

std::chrono::steady_clock::duration Line::LineTime(std::size_t bytes) const {
  const std::uint32_t baud = ToolBaud();
  if (baud == 0) return {};
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(static_cast<double>(bytes) * kBitsPerByte / baud));
}

bool Line::Send(const std::uint8_t* data, std::size_t n) {
  if (!options_.paced) return pty_.Write(data, n);
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t done = 0; done < n;) {
    const std::size_t chunk = std::min(kPacedChunk, n - done);
    if (!pty_.Write(data + done, chunk)) return false;
    done += chunk;
    std::this_thread::sleep_until(start + LineTime(done));
  }
  return true;
}

std::vector<std::uint8_t> Line::Receive(std::size_t n, int timeoutMs) {
  if (!options_.paced) return pty_.Read(n, timeoutMs);
  // The first byte starts the clock; the rest cannot have come faster than the wire.
  std::vector<std::uint8_t> bytes = pty_.Read(n == 0 ? 0 : 1, timeoutMs);
  if (bytes.empty()) return bytes;
  const auto start = std::chrono::steady_clock::now() - LineTime(1);
  const auto rest = pty_.Read(n - 1, timeoutMs);
  bytes.insert(bytes.end(), rest.begin(), rest.end());
  std::this_thread::sleep_until(start + LineTime(bytes.size()));
  return bytes;
}

}  // namespace emulator
