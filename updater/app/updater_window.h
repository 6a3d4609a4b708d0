// UpdaterWindow: Updater's one window.  It shows what the window rules
// (updater/ops/window_rules.h) decide and hands them the operator's actions:
// the modes, the port and the file, starting and stopping an operation, the
// timers' ticks.  The operation's worker reaches the window through a queue
// of calls run on the window thread (common/qt/ui_calls.h).
//
// Everything here runs on the window thread and never waits for the worker,
// with one exception: destroying the window while a worker still runs stops
// it and waits for its end (closing the window through its close box or the
// menu waits for that end without blocking instead).
#pragma once

#include <chrono>
#include <memory>

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include "common/history/history.h"
#include "common/history_server/uploader.h"
#include "common/qt/history_view.h"
#include "common/serial_ports.h"
#include "updater/ops/window_rules.h"

class QAction;
class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace common::qt {
class UiCalls;
}  // namespace common::qt

namespace updater::app {

class HelpWindow;
class PathLabel;

struct WindowOptions {
  // Period of the two one-second timers.
  std::chrono::milliseconds timerPeriod{1000};
  // Time-outs of the port (the receivers' values unless a test shortens them).
  PortTimings portTimings;
  // Where "Устройство…" and a failed open look for the serial devices present.
  common::DeviceRoots deviceRoots;
  // Where the operations are recorded.
  history::Location history = common::qt::EnvironmentHistory();
};

class UpdaterWindow : public QMainWindow, private WindowView {
  Q_OBJECT

 public:
  explicit UpdaterWindow(WindowOptions options = {}, QWidget* parent = nullptr);
  ~UpdaterWindow() override;

  // The actions behind the controls, menus and keys.  Window thread; each
  // returns once done, the modal boxes and the file chooser answered.
  void StartOperation() { rules_->StartOperation(); }  // start button, Enter
  void StopOperation() { rules_->StopOperation(); }    // stop button, Esc
  void ChooseFile() { rules_->ChooseFile(); }          // "&Открыть", or a start without a file
  // The checks of the file chooser for a path it returned (or that was given
  // on the command line): taken or refused, and the mode switched by kind.
  void TakeFile(const QString& path);
  void SelectMode(Mode mode) { rules_->SelectMode(mode); }     // a radio button
  void SelectPort(int number) { rules_->SelectPort(number); }  // "COM1".."COM4" of the port menu: 1..4
  void ChooseDevice();  // "Устройство…" of the port menu: the checked port's device
  void TimerTick(TimerId id) { rules_->TimerTick(id); }  // a tick of a running timer
  void ShowAbout();
  void ShowHelp();  // F1
  void ShowHistory();  // "&Журнал…" of the file menu

  Mode CurrentMode() const { return rules_->CurrentMode(); }
  bool Busy() const { return rules_->Busy(); }
  bool Idle() const { return rules_->Idle(); }
  // A worker thread exists (running, or stopping after a confirmed stop).
  bool WorkerRunning() const { return rules_->WorkerRunning(); }
  QString FileName() const;
  QString PortName() const { return QString::fromStdString(rules_->PortName()); }
  const SharedFlags& Flags() const { return rules_->Flags(); }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // WindowView.
  bool RunOnWindowThread(std::function<void()> call) override;
  void PostToWindowThread(std::function<void()> call) override;
  void ShowMode(Mode mode, const ModeControls& controls) override;
  void ClearStatusLines() override;
  void AddStatusLine(const std::string& line) override;
  void SetProgressRange(int low, int high) override;
  void SetProgressPosition(int position) override;
  void SetSecondsText(const std::string& text) override;
  void EnableStop(bool enabled) override;
  void SelectModel(int entry) override;
  void ShowFile(const std::string& path) override;
  void ShowPort(int number, const std::string& name, const std::string& toolTip) override;
  void StartTimer(TimerId id) override;
  void StopTimers() override;
  void ShowBox(const std::string& text, bool warning) override;
  bool AskStop(const StopQuestion& question) override;
  std::optional<std::string> ChooseFilePath(bool softwareFiles) override;
  void CloseQuestion() override;
  void CloseWindow() override;

  void BuildControls();
  void BuildMenus();
  void BuildKeys();
  void ShowProgress();

  // The unit field's text, none when empty.
  std::optional<std::string> Unit() const;

  const WindowOptions options_;
  common::qt::UiCalls* calls_;  // child object
  history::Recorder recorder_;  // warns through calls_
  // Uploads the rows to the shared database, when one is set; warns through calls_.
  std::unique_ptr<history_server::Uploader> uploader_;
  std::unique_ptr<WindowRules> rules_;
  QPointer<QMessageBox> question_;  // the open stop question
  int progressLow_ = 0, progressHigh_ = 100, progressPosition_ = 0;

  // Controls.
  QRadioButton* modeRadios_[3] = {};  // by Mode
  QButtonGroup* modeButtons_ = nullptr;
  QComboBox* modelList_ = nullptr;
  PathLabel* fileField_ = nullptr;
  QLineEdit* unitField_ = nullptr;
  QLabel* portField_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QListWidget* statusList_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* modeLabel_ = nullptr;
  QLabel* secondsField_ = nullptr;
  QAction* portActions_[kPortCount] = {};
  QTimer* timers_[2] = {};  // SECONDS_TIMER, COMPLETION_TIMER
  QPointer<HelpWindow> help_;
};

}  // namespace updater::app
