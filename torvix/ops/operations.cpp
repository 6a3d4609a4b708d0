#include "torvix/ops/operations.h"

#include <array>
#include <cstring>
#include <sstream>
#include <utility>

#include "common/device_map.h"
#include "common/exit_codes.h"

#include "torvix/link/rom_image.h"
#include "torvix/ops/input_file.h"
#include "torvix/ops/output_file.h"
#include "torvix/ops/rom_preflight.h"
#include "torvix/ops/upgrade_entries.h"

namespace torvix {
namespace {

constexpr std::size_t kHardwareTextOffset = 32;
constexpr std::size_t kSoftwareTextOffset = 64;

// A version text of the record: up to the first NUL, at most 31 characters.
std::string RecordText(const std::array<std::uint8_t, kReceiverInfoSize>& record, std::size_t offset) {
  const char* text = reinterpret_cast<const char*>(record.data() + offset);
  return std::string(text, ::strnlen(text, kVersionTextLength));
}

}  // namespace

OperationResult ToOperationResult(JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::kSucceeded: return OperationResult::kDone;
    case JobOutcome::kStopped: return OperationResult::kStopped;
    case JobOutcome::kPortNotOpened: return OperationResult::kPortNotOpened;
    case JobOutcome::kFailed:
    case JobOutcome::kNoOutcome: return OperationResult::kFailed;
  }
  return OperationResult::kFailed;
}

namespace {

// The operation's own boxes and the receiver information, noted on their way
// to the front end for the history; everything else passes through.
// Called on the operation's thread only: the progress sessions show their
// jobs' calls on the front end's own view, not on this one.
class NotingUi : public OperationUi {
 public:
  NotingUi(OperationUi& ui, std::string& shown) : ui_(ui), shown_(shown) {}

  void ShowReceiverInformation(const ConnectReport& report) override {
    if (report.identified) versions_ = {report.hardwareText, report.softwareText};
    ui_.ShowReceiverInformation(report);
  }
  void ShowWarning(const std::string& text, const std::string& caption) override {
    shown_ = text;
    ui_.ShowWarning(text, caption);
  }
  void ShowMessage(const std::string& text, const std::string& caption) override {
    shown_ = text;
    ui_.ShowMessage(text, caption);
  }
  bool ConfirmReceiverOn(const std::string& text, const std::string& caption) override {
    return ui_.ConfirmReceiverOn(text, caption);
  }
  bool ConfirmWholeUpgrade(const std::string& text, const std::string& caption) override {
    return ui_.ConfirmWholeUpgrade(text, caption);
  }
  std::optional<std::string> AskAccessCode() override { return ui_.AskAccessCode(); }
  void ShowFactoryList(const FactoryList& list) override { ui_.ShowFactoryList(list); }
  bool ConfirmListWithoutServices(const std::string& question, const std::string& caption) override {
    return ui_.ConfirmListWithoutServices(question, caption);
  }
  void ShowStatus(const std::string& text) override { ui_.ShowStatus(text); }
  void ShowProgressRange(std::uint16_t maximum) override { ui_.ShowProgressRange(maximum); }
  void ShowProgressPosition(int position) override { ui_.ShowProgressPosition(position); }
  bool AskStopUpgrade(const std::string& question, const std::string& caption) override {
    return ui_.AskStopUpgrade(question, caption);
  }
  void ShowSerialError(const std::string& caption, const std::string& systemText) override {
    ui_.ShowSerialError(caption, systemText);
  }

  // The hardware and software texts of the last identification, if any.
  const std::optional<std::pair<std::string, std::string>>& Versions() const { return versions_; }

