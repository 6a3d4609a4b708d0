#include "common/pty.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "common/serial_line.h"

namespace common {
namespace {

using Clock = std::chrono::steady_clock;

void MakeRaw(int fd) {
  struct termios t {};
  if (::tcgetattr(fd, &t) != 0) return;
  ::cfmakeraw(&t);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::tcsetattr(fd, TCSANOW, &t);
}

}  // namespace

PseudoTerminal::PseudoTerminal() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0) {
    error_ = std::strerror(errno);
    return;
  }
  char name[128] = {};
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
    error_ = std::strerror(errno);
    ::close(master);
    return;
  }
  const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) {
    error_ = std::strerror(errno);
    ::close(master);
    return;
  }
  // Raw on both ends from the start, so nothing is echoed or translated while
  // the tool has the line closed.
  MakeRaw(master);
  MakeRaw(slave);
  master_ = master;
  slaveKeeper_ = slave;
  slavePath_ = name;
}

PseudoTerminal::~PseudoTerminal() { CloseMaster(); }

void PseudoTerminal::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  if (slaveKeeper_ >= 0) ::close(slaveKeeper_);
  master_ = -1;
  slaveKeeper_ = -1;
}

bool PseudoTerminal::WaitReadable(int timeoutMs) {
  if (master_ < 0) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    pollfd pfd{master_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, wait);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && (pfd.revents & POLLIN) != 0;
  }
}

std::vector<std::uint8_t> PseudoTerminal::Read(std::size_t n, int timeoutMs) {
  std::vector<std::uint8_t> out;
  out.reserve(n);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (master_ >= 0 && out.size() < n) {
    std::uint8_t chunk[4096];
    const std::size_t want = std::min(sizeof chunk, n - out.size());
    const ssize_t r = ::read(master_, chunk, want);
    if (r > 0) {
      out.insert(out.end(), chunk, chunk + r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) break;
    int wait = -1;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      wait = static_cast<int>(left);
    }
    if (!WaitReadable(wait)) break;
  }
  return out;
}

std::vector<std::uint8_t> PseudoTerminal::ReadAvailable(std::size_t max) {
  std::vector<std::uint8_t> out;
  while (master_ >= 0 && out.size() < max) {
    std::uint8_t chunk[4096];
    const ssize_t r = ::read(master_, chunk, std::min(sizeof chunk, max - out.size()));
    if (r > 0) {
      out.insert(out.end(), chunk, chunk + r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    break;
  }
  return out;
}

bool PseudoTerminal::Write(const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::size_t done = 0;
  while (master_ >= 0 && done < n) {
    const ssize_t w = ::write(master_, p + done, n - done);
    if (w > 0) {
      done += static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd pfd{master_, POLLOUT, 0};
      if (::poll(&pfd, 1, -1) < 0 && errno != EINTR) return false;
      continue;
    }
    return false;
  }
  return done == n;
}

std::uint32_t PseudoTerminal::SlaveBaud() const {
  return slaveKeeper_ >= 0 ? TerminalBaud(slaveKeeper_) : 0;
}

}  // namespace common
