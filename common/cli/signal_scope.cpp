#include "common/cli/signal_scope.h"

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace common::cli {
namespace {

// The write end of the live scope's pipe: a handler has no other way to
// reach it.  Set and cleared by the scope alone.
std::atomic<int> liveScopeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

void WriteWake(int fd, Wake wake) {
  const char c = static_cast<char>(wake);
  // A full pipe holds wakes enough already.
  [[maybe_unused]] const ssize_t ignored = ::write(fd, &c, 1);
}

extern "C" void OnStopSignal(int signal) {
  const int saved = errno;
  const int fd = liveScopeFd.load();
  if (fd >= 0) {
    WriteWake(fd, signal == SIGINT ? Wake::kInterrupt : signal == SIGTERM ? Wake::kTerminate : Wake::kHangUp);
  }
  errno = saved;
}

}  // namespace

SignalScope::SignalScope() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  read_ = fds[0];
  write_ = fds[1];
  liveScopeFd.store(write_);
  for (int i = 0; i < kCount; ++i) {
    struct sigaction action {};
    action.sa_handler = kSignals[i] == SIGPIPE ? SIG_IGN : OnStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(kSignals[i], &action, &saved_[i]);
  }
}

SignalScope::~SignalScope() {
  if (read_ < 0) return;
  for (int i = 0; i < kCount; ++i) ::sigaction(kSignals[i], &saved_[i], nullptr);
  liveScopeFd.store(-1);
  ::close(read_);
  ::close(write_);
}

void SignalScope::Post() const {
  if (write_ >= 0) WriteWake(write_, Wake::kPosted);
}

std::vector<Wake> SignalScope::Take() {
  std::vector<Wake> wakes;
  char buffer[64];
  for (;;) {
    const ssize_t n = ::read(read_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) wakes.push_back(static_cast<Wake>(buffer[i]));
  }
  return wakes;
}

StopSignalsBlocked::StopSignalsBlocked() {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGHUP);
  ::pthread_sigmask(SIG_BLOCK, &stops, &saved_);
}

StopSignalsBlocked::~StopSignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

}  // namespace common::cli
