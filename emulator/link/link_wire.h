// The link protocol's frames as the receiver knows them, written down here
// from the wire's description and nowhere taken from the tool, so that a
// wrong code or layout on either side shows when the two meet.
//
// Every frame starts with the 8-byte marker "TwinOwLs"; numbers are
// big-endian.  A command frame is 12 bytes: marker, 16-bit code, two zero
// bytes.  A data frame is marker, code 48, a length field (payload + 4), the
// payload and the CRC-32 of the payload, most significant byte first.  The
// length field is 12 bits wide; the receiver's download frames of more than
// 4091 payload bytes run into its thirteenth bit.
//
// Pure functions of their arguments; any thread; they do not block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace emulator::wire {

inline constexpr std::array<std::uint8_t, 8> kMarker = {'T', 'w', 'i', 'n', 'O', 'w', 'L', 's'};
inline constexpr std::size_t kHeaderSize = 12;      // marker, code, length field
inline constexpr std::size_t kCrcSize = 4;
inline constexpr std::size_t kCheckedPayload = 4091;  // largest payload whose CRC the 12-bit length covers
inline constexpr std::size_t kLargestPayload = 4096;  // largest the tool's 4112-byte frame buffer takes

// The codes, as numbers on the wire.
inline constexpr int kAck = 0;
inline constexpr int kNak = 1;
inline constexpr int kAbort = 2;
inline constexpr int kReady = 4;
inline constexpr int kIdentify = 16;
inline constexpr int kIdentifyEnd = 17;
inline constexpr int kSoftware = 18;
inline constexpr int kSoftwareEnd = 19;
inline constexpr int kFactoryData = 30;
inline constexpr int kFactoryDataEnd = 31;
inline constexpr int kReadUserData = 32;
inline constexpr int kUserDataEnd = 33;
inline constexpr int kData = 48;

// The 12 bytes of a command frame with `code` (0 to 65535).
std::vector<std::uint8_t> CommandFrame(int code);

// The 16 + n bytes of a data frame for `n` (at most kLargestPayload) payload
// bytes; the length field holds n + 4 in its two bytes.  `damaged`: the last
// CRC byte is wrong.
std::vector<std::uint8_t> DataFrame(const std::uint8_t* payload, std::size_t n, bool damaged = false);

// The code in a 12-byte header that begins with the marker; -1 otherwise.
int HeaderCode(const std::uint8_t* header, std::size_t size);

// The length field of a data frame's header as the tool reads it to check
// the CRC: its low 12 bits.
std::size_t LengthField(const std::uint8_t* header);

// The big-endian 32-bit CRC at `p`.
std::uint32_t CrcAt(const std::uint8_t* p);

}  // namespace emulator::wire
