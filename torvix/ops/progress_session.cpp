#include "torvix/ops/progress_session.h"

#include <utility>

namespace torvix {

const char* OperationCaption(OperationCode operation) {
  switch (operation) {
    case OperationCode::Connect: return "Connect to the receiver";
    case OperationCode::Upgrade: return "Upgrade software";
    case OperationCode::WriteFactoryData: return "Write Factory Data";
    case OperationCode::ReadUserData: return "Read User Data";
  }
  return "LINK";
}

std::optional<ResultMessage> ResultMessageFor(OperationCode operation, bool success) {
  switch (operation) {
    case OperationCode::Connect:
      if (!success) return ResultMessage{"Connection error.", "Connect"};
      return std::nullopt;
    case OperationCode::Upgrade:
      if (!success) return ResultMessage{"Software upgrade error!", "Upgrade"};
      return ResultMessage{
          "The software transfered to receiver OK.\n\nWARNING:\n    The receiver is updating software.\n    DON'T "
          "turn off until see GOOD in LED!    ",
          "Upgrade"};
    case OperationCode::WriteFactoryData:
      if (!success) return std::nullopt;
      return ResultMessage{
          "The factory data transfered to receiver OK.\n\nWARNING:\n    The receiver is updating factory data.\n    "
          "DON'T turn off until see GOOD in LED!    ",
          "Upgrade"};
    case OperationCode::ReadUserData: return std::nullopt;
  }
  return std::nullopt;
}

ProgressSession::ProgressSession(ProgressView& view, SerialErrorNotifier* notifier, std::string programName)
    : view_(view), programName_(std::move(programName)), port_(notifier) {}

ProgressSession::~ProgressSession() {
  if (worker_.joinable()) worker_.join();
}

bool ProgressSession::Start(OperationCode operation, const PortChoice& port, const OperationData& data,
                            const LinkTimings& timings, std::function<void(Posted)> post) {
  operation_ = operation;
  timings_ = timings;
  post_ = std::move(post);
  state_.store(JOB_RUNNING);
  port_.Setup(port.portNumber, SerialPort::kQueueSize, SerialPort::kQueueSize);
  port_.SetDevicePath(port.devicePath);
  port_.SetTrace(port.trace);
  ApplyPortLimits(port_, timings.limits);
  if (!port_.Open()) {
    view_.ShowMessage(kOpenErrorText, kOpenErrorCaption);
    state_.store(JOB_ENDED);
    ended_ = true;
    return false;
  }
  opened_ = true;
  state_.store(JOB_RUNNING);
  job_.port = &port_;
  job_.state = &state_;
  job_.host = this;
  job_.limits = timings.limits;
  job_.receiverInfo = data.receiverInfo;
  job_.databaseImage = data.databaseImage;
  job_.imageFile = data.imageFile;
  job_.upgradeMode = data.upgradeMode;
  worker_ = std::thread(JobForOperation(operation), std::ref(job_));
  if (operation == OperationCode::Connect) view_.ShowProgressPosition(kConnectStartPosition);
  return true;
}

void ProgressSession::Finish() {
  if (worker_.joinable()) worker_.join();
  port_.Release();
  ended_ = true;
}

void ProgressSession::Handle(Posted message) {
  if (ended_) return;
  if (message == Posted::kClose) {
    if (state_.load() == JOB_ENDED) {
      Finish();
    } else {
      Cancel();
    }
    return;
  }
  const bool success = message == Posted::kJobResultSuccess;
  result_ = success;
  if (operation_ == OperationCode::Connect) {
    if (success) {
      view_.ShowProgressPosition(kConnectDonePosition);
      if (timings_.connectSuccessPause.count() > 0) std::this_thread::sleep_for(timings_.connectSuccessPause);
    } else if (job_.receiverInfo != nullptr) {
      job_.receiverInfo[0] = 0;  // the record says: no identification
    }
  }
  if (const auto box = ResultMessageFor(operation_, success)) view_.ShowMessage(box->text, box->caption);
  // After a successful upload the job posts no close request: the window closes
  // once its completion message has been read.  The job is ending already.
  if (success && (operation_ == OperationCode::Upgrade || operation_ == OperationCode::WriteFactoryData)) Finish();
}

void ProgressSession::Cancel() {
  if (ended_) return;
  if (state_.load() == JOB_ENDED) {
    Finish();
    return;
  }
  if (operation_ == OperationCode::Upgrade && !view_.AskStopUpgrade(kStopUpgradeQuestion, programName_)) return;
  // Only a running job is asked to stop: one that has just ended keeps its
  // state, so that its close request closes the window.
  std::int32_t running = JOB_RUNNING;
  if (state_.compare_exchange_strong(running, JOB_STOP_REQUESTED) || running == JOB_STOP_REQUESTED) {
    stopRequested_ = true;
    // A job waiting out a dead line's time limit would hold the stop up.
    port_.Interrupt();
    view_.ShowStatus(kClosingConnection);
  }
}

JobOutcome ProgressSession::Outcome() const {
  if (!opened_) return JobOutcome::kPortNotOpened;
  if (result_) return *result_ ? JobOutcome::kSucceeded : JobOutcome::kFailed;
  return stopRequested_ ? JobOutcome::kStopped : JobOutcome::kNoOutcome;
}

void ProgressSession::SetStatusText(const std::string& text) { view_.ShowStatus(text); }
void ProgressSession::SetProgressRange(std::uint16_t maximum) { view_.ShowProgressRange(maximum); }
void ProgressSession::SetProgressPosition(int position) { view_.ShowProgressPosition(position); }
void ProgressSession::ShowMessageBox(const std::string& text) { view_.ShowMessage(text, programName_); }

void ProgressSession::PostJobResult(std::int32_t result) {
  post_(result == JOB_RESULT_SUCCESS ? Posted::kJobResultSuccess : Posted::kJobResultFailure);
}

void ProgressSession::PostClose() { post_(Posted::kClose); }

JobOutcome RunSession(ProgressView& view, SerialErrorNotifier* notifier, const std::string& programName,
                      OperationCode operation, const PortChoice& port, const OperationData& data,
                      const LinkTimings& timings, std::atomic<bool>* cancel) {
  constexpr auto kCancelPoll = std::chrono::milliseconds(20);
  std::mutex mutex;
  std::condition_variable posted;
  std::deque<ProgressSession::Posted> queue;
  // Declared after the queue: its worker is joined before the queue goes.
  ProgressSession session(view, notifier, programName);
  const auto post = [&](ProgressSession::Posted message) {
    {
      std::lock_guard lock(mutex);
      queue.push_back(message);
    }
    posted.notify_one();
  };
  if (!session.Start(operation, port, data, timings, post)) return session.Outcome();
  while (!session.Ended()) {
    std::optional<ProgressSession::Posted> next;
    {
      std::unique_lock lock(mutex);
      posted.wait_for(lock, kCancelPoll, [&] { return !queue.empty(); });
      if (!queue.empty()) {
        next = queue.front();
        queue.pop_front();
      }
    }
    if (next) {
      session.Handle(*next);
    } else if (cancel != nullptr && cancel->exchange(false)) {
      session.Cancel();
    }
  }
  return session.Outcome();
}

}  // namespace torvix
