#include "torvix/link/rom_image.h"
#include "common/testing/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace torvix;
using Bytes = std::vector<std::uint8_t>;

// A ROM image file of `length` bytes in a temporary folder, removed afterwards.
class RomFile {
 public:
  RomFile(std::size_t length, std::string_view magic) : bytes_(length, 0x55) {
    std::copy_n(magic.begin(), std::min(magic.size(), length), bytes_.begin());
  }
  void Set(std::uint64_t offset, std::uint8_t value) { bytes_.at(offset) = value; }
  std::string Write() {
    const std::string path = folder_ / "rom";
    EXPECT_TRUE(common::testing::WriteFile(path, std::string(bytes_.begin(), bytes_.end())));
    return path;
  }
  RomImageCheck Check() {
    RomImageFile file;
    EXPECT_TRUE(file.Open(Write())) << file.Error();
    RomImageCheck check;
    EXPECT_TRUE(CheckRomImage(file, check));
    std::uint8_t next = 0;
    if (bytes_.size() > kRomImageHeaderSize) {
      EXPECT_EQ(file.Read(&next, 1), 1) << "left at offset 42 for the upload";
      EXPECT_EQ(next, bytes_[kRomImageHeaderSize]);
    }
    return check;
  }

 private:
  common::testing::TempFolder folder_{"rom-image-test"};
  Bytes bytes_;
};

constexpr std::size_t kFullLength = kUpgradeFlagOffset + 1;

TEST(RomImage, HardwareTablesOfBothVariants) {
  EXPECT_EQ(ExpectedHardwareNumber(RomVariant::A, 0, std::nullopt), 202);
  EXPECT_EQ(ExpectedHardwareNumber(RomVariant::A, 12, std::nullopt), 112);
  EXPECT_EQ(ExpectedHardwareNumber(RomVariant::A, 24, std::nullopt), 130);
  EXPECT_EQ(ExpectedHardwareNumber(RomVariant::A, 25, std::nullopt), std::nullopt);
  EXPECT_EQ(ExpectedHardwareNumber(RomVariant::A, 30, std::nullopt), std::nullopt);
  EXPECT_EQ(ExpectedHardwareNumber(RomVariant::A, 253, std::nullopt), std::nullopt);
  EXPECT_EQ(ExpectedHardwareNumber(RomVariant::A, 255, std::nullopt), 107);
  EXPECT_EQ(ExpectedHardwareNumber(RomVariant::A, 254, 503), 503);
  EXPECT_EQ(ExpectedHardwareNumber(RomVariant::T, 0, std::nullopt), 503);
  EXPECT_EQ(ExpectedHardwareNumber(RomVariant::T, 9, std::nullopt), 522);
  EXPECT_EQ(ExpectedHardwareNumber(RomVariant::T, 10, std::nullopt), std::nullopt);
  EXPECT_EQ(ExpectedHardwareNumber(RomVariant::T, 254, 503), std::nullopt);
  EXPECT_EQ(ExpectedHardwareNumber(RomVariant::T, 255, std::nullopt), std::nullopt);
}

TEST(RomImage, HardwareNumberFromTheFirstFourCharacters) {
  EXPECT_EQ(HardwareNumberFromText("0503 TWIN"), 503);
  EXPECT_EQ(HardwareNumberFromText("1234"), 1234);
  // Missing characters count as code 0; others as their signed codes.
  EXPECT_EQ(HardwareNumberFromText("05"), 0 + 500 + 10 * -48 + -48);
  EXPECT_EQ(HardwareNumberFromText("A503"), 1000 * 17 + 503);
  EXPECT_EQ(HardwareNumberFromText("\xFF" "503"), 1000 * (-1 - 48) + 503);
}

TEST(RomImage, MarkersAndAccessCode) {
  EXPECT_EQ(UpgradeMarker(0), 0x00);
  EXPECT_EQ(UpgradeMarker(1), 0xFD);
  EXPECT_EQ(UpgradeMarker(2), 0xFE);
  EXPECT_TRUE(AccessCodeMatches("5082613"));
  EXPECT_FALSE(AccessCodeMatches("5082613 "));
  EXPECT_FALSE(AccessCodeMatches("508261"));
  EXPECT_FALSE(AccessCodeMatches(""));
}

