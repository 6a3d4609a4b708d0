// Golden bytes of every record in both layouts: field offsets, bit
// positions, little-endian order, the KVRS favorite packing, and bits that
// are never written keeping what the image held.
#include "torvix/database/records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace torvix {
namespace {

// The image filled with 0xAA, so that every byte a store leaves alone shows.
DatabaseImage Patterned() {
  DatabaseImage image;
  std::memset(image.Data(), 0xAA, DatabaseImage::kSize);
  return image;
}

std::vector<std::uint8_t> Bytes(const DatabaseImage& image, std::size_t offset, std::size_t n) {
  return {image.Data() + offset, image.Data() + offset + n};
}

TEST(ImageHeader, GoldenBytesAndMagic) {
  DatabaseImage image = Patterned();
  EXPECT_FALSE(HasImageMagic(DatabaseImage{}));  // a zero image is not valid
  StoreHeader(image, {kFormatKvrs, 9, 3, 0x01020304, 3200, -1});
  const std::vector<std::uint8_t> expected = {
      't', 'w', 'i', 'n', 'o', 'w', 'l', 's', 0x00, 0x00, 0x02, 0x09, 0x03, 0x00, 0x00, 0x00,
      0x04, 0x03, 0x02, 0x01, 0x80, 0x0C, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(Bytes(image, 0, 32), expected);
  EXPECT_TRUE(HasImageMagic(image));
  const ImageHeader h = LoadHeader(image);
  EXPECT_EQ(h.format, kFormatKvrs);
  EXPECT_EQ(h.antenna_count, 9);
  EXPECT_EQ(h.transponder_count, 0x01020304);
  EXPECT_EQ(h.service_count, 3200);
  EXPECT_EQ(h.antenna_config, -1);
}

TEST(SatelliteRecordLayout, BasicAndKvrsGoldenBytes) {
  DatabaseImage image = Patterned();
  SatelliteRecord basic;
  basic.lnb_low = 9750;
  basic.lnb_high = 10600;
  basic.universal_lnb = true;
  basic.angle = 192;
  basic.east_west = true;
  basic.diseqc = {true, 2};
  basic.tone_22khz = {true, true};
  basic.volt_14_18 = {true, true};
  basic.name = "ASTRA";
  StoreSatellite(image, kBasicLayout, 1, basic);
  const std::vector<std::uint8_t> expectedBasic = {0x16, 0x26, 0x68, 0x29, 0xC0, 0x80, 0xAA, 0xAA,
                                                   0x3B, 0xAB, 0xAA, 0xAA, 'A',  'S',  'T',  'R',
                                                   'A',  0x00, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(Bytes(image, 0x20 + 24, 24), expectedBasic);
  EXPECT_EQ(LoadSatellite(image, kBasicLayout, 1), basic);

  SatelliteRecord kvrs;
  kvrs.lnb_low = 9750;
  kvrs.lnb_high = 10600;
  kvrs.angle = kMaxAngle;
  kvrs.diseqc_1_2 = true;
  kvrs.biased_value = 165;
  kvrs.name = "123456789";
  StoreSatellite(image, kKvrsLayout, 2, kvrs);
  const std::vector<std::uint8_t> expectedKvrs = {0x16, 0x26, 0x68, 0x29, 0x08, 0x07, 0xAA, 0xAA, 0x04, 0xFF,
                                                  '1',  '2',  '3',  '4',  '5',  '6',  '7',  '8',  '9',  0x00};
  EXPECT_EQ(Bytes(image, 0x20 + 40, 20), expectedKvrs);
  EXPECT_EQ(LoadSatellite(image, kKvrsLayout, 2), kvrs);

  kvrs.biased_value = -90;  // the lowest value stores 0
  StoreSatellite(image, kKvrsLayout, 2, kvrs);
  EXPECT_EQ(image.Get8(0x20 + 40 + 9), 0);
  kvrs.biased_value = 2147483647;  // any int from the text packs without overflow
  StoreSatellite(image, kKvrsLayout, 2, kvrs);
  EXPECT_EQ(image.Get8(0x20 + 40 + 9), (0x7FFFFFFFu + 90u) & 0xFFu);
}

TEST(TransponderRecordLayout, BasicAndKvrsGoldenBytes) {
  DatabaseImage image = Patterned();
  TransponderRecord t;
  t.frequency = 12663;
  t.symbolrate = 22000;
  t.polarization = true;
  t.fec = 3;
  t.satellite_index = 4;
  t.aux_byte = 7;
  t.aux_codes = {0, 1, 0, 1, 2, 3, 0, 0};
  StoreTransponder(image, kBasicLayout, 0, t);
  EXPECT_EQ(Bytes(image, 0xA20, 8), (std::vector<std::uint8_t>{0x77, 0x31, 0xF0, 0x55, 0xB1, 0xAA, 0x04, 0xAA}));
  StoreTransponder(image, kKvrsLayout, 3, t);
  EXPECT_EQ(Bytes(image, 0xA20 + 36, 12), (std::vector<std::uint8_t>{0x77, 0x31, 0xF0, 0x55, 0xB1, 0xAA, 0x04, 0xAA,
                                                                      0x07, 0xAA, 0x44, 0x0E}));
  EXPECT_EQ(LoadTransponder(image, kKvrsLayout, 3), t);

  TransponderRecord switches;  // each switch bit in its own place
  switches.tone_22khz = true;
  switches.volt_14_18 = true;
  switches.volt_0_12 = true;
  switches.fec = 7;
  StoreTransponder(image, kBasicLayout, 1, switches);
  EXPECT_EQ(image.Get16(0xA20 + 8 + 4), 0xAA80 | 0x7E);
  EXPECT_EQ(LoadTransponder(image, kBasicLayout, 1).fec, 7);
}

TEST(AntennaRecordLayout, SwitchBitsSitHigherThanInSatellites) {
  DatabaseImage image = Patterned();
  AntennaRecord a;
  a.lnb_low = 9750;
  a.lnb_high = 10600;
  a.universal_lnb = true;
  a.diseqc = {true, 3};
  a.tone_22khz = {true, true};
  a.volt_0_12 = {true, false};
  a.antenna_type = 1;
  StoreAntenna(image, 63, a);
  const std::size_t at = 0x6A20 + 63 * 12;
  EXPECT_EQ(Bytes(image, at, 12), (std::vector<std::uint8_t>{0x16, 0x26, 0x68, 0x29, 0xEF, 0xA1, 0xAA, 0xAA, 0xA6,
                                                              0xAA, 0xAA, 0xAA}));
  EXPECT_EQ(LoadAntenna(image, 63), a);
  EXPECT_EQ(image.Get8(at + 12), 0xAA);  // the reserved area after the last antenna is untouched
}

TEST(ServiceRecordLayout, BasicGoldenBytes) {
  DatabaseImage image = Patterned();
  ServiceRecord s;
  s.service_id = 2048;
  s.video_pid = 4096;
  s.audio_pid = 4097;
  s.pcr_pid = 4096;
  s.transponder_index = 5;
  s.tv_radio = true;
  s.txt_pid = 0x9FFF;
  s.scramble = true;
  s.favorite = 1;
  s.name = "ZDF";
  StoreService(image, kBasicLayout, 3199, s);
  const std::size_t at = 0x2A20 + 3199 * 28;
  const std::vector<std::uint8_t> expected = {0x00, 0x08, 0x00, 0x10, 0x01, 0x10, 0x00, 0x10, 0x05, 0x80,
                                              0xFF, 0x9F, 0xAB, 0xAA, 'Z',  'D',  'F',  0x00, 0xAA, 0xAA,
                                              0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(Bytes(image, at, 28), expected);
  EXPECT_EQ(at + 28, 0x18820u);
  EXPECT_EQ(LoadService(image, kBasicLayout, 3199), s);
}

TEST(ServiceRecordLayout, KvrsFavoritePackingAndIndices) {
  DatabaseImage image = Patterned();
  ServiceRecord s;
  s.pcr_pid = 4096;
  s.scramble = true;
  s.favorite = 0xA5;
  s.sat_index = 1;
  s.ant_index = 255;
  StoreService(image, kKvrsLayout, 0, s);
  const std::size_t at = 0x6E20;
  EXPECT_EQ(image.Get16(at + 6), 0x1000 | (0b010 << 13));            // favorite bits 1-3
  EXPECT_EQ(image.Get16(at + 12), 0x0001 | 0x0002 | (0b1010 << 3));  // favorite bit 0 and bits 4-7
  EXPECT_EQ(Bytes(image, at + 28, 4), (std::vector<std::uint8_t>{0x01, 0xFF, 0xAA, 0xAA}));
  EXPECT_EQ(LoadService(image, kKvrsLayout, 0), s);
  for (int f = 0; f < 256; ++f) {  // unpacking is the exact inverse
    s.favorite = static_cast<std::uint8_t>(f);
    StoreService(image, kKvrsLayout, 1, s);
    ASSERT_EQ(LoadService(image, kKvrsLayout, 1).favorite, f);
  }
}

TEST(RecordNames, NameWithoutNulStopsAtTheFieldEnd) {
  DatabaseImage image = Patterned();  // no NUL anywhere
  EXPECT_EQ(LoadSatellite(image, kBasicLayout, 0).name, std::string(12, '\xAA'));
  EXPECT_EQ(LoadSatellite(image, kKvrsLayout, 127).name, std::string(10, '\xAA'));
  EXPECT_EQ(LoadService(image, kKvrsLayout, 3199).name, std::string(14, '\xAA'));
}

}  // namespace
}  // namespace torvix
