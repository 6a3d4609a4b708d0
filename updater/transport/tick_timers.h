// The window's two one-second timers for hosts without an event loop of their
// own (the console of updater-cli): a thread that calls back once a period
// for each running timer.
//
// Start/StopAll from any thread, also from inside the callback.  The
// callback runs on the timers' own thread; a Start or StopAll from another
// thread waits until a running callback has returned, so a tick that stops
// the timers can never cancel a start that came while it ran.  The
// destructor stops the thread and waits for a running callback.
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
  // `atStart` (if given) runs first, exclusive of every tick: the host resets
  // its counter there.  Blocks while a tick runs on another thread.
  void Start(TimerId id, const std::function<void()>& atStart = nullptr);
  // Stops both timers.  Blocks while a tick runs on another thread.
  void StopAll();

 private:
  using Clock = std::chrono::steady_clock;
  void Run();

  Callback onTick_;
  const std::chrono::milliseconds period_;
  // Held while a tick runs, so that the callback's own Start/StopAll re-enter.
  std::recursive_mutex mutex_;
  std::condition_variable_any changed_;
  std::optional<Clock::time_point> due_[2];  // next tick of each timer, none when stopped
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace updater
