#include "common/testing/test_support.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>
#include <utility>

namespace common::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder(std::string_view prefix) {
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  if (error) return;
  std::string pattern = (base / (std::string(prefix) + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempFolder::~TempFolder() {
  if (path_.empty()) return;
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const fs::path& path, std::string_view contents) {
  std::error_code error;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), error);
  if (error) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  out.close();
  return static_cast<bool>(out);
}

std::vector<std::vector<std::string>> ParseCsv(std::string_view text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record(1);
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
      record.back() += c;
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == ',') {
      record.emplace_back();
    } else if (!quoted && c == '\n') {
      if (!record.back().empty() && record.back().back() == '\r') record.back().pop_back();
      records.push_back(std::move(record));
      record.assign(1, {});
    } else {
      record.back() += c;
    }
  }
  return records;
}

std::string PlugUsbAdapter(const fs::path& root, const std::string& line) {
  const fs::path usb = root / "sys/devices/pci0000:00/usb1/1-2";
  for (const auto& [name, value] : {std::pair{"idVendor", "0403"}, {"idProduct", "6001"}, {"manufacturer", "FTDI"},
                                    {"product", "FT232R USB UART"}, {"serial", "A1B2C3"}}) {
    WriteFile(usb / name, std::string(value) + "\n");
  }
  const fs::path port = usb / "1-2:1.0/ttyUSB0";
  const fs::path driver = root / "sys/bus/usb-serial/drivers/ftdi_sio";
  fs::create_directories(driver);
  fs::create_directories(port);
  fs::create_directory_symlink(driver, port / "driver");
  const std::string kernelName = fs::canonical(line).filename().string();
  const fs::path tty = port / "tty" / kernelName;
  fs::create_directories(tty);
  fs::create_directory_symlink(port, tty / "device");
  fs::create_directories(root / "sys/class/tty");
  fs::create_directory_symlink(tty, root / "sys/class/tty" / kernelName);
  const fs::path byId = root / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
  fs::create_directories(byId.parent_path());
  fs::create_symlink(line, byId);
  return byId.string();
}

}  // namespace common::testing
