#include "torvix/database/records.h"

#include <algorithm>
#include <cstring>

namespace torvix {

namespace {

// Offsets inside the records; the layouts share the first bytes of each record.
constexpr std::size_t kLnbLow = 0;
constexpr std::size_t kLnbHigh = 2;
constexpr std::size_t kAngle = 4;  // bits 0-14 angle, bit 15 west
constexpr std::size_t kSatelliteFlags = 8;  // basic: 32 bits, KVRS: 16 bits
constexpr std::size_t kBasicSatelliteName = 12;
constexpr std::size_t kBasicSatelliteNameField = 12;
constexpr std::size_t kKvrsSatelliteName = 10;
constexpr std::size_t kKvrsSatelliteNameField = 10;

constexpr std::size_t kFrequency = 0;
constexpr std::size_t kSymbolrate = 2;
constexpr std::size_t kTransponderFlags = 4;
constexpr std::size_t kTransponderSatellite = 6;
constexpr std::size_t kAuxByte = 8;
constexpr std::size_t kAuxCodes = 10;

constexpr std::size_t kAntennaFlags = 4;
constexpr std::size_t kAntennaType = 8;  // bits 2-3

constexpr std::size_t kServiceId = 0;
constexpr std::size_t kVideoPid = 2;
constexpr std::size_t kAudioPid = 4;
constexpr std::size_t kPcrPid = 6;  // KVRS: favorite bits 1-3 in bits 13-15
constexpr std::size_t kTransponderIndex = 8;  // bit 15 radio
constexpr std::size_t kTxtPid = 10;
constexpr std::size_t kServiceFlags = 12;
constexpr std::size_t kServiceName = 14;
constexpr std::size_t kServiceNameField = 14;
constexpr std::size_t kSatIndex = 28;
constexpr std::size_t kAntIndex = 29;

// Masks of the bits each layout writes in its flag words.
constexpr std::uint32_t kBasicSatelliteFlagBits = 0x3FF;  // bits 10-31 not written
constexpr std::uint16_t kTransponderFlagBits = 0x7F;      // bits 7-15 not written
constexpr std::uint16_t kAntennaFlagBits = 0x0FCF;        // bits 4-5 and 12-15 not written
constexpr std::uint16_t kAntennaTypeBits = 0x000C;
constexpr std::uint16_t kBasicServiceFlagBits = 0x0007;   // bits 3-15 not written
constexpr std::uint16_t kPidBits = 0x1FFF;
constexpr std::uint16_t kIndexBits = 0x7FFF;

constexpr unsigned Bit(bool b, unsigned position) { return static_cast<unsigned>(b) << position; }
constexpr bool TestBit(unsigned word, unsigned position) { return ((word >> position) & 1u) != 0; }

std::string LoadName(const DatabaseImage& image, std::size_t offset, std::size_t field) {
  const auto* begin = reinterpret_cast<const char*>(image.Data() + offset);
  return std::string(begin, strnlen(begin, field));
}

void StoreName(DatabaseImage& image, std::size_t offset, std::size_t field, const std::string& name) {
  const std::size_t n = std::min(name.size(), field - 1);
  std::memcpy(image.Data() + offset, name.data(), n);
  image.Put8(offset + n, 0);
}

// The three switch pairs and DiSEqC share one bit arrangement: DiSEqC used at
// `diseqcBit`, its port above it, then the three used/value pairs from `switchBit`.
unsigned PackSwitches(const DiseqcSetting& diseqc, const SwitchSetting& s22, const SwitchSetting& s12,
                      const SwitchSetting& s18, unsigned switchBit) {
  return Bit(diseqc.used, 1) | (static_cast<unsigned>(diseqc.port & 3u) << 2) | Bit(s22.used, switchBit) |
         Bit(s22.value, switchBit + 1) | Bit(s12.used, switchBit + 2) | Bit(s12.value, switchBit + 3) |
         Bit(s18.used, switchBit + 4) | Bit(s18.value, switchBit + 5);
}

void UnpackSwitches(unsigned flags, unsigned switchBit, DiseqcSetting& diseqc, SwitchSetting& s22,
                    SwitchSetting& s12, SwitchSetting& s18) {
  diseqc = {TestBit(flags, 1), static_cast<std::uint8_t>((flags >> 2) & 3u)};
  s22 = {TestBit(flags, switchBit), TestBit(flags, switchBit + 1)};
  s12 = {TestBit(flags, switchBit + 2), TestBit(flags, switchBit + 3)};
  s18 = {TestBit(flags, switchBit + 4), TestBit(flags, switchBit + 5)};
}

constexpr unsigned kSatelliteSwitchBit = 4;  // 22 kHz at bits 4-5 in a basic satellite
constexpr unsigned kAntennaSwitchBit = 6;    // 22 kHz at bits 6-7 in an antenna

}  // namespace

bool HasImageMagic(const DatabaseImage& image) {
  return std::memcmp(image.Data() + kMagicOffset, kImageMagic, kMagicSize) == 0;
}

ImageHeader LoadHeader(const DatabaseImage& image) {
  ImageHeader h;
  h.format = image.Get8(kFormatOffset);
  h.antenna_count = image.Get8(kAntennaCountOffset);
  h.satellite_count = static_cast<std::int32_t>(image.Get32(kSatelliteCountOffset));
  h.transponder_count = static_cast<std::int32_t>(image.Get32(kTransponderCountOffset));
  h.service_count = static_cast<std::int32_t>(image.Get32(kServiceCountOffset));
  h.antenna_config = static_cast<std::int32_t>(image.Get32(kAntennaConfigOffset));
  return h;
}

void StoreHeader(DatabaseImage& image, const ImageHeader& header) {
  std::memcpy(image.Data() + kMagicOffset, kImageMagic, kMagicSize);
  image.Put16(kZeroWordOffset, 0);
  image.Put8(kFormatOffset, header.format);
  image.Put8(kAntennaCountOffset, header.antenna_count);
  image.Put32(kSatelliteCountOffset, static_cast<std::uint32_t>(header.satellite_count));
  image.Put32(kTransponderCountOffset, static_cast<std::uint32_t>(header.transponder_count));
  image.Put32(kServiceCountOffset, static_cast<std::uint32_t>(header.service_count));
  StoreAntennaConfig(image, header.antenna_config);
}

void StoreAntennaConfig(DatabaseImage& image, std::int32_t antenna_config) {
  image.Put32(kAntennaConfigOffset, static_cast<std::uint32_t>(antenna_config));
}

SatelliteRecord LoadSatellite(const DatabaseImage& image, const ImageLayout& layout, int index) {
  const std::size_t at = layout.satellites.RecordOffset(index);
  SatelliteRecord r;
  r.lnb_low = image.Get16(at + kLnbLow);
  r.lnb_high = image.Get16(at + kLnbHigh);
  const unsigned angle = image.Get16(at + kAngle);
  r.angle = static_cast<std::uint16_t>(angle & kIndexBits);
  r.east_west = TestBit(angle, 15);
  if (layout.kvrs) {
    const unsigned flags = image.Get16(at + kSatelliteFlags);
    r.universal_lnb = TestBit(flags, 0);
    r.diseqc_1_2 = TestBit(flags, 2);
    r.biased_value = static_cast<int>(flags >> 8) - kBiasedValueBias;
    r.name = LoadName(image, at + kKvrsSatelliteName, kKvrsSatelliteNameField);
  } else {
    const std::uint32_t flags = image.Get32(at + kSatelliteFlags);
    r.universal_lnb = TestBit(flags, 0);
    UnpackSwitches(flags, kSatelliteSwitchBit, r.diseqc, r.tone_22khz, r.volt_0_12, r.volt_14_18);
    r.name = LoadName(image, at + kBasicSatelliteName, kBasicSatelliteNameField);
  }
  return r;
}

void StoreSatellite(DatabaseImage& image, const ImageLayout& layout, int index, const SatelliteRecord& r) {
  const std::size_t at = layout.satellites.RecordOffset(index);
  image.Put16(at + kLnbLow, r.lnb_low);
  image.Put16(at + kLnbHigh, r.lnb_high);
  image.Put16(at + kAngle, static_cast<std::uint16_t>((r.angle & kIndexBits) | Bit(r.east_west, 15)));
  if (layout.kvrs) {
    // Unsigned arithmetic: biased_value comes from the text and may be any int.
    const unsigned biased = (static_cast<unsigned>(r.biased_value) + kBiasedValueBias) & 0xFFu;
    image.Put16(at + kSatelliteFlags,
                static_cast<std::uint16_t>(Bit(r.universal_lnb, 0) | Bit(r.diseqc_1_2, 2) | (biased << 8)));
    StoreName(image, at + kKvrsSatelliteName, kKvrsSatelliteNameField, r.name);
  } else {
    const unsigned flags = Bit(r.universal_lnb, 0) |
                           PackSwitches(r.diseqc, r.tone_22khz, r.volt_0_12, r.volt_14_18, kSatelliteSwitchBit);
    image.PutBits32(at + kSatelliteFlags, kBasicSatelliteFlagBits, flags);
    StoreName(image, at + kBasicSatelliteName, kBasicSatelliteNameField, r.name);
  }
}

std::uint8_t LoadTransponderSatellite(const DatabaseImage& image, const ImageLayout& layout, int index) {
  return image.Get8(layout.transponders.RecordOffset(index) + kTransponderSatellite);
}

TransponderRecord LoadTransponder(const DatabaseImage& image, const ImageLayout& layout, int index) {
  const std::size_t at = layout.transponders.RecordOffset(index);
  TransponderRecord r;
  r.frequency = image.Get16(at + kFrequency);
  r.symbolrate = image.Get16(at + kSymbolrate);
  const unsigned flags = image.Get16(at + kTransponderFlags);
  r.polarization = TestBit(flags, 0);
  r.tone_22khz = TestBit(flags, 1);
  r.volt_14_18 = TestBit(flags, 2);
  r.volt_0_12 = TestBit(flags, 3);
  r.fec = static_cast<std::uint8_t>((flags >> 4) & 7u);
  r.satellite_index = image.Get8(at + kTransponderSatellite);
  if (layout.kvrs) {
    r.aux_byte = image.Get8(at + kAuxByte);
    const unsigned codes = image.Get16(at + kAuxCodes);
    for (unsigned i = 0; i < r.aux_codes.size(); ++i) r.aux_codes[i] = static_cast<std::uint8_t>((codes >> (2 * i)) & 3u);
  }
  return r;
}

void StoreTransponder(DatabaseImage& image, const ImageLayout& layout, int index, const TransponderRecord& r) {
  const std::size_t at = layout.transponders.RecordOffset(index);
  image.Put16(at + kFrequency, r.frequency);
  image.Put16(at + kSymbolrate, r.symbolrate);
  const unsigned flags = Bit(r.polarization, 0) | Bit(r.tone_22khz, 1) | Bit(r.volt_14_18, 2) | Bit(r.volt_0_12, 3) |
                         (static_cast<unsigned>(r.fec & 7u) << 4);
  image.PutBits16(at + kTransponderFlags, kTransponderFlagBits, static_cast<std::uint16_t>(flags));
  image.Put8(at + kTransponderSatellite, r.satellite_index);
  if (layout.kvrs) {
    image.Put8(at + kAuxByte, r.aux_byte);
    unsigned codes = 0;
    for (unsigned i = 0; i < r.aux_codes.size(); ++i) codes |= static_cast<unsigned>(r.aux_codes[i] & 3u) << (2 * i);
    image.Put16(at + kAuxCodes, static_cast<std::uint16_t>(codes));
  }
}

AntennaRecord LoadAntenna(const DatabaseImage& image, int index) {
  const std::size_t at = kKvrsLayout.antennas.RecordOffset(index);
  AntennaRecord r;
  r.lnb_low = image.Get16(at + kLnbLow);
  r.lnb_high = image.Get16(at + kLnbHigh);
  const unsigned flags = image.Get16(at + kAntennaFlags);
  r.universal_lnb = TestBit(flags, 0);
  UnpackSwitches(flags, kAntennaSwitchBit, r.diseqc, r.tone_22khz, r.volt_0_12, r.volt_14_18);
  r.antenna_type = static_cast<std::uint8_t>((image.Get16(at + kAntennaType) >> 2) & 3u);
  return r;
}

void StoreAntenna(DatabaseImage& image, int index, const AntennaRecord& r) {
  const std::size_t at = kKvrsLayout.antennas.RecordOffset(index);
  image.Put16(at + kLnbLow, r.lnb_low);
  image.Put16(at + kLnbHigh, r.lnb_high);
  const unsigned flags =
      Bit(r.universal_lnb, 0) | PackSwitches(r.diseqc, r.tone_22khz, r.volt_0_12, r.volt_14_18, kAntennaSwitchBit);
  image.PutBits16(at + kAntennaFlags, kAntennaFlagBits, static_cast<std::uint16_t>(flags));
  image.PutBits16(at + kAntennaType, kAntennaTypeBits, static_cast<std::uint16_t>((r.antenna_type & 3u) << 2));
}

ServiceRecord LoadService(const DatabaseImage& image, const ImageLayout& layout, int index) {
  const std::size_t at = layout.services.RecordOffset(index);
  ServiceRecord r;
  r.service_id = image.Get16(at + kServiceId);
  r.video_pid = image.Get16(at + kVideoPid);
  r.audio_pid = image.Get16(at + kAudioPid);
  const unsigned pcr = image.Get16(at + kPcrPid);
  r.pcr_pid = static_cast<std::uint16_t>(pcr & kPidBits);
  const unsigned transponder = image.Get16(at + kTransponderIndex);
  r.transponder_index = static_cast<std::uint16_t>(transponder & kIndexBits);
  r.tv_radio = TestBit(transponder, 15);
  r.txt_pid = image.Get16(at + kTxtPid);
  const unsigned flags = image.Get16(at + kServiceFlags);
  r.scramble = TestBit(flags, 0);
  r.lock = TestBit(flags, 2);
  r.name = LoadName(image, at + kServiceName, kServiceNameField);
  if (layout.kvrs) {
    // favorite bit 0 in flags bit 1, bits 1-3 in the PCR word's bits 13-15, bits 4-7 in flags bits 3-6.
    r.favorite = static_cast<std::uint8_t>(((flags >> 1) & 1u) | (((pcr >> 13) & 7u) << 1) | (((flags >> 3) & 15u) << 4));
    r.sat_index = image.Get8(at + kSatIndex);
    r.ant_index = image.Get8(at + kAntIndex);
  } else {
    r.favorite = static_cast<std::uint8_t>((flags >> 1) & 1u);
  }
  return r;
}

void StoreService(DatabaseImage& image, const ImageLayout& layout, int index, const ServiceRecord& r) {
  const std::size_t at = layout.services.RecordOffset(index);
  image.Put16(at + kServiceId, r.service_id);
  image.Put16(at + kVideoPid, r.video_pid);
  image.Put16(at + kAudioPid, r.audio_pid);
  image.Put16(at + kTransponderIndex,
              static_cast<std::uint16_t>((r.transponder_index & kIndexBits) | Bit(r.tv_radio, 15)));
  image.Put16(at + kTxtPid, r.txt_pid);
  StoreName(image, at + kServiceName, kServiceNameField, r.name);
  const unsigned pcr = r.pcr_pid & kPidBits;
  if (layout.kvrs) {
    const unsigned f = r.favorite;
    image.Put16(at + kPcrPid, static_cast<std::uint16_t>(pcr | (((f >> 1) & 7u) << 13)));
    image.Put16(at + kServiceFlags,
                static_cast<std::uint16_t>(Bit(r.scramble, 0) | ((f & 1u) << 1) | Bit(r.lock, 2) | (((f >> 4) & 15u) << 3)));
    image.Put8(at + kSatIndex, r.sat_index);
    image.Put8(at + kAntIndex, r.ant_index);
  } else {
    image.Put16(at + kPcrPid, static_cast<std::uint16_t>(pcr));
    image.PutBits16(at + kServiceFlags, kBasicServiceFlagBits,
                    static_cast<std::uint16_t>(Bit(r.scramble, 0) | Bit(r.favorite & 1u, 1) | Bit(r.lock, 2)));
  }
}

}  // namespace torvix
