#include "common/qt/ui_calls.h"

#include <cerrno>
#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

namespace common::qt {

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
  Close();
  delete notifier_;
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool UiCalls::Closed() {
  std::lock_guard lock(mutex_);
  return closed_;
}

bool UiCalls::Send(std::function<void()> call) {
  if (std::this_thread::get_id() == uiThread_) {
    if (Closed()) return false;
    call();
    return true;
  }
  bool done = false;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    calls_.push_back(Call{std::move(call), &done});
  }
  Wake();
  std::unique_lock lock(mutex_);
  ran_.wait(lock, [&] { return done || closed_; });
  return done;
}

void UiCalls::Post(std::function<void()> call) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    calls_.push_back(Call{std::move(call), nullptr});
  }
  Wake();
}

void UiCalls::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    calls_.clear();
  }
  ran_.notify_all();
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
  // A call may open a box whose event loop drains further calls: each is
  // taken off the queue before it runs.
  for (;;) {
    Call call;
    {
      std::lock_guard lock(mutex_);
      if (closed_ || calls_.empty()) return;
      call = std::move(calls_.front());
      calls_.pop_front();
    }
    if (call.done == nullptr) {
      // A handed-over call runs on its own from the event loop, as a posted
      // message does; not at all once the calls are closed.
      QMetaObject::invokeMethod(
          this, [this, posted = std::move(call.call)] { if (!Closed()) posted(); }, Qt::QueuedConnection);
      continue;
    }
    call.call();
    {
      std::lock_guard lock(mutex_);
      // After Close() the caller has returned and its flag is gone.
      if (closed_) return;
      *call.done = true;
    }
    ran_.notify_all();
  }
}

}  // namespace common::qt
