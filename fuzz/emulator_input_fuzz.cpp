// The receiver emulator's readers of what the tools send, on arbitrary
// streams.  First input byte even: the rest is a stream of link frames, read
// frame after frame as the link receiver reads them.  Odd: the rest is read
// as the token receiver reads a settings transfer (header, then block
// headers with their data) or a software update (record announcements with
// their records).  The tools' own encoders must be understood by them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/crc32.h"
#include "emulator/link/receiver.h"
#include "emulator/token/token_receiver.h"
#include "fuzz/fuzz_support.h"
#include "torvix/link/link_frame.h"
#include "updater/transport/packets.h"

namespace {

void LinkFrames(fuzz::Cursor& in) {
  while (!in.Empty()) {
    const std::vector<std::uint8_t> header = in.Take(torvix::kFrameHeaderSize);
    const emulator::ToolFrame frame = emulator::ParseToolFrame(header, [&](std::size_t n) { return in.Take(n); });
    FUZZ_CHECK(frame.code >= -1 && frame.code <= 0xFFFF);
    FUZZ_CHECK(frame.payload.size() <= 0x0FFF - torvix::kFrameCrcSize);
    if (frame.code != torvix::CODE_DATA) FUZZ_CHECK(frame.payload.empty() && !frame.damaged);
  }
}

void SettingsTransfer(fuzz::Cursor& in) {
  const auto header = emulator::ParseToolSettingsHeader(in.Take(updater::kSettingsHeaderSize));
  if (!header) return;
  for (std::uint32_t i = 0; i < header->blockCount && !in.Empty(); ++i) {
    const auto block = emulator::ParseToolBlockHeader(in.Take(updater::kBlockHeaderSize));
    if (!block || block->length > updater::kBlockSize) return;
    const std::vector<std::uint8_t> bytes = in.Take(block->length);
    if (bytes.size() < block->length || common::Crc32(bytes.data(), bytes.size()) != block->dataCrc) return;
  }
}

void SoftwareRecords(fuzz::Cursor& in) {
  while (!in.Empty()) {
    const auto length = emulator::ParseToolRecordAnnouncement(in.Take(updater::kRecordAnnounceSize));
    if (!length) return;
    FUZZ_CHECK(*length <= emulator::kLargestRecordPayload);
    const std::vector<std::uint8_t> record = in.Take(std::size_t{*length} + 16);
    if (!emulator::IsToolRecord(record, *length)) return;
  }
}

// What Updater sends, built from input values, is read back unchanged.
void ToolEncoders(fuzz::Cursor& in) {
  const std::vector<std::uint8_t> v = in.Take(16);
  if (v.size() < 16) return;
  const updater::SettingsHeader h{updater::GetBe16(&v[0]), updater::GetBe32(&v[2])};
  const auto sh = updater::EncodeSettingsHeader(h);
  const auto parsed = emulator::ParseToolSettingsHeader({sh.begin(), sh.end()});
  FUZZ_CHECK(parsed && parsed->blockCount == h.blockCount && parsed->imageSize == h.imageSize);
  const updater::BlockHeader b{updater::GetBe16(&v[6]), updater::GetBe32(&v[8]), updater::GetBe16(&v[12]),
                               updater::GetBe32(&v[2])};
  const auto bh = updater::EncodeBlockHeader(b);
  const auto block = emulator::ParseToolBlockHeader({bh.begin(), bh.end()});
  FUZZ_CHECK(block && block->index == b.index && block->address == b.address && block->length == b.length &&
             block->dataCrc == b.dataCrc);
  const std::uint32_t length = updater::GetBe32(&v[12]) >> (v[0] % 32);
  const auto announce = updater::EncodeRecordAnnounce(length);
  const auto announced = emulator::ParseToolRecordAnnouncement({announce.begin(), announce.end()});
  FUZZ_CHECK(announced.has_value() == (length <= updater::kLargestPayload));
  if (announced) FUZZ_CHECK(*announced == length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Cursor in(data, size);
  const std::uint8_t mode = in.Byte();
  if ((mode & 1) == 0) {
    LinkFrames(in);
  } else if (mode & 2) {
    ToolEncoders(in);
    SettingsTransfer(in);
  } else {
    SoftwareRecords(in);
  }
  return 0;
}
