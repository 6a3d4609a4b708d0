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

TEST(TextScanner, DecimalsIncludingInfinityNanAndExtremes) {
  TextScanner s("19.2 .5 -0.7 +3 1e999 -1e999 1e-999 4east");
  const double expected[] = {19.2, 0.5, -0.7, 3.0, HUGE_VAL, -HUGE_VAL, 0.0, 4.0};
  for (double e : expected) {
    double v = 1234;
    EXPECT_TRUE(s.Decimal(v));
    EXPECT_EQ(v, e);
  }
  std::string rest;
  EXPECT_TRUE(s.Word(rest));
  EXPECT_EQ(rest, "east");
  double v = 0;
  EXPECT_TRUE(TextScanner("nan").Decimal(v) && std::isnan(v));
  for (const char* bad : {"--1", "+-1", ".", "east", ""}) EXPECT_FALSE(TextScanner(bad).Decimal(v)) << bad;
}

}  // namespace
}  // namespace torvix