 private:
  OperationUi& ui_;
  std::string& shown_;
  std::optional<std::pair<std::string, std::string>> versions_;
};

// The progress windows of an operation, noting the box a failed one showed.
class NotingProgress : public ProgressRunner {
 public:
  NotingProgress(ProgressRunner& progress, std::string& shown) : progress_(progress), shown_(shown) {}
  JobOutcome Run(OperationCode operation, const OperationData& data) override {
    const JobOutcome outcome = progress_.Run(operation, data);
    if (outcome == JobOutcome::kPortNotOpened) {
      shown_ = kOpenErrorText;
    } else if (outcome == JobOutcome::kFailed) {
      if (const std::optional<ResultMessage> message = ResultMessageFor(operation, false)) shown_ = message->text;
    }
    return outcome;
  }
  std::optional<PortChoice> NextPort() const override { return progress_.NextPort(); }

 private:
  ProgressRunner& progress_;
  std::string& shown_;
};

// One operation's row in the history, when the context carries a recorder:
// begun on construction, finished by Finish().  The operation runs on
// Context(), which notes what the operator is shown.
class RecordedRun {
 public:
  RecordedRun(OperationContext& context, const char* operation, std::optional<std::string> mode,
              std::optional<std::string> file = std::nullopt)
      : ui_(context.ui, shown_),
        progress_(context.progress, shown_),
        context_{context.values, ui_, progress_, context.programName, context.portFailureEndsUpgrade,
                 context.history} {
    const common::OperationHistory& history = context.history;
    if (history.recorder == nullptr) return;
    history::Start start;
    start.program = history.program;
    start.version = history.version;
    start.operation = operation;
    start.mode = std::move(mode);
    start.file = std::move(file);
    start.unit = history.unit;
    if (const std::optional<PortChoice> port = context.progress.NextPort()) {
      if (port->devicePath.empty()) {
        start.port = "COM" + std::to_string(port->portNumber);
        start.device = common::ResolvePortName(*start.port, common::kTorvixSettings);
      } else {
        start.device = port->devicePath;
      }
    }
    entry_.emplace(history.recorder->Begin(start));
  }

  OperationContext& Context() { return context_; }
  void SetFile(const std::string& path) {
    if (entry_) entry_->SetFile(path);
  }
  // Completes the row with `result` and returns it.  A failure's message is
  // the last box shown, with the operation's `detail` on the file after it.
  OperationResult Finish(OperationCode operation, OperationResult result, const std::string& detail) {
    if (!entry_) return result;
    if (const auto& versions = ui_.Versions()) entry_->SetVersions(versions->first, versions->second);
    const int code = ExitCodeFor(operation, result);
    const std::string_view outcome = common::HistoryResultFor(code);
    std::string message;
    if (outcome == history::kFailed || outcome == history::kRefused) {
      message = common::ShownLine(shown_);
      if (!detail.empty()) message += (message.empty() ? "" : "; ") + detail;
    }
    entry_->Finish(outcome, code, message);
    return result;
  }

