#include "emulator/link/receiver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "common/crc32.h"
#include "torvix/link/link_frame.h"

namespace emulator {
namespace {

using Clock = std::chrono::steady_clock;
using namespace torvix;  // frame layout and codes

constexpr int kIdlePollMs = 50;
constexpr int kFrameRestMs = 3000;  // for the rest of a frame that has begun (4112 bytes at 19200 bit/s: 2.1 s)
constexpr int kBaudPollMs = 2;
constexpr int kFinalFramesMs = 100;  // quiet time that ends the last look at the line after a stop
constexpr std::uint8_t kIdentificationTag = 'R';  // byte 0 non-zero: an identification arrived
// A receiver's download frames carry up to 4096 bytes: the length field then
// needs a thirteenth bit, which the tool reads as a frame without checksum.
constexpr std::size_t kMaxDownloadBlock = kMaxFrameBody - kFrameCrcSize;
constexpr std::size_t kStreamMarkerOffset = 0x1F0040;  // mode marker in the software stream

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

}  // namespace

std::vector<std::uint8_t> IdentificationRecord(const std::string& hardwareText, const std::string& softwareText) {
  std::vector<std::uint8_t> record(kIdentificationSize, 0);
  record[0] = kIdentificationTag;
  const auto put = [&record](std::size_t offset, const std::string& text) {
    const std::size_t n = std::min(text.size(), kIdentificationFieldSize - 1);
    std::copy_n(text.begin(), n, record.begin() + static_cast<std::ptrdiff_t>(offset));
  };
  put(kIdentificationTextOffset, hardwareText);
  put(kIdentificationTextOffset + kIdentificationFieldSize, softwareText);
  return record;
}

LinkReceiver::LinkReceiver(Line& line, LinkOptions options) : line_(line), options_(std::move(options)) {}

void LinkReceiver::Log(const std::string& text) {
  if (options_.log) options_.log(text);
}

bool LinkReceiver::SendCode(int code) {
  const auto frame = BuildCommandFrame(static_cast<std::uint16_t>(code));
  return line_.Send(frame.data(), frame.size());
}

std::vector<std::uint8_t> ReceiverDataFrame(const std::uint8_t* payload, std::size_t n, bool damaged) {
  std::vector<std::uint8_t> frame = BuildDataFrame(payload, n);
  if (damaged) frame.back() ^= 0x5A;
  return frame;
}

bool DownloadDamageShows(std::size_t blockSize) { return blockSize <= kMaxPayload; }

bool LinkReceiver::SendDataFrame(const std::uint8_t* payload, std::size_t n, bool damage) {
  return line_.Send(ReceiverDataFrame(payload, n, damage));
}

bool LinkReceiver::AwaitInput(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (Stopping() || !line_.Pty().Ok()) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    if (line_.Pty().WaitReadable(static_cast<int>(std::min<long long>(left, kIdlePollMs)))) return true;
  }
}

ToolFrame ParseToolFrame(const std::vector<std::uint8_t>& header,
                         const std::function<std::vector<std::uint8_t>(std::size_t)>& receiveBody) {
  ToolFrame frame;
  if (header.size() < kFrameHeaderSize) return frame;
  if (!std::equal(kFrameMarker.begin(), kFrameMarker.end(), header.begin())) {
    frame.badMarker = true;
    return frame;
  }
  frame.code = (header[8] << 8) | header[9];
  if (frame.code != CODE_DATA) return frame;
  const std::size_t length = (static_cast<std::size_t>(header[10] & 0x0F) << 8) | header[11];
  const std::vector<std::uint8_t> body = receiveBody(length);
  if (length < kFrameCrcSize || body.size() < length) {
    frame.code = -1;
    return frame;
  }
  frame.payload.assign(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(length - kFrameCrcSize));
  const std::uint8_t* crc = body.data() + length - kFrameCrcSize;
  const std::uint32_t sent = (static_cast<std::uint32_t>(crc[0]) << 24) | (crc[1] << 16) | (crc[2] << 8) | crc[3];
  frame.damaged = length > kFrameCrcSize && sent != common::Crc32(frame.payload.data(), frame.payload.size());
  return frame;
}

