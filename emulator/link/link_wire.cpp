#include "emulator/link/link_wire.h"

#include <algorithm>

#include "common/crc32.h"

namespace emulator::wire {
namespace {

constexpr std::size_t kCodeOffset = 8;
constexpr std::size_t kLengthOffset = 10;

void PutCode(std::vector<std::uint8_t>& frame, int code) {
  frame[kCodeOffset] = static_cast<std::uint8_t>((code >> 8) & 0xFF);
  frame[kCodeOffset + 1] = static_cast<std::uint8_t>(code & 0xFF);
}

}  // namespace

std::vector<std::uint8_t> CommandFrame(int code) {
  std::vector<std::uint8_t> frame(kHeaderSize, 0);
  std::copy(kMarker.begin(), kMarker.end(), frame.begin());
  PutCode(frame, code);
  return frame;
}

std::vector<std::uint8_t> DataFrame(const std::uint8_t* payload, std::size_t n, bool damaged) {
  n = std::min(n, kLargestPayload);
  std::vector<std::uint8_t> frame(kHeaderSize + n + kCrcSize, 0);
  std::copy(kMarker.begin(), kMarker.end(), frame.begin());
  PutCode(frame, kData);
  const std::size_t length = n + kCrcSize;
  frame[kLengthOffset] = static_cast<std::uint8_t>((length >> 8) & 0xFF);
  frame[kLengthOffset + 1] = static_cast<std::uint8_t>(length & 0xFF);
  if (n != 0) std::copy_n(payload, n, frame.begin() + kHeaderSize);
  std::uint32_t crc = common::Crc32(payload, n);
  if (damaged) crc ^= 0x5A;
  for (std::size_t i = 0; i < kCrcSize; ++i) {
    frame[kHeaderSize + n + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  }
  return frame;
}

int HeaderCode(const std::uint8_t* header, std::size_t size) {
  if (size < kHeaderSize || !std::equal(kMarker.begin(), kMarker.end(), header)) return -1;
  return (header[kCodeOffset] << 8) | header[kCodeOffset + 1];
}

std::size_t LengthField(const std::uint8_t* header) {
  return (static_cast<std::size_t>(header[kLengthOffset] & 0x0F) << 8) | header[kLengthOffset + 1];
}

std::uint32_t CrcAt(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

}  // namespace emulator::wire
