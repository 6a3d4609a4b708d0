// The ROM image checks on arbitrary files, short ones included.  The first
// input byte picks the file's length: the rest of the input itself (a short
// file), or a length around the hardware code and the flag byte, or one
// around the largest size the receiver's 32-bit size field can describe.
// The first 42 bytes of the rest go to the file's start, the others from
// 0x1F0028 on (hardware code, hardware number, flag byte); the file is
// otherwise zeros.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "torvix/link/rom_image.h"

namespace {

using namespace torvix;

constexpr std::uint64_t kTailOffset = 0x1F0028;

std::uint8_t ByteAt(const std::vector<std::uint8_t>& head, const std::vector<std::uint8_t>& tail,
                    std::uint64_t length, std::uint64_t offset) {
  if (offset >= length) return 0;
  if (offset < head.size()) return head[offset];
  if (offset >= kTailOffset && offset - kTailOffset < tail.size()) return tail[offset - kTailOffset];
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::MemoryFile file;
  fuzz::Cursor in(data, size);
  const std::uint8_t kind = in.Byte();
  const std::uint8_t step = in.Byte();
  std::uint64_t length = 0;
  std::vector<std::uint8_t> head;
  std::vector<std::uint8_t> tail;
  switch (kind % 3) {
    case 0:  // a short file: the rest of the input
      head = in.Take(in.Left());
      length = head.size();
      break;
    case 1:  // around the hardware code and the flag byte
      head = in.Take(kRomImageHeaderSize);
      tail = in.Take(in.Left());
      length = kTailOffset + step;
      break;
    default:  // around the largest image the size field can describe
      head = in.Take(kRomImageHeaderSize);
      tail = in.Take(in.Left());
      length = kRomImageHeaderSize + kMaxRomImageData - 1 + step % 3;
      break;
  }
  file.Fill(length);
  file.Put(0, head.data(), std::min<std::size_t>(head.size(), length));
  if (length > kTailOffset) file.Put(kTailOffset, tail.data(), std::min<std::uint64_t>(tail.size(), length - kTailOffset));

  RomImageFile rom;
  FUZZ_CHECK(rom.Open(file.Path()));
  FUZZ_CHECK(rom.Length() == length);
  RomImageCheck check;
  FUZZ_CHECK(CheckRomImage(rom, check));
  std::vector<std::uint8_t> start(kRomImageHeaderSize);
  for (std::size_t i = 0; i < start.size(); ++i) start[i] = ByteAt(head, tail, length, i);
  const bool magic = length >= kRomImageHeaderSize && MagicVariant(start.data(), start.size()).has_value();
  const RomRefusal refusal = !magic                                             ? RomRefusal::kWrongMagic
                             : length < kMinRomImageSize                        ? RomRefusal::kTooShort
                             : length - kRomImageHeaderSize > kMaxRomImageData ? RomRefusal::kTooLarge
                                                                                : RomRefusal::kNone;
  FUZZ_CHECK(check.refusal == refusal);
  // Left at the first byte to send.
  std::uint8_t next = 0;
  const long got = rom.Read(&next, 1);
  FUZZ_CHECK(got == (length > kRomImageHeaderSize ? 1 : 0));
  if (got == 1) FUZZ_CHECK(next == ByteAt(head, tail, length, kRomImageHeaderSize));
  if (!check.Sendable()) return 0;
  FUZZ_CHECK(check.hardwareCode == ByteAt(head, tail, length, kHardwareCodeOffset));
  FUZZ_CHECK(check.upgradeFlagByte == ByteAt(head, tail, length, kUpgradeFlagOffset));
  return 0;
}
