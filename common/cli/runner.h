// One operation on one receiver or on several at once, for both command
// lines: a thread per receiver, the stop signals (signal_scope.h), the stop
// question, the `start`, `result` and `summary` events, the summary table and
// the exit code of several outcomes.
//
// Stopping: SIGTERM, SIGHUP and a standard output that can no longer be
// written stop every receiver at once.  Ctrl-C does the same, except that a
// command with a stop question asks it first, once for all receivers, when
// its answers can come from a terminal; without one nobody could answer, and
// Ctrl-C stops as SIGTERM does.  A receiver told to stop that does not end
// with 0 ends as stopped (common::kExitStopped), and its run ends with a
// line on the error stream that says so and why.
//
// Run() on the command's main thread; it blocks until every receiver has
// ended.  The rest as each function says.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/cli/events.h"

namespace common::cli {

class SignalScope;

// How a receiver's operation ended.
struct ReceiverOutcome {
  int exitCode = 0;
  std::string reason;  // why it failed, for the JSON result (empty: none known)
};

// One receiver of a run, as the front end runs it.
struct RunnerReceiver {
  std::string device;  // the device it opens: in events, the table and the lines the runner adds
  // The operation: runs on a thread of its own; what it calls blocks as long
  // as the exchange takes.
  std::function<ReceiverOutcome()> run;
  // Asks the running operation to stop at its next safe point, with no
  // question.  Runner's thread, while `run` may be running; must not wait for it.
  std::function<void()> stop;
};

// The question Ctrl-C asks before the receivers are told to stop.
struct StopQuestion {
  std::string caption;
  std::string text;
  // Prints the question and leaves the cursor behind it; runner's thread.
  std::function<void()> show;
  // The question has been answered (true: yes) or dropped (none: every
  // receiver ended meanwhile); ends its line.  Runner's thread.
  std::function<void(std::optional<bool>)> end;
  // Whether an answer line means yes.
  std::function<bool(const std::string&)> isYes;
  // Whether the question may be asked now: false while something else waits
  // for an answer on the terminal (Ctrl-C then stops without it).  May be empty.
  std::function<bool()> available;
};

struct RunnerSettings {
  std::string program;  // "torvix-cli", before the lines the runner adds
  std::string command;  // in the `start` events
  bool json = false;    // events on `out`, the human text on `err`
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  int input = -1;       // where answers come from; the question is asked only when it is a terminal
};

class ReceiverRunner {
 public:
  explicit ReceiverRunner(RunnerSettings settings);
  ~ReceiverRunner();
  ReceiverRunner(const ReceiverRunner&) = delete;
  ReceiverRunner& operator=(const ReceiverRunner&) = delete;

  // The events of the run (null without --json), and where the human text
  // goes.  Valid as long as the runner.
  EventStream* Events() { return events_.get(); }
  std::FILE* Human() const { return settings_.json ? settings_.err : settings_.out; }

  // A write to standard output failed with `error` (an errno value): every
  // receiver is told to stop.  Any thread, also inside a receiver's calls;
  // returns at once.
  void OutputLost(int error);

  // Runs every receiver, each on its own thread, and waits for all; then the
  // table (several receivers) and the summary event.  The exit code: 0 when
  // every receiver succeeded, otherwise the first failure's in the order
  // given (OverallExitCode); a standard output that failed otherwise than
  // by being closed makes it common::kExitFile.  Once per runner.
  int Run(std::vector<RunnerReceiver> receivers, const std::optional<StopQuestion>& question);

  // The results of the last Run(), in the order given.
  const std::vector<ReceiverResult>& Results() const { return results_; }

 private:
  enum class Cause { kNone, kInterrupt, kTerminate, kHangUp, kOutput };
  struct Slot;
  void StopAll(Cause cause);
  // Asks the question while the receivers go on: the cause to stop them
  // with, none when the answer was no or every receiver ended meanwhile.
  std::optional<Cause> Ask(SignalScope& scope, const StopQuestion& question);
  const char* StopText(Cause cause) const;

  RunnerSettings settings_;
  std::unique_ptr<EventStream> events_;
  std::atomic<int> outputError_{0};
  std::atomic<std::size_t> ended_{0};
  std::atomic<SignalScope*> scope_{nullptr};  // Run()'s, while it lives
  std::atomic<Cause> cause_{Cause::kNone};    // the first stop's; written by the runner's thread
  std::vector<std::unique_ptr<Slot>> slots_;
  std::vector<ReceiverResult> results_;
};

}  // namespace common::cli
