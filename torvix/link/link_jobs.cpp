#include "torvix/link/link_jobs.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "torvix/link/link_frame.h"

namespace torvix {
namespace {

std::string Format(const char* format, int a) {
  char text[128];
  std::snprintf(text, sizeof text, format, a);
  return text;
}

std::string Format(const char* format, int a, int b, int c) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// What every job shares: the stop check, the endings and the counters.
class Exchange {
 public:
  explicit Exchange(LinkJob& job) : job_(job), port_(*job.port), host_(*job.host) {}

  SerialPort& Port() { return port_; }
  JobHost& Host() { return host_; }
  const JobLimits& Limits() const { return job_.limits; }

  // The stop check: when a stop was requested, tells the receiver, ends the
  // job and returns true; the caller then returns at once.  No outcome.
  bool Stopped() {
    if (job_.state->load() != JOB_STOP_REQUESTED) return false;
    SendCommand(port_, CODE_ABORT);
    job_.state->store(JOB_ENDED);
    host_.PostClose();
    return true;
  }

  // The failure ending.
  void Fail() {
    SendCommand(port_, CODE_ABORT);
    if (Stopped()) return;
    host_.PostJobResult(JOB_RESULT_FAILURE);
    job_.state->store(JOB_ENDED);
    host_.PostClose();
  }

  // Outcome 1, ended, and (unless the host closes after its own message) the close request.
  void Succeed(bool postClose) {
    host_.PostJobResult(JOB_RESULT_SUCCESS);
    job_.state->store(JOB_ENDED);
    if (postClose) host_.PostClose();
  }

  // Ended without outcome or abort: the receiver never took the request.
  void EndQuietly() {
    job_.state->store(JOB_ENDED);
    host_.PostClose();
  }

  void Status(const std::string& text) { host_.SetStatusText(text); }
  void BlockStatus(const char* format) { Status(Format(format, blocks, total, errors)); }

  int blocks = 0;  // data frames acknowledged
  int errors = 0;  // NAKs sent or received
  int total = 0;   // blocks expected

 private:
  LinkJob& job_;
  SerialPort& port_;
  JobHost& host_;
};

// Where an upload's blocks come from.
class BlockSource {
 public:
  enum class Next { kMore, kDone, kFailed };
  virtual ~BlockSource() = default;
  // Fills `block` with the first block; false when the image cannot be read.
  virtual bool First(std::vector<std::uint8_t>& block) = 0;
  // After `blocks` acknowledged blocks: the next one, or the end.
  virtual Next Following(int blocks, std::vector<std::uint8_t>& block) = 0;
};

// The software stream: the 4-byte big-endian size, then the file from offset
// 42, in blocks of 4080 file bytes (the first with the size in front), with
// the mode marker in place of the upgrade flag byte.
class SoftwareBlocks : public BlockSource {
 public:
  SoftwareBlocks(ImageStream& file, int upgradeMode) : file_(file), marker_(UpgradeMarker(upgradeMode)) {}

  bool First(std::vector<std::uint8_t>& block) override {
    const auto size = static_cast<std::uint32_t>(file_.Length() - kRomImageHeaderSize);
    block.resize(kSoftwareSizePrefix + kSoftwareBlockSize);
    block[0] = static_cast<std::uint8_t>(size >> 24);
    block[1] = static_cast<std::uint8_t>(size >> 16);
    block[2] = static_cast<std::uint8_t>(size >> 8);
    block[3] = static_cast<std::uint8_t>(size);
    const long got = file_.Read(block.data() + kSoftwareSizePrefix, kSoftwareBlockSize);
    if (got < 0) return false;
    block.resize(kSoftwareSizePrefix + static_cast<std::size_t>(got));
    return true;
  }

  Next Following(int blocks, std::vector<std::uint8_t>& block) override {
    block.resize(kSoftwareBlockSize);
    const long got = file_.Read(block.data(), kSoftwareBlockSize);
    if (got < 0) return Next::kFailed;
    block.resize(static_cast<std::size_t>(got));
    if (got == 0) return Next::kDone;
    if (blocks == kModeMarkerBlock && block.size() > kModeMarkerOffset) block[kModeMarkerOffset] = marker_;
    return Next::kMore;
  }

 private:
  ImageStream& file_;
  std::uint8_t marker_;
};

// The database image in 64 blocks of 2048 bytes.
class FactoryBlocks : public BlockSource {
 public:
  explicit FactoryBlocks(const std::uint8_t* image) : image_(image) {}

  bool First(std::vector<std::uint8_t>& block) override {
    block.assign(image_, image_ + kFactoryBlockSize);
    return true;
  }

