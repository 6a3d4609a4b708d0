#include "updater/transport/tick_timers.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace updater {
namespace {

using Clock = std::chrono::steady_clock;

// Collects ticks and lets the test wait for the n-th one.
class TickLog {
 public:
  void Add(TimerId id) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ticks_.push_back({id, Clock::now()});
    }
    changed_.notify_all();
  }
  bool WaitFor(std::size_t n, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return ticks_.size() >= n; });
  }
  std::vector<std::pair<TimerId, Clock::time_point>> Ticks() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ticks_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::pair<TimerId, Clock::time_point>> ticks_;
};

TEST(TickTimers, TicksOncePerSecond) {
  TickLog log;
  TickTimers timers([&](TimerId id) { log.Add(id); });
  const auto start = Clock::now();
  timers.Start(TimerId::SECONDS_TIMER);
  ASSERT_TRUE(log.WaitFor(1));
  timers.StopAll();
  const auto first = log.Ticks().at(0);
  EXPECT_EQ(first.first, TimerId::SECONDS_TIMER);
  EXPECT_GE(first.second - start, std::chrono::milliseconds(1000));
  EXPECT_LT(first.second - start, std::chrono::milliseconds(1500));
}

TEST(TickTimers, BothTimersTickUntilStoppedFromTheirOwnCallback) {
  TickLog log;
  TickTimers* self = nullptr;
  std::mutex selfMutex;
  TickTimers timers(
      [&](TimerId id) {
        log.Add(id);
        if (log.Ticks().size() == 6) {
          std::lock_guard<std::mutex> lock(selfMutex);
          self->StopAll();
        }
      },
      std::chrono::milliseconds(5));
  {
    std::lock_guard<std::mutex> lock(selfMutex);
    self = &timers;
  }
  timers.Start(TimerId::SECONDS_TIMER);
  timers.Start(TimerId::COMPLETION_TIMER);
  ASSERT_TRUE(log.WaitFor(6));
  // Stopped from inside: no seventh tick comes in many periods.
  EXPECT_FALSE(log.WaitFor(7, std::chrono::milliseconds(100)));
  const auto ticks = log.Ticks();
  EXPECT_EQ(std::count_if(ticks.begin(), ticks.end(), [](const auto& t) { return t.first == TimerId::COMPLETION_TIMER; }), 3);
}

// The completion tick that passes its limit stops the timers; when the
// worker restarts the timer (at "2DBD3") while that tick runs, the start waits
// for the tick, so the tick's stop cannot cancel the new timer.
TEST(TickTimers, AStartWaitsForARunningTickWhoseStopCannotCancelIt) {
  TickLog log;
  std::mutex mutex;
  std::condition_variable changed;
  bool ticking = false;
  bool restarted = false;
  bool restartedDuringTick = false;
  TickTimers* self = nullptr;
  TickTimers timers(
      [&](TimerId id) {
        log.Add(id);
        if (log.Ticks().size() != 1) return;
        std::unique_lock<std::mutex> lock(mutex);
        ticking = true;
        changed.notify_all();
        // Time enough for a start that does not wait for this tick to return.
        restartedDuringTick = changed.wait_for(lock, std::chrono::milliseconds(200), [&] { return restarted; });
        lock.unlock();
        self->StopAll();  // as the tick at the limit does
      },
      std::chrono::milliseconds(20));
  self = &timers;
  timers.Start(TimerId::COMPLETION_TIMER);
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return ticking; }));
  }
  timers.Start(TimerId::COMPLETION_TIMER);
  {
    std::lock_guard<std::mutex> lock(mutex);
    restarted = true;
  }
  changed.notify_all();
  EXPECT_TRUE(log.WaitFor(2));  // the restarted timer runs
  timers.StopAll();
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_FALSE(restartedDuringTick);
}

}  // namespace
}  // namespace updater
