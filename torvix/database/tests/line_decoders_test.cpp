// The seven line decoders: what they store, the order in which they test
// their fields, table overflow, and the field texts of the messages.
#include "torvix/database/line_decoders.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "torvix/database/records.h"

namespace torvix {
namespace {

class LineDecoders : public ::testing::Test {
 protected:
  std::unique_ptr<DatabaseImage> image_ = std::make_unique<DatabaseImage>();
  DecodeContext context_{*image_};
};

struct Case {
  const char* line;
  int error;
};

TEST_F(LineDecoders, BasicSatelliteStoresEveryField) {
  EXPECT_EQ(DecodeBasicSatelliteLine(context_, "s \"ASTRA DEF\" 9750 10600 universal 19.2 east a n n n"), 0);
  EXPECT_EQ(DecodeBasicSatelliteLine(context_, "S x\"\"  5150 0 N 180 W 4 22 0 18"), 1);
  EXPECT_EQ(context_.satelliteCount, 2);
  EXPECT_EQ(LoadSatellite(*image_, kBasicLayout, 0),
            (SatelliteRecord{.lnb_low = 9750, .lnb_high = 10600, .universal_lnb = true, .angle = 192,
                             .diseqc = {true, 0}, .name = "ASTRA DEF"}));
  EXPECT_EQ(LoadSatellite(*image_, kBasicLayout, 1),
            (SatelliteRecord{.lnb_low = 5150, .angle = 1800, .east_west = true, .diseqc = {true, 3},
                             .tone_22khz = {true, true}, .volt_0_12 = {true, false}, .volt_14_18 = {true, true}}));
}

TEST_F(LineDecoders, BasicSatelliteTestsFieldsInOrder) {
  const Case cases[] = {
      {"s ASTRA 9750 10600 u 19.2 e a n n n", -2},
      {"s \"ASTRA DEFG\" 9750 10600 u 19.2 e a n n n", -2},  // ten characters
      {"s \"ASTRA 9750 10600 u 19.2 e a n n n", -2},
      {"s \"ASTRA DEFGH\" -1", -2},
      {"s \"A\" -1 10600 u 19.2 e a n n n", -3},
      {"s \"A\"", -3},
      {"s \"A\" 9750 x", -4},
      {"s \"A\" 9750 10600 x 19.2 e a n n n", -5},
      {"s \"A\" 9750 10600 u", -6},
      {"s \"A\" 9750 10600 u 180.06 e a n n n", -6},
      {"s \"A\" 9750 10600 u -0.1 e a n n n", -6},
      {"s \"A\" 9750 10600 u nan e a n n n", -6},
      {"s \"A\" 9750 10600 u 1e300 e a n n n", -6},
      {"s \"A\" 9750 10600 u 19.2 x a n n n", -7},
      {"s \"A\" 9750 10600 u 19.2 e 5 n n n", -8},
      {"s \"A\" 9750 10600 u 19.2 e a 12 n n", -9},
      {"s \"A\" 9750 10600 u 19.2 e a n 22 n", -10},
      {"s \"A\" 9750 10600 u 19.2 e a n n 0", -11},
      {"s \"A\" 9750 10600 u 19.2 e a n n", -11},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeBasicSatelliteLine(context_, c.line), c.error) << c.line;
  }
  EXPECT_EQ(context_.satelliteCount, 0);
}

TEST_F(LineDecoders, KvrsSatelliteDiseqc12AndBiasedValue) {
  EXPECT_EQ(DecodeKvrsSatelliteLine(context_, "s \"123456789\" 9750 10600 universal 19.2 east y"), 0);
  EXPECT_EQ(DecodeKvrsSatelliteLine(context_, "s \"B\" 9750 10600 0 0 1 N -90"), 1);
  EXPECT_EQ(DecodeKvrsSatelliteLine(context_, "s \"C\" 9750 10600 0 0 1 n 165 trailing words"), 2);
  EXPECT_EQ(DecodeKvrsSatelliteLine(context_, "s \"D\" 9750 10600 0 0 1 n -1"), 3);
  EXPECT_EQ(DecodeKvrsSatelliteLine(context_, "s \"C\" 9750 10600 0 0 1 x"), -8);
  EXPECT_EQ(DecodeKvrsSatelliteLine(context_, "s \"C\" 9750 10600 0 0 1"), -8);
  EXPECT_EQ(DecodeKvrsSatelliteLine(context_, "s \"C\" 9750 10600 0 0 x y"), -7);
  EXPECT_EQ(DecodeKvrsSatelliteLine(context_, "s \"1234567890\" 9750 10600 0 0 1 y"), -2);
  const SatelliteRecord first = LoadSatellite(*image_, kKvrsLayout, 0);
  EXPECT_TRUE(first.diseqc_1_2);
  EXPECT_EQ(first.biased_value, 0);  // absent
  EXPECT_EQ(first.name, "123456789");
  EXPECT_EQ(image_->Get8(0x20 + 20 + 9), 0);    // -90 stores 0
  EXPECT_EQ(image_->Get8(0x20 + 40 + 9), 255);  // 165 stores 255
  EXPECT_EQ(LoadSatellite(*image_, kKvrsLayout, 3).biased_value, -1);  // an explicit -1 is a value here
}

TEST_F(LineDecoders, AnglesConvertToTheNearestTenth) {
  const struct {
    const char* angle;
    int tenths;
  } cases[] = {{"0.7", 7}, {"42.3", 423}, {"19.2", 192}, {"0", 0}, {"180", 1800}, {"180.04", 1800}, {"1.25e1", 125}};
  for (const auto& c : cases) {
    const std::string line = std::string("s \"A\" 1 1 u ") + c.angle + " e n n n n";
    const int index = DecodeBasicSatelliteLine(context_, line);
    ASSERT_GE(index, 0) << c.angle;
    EXPECT_EQ(LoadSatellite(*image_, kBasicLayout, index).angle, c.tenths) << c.angle;
  }
}

TEST_F(LineDecoders, TransponderStoresFieldsAndOwner) {
  EXPECT_EQ(DecodeBasicTransponderLine(context_, -1, "t 12663 22000 hor 0 14 0 3/4"), 0);
  EXPECT_EQ(DecodeBasicTransponderLine(context_, 5, "T 70000 -5 V 22 18 12 AUTO"), 1);
  // Before any satellite the owner is 255; numbers keep their low 16 bits where no range is stated.
  EXPECT_EQ(LoadTransponder(*image_, kBasicLayout, 0),
            (TransponderRecord{.frequency = 12663, .symbolrate = 22000, .polarization = true, .fec = 3,
                               .satellite_index = kNoSatellite}));
  EXPECT_EQ(LoadTransponder(*image_, kBasicLayout, 1),
            (TransponderRecord{.frequency = 70000 & 0xFFFF, .symbolrate = 0xFFFB, .tone_22khz = true,
                               .volt_14_18 = true, .volt_0_12 = true, .satellite_index = 5}));
}

TEST_F(LineDecoders, TransponderTestsFieldsInOrder) {
  const Case cases[] = {
      {"t", -2},
      {"t -1 22000 hor 0 14 0 3/4", -2},
      {"t 12663", -3},
      {"t 12663 -1 hor 0 14 0 3/4", -3},
      {"t 12663 22000 x 0 14 0 3/4", -4},
      {"t 12663 22000 hor 11 14 0 3/4", -5},
      {"t 12663 22000 hor 0 15 0 3/4", -6},
      {"t 12663 22000 hor 0 14 5 3/4", -7},
      {"t 12663 22000 hor 0 14 0 4/5", -8},
      {"t 12663 22000 hor 0 14 0", -8},
      {"t 12663 22000 hor 0 x 0 3/4", -6},  // the scan stopped at 14/18 V, so 0/12 V is absent too
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeBasicTransponderLine(context_, 0, c.line), c.error) << c.line;
    EXPECT_EQ(DecodeKvrsTransponderLine(context_, 0, c.line), c.error) << c.line;
  }
  EXPECT_EQ(context_.transponderCount, 0);
}

