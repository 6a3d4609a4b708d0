#include "updater/transport/wsw_records.h"

#include <algorithm>

namespace updater {

RecordHead ReadRecordHead(InputFile& file, std::uint8_t* buffer) {
  std::size_t got = 0;
  if (!file.Read(buffer, kRecordHeaderSize, got) || got < kRecordHeaderSize) {
    return {got > 0 ? RecordStart::kFragment : RecordStart::kEnd, 0};
  }
  if (buffer[0] != kRecordMagic || buffer[1] != kRecordMagic) return {RecordStart::kEnd, 0};
  const std::uint32_t payload = GetBe32(buffer + kRecordLengthOffset);
  return {payload > kLargestPayload ? RecordStart::kTooLarge : RecordStart::kRecord, payload};
}

bool ReadRecordRest(InputFile& file, std::uint8_t* buffer, std::uint32_t payload) {
  if (payload > kLargestPayload) return false;
  const std::size_t rest = payload + kRecordTrailerSize;
  std::size_t got = 0;
  return file.Read(buffer + kRecordHeaderSize, rest, got) && got == rest;
}

RecordWrites RecordWritesFor(std::uint32_t payload) {
  const std::size_t total = std::size_t{payload} + kRecordHeaderSize + kRecordTrailerSize;
  return {total / kRecordWriteSize, payload % kRecordWriteSize};
}

int RecordPercentage(std::uint16_t index, std::uint16_t count) {
  if (count == 0) return 100;
  return std::min(100, static_cast<int>((index + 1.0) * 100.0 / static_cast<double>(count)));
}

}  // namespace updater
