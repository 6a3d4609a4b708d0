// Golden bytes of every record in both layouts: field offsets, bit
// positions, little-endian order, the KVRS favorite packing, and bits that
// are never written keeping what the image held.
#include "torvix/database/records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace torvix {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The image filled with 0xAA, so that every byte a store leaves alone shows.
DatabaseImage Patterned() {
  DatabaseImage image;
  std::memset(image.Data(), 0xAA, DatabaseImage::kSize);
  return image;
}

Bytes At(const DatabaseImage& image, std::size_t offset, std::size_t n) {
  return {image.Data() + offset, image.Data() + offset + n};
}

TEST(ImageHeader, GoldenBytesAndMagic) {
  DatabaseImage image = Patterned();
  EXPECT_FALSE(HasImageMagic(DatabaseImage{}));  // a zero image is not valid
  const ImageHeader header{kFormatKvrs, 9, 3, 0x01020304, 3200, -1};
  StoreHeader(image, header);
  EXPECT_EQ(At(image, 0, 32), (Bytes{'t',  'w',  'i',  'n',  'o',  'w',  'l',  's',  0x00, 0x00, 0x02,
                                     0x09, 0x03, 0x00, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01, 0x80, 0x0C,
                                     0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0xAA, 0xAA, 0xAA}));
  EXPECT_TRUE(HasImageMagic(image));
  const ImageHeader loaded = LoadHeader(image);
  EXPECT_EQ(loaded.antenna_count, 9);
  EXPECT_EQ(loaded.transponder_count, 0x01020304);
  EXPECT_EQ(loaded.antenna_config, -1);
}