TEST_F(LineDecoders, KvrsTransponderOptionalAuxFields) {
  EXPECT_EQ(DecodeKvrsTransponderLine(context_, 0, "t 1 2 h 0 14 0 1/2 7 0101 2300"), 0);
  EXPECT_EQ(DecodeKvrsTransponderLine(context_, 0, "t 1 2 h 0 14 0 1/2"), 1);
  EXPECT_EQ(DecodeKvrsTransponderLine(context_, 0, "t 1 2 h 0 14 0 1/2 300 9 1 x 3"), 2);
  EXPECT_EQ(DecodeKvrsTransponderLine(context_, 0, "t 1 2 h 0 14 0 1/2 -1"), 3);
  TransponderRecord t = LoadTransponder(*image_, kKvrsLayout, 0);
  EXPECT_EQ(t.aux_byte, 7);
  EXPECT_EQ(t.aux_codes, (std::array<std::uint8_t, 8>{0, 1, 0, 1, 2, 3, 0, 0}));
  t = LoadTransponder(*image_, kKvrsLayout, 1);
  EXPECT_EQ(t.aux_byte, kNoAuxByte);
  EXPECT_EQ(t.aux_codes, (std::array<std::uint8_t, 8>{}));
  t = LoadTransponder(*image_, kKvrsLayout, 2);
  EXPECT_EQ(t.aux_byte, 300 & 0xFF);
  EXPECT_EQ(t.aux_codes, (std::array<std::uint8_t, 8>{1, 1, 0, 0, 0, 0, 0, 0}));  // 9 keeps its low two bits
  EXPECT_EQ(LoadTransponder(*image_, kKvrsLayout, 3).aux_byte, 255);
}

