#include "common/crc32.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Crc32, StandardValues) {
  const std::string check = "123456789";
  EXPECT_EQ(common::Crc32(check.data(), check.size()), 0xCBF43926u);
  EXPECT_EQ(common::Crc32(nullptr, 0), 0x00000000u);
  EXPECT_EQ(common::Crc32("abc", 3), 0x352441C2u);
  const std::string fox = "The quick brown fox jumps over the lazy dog";
  EXPECT_EQ(common::Crc32(fox.data(), fox.size()), 0x414FA339u);
}

TEST(Crc32, PiecewiseUpdateEqualsWhole) {
  const std::string text = "TwinOwLs and a few more bytes";
  std::uint32_t state = common::kCrc32Init;
  state = common::Crc32Update(state, text.data(), 5);
  state = common::Crc32Update(state, text.data() + 5, text.size() - 5);
  EXPECT_EQ(~state, common::Crc32(text.data(), text.size()));
}

}  // namespace
