#include "torvix/ops/operations.h"

#include <array>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/replacing_file.h"
#include "torvix/link/rom_image.h"
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

OperationResult Upgrade(OperationContext& context, int entry, const std::string& romPath, std::string& fileError) {
  return Upgrade(context, entry, [&romPath]() -> std::optional<std::string> { return romPath; }, fileError);
}

OperationResult Upgrade(OperationContext& context, int entryNumber, const FileChooser& chooseRom,
                        std::string& fileError) {
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
  if (!file.Open(*romPath)) {
    fileError = *romPath + ": " + file.Error();
    return OperationResult::kFileError;
  }
  RomImageCheck check;
  if (!CheckRomImage(file, check)) {
    fileError = *romPath + ": " + file.Error();
    return OperationResult::kFileError;
  }
  if (!check.magicOk) {
    ui.ShowWarning(kWrongRomImage, context.programName);
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
      return OperationResult::kRefused;
    }
  }
  OperationData data;
  data.imageFile = &file;
  data.upgradeMode = values.upgradeMode;
  return ToOperationResult(context.progress.Run(OperationCode::Upgrade, data));
}

OperationResult ReadUserData(OperationContext& context, FactoryText& text, const std::string& textPath,
                             std::string& fileError) {
  return ReadUserData(context, text, [&textPath]() -> std::optional<std::string> { return textPath; }, fileError);
}

OperationResult ReadUserData(OperationContext& context, FactoryText& text, const FileChooser& chooseText,
                             std::string& fileError) {
  if (!context.ui.ConfirmReceiverOn(kTurnOnReceiver, context.programName)) return OperationResult::kDeclined;
  const std::optional<std::string> textPath = chooseText();
  if (!textPath) return OperationResult::kDeclined;
  // Make sure the text can be written before the receiver is kept busy.
  common::ReplacingFile file;
  if (!file.Create(*textPath)) {
    fileError = file.Error();
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
    fileError = file.Error();
    return OperationResult::kFileError;
  }
  return OperationResult::kDone;
}

OperationResult WriteFactoryData(OperationContext& context, FactoryText& text, const std::string& textPath,
                                 std::string& fileError) {
  std::ifstream in(textPath, std::ios::binary);
  if (!in) {
    fileError = textPath + ": " + std::strerror(errno);
    return OperationResult::kFileError;
  }
  std::string message;
  if (text.Compile(in, message) != 0) {
    context.ui.ShowWarning(message, context.programName);
    return OperationResult::kRefused;
  }
  OperationData data;
  data.databaseImage = text.Image();
  return ToOperationResult(context.progress.Run(OperationCode::WriteFactoryData, data));
}

}  // namespace torvix
