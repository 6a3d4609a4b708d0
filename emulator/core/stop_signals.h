// SIGINT and SIGTERM (Ctrl-C, kill) end the emulator's serving: for as long
// as a StopSignals lives, both call `onStop`; its end puts back the handlers
// that were there before.  `onStop` runs in a signal handler and may only
// store to a lock-free atomic.  Main thread, one scope at a time.
#pragma once

#include <csignal>

namespace emulator {

class StopSignals {
 public:
  explicit StopSignals(void (*onStop)(int));
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct sigaction savedInterrupt_ {};
  struct sigaction savedTerminate_ {};
};

}  // namespace emulator
