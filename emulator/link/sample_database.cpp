#include "emulator/link/sample_database.h"

#include <cstddef>
#include <cstring>
#include <string>

namespace emulator {
namespace {

constexpr std::size_t kImageSize = 131072;
// Basic layout: where the tables start and how long a record is.
constexpr std::size_t kSatelliteTable = 0x00020, kSatelliteRecord = 24;
constexpr std::size_t kTransponderTable = 0x00A20, kTransponderRecord = 8;
constexpr std::size_t kServiceTable = 0x02A20, kServiceRecord = 28;
constexpr char kImageMagic[] = "twinowls";
constexpr std::uint8_t kFormatBasic = 0;
constexpr std::int32_t kNoDefaultSwitch = -1;

class ImageWriter {
 public:
  explicit ImageWriter(std::vector<std::uint8_t>& image) : image_(image) {}
  void Put8(std::size_t at, std::uint8_t v) { image_[at] = v; }
  void Put16(std::size_t at, std::uint16_t v) {
    image_[at] = static_cast<std::uint8_t>(v);
    image_[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  void Put32(std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) image_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  // NUL-terminated inside its field (the image is zero-filled).
  void PutName(std::size_t at, const std::string& name) { std::memcpy(&image_[at], name.data(), name.size()); }

 private:
  std::vector<std::uint8_t>& image_;
};

struct Transponder {
  std::uint16_t frequency, symbolrate, flags;  // flags: bit 0 horizontal, bits 4-6 FEC
};
struct Service {
  const char* name;
  std::uint16_t serviceId, videoPid, audioPid, pcrPid, transponderAndRadio, txtPid;
};

constexpr std::uint16_t kHorizontal = 1 << 0;
constexpr std::uint16_t kFec34 = 3 << 4;
constexpr std::uint16_t kRadio = 1 << 15;

}  // namespace

std::vector<std::uint8_t> SampleDatabaseImage() {
  std::vector<std::uint8_t> image(kImageSize, 0);
  ImageWriter w(image);
  const Transponder transponders[] = {{12603, 22000, kHorizontal | kFec34}, {11836, 27500, kFec34}};
  const Service services[] = {{"Das Erste", 28106, 101, 102, 101, 1, 104},
                              {"Radio One", 12345, 0, 201, 201, kRadio | 0, 0}};

  std::memcpy(image.data(), kImageMagic, 8);
  w.Put8(10, kFormatBasic);
  w.Put8(11, 0);                                   // antennas: none in the basic layout
  w.Put32(12, 1);                                  // satellites
  w.Put32(16, std::size(transponders));            // transponders
  w.Put32(20, std::size(services));                // services
  w.Put32(24, static_cast<std::uint32_t>(kNoDefaultSwitch));

  // ASTRA at 19.2 east on a universal LNB, no switches.
  w.Put16(kSatelliteTable + 0, 9750);
  w.Put16(kSatelliteTable + 2, 10600);
  w.Put16(kSatelliteTable + 4, 192);
  w.Put32(kSatelliteTable + 8, 1);  // universal_lnb
  w.PutName(kSatelliteTable + 12, "ASTRA");

  for (std::size_t i = 0; i < std::size(transponders); ++i) {
    const std::size_t at = kTransponderTable + i * kTransponderRecord;
    w.Put16(at + 0, transponders[i].frequency);
    w.Put16(at + 2, transponders[i].symbolrate);
    w.Put16(at + 4, transponders[i].flags);
    w.Put8(at + 6, 0);  // satellite index
  }
  for (std::size_t i = 0; i < std::size(services); ++i) {
    const Service& s = services[i];
    const std::size_t at = kServiceTable + i * kServiceRecord;
    w.Put16(at + 0, s.serviceId);
    w.Put16(at + 2, s.videoPid);
    w.Put16(at + 4, s.audioPid);
    w.Put16(at + 6, s.pcrPid);
    w.Put16(at + 8, s.transponderAndRadio);
    w.Put16(at + 10, s.txtPid);
    w.Put16(at + 12, 0);  // not scrambled, no favourite, not locked
    w.PutName(at + 14, s.name);
  }
  return image;
}

}  // namespace emulator