 private:
  std::string shown_;
  NotingUi ui_;
  NotingProgress progress_;
  OperationContext context_;
  std::optional<history::Entry> entry_;  // none without a recorder
};

ConnectReport ConnectBody(OperationContext& context) {
  context.values.connectAttempted = true;
  std::array<std::uint8_t, kReceiverInfoSize> record{};
  OperationData data;
  data.receiverInfo = record.data();
  const JobOutcome outcome = context.progress.Run(OperationCode::Connect, data);
  ConnectReport report;
  report.result = ToOperationResult(outcome);
  // A stopped connect may have left part of a record: it counts as failed.
  if (outcome == JobOutcome::kSucceeded && record[0] != 0) {
    report.identified = true;
    report.hardwareText = RecordText(record, kHardwareTextOffset);
    report.softwareText = RecordText(record, kSoftwareTextOffset);
    context.values.hardwareNumber = HardwareNumberFromText(report.hardwareText);
  } else if (report.result == OperationResult::kDone) {
    report.result = OperationResult::kFailed;
  }
  context.ui.ShowReceiverInformation(report);
  return report;
}

OperationResult UpgradeBody(OperationContext& context, int entryNumber, const FileChooser& chooseRom,
                            const std::function<void(const std::string&)>& chosen, std::string& detail) {
  ProgramValues& values = context.values;
  OperationUi& ui = context.ui;
  const UpgradeEntry* entry = FindUpgradeEntry(entryNumber);
  if (entry == nullptr) return OperationResult::kRefused;
  if (entry->needsAccessCode && !values.accessGranted) {
    const std::optional<std::string> code = ui.AskAccessCode();
    if (!code) return OperationResult::kDeclined;
    if (!AccessCodeMatches(*code)) {
      ui.ShowMessage(kPasswordError, context.programName);
      return OperationResult::kRefused;
    }
    values.accessGranted = true;
  }
  values.upgradeMode = entry->upgradeMode;
  const std::optional<std::string> romPath = chooseRom();
  if (!romPath) return OperationResult::kDeclined;
  chosen(*romPath);

  RomImageFile file;
  RomImageCheck check;
  if (!file.Open(*romPath) || !CheckRomImage(file, check)) {
    detail = *romPath + ": " + file.Error();
    return OperationResult::kFileError;
  }
  if (!check.Sendable()) {
    ui.ShowWarning(kWrongRomImage, context.programName);
    detail = *romPath + ": " + RomRefusalText(check, file.Length());
    return OperationResult::kRefused;
  }
  if (entry->asksWholeUpgrade && check.upgradeFlagByte == 0) {
    if (!ui.ConfirmWholeUpgrade(kWholeUpgradeQuestion, context.programName)) return OperationResult::kDeclined;
    values.upgradeMode = UpgradeModeOf(*entry, true);
  }
  if (entry->connectsFirst && !values.connectAttempted) {
    const OperationResult connected = ConnectBody(context).result;
    // The operator's stop was meant for the whole entry, not for the connect alone.
    if (connected == OperationResult::kStopped) return connected;
    if (connected == OperationResult::kPortNotOpened && context.portFailureEndsUpgrade) return connected;
  }
  if (entry->checksHardware) {
    if (!check.expectedHardware || *check.expectedHardware != values.hardwareNumber) {
      ui.ShowMessage(kHardwareVersionError, context.programName);
      detail = *romPath + ": " + HardwareMismatchText(check, values.hardwareNumber);
      return OperationResult::kRefused;
    }
  }
  OperationData data;
  data.imageFile = &file;
  data.upgradeMode = values.upgradeMode;
  return ToOperationResult(context.progress.Run(OperationCode::Upgrade, data));
}

OperationResult ReadUserDataBody(OperationContext& context, FactoryText& text, const FileChooser& chooseText,
                                 const std::function<void(const std::string&)>& written, std::string& detail) {
  if (!context.ui.ConfirmReceiverOn(kTurnOnReceiver, context.programName)) return OperationResult::kDeclined;
  const std::optional<std::string> textPath = chooseText();
  if (!textPath) return OperationResult::kDeclined;
  // Make sure the text can be written before the receiver is kept busy.
  OutputFile file;
  if (!file.Create(*textPath)) {
    detail = file.Error();
    return OperationResult::kFileError;
  }
  OperationData data;
  data.databaseImage = text.Image();
  const JobOutcome outcome = context.progress.Run(OperationCode::ReadUserData, data);
  if (outcome == JobOutcome::kStopped) return OperationResult::kStopped;
  if (outcome != JobOutcome::kSucceeded) {
    context.ui.ShowWarning(kFactoryDataNotValid, context.programName);
    return ToOperationResult(outcome);
  }
  std::ostringstream printed(std::ios::binary);
  if (text.Print(printed) != 0) {
    context.ui.ShowWarning(kFactoryDataNotValid, context.programName);
    return OperationResult::kRefused;
  }
  if (!file.Write(printed.str()) || !file.Commit()) {
    detail = file.Error();
    return OperationResult::kFileError;
  }
  written(*textPath);
  return OperationResult::kDone;
}

OperationResult WriteFactoryDataBody(OperationContext& context, FactoryText& text, const std::string& textPath,
                                     std::string& detail) {
  InputFile in;
  if (!in.Open(textPath)) {
    detail = in.Error();
    return OperationResult::kFileError;
  }
  std::string message;
  const int compiled = text.Compile(in.Stream(), message);
  // A text that could not be read to its end is no text the reader judged.
  if (in.Failed()) {
    detail = in.Error();
    return OperationResult::kFileError;
  }
  if (compiled != 0) {
    context.ui.ShowWarning(message, context.programName);
    detail = TextErrorAt(textPath, message.substr(0, message.find('\n')));
    return OperationResult::kRefused;
  }
  const FactoryList list = FactoryListOf(text.Image());
  context.ui.ShowFactoryList(list);
  if (list.services == 0 && !context.ui.ConfirmListWithoutServices(kNoServicesQuestion, context.programName)) {
    return OperationResult::kDeclined;
  }
  OperationData data;
  data.databaseImage = text.Image();
  return ToOperationResult(context.progress.Run(OperationCode::WriteFactoryData, data));
}

}  // namespace

