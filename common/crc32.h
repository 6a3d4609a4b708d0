// CRC-32 of ISO-HDLC / IEEE 802.3, shared by both programs.
//
// Reflected polynomial 0xEDB88320, initial value 0xFFFFFFFF, final complement;
// check value Crc32("123456789") == 0xCBF43926, and the CRC of no bytes is 0.
// Both protocols send the value most significant byte first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace common {

// Returns the CRC-32 of `n` bytes at `data` (`data` may be null when n is 0).
// Pure function, any thread.
std::uint32_t Crc32(const void* data, std::size_t n);

// Continues a running CRC: `state` is the internal register (start with
// kCrc32Init), the finished value is ~state.
inline constexpr std::uint32_t kCrc32Init = 0xFFFFFFFFu;
std::uint32_t Crc32Update(std::uint32_t state, const void* data, std::size_t n);

}  // namespace common
