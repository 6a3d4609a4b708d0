// The INI reader: bad lines and repeated keys and sections as Qt takes them,
// and files that are missing, unreadable or too large.
#include "common/ini_file.h"
#include "common/testing/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

TEST(ParseIni, BadLinesAreSkippedAndCountedAndTheLastOfRepeatedKeysCounts) {
  const struct {
    const char* what;
    const char* contents;
    common::IniTexts texts;
    std::size_t badLines;
  } cases[] = {
      {"a line without '=' between two keys", "[D]\nA=1\njust words\nB=2\n", {{"D/A", "1"}, {"D/B", "2"}}, 1},
      {"a line cut short by a ';'", "[D]\nA ; =1\nB=2\n", {{"D/B", "2"}}, 1},
      {"a comment is no bad line", "; [D]\n  ;A=1\n[D]\nB=2 ; note\n", {{"D/B", "2"}}, 0},
      {"a section without ']' takes the rest of its line", "[D\nA=1\n", {{"D/A", "1"}}, 1},
      {"the last of repeated keys", "[D]\nA=1\nA=2\n", {{"D/A", "2"}}, 0},
      {"a section twice is one section", "[D]\nA=1\n[E]\nA=3\n[D]\nB=2\nA=4\n",
       {{"D/A", "4"}, {"D/B", "2"}, {"E/A", "3"}}, 0},
      {"a later list takes the text away", "[D]\nA=1\nA=1,2\n", {}, 0},
      {"a later typed value takes the text away", "[D]\nA=1\nA=@ByteArray(abc)\n", {}, 0},
      {"a later text comes back", "[D]\nA=1,2\nA=3\n", {{"D/A", "3"}}, 0},
      {"keys differ by case", "[D]\nA=1\na=2\n[d]\nA=3\n", {{"D/A", "1"}, {"D/a", "2"}, {"d/A", "3"}}, 0},
      {"[General] in any case is the top level", "[GENERAL]\nA=1\n[D]\nB=2\n[general]\nC=3\n",
       {{"A", "1"}, {"D/B", "2"}, {"C", "3"}}, 0},
      {"CR LF, CR and LF", "[D]\r\nA=1\rB=2\nC=3", {{"D/A", "1"}, {"D/B", "2"}, {"D/C", "3"}}, 0},
  };
  for (const auto& c : cases) {
    const common::IniContents parsed = common::ParseIni(c.contents);
    EXPECT_EQ(parsed.texts, c.texts) << c.what;
    EXPECT_EQ(parsed.badLines, c.badLines) << c.what;
  }
}

TEST(ReadIniFile, MissingUnreadableAndLargeFiles) {
  const common::testing::TempFolder folder("ini-file-test");
  ASSERT_TRUE(folder.Ok());
  const fs::path& dir = folder.Path();

  common::IniFile file = common::ReadIniFile((dir / "none.conf").string());
  EXPECT_EQ(file.state, common::IniFile::State::kMissing);
  EXPECT_EQ(file.error, ENOENT);
  EXPECT_TRUE(file.contents.texts.empty());
  EXPECT_EQ(common::ReadIniFile((dir / "none/x.conf").string()).state, common::IniFile::State::kMissing);

  file = common::ReadIniFile(dir.string());
  EXPECT_EQ(file.state, common::IniFile::State::kUnreadable);
  EXPECT_EQ(file.error, EISDIR);

  const fs::path conf = dir / "a.conf";
  ASSERT_TRUE(common::testing::WriteFile(conf, "[Devices]\nCOM1=/dev/ttyUSB0\n"));
  file = common::ReadIniFile(conf.string());
  EXPECT_EQ(file.state, common::IniFile::State::kRead);
  EXPECT_EQ(file.contents.texts, (common::IniTexts{{"Devices/COM1", "/dev/ttyUSB0"}}));
  if (::geteuid() != 0) {  // root reads whatever the permissions say
    ::chmod(conf.c_str(), 0);
    file = common::ReadIniFile(conf.string());
    EXPECT_EQ(file.state, common::IniFile::State::kUnreadable);
    EXPECT_EQ(file.error, EACCES);
    EXPECT_TRUE(file.contents.texts.empty());
  }

  // Only the first megabyte counts: a key beyond it is not read.
  const fs::path large = dir / "large.conf";
  ASSERT_TRUE(common::testing::WriteFile(large, "[D]\nA=1\n" + std::string(1 << 20, '\n') + "B=2\n"));
  EXPECT_EQ(common::ReadIniFile(large.string()).contents.texts, (common::IniTexts{{"D/A", "1"}}));
}

}  // namespace
