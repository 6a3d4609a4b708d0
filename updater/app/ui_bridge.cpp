#include "updater/app/ui_bridge.h"

namespace updater::app {

UiBridge::UiBridge(QObject* parent) : QObject(parent), windowThread_(std::this_thread::get_id()) {}

UiBridge::~UiBridge() { Close(); }

void UiBridge::Enqueue(Item item) {
  queue_.push_back(std::move(item));
  // Only the wake-up goes through Qt; the item waits in our queue.
  QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
}

bool UiBridge::Call(std::function<void()> call) {
  if (std::this_thread::get_id() == windowThread_) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) return false;
    }
    call();
    return true;
  }
  bool done = false;
  std::unique_lock<std::mutex> lock(mutex_);
  if (closed_) return false;
  Enqueue({std::move(call), &done});
  ran_.wait(lock, [&] { return done || closed_; });
  return done;
}

void UiBridge::Post(std::function<void()> call) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!closed_) Enqueue({std::move(call), nullptr});
}

void UiBridge::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    queue_.clear();
  }
  ran_.notify_all();
}

void UiBridge::Drain() {
  // A call may open a message box whose event loop drains further calls:
  // each item is taken off the queue before it runs.
  for (;;) {
    Item item;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_ || queue_.empty()) return;
      item = std::move(queue_.front());
      queue_.pop_front();
    }
    item.call();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // After Close() the caller has returned and its flag is gone.
      if (closed_) return;
      if (item.done != nullptr) *item.done = true;
    }
    ran_.notify_all();
  }
}

}  // namespace updater::app
