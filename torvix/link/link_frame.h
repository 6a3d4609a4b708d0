// The frames of TORVIX's link with the receiver.
//
// Every frame starts with the 8-byte marker "TwinOwLs"; numbers are
// big-endian.  A command frame is 12 bytes and carries a 16-bit code; a data
// frame carries code 48, a 12-bit length (payload + 4), the payload and the
// CRC-32 of the payload.  Framing is positional: a frame is expected exactly
// where the previous one ended, and nothing searches for the marker.
//
// The operations run on the link job's worker thread and keep no state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "torvix/serial/serial_port.h"

namespace torvix {

inline constexpr std::array<std::uint8_t, 8> kFrameMarker = {'T', 'w', 'i', 'n', 'O', 'w', 'L', 's'};
inline constexpr std::size_t kFrameHeaderSize = 12;     // marker, code, length
inline constexpr std::size_t kCommandFrameSize = 12;    // a command frame is a bare header
inline constexpr std::size_t kFrameCrcSize = 4;
inline constexpr std::size_t kMaxFrameBody = 4100;      // payload + CRC that a received frame may carry
inline constexpr std::size_t kFrameBufferSize = kFrameHeaderSize + kMaxFrameBody;  // 4112
inline constexpr std::size_t kMaxPayload = 4091;        // the 12-bit length field's limit, less the CRC

// Frame codes.
inline constexpr std::uint16_t CODE_ACK = 0;                 // accepted
inline constexpr std::uint16_t CODE_NAK = 1;                 // last data frame damaged: send it again
inline constexpr std::uint16_t CODE_ABORT = 2;               // tool: the transfer is over (stopped or failed)
inline constexpr std::uint16_t CODE_READY = 4;               // receiver: ready to take an image
inline constexpr std::uint16_t CODE_IDENTIFY = 16;           // tool: send the identification record
inline constexpr std::uint16_t CODE_IDENTIFY_END = 17;       // receiver: identification complete
inline constexpr std::uint16_t CODE_SOFTWARE = 18;           // tool: announce, then start, a software image
inline constexpr std::uint16_t CODE_SOFTWARE_END = 19;       // tool: end of the software image
inline constexpr std::uint16_t CODE_FACTORY_DATA = 30;       // tool: announce, then start, factory data
inline constexpr std::uint16_t CODE_FACTORY_DATA_END = 31;   // tool: end of the factory data
inline constexpr std::uint16_t CODE_READ_USER_DATA = 32;     // tool: send the database image
inline constexpr std::uint16_t CODE_USER_DATA_END = 33;      // receiver: end of the database image
inline constexpr std::uint16_t CODE_DATA = 48;               // data frame

// Negative results of ReceiveFrame.
inline constexpr int RECV_DAMAGED = -2;     // data frame refused: checksum or length field wrong
inline constexpr int RECV_TIMEOUT = -4;     // header or body did not arrive, or the port failed
inline constexpr int RECV_BAD_MARKER = -5;  // 12 bytes came but did not start with the marker

// The name of a frame code in a protocol trace: "ACK", "SOFTWARE", "DATA",
// ..., "code 77" for one that has none.
std::string FrameCodeName(int code);

// Every frame sent or received (and every receive that brought no frame) is
// noted in the port's trace, when it has one: its code's name, its length,
// and its bytes from the code on (from the start when the marker was wrong).

// The 12-byte command frame for `code`.
std::array<std::uint8_t, kCommandFrameSize> BuildCommandFrame(std::uint16_t code);
// The 16 + n byte data frame for a payload of n <= kMaxPayload bytes.
std::vector<std::uint8_t> BuildDataFrame(const std::uint8_t* payload, std::size_t n);

// Sends a command frame with one Write.  Whether the write succeeded is not
// examined (a port error has shown its box).  Always 0.  Blocks for the write.
int SendCommand(SerialPort& port, std::uint16_t code);
// Sends a data frame with one Write.  Always 0.  A payload longer than
// kMaxPayload does not fit the length field and is not sent at all.
int SendData(SerialPort& port, const std::uint8_t* payload, std::size_t n);

// Where ReceiveFrameFrom takes its bytes: the port, or bytes held in memory
// (tests, fuzzing).
class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // Reads exactly `count` bytes into `buffer`; false when fewer came (those
  // that did are consumed all the same, as on a port, and counted in
  // `received`).  Blocks as the source does; called on the thread that
  // receives.
  virtual bool Read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received) = 0;
  // Where received frames are noted, or null.
  virtual common::WireTrace* Trace() { return nullptr; }
};

// Receives one frame.  Returns the code of a command frame (never 48), 48 for
// a data frame whose checksum matched (payload copied to `payload` when not
// null, which needs room for kMaxFrameBody - 4 bytes; payload length stored
// in `length` when not null), or RECV_DAMAGED / RECV_TIMEOUT /
// RECV_BAD_MARKER.  A data frame whose length field is below 4 or above 4100
// is refused as RECV_DAMAGED right after its header, without reading on.
// Blocks as long as the port's read rule allows, twice at most.
int ReceiveFrame(SerialPort& port, std::uint8_t* payload, std::uint32_t* length);
// The same over any source of bytes; ReceiveFrame is this over the port.
int ReceiveFrameFrom(FrameSource& source, std::uint8_t* payload, std::uint32_t* length);

// Checks a received data frame (header at frame[0], at least 12 + l bytes
// where l is the 12-bit length field): true when l <= 4, or when the last four
// bytes hold the CRC-32 of the l - 4 bytes at offset 12.
bool CheckFrameCrc(const std::uint8_t* frame);

}  // namespace torvix
