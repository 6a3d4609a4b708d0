#include "common/serial_line.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "common/custom_baud.h"

namespace common {
namespace {

using Clock = std::chrono::steady_clock;

// Device majors of pseudo-terminal slaves (/dev/pts/N).
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kLastPtySlaveMajor = 143;

// Milliseconds left until `deadline`, rounded up so that a wait never ends
// early; 0 when it has passed.
int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

// The earlier of two optional deadlines.
std::optional<Clock::time_point> Earlier(std::optional<Clock::time_point> a,
                                         std::optional<Clock::time_point> b) {
  if (!a) return b;
  if (!b) return a;
  return *a < *b ? a : b;
}

speed_t StandardSpeed(std::uint32_t baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
  }
}

// A descriptor that is closed unless released: keeps Open() leak-free on
// every early return.
class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() {
    if (fd_ >= 0) ::close(fd_);
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

}  // namespace

SerialLine::SerialLine() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

SerialLine::~SerialLine() {
  if (fd_ >= 0) Close();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool SerialLine::Fail(int error) {
  lastError_ = error;
  return false;
}

std::string SerialLine::LastErrorText() const { return std::strerror(lastError_); }

bool SerialLine::Open(const std::string& path) {
  if (fd_ >= 0) Close();
  const int raw = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (raw < 0) return Fail(errno);
  FdGuard guard(raw);
  // The advisory lock keeps out every other opener that asks, root included;
  // TIOCEXCL keeps out ordinary users' programs that do not ask.
  if (::flock(raw, LOCK_EX | LOCK_NB) != 0) return Fail(errno == EWOULDBLOCK ? EBUSY : errno);
  if (::tcgetattr(raw, &saved_) != 0) return Fail(errno);
  if (::ioctl(raw, TIOCEXCL) != 0) return Fail(errno);
  struct stat st {};
  isPseudoTerminal_ = ::fstat(raw, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= kFirstPtySlaveMajor &&
                      major(st.st_rdev) <= kLastPtySlaveMajor;
  savedValid_ = true;
  fd_ = guard.release();
  return true;
}

bool SerialLine::Configure(std::uint32_t baud) {
  if (fd_ < 0) return Fail(EBADF);
  // B0 would not set a rate but hang up the line.
  if (baud == 0) return Fail(EINVAL);
  struct termios t {};
  if (::tcgetattr(fd_, &t) != 0) return Fail(errno);
  ::cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  t.c_cc[VSTART] = 0x11;  // XON, unused while software flow control is off
  t.c_cc[VSTOP] = 0x13;   // XOFF
  const speed_t standard = StandardSpeed(baud);
  if (standard != B0 && (::cfsetispeed(&t, standard) != 0 || ::cfsetospeed(&t, standard) != 0)) {
    return Fail(errno);
  }
  if (::tcsetattr(fd_, TCSANOW, &t) != 0) return Fail(errno);
  if (standard == B0 && !detail::SetCustomBaud(fd_, baud)) return Fail(errno);
  // tcsetattr succeeds when any part of the request was applied: check the rate.
  if (detail::GetBaud(fd_) != baud) return Fail(EINVAL);
  int lines = TIOCM_DTR | TIOCM_RTS;
  if (::ioctl(fd_, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL) return Fail(errno);
  return true;
}

bool SerialLine::Read(void* buffer, std::size_t n, std::size_t& received) {
  received = 0;
  if (fd_ < 0) return Fail(EBADF);
  if (n == 0) return true;
  auto* p = static_cast<unsigned char*>(buffer);
  std::optional<Clock::time_point> total;
  if (readLimits_.multiplier != 0 || readLimits_.constant != 0) {
    const auto ms = static_cast<std::uint64_t>(readLimits_.multiplier) * n + readLimits_.constant;
    total = Clock::now() + std::chrono::milliseconds(ms);
  }
  std::optional<Clock::time_point> interval;
  // A dead line (adapter pulled, peer gone) fails every call at once; the
  // rest of the limit is waited out so that it never fails sooner than a
  // silent line would have timed out, unless the caller is stopping.
  const auto failAfterLimit = [&](int error) {
    if (const auto end = Earlier(total, interval)) PauseUntil(*end);
    return Fail(error);
  };
  bool hungUp = false;
  while (received < n) {
    const ssize_t r = ::read(fd_, p + received, n - received);
    if (r > 0) {
      received += static_cast<std::size_t>(r);
      if (readLimits_.interval != 0) {
        interval = Clock::now() + std::chrono::milliseconds(readLimits_.interval);
      }
      continue;
    }
    // A raw terminal with VMIN 0 reads 0 when nothing is waiting; after a
    // hang-up (POLLHUP below, or EIO) it reads 0 for ever.
    if (r == 0 && hungUp) return failAfterLimit(EIO);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return failAfterLimit(errno);
    const auto deadline = Earlier(total, interval);
    int timeout = -1;
    if (deadline) {
      timeout = MillisecondsUntil(*deadline);
      if (timeout == 0) return true;
    }
    pollfd pfd{fd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return failAfterLimit(errno);
    }
    if (ready > 0 && (pfd.revents & (POLLERR | POLLNVAL)) != 0) return failAfterLimit(EIO);
    // Bytes that came before a hang-up are still read; the next empty read fails.
    if (ready > 0 && (pfd.revents & POLLHUP) != 0) hungUp = true;
  }
  return true;
}

bool SerialLine::Write(const void* buffer, std::size_t n, std::size_t& written) {
  written = 0;
  if (fd_ < 0) return Fail(EBADF);
  const auto* p = static_cast<const unsigned char*>(buffer);
  std::optional<Clock::time_point> total;
  if (writeLimits_.multiplier != 0 || writeLimits_.constant != 0) {
    const auto ms = static_cast<std::uint64_t>(writeLimits_.multiplier) * n + writeLimits_.constant;
    total = Clock::now() + std::chrono::milliseconds(ms);
  }
  while (written < n) {
    const ssize_t w = ::write(fd_, p + written, n - written);
    if (w > 0) {
      written += static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Fail(errno);
    int timeout = -1;
    if (total) {
      timeout = MillisecondsUntil(*total);
      if (timeout == 0) return true;
    }
    pollfd pfd{fd_, POLLOUT, 0};
    const int ready = ::poll(&pfd, 1, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (ready > 0 && (pfd.revents & POLLOUT) == 0) return Fail(EIO);
  }
  return true;
}

bool SerialLine::Purge() {
  if (fd_ < 0) return Fail(EBADF);
  // On a pty, flushing output would throw away bytes the other side simply has
  // not read yet, such as the last frame before a close.
  return ::tcflush(fd_, isPseudoTerminal_ ? TCIFLUSH : TCIOFLUSH) == 0 || Fail(errno);
}

bool SerialLine::PurgeInput() {
  if (fd_ < 0) return Fail(EBADF);
  return ::tcflush(fd_, TCIFLUSH) == 0 || Fail(errno);
}

bool SerialLine::Drain() {
  if (fd_ < 0) return Fail(EBADF);
  while (::tcdrain(fd_) != 0) {
    if (errno != EINTR) return Fail(errno);
  }
  return true;
}

bool SerialLine::BytesWaiting(std::size_t& count) {
  count = 0;
  if (fd_ < 0) return Fail(EBADF);
  int waiting = 0;
  if (::ioctl(fd_, FIONREAD, &waiting) != 0) return Fail(errno);
  count = waiting > 0 ? static_cast<std::size_t>(waiting) : 0;
  return true;
}

SerialLine::WaitResult SerialLine::WaitForInput(int timeoutMs) {
  if (fd_ < 0) {
    Fail(EBADF);
    return WaitResult::kFailed;
  }
  std::optional<Clock::time_point> deadline;
  if (timeoutMs >= 0) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int ready = ::poll(fds, wakeFd_ >= 0 ? 2 : 1, deadline ? MillisecondsUntil(*deadline) : -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
      return WaitResult::kFailed;
    }
    if (ready == 0) return WaitResult::kTimedOut;
    if (fds[1].revents & POLLIN) return WaitResult::kInterrupted;
    if (fds[0].revents & POLLIN) return WaitResult::kInput;
    Fail(EIO);
    return WaitResult::kFailed;
  }
}

void SerialLine::Interrupt() {
  const std::uint64_t one = 1;
  if (wakeFd_ >= 0) {
    [[maybe_unused]] const auto ignored = ::write(wakeFd_, &one, sizeof one);
  }
}

bool SerialLine::PauseUntil(Clock::time_point end) {
  for (;;) {
    const int timeout = MillisecondsUntil(end);
    pollfd wake{wakeFd_, POLLIN, 0};
    const int ready = ::poll(&wake, wakeFd_ >= 0 ? 1 : 0, timeout);
    if (ready > 0) return false;
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) {
      // Without a wake-up descriptor the pause still lasts its time.
      std::this_thread::sleep_until(end);
      return true;
    }
    if (Clock::now() >= end) return true;
  }
}

void SerialLine::ClearInterrupt() {
  std::uint64_t value = 0;
  if (wakeFd_ >= 0) {
    [[maybe_unused]] const auto ignored = ::read(wakeFd_, &value, sizeof value);
  }
}

bool SerialLine::DrainWithinWriteLimit() {
  const bool limited = writeLimits_.multiplier != 0 || writeLimits_.constant != 0;
  int queued = 0;
  // A device that cannot say what it holds is gone: nothing of it will leave.
  if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0) return false;
  if (limited) {
    const std::uint64_t ms = static_cast<std::uint64_t>(writeLimits_.multiplier) * static_cast<std::uint64_t>(queued) +
                             writeLimits_.constant;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    const std::uint32_t baud = Baud();
    while (queued > 0) {
      if (Clock::now() >= deadline) return false;
      // Look again when the queued bytes should have left (ten bit times
      // each), at least a millisecond on, never past the deadline.
      auto step = std::chrono::milliseconds(1);
      if (baud != 0) {
        step = std::max(step, std::chrono::milliseconds(static_cast<std::uint64_t>(queued) * 10 * 1000 / baud));
      }
      std::this_thread::sleep_until(std::min(Clock::now() + step, deadline));
      if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) return false;
    }
  }
  // The driver's queue is empty (or there is no limit to wait within): what
  // remains is the transmitter's own buffer, which empties at the line rate
  // since no flow control can hold it.
  while (::tcdrain(fd_) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool SerialLine::Close() {
  if (fd_ < 0) return Fail(EBADF);
  if (savedValid_) {
    // The settings put back may change the bit rate: the last bytes written
    // (an abort, say) must have left at the rate the receiver listens at.
    if (!DrainWithinWriteLimit()) ::tcflush(fd_, TCOFLUSH);
    ::tcsetattr(fd_, TCSANOW, &saved_);
  }
  ::ioctl(fd_, TIOCNXCL);
  savedValid_ = false;
  isPseudoTerminal_ = false;
  const int fd = fd_;
  fd_ = -1;
  // close() is not retried on EINTR: the descriptor is gone either way on Linux.
  if (::close(fd) != 0 && errno != EINTR) return Fail(errno);
  return true;
}

std::uint32_t SerialLine::Baud() const { return fd_ < 0 ? 0 : detail::GetBaud(fd_); }

std::uint32_t TerminalBaud(int fd) { return detail::GetBaud(fd); }

}  // namespace common
