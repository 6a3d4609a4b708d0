// Byte layouts of the updater's packets and files, all big-endian.
//
// Pure functions, any thread, no I/O.  Every layout is built and parsed byte
// by byte so that the host's own byte order never matters.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace updater {

// Big-endian accessors.
std::uint16_t GetBe16(const std::uint8_t* p);
std::uint32_t GetBe32(const std::uint8_t* p);
void PutBe16(std::uint8_t* p, std::uint16_t value);
void PutBe32(std::uint8_t* p, std::uint32_t value);

// CRC-32 of ISO-HDLC (the one both ends of the token protocol use).
std::uint32_t Crc32(const void* data, std::size_t n);

// ---- Settings transfer -----------------------------------------------------

inline constexpr std::size_t kSettingsHeaderSize = 14;
inline constexpr std::uint8_t kSettingsMagic = 0x55;     // bytes 0 and 1
inline constexpr std::uint8_t kSettingsKind = 0x01;      // byte 2
inline constexpr std::uint8_t kSettingsVersion = 0x0A;   // byte 3
inline constexpr std::size_t kBlockHeaderSize = 18;
inline constexpr std::uint8_t kBlockMagic = 0xAA;        // bytes 0 and 1
inline constexpr std::size_t kBlockSize = 256;           // data bytes per block, at most

// Settings images addressed from here in the receiver's memory.
inline constexpr std::uint32_t kSmallImageBase = 0x7FFB0000;
inline constexpr std::uint32_t kLargeImageBase = 0x7FFA0000;
inline constexpr std::uint32_t kLargeImageAbove = 300000;  // larger than this: large image
inline constexpr std::uint32_t kSmallestSettingsFile = 200000;
inline constexpr std::uint32_t kMaxSettingsBlocks = 0xFFFF;  // the most blocks the settings header can count

struct SettingsHeader {
  std::uint16_t blockCount = 0;
  std::uint32_t imageSize = 0;
};

struct BlockHeader {
  std::uint16_t index = 0;
  std::uint32_t address = 0;
  std::uint16_t length = 0;
  std::uint32_t dataCrc = 0;
};

// Encodes the 14-byte header (magic, kind, version, count, size, CRC).
std::array<std::uint8_t, kSettingsHeaderSize> EncodeSettingsHeader(const SettingsHeader& header);
// Accepts a header whose CRC of bytes 0-9 matches and whose bytes 0 and 1 are
// the magic; bytes 2 and 3 are not looked at.  Nothing otherwise.
std::optional<SettingsHeader> DecodeSettingsHeader(const std::uint8_t* bytes, std::size_t n);

std::array<std::uint8_t, kBlockHeaderSize> EncodeBlockHeader(const BlockHeader& header);
// Accepts a block header whose header CRC matches and whose magic is right.
// The length is returned as sent: the caller checks its limit.
std::optional<BlockHeader> DecodeBlockHeader(const std::uint8_t* bytes, std::size_t n);

// `baseAddress` for a settings file of `size` bytes.
std::uint32_t BaseAddressFor(std::uint64_t size);
// Size rounded up to the next multiple of the block size (a multiple stays).
std::uint64_t RoundUpToBlock(std::uint64_t size);

// ---- Software update -------------------------------------------------------

inline constexpr std::size_t kWswHeaderSize = 16;
inline constexpr std::uint8_t kWswMagic0 = 0x55;
inline constexpr std::uint8_t kWswMagic1 = 0xAA;
inline constexpr std::size_t kWswRecordCountOffset = 10;
inline constexpr std::size_t kRecordHeaderSize = 12;
inline constexpr std::uint8_t kRecordMagic = 0x5A;       // 'Z', bytes 0 and 1 of a record
inline constexpr std::size_t kRecordIndexOffset = 2;
inline constexpr std::size_t kRecordLengthOffset = 8;
inline constexpr std::size_t kRecordTrailerSize = 4;
inline constexpr std::size_t kRecordBufferSize = 65536;  // header + payload + trailer, at most
inline constexpr std::uint32_t kLargestPayload = kRecordBufferSize - kRecordHeaderSize - kRecordTrailerSize;
inline constexpr std::size_t kRecordAnnounceSize = 14;
inline constexpr std::uint8_t kRecordAnnounceMark = 0x02;  // byte 0 of a record announcement
inline constexpr std::size_t kRecordWriteSize = 8;         // records go out in writes of this size

std::array<std::uint8_t, kRecordAnnounceSize> EncodeRecordAnnounce(std::uint32_t payloadLength);
// The payload length of a well-formed announcement (mark, complement, zero
// byte, CRC all right); nothing otherwise.
std::optional<std::uint32_t> DecodeRecordAnnounce(const std::uint8_t* bytes, std::size_t n);

}  // namespace updater
