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

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
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

std::vector<std::string> SettingsFiles(const SettingsName& program, const SettingsFolders& folders) {
  std::vector<std::string> files;
  const auto add = [&](const std::string& folder) {
    if (folder.empty()) return;
    files.push_back((fs::path(folder) / program.organization / (std::string(program.application) + ".conf")).string());
    files.push_back((fs::path(folder) / (std::string(program.organization) + ".conf")).string());
  };
  add(folders.user);
  for (const std::string& folder : folders.system) add(folder);
  return files;
}

DeviceMap::DeviceMap(const SettingsName& program, const SettingsFolders& folders, DeviceRoots roots)
    : roots_(std::move(roots)) {
  const std::string prefix = std::string(kDevicesGroup) + "/";
  for (const std::string& file : SettingsFiles(program, folders)) {
    for (const auto& [key, value] : ReadIniFile(file).contents.texts) {
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
