// The writer: banners byte for byte, every line format, the transponder
// positions of services, and images from outside that break the rules.
#include "torvix/database/factory_text_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

#include "common/crc32.h"
#include "torvix/database/factory_text_reader.h"
#include "torvix/database/records.h"
#include "torvix/database/tests/sample_texts.h"

namespace torvix {
namespace {

using testing::Compile;
using testing::Print;

std::vector<std::string> Lines(const std::string& dosText) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = dosText.find("\r\n"); end != std::string::npos; end = dosText.find("\r\n", start)) {
    lines.push_back(dosText.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, dosText.size()) << "text does not end in CR LF";
  return lines;
}

std::vector<std::string> LinesStartingWith(const std::string& dosText, const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : Lines(dosText)) {
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  }
  return found;
}

class Writer : public ::testing::Test {
 protected:
  void SetHeader(std::uint8_t format, int satellites, int transponders, int services, int antennas = 0,
                 int antennaConfig = kNoAntennaConfig) {
    StoreHeader(*image_, {format, static_cast<std::uint8_t>(antennas), satellites, transponders, services,
                          antennaConfig});
  }
  std::unique_ptr<DatabaseImage> image_ = std::make_unique<DatabaseImage>();
};

TEST_F(Writer, ImageWithoutMagicPrintsNothing) {
  std::ostringstream out;
  EXPECT_EQ(WriteFactoryText(out, *image_), kWriteInvalidImage);
  EXPECT_EQ(out.str(), "");
  std::memcpy(image_->Data(), "twinowlS", 8);
  EXPECT_EQ(WriteFactoryText(out, *image_), kWriteInvalidImage);
  EXPECT_EQ(out.str(), "");
}

TEST_F(Writer, BannersByteForByte) {
  // Lengths and CRC-32 of the complete texts of empty images, taken from the
  // banner texts independently of this code.
  const struct {
    std::uint8_t format;
    int antennaConfig;
    std::size_t size;
    std::uint32_t crc;
  } cases[] = {{kFormatBasic, kNoAntennaConfig, 2858, 0xfcf6d756},
               {kFormatKvrs, kNoAntennaConfig, 3279, 0xdf1f4ed3},
               {kFormatBasic, 3, 4857, 0x98deaa18},
               {kFormatKvrs, 3, 5278, 0x910ace0c}};
  for (const auto& c : cases) {
    SetHeader(c.format, 0, 0, 0, 0, c.antennaConfig);
    const std::string text = Print(*image_);
    EXPECT_EQ(text.size(), c.size) << int{c.format} << ' ' << c.antennaConfig;
    EXPECT_EQ(common::Crc32(text.data(), text.size()), c.crc) << int{c.format} << ' ' << c.antennaConfig;
    for (const std::string& line : Lines(text)) {
      if (line.empty() || line[0] != '#') continue;
      const std::size_t n = line.size();
      EXPECT_TRUE(n == 122 || n == 115 || n == 111 || n == 109 || n == 133) << line;
      EXPECT_EQ(line.back(), '#') << line;
    }
  }
  SetHeader(kFormatBasic, 0, 0, 0, 0, 3);
  const std::vector<std::string> lines = Lines(Print(*image_));
  EXPECT_EQ(lines[2], "# Factory data of the digital satellite receiver." + std::string(72, ' ') + "#");
  EXPECT_EQ(lines[6], "");
  EXPECT_EQ(lines[23], "a         3");
  EXPECT_EQ(lines[24], "");
}

