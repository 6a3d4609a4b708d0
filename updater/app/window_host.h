// The Updater window as the host of one operation's worker: every call of
// the worker runs on the window thread through the UiBridge and returns when
// the window has done it.  The window's own timer ticks call the same host
// on the window thread, where the calls run at once.
#pragma once

#include <string>

#include "updater/app/ui_bridge.h"
#include "updater/transport/worker_host.h"

namespace updater::app {

class UpdaterWindow;

class WindowHost : public WorkerHost {
 public:
  // `mode` is the operation's mode, which the timer ticks follow even when
  // the window's mode changes after a confirmed stop.
  WindowHost(SharedFlags& flags, UiBridge& bridge, UpdaterWindow& window, Mode mode);

  Mode OperationMode() const { return mode_; }

  // Worker or window thread; each blocks until the window thread has run it
  // (ShowMessage: until the box is answered), or returns at once once the
  // window has closed the bridge.
  void AddStatusLine(const std::string& line) override;
  void SetProgressRange(int low, int high) override;
  void SetProgressStep(int step) override;
  void SetProgressPosition(int position) override;
  void SetSecondsText(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void StartTimer(TimerId id) override;
  void StopTimers() override;
  void WorkerEnded() override;
  // A port failure is kept for the box the window shows at the worker's end.
  void ReportFailure(Failure kind, const std::string& reason) override;

 private:
  UiBridge& bridge_;
  UpdaterWindow& window_;
  const Mode mode_;
};

}  // namespace updater::app
