// The settings transfer in both directions over the transfer profile.
#include <memory>
#include <new>
#include <vector>

#include "updater/transport/file_io.h"
#include "updater/transport/packets.h"
#include "updater/transport/workers.h"

namespace updater {
namespace {

constexpr const char* kLineOk = ".....................................OK! ";
constexpr const char* kLineError = ".....................................Ошибка!";
constexpr const char* kLineCancelled = "Отменено!";

// Bar advance per completion tick, kept for the rest of the run.
constexpr int kSettingsProgressStep = 19;
// Reads of the completion stage that may pass before "2DBD3" comes.
constexpr int kSecondStageReads = 11;
// How often Updater repeats the last completion token of a reception.
constexpr int kFinalTokenRepeats = 1001;
// Handshake attempts of a reception.
constexpr int kReceiveHandshakeAttempts = 2;

int Percentage(std::uint32_t done, std::uint32_t total) {
  return static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(total));
}

void ReportOpenFailure(OpenResult result, const std::string& portName, const UpdaterPort& port,
                       WorkerHost& host) {
  const std::string hint = port.AccessHint(portName, common::HintLanguage::kEnglish);
  host.ReportFailure(Failure::kPort, port.FailureText(portName) + (hint.empty() ? "" : "\n" + hint));
  if (result == OpenResult::kSettingsRefused) {
    host.AddStatusLine("Инициализация  " + portName + " ошибка.");
    return;
  }
  // The first line names the port, its device and the system's reason:
  // refused access, no such device and a port held by another program each
  // call for something else.
  host.AddStatusLine("Не возможно открыть COM порт     " + port.FailureText(portName));
  if (const std::string russian = port.AccessHint(portName, common::HintLanguage::kRussian); !russian.empty()) {
    host.AddStatusLine(russian);
  }
  host.AddStatusLine("Проверьте параметры COM  Порта. Не возможно открыть COM порт     ");
  host.AddStatusLine("Скорость порта:115200bps Оптимально");
  host.AddStatusLine("Четность  : нет     ");
  host.AddStatusLine("Биты данных:8 бит    ");
  host.AddStatusLine("Стоповые биты:1");
  host.AddStatusLine("Проверьте не занят ли COM Порт ");
}

// The common end shared by both directions; a settings operation first
// clears the bar and tells of a stop request.
Outcome FinishSettings(Outcome outcome, UpdaterPort& port, WorkerHost& host) {
  host.SetProgressPosition(0);
  if (host.Flags().cancelRequested.load()) host.AddStatusLine(kLineCancelled);
  port.ClosePort();
  EndWorker(host);
  return outcome;
}

// Steps 8 to 16 of a send: header, then every block with its acknowledgements.
bool TransferBlocks(const std::uint8_t* image, std::uint16_t blockCount, std::uint32_t baseAddress,
                    UpdaterPort& port, WorkerHost& host) {
  const auto header = EncodeSettingsHeader({blockCount, static_cast<std::uint32_t>(blockCount * kBlockSize)});
  if (!port.WriteBytes(header.data(), header.size()) || !port.ExpectToken(TokenKind::TK_ACK) ||
      !port.SendToken(TokenKind::TK_NXT)) {
    return false;
  }
  for (std::uint32_t i = 0; i < blockCount; ++i) {
    const std::uint8_t* data = image + static_cast<std::size_t>(i) * kBlockSize;
    const BlockHeader block{static_cast<std::uint16_t>(i), baseAddress + i * static_cast<std::uint32_t>(kBlockSize),
                            static_cast<std::uint16_t>(kBlockSize), Crc32(data, kBlockSize)};
    const auto blockHeader = EncodeBlockHeader(block);
    if (!port.WriteBytes(blockHeader.data(), blockHeader.size()) || !port.ExpectToken(TokenKind::TK_ACK)) {
      return false;
    }
    host.SetProgressRange(0, blockCount - 1);
    host.SetProgressStep(1);
    host.SetProgressPosition(static_cast<int>(i));
    host.SetSecondsText(std::to_string(Percentage(i + 1, blockCount)) + "%");
    if (!port.WriteBytes(data, kBlockSize) || !port.ExpectToken(TokenKind::TK_ACK)) return false;
    if (host.Flags().cancelRequested.load()) {
      host.AddStatusLine("Стоп!........");
      port.SendToken(TokenKind::TK_DER);
      return false;
    }
  }
  return true;
}

// Steps 17 to 20 of a send: the receiver's three completion tokens.
bool AwaitSendCompletion(bool transferred, UpdaterPort& port, WorkerHost& host) {
  host.StartTimer(TimerId::COMPLETION_TIMER);
  if (!transferred || !port.ExpectToken(TokenKind::TK_DLD)) return false;
  host.AddStatusLine(kLineOk);
  host.AddStatusLine("Проверка настроек......");
  bool second = false;
  for (int read = 0; read < kSecondStageReads && !second; ++read) second = port.ExpectToken(TokenKind::TK_DBD);
  if (!second) {
    host.StopTimers();
    return false;
  }
  if (!port.ExpectToken(TokenKind::TK_DVD)) return false;
  host.AddStatusLine(kLineOk);
  return true;
}

}  // namespace