int ExitCodeFor(OperationCode operation, OperationResult result) {
  switch (result) {
    case OperationResult::kDone: return common::kExitOk;
    case OperationResult::kFailed: return common::kExitFailed;
    case OperationResult::kStopped: return common::kExitStopped;
    case OperationResult::kDeclined: return common::kExitDeclined;
    case OperationResult::kRefused:
      return operation == OperationCode::ReadUserData ? common::kExitInvalidImage : common::kExitRefused;
    case OperationResult::kFileError: return common::kExitFile;
    case OperationResult::kPortNotOpened: return common::kExitPortNotOpened;
  }
  return common::kExitFailed;
}

ConnectReport Connect(OperationContext& context) {
  RecordedRun run(context, "connect", std::nullopt);
  const ConnectReport report = ConnectBody(run.Context());
  run.Finish(OperationCode::Connect, report.result, {});
  return report;
}

OperationResult Upgrade(OperationContext& context, int entry, const std::string& romPath, std::string& detail) {
  return Upgrade(context, entry, [&romPath]() -> std::optional<std::string> { return romPath; }, detail);
}

OperationResult Upgrade(OperationContext& context, int entry, const FileChooser& chooseRom, std::string& detail) {
  RecordedRun run(context, "upgrade", std::to_string(entry));
  const OperationResult result =
      UpgradeBody(run.Context(), entry, chooseRom, [&run](const std::string& path) { run.SetFile(path); }, detail);
  return run.Finish(OperationCode::Upgrade, result, detail);
}

OperationResult ReadUserData(OperationContext& context, FactoryText& text, const std::string& textPath,
                             std::string& detail) {
  return ReadUserData(context, text, [&textPath]() -> std::optional<std::string> { return textPath; }, detail);
}

OperationResult ReadUserData(OperationContext& context, FactoryText& text, const FileChooser& chooseText,
                             std::string& detail) {
  RecordedRun run(context, "read-user-data", std::nullopt);
  // The file is named (and hashed) once it holds what was read.
  const OperationResult result = ReadUserDataBody(
      run.Context(), text, chooseText, [&run](const std::string& path) { run.SetFile(path); }, detail);
  return run.Finish(OperationCode::ReadUserData, result, detail);
}

OperationResult WriteFactoryData(OperationContext& context, FactoryText& text, const std::string& textPath,
                                 std::string& detail) {
  RecordedRun run(context, "write-factory-data", std::nullopt, textPath);
  const OperationResult result = WriteFactoryDataBody(run.Context(), text, textPath, detail);
  return run.Finish(OperationCode::WriteFactoryData, result, detail);
}

}  // namespace torvix