TEST_F(Writer, BasicSatelliteTransponderAndServiceLines) {
  StoreSatellite(*image_, kBasicLayout, 0,
                 {.lnb_low = 9750, .lnb_high = 10600, .universal_lnb = true, .angle = 192, .east_west = true,
                  .tone_22khz = {true, true}, .name = "ASTRA DEF"});
  StoreSatellite(*image_, kBasicLayout, 1,
                 {.diseqc = {true, 3}, .volt_0_12 = {true, false}, .volt_14_18 = {true, false}});
  // Table order: sat 1, sat 0, sat 1, none, sat 1; the service points at record 4.
  for (int i = 0; i < 5; ++i) {
    const std::uint8_t owner = i == 1 ? 0 : i == 3 ? kNoSatellite : 1;
    StoreTransponder(*image_, kBasicLayout, i,
                     {.frequency = 12663, .symbolrate = 22000, .polarization = true, .fec = 3, .satellite_index = owner});
  }
  StoreService(*image_, kBasicLayout, 0,
               {.service_id = 2048, .video_pid = 4096, .audio_pid = 65535, .pcr_pid = 8191, .transponder_index = 4,
                .tv_radio = true, .txt_pid = 40959, .favorite = 1, .lock = true, .name = "ZDF On-line"});
  SetHeader(kFormatBasic, 2, 5, 1);

  const std::string text = Print(*image_);
  EXPECT_EQ(LinesStartingWith(text, "  s "),
            (std::vector<std::string>{
                "  s       \"ASTRA DEF\"     9750      10600     universal 19.2      west      none      22        "
                "none      none",
                "  s       \"\"              0         0         normal    0.0       east      d         none      "
                "0         14"}));
  const std::vector<std::string> tp = LinesStartingWith(text, "      t ");
  ASSERT_EQ(tp.size(), 4u);  // the transponder of no satellite is not printed
  EXPECT_EQ(tp[0], "      t   12663           22000     hor       0         14        0         3/4");
  // The third transponder of the second satellite.
  EXPECT_EQ(LinesStartingWith(text, "  r "),
            (std::vector<std::string>{"  r       \"ZDF On-line\"   2         3         2048      4096      65535     "
                                      "8191      40959     0         1         1"}));
}

TEST_F(Writer, KvrsAntennaSatelliteAndServiceLines) {
  StoreAntenna(*image_, 0,
               {.lnb_low = 9750, .lnb_high = 10600, .universal_lnb = true, .diseqc = {true, 0},
                .tone_22khz = {true, true}, .volt_14_18 = {true, true}, .antenna_type = 1});
  StoreAntenna(*image_, 1, AntennaRecord{});
  StoreSatellite(*image_, kKvrsLayout, 0, {.angle = 1800, .diseqc_1_2 = true, .biased_value = 0, .name = "KVRS"});
  StoreSatellite(*image_, kKvrsLayout, 1, {.biased_value = -90});  // flags byte 0
  StoreTransponder(*image_, kKvrsLayout, 0, {.satellite_index = 1});
  StoreService(*image_, kKvrsLayout, 0, {.favorite = 0xA5, .name = "thirteen char", .sat_index = 1, .ant_index = 255});
  SetHeader(kFormatKvrs, 2, 1, 1, 2);

  const std::string text = Print(*image_);
  EXPECT_EQ(Lines(text).at(7), "KVRS");
  EXPECT_EQ(LinesStartingWith(text, "a "),
            (std::vector<std::string>{
                "a          1       universal        9750      10600       d                  a          22         "
                "n          18        ",
                "a          2       normal              0          0       f                  n          n          "
                "n          n         "}));
  const std::vector<std::string> sat = LinesStartingWith(text, "  s ");
  ASSERT_EQ(sat.size(), 2u);
  EXPECT_EQ(sat[0], "  s       \"KVRS\"          0         0         normal    180.0     east      y         0         ");
  EXPECT_EQ(sat[1].substr(sat[1].size() - 10), "-90       ");
  EXPECT_EQ(LinesStartingWith(text, "  v "),
            (std::vector<std::string>{"  v       \"thirteen char\" 256       2         1         0         0         "
                                      "0         0         0         0         165       0"}));
}