Outcome SendSettings(const Job& job, UpdaterPort& port, WorkerHost& host) {
  host.AddStatusLine("Соединение........");
  InputFile file;
  std::uint64_t size = 0;
  if (!file.Open(job.fileName) || !file.Size(size)) {
    host.ReportFailure(Failure::kFile, file.Error());
    host.AddStatusLine("Ошибка! Нет доступа к файлу " + file.Error());
    host.AddStatusLine(kLineError);
    return FinishSettings(Outcome::kFailed, port, host);
  }
  const std::uint64_t rounded = RoundUpToBlock(size);
  // Below the smallest image, or more blocks than the header can count.
  if (size < kSmallestSettingsFile || rounded / kBlockSize > kMaxSettingsBlocks) {
    host.ReportFailure(Failure::kRefusedFile, job.fileName + ": " + std::to_string(size) +
                                                  " bytes; a settings file has " +
                                                  std::to_string(kSmallestSettingsFile) + " to " +
                                                  std::to_string(std::uint64_t{kMaxSettingsBlocks} * kBlockSize));
    host.SetSecondsText("");
    host.AddStatusLine("Проверьте Файл! ");
    port.ClosePort();
    EndWorker(host);
    return Outcome::kFailed;
  }
  const std::uint32_t baseAddress = BaseAddressFor(size);
  host.Flags().progressStep.store(kSettingsProgressStep);
  host.StartTimer(TimerId::SECONDS_TIMER);
  host.SetProgressRange(0, 100);
  host.SetProgressPosition(0);

  if (const OpenResult opened = port.OpenTransferPort(job.portName, job.baudRate); opened != OpenResult::kOk) {
    ReportOpenFailure(opened, job.portName, port, host);
    host.AddStatusLine(kLineError);
    return FinishSettings(Outcome::kFailed, port, host);
  }
  if (!port.ExpectToken(TokenKind::TK_MODEL) || !port.SendToken(TokenKind::TK_ACK) ||
      !port.ExpectToken(TokenKind::TK_NXT)) {
    // The handshake's own line, then the outcome's.
    host.AddStatusLine(kLineError);
    host.AddStatusLine(kLineError);
    return FinishSettings(Outcome::kFailed, port, host);
  }
  host.AddStatusLine(kLineOk);

  host.StopTimers();
  // Zero-filled, so the last block's fill bytes are zero.
  std::unique_ptr<std::uint8_t[]> image(new (std::nothrow) std::uint8_t[rounded]());
  if (!image) {
    host.AddStatusLine(kLineError);
    return FinishSettings(Outcome::kFailed, port, host);
  }
  std::size_t got = 0;
  bool transferred = false;
  if (file.Read(image.get(), size, got) && got == size) {
    host.AddStatusLine("Передача настроек...");
    transferred = TransferBlocks(image.get(), static_cast<std::uint16_t>(rounded / kBlockSize), baseAddress, port, host);
  } else {
    host.ReportFailure(Failure::kFile, file.Error().empty() ? job.fileName + ": cut short while read" : file.Error());
  }
  const bool completed = AwaitSendCompletion(transferred, port, host);
  image.reset();
  port.ClosePort();
  if (!completed) {
    host.AddStatusLine(kLineError);
    return FinishSettings(Outcome::kFailed, port, host);
  }
  host.SetProgressPosition(100);
  host.StopTimers();
  host.AddStatusLine("Удачная загрузка! ");
  host.ShowMessage("Удачная загрузка! ");
  return FinishSettings(Outcome::kSucceeded, port, host);
}