TEST(RomImage, VariantAWithExplicitHardwareNumber) {
  RomFile rom(kFullLength, kRomMagicA);
  rom.Set(kHardwareCodeOffset, 254);
  rom.Set(kHardwareNumberOffset, 0xF7);
  rom.Set(kHardwareNumberOffset + 1, 0x01);
  rom.Set(kUpgradeFlagOffset, 0x07);
  const RomImageCheck check = rom.Check();
  EXPECT_TRUE(check.Sendable());
  EXPECT_EQ(check.variant, RomVariant::A);
  EXPECT_EQ(check.hardwareCode, 254);
  EXPECT_EQ(check.expectedHardware, 503);
  EXPECT_EQ(check.upgradeFlagByte, 0x07);
}

TEST(RomImage, VariantTReadsTheCodeFromItsOwnTable) {
  RomFile rom(kFullLength, kRomMagicT);
  rom.Set(kHardwareCodeOffset, 1);
  rom.Set(kUpgradeFlagOffset, 0);
  const RomImageCheck check = rom.Check();
  EXPECT_EQ(check.variant, RomVariant::T);
  EXPECT_EQ(check.expectedHardware, 505);
  EXPECT_EQ(check.upgradeFlagByte, 0);
}

TEST(RomImage, WrongMagicIsRefused) {
  std::string magic(kRomMagicA);
  magic[39] = '!';
  RomFile rom(kFullLength, magic);
  EXPECT_EQ(rom.Check().refusal, RomRefusal::kWrongMagic);
  RomFile lower(kFullLength, "kalmer VELOX Series ********* ROM image.");
  EXPECT_EQ(lower.Check().refusal, RomRefusal::kWrongMagic);
}

// A file must hold every byte the checks read, the flag byte last; a shorter
// one is refused whatever it holds, and nothing is read past its end.
TEST(RomImage, FilesShorterThanTheFlagByteAreRefused) {
  struct Case {
    std::size_t length;
    RomRefusal refusal;
  };
  for (const Case c : {Case{0, RomRefusal::kWrongMagic}, Case{41, RomRefusal::kWrongMagic},
                       Case{kRomImageHeaderSize, RomRefusal::kTooShort}, Case{1000, RomRefusal::kTooShort},
                       Case{kHardwareNumberOffset + 1, RomRefusal::kTooShort},
                       Case{kUpgradeFlagOffset, RomRefusal::kTooShort}, Case{kMinRomImageSize, RomRefusal::kNone}}) {
    SCOPED_TRACE(c.length);
    RomFile rom(c.length, kRomMagicA);
    if (c.length > kHardwareCodeOffset) rom.Set(kHardwareCodeOffset, 255);
    const RomImageCheck check = rom.Check();
    EXPECT_EQ(check.refusal, c.refusal);
    EXPECT_EQ(check.Sendable(), c.refusal == RomRefusal::kNone);
    if (check.Sendable()) {
      EXPECT_EQ(check.expectedHardware, 107);
    }
  }
}

TEST(RomImage, DataBeyondTheThirtyTwoBitSizeIsNoImage) {
  const common::testing::TempFolder folder("rom-huge");
  ASSERT_TRUE(folder.Ok());
  const std::filesystem::path path = folder / "rom";
  ASSERT_TRUE(common::testing::WriteFile(path, kRomMagicA));
  // Sparse: the file system stores only the magic.
  std::filesystem::resize_file(path, kRomImageHeaderSize + kMaxRomImageData + 1);
  RomImageFile file;
  ASSERT_TRUE(file.Open(path.string()));
  RomImageCheck check;
  EXPECT_TRUE(CheckRomImage(file, check));
  EXPECT_EQ(check.refusal, RomRefusal::kTooLarge);
  std::filesystem::resize_file(path, kRomImageHeaderSize + kMaxRomImageData);
  ASSERT_TRUE(file.Open(path.string()));
  EXPECT_TRUE(CheckRomImage(file, check));
  EXPECT_TRUE(check.Sendable());
}

TEST(RomImage, MissingFileCannotBeOpened) {
  RomImageFile file;
  EXPECT_FALSE(file.Open("/nonexistent/rom.bin"));
  EXPECT_FALSE(file.Error().empty());
  EXPECT_FALSE(file.Open("/tmp")) << "a folder is no image";
  EXPECT_EQ(file.Error(), "Is a directory");
}

}  // namespace
