#include "emulator/core/line.h"

#include <cerrno>
#include <cstring>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace emulator {
namespace {

constexpr unsigned kBitsPerByte = 10;      // start bit, 8 data bits, stop bit
constexpr std::size_t kPacedChunk = 64;    // bytes handed over at a time when paced

}  // namespace

Line::Line(const Options& options) : options_(options) {
  if (!pty_.Ok()) {
    error_ = "cannot open a pseudo-terminal: " + pty_.Error();
    return;
  }
  devicePath_ = pty_.SlavePath();
  if (options_.linkPath.empty()) return;
  struct stat st {};
  if (::lstat(options_.linkPath.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error_ = options_.linkPath + " exists and is not a symbolic link; not replacing it";
      return;
    }
    ::unlink(options_.linkPath.c_str());
  }
  if (::symlink(pty_.SlavePath().c_str(), options_.linkPath.c_str()) != 0) {
    error_ = "cannot create " + options_.linkPath + ": " + std::strerror(errno);
    return;
  }
  madeLink_ = true;
  devicePath_ = options_.linkPath;
}

Line::~Line() {
  if (madeLink_) ::unlink(options_.linkPath.c_str());
}

std::chrono::steady_clock::duration Line::LineTime(std::size_t bytes) const {
  const std::uint32_t baud = ToolBaud();
  if (baud == 0) return {};
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(static_cast<double>(bytes) * kBitsPerByte / baud));
}

bool Line::Send(const std::uint8_t* data, std::size_t n) {
  if (!options_.paced) return pty_.Write(data, n);
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t done = 0; done < n;) {
    const std::size_t chunk = std::min(kPacedChunk, n - done);
    if (!pty_.Write(data + done, chunk)) return false;
    done += chunk;
    std::this_thread::sleep_until(start + LineTime(done));
  }
  return true;
}

std::vector<std::uint8_t> Line::Receive(std::size_t n, int timeoutMs) {
  if (!options_.paced) return pty_.Read(n, timeoutMs);
  // The first byte starts the clock; the rest cannot have come faster than the wire.
  std::vector<std::uint8_t> bytes = pty_.Read(n == 0 ? 0 : 1, timeoutMs);
  if (bytes.empty()) return bytes;
  const auto start = std::chrono::steady_clock::now() - LineTime(1);
  const auto rest = pty_.Read(n - 1, timeoutMs);
  bytes.insert(bytes.end(), rest.begin(), rest.end());
  std::this_thread::sleep_until(start + LineTime(bytes.size()));
  return bytes;
}

}  // namespace emulator
