#include "torvix/ops/rom_preflight.h"

#include "torvix/link/link_frame.h"
#include "torvix/link/link_jobs.h"

namespace torvix {
namespace {

// Command frames of an upload besides the blocks' acknowledgements: the
// announce, its ACK and the receiver's READY, the start, the end and its ACK.
constexpr std::uint64_t kUploadCommandFrames = 6;
constexpr std::uint64_t kDataFrameOverhead = kFrameHeaderSize + kFrameCrcSize;
constexpr unsigned kBitsPerByte = 10;  // 8N1: start, eight data bits, stop

}  // namespace

RomPreflight PreflightRom(const std::string& path) {
  RomPreflight preflight;
  RomImageFile file;
  if (!file.Open(path) || !CheckRomImage(file, preflight.check)) {
    preflight.fileError = path + ": " + file.Error();
    return preflight;
  }
  preflight.size = file.Length();
  if (!preflight.check.magicOk) return preflight;
  std::uint8_t code = 0;
  if (file.Length() > kHardwareCodeOffset) {
    if (!file.Seek(kHardwareCodeOffset) || file.Read(&code, 1) != 1) {
      preflight.fileError = path + ": " + file.Error();
      return preflight;
    }
    preflight.hardwareCode = code;
  }
  // The size in front, then everything after the header.
  const std::uint64_t payload = kSoftwareSizePrefix + (preflight.size - kRomImageHeaderSize);
  preflight.blocks = static_cast<int>((payload + kSoftwareBlockSize - 1) / kSoftwareBlockSize);
  preflight.lineBytes = payload + static_cast<std::uint64_t>(preflight.blocks) * (kDataFrameOverhead + kCommandFrameSize) +
                        kUploadCommandFrames * kCommandFrameSize;
  return preflight;
}

bool RefusedWithoutReceiver(const RomPreflight& preflight, int entryNumber, const std::string& accessCode) {
  const UpgradeEntry* entry = FindUpgradeEntry(entryNumber);
  return entry == nullptr || !preflight.fileError.empty() || !preflight.check.magicOk ||
         (entry->checksHardware && !preflight.check.expectedHardware) ||
         (entry->needsAccessCode && !accessCode.empty() && !AccessCodeMatches(accessCode));
}

double LineSeconds(std::uint64_t bytes, std::uint32_t baud) {
  return baud == 0 ? 0 : static_cast<double>(bytes) * kBitsPerByte / baud;
}

}  // namespace torvix
