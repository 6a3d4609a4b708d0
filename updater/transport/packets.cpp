#include "updater/transport/packets.h"

#include "common/crc32.h"

namespace updater {

std::uint16_t GetBe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t GetBe32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

void PutBe16(std::uint8_t* p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value >> 8);
  p[1] = static_cast<std::uint8_t>(value);
}

void PutBe32(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value >> 24);
  p[1] = static_cast<std::uint8_t>(value >> 16);
  p[2] = static_cast<std::uint8_t>(value >> 8);
  p[3] = static_cast<std::uint8_t>(value);
}

std::uint32_t Crc32(const void* data, std::size_t n) { return common::Crc32(data, n); }

namespace {
// Every packet ends its fixed part with the CRC of the 10 bytes before it.
constexpr std::size_t kCoveredBytes = 10;
}  // namespace

std::array<std::uint8_t, kSettingsHeaderSize> EncodeSettingsHeader(const SettingsHeader& header) {
  std::array<std::uint8_t, kSettingsHeaderSize> b{};
  b[0] = kSettingsMagic;
  b[1] = kSettingsMagic;
  b[2] = kSettingsKind;
  b[3] = kSettingsVersion;
  PutBe16(&b[4], header.blockCount);
  PutBe32(&b[6], header.imageSize);
  PutBe32(&b[10], Crc32(b.data(), kCoveredBytes));
  return b;
}

std::optional<SettingsHeader> DecodeSettingsHeader(const std::uint8_t* bytes, std::size_t n) {
  if (n < kSettingsHeaderSize) return std::nullopt;
  if (GetBe32(bytes + 10) != Crc32(bytes, kCoveredBytes)) return std::nullopt;
  if (bytes[0] != kSettingsMagic || bytes[1] != kSettingsMagic) return std::nullopt;
  return SettingsHeader{GetBe16(bytes + 4), GetBe32(bytes + 6)};
}

std::array<std::uint8_t, kBlockHeaderSize> EncodeBlockHeader(const BlockHeader& header) {
  std::array<std::uint8_t, kBlockHeaderSize> b{};
  b[0] = kBlockMagic;
  b[1] = kBlockMagic;
  PutBe16(&b[2], header.index);
  PutBe32(&b[4], header.address);
  PutBe16(&b[8], header.length);
  PutBe32(&b[10], Crc32(b.data(), kCoveredBytes));
  PutBe32(&b[14], header.dataCrc);
  return b;
}

std::optional<BlockHeader> DecodeBlockHeader(const std::uint8_t* bytes, std::size_t n) {
  if (n < kBlockHeaderSize) return std::nullopt;
  if (GetBe32(bytes + 10) != Crc32(bytes, kCoveredBytes)) return std::nullopt;
  if (bytes[0] != kBlockMagic || bytes[1] != kBlockMagic) return std::nullopt;
  return BlockHeader{GetBe16(bytes + 2), GetBe32(bytes + 4), GetBe16(bytes + 8), GetBe32(bytes + 14)};
}

std::uint32_t BaseAddressFor(std::uint64_t size) {
  return size > kLargeImageAbove ? kLargeImageBase : kSmallImageBase;
}

std::uint64_t RoundUpToBlock(std::uint64_t size) { return (size + kBlockSize - 1) / kBlockSize * kBlockSize; }

std::array<std::uint8_t, kRecordAnnounceSize> EncodeRecordAnnounce(std::uint32_t payloadLength) {
  std::array<std::uint8_t, kRecordAnnounceSize> b{};
  b[0] = kRecordAnnounceMark;
  PutBe32(&b[1], payloadLength);
  PutBe32(&b[5], ~payloadLength);
  b[9] = 0x00;
  PutBe32(&b[10], Crc32(b.data(), kCoveredBytes));
  return b;
}

std::optional<std::uint32_t> DecodeRecordAnnounce(const std::uint8_t* bytes, std::size_t n) {
  if (n < kRecordAnnounceSize) return std::nullopt;
  if (bytes[0] != kRecordAnnounceMark || bytes[9] != 0x00) return std::nullopt;
  if (GetBe32(bytes + 10) != Crc32(bytes, kCoveredBytes)) return std::nullopt;
  const std::uint32_t length = GetBe32(bytes + 1);
  if (GetBe32(bytes + 5) != ~length) return std::nullopt;
  return length;
}

}  // namespace updater
