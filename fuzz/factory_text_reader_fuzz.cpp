// The factory-data text reader on arbitrary files, and each line decoder on
// arbitrary lines.  First input byte below 0x80: the rest is a whole file (DOS
// text); otherwise it picks a decoder and how full its table is, and the rest
// is one line.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "torvix/database/factory_text_reader.h"
#include "torvix/database/line_decoders.h"
#include "torvix/database/records.h"

namespace {

using namespace torvix;

// One image for the whole run, emptied before each use.
DatabaseImage& EmptyImage() {
  static auto* image = new DatabaseImage;
  std::memset(image->Data(), 0, DatabaseImage::kSize);
  return *image;
}

void CheckWholeFile(std::string_view bytes) {
  DatabaseImage* image = &EmptyImage();
  MemoryByteSource raw(bytes);
  DosTextSource text(raw);
  FactoryTextReader reader;
  const int code = reader.Read(text, *image);
  FUZZ_CHECK(code >= FT_OK && code <= FT_KEYWORD_AFTER_RECORDS);
  FUZZ_CHECK(reader.Message().empty() == (code == FT_OK));
  FUZZ_CHECK(reader.Message().size() < kLineBufferSize);
  if (code != FT_OK) return;
  FUZZ_CHECK(HasImageMagic(*image));
  const ImageHeader h = LoadHeader(*image);
  const ImageLayout& layout = LayoutForFormat(h.format);
  FUZZ_CHECK(h.format == kFormatBasic || h.format == kFormatKvrs);
  FUZZ_CHECK(h.antenna_count <= layout.antennas.room);
  FUZZ_CHECK(h.satellite_count >= 0 && h.satellite_count <= layout.satellites.room);
  FUZZ_CHECK(h.transponder_count >= 0 && h.transponder_count <= layout.transponders.room);
  FUZZ_CHECK(h.service_count >= 0 && h.service_count <= layout.services.room);
  FUZZ_CHECK(h.antenna_config >= kNoAntennaConfig);
}

struct Decoder {
  int DecodeContext::*count;
  const TableLayout ImageLayout::*table;
  const ImageLayout* layout;
  int (*decode)(DecodeContext&, std::string_view);
};

int BasicTransponder(DecodeContext& c, std::string_view l) { return DecodeBasicTransponderLine(c, 0, l); }
int KvrsTransponder(DecodeContext& c, std::string_view l) { return DecodeKvrsTransponderLine(c, 0, l); }

constexpr Decoder kDecoders[] = {
    {&DecodeContext::antennaCount, &ImageLayout::antennas, &kKvrsLayout, DecodeAntennaLine},
    {&DecodeContext::satelliteCount, &ImageLayout::satellites, &kBasicLayout, DecodeBasicSatelliteLine},
    {&DecodeContext::satelliteCount, &ImageLayout::satellites, &kKvrsLayout, DecodeKvrsSatelliteLine},
    {&DecodeContext::transponderCount, &ImageLayout::transponders, &kBasicLayout, BasicTransponder},
    {&DecodeContext::transponderCount, &ImageLayout::transponders, &kKvrsLayout, KvrsTransponder},
    {&DecodeContext::serviceCount, &ImageLayout::services, &kBasicLayout, DecodeBasicServiceLine},
    {&DecodeContext::serviceCount, &ImageLayout::services, &kKvrsLayout, DecodeKvrsServiceLine},
};

void CheckOneLine(std::uint8_t selector, std::string_view line) {
  const Decoder& d = kDecoders[selector % std::size(kDecoders)];
  DecodeContext context(EmptyImage());
  // Services need a satellite with a transponder to point at.
  FUZZ_CHECK(DecodeBasicTransponderLine(context, 0, "t 1 1 h 0 14 0 a") == 0);
  // Half the time the table is one record short of full, or full.
  const int room = ((*d.layout).*d.table).room;
  if (selector & 0x08) context.*d.count = (selector & 0x10) ? room : room - 1;
  const int before = context.*d.count;
  const int result = d.decode(context, line);
  if (result >= 0) {
    FUZZ_CHECK(result == before && context.*d.count == before + 1 && result < room);
  } else {
    FUZZ_CHECK(result >= -14 && context.*d.count == before);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] < 0x80) {
    CheckWholeFile(rest);
  } else {
    CheckOneLine(data[0], rest);
  }
  return 0;
}
