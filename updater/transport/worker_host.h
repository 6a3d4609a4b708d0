// How a worker (send settings, receive settings, update software) reaches the
// window that started it.  The Qt window, the console of updater-cli and the
// tests' recorder each implement WorkerHost.
//
// The worker calls every method on its own thread and waits until it returns
// (the window's work is synchronous for it); a host must therefore never wait
// for the worker inside one of these calls.  The shared flags and the counter
// are atomics read and written without locks by both threads.
#pragma once

#include <atomic>
#include <string>

namespace updater {

enum class TimerId { SECONDS_TIMER = 1, COMPLETION_TIMER = 2 };

enum class Mode { MODE_SEND, MODE_RECEIVE, MODE_UPDATE };

// What kind of failure ended an operation, for hosts that tell more than the
// status lines do (the command line: its exit code, and the reason on
// standard error).
enum class Failure {
  kFile,         // the file could not be opened, read or written
  kRefusedFile,  // the file is not what the operation takes
  kPort,         // the port could not be opened or set up
};

// State shared between the window thread and the worker.
struct SharedFlags {
  std::atomic<bool> cancelRequested{false};  // a confirmed stop the worker must honour
  std::atomic<int> secondsCounter{0};        // ticks since the latest timer start
  std::atomic<int> progressStep{0};          // bar advance per completion tick
};

class WorkerHost {
 public:
  explicit WorkerHost(SharedFlags& flags) : flags_(flags) {}
  virtual ~WorkerHost() = default;

  SharedFlags& Flags() { return flags_; }

  // Appends a line (UTF-8) to the status list.
  virtual void AddStatusLine(const std::string& line) = 0;
  virtual void SetProgressRange(int low, int high) = 0;
  virtual void SetProgressStep(int step) = 0;
  // A position beyond the range shows as the nearer end.
  virtual void SetProgressPosition(int position) = 0;
  // The seconds / percentage field; empty clears it.
  virtual void SetSecondsText(const std::string& text) = 0;
  // A message box with OK, shown at the end of a successful operation.
  virtual void ShowMessage(const std::string& text) = 0;
  // Starts a one-second timer whose ticks run TimerTick(); starting either
  // timer sets secondsCounter to 0 (the host must do so before returning).
  // A start and a tick never overlap: a tick running when the start comes
  // ends first, so that its stop (at the limit) cannot cancel the new timer.
  // On the window thread that holds by itself; a host whose ticks run on a
  // thread of their own must make it so.
  virtual void StartTimer(TimerId id) = 0;
  // Stops both timers.
  virtual void StopTimers() = 0;
  // The window's share of the common end of a worker: disable the stop
  // button, clear busy, set idle.
  virtual void WorkerEnded() = 0;
  // The operation is failing for this reason (the system's text, naming the
  // file or port).  Comes before the common end; the status lines are the
  // operation's own.  The window has no use for it.
  virtual void ReportFailure(Failure kind, const std::string& reason) {
    static_cast<void>(kind);
    static_cast<void>(reason);
  }

 private:
  SharedFlags& flags_;
};

// Completion ticks after which the timers stop themselves: above 9 in the
// settings modes, above 99 in the software update.
inline constexpr int kSettingsCompletionTicks = 9;
inline constexpr int kUpdateCompletionTicks = 99;

// One tick of `id` (window thread): advances secondsCounter, shows it as
// "N Сек.", and on completion ticks drives the bar (progressStep per tick)
// and stops both timers once the mode's limit is passed.
void TimerTick(WorkerHost& host, TimerId id, Mode mode);

// The common end of every worker, window side: clears the seconds field,
// tells the host, clears cancelRequested and stops both timers.  The worker
// closes its file and port itself (they are RAII objects of the worker).
void EndWorker(WorkerHost& host);

}  // namespace updater
