// The records of the database image, unpacked into plain values, and the
// byte-by-byte code that loads them from and stores them into the image in
// either layout.
//
// Store functions write exactly the bits a record defines: bits and bytes
// marked "not written" keep whatever the image held.  Load functions accept
// any bytes (a downloaded image is not trusted): names stop at their NUL or at
// the end of their field.  Indices must lie within the table's room.
// All functions work only on the image they are given: any thread, no blocking.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "torvix/database/database_image.h"

namespace torvix {

// Header field offsets.
inline constexpr std::size_t kMagicOffset = 0;
inline constexpr std::size_t kMagicSize = 8;
inline constexpr char kImageMagic[] = "twinowls";  // the eight bytes, no terminator in the image
inline constexpr std::size_t kZeroWordOffset = 8;  // 16 bits, written 0
inline constexpr std::size_t kFormatOffset = 10;
inline constexpr std::size_t kAntennaCountOffset = 11;  // 8 bits
inline constexpr std::size_t kSatelliteCountOffset = 12;
inline constexpr std::size_t kTransponderCountOffset = 16;
inline constexpr std::size_t kServiceCountOffset = 20;
inline constexpr std::size_t kAntennaConfigOffset = 24;  // bytes 28-31 are never written

inline constexpr int kNoAntennaConfig = -1;  // antenna_config: no default switch configuration

struct ImageHeader {
  std::uint8_t format = kFormatBasic;
  std::uint8_t antenna_count = 0;
  std::int32_t satellite_count = 0;
  std::int32_t transponder_count = 0;
  std::int32_t service_count = 0;
  std::int32_t antenna_config = kNoAntennaConfig;
};

bool HasImageMagic(const DatabaseImage& image);
ImageHeader LoadHeader(const DatabaseImage& image);
// Writes the magic, the zero word and every field of `header` (not bytes 28-31).
void StoreHeader(DatabaseImage& image, const ImageHeader& header);
void StoreAntennaConfig(DatabaseImage& image, std::int32_t antenna_config);

// A switch setting of a satellite or antenna (22 kHz, 0/12 V, 14/18 V): "none"
// is used = false, value 0.  value 1 means 22 kHz, 12 V or 18 V.
struct SwitchSetting {
  bool used = false;
  bool value = false;
  bool operator==(const SwitchSetting&) const = default;
};

// DiSEqC of a satellite (basic) or antenna: port 0 to 3 stands for a to d.
struct DiseqcSetting {
  bool used = false;
  std::uint8_t port = 0;
  bool operator==(const DiseqcSetting&) const = default;
};

inline constexpr int kMaxAngle = 1800;  // tenths of a degree
inline constexpr int kBiasedValueBias = 90;  // KVRS flags bits 8-15 hold biased_value + 90

struct SatelliteRecord {
  std::uint16_t lnb_low = 0;
  std::uint16_t lnb_high = 0;
  bool universal_lnb = false;
  std::uint16_t angle = 0;  // tenths of a degree, 15 bits
  bool east_west = false;   // false east, true west
  // Basic layout only.
  DiseqcSetting diseqc;
  SwitchSetting tone_22khz;
  SwitchSetting volt_0_12;
  SwitchSetting volt_14_18;
  // KVRS layout only.
  bool diseqc_1_2 = false;
  int biased_value = 0;  // -90 to 165; stored as the low 8 bits of biased_value + 90
  std::string name;
  bool operator==(const SatelliteRecord&) const = default;
};

inline constexpr std::uint8_t kNoSatellite = 255;  // satellite index of a transponder defined before any satellite
inline constexpr std::uint8_t kNoAuxByte = 255;    // aux_byte when the text gave none

struct TransponderRecord {
  std::uint16_t frequency = 0;
  std::uint16_t symbolrate = 0;
  bool polarization = false;  // true horizontal
  bool tone_22khz = false;
  bool volt_14_18 = false;  // true 18 V
  bool volt_0_12 = false;   // true 12 V
  std::uint8_t fec = 0;     // 3 bits: 0 auto, 1 "1/2" ... 5 "7/8"; 6 and 7 have no word
  std::uint8_t satellite_index = kNoSatellite;
  // KVRS layout only.
  std::uint8_t aux_byte = kNoAuxByte;
  std::array<std::uint8_t, 8> aux_codes{};  // 2 bits each
  bool operator==(const TransponderRecord&) const = default;
};

struct AntennaRecord {
  std::uint16_t lnb_low = 0;
  std::uint16_t lnb_high = 0;
  bool universal_lnb = false;
  DiseqcSetting diseqc;
  SwitchSetting tone_22khz;
  SwitchSetting volt_0_12;
  SwitchSetting volt_14_18;
  std::uint8_t antenna_type = 0;  // 2 bits: 0 fixed, 1 DiSEqC, 2 actuator; 3 has no word
  bool operator==(const AntennaRecord&) const = default;
};

struct ServiceRecord {
  std::uint16_t service_id = 0;
  std::uint16_t video_pid = 0;
  std::uint16_t audio_pid = 0;
  std::uint16_t pcr_pid = 0;            // 13 bits
  std::uint16_t transponder_index = 0;  // 15 bits
  bool tv_radio = false;                // false TV, true radio
  std::uint16_t txt_pid = 0;
  bool scramble = false;
  std::uint8_t favorite = 0;  // basic layout: one bit; KVRS layout: eight bits
  bool lock = false;
  std::string name;
  // KVRS layout only.
  std::uint8_t sat_index = 0;
  std::uint8_t ant_index = 0;
  bool operator==(const ServiceRecord&) const = default;
};

// Longest names the text can give (the fields hold one more byte for the NUL).
inline constexpr std::size_t kSatelliteNameMax = 9;
inline constexpr std::size_t kServiceNameMax = 13;

SatelliteRecord LoadSatellite(const DatabaseImage& image, const ImageLayout& layout, int index);
void StoreSatellite(DatabaseImage& image, const ImageLayout& layout, int index, const SatelliteRecord& record);
TransponderRecord LoadTransponder(const DatabaseImage& image, const ImageLayout& layout, int index);
void StoreTransponder(DatabaseImage& image, const ImageLayout& layout, int index, const TransponderRecord& record);
// The satellite index byte alone (the hot path of the transponder look-ups).
std::uint8_t LoadTransponderSatellite(const DatabaseImage& image, const ImageLayout& layout, int index);
// Antennas exist in the KVRS layout only.
AntennaRecord LoadAntenna(const DatabaseImage& image, int index);
void StoreAntenna(DatabaseImage& image, int index, const AntennaRecord& record);
ServiceRecord LoadService(const DatabaseImage& image, const ImageLayout& layout, int index);
void StoreService(DatabaseImage& image, const ImageLayout& layout, int index, const ServiceRecord& record);

}  // namespace torvix
