// The progress window of one link operation, minus the window: opens the
// port, starts the operation's job on a worker thread, passes the job's
// reports to a view, turns Cancel into a stop request, shows the result
// message, and ends when the job has ended.
//
// The window of the desktop program and the console of the command line are
// both views.  Who waits for what:
//   - the job calls the session's JobHost operations on its worker thread;
//     status, progress and message boxes go straight to the view (the job
//     waits for them); the outcome and the close request are handed to `post`, which
//     must return at once and deliver them to Handle() on the session's thread;
//   - Handle() runs on the session's (user-interface) thread.
// RunSession() is a complete driver for hosts without an event loop of their
// own (the console, tests): it delivers the posted messages and polls a
// cancel flag.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "torvix/link/link_jobs.h"
#include "torvix/serial/serial_port.h"

namespace torvix {

// Which port: the COM number, or a device path that replaces it.
struct PortChoice {
  std::int32_t portNumber = 1;
  std::string devicePath;  // empty: "COM<portNumber>" as resolved by common::ResolvePortName
  common::WireTrace* trace = nullptr;  // where the frames exchanged are noted (null: nowhere)
};

// The port's read limits and the job's pauses (production values by default),
// and how long the full bar stays after a connect.
struct LinkTimings {
  JobLimits limits;  // also the port's limits when the session opens it
  std::chrono::milliseconds connectSuccessPause{500};
};

// What the operation hands to its job.
struct OperationData {
  std::uint8_t* receiverInfo = nullptr;   // Connect: 96 bytes, zero-filled
  std::uint8_t* databaseImage = nullptr;  // Read / Write factory data: 131072 bytes
  ImageStream* imageFile = nullptr;       // Upgrade: positioned at offset 42
  int upgradeMode = 0;
};

// How a progress session ended.
enum class JobOutcome {
  kPortNotOpened,  // "Open error"; no job ran
  kSucceeded,      // outcome 1
  kFailed,         // outcome 0
  kStopped,        // Cancel accepted; no outcome
  kNoOutcome,      // the job ended by itself without an outcome (unanswered read request)
};

// What the progress window shows.  ShowStatus, ShowProgressRange,
// ShowProgressPosition and (from the job) ShowMessage are called on the job's
// thread while it waits: they must not wait for the session's thread.
class ProgressView {
 public:
  virtual ~ProgressView() = default;
  virtual void ShowStatus(const std::string& text) = 0;
  virtual void ShowProgressRange(std::uint16_t maximum) = 0;
  virtual void ShowProgressPosition(int position) = 0;
  // A box with an OK button; returns when dismissed.  Any thread.
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
  // The upgrade's stop question (Yes / No); true for Yes.  Session's thread.
  virtual bool AskStopUpgrade(const std::string& question, const std::string& caption) = 0;
};

// Texts of the progress window.
inline constexpr const char* kOpenErrorText = "Open error";
inline constexpr const char* kOpenErrorCaption = "ERROR";
inline constexpr const char* kClosingConnection = "Closing Connection...";
inline constexpr const char* kStopUpgradeQuestion =
    " It is very important time!  \n\n You want to stop the upgrade procedure?  ";
inline constexpr int kConnectStartPosition = 50;
inline constexpr int kConnectDonePosition = 100;

// Window caption of an operation.
const char* OperationCaption(OperationCode operation);

// The result message for an outcome: text and caption, none when the
// operation shows no box for it.
struct ResultMessage {
  std::string text;
  std::string caption;
};
std::optional<ResultMessage> ResultMessageFor(OperationCode operation, bool success);

class ProgressSession : public JobHost {
 public:
  enum class Posted { kJobResultSuccess, kJobResultFailure, kClose };

  // `programName` captions the boxes a job raises; `notifier` shows the port's
  // error box (may be null).  All must outlive the session.
  ProgressSession(ProgressView& view, SerialErrorNotifier* notifier, std::string programName);
  ~ProgressSession() override;  // joins the worker; the port closes after it

  // Opens the port and starts the job.  False after "Open error" when the
  // port did not open: the session has then ended.  `post` delivers posted
  // messages to Handle() later, on the session's thread.
  bool Start(OperationCode operation, const PortChoice& port, const OperationData& data, const LinkTimings& timings,
             std::function<void(Posted)> post);

  // A posted message, on the session's thread.
  void Handle(Posted message);
  // The Cancel button (also Escape, the close box, Ctrl-C), on the session's thread.
  void Cancel();

  bool Ended() const { return ended_; }
  JobOutcome Outcome() const;

  // JobHost, on the job's thread.
  void SetStatusText(const std::string& text) override;
  void SetProgressRange(std::uint16_t maximum) override;
  void SetProgressPosition(int position) override;
  void ShowMessageBox(const std::string& text) override;
  void PostJobResult(std::int32_t result) override;
  void PostClose() override;

 private:
  void Finish();

  ProgressView& view_;
  std::string programName_;
  SerialPort port_;
  JobState state_{JOB_RUNNING};
  LinkJob job_;
  OperationCode operation_ = OperationCode::Connect;
  LinkTimings timings_;
  std::function<void(Posted)> post_;
  std::thread worker_;
  bool opened_ = false;
  bool stopRequested_ = false;
  std::optional<bool> result_;
  bool ended_ = false;
};

// Runs a whole progress session on the calling thread: start, deliver posted
// messages, and treat every `cancel` flag raised (from any thread or a signal
// handler; it is cleared when noticed, within about 20 ms) as the Cancel
// button.  Returns when the session has ended.
JobOutcome RunSession(ProgressView& view, SerialErrorNotifier* notifier, const std::string& programName,
                      OperationCode operation, const PortChoice& port, const OperationData& data,
                      const LinkTimings& timings, std::atomic<bool>* cancel);

}  // namespace torvix
