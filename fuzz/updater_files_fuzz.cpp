// Updater's file checks on arbitrary files: the software-file signature, the
// file-name classes, the .wsw record walk with a record buffer of exactly
// its size (no record may make a read or a write reach past it), and the
// decoders of the settings and record packets, which must give back what the
// encoders made of what they accepted.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "updater/transport/file_checks.h"
#include "updater/transport/file_io.h"
#include "updater/transport/packets.h"
#include "updater/transport/wsw_records.h"

namespace {

using namespace updater;

void CheckWalk(const std::string& path, std::size_t size) {
  const auto buffer = std::make_unique<std::uint8_t[]>(kRecordBufferSize);
  InputFile file;
  FUZZ_CHECK(file.Open(path));
  std::size_t got = 0;
  FUZZ_CHECK(file.Read(buffer.get(), kWswHeaderSize, got));
  if (got < kWswHeaderSize) return;
  const std::uint16_t count = GetBe16(buffer.get() + kWswRecordCountOffset);
  std::size_t consumed = kWswHeaderSize;
  for (;;) {
    const RecordHead head = ReadRecordHead(file, buffer.get());
    if (head.start != RecordStart::kRecord) {
      FUZZ_CHECK(head.start != RecordStart::kFragment || size - consumed < kRecordHeaderSize);
      return;
    }
    FUZZ_CHECK(head.payload <= kLargestPayload);
    const RecordWrites writes = RecordWritesFor(head.payload);
    const std::size_t total = std::size_t{head.payload} + kRecordHeaderSize + kRecordTrailerSize;
    FUZZ_CHECK(writes.pieces * kRecordWriteSize + writes.remainder == total && total <= kRecordBufferSize);
    if (!ReadRecordRest(file, buffer.get(), head.payload)) {
      FUZZ_CHECK(size - consumed < total);  // only the end of the file cuts a record short
      return;
    }
    consumed += total;
    const int percentage = RecordPercentage(GetBe16(buffer.get() + kRecordIndexOffset), count);
    FUZZ_CHECK(percentage >= 0 && percentage <= 100);
  }
}

void CheckPackets(const std::uint8_t* data, std::size_t size) {
  if (const auto h = DecodeSettingsHeader(data, size)) {
    const auto again = DecodeSettingsHeader(EncodeSettingsHeader(*h).data(), kSettingsHeaderSize);
    FUZZ_CHECK(again && again->blockCount == h->blockCount && again->imageSize == h->imageSize);
  }
  if (const auto b = DecodeBlockHeader(data, size)) {
    const auto encoded = EncodeBlockHeader(*b);
    FUZZ_CHECK(std::equal(encoded.begin(), encoded.end(), data));
  }
  if (const auto length = DecodeRecordAnnounce(data, size)) {
    const auto encoded = EncodeRecordAnnounce(*length);
    FUZZ_CHECK(std::equal(encoded.begin(), encoded.end(), data));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::MemoryFile file;
  file.Fill(0);
  file.Put(0, data, size);
  FUZZ_CHECK(HasSoftwareSignature(file.Path()) == (size >= 2 && data[0] == 0x55 && data[1] == 0xAA));
  const std::string name(reinterpret_cast<const char*>(data), size);
  const FileKind kind = ClassifyFileName(name);
  FUZZ_CHECK((kind == FileKind::kSoftware) == (name.find(".wsw") != std::string::npos));
  CheckWalk(file.Path(), size);
  CheckPackets(data, size);
  return 0;
}
