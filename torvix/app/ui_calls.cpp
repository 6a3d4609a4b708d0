#include "torvix/app/ui_calls.h"

#include <cerrno>
#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

namespace torvix::app {

UiCalls::UiCalls(QObject* parent) : QObject(parent), uiThread_(std::this_thread::get_id()) {
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ >= 0) {
    notifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &UiCalls::Drain);
  } else {
    // Out of descriptors: look at the queue often enough for a progress window.
    constexpr int kPollMs = 10;
    poll_ = new QTimer(this);
    connect(poll_, &QTimer::timeout, this, &UiCalls::Drain);
    poll_->start(kPollMs);
  }
}

UiCalls::~UiCalls() {
  delete notifier_;
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void UiCalls::Send(const std::function<void()>& call) {
  if (std::this_thread::get_id() == uiThread_) {
    call();
    return;
  }
  bool done = false;
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(Call{{}, &call, &done});
  }
  Wake();
  std::unique_lock lock(mutex_);
  ran_.wait(lock, [&done] { return done; });
}

void UiCalls::Post(std::function<void()> call) {
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(Call{std::move(call), nullptr, nullptr});
  }
  Wake();
}

void UiCalls::Wake() {
  if (wakeFd_ < 0) return;
  const std::uint64_t one = 1;
  while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void UiCalls::Drain() {
  if (wakeFd_ >= 0) {
    std::uint64_t count = 0;
    while (::read(wakeFd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
  }
  for (;;) {
    Call call;
    {
      std::lock_guard lock(mutex_);
      if (calls_.empty()) return;
      call = std::move(calls_.front());
      calls_.pop_front();
    }
    if (call.sent == nullptr) {
      // A handed-over call runs on its own from the event loop, as a posted
      // message does: a box it opens does not hold up the calls behind it.
      QMetaObject::invokeMethod(this, std::move(call.posted), Qt::QueuedConnection);
      continue;
    }
    (*call.sent)();
    {
      std::lock_guard lock(mutex_);
      *call.done = true;
    }
    ran_.notify_all();
  }
}

}  // namespace torvix::app
