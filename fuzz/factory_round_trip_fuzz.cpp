// Any factory-data text the reader accepts, printed and read again, gives
// the same image: the second image prints exactly as the first.  The
// documented differences are allowed for: a KVRS text loses its default
// switch line (the reader takes it for an antenna line), and a service on a
// transponder of no satellite, which is not printed, cannot be read back.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "torvix/database/factory_text_reader.h"
#include "torvix/database/factory_text_writer.h"
#include "torvix/database/records.h"

namespace {

using namespace torvix;

int Read(std::string_view dosText, DatabaseImage& image) {
  MemoryByteSource raw(dosText);
  DosTextSource text(raw);
  FactoryTextReader reader;
  return reader.Read(text, image);
}

std::string Print(const DatabaseImage& image) {
  std::ostringstream out;
  FUZZ_CHECK(WriteFactoryText(out, image) == kWriteOk);
  return out.str();
}

// Whether a service of `image` stands on a transponder that is not printed
// because its satellite index names no satellite.
bool HasServiceOnUnprintedTransponder(const DatabaseImage& image) {
  const ImageHeader h = LoadHeader(image);
  const ImageLayout& layout = LayoutForFormat(h.format);
  for (int i = 0; i < h.service_count; ++i) {
    const int t = LoadService(image, layout, i).transponder_index;
    if (t >= h.transponder_count || LoadTransponderSatellite(image, layout, t) >= h.satellite_count) return true;
  }
  return false;
}

// Two images for the whole run, emptied before each use.
DatabaseImage& EmptyImage(int which) {
  static DatabaseImage* images[2] = {new DatabaseImage, new DatabaseImage};
  std::memset(images[which]->Data(), 0, DatabaseImage::kSize);
  return *images[which];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DatabaseImage* first = &EmptyImage(0);
  if (Read(std::string_view(reinterpret_cast<const char*>(data), size), *first) != FT_OK) return 0;
  const std::string printed = Print(*first);

  DatabaseImage* second = &EmptyImage(1);
  const int code = Read(printed, *second);
  if (code == FT_BAD_SERVICE && HasServiceOnUnprintedTransponder(*first)) return 0;
  if (code != FT_OK) {
    std::fprintf(stderr, "printed text refused (%d):\n%s\n", code, printed.c_str());
    FUZZ_CHECK(code == FT_OK);
  }

  ImageHeader h1 = LoadHeader(*first);
  const ImageHeader h2 = LoadHeader(*second);
  FUZZ_CHECK(h2.format == h1.format);
  FUZZ_CHECK(h2.antenna_count == h1.antenna_count);
  FUZZ_CHECK(h2.satellite_count == h1.satellite_count);
  FUZZ_CHECK(h2.service_count == h1.service_count);
  FUZZ_CHECK(h2.transponder_count <= h1.transponder_count);
  std::string expected = printed;
  if (h1.format != kFormatBasic && h1.antenna_config != kNoAntennaConfig) {
    StoreAntennaConfig(*first, kNoAntennaConfig);
    expected = Print(*first);
  }
  const std::string again = Print(*second);
  if (again != expected) {
    std::fprintf(stderr, "first print:\n%s\nsecond print:\n%s\n", expected.c_str(), again.c_str());
    FUZZ_CHECK(again == expected);
  }
  return 0;
}
