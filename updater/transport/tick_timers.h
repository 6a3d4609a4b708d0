// The window's two one-second timers for hosts without an event loop of their
// own (the console of updater-cli): a thread that calls back once a period
// for each running timer.
//
// Start/StopAll from any thread, also from inside the callback.  The
// callback runs on the timers' own thread, never while a lock of this class
// is held; the destructor stops the thread and waits for a running callback.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "updater/transport/worker_host.h"

namespace updater {

class TickTimers {
 public:
  using Callback = std::function<void(TimerId)>;
  explicit TickTimers(Callback onTick, std::chrono::milliseconds period = std::chrono::milliseconds(1000));
  ~TickTimers();
  TickTimers(const TickTimers&) = delete;
  TickTimers& operator=(const TickTimers&) = delete;

  // (Re)starts timer `id`: its first tick comes one period from now.
  void Start(TimerId id);
  // Stops both timers.
  void StopAll();

 private:
  using Clock = std::chrono::steady_clock;
  void Run();

  Callback onTick_;
  const std::chrono::milliseconds period_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<Clock::time_point> due_[2];  // next tick of each timer, none when stopped
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace updater
