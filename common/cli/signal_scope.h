// The stop signals of a command line's run, in one place.  While a scope
// lives, SIGINT, SIGTERM and SIGHUP each write one byte to a pipe of the
// scope's own (the handlers do nothing else) and SIGPIPE is ignored, so that
// a closed standard output shows as a failed write and the run can tell the
// receivers to stop; the handlers found at construction are put back at
// destruction.  Other threads may wake the reader through the same pipe.
//
// One scope at a time in a process, made and destroyed on the thread that
// reads it (the command's main thread).
#pragma once

#include <csignal>
#include <vector>

namespace common::cli {

// What woke the reader of a scope.
enum class Wake : char {
  kInterrupt = 'i',  // SIGINT: Ctrl-C
  kTerminate = 't',  // SIGTERM
  kHangUp = 'h',     // SIGHUP: the terminal or the SSH session closed
  kPosted = 'p',     // Post(): something else to look at
};

class SignalScope {
 public:
  SignalScope();
  ~SignalScope();
  SignalScope(const SignalScope&) = delete;
  SignalScope& operator=(const SignalScope&) = delete;

  // False when the pipe could not be made: no handler was installed.
  bool Ok() const { return read_ >= 0; }
  // Readable once something has come; poll it, then Take().
  int Fd() const { return read_; }
  // Wakes the reader.  Any thread; async-signal-safe; never blocks.
  void Post() const;
  // What has come since the last call, in order; does not wait.
  std::vector<Wake> Take();

 private:
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
  static constexpr int kCount = sizeof kSignals / sizeof kSignals[0];
  int read_ = -1;
  int write_ = -1;
  struct sigaction saved_[kCount] {};
};

// Blocks the stop signals on the calling thread while it lives, so that the
// threads it starts meanwhile leave them to the thread that reads the scope;
// restores the thread's mask at the end.
class StopSignalsBlocked {
 public:
  StopSignalsBlocked();
  ~StopSignalsBlocked();
  StopSignalsBlocked(const StopSignalsBlocked&) = delete;
  StopSignalsBlocked& operator=(const StopSignalsBlocked&) = delete;

 private:
  sigset_t saved_ {};
};

}  // namespace common::cli
