#include "torvix/database/text_scanner.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>

namespace torvix {

namespace {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

TextScanner::TextScanner(std::string_view text) : text_(text.substr(0, text.find('\0'))) {}

void TextScanner::SkipSpace() {
  while (pos_ < text_.size() && IsScanSpace(text_[pos_])) ++pos_;
}

std::size_t TextScanner::StartNumber(bool& negative) {
  SkipSpace();
  std::size_t p = pos_;
  negative = false;
  if (p < text_.size() && (text_[p] == '-' || text_[p] == '+')) negative = text_[p++] == '-';
  return p;
}

bool TextScanner::Integer(int& value) {
  if (failed_) return false;
  bool negative = false;
  std::size_t p = StartNumber(negative);
  if (p >= text_.size() || !IsDigit(text_[p])) return Fail();
  // Accumulate with a ceiling so that any run of digits stays defined.
  constexpr std::int64_t kCeiling = std::int64_t{INT_MAX} + 2;
  std::int64_t magnitude = 0;
  for (; p < text_.size() && IsDigit(text_[p]); ++p) {
    magnitude = std::min(kCeiling, magnitude * 10 + (text_[p] - '0'));
  }
  const std::int64_t result = negative ? -magnitude : magnitude;
  if (result < INT_MIN || result > INT_MAX) return Fail();
  pos_ = p;
  value = static_cast<int>(result);
  return true;
}

bool TextScanner::Digit(int& value) {
  if (failed_) return false;
  SkipSpace();
  if (pos_ >= text_.size() || !IsDigit(text_[pos_])) return Fail();
  value = text_[pos_++] - '0';
  return true;
}

bool TextScanner::Decimal(double& value) {
  if (failed_) return false;
  bool negative = false;
  const std::size_t p = StartNumber(negative);
  if (p < text_.size() && (text_[p] == '-' || text_[p] == '+')) return Fail();
  const char* first = text_.data() + p;
  const char* last = text_.data() + text_.size();
  double parsed = 0;
  const auto [end, error] = std::from_chars(first, last, parsed, std::chars_format::general);
  if (end == first) return Fail();
  if (error == std::errc::result_out_of_range) {
    // Too large for a double reads as infinity, too small as zero (as strtod does).
    const std::string_view matched(first, static_cast<std::size_t>(end - first));
    const bool tiny = matched.find("e-") != std::string_view::npos || matched.find("E-") != std::string_view::npos;
    parsed = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (error != std::errc()) {
    return Fail();
  }
  pos_ = static_cast<std::size_t>(end - text_.data());
  value = negative ? -parsed : parsed;
  return true;
}

bool TextScanner::Word(std::string& word) {
  if (failed_) return false;
  SkipSpace();
  const std::size_t start = pos_;
  while (pos_ < text_.size() && !IsScanSpace(text_[pos_])) ++pos_;
  if (pos_ == start) return Fail();
  word.assign(text_.substr(start, pos_ - start));
  return true;
}

bool TextScanner::SkipWord() {
  std::string ignored;
  return Word(ignored);
}

std::string AsciiLower(std::string_view word) {
  std::string lower(word);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace torvix
