// Updater's window, minus the window: the modes, the port and file choice
// with their checks, starting one worker per operation, the stop question,
// the timers' ticks, and what the window may do in which state.  The Qt
// window implements WindowView; the tests implement it with a recorder.
//
// Threads: WindowRules lives on the window thread and every operation of it
// runs there.  The worker reaches the window only through
// WindowView::RunOnWindowThread (it waits) and PostToWindowThread (its end);
// the window thread never waits for the worker, except when WindowRules is
// destroyed with a worker still running.
//
// Window states (the flags `idle` and `busy` follow from them):
//
// | state     | idle | busy | stop button | worker                  | mode, file, close            | start     |
// |-----------|------|------|-------------|-------------------------|------------------------------|-----------|
// | kIdle     | set  | -    | disabled    | none                    | allowed                      | starts    |
// | kRunning  | -    | set  | enabled     | runs                    | refused                      | kBusyText |
// | kAsking   | -    | set  | enabled     | runs on, question open  | refused                      | kBusyText |
// | kStopping | set  | -    | disabled    | runs to its end         | allowed; a close waits       | kBusyText |
//
// kIdle -> kRunning: a start with a file.  kRunning -> kAsking: the stop
// button.  kAsking -> kRunning: No.  kAsking -> kStopping: Yes (the worker
// is asked to stop and its waits are cut short).  kRunning or kAsking ->
// kStopping: the worker's common end.  kStopping -> kIdle: the worker's last
// act (its thread is joined; a close that waited closes the window).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/operation_history.h"
#include "common/serial_ports.h"
#include "updater/transport/recorded_operation.h"
#include "updater/transport/stop_question.h"
#include "updater/transport/updater_port.h"
#include "updater/transport/worker_host.h"
#include "updater/transport/workers.h"

namespace updater {

inline constexpr std::uint32_t kPortBaudRate = 115200;
inline constexpr int kPortCount = 4;  // COM1..COM4 of the port menu

enum class WindowState { kIdle, kRunning, kAsking, kStopping };

// What a mode shows: the mode label (empty for a settings mode until a model
// is chosen), the start button's text, and which files the chooser offers.
struct ModeControls {
  const char* label;
  const char* startText;
  bool softwareFiles;  // .wsw, else .wdb
};
ModeControls ControlsFor(Mode mode, bool modelChosen);

// What the window shows and asks.  Window thread, except the two calls
// marked "any thread".  Returns at once unless said otherwise.
class WindowView {
 public:
  virtual ~WindowView() = default;

  // Any thread.  Runs `call` on the window thread and returns once it has
  // run: at once when called there, else when the window thread has come to
  // it (a box: when it is answered).  False without running it once the
  // window has closed its queue, also while waiting.
  virtual bool RunOnWindowThread(std::function<void()> call) = 0;
  // Any thread.  Hands `call` to the window thread and returns at once;
  // dropped once the window has closed its queue.
  virtual void PostToWindowThread(std::function<void()> call) = 0;

  // Checks the mode's radio button (and clears the other two), shows the
  // label and the start button's text.
  virtual void ShowMode(Mode mode, const ModeControls& controls) = 0;
  virtual void ClearStatusLines() = 0;
  virtual void AddStatusLine(const std::string& line) = 0;
  virtual void SetProgressRange(int low, int high) = 0;
  // A position beyond the range shows as the nearer end.
  virtual void SetProgressPosition(int position) = 0;
  // The seconds / percentage field; empty clears it.
  virtual void SetSecondsText(const std::string& text) = 0;
  virtual void EnableStop(bool enabled) = 0;
  // Shows entry `entry` of the model list (which stays disabled).
  virtual void SelectModel(int entry) = 0;
  // The file field (`path` as the system names the file).
  virtual void ShowFile(const std::string& path) = 0;
  // Checks COM`number` in the port menu; the port field shows `name` with
  // `toolTip` (the device it opens).
  virtual void ShowPort(int number, const std::string& name, const std::string& toolTip) = 0;
  // (Re)starts a one-second timer whose ticks come to WindowRules::TimerTick.
  virtual void StartTimer(TimerId id) = 0;
  virtual void StopTimers() = 0;  // both

  // Blocking until answered, while the window thread goes on serving the
  // worker's calls:
  // a box with the caption kBoxCaption and OK (`warning`: the warning icon);
  virtual void ShowBox(const std::string& text, bool warning = false) = 0;
  // the stop question, Yes and No with the question icon: true for Yes;
  virtual bool AskStop(const StopQuestion& question) = 0;
  // the file chooser for software or settings files: the path chosen (as the
  // system names it), none when cancelled.
  virtual std::optional<std::string> ChooseFilePath(bool softwareFiles) = 0;