TEST_F(Writer, ValuesWithoutAWordPrintWhatTheReaderRefuses) {
  StoreTransponder(*image_, kKvrsLayout, 0, {.fec = 6, .satellite_index = 0});
  StoreTransponder(*image_, kKvrsLayout, 1, {.fec = 7, .satellite_index = 0});
  StoreAntenna(*image_, 0, {.antenna_type = 3});
  StoreSatellite(*image_, kKvrsLayout, 0, SatelliteRecord{});
  SetHeader(kFormatKvrs, 1, 2, 0, 1);
  const std::string text = Print(*image_);
  const std::vector<std::string> tp = LinesStartingWith(text, "      t ");
  ASSERT_EQ(tp.size(), 2u);
  EXPECT_EQ(tp[0].substr(tp[0].size() - 5), " fec6");
  EXPECT_EQ(tp[1].substr(tp[1].size() - 5), " fec7");
  EXPECT_NE(LinesStartingWith(text, "a ").at(0).find("  type3 "), std::string::npos);

  auto back = std::make_unique<DatabaseImage>();
  const auto result = Compile(text, *back);
  EXPECT_EQ(result.code, FT_BAD_TRANSPONDER);
  EXPECT_NE(result.message.find("   field : FEC\n"), std::string::npos);
  EXPECT_EQ(LoadHeader(*back).antenna_count, 0);  // the antenna line was refused (not stored)
}

TEST_F(Writer, CountsNamesAndIndicesFromOutsideAreBounded) {
  std::memset(image_->Data(), 'A', DatabaseImage::kSize);  // no NUL in any name
  SetHeader(kFormatKvrs, 100000, -5, 0x7FFFFFFF, 255, 7);
  std::string text = Print(*image_);
  EXPECT_EQ(LinesStartingWith(text, "a ").size(), 64u + 1u);  // antennas and the default switch line
  EXPECT_EQ(LinesStartingWith(text, "  s ").size(), 128u);
  EXPECT_EQ(LinesStartingWith(text, "      t ").size(), 0u);
  const std::vector<std::string> svc = LinesStartingWith(text, "  v ");
  EXPECT_EQ(svc.size(), 3200u);
  EXPECT_EQ(LinesStartingWith(text, "  s ").at(0).substr(10, 12), "\"AAAAAAAAAA\"");
  EXPECT_EQ(svc.at(0).substr(10, 16), "\"AAAAAAAAAAAAAA\"");

  // A basic service whose transponder index lies beyond the transponders.
  auto image = std::make_unique<DatabaseImage>();
  StoreService(*image, kBasicLayout, 0, {.transponder_index = 0x7FFF});
  StoreHeader(*image, {kFormatBasic, 0, 0, 0, 1, kNoAntennaConfig});
  text = Print(*image);
  EXPECT_EQ(LinesStartingWith(text, "  v ").at(0).substr(26, 20), "0         0         ");
  const auto result = Compile(text, *image);
  EXPECT_EQ(result.code, FT_BAD_SERVICE);
  EXPECT_NE(result.message.find("   field : sat_index\n"), std::string::npos);
}

TEST_F(Writer, AnyNonzeroFormatPrintsAsKvrs) {
  StoreSatellite(*image_, kKvrsLayout, 0, SatelliteRecord{});
  SetHeader(1, 1, 0, 0);
  const std::string text = Print(*image_);
  EXPECT_EQ(Lines(text).at(7), "KVRS");
  auto back = std::make_unique<DatabaseImage>();
  ASSERT_EQ(Compile(text, *back).code, FT_OK);
  EXPECT_EQ(LoadHeader(*back).format, kFormatKvrs);
  EXPECT_EQ(Print(*back), text);
}

TEST_F(Writer, RandomImagesPrintSafelyAndReadBackSafely) {
  std::mt19937 random(20261209);
  for (int round = 0; round < 12; ++round) {
    for (std::size_t i = 0; i < DatabaseImage::kSize; ++i) image_->Put8(i, static_cast<std::uint8_t>(random()));
    // Small counts most of the time, so that the reader gets past the first records.
    const bool small = round % 3 != 0;
    SetHeader(static_cast<std::uint8_t>(round % 2 ? random() : 0), small ? round : static_cast<int>(random()),
              small ? 4 * round : static_cast<int>(random()), small ? round : static_cast<int>(random()),
              static_cast<int>(random() % 256), static_cast<int>(random() % 12) - 2);
    const std::string text = Print(*image_);
    ASSERT_FALSE(text.empty());
    Lines(text);  // every line ends in CR LF
    auto back = std::make_unique<DatabaseImage>();
    const auto result = Compile(text, *back);
    EXPECT_GE(result.code, FT_OK);
    EXPECT_LE(result.code, FT_TRANSPONDER_AFTER_PROGRAM);
  }
}

}  // namespace
}  // namespace torvix
