// The receiver's channel database image: 131072 bytes holding a header and the
// satellite, transponder, antenna and service tables in one of two layouts
// (basic or KVRS), selected by the header's format byte.
//
// Every multi-byte field is little-endian and is read and written through the
// explicit accessors below; nothing casts the buffer to a struct.  The image
// comes from outside (a receiver download), so nothing here trusts its
// contents: callers bound every index they derive from it.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>

namespace torvix {

class DatabaseImage {
 public:
  static constexpr std::size_t kSize = 131072;  // 0x20000

  DatabaseImage() { bytes_.fill(0); }

  std::uint8_t* Data() { return bytes_.data(); }
  const std::uint8_t* Data() const { return bytes_.data(); }

  // Little-endian field access at a byte offset; the field must lie inside the image.
  std::uint8_t Get8(std::size_t offset) const {
    assert(offset < kSize);
    return bytes_[offset];
  }
  std::uint16_t Get16(std::size_t offset) const {
    assert(offset + 2 <= kSize);
    return static_cast<std::uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
  }
  std::uint32_t Get32(std::size_t offset) const {
    assert(offset + 4 <= kSize);
    return static_cast<std::uint32_t>(bytes_[offset]) | (static_cast<std::uint32_t>(bytes_[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes_[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes_[offset + 3]) << 24);
  }
  void Put8(std::size_t offset, std::uint8_t value) {
    assert(offset < kSize);
    bytes_[offset] = value;
  }
  void Put16(std::size_t offset, std::uint16_t value) {
    assert(offset + 2 <= kSize);
    bytes_[offset] = static_cast<std::uint8_t>(value);
    bytes_[offset + 1] = static_cast<std::uint8_t>(value >> 8);
  }
  void Put32(std::size_t offset, std::uint32_t value) {
    assert(offset + 4 <= kSize);
    for (std::size_t i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  // Replaces only the bits of `mask` in the 16-bit word at `offset`; the other
  // bits of the word are not written and keep what the image held.
  void PutBits16(std::size_t offset, std::uint16_t mask, std::uint16_t value) {
    Put16(offset, static_cast<std::uint16_t>((Get16(offset) & ~mask) | (value & mask)));
  }
  void PutBits32(std::size_t offset, std::uint32_t mask, std::uint32_t value) {
    Put32(offset, (Get32(offset) & ~mask) | (value & mask));
  }

 private:
  std::array<std::uint8_t, kSize> bytes_;
};

// The one image of the link tool, all zero at program start.  Downloads,
// uploads, the text reader and the text writer all work on it.  Not
// synchronised: one thread at a time (the link job, or the user-interface
// thread when no job runs).
DatabaseImage& GetDatabaseImage();

// One record table: where it starts, how long a record is, how many fit.
struct TableLayout {
  std::size_t offset;
  std::size_t recordSize;
  int room;

  constexpr std::size_t RecordOffset(int index) const {
    return offset + static_cast<std::size_t>(index) * recordSize;
  }
  constexpr std::size_t End() const { return RecordOffset(room); }
};

struct ImageLayout {
  bool kvrs;
  TableLayout satellites;
  TableLayout transponders;
  TableLayout antennas;  // room 0 in the basic layout
  TableLayout services;
};

// Basic layout: the satellite area of 2560 bytes holds 106 records of 24 bytes.
inline constexpr ImageLayout kBasicLayout{
    false, {0x00020, 24, 106}, {0x00A20, 8, 1024}, {0x00A20, 12, 0}, {0x02A20, 28, 3200}};
// KVRS layout; the 256 bytes at 0x06D20 between antennas and services are reserved.
inline constexpr ImageLayout kKvrsLayout{
    true, {0x00020, 20, 128}, {0x00A20, 12, 2048}, {0x06A20, 12, 64}, {0x06E20, 32, 3200}};

static_assert(kBasicLayout.satellites.End() <= kBasicLayout.transponders.offset);
static_assert(kBasicLayout.transponders.End() <= kBasicLayout.services.offset);
static_assert(kBasicLayout.services.End() == 0x18820);
static_assert(kKvrsLayout.satellites.End() <= kKvrsLayout.transponders.offset);
static_assert(kKvrsLayout.transponders.End() <= kKvrsLayout.antennas.offset);
static_assert(kKvrsLayout.antennas.End() + 256 == kKvrsLayout.services.offset);
static_assert(kKvrsLayout.services.End() == 0x1FE20 && kKvrsLayout.services.End() <= DatabaseImage::kSize);

// The layout that a header format byte selects: 0 basic, anything else KVRS.
inline const ImageLayout& LayoutForFormat(std::uint8_t format) {
  return format == 0 ? kBasicLayout : kKvrsLayout;
}

// Format byte values.
inline constexpr std::uint8_t kFormatBasic = 0;
inline constexpr std::uint8_t kFormatKvrs = 2;  // what the text reader writes for a KVRS file

}  // namespace torvix