  // Closes an open AskStop as No.
  virtual void CloseQuestion() = 0;
  // Closes the window: a close that waited for a stopping worker.
  virtual void CloseWindow() = 0;
};

// One operation's worker: SendSettings, ReceiveSettings or UpdateSoftware by
// mode (the default), or a test's stand-in.  Runs on the worker thread, must
// run EndWorker(host) as its last act, and returns how the operation ended.
using WorkerBody = std::function<Outcome(Mode mode, const Job& job, UpdaterPort& port, WorkerHost& host)>;
Outcome RunOperation(Mode mode, const Job& job, UpdaterPort& port, WorkerHost& host);

struct RulesOptions {
  PortTimings portTimings;      // the receivers' values unless a test shortens them
  common::DeviceRoots deviceRoots;  // where a port's device and the others present are looked for
  WorkerBody worker = RunOperation;
  // Where each operation is recorded (updater/transport/recorded_operation.h);
  // no recorder: nowhere.  The window sets program "updater" and the build's
  // version; the unit comes from SetUnit().
  common::OperationHistory history{};
};

class WindowRules {
 public:
  // `view` must outlive the rules.
  WindowRules(WindowView& view, RulesOptions options = {});
  // With a worker still running (the window goes without being closed):
  // asks it to stop, cuts its waits short and waits for its end, which takes
  // as long as its current exchange.  The view's queue must be closed first,
  // so that the worker's calls return without the window.
  ~WindowRules();
  WindowRules(const WindowRules&) = delete;
  WindowRules& operator=(const WindowRules&) = delete;

  // The window's start: the update mode and COM1.
  void Open();

  // The actions behind the controls, menus and keys.  Each returns once done,
  // its boxes and the file chooser answered.
  void SelectMode(Mode mode);  // a radio button; refused (the radios set back) while busy
  void SelectPort(int number); // COM1..COM4: 1..4; also while busy, for the next start
  void RefreshPort();          // the port field's tip again (its device may have changed)
  void ChooseFile();           // "&Открыть", or a start without a file
  // The checks of the file chooser for `path` (as the system names it): the
  // file is taken or refused, and the mode switched by its kind.
  void TakeFile(const std::string& path);
  void StartOperation();  // start button, Enter
  void StopOperation();   // stop button, Esc; asks only while running
  void TimerTick(TimerId id);  // a tick of a running timer
  // The receiver's label recorded with the operations started from now on;
  // none: no unit.
  void SetUnit(std::optional<std::string> unit) { unit_ = std::move(unit); }
  // The close box or "&Закрыть": true when the window may close now.  While
  // a stopping worker runs, false, and the window closes at its end.
  bool CloseRequested();

  WindowState State() const { return state_; }
  bool Busy() const { return state_ == WindowState::kRunning || state_ == WindowState::kAsking; }
  bool Idle() const { return state_ == WindowState::kIdle || state_ == WindowState::kStopping; }
  bool WorkerRunning() const { return operation_ != nullptr; }
  Mode CurrentMode() const { return mode_; }
  const std::string& FileName() const { return fileName_; }
  const std::string& PortName() const { return portName_; }
  int PortNumber() const;  // of PortName(), 1 when it has none
  const SharedFlags& Flags() const { return flags_; }

 private:
  struct Operation;
  class OperationHost;

  void Enter(WindowState state);
  void ShowMode();
  void ApplyModel();
  void StartWorker();
  // What the worker's host brings to the window thread.
  void StartTimerFor(TimerId id);
  void WorkerEnded();
  void WorkerFinished();
  void NoteFailure(Failure kind, const std::string& reason);

  WindowView& view_;
  const RulesOptions options_;
  SharedFlags flags_;
  WindowState state_ = WindowState::kIdle;
  Mode mode_ = Mode::MODE_UPDATE;
  std::string fileName_;
  std::string portName_;
  bool modelChosen_ = false;
  bool closeWhenStopped_ = false;
  std::optional<std::string> unit_;
  std::unique_ptr<Operation> operation_;
  std::uint64_t operations_ = 0;  // operations started, to tell them apart
};

// The port field's tool tip: the device that `mapping` opens.
std::string DeviceToolTip(const common::ComMapping& mapping);

// The box after a port failure (`reason`: the port, its device and the
// system's text) of the port that led to `tried`, when serial devices other
// than that one are present under `roots`; empty when there is nothing else
// to choose.
std::string PortFailureAdvice(const common::ComMapping& tried, const std::string& reason,
                              const common::DeviceRoots& roots);

}  // namespace updater
