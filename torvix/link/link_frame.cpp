#include "torvix/link/link_frame.h"

#include <algorithm>
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

int SendCommand(SerialPort& port, std::uint16_t code) {
  const auto frame = BuildCommandFrame(code);
  std::uint32_t written = 0;
  port.Write(frame.data(), static_cast<std::uint32_t>(frame.size()), written);
  return 0;
}

int SendData(SerialPort& port, const std::uint8_t* payload, std::size_t n) {
  if (n > kMaxPayload) return 0;
  const auto frame = BuildDataFrame(payload, n);
  std::uint32_t written = 0;
  port.Write(frame.data(), static_cast<std::uint32_t>(frame.size()), written);
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
  bool Read(std::uint8_t* buffer, std::uint32_t count) override {
    std::uint32_t received = 0;
    return port_.Read(buffer, count, received);
  }

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
  if (!source.Read(frame.data(), kFrameHeaderSize)) return RECV_TIMEOUT;
  if (!std::equal(kFrameMarker.begin(), kFrameMarker.end(), frame.begin())) return RECV_BAD_MARKER;
  const int code = (frame[kCodeOffset] << 8) | frame[kCodeOffset + 1];
  if (code != CODE_DATA) return code;
  // All 16 bits of the length decide how much follows.  A value the frame
  // buffer cannot hold, or too small to hold the CRC, cannot come from an
  // intact frame: refuse it before reading on.
  const std::uint32_t bodyLength = (static_cast<std::uint32_t>(frame[kLengthOffset]) << 8) | frame[kLengthOffset + 1];
  if (bodyLength < kMinLengthField || bodyLength > kMaxFrameBody) return RECV_DAMAGED;
  if (!source.Read(frame.data() + kFrameHeaderSize, bodyLength)) return RECV_TIMEOUT;
  if (!CheckFrameCrc(frame.data())) return RECV_DAMAGED;
  const std::uint32_t payloadLength = bodyLength - static_cast<std::uint32_t>(kFrameCrcSize);
  if (payload != nullptr) std::memcpy(payload, frame.data() + kFrameHeaderSize, payloadLength);
  if (length != nullptr) *length = payloadLength;
  return CODE_DATA;
}

}  // namespace torvix
