// The software update over the update profile.
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "updater/transport/file_io.h"
#include "updater/transport/packets.h"
#include "updater/transport/workers.h"
#include "updater/transport/wsw_records.h"

namespace updater {
namespace {

constexpr const char* kLineConnectFailed = "Ошибка!>>Подключение.";
constexpr const char* kLineTransferFailed = "Ошибка!>>Получение.";

// Receive passes allowed for the announcement and for every later token.
constexpr int kAnnouncementPasses = 5;
constexpr int kTokenPasses = 4;

void ReportOpenFailure(const std::string& portName, const UpdaterPort& port, WorkerHost& host) {
  // The port, its device and the system's reason follow the fixed words.
  host.AddStatusLine("Ошибка!>> COM Порт " + port.FailureText(portName));
  if (const std::string hint = port.AccessHint(portName, common::HintLanguage::kRussian); !hint.empty()) {
    host.AddStatusLine(hint);
  }
  host.AddStatusLine("Проверьте эти параметры. ");
  host.AddStatusLine("Скорость:115200bps Оптимально ");
  host.AddStatusLine("Четность:нет четности");
  host.AddStatusLine("Биты данных:8 бит ");
  host.AddStatusLine("Стоповый бит:1");
  host.AddStatusLine("Управл. потоком:Нет");
}

// Runs ScanForToken with `test` up to `passes` times; true on the first hit.
bool WaitFor(UpdaterPort& port, int passes, const GroupTest& test) {
  for (int pass = 0; pass < passes; ++pass) {
    if (port.ScanForToken(test)) return true;
  }
  return false;
}

bool WaitForToken(UpdaterPort& port, TokenKind kind, int passes = kTokenPasses) {
  return WaitFor(port, passes, [&](const std::uint8_t* group, std::size_t received) {
    return port.MatchToken(kind, group, received);
  });
}

bool SendToken(UpdaterPort& port, std::string_view token) {
  const TokenBytes bytes = ToTokenBytes(token);
  return port.WriteWithRetry(bytes.data(), bytes.size());
}

bool SendTokenKind(UpdaterPort& port, TokenKind kind) {
  const TokenBytes bytes = port.BytesOf(kind);
  return port.WriteWithRetry(bytes.data(), bytes.size());
}

// Polls the line five bytes at a time until `kind` comes; false once the
// completion counter has passed its limit first.
bool AwaitStage(UpdaterPort& port, TokenKind kind, const SharedFlags& flags) {
  for (;;) {
    TokenBytes group{};
    std::size_t received = 0;
    if (!port.ReadBytes(group.data(), group.size(), received)) {
      // A failed read returns at once; pause as long as a quiet read would
      // last rather than spin.
      received = 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(6));
    }
    if (port.MatchToken(kind, group.data(), received)) return true;
    if (flags.secondsCounter.load() > kUpdateCompletionTicks) return false;
  }
}

enum class RecordResult { kSent, kEndOfRecords, kFailed, kEndedQuietly };

// Steps 13 to 22 for one record.
RecordResult SendRecord(InputFile& file, std::uint16_t recordCount, std::uint8_t* recordBuffer,
                        UpdaterPort& port, WorkerHost& host) {
  const RecordHead head = ReadRecordHead(file, recordBuffer);
  switch (head.start) {
    case RecordStart::kFragment:
      host.AddStatusLine(kLineTransferFailed);
      return RecordResult::kEndOfRecords;
    case RecordStart::kEnd: return RecordResult::kEndOfRecords;
    // A record that cannot fit the buffer is refused before the receiver hears of it.
    case RecordStart::kTooLarge: return RecordResult::kFailed;
    case RecordStart::kRecord: break;
  }
  const std::uint32_t payload = head.payload;
  const auto announce = EncodeRecordAnnounce(payload);
  if (!port.WriteWithRetry(announce.data(), announce.size())) return RecordResult::kFailed;
  if (!WaitForToken(port, TokenKind::TK_ACK)) return RecordResult::kEndedQuietly;
  if (!SendTokenKind(port, TokenKind::TK_NXT)) return RecordResult::kFailed;
  // A record cut short by the end of the file is not sent at all.
  if (!ReadRecordRest(file, recordBuffer, payload)) return RecordResult::kFailed;

  const int percentage = RecordPercentage(GetBe16(recordBuffer + kRecordIndexOffset), recordCount);
  host.SetProgressRange(0, 100);
  host.SetProgressStep(1);
  host.SetProgressPosition(percentage);
  host.SetSecondsText(std::to_string(percentage) + "%");

  const RecordWrites writes = RecordWritesFor(payload);
  for (std::size_t i = 0; i < writes.pieces; ++i) {
    if (!port.WriteWithRetry(recordBuffer + i * kRecordWriteSize, kRecordWriteSize)) return RecordResult::kFailed;
  }
  if (writes.remainder != 0 &&
      !port.WriteWithRetry(recordBuffer + writes.pieces * kRecordWriteSize, writes.remainder)) {
    return RecordResult::kFailed;
  }
  if (!WaitForToken(port, TokenKind::TK_ACK)) return RecordResult::kFailed;
  if (!SendTokenKind(port, TokenKind::TK_NXT)) return RecordResult::kFailed;
  return RecordResult::kSent;
}

// Steps 25 to 31.
bool Complete(UpdaterPort& port, WorkerHost& host) {
  if (!SendToken(port, kTokenDis) || !WaitForToken(port, TokenKind::TK_ACK)) {
    host.AddStatusLine(kLineTransferFailed);
    return false;
  }
  host.AddStatusLine(" Подождтите!");
  host.AddStatusLine("Не выключайте!");
  SharedFlags& flags = host.Flags();
  host.StartTimer(TimerId::COMPLETION_TIMER);
  if (!AwaitStage(port, TokenKind::TK_DLD, flags) || !AwaitStage(port, TokenKind::TK_DBD, flags)) {
    host.AddStatusLine("Ошибка!>> Ресивер не отвечает.");
    return false;
  }
  // The counter restarts here.  The timer is started afresh rather than only
  // zeroed: it may have stopped itself at the very tick in which "2DBD3"
  // came, and a stopped counter would leave the last stage waiting for ever.
  host.StartTimer(TimerId::COMPLETION_TIMER);
  if (!AwaitStage(port, TokenKind::TK_DVD, flags)) {
    host.AddStatusLine("Ошибка!>>Ресивер не отвечает.");
    return false;
  }
  const TokenBytes closing = ToTokenBytes(kTokenDis);
  port.WriteBytes(closing.data(), closing.size());
  host.AddStatusLine("");
  host.AddStatusLine(" OK! >> Обновление ПО завершено.");
  host.ShowMessage("Обновление ПО завершено. ");
  return true;
}

// Everything after the port is open; the caller runs the common end.
Outcome RunUpdate(const Job& job, InputFile& file, UpdaterPort& port, WorkerHost& host) {
  auto fail = [&](const char* line) {
    host.AddStatusLine(line);
    return Outcome::kFailed;
  };
  host.AddStatusLine("Подключение..");
  if (!WaitFor(port, kAnnouncementPasses, IsUpdateAnnouncement)) return fail(kLineConnectFailed);
  if (!SendTokenKind(port, TokenKind::TK_ACK)) return fail(kLineConnectFailed);
  if (!WaitForToken(port, TokenKind::TK_NXT)) return fail(kLineConnectFailed);
  host.AddStatusLine(" OK! >>Подключение.");

  std::uint8_t header[kWswHeaderSize];
  std::size_t got = 0;
  const bool read = file.Read(header, sizeof header, got);
  if (!read || got < sizeof header || header[0] != kWswMagic0 || header[1] != kWswMagic1) {
    if (read) {
      host.ReportFailure(Failure::kRefusedFile, job.fileName + ": no software file (it does not begin with 55 AA)");
    } else {
      host.ReportFailure(Failure::kFile, file.Error());
    }
    return fail("Ошибка!>>Не тот тип файла!");
  }
  const std::uint16_t recordCount = GetBe16(header + kWswRecordCountOffset);
  if (!port.WriteWithRetry(header, sizeof header)) return fail(kLineTransferFailed);
  if (!WaitForToken(port, TokenKind::TK_ACK)) {
    host.AddStatusLine(kLineTransferFailed);
    return fail("Проверьте модель Ресивера!");
  }
  if (!SendTokenKind(port, TokenKind::TK_NXT)) return fail(kLineTransferFailed);
  host.AddStatusLine(" Получение... ");

  const auto recordBuffer = std::make_unique<std::uint8_t[]>(kRecordBufferSize);
  for (;;) {
    switch (SendRecord(file, recordCount, recordBuffer.get(), port, host)) {
      case RecordResult::kSent:
        if (host.Flags().cancelRequested.load()) return Outcome::kFailed;
        continue;
      case RecordResult::kEndOfRecords:
        return Complete(port, host) ? Outcome::kSucceeded : Outcome::kFailed;
      case RecordResult::kFailed:
        return fail(kLineTransferFailed);
      case RecordResult::kEndedQuietly:
        return Outcome::kFailed;
    }
  }
}

}  // namespace

Outcome UpdateSoftware(const Job& job, UpdaterPort& port, WorkerHost& host) {
  InputFile file;
  Outcome outcome = Outcome::kFailed;
  if (!file.Open(job.fileName)) {
    host.ReportFailure(Failure::kFile, file.Error());
    host.AddStatusLine("[Ошибка!] : Файл");
  } else if (const OpenResult opened = port.OpenUpdatePort(job.portName); opened != OpenResult::kOk) {
    const std::string hint = port.AccessHint(job.portName, common::HintLanguage::kEnglish);
    host.ReportFailure(Failure::kPort, port.FailureText(job.portName) + (hint.empty() ? "" : "\n" + hint));
    // Refused line settings end the update without a status line.
    if (opened == OpenResult::kOpenFailed) ReportOpenFailure(job.portName, port, host);
  } else {
    outcome = RunUpdate(job, file, port, host);
  }
  file.Close();
  port.ClosePort();
  EndWorker(host);
  return outcome;
}

}  // namespace updater