LinkReceiver::Frame LinkReceiver::ReadFrame(int timeoutMs) {
  if (!AwaitInput(timeoutMs)) return Frame{};
  // The tool writes a frame in one piece: once it has begun, the rest follows.
  const std::vector<std::uint8_t> header = line_.Receive(kFrameHeaderSize, kFrameRestMs);
  Frame frame = ParseToolFrame(header, [this](std::size_t n) { return line_.Receive(n, kFrameRestMs); });
  if (frame.badMarker) {
    // Out of step with the tool: drop what is waiting and start afresh.
    line_.Pty().ReadAvailable();
    Log("frame without marker ignored");
    return frame;
  }
  if (frame.code < 0) return frame;
  {
    std::lock_guard lock(mutex_);
    codes_.push_back(frame.code);
  }
  changed_.notify_all();
  return frame;
}

bool LinkReceiver::RequestTakenByFault() {
  LinkFaults& f = options_.faults;
  if (f.ignoreRequests > 0) {
    --f.ignoreRequests;
    Log("request ignored (silent receiver)");
    return true;
  }
  if (f.unexpectedCode >= 0) {
    Log("request answered with code " + std::to_string(f.unexpectedCode));
    SendCode(f.unexpectedCode);
    f.unexpectedCode = -1;
    return true;
  }
  return false;
}

bool LinkReceiver::SendBlocks(const std::vector<std::uint8_t>& data, std::size_t blockSize) {
  LinkFaults& f = options_.faults;
  int frameNumber = 0;
  for (std::size_t offset = 0; offset < data.size();) {
    const std::size_t n = std::min(blockSize, data.size() - offset);
    ++frameNumber;
    bool damage = f.damageFrame == frameNumber;
    if (damage) f.damageFrame = 0;
    for (;;) {
      if (!SendDataFrame(data.data() + offset, n, damage)) return false;
      damage = false;
      const Frame reply = ReadFrame(options_.replyTimeoutMs);
      if (reply.code == CODE_NAK) continue;
      if (reply.code != CODE_ACK) {
        Log("transfer ended by the tool after " + std::to_string(frameNumber - 1) + " blocks (code " +
            std::to_string(reply.code) + ")");
        return false;
      }
      break;
    }
    offset += n;
    if (f.vanishAfterBlocks == frameNumber) {
      Log("vanishing after " + std::to_string(frameNumber) + " blocks");
      line_.Vanish();
      return false;
    }
  }
  return true;
}

void LinkReceiver::ServeIdentify() {
  if (RequestTakenByFault()) return;
  SendCode(CODE_ACK);
  const std::vector<std::uint8_t> record = IdentificationRecord(options_.hardwareText, options_.softwareText);
  const int parts = std::max(1, options_.identificationFrames);
  const std::size_t size = (record.size() + static_cast<std::size_t>(parts) - 1) / static_cast<std::size_t>(parts);
  if (!SendBlocks(record, size)) return;
  SendCode(CODE_IDENTIFY_END);
  if (ReadFrame(options_.replyTimeoutMs).code == CODE_ACK) {
    Log("identified as \"" + options_.hardwareText + "\" / \"" + options_.softwareText + "\"");
  }
}

void LinkReceiver::ServeRead() {
  if (RequestTakenByFault()) return;
  SendCode(CODE_ACK);
  // The tool closes its port and opens it again at 19200 bit/s; a receiver
  // talks only at that rate.
  const auto deadline = Clock::now() + std::chrono::milliseconds(options_.baudWaitMs);
  while (line_.ToolBaud() != kDownloadBaud && Clock::now() < deadline && !Stopping()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kBaudPollMs));
  }
  if (line_.ToolBaud() != kDownloadBaud) {
    Log("tool stayed at " + std::to_string(line_.ToolBaud()) + " bit/s, not 19200: database not sent");
    return;
  }
  const std::size_t blockSize = std::clamp<std::size_t>(options_.downloadBlockSize, 1, kMaxDownloadBlock);
  if (!SendBlocks(options_.databaseImage, blockSize)) return;
  SendCode(CODE_USER_DATA_END);
  if (ReadFrame(options_.replyTimeoutMs).code == CODE_ACK) {
    Log("database sent: " + std::to_string(options_.databaseImage.size()) + " bytes at 19200 bit/s");
  }
}