// Satellite 0 owns table records 0, 2 and 5; satellite 1 owns 1 and 4.
void AddInterleavedTransponders(DecodeContext& context) {
  for (int owner : {0, 1, 0, -1, 1, 0}) {
    ASSERT_GE(DecodeBasicTransponderLine(context, owner, "t 11000 27500 hor 0 14 0 auto"), 0);
  }
}

TEST_F(LineDecoders, TransponderLookUpCountsPerSatelliteInTableOrder) {
  AddInterleavedTransponders(context_);
  EXPECT_EQ(FindTransponder(*image_, kBasicLayout, context_.transponderCount, 0, 3), 5);
  EXPECT_EQ(FindTransponder(*image_, kBasicLayout, context_.transponderCount, 1, 2), 4);
  EXPECT_EQ(FindTransponder(*image_, kBasicLayout, context_.transponderCount, 0, 4), -1);
  EXPECT_EQ(FindTransponder(*image_, kBasicLayout, 5, 0, 3), -1);  // only records below the count
  EXPECT_EQ(DecodeBasicServiceLine(context_, "v \"A\" 1 3 1 2 3 4 5 0 0 0"), 0);
  EXPECT_EQ(DecodeBasicServiceLine(context_, "v \"B\" 2 2 1 2 3 4 5 0 0 0"), 1);
  EXPECT_EQ(LoadService(*image_, kBasicLayout, 0).transponder_index, 5);
  EXPECT_EQ(LoadService(*image_, kBasicLayout, 1).transponder_index, 4);
}

TEST_F(LineDecoders, BasicServiceStoresEveryField) {
  AddInterleavedTransponders(context_);
  EXPECT_EQ(DecodeBasicServiceLine(context_, "  v \"ZDF On-line\" 1 2 2048 4096 70000 8191 40959 1 1 1"), 0);
  EXPECT_EQ(DecodeBasicServiceLine(context_, "R\"thirteen char\"2 1 65535 0 0 0 32768 0 0 0"), 1);
  EXPECT_EQ(LoadService(*image_, kBasicLayout, 0),
            (ServiceRecord{.service_id = 2048, .video_pid = 4096, .audio_pid = 70000 & 0xFFFF, .pcr_pid = 8191,
                           .transponder_index = 2, .txt_pid = 40959, .scramble = true, .favorite = 1, .lock = true,
                           .name = "ZDF On-line"}));
  EXPECT_EQ(LoadService(*image_, kBasicLayout, 1),
            (ServiceRecord{.service_id = 65535, .transponder_index = 1, .tv_radio = true, .txt_pid = 32768,
                           .name = "thirteen char"}));
}

