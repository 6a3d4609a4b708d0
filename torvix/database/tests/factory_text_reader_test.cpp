// The reader: result codes with their exact messages and line numbers, the
// line buffer boundary, DOS line ends, the keyword and section rules, the
// default switch line, and what a failed run leaves in the image.
#include "torvix/database/factory_text_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "torvix/database/records.h"
#include "torvix/database/tests/sample_texts.h"

namespace torvix {
namespace {

using testing::Compile;
using testing::Dos;

constexpr char kSatellite[] = "s \"A\" 9750 10600 u 19.2 e n n n n\n";
constexpr char kTransponder[] = "t 12663 22000 hor 0 14 0 3/4\n";
constexpr char kService[] = "v \"S\" 1 1 1 2 3 4 5 0 0 0\n";

class Reader : public ::testing::Test {
 protected:
  testing::CompileResult Run(const std::string& lfText) { return Compile(Dos(lfText), *image_); }
  ImageHeader Header() const { return LoadHeader(*image_); }

  std::unique_ptr<DatabaseImage> image_ = std::make_unique<DatabaseImage>();
};

TEST_F(Reader, EmptyOrCommentOnlyFileWritesAnEmptyHeader) {
  for (const std::string text : {"", "# comment\n\n   # indented\n\t \n", "\n\n\n"}) {
    image_ = std::make_unique<DatabaseImage>();
    const auto result = Run(text);
    EXPECT_EQ(result.code, FT_OK);
    EXPECT_EQ(result.message, "");
    EXPECT_TRUE(HasImageMagic(*image_));
    const ImageHeader h = Header();
    EXPECT_EQ(h.format, kFormatBasic);
    EXPECT_EQ(h.satellite_count + h.transponder_count + h.service_count + h.antenna_count, 0);
    EXPECT_EQ(h.antenna_config, kNoAntennaConfig);
  }
}

TEST_F(Reader, EveryResultCodeWithItsMessageAndLineNumber) {
  const struct {
    std::string text;
    int code;
    const char* message;
  } cases[] = {
      {"# one\ns \"ASTRA DEFGH\" 1 1 u 1 e n n n n\n", FT_BAD_SATELLITE,
       " * Error : line 2. Default Satellite Data format error.\n   field : name\n"},
      {std::string(kSatellite) + "#\n\n#\n\n\nt -1 27500 hor 0 14 0 auto\n", FT_BAD_TRANSPONDER,
       " * Error : line 7. Default TP Data format error.\n   field : frequency\n"},
      {std::string(kSatellite) + kTransponder + "v \"S\" 1 2 1 2 3 4 5 0 0 0\n", FT_BAD_SERVICE,
       " * Error : line 3. Default Service Data format error.\n         : The satellite or transponder is not valid.\n"},
      {"#\n   x 1 2\n", FT_BAD_TAG, " * Error : line 2. Invalid tag 'x'.\n"},
      {"#\n" + std::string(1023, '#') + "\n", FT_LINE_TOO_LONG,
       " * Error : line 2 is too long. size of line_buffer = 1024.\n"},
      {"a 3\n#\na 4\n", FT_BAD_SWITCH,
       " * Error : line 3. Default Switch Configuation value was defined duplicatly."},
      {"a 9\n", FT_BAD_SWITCH, " * Error : line 1. Default Switch Configuation value format error."},
      {std::string(kSatellite) + kTransponder + kService + "a 3\n", FT_SWITCH_AFTER_PROGRAM,
       " * Error : line 4. Program information and switch configuration mixed."},
      {std::string(kSatellite) + kTransponder + kService + kSatellite, FT_SATELLITE_AFTER_PROGRAM,
       " * Error : line 4. Program information and satellite information mixed."},
      {std::string(kSatellite) + kTransponder + kService + "\n" + kTransponder, FT_TRANSPONDER_AFTER_PROGRAM,
       " * Error : line 5. Program information and transponder information mixed."},
      {std::string("a 3\n") + kTransponder + "#\nKVRS\n", FT_KEYWORD_AFTER_RECORDS,
       " * Error : line 4. KVRS keyword after satellite, transponder or program information."},
  };
  for (const auto& c : cases) {
    const auto result = Run(c.text);
    EXPECT_EQ(result.code, c.code) << c.text;
    EXPECT_EQ(result.message, c.message) << c.text;
  }
}

TEST_F(Reader, LineBufferBoundaryAt1022Characters) {
  const std::string longest = "#" + std::string(1021, 'x');
  const std::string tooLong = longest + "x";
  EXPECT_EQ(Run(longest + "\n" + kSatellite).code, FT_OK);  // the CR of CR LF does not count
  EXPECT_EQ(Header().satellite_count, 1);
  EXPECT_EQ(Run(longest).code, FT_OK);  // also as a last line without a line feed
  EXPECT_EQ(Run(tooLong + "\n").code, FT_LINE_TOO_LONG);
  const auto result = Run("\n\n" + tooLong);  // too long without a line feed is still too long
  EXPECT_EQ(result.code, FT_LINE_TOO_LONG);
  EXPECT_EQ(result.message, " * Error : line 3 is too long. size of line_buffer = 1024.\n");
  EXPECT_EQ(Compile(longest + "\r\n", *image_).code, FT_OK);
  EXPECT_EQ(Compile(longest + "\r\r\n", *image_).code, FT_LINE_TOO_LONG);  // a lone CR is a character
}

TEST_F(Reader, LastLineWithoutLineFeedIsProcessed) {
  EXPECT_EQ(Run(std::string(kSatellite) + "t 12663 22000 hor 0 14 0 3/4").code, FT_OK);
  EXPECT_EQ(Header().transponder_count, 1);
  const auto result = Run(std::string(kSatellite) + "q");
  EXPECT_EQ(result.code, FT_BAD_TAG);
  EXPECT_EQ(result.message, " * Error : line 2. Invalid tag 'q'.\n");
}

TEST_F(Reader, DosLineEndsAndBlanksBeforeTheTag) {
  // CR LF ends a line; a lone CR, control bytes and bytes from 128 are blanks before a tag.
  const std::string text = "#\r\n\r\x01\x1f\x80\xff" "s \"A\" 1 1 u 1 e n n n n\r\n\r\r\nt 1 1 h 0 14 0 a\rx\r\n";
  const auto result = Compile(text, *image_);
  EXPECT_EQ(result.code, FT_OK) << result.message;
  EXPECT_EQ(Header().satellite_count, 1);
  EXPECT_EQ(Header().transponder_count, 1);
  const auto bad = Compile("#\r\n#\r\n\r\n%\r\n", *image_);
  EXPECT_EQ(bad.message, " * Error : line 4. Invalid tag '%'.\n");
  // A NUL ends the line, as in a C string.
  EXPECT_EQ(Compile(std::string("\0x\n", 3), *image_).code, FT_OK);
  EXPECT_EQ(Compile(std::string("s\0 \"A\" 1 1 u 1 e n n n n\n", 25), *image_).code, FT_BAD_SATELLITE);
}

TEST_F(Reader, TagsInEitherCase) {
  const std::string text = std::string("S \"A\" 1 1 u 1 e n n n n\nT 1 1 h 0 14 0 a\nt 1 1 h 0 14 0 a\n") +
                           "V \"B\" 1 1 1 2 3 4 5 0 0 0\nR \"C\" 1 2 1 2 3 4 5 0 0 0\nr \"D\" 1 1 1 2 3 4 5 0 0 0\n" +
                           "B\nb\nK\nk\n";
  EXPECT_EQ(Run(text).code, FT_OK);
  EXPECT_EQ(Header().service_count, 3);
  EXPECT_EQ(Header().format, kFormatBasic);
}

TEST_F(Reader, KeywordKvrsSelectsTheKvrsLayout) {
  for (const char* keyword : {"KVRS", "kvrs", "   Kvrs and more", "b kvrs"}) {
    image_ = std::make_unique<DatabaseImage>();
    const auto result = Run(std::string(keyword) + "\ns \"A\" 1 1 u 1 e y 10\n");
    if (std::strcmp(keyword, "b kvrs") == 0) {  // the first token is "b": no keyword
      EXPECT_EQ(result.code, FT_BAD_SATELLITE) << keyword;
      continue;
    }
    EXPECT_EQ(result.code, FT_OK) << keyword;
    EXPECT_EQ(Header().format, kFormatKvrs) << keyword;
    EXPECT_EQ(LoadSatellite(*image_, kKvrsLayout, 0).biased_value, 10) << keyword;
  }
  // A default switch line is no record: the keyword may follow it, and a
  // second keyword changes nothing.
  EXPECT_EQ(Run("a 3\nKVRS\ns \"A\" 1 1 u 1 e y 10\nkvrs\n").code, FT_OK);
  EXPECT_EQ(Header().format, kFormatKvrs);
  for (const char* other : {"Begin", "KVRSX", "K VRS", "B"}) {
    EXPECT_EQ(Run(std::string(other) + "\n" + kSatellite).code, FT_OK) << other;
    EXPECT_EQ(Header().format, kFormatBasic) << other;
  }
}

TEST_F(Reader, BasicSectionRuleAllowsKeywordsCommentsAndServicesAfterServices) {
  const std::string program = std::string(kSatellite) + kTransponder + kService;
  EXPECT_EQ(Run(program + "# comment\nBegin\n" + kService).code, FT_OK);
  EXPECT_EQ(Run(program + "A 1\n").code, FT_SWITCH_AFTER_PROGRAM);
  EXPECT_EQ(Run(program + "S \"B\" 1 1 u 1 e n n n n\n").code, FT_SATELLITE_AFTER_PROGRAM);
  EXPECT_EQ(Run(program + "T 1 1 h 0 14 0 a\n").code, FT_TRANSPONDER_AFTER_PROGRAM);
}

TEST_F(Reader, KvrsLayoutAllowsAnyOrder) {
  const std::string text = std::string("KVRS\n") + "s \"A\" 1 1 u 1 e n\n" + kTransponder +
                           "v \"S\" 1 1 1 1 2 3 4 5 0 0 0\n" + "s \"B\" 1 1 u 1 e n\n" + kTransponder +
                           "v \"T\" 1 2 1 1 2 3 4 5 0 0 0\n" + "a 1 u 9750 10600 f n n n n\n";
  const auto result = Run(text);
  EXPECT_EQ(result.code, FT_OK) << result.message;
  const ImageHeader h = Header();
  EXPECT_EQ(h.satellite_count, 2);
  EXPECT_EQ(h.transponder_count, 2);
  EXPECT_EQ(h.service_count, 2);
  EXPECT_EQ(h.antenna_count, 1);
  // Records read before the keyword would keep the basic layout's sizes in a
  // KVRS image: such a file is refused at the keyword.
  const std::string early = std::string(kSatellite) + kTransponder + kService + "KVRS\n";
  EXPECT_EQ(Run(early + "s \"B\" 1 1 u 1 e n\n").code, FT_KEYWORD_AFTER_RECORDS);
  EXPECT_EQ(Run(kSatellite + std::string("KVRS\n")).code, FT_KEYWORD_AFTER_RECORDS);
}

TEST_F(Reader, DefaultSwitchLine) {
  EXPECT_EQ(Run("a 3\n").code, FT_OK);
  EXPECT_EQ(Header().antenna_config, 3);
  for (const char* value : {"-1", "0", "8", "  +8  trailing"}) {
    EXPECT_EQ(Run(std::string("A ") + value + "\n").code, FT_OK) << value;
    EXPECT_EQ(Header().antenna_config, std::atoi(value)) << value;
  }
  EXPECT_EQ(Run("a -1\na -1\n").code, FT_BAD_SWITCH);  // an explicit -1 counts as defined
  for (const char* bad : {"a 9", "a -2", "a", "a x", "a3", "a 99999999999"}) {
    const auto result = Run(std::string(bad) + "\n");
    EXPECT_EQ(result.code, FT_BAD_SWITCH) << bad;
    EXPECT_EQ(result.message, " * Error : line 1. Default Switch Configuation value format error.") << bad;
  }
  // In a KVRS file the same line is an antenna line that fails and is skipped.
  EXPECT_EQ(Run("KVRS\na 3\n").code, FT_OK);
  EXPECT_EQ(Header().antenna_config, kNoAntennaConfig);
  EXPECT_EQ(Header().antenna_count, 0);
}

TEST_F(Reader, FailedRunKeepsParsedRecordsAndTheOldHeader) {
  std::memset(image_->Data(), 0x5A, DatabaseImage::kSize);  // the image is never cleared
  ASSERT_EQ(Run("a 5\n" + std::string(kSatellite) + kTransponder + kSatellite + kService).code, FT_OK);
  const auto result = Run(std::string("s \"NEW\" 1 1 u 1 e n n n n\n") + "s \"X\" 1 1 u 1 e n n n x\n");
  EXPECT_EQ(result.code, FT_BAD_SATELLITE);
  EXPECT_EQ(result.message, " * Error : line 2. Default Satellite Data format error.\n   field : 14/18V\n");
  const ImageHeader h = Header();
  EXPECT_EQ(h.satellite_count, 2);  // the counts of the earlier run
  EXPECT_EQ(h.service_count, 1);
  EXPECT_EQ(h.antenna_config, kNoAntennaConfig);  // reset at the start of every run
  EXPECT_EQ(LoadSatellite(*image_, kBasicLayout, 0).name, "NEW");
  EXPECT_EQ(LoadSatellite(*image_, kBasicLayout, 1).name, "A");  // a failing line stores nothing
  EXPECT_EQ(image_->Get8(0x20 + 2 * 24), 0x5A);                  // the third satellite slot
  EXPECT_EQ(image_->Get32(28), 0x5A5A5A5Au);                     // header bytes 28-31
}

TEST(ProgramReader, CompilesIntoTheProgramImageAndKeepsTheMessage) {
  const std::string bad = Dos("#\n#\n?\n");
  MemoryByteSource badRaw(bad);
  DosTextSource badText(badRaw);
  EXPECT_EQ(ReadFactoryText(badText), FT_BAD_TAG);
  EXPECT_EQ(GetFactoryTextMessage(), " * Error : line 3. Invalid tag '?'.\n");
  const std::string good = Dos(std::string("KVRS\n") + "s \"P\" 1 1 u 1 e n\n");
  MemoryByteSource goodRaw(good);
  DosTextSource goodText(goodRaw);
  EXPECT_EQ(ReadFactoryText(goodText), FT_OK);
  EXPECT_EQ(GetFactoryTextMessage(), "");
  EXPECT_EQ(LoadHeader(GetDatabaseImage()).format, kFormatKvrs);
  EXPECT_EQ(LoadSatellite(GetDatabaseImage(), kKvrsLayout, 0).name, "P");
}

}  // namespace
}  // namespace torvix
