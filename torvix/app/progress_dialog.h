// "LINK", the progress window of one link operation: the status line, the
// bar and Cancel.  It runs the operation's ProgressSession: the session opens
// the port and starts the job on its worker thread; the job's sent reports
// (status, range, position, its box, the port's error box) reach this window
// as calls the job waits for, its posted ones (outcome, close) as calls it
// only hands over (UiCalls), and Cancel, Escape and the close box become the
// session's Cancel.  The window closes only when the job has ended; the
// user-interface thread never waits for the job meanwhile.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>

#include <QDialog>

#include "common/serial_ports.h"
#include "common/qt/ui_calls.h"
#include "torvix/app/window_texts.h"
#include "torvix/ops/operations.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace torvix::app {

class ProgressDialog : public QDialog, public ProgressView, public SerialErrorNotifier {
  Q_OBJECT
 public:
  // `notifier` shows the port's error boxes; it outlives the window.  When a
  // COM port does not open while other serial devices are present under
  // `deviceRoots`, its box says which device was tried and where to choose another.
  ProgressDialog(QWidget* parent, SerialErrorNotifier& notifier, common::DeviceRoots deviceRoots = {});
  ~ProgressDialog() override;

  // Runs one operation: opens the port and starts the job, shows the window
  // until the job has ended, and returns how it ended.  When the port does
  // not open, the port's box and "Open error" are shown and the window never
  // is.  After a successful connect the full bar stays for
  // `timings.connectSuccessPause` while the window goes on painting.
  // User-interface thread; blocks (in a nested event loop) for the whole operation.
  JobOutcome Run(OperationCode operation, const PortChoice& port, const OperationData& data,
                 const LinkTimings& timings);

  // ProgressView: any thread (the job's waits until the window has taken it),
  // AskStopUpgrade on the user-interface thread.
  void ShowStatus(const std::string& text) override;
  void ShowProgressRange(std::uint16_t maximum) override;
  void ShowProgressPosition(int position) override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  bool AskStopUpgrade(const std::string& question, const std::string& caption) override;
  // The port's error box, on the window's `notifier`; any thread, which waits.
  void ShowSerialError(const std::string& caption, const std::string& systemText) override;

 protected:
  // Cancel, Escape and the close box.
  void reject() override;

 private:
  void Deliver(ProgressSession::Posted message);
  void HandlePosted();
  void CloseIfEnded();
  QWidget* BoxParent();

  SerialErrorNotifier& notifier_;
  const common::DeviceRoots deviceRoots_;
  PortChoice port_;
  bool opening_ = false;  // the session is opening the port (user-interface thread)
  QLabel* status_;
  QProgressBar* bar_;
  QPushButton* cancel_;
  OperationCode operation_ = OperationCode::Connect;
  std::chrono::milliseconds connectPause_{0};
  int rangeMaximum_ = kProgressMaximum;  // the job's range, which may be empty
  common::qt::UiCalls calls_;
  std::deque<ProgressSession::Posted> posted_;
  bool handling_ = false;  // a posted message is being handled (its box may be open)
  bool pausing_ = false;   // the full bar after a connect is on show
  std::unique_ptr<ProgressSession> session_;  // last: its worker is joined before the widgets go
};

// The window's progress runner: one ProgressDialog per operation, on the
// port number the main window holds at that moment.
class DialogProgress : public ProgressRunner {
 public:
  // All must outlive the runner.
  DialogProgress(QWidget& parent, SerialErrorNotifier& notifier, const std::uint32_t& port, const LinkTimings& timings,
                 const common::DeviceRoots& deviceRoots)
      : parent_(parent), notifier_(notifier), port_(port), timings_(timings), deviceRoots_(deviceRoots) {}
  JobOutcome Run(OperationCode operation, const OperationData& data) override;
  std::optional<PortChoice> NextPort() const override { return Port(); }

 private:
  PortChoice Port() const;

  QWidget& parent_;
  SerialErrorNotifier& notifier_;
  const std::uint32_t& port_;
  const LinkTimings& timings_;
  const common::DeviceRoots& deviceRoots_;
};

}  // namespace torvix::app