namespace {

struct ReceivedBlock {
  std::uint16_t index = 0;
  std::uint32_t address = 0;
  std::vector<std::uint8_t> data;
};

// Reads exactly `n` bytes in one read of the profile; false when fewer came.
bool ReadPacket(UpdaterPort& port, std::uint8_t* buffer, std::size_t n) {
  std::size_t received = 0;
  return port.ReadBytes(buffer, n, received) && received == n;
}

// Steps 6 to 13 of a reception: header, blocks, and the size check.
bool ReceiveBlocks(UpdaterPort& port, WorkerHost& host, std::vector<ReceivedBlock>& blocks) {
  std::uint8_t headerBytes[kSettingsHeaderSize];
  if (!ReadPacket(port, headerBytes, sizeof headerBytes)) return false;
  const auto header = DecodeSettingsHeader(headerBytes, sizeof headerBytes);
  if (!header) return false;
  if (!port.SendToken(TokenKind::TK_ACK) || !port.ExpectToken(TokenKind::TK_NXT)) return false;
  std::uint64_t total = 0;
  for (std::uint32_t a = 0; a < header->blockCount; ++a) {
    host.SetProgressRange(0, header->blockCount - 1);
    host.SetProgressStep(1);
    host.SetProgressPosition(static_cast<int>(a));
    std::uint8_t blockBytes[kBlockHeaderSize];
    if (!ReadPacket(port, blockBytes, sizeof blockBytes)) return false;
    const auto block = DecodeBlockHeader(blockBytes, sizeof blockBytes);
    if (!block || block->length > kBlockSize) return false;
    total += block->length;
    if (!port.SendToken(TokenKind::TK_ACK)) return false;
    host.SetSecondsText(std::to_string(Percentage(a + 1, header->blockCount)) + "%");
    ReceivedBlock received{block->index, block->address, std::vector<std::uint8_t>(block->length)};
    if (!ReadPacket(port, received.data.data(), received.data.size())) return false;
    if (Crc32(received.data.data(), received.data.size()) != block->dataCrc) return false;
    blocks.push_back(std::move(received));
    if (!port.SendToken(TokenKind::TK_ACK)) return false;
    if (host.Flags().cancelRequested.load()) {
      port.SendToken(TokenKind::TK_DER);
      return false;
    }
  }
  return total == header->imageSize;
}

// Step 14 after a good reception: the file goes in place between the second
// and the third completion token, once both of the first are out.
bool FinishReception(const std::vector<ReceivedBlock>& blocks, ReplacingFile& file, UpdaterPort& port,
                     WorkerHost& host) {
  if (!port.SendToken(TokenKind::TK_DLD)) return false;
  for (const ReceivedBlock& block : blocks) {
    if (!file.Write(block.data.data(), block.data.size())) {
      host.ReportFailure(Failure::kFile, file.Error());
      return false;
    }
  }
  if (!port.SendToken(TokenKind::TK_DBD)) return false;
  if (!file.Commit()) {
    host.ReportFailure(Failure::kFile, file.Error());
    return false;
  }
  for (int i = 0; i < kFinalTokenRepeats; ++i) port.SendToken(TokenKind::TK_DVD);
  return true;
}

bool ReceiveHandshake(UpdaterPort& port) {
  for (int attempt = 0; attempt < kReceiveHandshakeAttempts; ++attempt) {
    if (port.SendToken(TokenKind::TK_MODEL) && port.ExpectToken(TokenKind::TK_ACK)) {
      return port.SendToken(TokenKind::TK_NXT);
    }
  }
  return false;
}

}  // namespace

Outcome ReceiveSettings(const Job& job, UpdaterPort& port, WorkerHost& host) {
  host.AddStatusLine("Соединение........ ");
  host.StartTimer(TimerId::SECONDS_TIMER);
  ReplacingFile file;
  if (!file.Create(job.fileName)) {
    // No status line here; the reason is for hosts that can show it.
    host.ReportFailure(Failure::kFile, file.Error());
    EndWorker(host);
    return Outcome::kFailed;
  }
  if (const OpenResult opened = port.OpenTransferPort(job.portName, job.baudRate); opened != OpenResult::kOk) {
    ReportOpenFailure(opened, job.portName, port, host);
    host.AddStatusLine(kLineError);
    return FinishSettings(Outcome::kFailed, port, host);
  }
  if (!ReceiveHandshake(port)) {
    port.ClosePort();
    host.AddStatusLine(kLineError);
    return FinishSettings(Outcome::kFailed, port, host);
  }
  host.StopTimers();
  host.AddStatusLine(kLineOk);
  host.AddStatusLine("Получение настроек...");

  std::vector<ReceivedBlock> blocks;
  bool succeeded = false;
  if (ReceiveBlocks(port, host, blocks)) {
    succeeded = FinishReception(blocks, file, port, host);
  } else {
    port.SendToken(TokenKind::TK_DER);
  }
  blocks.clear();
  port.ClosePort();
  if (!succeeded) {
    host.AddStatusLine(kLineError);
    return FinishSettings(Outcome::kFailed, port, host);
  }
  host.AddStatusLine(kLineOk);
  host.ShowMessage("Получено удачно! ");
  host.AddStatusLine("Получено удачно! ");
  return FinishSettings(Outcome::kSucceeded, port, host);
}

}  // namespace updater
