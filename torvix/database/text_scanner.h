// A scanner with the matching rules of the C library's scanf family, for the
// conversion lists of the factory-data lines.
//
// Each conversion skips white space first (blank, tab, line feed, vertical
// tab, form feed, carriage return; so a blank in a format needs no call of its
// own), then reads its field.  The first field that does not match stops the
// scan: that call and every later one return false and leave their output
// untouched, so fields that keep a marker value (-1) stay "absent".
//
// Unlike scanf, nothing here is undefined: an integer outside the int range is
// a field that does not match, and decimal numbers are read without the
// locale.  The text ends at its end or at a NUL, whichever comes first.
// A scanner reads a view it does not own; any thread, no blocking.
#pragma once

#include <string>
#include <string_view>

namespace torvix {

class TextScanner {
 public:
  explicit TextScanner(std::string_view text);

  bool Integer(int& value);          // %d: optional sign and decimal digits
  bool Digit(int& value);            // %1d: one decimal digit
  bool Decimal(double& value);       // %f: a decimal number, "inf" or "nan"
  bool Word(std::string& word);      // %s: a run of characters that are no white space
  bool SkipWord();                   // %*s

  bool Failed() const { return failed_; }
  // What follows the last field read.
  std::string_view Rest() const { return text_.substr(pos_); }

 private:
  void SkipSpace();
  // Skips white space and an optional sign; returns the position after them.
  std::size_t StartNumber(bool& negative);
  bool Fail() {
    failed_ = true;
    return false;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

// True for the white space of the C locale.
constexpr bool IsScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// ASCII lower case of `word` (other bytes unchanged).
std::string AsciiLower(std::string_view word);

}  // namespace torvix
