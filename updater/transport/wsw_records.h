// The records of a .wsw software file, walked as the software update sends
// them: each a 12-byte header (0x5A 0x5A, record index, four bytes, payload
// length L, big-endian), L bytes of payload and a 4-byte trailer, read into
// one record buffer of kRecordBufferSize bytes.
//
// The file comes from anywhere: no length in it can make a read or a write
// reach outside the buffer.  Worker thread; blocks only on file reads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "updater/transport/file_io.h"
#include "updater/transport/packets.h"

namespace updater {

enum class RecordStart {
  kRecord,    // a record header is in the buffer; `payload` is its L
  kEnd,       // the end of the file, or 12 bytes that do not begin with 0x5A 0x5A
  kFragment,  // 1 to 11 bytes before the end of the file: the records end, with an error
  kTooLarge,  // L does not fit the record buffer: the record is refused
};

struct RecordHead {
  RecordStart start = RecordStart::kEnd;
  std::uint32_t payload = 0;
};

// Reads the next record header into buffer[0..11].
RecordHead ReadRecordHead(InputFile& file, std::uint8_t* buffer);
// Reads the payload and the trailer behind the header (buffer[12..]); false
// when the file ends or fails first.  `payload` must come from ReadRecordHead.
bool ReadRecordRest(InputFile& file, std::uint8_t* buffer, std::uint32_t payload);

// How a record of `payload` bytes goes out: `pieces` writes of
// kRecordWriteSize bytes from the buffer's start, then `remainder` bytes
// (L mod 8) behind them.
struct RecordWrites {
  std::size_t pieces = 0;
  std::size_t remainder = 0;
};
RecordWrites RecordWritesFor(std::uint32_t payload);

// The percentage a sent record stands for: (index + 1) x 100 / count, cut to
// an integer; 100 when the count is 0, and at most 100 when a stranger's file
// numbers its records beyond their count.
int RecordPercentage(std::uint16_t index, std::uint16_t count);

}  // namespace updater
