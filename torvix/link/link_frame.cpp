#include "torvix/link/link_frame.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "common/crc32.h"

namespace torvix {
namespace {

constexpr std::size_t kCodeOffset = 8;
constexpr std::size_t kLengthOffset = 10;
constexpr std::size_t kMinLengthField = kFrameCrcSize;  // an empty payload and its CRC

void PutBigEndian16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value & 0xFF);
}

// Notes `n` bytes of a frame sent or received in the port's trace, if any;
// returns `result`.
int Note(common::WireTrace* trace, common::WireDirection direction, int result, const std::uint8_t* frame,
         std::size_t n) {
  if (trace == nullptr) return result;
  std::string name;
  switch (result) {
    case RECV_TIMEOUT: name = "(time-out)"; break;
    case RECV_BAD_MARKER: name = "(bad marker)"; break;
    case RECV_DAMAGED: name = "DATA (damaged)"; break;
    default: name = FrameCodeName(result); break;
  }
  const std::size_t from = result == RECV_BAD_MARKER || n < kCodeOffset ? 0 : kCodeOffset;
  trace->Record(std::chrono::steady_clock::now(), direction, name, n, frame + from, n - from);
  return result;
}

std::uint32_t GetBigEndian32(const std::uint8_t* at) {
  return (static_cast<std::uint32_t>(at[0]) << 24) | (static_cast<std::uint32_t>(at[1]) << 16) |
         (static_cast<std::uint32_t>(at[2]) << 8) | at[3];
}

}  // namespace

std::array<std::uint8_t, kCommandFrameSize> BuildCommandFrame(std::uint16_t code) {
  std::array<std::uint8_t, kCommandFrameSize> frame{};
  std::copy(kFrameMarker.begin(), kFrameMarker.end(), frame.begin());
  PutBigEndian16(&frame[kCodeOffset], code);
  frame[kLengthOffset] = 0;
  frame[kLengthOffset + 1] = 0;
  return frame;
}

std::vector<std::uint8_t> BuildDataFrame(const std::uint8_t* payload, std::size_t n) {
  std::vector<std::uint8_t> frame(kFrameHeaderSize + n + kFrameCrcSize);
  std::copy(kFrameMarker.begin(), kFrameMarker.end(), frame.begin());
  PutBigEndian16(&frame[kCodeOffset], CODE_DATA);
  const std::size_t length = n + kFrameCrcSize;
  frame[kLengthOffset] = static_cast<std::uint8_t>((length >> 8) & 0xFF);
  frame[kLengthOffset + 1] = static_cast<std::uint8_t>(length & 0xFF);
  if (n != 0) std::memcpy(&frame[kFrameHeaderSize], payload, n);
  const std::uint32_t crc = common::Crc32(payload, n);
  std::uint8_t* tail = &frame[kFrameHeaderSize + n];
  tail[0] = static_cast<std::uint8_t>(crc >> 24);
  tail[1] = static_cast<std::uint8_t>(crc >> 16);
  tail[2] = static_cast<std::uint8_t>(crc >> 8);
  tail[3] = static_cast<std::uint8_t>(crc);
  return frame;
}

std::string FrameCodeName(int code) {
  switch (code) {
    case CODE_ACK: return "ACK";
    case CODE_NAK: return "NAK";
    case CODE_ABORT: return "ABORT";
    case CODE_READY: return "READY";
    case CODE_IDENTIFY: return "IDENTIFY";
    case CODE_IDENTIFY_END: return "IDENTIFY_END";
    case CODE_SOFTWARE: return "SOFTWARE";
    case CODE_SOFTWARE_END: return "SOFTWARE_END";
    case CODE_FACTORY_DATA: return "FACTORY_DATA";
    case CODE_FACTORY_DATA_END: return "FACTORY_DATA_END";
    case CODE_READ_USER_DATA: return "READ_USER_DATA";
    case CODE_USER_DATA_END: return "USER_DATA_END";
    case CODE_DATA: return "DATA";
    default: return "code " + std::to_string(code);
  }
}

