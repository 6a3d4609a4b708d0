// The console of updater-cli as a worker's host: status lines as they come
// (UTF-8), the seconds / percentage field, and on a terminal a progress bar
// redrawn on the last line; plain lines otherwise.  The two one-second
// timers run on a thread of their own.
//
// Every method may be called from the worker thread, the timers' thread and
// the main thread (the stop question); output is serialised by one lock.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "updater/transport/tick_timers.h"
#include "updater/transport/worker_host.h"

namespace updater::cli {

class ConsoleHost : public WorkerHost {
 public:
  // Writes to `out`; draws the bar when `terminal` is set.
  ConsoleHost(SharedFlags& flags, Mode mode, std::FILE* out, bool terminal);
  ~ConsoleHost() override;

  void AddStatusLine(const std::string& line) override;
  void SetProgressRange(int low, int high) override;
  void SetProgressStep(int step) override;
  void SetProgressPosition(int position) override;
  void SetSecondsText(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void StartTimer(TimerId id) override;
  void StopTimers() override;
  void WorkerEnded() override;

  // Prints the stop question (caption and question of the mode) and leaves
  // the cursor behind it; Print() writes a line of the console's own.
  void Ask(const std::string& caption, const std::string& question);
  // The question is answered (or dropped): the bar may be drawn again.
  void EndAsk();
  void Print(const std::string& line);

 private:
  void DrawBarLocked();
  void ClearBarLocked();

  const Mode mode_;
  std::FILE* const out_;
  const bool terminal_;
  std::mutex mutex_;
  int low_ = 0, high_ = 100, position_ = 0;
  std::string seconds_;
  bool barShown_ = false;
  bool asking_ = false;  // the question holds the last line
  TickTimers timers_;  // last: its thread calls back into this object
};

}  // namespace updater::cli