TEST(SatelliteRecordLayout, BasicAndKvrsGoldenBytes) {
  DatabaseImage image = Patterned();
  const SatelliteRecord basic{.lnb_low = 9750, .lnb_high = 10600, .universal_lnb = true, .angle = 192,
                              .east_west = true, .diseqc = {true, 2}, .tone_22khz = {true, true},
                              .volt_14_18 = {true, true}, .name = "ASTRA"};
  StoreSatellite(image, kBasicLayout, 1, basic);
  EXPECT_EQ(At(image, 0x20 + 24, 24), (Bytes{0x16, 0x26, 0x68, 0x29, 0xC0, 0x80, 0xAA, 0xAA, 0x3B, 0xAB, 0xAA, 0xAA,
                                             'A', 'S', 'T', 'R', 'A', 0x00, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));
  EXPECT_EQ(LoadSatellite(image, kBasicLayout, 1), basic);

  SatelliteRecord kvrs{.lnb_low = 9750, .lnb_high = 10600, .angle = kMaxAngle, .diseqc_1_2 = true,
                       .biased_value = 165, .name = "123456789"};
  StoreSatellite(image, kKvrsLayout, 2, kvrs);
  EXPECT_EQ(At(image, 0x20 + 40, 20), (Bytes{0x16, 0x26, 0x68, 0x29, 0x08, 0x07, 0xAA, 0xAA, 0x04, 0xFF,
                                             '1', '2', '3', '4', '5', '6', '7', '8', '9', 0x00}));
  EXPECT_EQ(LoadSatellite(image, kKvrsLayout, 2), kvrs);
  kvrs.biased_value = 2147483647;  // any int from the text packs without overflow
  StoreSatellite(image, kKvrsLayout, 2, kvrs);
  EXPECT_EQ(image.Get8(0x20 + 40 + 9), (0x7FFFFFFFu + 90u) & 0xFFu);
}

TEST(TransponderRecordLayout, BasicAndKvrsGoldenBytes) {
  DatabaseImage image = Patterned();
  const TransponderRecord t{.frequency = 12663, .symbolrate = 22000, .polarization = true, .fec = 3,
                            .satellite_index = 4, .aux_byte = 7, .aux_codes = {0, 1, 0, 1, 2, 3, 0, 0}};
  StoreTransponder(image, kBasicLayout, 0, t);
  EXPECT_EQ(At(image, 0xA20, 8), (Bytes{0x77, 0x31, 0xF0, 0x55, 0xB1, 0xAA, 0x04, 0xAA}));
  StoreTransponder(image, kKvrsLayout, 3, t);
  EXPECT_EQ(At(image, 0xA20 + 36, 12), (Bytes{0x77, 0x31, 0xF0, 0x55, 0xB1, 0xAA, 0x04, 0xAA, 0x07, 0xAA, 0x44, 0x0E}));
  EXPECT_EQ(LoadTransponder(image, kKvrsLayout, 3), t);
  // Each switch bit in its own place, and FEC code 7.
  StoreTransponder(image, kBasicLayout, 1, {.tone_22khz = true, .volt_14_18 = true, .volt_0_12 = true, .fec = 7});
  EXPECT_EQ(image.Get16(0xA20 + 8 + 4), 0xAA80 | 0x7E);
}

TEST(AntennaRecordLayout, SwitchBitsSitHigherThanInSatellites) {
  DatabaseImage image = Patterned();
  const AntennaRecord a{.lnb_low = 9750, .lnb_high = 10600, .universal_lnb = true, .diseqc = {true, 3},
                        .tone_22khz = {true, true}, .volt_0_12 = {true, false}, .antenna_type = 1};
  StoreAntenna(image, 63, a);
  const std::size_t at = 0x6A20 + 63 * 12;
  EXPECT_EQ(At(image, at, 13), (Bytes{0x16, 0x26, 0x68, 0x29, 0xEF, 0xA1, 0xAA, 0xAA, 0xA6, 0xAA, 0xAA, 0xAA, 0xAA}));
  EXPECT_EQ(LoadAntenna(image, 63), a);
}

TEST(ServiceRecordLayout, BasicGoldenBytes) {
  DatabaseImage image = Patterned();
  const ServiceRecord s{.service_id = 2048, .video_pid = 4096, .audio_pid = 4097, .pcr_pid = 4096,
                        .transponder_index = 5, .tv_radio = true, .txt_pid = 0x9FFF, .scramble = true,
                        .favorite = 1, .name = "ZDF"};
  StoreService(image, kBasicLayout, 3199, s);
  const std::size_t at = 0x2A20 + 3199 * 28;
  EXPECT_EQ(at + 28, 0x18820u);
  EXPECT_EQ(At(image, at, 28), (Bytes{0x00, 0x08, 0x00, 0x10, 0x01, 0x10, 0x00, 0x10, 0x05, 0x80,
                                      0xFF, 0x9F, 0xAB, 0xAA, 'Z',  'D',  'F',  0x00, 0xAA, 0xAA,
                                      0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));
  EXPECT_EQ(LoadService(image, kBasicLayout, 3199), s);
}

TEST(ServiceRecordLayout, KvrsFavoritePackingAndIndices) {
  DatabaseImage image = Patterned();
  ServiceRecord s{.pcr_pid = 4096, .scramble = true, .favorite = 0xA5, .sat_index = 1, .ant_index = 255};
  StoreService(image, kKvrsLayout, 0, s);
  const std::size_t at = 0x6E20;
  EXPECT_EQ(image.Get16(at + 6), 0x1000 | (0b010 << 13));            // favorite bits 1-3
  EXPECT_EQ(image.Get16(at + 12), 0x0001 | 0x0002 | (0b1010 << 3));  // favorite bit 0 and bits 4-7
  EXPECT_EQ(At(image, at + 28, 4), (Bytes{0x01, 0xFF, 0xAA, 0xAA}));
  EXPECT_EQ(LoadService(image, kKvrsLayout, 0), s);
  for (int f = 0; f < 256; ++f) {  // unpacking is the exact inverse
    s.favorite = static_cast<std::uint8_t>(f);
    StoreService(image, kKvrsLayout, 1, s);
    ASSERT_EQ(LoadService(image, kKvrsLayout, 1).favorite, f);
  }
}

}  // namespace
}  // namespace torvix
