#include "updater/transport/packets.h"

#include <gtest/gtest.h>

#include <vector>

#include "updater/transport/tests/recording_host.h"
#include "updater/transport/updater_port.h"

namespace updater {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <std::size_t N>
Bytes ToVector(const std::array<std::uint8_t, N>& a) {
  return Bytes(a.begin(), a.end());
}

TEST(SettingsHeader, GoldenBytesRoundTripAndDamageIsRefused) {
  const Bytes golden = {0x55, 0x55, 0x01, 0x0A, 0x03, 0x0E, 0x00, 0x03, 0x0E, 0x00, 0x49, 0xC9, 0x21, 0x8B};
  EXPECT_EQ(ToVector(EncodeSettingsHeader({782, 200192})), golden);
  const auto decoded = DecodeSettingsHeader(golden.data(), golden.size());
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->blockCount, 782);
  EXPECT_EQ(decoded->imageSize, 200192u);

  EXPECT_FALSE(DecodeSettingsHeader(golden.data(), golden.size() - 1));  // truncated
  for (std::size_t i = 0; i < golden.size(); ++i) {
    Bytes damaged = golden;
    damaged[i] ^= 0x10;
    EXPECT_FALSE(DecodeSettingsHeader(damaged.data(), damaged.size())) << "byte " << i;
  }
  // Bytes 2 and 3 are not looked at, as long as the CRC covers what came.
  Bytes other = golden;
  other[2] = 0x07;
  other[3] = 0x00;
  PutBe32(&other[10], Crc32(other.data(), 10));
  EXPECT_TRUE(DecodeSettingsHeader(other.data(), other.size()));
  // A right CRC does not make up for a wrong magic.
  Bytes badMagic = golden;
  badMagic[1] = 0x54;
  PutBe32(&badMagic[10], Crc32(badMagic.data(), 10));
  EXPECT_FALSE(DecodeSettingsHeader(badMagic.data(), badMagic.size()));
}

TEST(BlockHeader, GoldenBytesRoundTripAndDamageIsRefused) {
  const Bytes golden = {0xAA, 0xAA, 0x00, 0x03, 0x7F, 0xFB, 0x03, 0x00, 0x01,
                        0x00, 0xD3, 0xAC, 0xA0, 0x76, 0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(ToVector(EncodeBlockHeader({3, 0x7FFB0300, 256, 0x12345678})), golden);
  const auto decoded = DecodeBlockHeader(golden.data(), golden.size());
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->index, 3);
  EXPECT_EQ(decoded->address, 0x7FFB0300u);
  EXPECT_EQ(decoded->length, 256);
  EXPECT_EQ(decoded->dataCrc, 0x12345678u);
  EXPECT_FALSE(DecodeBlockHeader(golden.data(), 17));
  for (std::size_t i = 0; i < 14; ++i) {
    Bytes damaged = golden;
    damaged[i] ^= 0x01;
    EXPECT_FALSE(DecodeBlockHeader(damaged.data(), damaged.size())) << "byte " << i;
  }
}

TEST(RecordAnnounce, GoldenBytesRoundTripAndDamageIsRefused) {
  const Bytes golden = {0x02, 0x00, 0x00, 0x00, 0x05, 0xFF, 0xFF, 0xFF, 0xFA, 0x00, 0xF3, 0x18, 0xD5, 0x5F};
  EXPECT_EQ(ToVector(EncodeRecordAnnounce(5)), golden);
  EXPECT_EQ(DecodeRecordAnnounce(golden.data(), golden.size()), 5u);
  EXPECT_FALSE(DecodeRecordAnnounce(golden.data(), 13));
  for (std::size_t i = 0; i < golden.size(); ++i) {
    Bytes damaged = golden;
    damaged[i] ^= 0x80;
    EXPECT_FALSE(DecodeRecordAnnounce(damaged.data(), damaged.size())) << "byte " << i;
  }
  EXPECT_EQ(DecodeRecordAnnounce(EncodeRecordAnnounce(65520).data(), kRecordAnnounceSize), 65520u);
}

TEST(SettingsImage, BaseAddressAndRounding) {
  EXPECT_EQ(BaseAddressFor(200000), 0x7FFB0000u);
  EXPECT_EQ(BaseAddressFor(300000), 0x7FFB0000u);
  EXPECT_EQ(BaseAddressFor(300001), 0x7FFA0000u);
  EXPECT_EQ(RoundUpToBlock(200000), 200192u);
  EXPECT_EQ(RoundUpToBlock(200192), 200192u);
  EXPECT_EQ(RoundUpToBlock(200193), 200448u);
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32(nullptr, 0), 0u);
}

bool Announces(const char* text, std::size_t n = 5) {
  return IsUpdateAnnouncement(reinterpret_cast<const std::uint8_t*>(text), n);
}

