#include "updater/transport/file_checks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

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
  char folder[] = "/tmp/file_checks_XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
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
    const std::string path = std::string(folder) + "/f" + std::to_string(n++) + ".wsw";
    std::ofstream(path, std::ios::binary) << c.bytes;
    EXPECT_EQ(HasSoftwareSignature(path), c.signed_) << n;
    ::unlink(path.c_str());
  }
  EXPECT_FALSE(HasSoftwareSignature(std::string(folder) + "/missing.wsw"));
  EXPECT_FALSE(HasSoftwareSignature(folder));  // a folder is no file
  ::rmdir(folder);
}

}  // namespace
}  // namespace updater
