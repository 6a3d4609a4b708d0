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

}  // namespace
}  // namespace updater