void LinkReceiver::ServeUpload(int announceCode) {
  if (RequestTakenByFault()) return;
  LinkFaults& f = options_.faults;
  const bool software = announceCode == CODE_SOFTWARE;
  const int endCode = software ? CODE_SOFTWARE_END : CODE_FACTORY_DATA_END;
  if (f.readyDelayMs >= 0) {
    SendCode(CODE_ACK);
    const auto readyAt = Clock::now() + std::chrono::milliseconds(f.readyDelayMs);
    while (Clock::now() < readyAt && !Stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(kBaudPollMs));
    f.readyDelayMs = -1;
  }
  SendCode(CODE_READY);
  if (ReadFrame(options_.replyTimeoutMs).code != announceCode) {
    Log("no start code after ready");
    return;
  }
  std::vector<std::uint8_t> data;
  int blocks = 0;
  for (;;) {
    const Frame frame = ReadFrame(options_.replyTimeoutMs);
    if (frame.code == CODE_DATA) {
      if (frame.damaged || (f.nakBlock == blocks + 1 && f.nakTimes > 0)) {
        if (!frame.damaged) --f.nakTimes;
        SendCode(CODE_NAK);
        continue;
      }
      data.insert(data.end(), frame.payload.begin(), frame.payload.end());
      SendCode(CODE_ACK);
      ++blocks;
      if (f.vanishAfterBlocks == blocks) {
        Log("vanishing after " + std::to_string(blocks) + " blocks");
        line_.Vanish();
        return;
      }
      continue;
    }
    if (frame.code == endCode) {
      if (f.nakEnd) {
        f.nakEnd = false;
        SendCode(CODE_NAK);
        Log("end code refused");
        return;
      }
      SendCode(CODE_ACK);
      Store(announceCode, std::move(data));
      return;
    }
    Log("upload ended by the tool after " + std::to_string(blocks) + " blocks (code " + std::to_string(frame.code) +
        ")");
    return;
  }
}

void LinkReceiver::Store(int announceCode, std::vector<std::uint8_t> data) {
  std::string note;
  const std::string* path = nullptr;
  if (announceCode == CODE_SOFTWARE) {
    note = "software received: " + std::to_string(data.size()) + " bytes";
    if (data.size() >= 4) {
      const std::uint32_t size = (static_cast<std::uint32_t>(data[0]) << 24) | (data[1] << 16) | (data[2] << 8) | data[3];
      note += ", size field " + std::to_string(size) + (size + 4 == data.size() ? " (matches)" : " (MISMATCH)");
    }
    if (data.size() > kStreamMarkerOffset) note += ", mode marker " + Hex(data[kStreamMarkerOffset]);
    path = &options_.softwareOut;
  } else {
    note = "factory data received: " + std::to_string(data.size()) + " bytes" +
           (data.size() == kDatabaseSize ? "" : " (expected 131072)");
    path = &options_.factoryOut;
  }
  if (!path->empty()) note += WriteFile(*path, data) ? ", stored in " + *path : ", CANNOT store in " + *path;
  Log(note);
  {
    std::lock_guard lock(mutex_);
    (announceCode == CODE_SOFTWARE ? software_ : factory_) = std::move(data);
    ++completedUploads_;
  }
  changed_.notify_all();
}

void LinkReceiver::Serve(const std::atomic<bool>& stop) {
  stop_ = &stop;
  while (!stop.load() && line_.Pty().Ok()) {
    const Frame request = ReadFrame(kIdlePollMs);
    switch (request.code) {
      case CODE_IDENTIFY: ServeIdentify(); break;
      case CODE_READ_USER_DATA: ServeRead(); break;
      case CODE_SOFTWARE:
      case CODE_FACTORY_DATA: ServeUpload(request.code); break;
      case CODE_ABORT: break;  // the tool gave up an exchange that is over here already
      case -1: break;
      default: Log("code " + std::to_string(request.code) + " ignored"); break;
    }
  }
  // Take on record what the tool had already sent when the stop came (such as
  // its last CODE_ABORT), so that nothing it said is lost to the stop.
  stop_ = nullptr;
  while (line_.Pty().Ok() && ReadFrame(kFinalFramesMs).code != -1) {
  }
}

std::vector<int> LinkReceiver::CodesReceived() const {
  std::lock_guard lock(mutex_);
  return codes_;
}

bool LinkReceiver::WaitForCodes(int code, int count, int timeoutMs) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return std::count(codes_.begin(), codes_.end(), code) >= count; });
}

std::vector<std::uint8_t> LinkReceiver::StoredSoftware() const {
  std::lock_guard lock(mutex_);
  return software_;
}

std::vector<std::uint8_t> LinkReceiver::StoredFactoryData() const {
  std::lock_guard lock(mutex_);
  return factory_;
}

int LinkReceiver::CompletedUploads() const {
  std::lock_guard lock(mutex_);
  return completedUploads_;
}

}  // namespace emulator