TEST_F(LineDecoders, ServiceTestsFieldsInOrder) {
  AddInterleavedTransponders(context_);
  const Case cases[] = {
      {"v ZDF 1 1 2048 4096 4097 4096 4000 0 1 0", -2},
      {"v \"fourteen chars\" 1 1 2048 4096 4097 4096 4000 0 1 0", -2},
      {"v \"A\"", -3},
      {"v \"A\" 1 1 65536 4096 4097 4096 4000 0 1 0", -3},
      {"v \"A\" 1 1 -1 4096 4097 4096 4000 0 1 0", -3},
      {"v \"A\" 1 1 1 8192 4097 4096 4000 0 1 0", -5},
      {"v \"A\" 1 1 1 1 -1 4096 4000 0 1 0", -6},
      {"v \"A\" 1 1 1 1 1 8192 4000 0 1 0", -7},
      {"v \"A\" 1 1 1 1 1 1 8192 0 1 0", -8},   // bit 13
      {"v \"A\" 1 1 1 1 1 1 16384 0 1 0", -8},  // bit 14
      {"v \"A\" 1 1 1 1 1 1 40960 0 1 0", -8},
      {"v \"A\" 1 1 1 1 1 1 65536 0 1 0", -8},
      {"v \"A\" 1 1 1 1 1 1 1 2 1 0", -9},
      {"v \"A\" 1 1 1 1 1 1 1 0 2 0", -10},
      {"v \"A\" 1 1 1 1 1 1 1 0 0 -1", -11},
      {"v \"A\" 0 1 1 1 1 1 1 0 0 0", -12},
      {"v \"A\" 129 1 1 1 1 1 1 0 0 0", -12},
      {"v \"A\" 1 0 1 1 1 1 1 0 0 0", -13},
      {"v \"A\" 1 257 1 1 1 1 1 0 0 0", -13},
      {"v \"A\" 1 4 1 1 1 1 1 0 0 0", -14},  // satellite 1 has three transponders
      {"v \"A\" 3 1 1 1 1 1 1 0 0 0", -14},  // satellite 3 has none
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeBasicServiceLine(context_, c.line), c.error) << c.line;
  }
  EXPECT_EQ(context_.serviceCount, 0);
}

TEST_F(LineDecoders, KvrsServiceFavoriteAndAntennaIndex) {
  ASSERT_EQ(DecodeKvrsTransponderLine(context_, 1, "t 11000 27500 hor 0 14 0 auto"), 0);
  EXPECT_EQ(DecodeKvrsServiceLine(context_, "v \"A\" 0 2 1 1 2 3 4 5 0 255 0"), 0);
  EXPECT_EQ(DecodeKvrsServiceLine(context_, "r \"B\" 64 2 1 1 2 3 4 5 1 300 1"), 1);  // favorite is not tested
  EXPECT_EQ(DecodeKvrsServiceLine(context_, "r \"B\" 64 2 1 1 2 3 4 5 1 1 2"), -11);
  EXPECT_EQ(DecodeKvrsServiceLine(context_, "r \"B\" 64 1 1 1 2 3 4 5 1 1 1"), -14);
  ServiceRecord s = LoadService(*image_, kKvrsLayout, 0);
  EXPECT_EQ(s.favorite, 255);
  EXPECT_EQ(s.ant_index, 255);  // antenna 0 in the text
  EXPECT_EQ(s.sat_index, 1);
  s = LoadService(*image_, kKvrsLayout, 1);
  EXPECT_EQ(s.favorite, 300 & 0xFF);
  EXPECT_EQ(s.ant_index, 63);
  // ant_index is not tested either: the lowest integer keeps its low 8 bits less one.
  EXPECT_EQ(DecodeKvrsServiceLine(context_, "v \"C\" -2147483648 2 1 1 2 3 4 5 0 0 0"), 2);
  EXPECT_EQ(LoadService(*image_, kKvrsLayout, 2).ant_index, 255);
}

