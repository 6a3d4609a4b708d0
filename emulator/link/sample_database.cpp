#include "emulator/link/sample_database.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace emulator {
namespace {

// The basic layout, as the receiver keeps it: little-endian numbers, tables
// at fixed offsets.
constexpr std::size_t kImageSize = 131072;
constexpr std::size_t kSatellites = 0x00020;   // 24-byte records
constexpr std::size_t kTransponders = 0x00A20;  // 8-byte records
constexpr std::size_t kServices = 0x02A20;      // 28-byte records
constexpr std::size_t kSatelliteSize = 24;
constexpr std::size_t kTransponderSize = 8;
constexpr std::size_t kServiceSize = 28;
constexpr std::uint16_t kRadio = 0x8000;        // transponder word of a service: bit 15
constexpr std::uint32_t kUniversalLnb = 0x01;   // satellite flags: bit 0
constexpr std::uint16_t kHorizontal = 0x01;     // transponder flags: bit 0
constexpr int kFecShift = 4;                    // transponder flags: bits 4-6
constexpr int kFec3_4 = 3;
constexpr std::int32_t kNoAntennaConfig = -1;

class Image {
 public:
  void Put16(std::size_t at, std::uint16_t v) {
    bytes_[at] = static_cast<std::uint8_t>(v);
    bytes_[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  void Put32(std::size_t at, std::uint32_t v) {
    Put16(at, static_cast<std::uint16_t>(v));
    Put16(at + 2, static_cast<std::uint16_t>(v >> 16));
  }
  void PutText(std::size_t at, std::string_view text) {
    std::copy(text.begin(), text.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at));
    bytes_[at + text.size()] = 0;
  }

  void Header(std::uint8_t format, std::int32_t satellites, std::int32_t transponders, std::int32_t services) {
    PutText(0, "twinowls");  // the NUL falls on byte 8, which is zero anyway
    bytes_[10] = format;
    bytes_[11] = 0;  // antennas
    Put32(12, static_cast<std::uint32_t>(satellites));
    Put32(16, static_cast<std::uint32_t>(transponders));
    Put32(20, static_cast<std::uint32_t>(services));
    Put32(24, static_cast<std::uint32_t>(kNoAntennaConfig));
  }
  void Satellite(int n, std::uint16_t lnbLow, std::uint16_t lnbHigh, std::uint16_t angleWord, std::uint32_t flags,
                 std::string_view name) {
    const std::size_t at = kSatellites + static_cast<std::size_t>(n) * kSatelliteSize;
    Put16(at, lnbLow);
    Put16(at + 2, lnbHigh);
    Put16(at + 4, angleWord);
    Put32(at + 8, flags);
    PutText(at + 12, name);
  }
  void Transponder(int n, std::uint16_t frequency, std::uint16_t symbolrate, std::uint16_t flags,
                   std::uint8_t satellite) {
    const std::size_t at = kTransponders + static_cast<std::size_t>(n) * kTransponderSize;
    Put16(at, frequency);
    Put16(at + 2, symbolrate);
    Put16(at + 4, flags);
    bytes_[at + 6] = satellite;
  }
  struct Service {
    std::uint16_t id, video, audio, pcr, transponderWord, teletext;
    std::string_view name;
  };
  void PutService(int n, const Service& s) {
    const std::size_t at = kServices + static_cast<std::size_t>(n) * kServiceSize;
    Put16(at, s.id);
    Put16(at + 2, s.video);
    Put16(at + 4, s.audio);
    Put16(at + 6, s.pcr);
    Put16(at + 8, s.transponderWord);
    Put16(at + 10, s.teletext);
    Put16(at + 12, 0);  // not scrambled, no favourite, not locked
    PutText(at + 14, s.name);
  }
  std::vector<std::uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_ = std::vector<std::uint8_t>(kImageSize, 0);
};

}  // namespace

std::vector<std::uint8_t> SampleDatabaseImage() {
  Image image;
  image.Satellite(0, 9750, 10600, 192, kUniversalLnb, "ASTRA");  // 19.2 east: bit 15 of the angle clear
  const auto fec = static_cast<std::uint16_t>(kFec3_4 << kFecShift);
  image.Transponder(0, 12603, 22000, kHorizontal | fec, 0);
  image.Transponder(1, 11836, 27500, fec, 0);  // vertical
  image.PutService(0, {28106, 101, 102, 101, 1, 104, "Das Erste"});
  image.PutService(1, {12345, 0, 201, 201, static_cast<std::uint16_t>(0 | kRadio), 0, "Radio One"});
  image.Header(0, 1, 2, 2);  // basic layout
  return image.Take();
}

}  // namespace emulator
