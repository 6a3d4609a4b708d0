#include "torvix/database/field_limits.h"

#include <cmath>
#include <string>

#include "torvix/database/records.h"
#include "torvix/database/text_scanner.h"

namespace torvix {

bool LookUpWord(std::string_view word, std::span<const WordForm> table, int& value) {
  const std::string lower = AsciiLower(word);
  for (const WordForm& entry : table) {
    if (lower == entry.form) {
      value = entry.value;
      return true;
    }
  }
  return false;
}

// Degrees to tenths of a degree, rounded to the nearest tenth so that a
// printed angle reads back unchanged; false when not a number from 0 to 180.
bool AngleToTenths(double degrees, std::uint16_t& tenths) {
  const double scaled = degrees * 10.0;
  if (!(scaled > -1.0 && scaled < kMaxAngle + 1.0)) return false;  // also refuses NaN and infinities
  const long rounded = std::lround(scaled);
  if (rounded < 0 || rounded > kMaxAngle) return false;
  tenths = static_cast<std::uint16_t>(rounded);
  return true;
}

}  // namespace torvix