  Next Following(int blocks, std::vector<std::uint8_t>& block) override {
    const std::size_t offset = static_cast<std::size_t>(blocks) * kFactoryBlockSize;
    if (offset >= kDatabaseImageSize) return Next::kDone;
    block.assign(image_ + offset, image_ + offset + kFactoryBlockSize);
    return Next::kMore;
  }

 private:
  const std::uint8_t* image_;
};

struct UploadKind {
  std::uint16_t announceCode;  // sent to announce, and again to start
  std::uint16_t endCode;
  bool factory;                // pauses of the factory data; stop checks around the announce reply otherwise
};

void Pause(std::chrono::milliseconds duration) {
  if (duration.count() > 0) std::this_thread::sleep_for(duration);
}

// Announce, wait for ready, start, blocks, end: both uploads.
void Upload(LinkJob& job, const UploadKind& kind, BlockSource& source, int total) {
  Exchange x(job);
  SerialPort& port = x.Port();
  x.total = total;
  x.Host().SetProgressRange(static_cast<std::uint16_t>(total));
  x.Status(kStatusConnecting);

  bool ready = false;
  for (;;) {
    if (x.Stopped()) return;
    SendCommand(port, kind.announceCode);
    if (kind.factory) Pause(x.Limits().announcePause);
    if (!kind.factory && x.Stopped()) return;
    const int reply = ReceiveFrame(port, nullptr, nullptr);
    if (!kind.factory && x.Stopped()) return;
    if (reply == CODE_ACK) break;
    if (reply == CODE_READY) {
      ready = true;
      break;
    }
    if (reply != RECV_TIMEOUT) return x.Fail();
  }
  // The receiver took the announce: wait as long as it takes for its ready.
  while (!ready) {
    if (x.Stopped()) return;
    const int reply = ReceiveFrame(port, nullptr, nullptr);
    if (x.Stopped()) return;
    if (reply == CODE_READY) break;
    if (reply != RECV_TIMEOUT) return x.Fail();
  }

  x.Status(kStatusConnectionComplete);
  SendCommand(port, kind.announceCode);
  if (kind.factory) Pause(x.Limits().startPause);
  std::vector<std::uint8_t> block;
  if (!source.First(block)) return x.Fail();
  x.Status(kStatusUploading);

  for (;;) {
    if (x.Stopped()) return;
    SendData(port, block.data(), block.size());
    if (kind.factory) Pause(x.Limits().blockPause);
    if (x.Stopped()) return;
    const int reply = ReceiveFrame(port, nullptr, nullptr);
    if (reply == CODE_ACK) {
      if (x.Stopped()) return;
      ++x.blocks;
      const BlockSource::Next next = source.Following(x.blocks, block);
      // A block that could not be read whole is never sent.
      if (next == BlockSource::Next::kFailed) return x.Fail();
      x.Host().SetProgressPosition(x.blocks);
      x.BlockStatus(kStatusUploadBlock);
      if (next == BlockSource::Next::kMore) continue;
      SendCommand(port, kind.endCode);
      if (ReceiveFrame(port, nullptr, nullptr) != CODE_ACK) return x.Fail();
      x.Status(kStatusUploadComplete);
      x.Status(kStatusTransferComplete);
      // The host closes once the operator has read its completion message.
      x.Succeed(false);
      return;
    }
    if (reply == CODE_NAK) {
      if (x.Stopped()) return;
      ++x.errors;
      x.BlockStatus(kStatusUploadError);
      continue;  // the same block again, without limit
    }
    return x.Fail();
  }
}

}  // namespace

int UpgradeTotal(std::uint64_t fileLength) {
  const auto stream = static_cast<std::uint32_t>(fileLength - 10);
  return static_cast<int>((static_cast<std::uint64_t>(stream) + kSoftwareBlockSize - 1) / kSoftwareBlockSize);
}

void ApplyPortLimits(SerialPort& port, const JobLimits& limits) {
  port.SetOperationTimeout(limits.operationTimeout);
  port.SetCommTimeoutValues(limits.readInterval, limits.readPerByte, limits.readConstant, limits.writePerByte,
                            limits.writeConstant);
}

void ConnectThreadProc(LinkJob& job) {
  Exchange x(job);
  SerialPort& port = x.Port();
  x.Status(kStatusConnecting);
  if (x.Stopped()) return;
  SendCommand(port, CODE_IDENTIFY);
  // No second try: a receiver that is off fails the connect after one read time-out.
  if (ReceiveFrame(port, nullptr, nullptr) != CODE_ACK) return x.Fail();

  std::array<std::uint8_t, kFrameBufferSize> work{};
  std::size_t fill = 0;
  for (;;) {
    if (x.Stopped()) return;
    std::uint32_t n = 0;
    const int reply = ReceiveFrame(port, work.data(), &n);
    if (reply == RECV_DAMAGED) {
      SendCommand(port, CODE_NAK);
      continue;
    }
    if (reply == CODE_DATA) {
      // What does not fit the 96-byte record is dropped.
      const std::size_t take = std::min<std::size_t>(n, kReceiverInfoSize - fill);
      std::memcpy(job.receiverInfo + fill, work.data(), take);
      fill += take;
      SendCommand(port, CODE_ACK);
      continue;
    }
    if (reply == CODE_IDENTIFY_END) {
      SendCommand(port, CODE_ACK);
      if (x.Stopped()) return;
      x.Succeed(true);
      return;
    }
    return x.Fail();
  }
}

void ReadUserDataThreadProc(LinkJob& job) {
  Exchange x(job);
  SerialPort& port = x.Port();
  x.Status(kStatusConnecting);
  SendCommand(port, CODE_READ_USER_DATA);
  if (ReceiveFrame(port, nullptr, nullptr) != CODE_ACK) return x.EndQuietly();

  // The receiver sends the image at 19200 bit/s once it has acknowledged.
  port.Close();
  port.OpenAtBaud(kDownloadBaud);  // a failure has shown its box; the reads below then fail
  ApplyPortLimits(port, x.Limits());
  x.Status(kStatusDownloading);

  // The image is downloaded aside and replaces the caller's only when the
  // receiver has said it is complete: a failed or stopped download leaves the
  // caller's image as it was, never a mix of new and old blocks.
  std::vector<std::uint8_t> scratch(kDatabaseImageSize, 0);
  std::size_t fill = 0;
  std::array<std::uint8_t, kFrameBufferSize> work{};
  x.total = kDownloadStartTotal;
  for (;;) {
    if (x.Stopped()) return;
    std::uint32_t n = 0;
    const int reply = ReceiveFrame(port, work.data(), &n);
    if (reply == CODE_DATA) {
      if (x.Stopped()) return;
      // What does not fit the image is dropped.
      const std::size_t take = std::min<std::size_t>(n, kDatabaseImageSize - fill);
      std::memcpy(scratch.data() + fill, work.data(), take);
      fill += take;
      if (x.blocks == 0) {
        // An empty first block gives no block size: the starting total stays.
        if (n != 0) x.total = static_cast<int>(kDatabaseImageSize / n);
        x.Host().SetProgressRange(static_cast<std::uint16_t>(x.total));
      }
      ++x.blocks;
      x.Host().SetProgressPosition(x.blocks);
      x.BlockStatus(kStatusDownloadBlock);
      SendCommand(port, CODE_ACK);
      continue;
    }
    if (reply == CODE_USER_DATA_END) {
      SendCommand(port, CODE_ACK);
      // The whole image is the receiver's: a short one leaves zeros behind
      // its end, never the contents of an earlier image.
      std::memcpy(job.databaseImage, scratch.data(), scratch.size());
      x.Succeed(true);
      return;
    }
    if (reply == RECV_DAMAGED) {
      if (x.Stopped()) return;
      SendCommand(port, CODE_NAK);
      if (x.Stopped()) return;
      ++x.errors;
      x.BlockStatus(kStatusDownloadError);
      continue;
    }
    x.Host().ShowMessageBox(Format(kCommunicationErrorText, reply));
    if (x.Stopped()) return;
    return x.Fail();
  }
}

void UpgradeThreadProc(LinkJob& job) {
  SoftwareBlocks blocks(*job.imageFile, job.upgradeMode);
  Upload(job, {CODE_SOFTWARE, CODE_SOFTWARE_END, false}, blocks, UpgradeTotal(job.imageFile->Length()));
}

void WriteFactoryDataThreadProc(LinkJob& job) {
  FactoryBlocks blocks(job.databaseImage);
  Upload(job, {CODE_FACTORY_DATA, CODE_FACTORY_DATA_END, true}, blocks, kFactoryBlockCount);
}

JobProc JobForOperation(OperationCode operation) {
  switch (operation) {
    case OperationCode::Connect: return ConnectThreadProc;
    case OperationCode::Upgrade: return UpgradeThreadProc;
    case OperationCode::WriteFactoryData: return WriteFactoryDataThreadProc;
    case OperationCode::ReadUserData: return ReadUserDataThreadProc;
  }
  return nullptr;
}

}  // namespace torvix
