// Printing and reading back: full files of both layouts with every word form,
// the maximal file, and truncated or corrupted input for reader and decoders.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "torvix/database/factory_text_reader.h"
#include "torvix/database/line_decoders.h"
#include "torvix/database/records.h"
#include "torvix/database/tests/sample_texts.h"

namespace torvix {
namespace {

using testing::Compile;
using testing::Print;

std::unique_ptr<DatabaseImage> CompileOk(const std::string& text) {
  auto image = std::make_unique<DatabaseImage>();
  const auto result = Compile(text, *image);
  EXPECT_EQ(result.code, FT_OK) << result.message;
  return image;
}

// Transponder table indices in printed order: grouped by satellite, table order within.
std::vector<int> PrintedTransponderOrder(const DatabaseImage& image, const ImageLayout& layout) {
  const ImageHeader h = LoadHeader(image);
  std::vector<int> order;
  for (int s = 0; s < h.satellite_count; ++s) {
    for (int j = 0; j < h.transponder_count; ++j) {
      if (LoadTransponderSatellite(image, layout, j) == s) order.push_back(j);
    }
  }
  return order;
}

// Prints `first`, reads the text back, prints again; checks that both prints
// are equal and that the two images agree record by record, apart from the
// renumbered transponders, the unprinted transponders of no satellite and the
// fields that the KVRS text does not carry.
void ExpectRoundTrip(const DatabaseImage& first) {
  const ImageHeader h1 = LoadHeader(first);
  const ImageLayout& layout = LayoutForFormat(h1.format);
  const std::string print1 = Print(first);
  const auto second = CompileOk(print1);
  ASSERT_EQ(Print(*second), print1);

  const ImageHeader h2 = LoadHeader(*second);
  EXPECT_EQ(h2.format, h1.format);
  EXPECT_EQ(h2.antenna_count, h1.antenna_count);
  EXPECT_EQ(h2.satellite_count, h1.satellite_count);
  EXPECT_EQ(h2.service_count, h1.service_count);
  EXPECT_EQ(h2.antenna_config, layout.kvrs ? kNoAntennaConfig : h1.antenna_config);
  for (int i = 0; i < h1.antenna_count; ++i) EXPECT_EQ(LoadAntenna(*second, i), LoadAntenna(first, i)) << i;
  for (int i = 0; i < h1.satellite_count; ++i) {
    EXPECT_EQ(LoadSatellite(*second, layout, i), LoadSatellite(first, layout, i)) << i;
  }
  const std::vector<int> order = PrintedTransponderOrder(first, layout);
  ASSERT_EQ(h2.transponder_count, static_cast<int>(order.size()));
  std::vector<int> newIndex(static_cast<std::size_t>(h1.transponder_count), -1);
  for (std::size_t k = 0; k < order.size(); ++k) {
    newIndex[static_cast<std::size_t>(order[k])] = static_cast<int>(k);
    TransponderRecord expected = LoadTransponder(first, layout, order[k]);
    expected.aux_byte = layout.kvrs ? kNoAuxByte : expected.aux_byte;  // not printed
    expected.aux_codes = {};
    EXPECT_EQ(LoadTransponder(*second, layout, static_cast<int>(k)), expected) << k;
  }
  for (int i = 0; i < h1.service_count; ++i) {
    ServiceRecord expected = LoadService(first, layout, i);
    expected.transponder_index = static_cast<std::uint16_t>(newIndex.at(expected.transponder_index));
    EXPECT_EQ(LoadService(*second, layout, i), expected) << i;
  }
}

TEST(RoundTrip, FullAndMaximalFiles) {
  const struct {
    const char* what;
    std::string text;
    ImageHeader header;  // what the first compile must give
  } files[] = {
      {"full basic", testing::FullBasicText(), {kFormatBasic, 0, 8, 11, 6, 3}},
      // Two antenna lines are skipped, and so is the default switch line.
      {"full KVRS", testing::FullKvrsText(), {kFormatKvrs, 9, 4, 8, 5, kNoAntennaConfig}},
      {"maximal", testing::MaximalKvrsText(), {kFormatKvrs, 64, 128, 2048, 3200, kNoAntennaConfig}},
  };
  for (const auto& file : files) {
    SCOPED_TRACE(file.what);
    const auto image = CompileOk(file.text);
    const ImageHeader h = LoadHeader(*image);
    EXPECT_EQ(h.format, file.header.format);
    EXPECT_EQ(h.antenna_count, file.header.antenna_count);
    EXPECT_EQ(h.satellite_count, file.header.satellite_count);
    EXPECT_EQ(h.transponder_count, file.header.transponder_count);
    EXPECT_EQ(h.service_count, file.header.service_count);
    EXPECT_EQ(h.antenna_config, file.header.antenna_config);
    ExpectRoundTrip(*image);
  }
}

TEST(RoundTrip, KvrsAntennaIndexZeroPrintsAs256) {
  const auto image = CompileOk(testing::FullKvrsText());
  EXPECT_EQ(LoadService(*image, kKvrsLayout, 1).ant_index, 255);
  EXPECT_NE(Print(*image).find("  r       \"Radio 1\"       256       2         3"), std::string::npos);
}

TEST(RoundTrip, OneRecordBeyondTheMaximalFile) {
  const std::string maximal = testing::MaximalKvrsText();
  const struct {
    const char* line;
    int code;
    const char* fieldText;
  } cases[] = {
      {"s \"ONE MORE\" 9750 10600 u 1 e n\r\n", FT_BAD_SATELLITE, "         : Overflow number of satellites.\n"},
      {"t 10700 27500 hor 0 14 0 auto\r\n", FT_BAD_TRANSPONDER, "         : Overflow number of tps.\n"},
      {"v \"ONE MORE\" 1 1 1 1 2 3 4 5 0 0 0\r\n", FT_BAD_SERVICE, "         : Overflow number of service.\n"},
  };
  for (const auto& c : cases) {
    auto image = std::make_unique<DatabaseImage>();
    const auto result = Compile(maximal + c.line, *image);
    EXPECT_EQ(result.code, c.code) << c.line;
    EXPECT_NE(result.message.find(c.fieldText), std::string::npos) << result.message;
  }
  auto image = std::make_unique<DatabaseImage>();
  EXPECT_EQ(Compile(maximal + "a 65 u 9750 10600 f n n n n\r\n", *image).code, FT_OK);
  EXPECT_EQ(LoadHeader(*image).antenna_count, 64);  // the 65th antenna is skipped
}

TEST(DamagedInput, TruncatedAndCorruptedLinesNeverStoreOutOfOrder) {
  const struct {
    const char* line;
    int DecodeContext::*count;
    int (*decode)(DecodeContext&, std::string_view);
  } lines[] = {
      {"a 1 universal 9750 10600 d a 22 12 18", &DecodeContext::antennaCount, DecodeAntennaLine},
      {"s \"ASTRA DEF\" 9750 10600 universal 19.2 east a n n n", &DecodeContext::satelliteCount,
       DecodeBasicSatelliteLine},
      {"s \"ASTRA DEF\" 9750 10600 universal 19.2 east y 12", &DecodeContext::satelliteCount,
       DecodeKvrsSatelliteLine},
      {"t 12663 22000 hor 0 14 0 3/4", &DecodeContext::transponderCount,
       [](DecodeContext& c, std::string_view l) { return DecodeBasicTransponderLine(c, 0, l); }},
      {"t 12663 22000 hor 0 14 0 3/4 7 0101 2300", &DecodeContext::transponderCount,
       [](DecodeContext& c, std::string_view l) { return DecodeKvrsTransponderLine(c, 0, l); }},
      {"v \"ZDF On-line\" 1 1 2048 4096 4097 4096 4000 0 1 0", &DecodeContext::serviceCount,
       DecodeBasicServiceLine},
      {"v \"ZDF On-line\" 1 1 1 2048 4096 4097 4096 4000 0 1 0", &DecodeContext::serviceCount,
       DecodeKvrsServiceLine},
  };
  std::mt19937 random(7);
  for (const auto& l : lines) {
    auto image = std::make_unique<DatabaseImage>();
    DecodeContext context(*image);
    ASSERT_EQ(DecodeBasicTransponderLine(context, 0, "t 1 1 h 0 14 0 a"), 0);  // for the services
    const std::string full = l.line;
    ASSERT_GE(l.decode(context, full), 0) << full;
    for (int round = 0; round < 400; ++round) {
      std::string damaged = full.substr(0, random() % (full.size() + 1));
      for (int k = 0; k < 3 && round % 2 && !damaged.empty(); ++k) {
        damaged[random() % damaged.size()] = static_cast<char>(random());
      }
      const int before = context.*l.count;
      const int result = l.decode(context, damaged);
      if (result >= 0) {
        ASSERT_EQ(result, before) << damaged;
        ASSERT_EQ(context.*l.count, before + 1) << damaged;
      } else {
        ASSERT_GE(result, -14) << damaged;
        ASSERT_EQ(context.*l.count, before) << damaged;
      }
      if (context.*l.count > 30) context.*l.count = 1;  // stay clear of the table ends
    }
  }
}

TEST(DamagedInput, MutatedFilesGiveAResultAndAMessage) {
  const std::string files[] = {testing::FullBasicText(), testing::FullKvrsText()};
  std::mt19937 random(11);
  auto image = std::make_unique<DatabaseImage>();
  for (int round = 0; round < 300; ++round) {
    std::string text = files[round % 2];
    text.resize(random() % (text.size() + 1));
    for (int k = 0; k < 4 && !text.empty(); ++k) text[random() % text.size()] = static_cast<char>(random());
    const auto result = Compile(text, *image);
    ASSERT_GE(result.code, FT_OK);
    ASSERT_LE(result.code, FT_KEYWORD_AFTER_RECORDS);
    ASSERT_EQ(result.message.empty(), result.code == FT_OK) << result.message;
    if (result.code == FT_OK) Print(*image);
  }
}

}  // namespace
}  // namespace torvix
