#include "common/device_map.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace common {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSystemSettingsFolder = "/etc/xdg";  // Qt's settings path on this system
constexpr int kLastComPort = 256;                         // the listing's last name, too
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

// A settings file's contents; empty when it cannot be read.  Only its first
// megabyte counts: a settings file is a few lines.
std::string ReadSmallFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string contents;
  char chunk[4096];
  while (in && contents.size() < kMaxSettingsFileSize) {
    in.read(chunk, sizeof chunk);
    contents.append(chunk, static_cast<std::size_t>(in.gcount()));
  }
  return contents;
}

std::string Canonical(const std::string& path) {
  std::error_code ec;
  const fs::path resolved = fs::canonical(path, ec);
  return ec ? path : resolved.string();
}

}  // namespace

SettingsFolders SettingsFoldersFromEnvironment() {
  SettingsFolders folders;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') {
    folders.user = config;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    folders.user = std::string(home) + "/.config";
  }
  folders.system = {kSystemSettingsFolder};
  return folders;
}

std::string UserSettingsFile(const SettingsName& program, const SettingsFolders& folders) {
  return (fs::path(folders.user) / program.organization / (std::string(program.application) + ".conf")).string();
}

std::map<std::string, std::string> ParseIniTexts(std::string_view contents) {
  std::map<std::string, std::string> texts;
  std::string section;  // "Group/" or empty for [General]
  std::size_t pos = 0;
  std::string_view line;
  std::size_t equals = 0;
  while (NextIniLine(contents, pos, line, equals)) {
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      const std::string_view name = Trimmed(close == std::string_view::npos ? line.substr(1) : line.substr(1, close - 1));
      if (EqualsIgnoringCase(name, "general")) {
        section.clear();
      } else {
        section = (EqualsIgnoringCase(name, "%general") ? std::string(name.substr(1)) : UnescapedKey(name)) + "/";
      }
      continue;
    }
    if (equals == std::string_view::npos) continue;
    const std::string key = section + UnescapedKey(Trimmed(line.substr(0, equals)));
    const std::optional<std::string> value = UnescapedValue(line.substr(equals + 1));
    if (!value || IsTypedValue(*value) || value->find('\0') != std::string::npos) {
      texts.erase(key);
    } else {
      texts[key] = value->starts_with("@@") ? value->substr(1) : *value;
    }
  }
  return texts;
}

std::optional<int> ComPortNumber(std::string_view name) {
  if (name.size() < 4 || name.size() > 6 || !EqualsIgnoringCase(name.substr(0, 3), "COM")) return std::nullopt;
  const std::string_view digits = name.substr(3);
  if (digits[0] == '0') return std::nullopt;
  int n = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

DeviceMap::DeviceMap(const SettingsName& program, const SettingsFolders& folders, DeviceRoots roots)
    : roots_(std::move(roots)) {
  // Qt's order for a user-scope setting: the user's application file, the
  // user's organization file, then the same two of the system.
  std::vector<fs::path> files;
  const auto add = [&](const std::string& folder) {
    if (folder.empty()) return;
    files.push_back(fs::path(folder) / program.organization / (std::string(program.application) + ".conf"));
    files.push_back(fs::path(folder) / (std::string(program.organization) + ".conf"));
  };
  add(folders.user);
  for (const std::string& folder : folders.system) add(folder);
  const std::string prefix = std::string(kDevicesGroup) + "/";
  for (const fs::path& file : files) {
    for (const auto& [key, value] : ParseIniTexts(ReadSmallFile(file))) {
      if (key.rfind(prefix, 0) != 0) continue;
      const std::optional<int> n = ComPortNumber(std::string_view(key).substr(prefix.size()));
      // The first file that has the key decides, also when its text is empty.
      if (n && *n <= kLastComPort && key.substr(prefix.size()) == "COM" + std::to_string(*n)) stored_.emplace(*n, value);
    }
  }
}

std::optional<std::string> DeviceMap::Stored(int n) const {
  const auto found = stored_.find(n);
  if (found == stored_.end() || found->second.empty()) return std::nullopt;
  return found->second;
}

ComMapping DeviceMap::Resolve(int n) const {
  ComMapping mapping = DefaultComMapping(n, roots_);
  if (mapping.source == ComSource::kDefault) {
    if (const std::optional<std::string> stored = Stored(n)) {
      mapping.path = *stored;
      mapping.source = ComSource::kStored;
      std::error_code ec;
      mapping.present = fs::exists(mapping.path, ec);
    }
  }
  return mapping;
}

std::string ResolvePortName(const std::string& name, const SettingsName& program) {
  const std::optional<int> n = ComPortNumber(name);
  if (!n) return name;
  return DeviceMap(program).Resolve(*n).path;
}

bool OtherSerialDevicesPresent(const std::string& triedPath, const DeviceRoots& roots) {
  const std::string tried = Canonical(triedPath);
  const PortListing listing = ListSerialPorts(roots);
  return std::any_of(listing.devices.begin(), listing.devices.end(),
                     [&](const SerialDevice& device) { return device.device != tried; });
}

std::vector<DeviceChoice> DeviceChoices(const PortListing& listing) {
  std::vector<DeviceChoice> choices;
  for (const SerialDevice& device : listing.devices) {
    std::string what = device.manufacturer;
    for (const std::string* part : {&device.product, &device.serialNumber}) {
      if (part->empty()) continue;
      if (!what.empty()) what += ' ';
      what += *part;
    }
    std::string details = device.driver;
    if (!device.usbVendor.empty()) {
      if (!details.empty()) details += ", ";
      details += device.usbVendor + ":" + device.usbProduct;
    }
    if (!details.empty()) what += what.empty() ? details : " (" + details + ")";
    const std::string kernelName = fs::path(device.device).filename().string();
    const bool namedByKernel = fs::path(device.name).filename() == kernelName;
    std::string about = namedByKernel ? what : kernelName + (what.empty() ? "" : ": " + what);
    choices.push_back({device.name, std::move(about)});
  }
  return choices;
}

}  // namespace common
