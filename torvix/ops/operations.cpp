#include "torvix/ops/operations.h"

#include <array>
#include <cstring>
#include <sstream>

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

ConnectReport Connect(OperationContext& context) {
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

OperationResult Upgrade(OperationContext& context, int entry, const std::string& romPath, std::string& detail) {
  return Upgrade(context, entry, [&romPath]() -> std::optional<std::string> { return romPath; }, detail);
}

OperationResult Upgrade(OperationContext& context, int entryNumber, const FileChooser& chooseRom,
                        std::string& detail) {
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
    const OperationResult connected = Connect(context).result;
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

OperationResult ReadUserData(OperationContext& context, FactoryText& text, const std::string& textPath,
                             std::string& detail) {
  return ReadUserData(context, text, [&textPath]() -> std::optional<std::string> { return textPath; }, detail);
}

OperationResult ReadUserData(OperationContext& context, FactoryText& text, const FileChooser& chooseText,
                             std::string& detail) {
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
  return OperationResult::kDone;
}

OperationResult WriteFactoryData(OperationContext& context, FactoryText& text, const std::string& textPath,
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

}  // namespace torvix
