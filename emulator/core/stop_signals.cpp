#include "emulator/core/stop_signals.h"

namespace emulator {

StopSignals::StopSignals(void (*onStop)(int)) {
  struct sigaction action {};
  action.sa_handler = onStop;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &savedInterrupt_);
  ::sigaction(SIGTERM, &action, &savedTerminate_);
}

StopSignals::~StopSignals() {
  ::sigaction(SIGINT, &savedInterrupt_, nullptr);
  ::sigaction(SIGTERM, &savedTerminate_, nullptr);
}

}  // namespace emulator
