// The console of updater-cli as a worker's host: status lines as they come
// (UTF-8), the seconds / percentage field, and on a terminal a progress bar
// redrawn on the last line; plain lines otherwise.  The two one-second
// timers run on a thread of their own.
//
// Beside the consoles of other receivers (several at once) every line gets
// the receiver's prefix and no bar is drawn; with --json every status line,
// bar position, percentage, second, message and failure is also an event
// (common/cli/events.h).
//
// Every method may be called from the worker thread, the timers' thread and
// the main thread (the stop question); output is serialised by one lock.
// Failure reasons go to the error stream.  Once the output can no longer be
// written (the reader of a pipe went away, a full disk), nothing more is
// written to it and the host says so once, with the errno, through its
// output-lost callback.
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "common/cli/events.h"
#include "updater/transport/tick_timers.h"
#include "updater/transport/worker_host.h"

namespace updater::cli {

// How a console shows itself beside others.
struct HostPresentation {
  std::string prefix;  // before every line, e.g. "[ttyUSB0] "
  common::cli::EventStream* events = nullptr;  // must outlive the host; null: no events
  std::string device;  // the device the events are about
};

class ConsoleHost : public WorkerHost {
 public:
  // Writes to `out` and `err`; draws the bar when `terminal` is set.
  // `outputLost` (may be empty) runs once, on the writing thread and inside
  // the host's lock, with the errno of the write to `out` that failed; it
  // must return at once.
  ConsoleHost(SharedFlags& flags, Mode mode, std::FILE* out, std::FILE* err, bool terminal,
              std::function<void(int error)> outputLost = {}, HostPresentation presentation = {});
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
  // Prints the reason on the error stream and keeps the kind.
  void ReportFailure(Failure kind, const std::string& reason) override;

  // The kind of the latest failure reported, if any.
  std::optional<Failure> LastFailure();
  // The latest reason printed (ReportFailure, ReportExchangeFailure); empty when none.
  std::string LastReason();
  // The latest status line that said something (the operation's last word).
  std::string LastError();
  // A failure the operation gave no reason for: `statusLine` (its own
  // last word) as the reason, about `device`, with what it means.
  void ReportExchangeFailure(const std::string& device, const std::string& statusLine);

  // Prints the stop question (caption and question of the mode) and leaves
  // the cursor behind it; Print() writes a line of the console's own.
  void Ask(const std::string& caption, const std::string& question);
  // The question is answered (or dropped): ends its line; the bar may be
  // drawn again.
  void EndAsk();
  void Print(const std::string& line);

 private:
  void DrawBarLocked();
  void PrintReasonLocked(const std::string& reason);
  void PrintLocked(const std::string& line);
  void ClearBarLocked();
  // Flushes the output; the first failure makes it lost.
  void FlushLocked();

  const Mode mode_;
  std::FILE* const out_;
  std::FILE* const err_;
  const bool terminal_;
  const std::function<void(int)> outputLost_;
  const HostPresentation presentation_;
  std::mutex mutex_;
  bool lost_ = false;
  std::optional<Failure> failure_;
  std::string reason_;
  std::string lastStatus_;
  int low_ = 0, high_ = 100, position_ = 0;
  std::string seconds_;
  bool barShown_ = false;
  bool asking_ = false;  // the question holds the last line
  TickTimers timers_;  // last: its thread calls back into this object
};

}  // namespace updater::cli
