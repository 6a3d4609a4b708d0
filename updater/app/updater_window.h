// UpdaterWindow: Updater's one window.  The user picks a mode, a COM port
// and a file, starts the mode's operation and may stop it; the window shows
// the operation's status lines, its progress and a seconds counter.
//
// The window holds no transfer logic: an operation is one worker thread
// running SendSettings, ReceiveSettings or UpdateSoftware with a WindowHost.
// Everything here runs on the window thread and never waits for the worker,
// with one exception: destroying the window while a worker still runs stops
// it and waits for its end (closing the window through its close box or the
// menu waits for that end without blocking instead).
#pragma once

#include <chrono>
#include <memory>
#include <thread>

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include "common/serial_ports.h"
#include "updater/app/ui_bridge.h"
#include "updater/app/window_host.h"
#include "updater/transport/updater_port.h"
#include "updater/transport/worker_host.h"

class QAction;
class QButtonGroup;
class QComboBox;
class QLabel;
class QListWidget;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

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
};

class UpdaterWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit UpdaterWindow(WindowOptions options = {}, QWidget* parent = nullptr);
  ~UpdaterWindow() override;

  // The actions behind the controls, menus and keys.  Window thread; each
  // returns once done, the modal boxes and the file chooser answered.
  void StartOperation();  // start button, Enter
  void StopOperation();   // stop button, Esc while busy
  void ChooseFile();      // "&Открыть", or a start without a file
  // The checks of the file chooser for a path it returned (or that was given
  // on the command line): taken or refused, and the mode switched by kind.
  void TakeFile(const QString& path);
  void SelectMode(Mode mode);      // a radio button
  void SelectPort(int number);     // "COM1".."COM4" of the port menu: 1..4
  void ChooseDevice();             // "Устройство…" of the port menu: the checked port's device
  void TimerTick(TimerId id);      // a tick of a running timer
  void ShowAbout();
  void ShowHelp();                 // F1

  Mode CurrentMode() const { return mode_; }
  bool Busy() const { return busy_; }
  bool Idle() const { return idle_; }
  // A worker thread exists (running, or stopping after a confirmed stop).
  bool WorkerRunning() const { return operation_ != nullptr; }
  const QString& FileName() const { return fileName_; }
  const QString& PortName() const { return portName_; }
  const SharedFlags& Flags() const { return flags_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // The worker's share of the window (window thread, through WindowHost).
  friend class WindowHost;
  void AddStatusLine(const QString& line);
  void SetProgressRange(int low, int high);
  void SetProgressPosition(int position);
  void SetSecondsText(const QString& text);
  void ShowBox(const QString& text);
  void NoteFailure(Failure kind, const QString& reason);
  void StartTimer(TimerId id);
  void StopTimers();
  void WorkerEnded();

  // One operation: its worker thread, port and host.
  struct Operation {
    Operation(SharedFlags& flags, UiBridge& bridge, UpdaterWindow& window, Mode mode, const PortTimings& timings)
        : host(flags, bridge, window, mode), port(timings) {}
    WindowHost host;
    UpdaterPort port;
    std::thread thread;
    bool ended = false;  // the worker's common end has reached the window
    common::ComMapping device;  // where the port name led at the start
    QString portFailure;        // why the port did not open or take its settings
  };

  void BuildControls();
  void BuildMenus();
  void BuildKeys();
  void StartWorker();
  void WorkerFinished();
  // The model list's action: the model token and the settings modes' label.
  void ApplyModel();
  void ShowModeLabel();
  void CheckModeRadio(Mode mode);
  void ShowProgress();
  // The port field's tool tip: the device the checked port opens.
  void ShowPortDevice();
  int PortNumber() const;

  const WindowOptions options_;
  SharedFlags flags_;
  UiBridge* bridge_;  // child object

  // Window state.
  Mode mode_ = Mode::MODE_UPDATE;
  QString fileName_;
  QString portName_;
  bool modelChosen_ = false;
  bool busy_ = false;
  bool idle_ = true;
  bool closeWhenStopped_ = false;  // a close waits for a stopping worker
  std::unique_ptr<Operation> operation_;
  QPointer<QMessageBox> question_;  // the open stop question

  int progressLow_ = 0, progressHigh_ = 100, progressPosition_ = 0;

  // Controls.
  QRadioButton* updateRadio_ = nullptr;
  QRadioButton* sendRadio_ = nullptr;
  QRadioButton* receiveRadio_ = nullptr;
  QButtonGroup* modeButtons_ = nullptr;
  QComboBox* modelList_ = nullptr;
  PathLabel* fileField_ = nullptr;
  QLabel* portField_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QListWidget* statusList_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* modeLabel_ = nullptr;
  QLabel* secondsField_ = nullptr;
  QAction* portActions_[4] = {};
  QTimer* secondsTimer_ = nullptr;
  QTimer* completionTimer_ = nullptr;
  QPointer<HelpWindow> help_;
};

}  // namespace updater::app
