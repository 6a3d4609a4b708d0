#include "updater/transport/tick_timers.h"

namespace updater {
namespace {
int Slot(TimerId id) { return id == TimerId::SECONDS_TIMER ? 0 : 1; }
}  // namespace

TickTimers::TickTimers(Callback onTick, std::chrono::milliseconds period)
    : onTick_(std::move(onTick)), period_(period), thread_([this] { Run(); }) {}

TickTimers::~TickTimers() {
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void TickTimers::Start(TimerId id, const std::function<void()>& atStart) {
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (atStart) atStart();
    due_[Slot(id)] = Clock::now() + period_;
  }
  changed_.notify_all();
}

void TickTimers::StopAll() {
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    due_[0].reset();
    due_[1].reset();
  }
  changed_.notify_all();
}

void TickTimers::Run() {
  std::unique_lock<std::recursive_mutex> lock(mutex_);
  while (!quit_) {
    std::optional<Clock::time_point> next;
    for (const auto& due : due_) {
      if (due && (!next || *due < *next)) next = due;
    }
    if (!next) {
      changed_.wait(lock);
      continue;
    }
    if (changed_.wait_until(lock, *next) != std::cv_status::timeout) continue;
    const auto now = Clock::now();
    for (int slot = 0; slot < 2; ++slot) {
      if (!due_[slot] || *due_[slot] > now) continue;
      *due_[slot] += period_;
      // The lock stays held: a start from another thread waits for the tick.
      onTick_(slot == 0 ? TimerId::SECONDS_TIMER : TimerId::COMPLETION_TIMER);
    }
  }
}

}  // namespace updater
