#include "updater/ops/window_rules.h"

#include <thread>
#include <utility>

#include "common/device_map.h"
#include "updater/ops/window_texts.h"
#include "updater/transport/file_checks.h"

namespace updater {
namespace {

const char* const kModelToken = "DB4EU";

// `pattern` with each %1 replaced by `first` and each %2 by `second`.
std::string Fill(const char* pattern, const std::string& first, const std::string& second = {}) {
  std::string text;
  for (const char* c = pattern; *c != '\0'; ++c) {
    if (c[0] == '%' && (c[1] == '1' || c[1] == '2')) {
      text += c[1] == '1' ? first : second;
      ++c;
    } else {
      text += *c;
    }
  }
  return text;
}

// Where COM`number` leads now (the default under `roots`).
common::ComMapping CurrentDevice(int number, const common::DeviceRoots& roots) {
  return common::DeviceMap(common::kUpdaterSettings, common::SettingsFoldersFromEnvironment(), roots).Resolve(number);
}

}  // namespace

ModeControls ControlsFor(Mode mode, bool modelChosen) {
  switch (mode) {
    // The settings modes are named once a model is chosen.  Until then the
    // label is empty rather than still naming the mode left behind.
    case Mode::MODE_SEND: return {modelChosen ? kSendLabel : "", kStartSend, false};
    case Mode::MODE_RECEIVE: return {modelChosen ? kReceiveLabel : "", kStartReceive, false};
    case Mode::MODE_UPDATE: break;
  }
  return {kUpdateLabel, kStartUpdate, true};
}

Outcome RunOperation(Mode mode, const Job& job, UpdaterPort& port, WorkerHost& host) {
  switch (mode) {
    case Mode::MODE_SEND: return SendSettings(job, port, host);
    case Mode::MODE_RECEIVE: return ReceiveSettings(job, port, host);
    case Mode::MODE_UPDATE: break;
  }
  return UpdateSoftware(job, port, host);
}

// The worker's host: every call runs on the window thread and is waited for.
// Each copies what it shows: the worker's strings live on its stack.
class WindowRules::OperationHost : public WorkerHost {
 public:
  // `mode` is the operation's, which the timer ticks follow even when the
  // window's mode changes after a confirmed stop.
  OperationHost(WindowRules& rules, Mode mode) : WorkerHost(rules.flags_), rules_(rules), mode_(mode) {}
  Mode OperationMode() const { return mode_; }

  void AddStatusLine(const std::string& line) override {
    Run([v = &rules_.view_, line] { v->AddStatusLine(line); });
  }
  void SetProgressRange(int low, int high) override {
    Run([v = &rules_.view_, low, high] { v->SetProgressRange(low, high); });
  }
  // The bar moves only by positions; its step has no use here.
  void SetProgressStep(int) override {}
  void SetProgressPosition(int position) override {
    Run([v = &rules_.view_, position] { v->SetProgressPosition(position); });
  }
  void SetSecondsText(const std::string& text) override {
    Run([v = &rules_.view_, text] { v->SetSecondsText(text); });
  }
  void ShowMessage(const std::string& text) override {
    Run([v = &rules_.view_, text] { v->ShowBox(text); });
  }
  void StartTimer(TimerId id) override {
    Run([r = &rules_, id] { r->StartTimerFor(id); });
  }
  void StopTimers() override {
    Run([v = &rules_.view_] { v->StopTimers(); });
  }
  void WorkerEnded() override {
    Run([r = &rules_] { r->WorkerEnded(); });
  }
  // A port failure is kept for the box shown at the worker's end.
  void ReportFailure(Failure kind, const std::string& reason) override {
    Run([r = &rules_, kind, reason] { r->NoteFailure(kind, reason); });
  }

 private:
  void Run(std::function<void()> call) { rules_.view_.RunOnWindowThread(std::move(call)); }