TEST_F(LineDecoders, AntennaLineWordFormsAndFailures) {
  EXPECT_EQ(DecodeAntennaLine(context_, "a 7 UNIVERSAL 9750 10600 D c 22 0 18"), 0);
  EXPECT_EQ(DecodeAntennaLine(context_, "A 1 n 5150 0 none none none none none"), 1);
  EXPECT_EQ(LoadAntenna(*image_, 0),
            (AntennaRecord{.lnb_low = 9750, .lnb_high = 10600, .universal_lnb = true, .diseqc = {true, 2},
                           .tone_22khz = {true, true}, .volt_0_12 = {true, false}, .volt_14_18 = {true, true},
                           .antenna_type = 1}));
  EXPECT_EQ(LoadAntenna(*image_, 1), (AntennaRecord{.lnb_low = 5150}));
  const Case cases[] = {
      {"a 3", -2},
      {"a 1 u -1 10600 f n n n n", -2},
      {"a 1 u 9750 -1 f n n n n", -3},
      {"a 1 x 9750 10600 f n n n n", -4},
      {"a 1 u 9750 10600 x n n n n", -5},
      {"a 1 u 9750 10600 f x n n n", -6},
      {"a 1 u 9750 10600 f n x n n", -7},
      {"a 1 u 9750 10600 f n n x n", -8},
      {"a 1 u 9750 10600 f n n n x", -9},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeAntennaLine(context_, c.line), c.error) << c.line;
  EXPECT_EQ(context_.antennaCount, 2);
}

TEST_F(LineDecoders, EveryTableRefusesTheRecordBeyondItsRoom) {
  const struct {
    const char* what;
    int DecodeContext::*count;
    int room;
    std::function<int(DecodeContext&)> decode;
  } tables[] = {
      {"basic satellites", &DecodeContext::satelliteCount, 106,
       [](DecodeContext& c) { return DecodeBasicSatelliteLine(c, "s \"A\" 1 1 u 1 e n n n n"); }},
      {"KVRS satellites", &DecodeContext::satelliteCount, 128,
       [](DecodeContext& c) { return DecodeKvrsSatelliteLine(c, "s \"A\" 1 1 u 1 e n"); }},
      {"basic transponders", &DecodeContext::transponderCount, 1024,
       [](DecodeContext& c) { return DecodeBasicTransponderLine(c, 0, "t 1 1 h 0 14 0 auto"); }},
      {"KVRS transponders", &DecodeContext::transponderCount, 2048,
       [](DecodeContext& c) { return DecodeKvrsTransponderLine(c, 0, "t 1 1 h 0 14 0 auto 1 1111 1111"); }},
      {"basic services", &DecodeContext::serviceCount, 3200,
       [](DecodeContext& c) { return DecodeBasicServiceLine(c, "v \"A\" 1 1 1 1 1 1 1 0 0 0"); }},
      {"KVRS services", &DecodeContext::serviceCount, 3200,
       [](DecodeContext& c) { return DecodeKvrsServiceLine(c, "v \"A\" 1 1 1 1 1 1 1 1 0 0 0"); }},
      {"antennas", &DecodeContext::antennaCount, 64,
       [](DecodeContext& c) { return DecodeAntennaLine(c, "a 1 u 1 1 f n n n n"); }},
  };
  for (const auto& table : tables) {
    auto image = std::make_unique<DatabaseImage>();
    DecodeContext context(*image);
    // Record 0 belongs to satellite 0 in either layout (the owner is byte 6 of both), for the services.
    ASSERT_EQ(DecodeBasicTransponderLine(context, 0, "t 1 1 h 0 14 0 auto"), 0);
    if (table.count == &DecodeContext::transponderCount) context.transponderCount = 0;
    for (int i = context.*table.count; i < table.room; ++i) ASSERT_EQ(table.decode(context), i) << table.what;
    EXPECT_EQ(table.decode(context), kDecodeOverflow) << table.what;
    EXPECT_EQ(context.*table.count, table.room) << table.what;
  }
}

}  // namespace
}  // namespace torvix