int SendCommand(SerialPort& port, std::uint16_t code) {
  const auto frame = BuildCommandFrame(code);
  std::uint32_t written = 0;
  port.Write(frame.data(), static_cast<std::uint32_t>(frame.size()), written);
  Note(port.Trace(), common::WireDirection::kSent, code, frame.data(), written);
  return 0;
}

int SendData(SerialPort& port, const std::uint8_t* payload, std::size_t n) {
  if (n > kMaxPayload) return 0;
  const auto frame = BuildDataFrame(payload, n);
  std::uint32_t written = 0;
  port.Write(frame.data(), static_cast<std::uint32_t>(frame.size()), written);
  Note(port.Trace(), common::WireDirection::kSent, CODE_DATA, frame.data(), written);
  return 0;
}

bool CheckFrameCrc(const std::uint8_t* frame) {
  const std::size_t l = (static_cast<std::size_t>(frame[kLengthOffset] & 0x0F) << 8) | frame[kLengthOffset + 1];
  if (l <= kFrameCrcSize) return true;
  const std::uint32_t sent = GetBigEndian32(frame + kFrameHeaderSize + l - kFrameCrcSize);
  return sent == common::Crc32(frame + kFrameHeaderSize, l - kFrameCrcSize);
}

namespace {

class PortSource : public FrameSource {
 public:
  explicit PortSource(SerialPort& port) : port_(port) {}
  bool Read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received) override {
    return port_.Read(buffer, count, received);
  }
  common::WireTrace* Trace() override { return port_.Trace(); }

 private:
  SerialPort& port_;
};

}  // namespace

int ReceiveFrame(SerialPort& port, std::uint8_t* payload, std::uint32_t* length) {
  PortSource source(port);
  return ReceiveFrameFrom(source, payload, length);
}

int ReceiveFrameFrom(FrameSource& source, std::uint8_t* payload, std::uint32_t* length) {
  std::array<std::uint8_t, kFrameBufferSize> frame;
  std::uint32_t received = 0;
  constexpr auto kIn = common::WireDirection::kReceived;
  common::WireTrace* const trace = source.Trace();
  if (!source.Read(frame.data(), kFrameHeaderSize, received)) return Note(trace, kIn, RECV_TIMEOUT, frame.data(), received);
  if (!std::equal(kFrameMarker.begin(), kFrameMarker.end(), frame.begin())) {
    return Note(trace, kIn, RECV_BAD_MARKER, frame.data(), received);
  }
  const int code = (frame[kCodeOffset] << 8) | frame[kCodeOffset + 1];
  if (code != CODE_DATA) return Note(trace, kIn, code, frame.data(), received);
  // All 16 bits of the length decide how much follows.  A value the frame
  // buffer cannot hold, or too small to hold the CRC, cannot come from an
  // intact frame: refuse it before reading on.
  const std::uint32_t bodyLength = (static_cast<std::uint32_t>(frame[kLengthOffset]) << 8) | frame[kLengthOffset + 1];
  if (bodyLength < kMinLengthField || bodyLength > kMaxFrameBody) {
    return Note(trace, kIn, RECV_DAMAGED, frame.data(), kFrameHeaderSize);
  }
  if (!source.Read(frame.data() + kFrameHeaderSize, bodyLength, received)) {
    return Note(trace, kIn, RECV_TIMEOUT, frame.data(), kFrameHeaderSize + received);
  }
  if (!CheckFrameCrc(frame.data())) return Note(trace, kIn, RECV_DAMAGED, frame.data(), kFrameHeaderSize + bodyLength);
  const std::uint32_t payloadLength = bodyLength - static_cast<std::uint32_t>(kFrameCrcSize);
  if (payload != nullptr) std::memcpy(payload, frame.data() + kFrameHeaderSize, payloadLength);
  if (length != nullptr) *length = payloadLength;
  return Note(trace, kIn, CODE_DATA, frame.data(), kFrameHeaderSize + bodyLength);
}

}  // namespace torvix
