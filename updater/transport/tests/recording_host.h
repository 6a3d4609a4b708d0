// A WorkerHost that records what a worker shows, for the tests.  Timers are
// driven by hand: Tick() acts like a tick of a running timer and does nothing
// while that timer is stopped.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "updater/transport/worker_host.h"

namespace updater::testing {

class RecordingHost : public WorkerHost {
 public:
  explicit RecordingHost(Mode mode) : WorkerHost(flags_), mode_(mode) {}

  void AddStatusLine(const std::string& line) override { Record([&] { lines_.push_back(line); }); }
  void SetProgressRange(int low, int high) override {
    Record([&] {
      low_ = low;
      high_ = high;
    });
  }
  void SetProgressStep(int) override {}
  void SetProgressPosition(int position) override { Record([&] { positions_.push_back(position); }); }
  void SetSecondsText(const std::string& text) override { Record([&] { secondsTexts_.push_back(text); }); }
  void ShowMessage(const std::string& text) override { Record([&] { messages_.push_back(text); }); }
  void StartTimer(TimerId id) override {
    Record([&] {
      Flags().secondsCounter.store(0);
      running_[Index(id)] = true;
      ++starts_[Index(id)];
    });
  }
  void StopTimers() override {
    Record([&] { running_[0] = running_[1] = false; });
  }
  void WorkerEnded() override { Record([&] { ++ended_; }); }
  void ReportFailure(Failure kind, const std::string& reason) override {
    Record([&] { failures_.emplace_back(kind, reason); });
  }

  // A tick of `id` if it runs; false when it was stopped.
  bool Tick(TimerId id) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!running_[Index(id)]) return false;
    }
    TimerTick(*this, id, mode_);
    return true;
  }
  void Ticks(TimerId id, int n) {
    for (int i = 0; i < n; ++i) Tick(id);
  }

  // Waits (bounded) until `done` holds; it is tested under the recorder's
  // lock at every change and every few milliseconds (the worker writes the
  // shared counter without telling the host).
  bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      changed_.wait_for(lock, std::chrono::milliseconds(5));
    }
    return true;
  }
  bool WaitForLine(const std::string& line) {
    return WaitUntil([&] { return std::find(lines_.begin(), lines_.end(), line) != lines_.end(); });
  }
  bool WaitForEnd() {
    return WaitUntil([&] { return ended_ > 0; });
  }
  // Until the worker has set the counter back to 0, or has ended.
  bool WaitForCounterResetOrEnd() {
    return WaitUntil([&] { return Flags().secondsCounter.load() == 0 || ended_ > 0; });
  }
  bool WaitForTimerStart(TimerId id) {
    return WaitUntil([&] { return starts_[Index(id)] > 0; });
  }

  std::vector<std::string> Lines() const { return Copy(lines_); }
  std::vector<std::string> Messages() const { return Copy(messages_); }
  std::vector<std::string> SecondsTexts() const { return Copy(secondsTexts_); }
  std::vector<int> Positions() const { return Copy(positions_); }
  std::vector<std::pair<Failure, std::string>> Failures() const { return Copy(failures_); }
  int Ended() const { return Copy(ended_); }
  bool Running(TimerId id) const { return Copy(running_[Index(id)]); }
  int High() const { return Copy(high_); }

 private:
  static int Index(TimerId id) { return id == TimerId::SECONDS_TIMER ? 0 : 1; }
  template <typename F>
  void Record(F f) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      f();
    }
    changed_.notify_all();
  }
  template <typename T>
  T Copy(const T& value) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return value;
  }

  SharedFlags flags_;
  const Mode mode_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_, messages_, secondsTexts_;
  std::vector<int> positions_;
  std::vector<std::pair<Failure, std::string>> failures_;
  int low_ = 0, high_ = 0, ended_ = 0;
  bool running_[2] = {false, false};
  int starts_[2] = {0, 0};
};

}  // namespace updater::testing
