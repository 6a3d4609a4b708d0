#include "updater/transport/recorded_operation.h"

#include <mutex>
#include <utility>

#include "common/device_map.h"
#include "common/exit_codes.h"

namespace updater {
namespace {

// The worker's host as the window or the console gave it, with what the
// history needs noted on the way.  Called on the worker's thread and, for
// the timers, on the host's: the notes are kept under a lock.
class NotingHost : public WorkerHost {
 public:
  explicit NotingHost(WorkerHost& host) : WorkerHost(host.Flags()), host_(host) {}

  void AddStatusLine(const std::string& line) override {
    if (line.find_first_not_of(' ') != std::string::npos) {
      std::lock_guard<std::mutex> lock(mutex_);
      lastLine_ = line;
    }
    host_.AddStatusLine(line);
  }
  void SetProgressRange(int low, int high) override { host_.SetProgressRange(low, high); }
  void SetProgressStep(int step) override { host_.SetProgressStep(step); }
  void SetProgressPosition(int position) override { host_.SetProgressPosition(position); }
  void SetSecondsText(const std::string& text) override { host_.SetSecondsText(text); }
  void ShowMessage(const std::string& text) override { host_.ShowMessage(text); }
  void StartTimer(TimerId id) override { host_.StartTimer(id); }
  void StopTimers() override { host_.StopTimers(); }
  void WorkerEnded() override {
    // The common end clears the stop request right after this.
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = Flags().cancelRequested.load();
    }
    host_.WorkerEnded();
  }
  void ReportFailure(Failure kind, const std::string& reason) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      failure_ = kind;
      reason_ = reason;
    }
    host_.ReportFailure(kind, reason);
  }

  std::optional<Failure> LastFailure() {
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
  }
  bool Stopped() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopped_;
  }
  // What the operator was told last of a failure: its reason, else the
  // operation's last status line.
  std::string Message() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reason_.empty() ? lastLine_ : reason_;
  }

 private:
  WorkerHost& host_;
  std::mutex mutex_;
  std::optional<Failure> failure_;
  std::string reason_;
  std::string lastLine_;
  bool stopped_ = false;
};

history::Entry Begin(Mode mode, const Job& job, const common::OperationHistory& history) {
  history::Start start;
  start.program = history.program;
  start.version = history.version;
  start.operation = HistoryOperation(mode);
  if (common::ComPortNumber(job.portName)) start.port = job.portName;
  start.device = common::ResolvePortName(job.portName, common::kUpdaterSettings);
  // A reception's file is named once it holds what was received.
  if (mode != Mode::MODE_RECEIVE) start.file = job.fileName;
  start.unit = history.unit;
  return history.recorder->Begin(start);
}

}  // namespace

int ExitCodeFor(Outcome outcome, std::optional<Failure> failure, bool stopped) {
  if (outcome == Outcome::kSucceeded && !failure) return common::kExitOk;
  if (stopped) return common::kExitStopped;
  if (!failure) return common::kExitFailed;
  switch (*failure) {
    case Failure::kFile: return common::kExitFile;
    case Failure::kRefusedFile: return common::kExitRefused;
    case Failure::kPort: return common::kExitPortNotOpened;
  }
  return common::kExitFailed;
}

const char* HistoryOperation(Mode mode) {
  switch (mode) {
    case Mode::MODE_SEND: return "send-settings";
    case Mode::MODE_RECEIVE: return "receive-settings";
    case Mode::MODE_UPDATE: break;
  }
  return "update-software";
}

RecordedOutcome RunRecorded(Mode mode, const Job& job, WorkerHost& host, const common::OperationHistory& history,
                            const OperationBody& body) {
  std::optional<history::Entry> entry;
  if (history.recorder != nullptr) entry.emplace(Begin(mode, job, history));
  NotingHost noting(host);
  RecordedOutcome recorded;
  recorded.outcome = body(noting);
  recorded.exitCode = ExitCodeFor(recorded.outcome, noting.LastFailure(), noting.Stopped());
  if (entry) {
    if (mode == Mode::MODE_RECEIVE && recorded.exitCode == common::kExitOk) entry->SetFile(job.fileName);
    const std::string_view result = common::HistoryResultFor(recorded.exitCode);
    const bool failed = result == history::kFailed || result == history::kRefused;
    entry->Finish(result, recorded.exitCode, failed ? common::ShownLine(noting.Message()) : std::string());
  }
  return recorded;
}

void RecordRefusal(Mode mode, const Job& job, const common::OperationHistory& history, int exitCode,
                   const std::string& message) {
  if (history.recorder == nullptr) return;
  history::Entry entry = Begin(mode, job, history);
  entry.Finish(common::HistoryResultFor(exitCode), exitCode, common::ShownLine(message));
}

}  // namespace updater
