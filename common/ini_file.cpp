#include "common/ini_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <iterator>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace common {
namespace {

constexpr std::size_t kMaxSettingsFileSize = 1 << 20;

bool IsIniSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsIniSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsIniSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One UTF-16 code unit of an escape as UTF-8 (Qt's escapes name code units;
// what it writes itself never splits a character).
void AppendUnit(std::string& out, std::uint32_t unit) {
  if (unit < 0x80) {
    out += static_cast<char>(unit);
  } else if (unit < 0x800) {
    out += static_cast<char>(0xC0 | (unit >> 6));
    out += static_cast<char>(0x80 | (unit & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (unit >> 12));
    out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (unit & 0x3F));
  }
}

// The next logical line at `pos`, as Qt's reader finds it: leading blanks and
// whole-line ';' comments skipped, a backslash escapes the next character
// (also a line end), quotes may span lines, and a ';' outside quotes ends the
// line.  `equals` is the first '=' outside quotes (npos: none).
bool NextIniLine(std::string_view data, std::size_t& pos, std::string_view& line, std::size_t& equals) {
  equals = std::string_view::npos;
  std::size_t start = pos;
  while (start < data.size() && IsIniSpace(data[start])) ++start;
  bool inQuotes = false;
  std::size_t i = start;
  while (i < data.size()) {
    const char c = data[i++];
    if (c == '=') {
      if (!inQuotes && equals == std::string_view::npos) equals = i - 1;
    } else if (c == '\n' || c == '\r') {
      if (i == start + 1) {
        ++start;
      } else if (!inQuotes) {
        --i;
        break;
      }
    } else if (c == '\\') {
      if (i < data.size()) {
        const char escaped = data[i++];
        if (i < data.size()) {
          const char next = data[i];
          if ((escaped == '\n' && next == '\r') || (escaped == '\r' && next == '\n')) ++i;
        }
      }
    } else if (c == '"') {
      inQuotes = !inQuotes;
    } else if (c == ';') {
      if (i == start + 1) {
        while (i < data.size() && data[i] != '\n' && data[i] != '\r') ++i;
        while (i < data.size() && IsIniSpace(data[i])) ++i;
        start = i;
      } else if (!inQuotes) {
        --i;
        break;
      }
    }
  }
  pos = i;
  if (i <= start) return false;
  line = data.substr(start, i - start);
  if (equals != std::string_view::npos) equals -= start;
  return true;
}

// A key or section name: "\" is "/", "%XX" and "%UXXXX" are characters.
std::string UnescapedKey(std::string_view key) {
  std::string result;
  std::size_t i = 0;
  while (i < key.size()) {
    const char c = key[i];
    if (c == '\\') {
      result += '/';
      ++i;
      continue;
    }
    if (c != '%' || i == key.size() - 1) {
      result += c;
      ++i;
      continue;
    }
    std::size_t first = i + 1;
    std::size_t digits = 2;
    if (key[first] == 'U') {
      ++first;
      digits = 4;
    }
    std::uint32_t unit = 0;
    bool ok = first + digits <= key.size();
    for (std::size_t d = 0; ok && d < digits; ++d) {
      const int v = HexValue(key[first + d]);
      ok = v >= 0;
      unit = unit * 16 + static_cast<std::uint32_t>(v);
    }
    if (!ok) {
      result += '%';
      ++i;
      continue;
    }
    AppendUnit(result, unit);
    i = first + digits;
  }
  return result;
}

void ChopTrailingBlanks(std::string& text, std::size_t limit) {
  while (text.size() > limit && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
}

// A value as Qt reads it: quotes, C escapes, line continuations; blanks
// around an unquoted value dropped.  None when it is a list (a comma outside
// quotes).
std::optional<std::string> UnescapedValue(std::string_view str) {
  static constexpr char kEscapes[][2] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'},  {'r', '\r'}, {'t', '\t'},
                                         {'v', '\v'}, {'"', '"'},  {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
  std::string result;
  bool inQuotes = false;
  bool quoted = false;
  std::size_t i = 0;
  const auto skipBlanks = [&] {
    while (i < str.size() && (str[i] == ' ' || str[i] == '\t')) ++i;
  };
  skipBlanks();
  std::size_t chopLimit = 0;
  while (i < str.size()) {
    const char c = str[i];
    if (c == '\\') {
      ++i;
      if (i >= str.size()) return result;  // Qt ends here, without the final chop
      const char e = str[i++];
      const auto* code = std::find_if(std::begin(kEscapes), std::end(kEscapes), [e](const char* p) { return p[0] == e; });
      if (code != std::end(kEscapes)) {
        result += (*code)[1];
      } else if (e == 'x' || (e >= '0' && e <= '7')) {
        const bool hex = e == 'x';
        if (hex && (i >= str.size() || HexValue(str[i]) < 0)) {
          // "\x" without a digit: nothing.
        } else {
          std::uint32_t unit = hex ? 0 : static_cast<std::uint32_t>(e - '0');
          while (i < str.size() && (hex ? HexValue(str[i]) >= 0 : (str[i] >= '0' && str[i] <= '7'))) {
            unit = ((hex ? unit << 4 : unit << 3) + static_cast<std::uint32_t>(hex ? HexValue(str[i]) : str[i] - '0')) &
                   0xFFFF;
            ++i;
          }
          AppendUnit(result, unit);
        }
      } else if (e == '\n' || e == '\r') {
        // A continued line.
        if (i < str.size() && (str[i] == '\n' || str[i] == '\r') && str[i] != e) ++i;
      }
      // Any other escaped character is dropped.
      chopLimit = result.size();
      continue;
    }
    if (c == '"') {
      ++i;
      quoted = true;
      inQuotes = !inQuotes;
      if (!inQuotes) {
        skipBlanks();
        chopLimit = result.size();
      }
      continue;
    }
    if (c == ',' && !inQuotes) return std::nullopt;
    std::size_t j = i + 1;
    while (j < str.size() && str[j] != '\\' && str[j] != '"' && str[j] != ',') ++j;
    result.append(str.substr(i, j - i));
    i = j;
  }
  if (!quoted) ChopTrailingBlanks(result, chopLimit);
  return result;
}

// A text that stands for a value of another type ("@ByteArray(...)" and
// the like).  Qt writes a text of its own that starts with '@' as "@@...".
bool IsTypedValue(std::string_view text) {
  static constexpr std::string_view kTyped[] = {"@ByteArray(", "@String(", "@Variant(", "@DateTime(",
                                                "@Rect(",      "@Size(",   "@Point(",   "@Invalid()"};
  return !text.empty() && text.back() == ')' &&
         std::any_of(std::begin(kTyped), std::end(kTyped), [&](std::string_view p) { return text.starts_with(p); });
}

// Closes a descriptor when it goes out of scope.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

IniContents ParseIni(std::string_view contents) {
  IniContents result;
  IniTexts& texts = result.texts;
  std::string section;  // "Group/" or empty for [General]
  std::size_t pos = 0;
  std::string_view line;
  std::size_t equals = 0;
  while (NextIniLine(contents, pos, line, equals)) {
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close == std::string_view::npos) ++result.badLines;
      const std::string_view name = Trimmed(close == std::string_view::npos ? line.substr(1) : line.substr(1, close - 1));
      if (EqualsIgnoringCase(name, "general")) {
        section.clear();
      } else {
        section = (EqualsIgnoringCase(name, "%general") ? std::string(name.substr(1)) : UnescapedKey(name)) + "/";
      }
      continue;
    }
    if (equals == std::string_view::npos) {
      ++result.badLines;
      continue;
    }
    const std::string key = section + UnescapedKey(Trimmed(line.substr(0, equals)));
    const std::optional<std::string> value = UnescapedValue(line.substr(equals + 1));
    if (!value || IsTypedValue(*value) || value->find('\0') != std::string::npos) {
      texts.erase(key);
    } else {
      texts[key] = value->starts_with("@@") ? value->substr(1) : *value;
    }
  }
  return result;
}

IniTexts ParseIniTexts(std::string_view contents) { return ParseIni(contents).texts; }

IniFile ReadIniFile(const std::string& path) {
  IniFile file;
  const Descriptor in{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY)};
  struct stat st {};
  if (in.fd < 0 || ::fstat(in.fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    file.error = in.fd >= 0 && S_ISDIR(st.st_mode) ? EISDIR : errno;
    file.state = file.error == ENOENT || file.error == ENOTDIR ? IniFile::State::kMissing : IniFile::State::kUnreadable;
    return file;
  }
  std::string contents;
  char chunk[4096];
  while (contents.size() < kMaxSettingsFileSize) {
    const ssize_t r = ::read(in.fd, chunk, std::min(sizeof chunk, kMaxSettingsFileSize - contents.size()));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      file.error = errno;
      file.state = IniFile::State::kUnreadable;
      return file;
    }
    if (r == 0) break;
    contents.append(chunk, static_cast<std::size_t>(r));
  }
  file.state = IniFile::State::kRead;
  file.contents = ParseIni(contents);
  return file;
}

}  // namespace common
