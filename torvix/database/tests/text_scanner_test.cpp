// The scanf matching rules of the conversion lists, and the cases where the C
// library's behaviour would be undefined.
#include "torvix/database/text_scanner.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace torvix {
namespace {

TEST(TextScanner, FieldsNeedNoBlankBetweenThemAndAnyWhiteSpaceSeparates) {
  TextScanner s(" \t12abc\v-7\f+8\r\nword");
  int a = 0, b = 0, c = 0;
  std::string w1, w2;
  EXPECT_TRUE(s.Integer(a));
  EXPECT_TRUE(s.Word(w1));  // %d stops at the first non-digit, %s takes the rest of the run
  EXPECT_TRUE(s.Integer(b));
  EXPECT_TRUE(s.Integer(c));
  EXPECT_TRUE(s.Word(w2));
  EXPECT_EQ(a, 12);
  EXPECT_EQ(w1, "abc");
  EXPECT_EQ(b, -7);
  EXPECT_EQ(c, 8);
  EXPECT_EQ(w2, "word");
  EXPECT_FALSE(s.Integer(c));  // end of text
  EXPECT_EQ(c, 8);
}

TEST(TextScanner, FirstMismatchStopsEveryLaterField) {
  TextScanner s("5 x 6");
  int first = -1, second = -1, third = -1;
  EXPECT_TRUE(s.Integer(first));
  EXPECT_FALSE(s.Integer(second));
  EXPECT_FALSE(s.Integer(third));  // 6 would match, but the scan has stopped
  std::string word;
  EXPECT_FALSE(s.Word(word));
  EXPECT_EQ(first, 5);
  EXPECT_EQ(second, -1);
  EXPECT_EQ(third, -1);
  EXPECT_TRUE(s.Failed());

  TextScanner sign("- 5");
  EXPECT_FALSE(sign.Integer(first));  // a sign without digits does not match
}

TEST(TextScanner, IntegersOutsideTheIntRangeDoNotMatch) {
  int v = -1;
  TextScanner limits("2147483647 -2147483648");
  EXPECT_TRUE(limits.Integer(v));
  EXPECT_EQ(v, INT_MAX);
  EXPECT_TRUE(limits.Integer(v));
  EXPECT_EQ(v, INT_MIN);
  for (const char* text : {"2147483648", "-2147483649", "99999999999999999999999999999"}) {
    v = -1;
    TextScanner s(text);
    EXPECT_FALSE(s.Integer(v)) << text;
    EXPECT_EQ(v, -1) << text;
  }
}

TEST(TextScanner, SingleDigitsMayBeSeparatedOrRunTogether) {
  TextScanner s(" 0101 2300 -1");
  int digits[8] = {};
  for (int& d : digits) EXPECT_TRUE(s.Digit(d));
  EXPECT_EQ(digits[1], 1);
  EXPECT_EQ(digits[4], 2);
  EXPECT_EQ(digits[5], 3);
  int d = 9;
  EXPECT_FALSE(s.Digit(d));  // a sign is no digit
  EXPECT_EQ(d, 9);
}

TEST(TextScanner, DecimalsIncludingInfinityNanAndExtremes) {
  double v = 0;
  TextScanner s("19.2 .5 -0.7 +3 1e999 -1e999 1e-999 nan inf 4east");
  EXPECT_TRUE(s.Decimal(v));
  EXPECT_DOUBLE_EQ(v, 19.2);
  EXPECT_TRUE(s.Decimal(v));
  EXPECT_DOUBLE_EQ(v, 0.5);
  EXPECT_TRUE(s.Decimal(v));
  EXPECT_DOUBLE_EQ(v, -0.7);
  EXPECT_TRUE(s.Decimal(v));
  EXPECT_DOUBLE_EQ(v, 3.0);
  EXPECT_TRUE(s.Decimal(v));
  EXPECT_TRUE(std::isinf(v) && v > 0);
  EXPECT_TRUE(s.Decimal(v));
  EXPECT_TRUE(std::isinf(v) && v < 0);
  EXPECT_TRUE(s.Decimal(v));
  EXPECT_EQ(v, 0.0);
  EXPECT_TRUE(s.Decimal(v));
  EXPECT_TRUE(std::isnan(v));
  EXPECT_TRUE(s.Decimal(v));
  EXPECT_TRUE(std::isinf(v));
  EXPECT_TRUE(s.Decimal(v));
  EXPECT_DOUBLE_EQ(v, 4.0);
  std::string rest;
  EXPECT_TRUE(s.Word(rest));
  EXPECT_EQ(rest, "east");

  for (const char* bad : {"--1", "+-1", ".", "east", ""}) {
    TextScanner b(bad);
    EXPECT_FALSE(b.Decimal(v)) << bad;
  }
}

TEST(TextScanner, TextEndsAtNul) {
  const std::string text("12\0 34", 6);
  TextScanner s(text);
  int a = 0, b = -1;
  EXPECT_TRUE(s.Integer(a));
  EXPECT_FALSE(s.Integer(b));
  EXPECT_EQ(b, -1);
  EXPECT_EQ(AsciiLower("KvRs\xC4"), "kvrs\xC4");
}

}  // namespace
}  // namespace torvix
