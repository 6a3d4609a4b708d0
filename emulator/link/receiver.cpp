#include "emulator/link/receiver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "common/crc32.h"
#include "emulator/link/link_wire.h"

namespace emulator {
namespace {

using Clock = std::chrono::steady_clock;
using namespace wire;  // the receiver's own reading of the frames and codes

constexpr int kIdlePollMs = 50;
constexpr int kFrameRestMs = 3000;  // for the rest of a frame that has begun (4112 bytes at 19200 bit/s: 2.1 s)
constexpr int kBaudPollMs = 2;
constexpr int kFinalFramesMs = 100;  // quiet time that ends the last look at the line after a stop
constexpr std::uint8_t kIdentificationTag = 'R';  // byte 0 non-zero: an identification arrived
// A receiver's download frames carry up to 4096 bytes: the length field then
// needs a thirteenth bit, which the tool reads as a frame without checksum.
constexpr std::size_t kMaxDownloadBlock = kLargestPayload;
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
  return line_.Send(CommandFrame(code));
}

std::vector<std::uint8_t> ReceiverDataFrame(const std::uint8_t* payload, std::size_t n, bool damaged) {
  return DataFrame(payload, n, damaged);
}

bool DownloadDamageShows(std::size_t blockSize) { return blockSize <= kCheckedPayload; }

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
  if (header.size() < kHeaderSize) return frame;
  const int code = HeaderCode(header.data(), header.size());
  if (code < 0) {
    frame.badMarker = true;
    return frame;
  }
  frame.code = code;
  if (frame.code != kData) return frame;
  const std::size_t length = LengthField(header.data());
  const std::vector<std::uint8_t> body = receiveBody(length);
  if (length < kCrcSize || body.size() < length) {
    frame.code = -1;
    return frame;
  }
  frame.payload.assign(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(length - kCrcSize));
  const std::uint32_t sent = CrcAt(body.data() + length - kCrcSize);
  frame.damaged = length > kCrcSize && sent != common::Crc32(frame.payload.data(), frame.payload.size());
  return frame;
}

LinkReceiver::Frame LinkReceiver::ReadFrame(int timeoutMs) {
  if (!AwaitInput(timeoutMs)) return Frame{};
  // The tool writes a frame in one piece: once it has begun, the rest follows.
  const std::vector<std::uint8_t> header = line_.Receive(kHeaderSize, kFrameRestMs);
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
      if (reply.code == kNak) continue;
      if (reply.code != kAck) {
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
  SendCode(kAck);
  const std::vector<std::uint8_t> record = IdentificationRecord(options_.hardwareText, options_.softwareText);
  const int parts = std::max(1, options_.identificationFrames);
  const std::size_t size = (record.size() + static_cast<std::size_t>(parts) - 1) / static_cast<std::size_t>(parts);
  if (!SendBlocks(record, size)) return;
  SendCode(kIdentifyEnd);
  if (ReadFrame(options_.replyTimeoutMs).code == kAck) {
    Log("identified as \"" + options_.hardwareText + "\" / \"" + options_.softwareText + "\"");
  }
}

void LinkReceiver::ServeRead() {
  if (RequestTakenByFault()) return;
  SendCode(kAck);
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
  SendCode(kUserDataEnd);
  if (ReadFrame(options_.replyTimeoutMs).code == kAck) {
    Log("database sent: " + std::to_string(options_.databaseImage.size()) + " bytes at 19200 bit/s");
  }
}

void LinkReceiver::ServeUpload(int announceCode) {
  if (RequestTakenByFault()) return;
  LinkFaults& f = options_.faults;
  const bool software = announceCode == kSoftware;
  const int endCode = software ? kSoftwareEnd : kFactoryDataEnd;
  if (f.readyDelayMs >= 0) {
    SendCode(kAck);
    const auto readyAt = Clock::now() + std::chrono::milliseconds(f.readyDelayMs);
    while (Clock::now() < readyAt && !Stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(kBaudPollMs));
    f.readyDelayMs = -1;
  }
  SendCode(kReady);
  if (ReadFrame(options_.replyTimeoutMs).code != announceCode) {
    Log("no start code after ready");
    return;
  }
  std::vector<std::uint8_t> data;
  int blocks = 0;
  for (;;) {
    const Frame frame = ReadFrame(options_.replyTimeoutMs);
    if (frame.code == kData) {
      if (frame.damaged || (f.nakBlock == blocks + 1 && f.nakTimes > 0)) {
        if (!frame.damaged) --f.nakTimes;
        SendCode(kNak);
        continue;
      }
      data.insert(data.end(), frame.payload.begin(), frame.payload.end());
      SendCode(kAck);
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
        SendCode(kNak);
        Log("end code refused");
        return;
      }
      SendCode(kAck);
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
  if (announceCode == kSoftware) {
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
    (announceCode == kSoftware ? software_ : factory_) = std::move(data);
    ++completedUploads_;
  }
  changed_.notify_all();
}

void LinkReceiver::Serve(const std::atomic<bool>& stop) {
  stop_ = &stop;
  while (!stop.load() && line_.Pty().Ok()) {
    const Frame request = ReadFrame(kIdlePollMs);
    switch (request.code) {
      case kIdentify: ServeIdentify(); break;
      case kReadUserData: ServeRead(); break;
      case kSoftware:
      case kFactoryData: ServeUpload(request.code); break;
      case kAbort: break;  // the tool gave up an exchange that is over here already
      case -1: break;
      default: Log("code " + std::to_string(request.code) + " ignored"); break;
    }
  }
  // Take on record what the tool had already sent when the stop came (such as
  // its last kAbort), so that nothing it said is lost to the stop.
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