  WindowRules& rules_;
  const Mode mode_;
};

// One operation: its worker thread, port and host.
struct WindowRules::Operation {
  Operation(WindowRules& rules, Mode mode, const PortTimings& timings, std::uint64_t serial)
      : host(rules, mode), port(timings), serial(serial) {}
  OperationHost host;
  UpdaterPort port;
  const std::uint64_t serial;
  std::thread thread;
  bool ended = false;         // the worker's common end has reached the window
  common::ComMapping device;  // where the port name led at the start
  std::string portFailure;    // why the port did not open or take its settings
};

WindowRules::WindowRules(WindowView& view, RulesOptions options) : view_(view), options_(std::move(options)) {}

WindowRules::~WindowRules() {
  if (!operation_) return;
  flags_.cancelRequested.store(true);
  // A completion stage waits for the counter; it never moves again.
  flags_.secondsCounter.store(kUpdateCompletionTicks + 1);
  operation_->port.Interrupt();
  operation_->thread.join();
}

void WindowRules::Open() {
  SelectMode(Mode::MODE_UPDATE);
  SelectPort(1);
}

void WindowRules::Enter(WindowState state) {
  state_ = state;
  view_.EnableStop(state == WindowState::kRunning || state == WindowState::kAsking);
}

// ---- Modes, port, model, file ------------------------------------------------

void WindowRules::ShowMode() { view_.ShowMode(mode_, ControlsFor(mode_, modelChosen_)); }

void WindowRules::SelectMode(Mode mode) {
  if (Busy()) {
    ShowMode();  // the radios back at the running mode
    return;
  }
  mode_ = mode;
  view_.SetProgressPosition(0);
  view_.ClearStatusLines();
  ShowMode();
  for (const char* line : kPortLines) view_.AddStatusLine(line);
}

void WindowRules::SelectPort(int number) {
  portName_ = "COM" + std::to_string(number);
  RefreshPort();
}

int WindowRules::PortNumber() const { return common::ComPortNumber(portName_).value_or(1); }

void WindowRules::RefreshPort() {
  view_.ShowPort(PortNumber(), portName_, DeviceToolTip(CurrentDevice(PortNumber(), options_.deviceRoots)));
}

void WindowRules::ApplyModel() {
  // The token is always the same: every entry of the list has one effect.
  modelChosen_ = true;
  if (mode_ != Mode::MODE_UPDATE) ShowMode();
}

void WindowRules::ChooseFile() {
  if (Busy()) {
    view_.ShowBox(kBusyText);
    return;
  }
  const std::optional<std::string> path = view_.ChooseFilePath(ControlsFor(mode_, modelChosen_).softwareFiles);
  if (path) TakeFile(*path);
}

void WindowRules::TakeFile(const std::string& path) {
  if (Busy()) {
    view_.ShowBox(kBusyText);
    return;
  }
  switch (ClassifyFileName(path)) {
    case FileKind::kNone:
      view_.ShowBox(kWrongFileText);
      return;
    case FileKind::kSoftware:
      fileName_ = path;
      // A software image switches to the update; any other file is taken
      // silently and the update refuses it later.
      if (HasSoftwareSignature(path)) {
        view_.SelectModel(0);
        ApplyModel();
        SelectMode(Mode::MODE_UPDATE);
      }
      break;
    case FileKind::kSettings:
      fileName_ = path;
      SelectMode(mode_ == Mode::MODE_RECEIVE ? Mode::MODE_RECEIVE : Mode::MODE_SEND);
      break;
  }
  view_.ShowFile(fileName_);
}

// ---- Start, stop, the worker's end -------------------------------------------

void WindowRules::StartOperation() {
  // A stopping worker still holds the port: no second one beside it.
  if (state_ != WindowState::kIdle) {
    view_.ShowBox(kBusyText);
    return;
  }
  if (fileName_.empty()) {
    view_.ShowBox(kChooseFileText);
    ChooseFile();
    return;
  }
  Enter(WindowState::kRunning);
  ApplyModel();
  view_.ClearStatusLines();
  StartWorker();
}

void WindowRules::StartWorker() {
  operation_ = std::make_unique<Operation>(*this, mode_, options_.portTimings, ++operations_);
  Operation* op = operation_.get();
  op->port.SetModelToken(kModelToken);
  // What the worker reads from the window when it starts.
  const Job job{fileName_, portName_, kPortBaudRate};
  // The device as the worker is about to find it, for the field and for a
  // box should it not open.
  op->device = CurrentDevice(PortNumber(), options_.deviceRoots);
  RefreshPort();
  common::OperationHistory history = options_.history;
  history.unit = unit_;
  op->thread = std::thread([this, op, job, history = std::move(history)] {
    const Mode mode = op->host.OperationMode();
    RunRecorded(mode, job, op->host, history,
                [&](WorkerHost& host) { return options_.worker(mode, job, op->port, host); });
    view_.PostToWindowThread([this] { WorkerFinished(); });
  });
}

void WindowRules::StopOperation() {
  if (state_ != WindowState::kRunning) return;
  const std::uint64_t asked = operation_->serial;
  // The worker goes on while the question is open: pausing a thread at an
  // arbitrary point could leave it holding a lock this thread needs.
  Enter(WindowState::kAsking);
  const bool yes = view_.AskStop(StopQuestionFor(mode_));
  // The operation ended while the question was open: nothing to answer.
  if (!operation_ || operation_->serial != asked || operation_->ended) return;
  if (yes) {
    flags_.cancelRequested.store(true);
    view_.AddStatusLine(kWaitLine);
    Enter(WindowState::kStopping);
    // Cuts short a wait for the receiver that has no end of its own.
    operation_->port.Interrupt();
  } else {
    flags_.cancelRequested.store(false);
    Enter(WindowState::kRunning);
  }
}

void WindowRules::StartTimerFor(TimerId id) {
  flags_.secondsCounter.store(0);
  view_.StartTimer(id);
}

void WindowRules::TimerTick(TimerId id) {
  if (!operation_) return;
  updater::TimerTick(operation_->host, id, operation_->host.OperationMode());
}

void WindowRules::WorkerEnded() {
  const bool asking = state_ == WindowState::kAsking;
  Enter(WindowState::kStopping);
  if (operation_) operation_->ended = true;
  // A stop question about an operation that has ended asks nothing.
  if (asking) view_.CloseQuestion();
}

void WindowRules::WorkerFinished() {
  if (!operation_) return;
  // The worker's last act was to post this: it is at its end.
  operation_->thread.join();
  const common::ComMapping device = operation_->device;
  const std::string portFailure = operation_->portFailure;
  operation_.reset();
  Enter(WindowState::kIdle);
  if (closeWhenStopped_) {
    view_.CloseWindow();
    return;
  }
  // The status lines name the port's settings; when the device may be the
  // wrong one and others are there, say so and where another is chosen.
  if (!portFailure.empty()) {
    const std::string advice = PortFailureAdvice(device, portFailure, options_.deviceRoots);
    if (!advice.empty()) view_.ShowBox(advice, /*warning=*/true);
  }
}

void WindowRules::NoteFailure(Failure kind, const std::string& reason) {
  if (kind == Failure::kPort && operation_) operation_->portFailure = reason;
}

bool WindowRules::CloseRequested() {
  if (Busy()) return false;
  if (operation_) {
    // Asked to stop and not yet ended: the window closes at the worker's end.
    closeWhenStopped_ = true;
    return false;
  }
  return true;
}

// ---- The port's device -------------------------------------------------------

std::string DeviceToolTip(const common::ComMapping& mapping) {
  if (mapping.source == common::ComSource::kEnvironment) {
    return Fill(kDeviceToolTipEnvironment, mapping.path, mapping.name);
  }
  return Fill(kDeviceToolTip, mapping.path);
}

std::string PortFailureAdvice(const common::ComMapping& tried, const std::string& reason,
                              const common::DeviceRoots& roots) {
  if (!common::OtherSerialDevicesPresent(tried.path, roots)) return {};
  const bool fromEnvironment = tried.source == common::ComSource::kEnvironment;
  return reason + Fill(fromEnvironment ? kPortAdviceEnvironment : kPortAdvice, tried.name);
}

}  // namespace updater