TEST(UpdateAnnouncement, ExactTokenOrDswTextBeforeAnyZeroByte) {
  EXPECT_TRUE(Announces("UP2SW"));
  EXPECT_TRUE(Announces("LODSW"));
  EXPECT_TRUE(Announces("xODSW"));
  EXPECT_TRUE(Announces("DSWab"));
  EXPECT_TRUE(Announces("aDSWb"));
  EXPECT_FALSE(Announces("UP2SX"));
  EXPECT_FALSE(Announces("DSxW1"));
  EXPECT_FALSE(Announces("2ACK3"));
  // A zero byte ends the text: "DSW" behind it does not count.
  EXPECT_FALSE(Announces("\0xDSW", 5));
  EXPECT_FALSE(Announces("L\0DSW", 5));
  EXPECT_TRUE(Announces("DSW\0x", 5));
  // Fewer than five bytes are never "UP2SW", and nothing beyond them is read.
  EXPECT_FALSE(Announces("UP2SW", 4));
  EXPECT_FALSE(Announces("LODSW", 4));
  EXPECT_TRUE(Announces("DSW", 3));
}

TEST(Tokens, ModelTokenAndKindsMatchOnlyAllFiveBytes) {
  UpdaterPort port;
  const auto* ack = reinterpret_cast<const std::uint8_t*>("2ACK3");
  EXPECT_TRUE(port.MatchToken(TokenKind::TK_ACK, ack, 5));
  EXPECT_FALSE(port.MatchToken(TokenKind::TK_ACK, ack, 4));
  EXPECT_FALSE(port.MatchToken(TokenKind::TK_NXT, ack, 5));
  const auto* model = reinterpret_cast<const std::uint8_t*>("DB4EU");
  EXPECT_TRUE(port.MatchToken(TokenKind::TK_MODEL, model, 5));
  port.SetModelToken("XY123");
  EXPECT_FALSE(port.MatchToken(TokenKind::TK_MODEL, model, 5));
  const std::string expected[] = {"2ACK3", "2NXT3", "2DER3", "2DLD3", "2DBD3", "2DVD3"};
  const TokenKind kinds[] = {TokenKind::TK_ACK, TokenKind::TK_NXT, TokenKind::TK_DER,
                             TokenKind::TK_DLD, TokenKind::TK_DBD, TokenKind::TK_DVD};
  for (int i = 0; i < 6; ++i) {
    const TokenBytes bytes = port.BytesOf(kinds[i]);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected[i]);
  }
}

TEST(TimerTick, SettingsCompletionFillsTheBarAtTheSixthTickAndStopsAfterTheTenth) {
  testing::RecordingHost host(Mode::MODE_SEND);
  host.Flags().progressStep = 19;
  host.StartTimer(TimerId::COMPLETION_TIMER);
  host.Ticks(TimerId::COMPLETION_TIMER, 6);
  EXPECT_EQ(host.Positions().back(), 114);  // beyond the range: a full bar
  EXPECT_EQ(host.SecondsTexts().back(), "6 Сек.");
  host.Ticks(TimerId::COMPLETION_TIMER, 3);
  EXPECT_TRUE(host.Running(TimerId::COMPLETION_TIMER));
  EXPECT_TRUE(host.Tick(TimerId::COMPLETION_TIMER));  // the tenth passes 9
  EXPECT_FALSE(host.Running(TimerId::COMPLETION_TIMER));
  EXPECT_FALSE(host.Tick(TimerId::COMPLETION_TIMER));
  EXPECT_EQ(host.Flags().secondsCounter.load(), 10);
}

TEST(TimerTick, UpdateWithoutProgressStepKeepsTheBarEmptyUntilTheLimitTick) {
  testing::RecordingHost host(Mode::MODE_UPDATE);
  host.StartTimer(TimerId::COMPLETION_TIMER);
  host.Ticks(TimerId::COMPLETION_TIMER, 99);
  EXPECT_EQ(host.Positions().back(), 0);
  EXPECT_TRUE(host.Running(TimerId::COMPLETION_TIMER));
  const std::size_t before = host.Positions().size();
  host.Tick(TimerId::COMPLETION_TIMER);
  const auto positions = host.Positions();
  ASSERT_EQ(positions.size(), before + 2);
  EXPECT_EQ(positions[before], 100);  // full at the limit tick ...
  EXPECT_EQ(positions[before + 1], 0);  // ... and back to 0 in the same tick
  EXPECT_FALSE(host.Running(TimerId::COMPLETION_TIMER));
  // The seconds timer never touches the bar.
  host.StartTimer(TimerId::SECONDS_TIMER);
  host.Tick(TimerId::SECONDS_TIMER);
  EXPECT_EQ(host.Positions().size(), before + 2);
  EXPECT_EQ(host.SecondsTexts().back(), "1 Сек.");
}

}  // namespace
}  // namespace updater
