#include "common/serial_ports.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string_view>
#include <system_error>

namespace common {
namespace {

namespace fs = std::filesystem;

constexpr int kListedComPorts = 4;  // always shown: the names both programs offer
constexpr int kLastComPort = 256;
constexpr int kUsbAncestorLevels = 6;     // from the tty's device up to the USB device
constexpr int kDriverAncestorLevels = 3;  // from the tty's device up to the one a driver took

// The first line of a sysfs attribute, without surrounding blanks; empty when
// it cannot be read.
std::string Attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  const auto first = line.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = line.find_last_not_of(" \t\r\n");
  return line.substr(first, last - first + 1);
}

// `path` with every symbolic link resolved; `path` itself when that fails.
fs::path Canonical(const fs::path& path) {
  std::error_code ec;
  fs::path resolved = fs::canonical(path, ec);
  return ec ? path : resolved;
}

bool Exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

// "ttyUSB" + digits and the like.
bool IsNumbered(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

// ttyACM2 before ttyACM10: the letters, then the number.
bool KernelOrder(const std::string& a, const std::string& b) {
  const auto split = [](const std::string& s) {
    std::size_t digits = s.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1])) != 0) --digits;
    const std::string number = s.substr(digits);
    return std::make_pair(s.substr(0, digits), number.empty() || number.size() > 9 ? -1L : std::stol(number));
  };
  return split(a) < split(b);
}

// A serial port the kernel keeps for hardware that may not be there reports
// UART type 0 (unknown); a port with a UART behind it reports its type.
bool HasUart(const fs::path& classDir) {
  const std::string type = Attribute(classDir / "type");
  return !type.empty() && type.find_first_not_of('0') != std::string::npos;
}

// What sysfs tells of the tty named `kernelName`.
void ReadSysfs(const fs::path& sysRoot, const std::string& kernelName, SerialDevice& device) {
  const fs::path classDir = sysRoot / "class" / "tty" / kernelName;
  if (!Exists(classDir / "device")) return;
  const fs::path deviceDir = Canonical(classDir / "device");
  const fs::path devicesRoot = Canonical(sysRoot / "devices");
  const auto inside = [&](const fs::path& dir) {
    const auto [end, ignored] = std::mismatch(devicesRoot.begin(), devicesRoot.end(), dir.begin(), dir.end());
    return end == devicesRoot.end() && dir != devicesRoot;
  };
  // The driver that took the port.  Newer kernels put generic serial-base
  // port devices between the tty and the UART's own device: look past them.
  fs::path dir = deviceDir;
  for (int level = 0; level < kDriverAncestorLevels && inside(dir); ++level, dir = dir.parent_path()) {
    if (Canonical(dir / "subsystem").filename() == "serial-base") continue;
    if (Exists(dir / "driver")) {
      device.driver = Canonical(dir / "driver").filename().string();
      break;
    }
  }
  // The USB device the adapter is: the nearest ancestor with vendor and product ids.
  dir = deviceDir;
  for (int level = 0; level < kUsbAncestorLevels && inside(dir); ++level, dir = dir.parent_path()) {
    if (!Exists(dir / "idVendor") || !Exists(dir / "idProduct")) continue;
    device.usbVendor = Attribute(dir / "idVendor");
    device.usbProduct = Attribute(dir / "idProduct");
    device.serialNumber = Attribute(dir / "serial");
    device.manufacturer = Attribute(dir / "manufacturer");
    device.product = Attribute(dir / "product");
    break;
  }
}

}  // namespace

ComMapping DefaultComMapping(int n, const DeviceRoots& roots) {
  ComMapping mapping;
  mapping.name = "COM" + std::to_string(n);
  if (const char* set = std::getenv(mapping.name.c_str()); set != nullptr && *set != '\0') {
    mapping.path = set;
    mapping.source = ComSource::kEnvironment;
  } else {
    mapping.path = (fs::path(roots.dev) / ("ttyS" + std::to_string(n - 1))).string();
  }
  mapping.present = Exists(mapping.path);
  return mapping;
}

PortListing ListSerialPorts(const DeviceRoots& roots, const ComResolver& resolve) {
  const ComResolver resolver = resolve ? resolve : [&roots](int n) { return DefaultComMapping(n, roots); };
  const fs::path dev(roots.dev);
  // Devices by their node's resolved path.
  std::map<std::string, SerialDevice> found;
  const auto add = [&](const fs::path& node) -> SerialDevice& {
    const fs::path resolved = Canonical(node);
    SerialDevice& device = found[resolved.string()];
    if (device.device.empty()) device.device = resolved.string();
    return device;
  };

  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dev / "serial" / "by-id", ec)) {
    if (!Exists(entry.path())) continue;  // a link left by a device that is gone
    add(entry.path()).byId.push_back(entry.path().string());
  }
  for (const auto& entry : fs::directory_iterator(dev, ec)) {
    const std::string name = entry.path().filename().string();
    const bool adapter = IsNumbered(name, "ttyUSB") || IsNumbered(name, "ttyACM");
    if (adapter || (IsNumbered(name, "ttyS") && HasUart(fs::path(roots.sys) / "class" / "tty" / name))) {
      add(entry.path());
    }
  }

  PortListing listing;
  std::vector<ComMapping> every;  // COM1 to COM256: ttyS9 is COM10 unless COM10 leads elsewhere
  for (int n = 1; n <= kLastComPort; ++n) {
    every.push_back(resolver(n));
    if (n <= kListedComPorts || every.back().source != ComSource::kDefault) listing.comPorts.push_back(every.back());
  }
  for (auto& [resolved, device] : found) {
    std::sort(device.byId.begin(), device.byId.end());
    device.name = device.byId.empty() ? device.device : device.byId.front();
    ReadSysfs(roots.sys, fs::path(resolved).filename().string(), device);
    for (const ComMapping& mapping : every) {
      if (mapping.present && Canonical(mapping.path).string() == resolved) device.comNames.push_back(mapping.name);
    }
    listing.devices.push_back(std::move(device));
  }
  std::sort(listing.devices.begin(), listing.devices.end(), [](const SerialDevice& a, const SerialDevice& b) {
    if (a.byId.empty() != b.byId.empty()) return !a.byId.empty();
    if (!a.byId.empty()) return a.name < b.name;
    return KernelOrder(fs::path(a.device).filename().string(), fs::path(b.device).filename().string());
  });
  return listing;
}

}  // namespace common
