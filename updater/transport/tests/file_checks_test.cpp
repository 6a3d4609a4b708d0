#include "updater/transport/file_checks.h"
#include "common/testing/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace updater {
namespace {

TEST(FileChecks, NameIsClassifiedBySubstringCaseSensitively) {
  const struct {
    const char* path;
    FileKind kind;
  } cases[] = {
      {"/tmp/a.wsw", FileKind::kSoftware},
      {"/tmp/a.wsw.bak", FileKind::kSoftware},      // a further extension still contains ".wsw"
      {"/tmp/x.wdb/a.wsw", FileKind::kSoftware},    // ".wsw" wins wherever it stands
      {"/tmp/a.wdb", FileKind::kSettings},
      {"/tmp/A.WDB", FileKind::kSettings},
      {"/tmp/a.WdB", FileKind::kNone},              // mixed case is refused
      {"/tmp/a.WSW", FileKind::kNone},
      {"/tmp/a.bin", FileKind::kNone},
      {"", FileKind::kNone},
  };
  for (const auto& c : cases) EXPECT_EQ(ClassifyFileName(c.path), c.kind) << c.path;
}

TEST(FileChecks, SignatureNeedsBothBytesInOrder) {
  const common::testing::TempFolder folder("file-checks");
  ASSERT_TRUE(folder.Ok());
  const struct {
    std::string bytes;
    bool signed_;
  } cases[] = {
      {std::string("\x55\xAA\x01", 3), true},
      {std::string("\x55\xAA", 2), true},
      {std::string("\xAA\x55\x01", 3), false},
      {std::string("\x55", 1), false},  // one byte cannot pass
      {std::string(), false},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string path = folder / ("f" + std::to_string(n++) + ".wsw");
    ASSERT_TRUE(common::testing::WriteFile(path, c.bytes));
    EXPECT_EQ(HasSoftwareSignature(path), c.signed_) << n;
  }
  EXPECT_FALSE(HasSoftwareSignature(folder / "missing.wsw"));
  EXPECT_FALSE(HasSoftwareSignature(folder.Path().string()));  // a folder is no file
}

}  // namespace
}  // namespace updater
