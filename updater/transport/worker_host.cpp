#include "updater/transport/worker_host.h"

namespace updater {

void TimerTick(WorkerHost& host, TimerId id, Mode mode) {
  SharedFlags& flags = host.Flags();
  const int seconds = flags.secondsCounter.fetch_add(1) + 1;
  host.SetSecondsText(std::to_string(seconds) + " Сек.");
  if (id != TimerId::COMPLETION_TIMER) return;
  const int limit = mode == Mode::MODE_UPDATE ? kUpdateCompletionTicks : kSettingsCompletionTicks;
  if (seconds > limit) {
    host.StopTimers();
    host.SetProgressRange(0, 100);
    host.SetProgressPosition(100);
  }
  host.SetProgressRange(0, 100);
  host.SetProgressStep(1);
  host.SetProgressPosition(flags.progressStep.load() * seconds);
}

void EndWorker(WorkerHost& host) {
  host.SetSecondsText("");
  host.WorkerEnded();
  host.Flags().cancelRequested.store(false);
  host.StopTimers();
}

}  // namespace updater
