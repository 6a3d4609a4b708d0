#include "torvix/ops/rom_preflight.h"

#include <cstdio>

#include "torvix/link/link_frame.h"
#include "torvix/link/link_jobs.h"

namespace torvix {
namespace {

// Command frames of an upload besides the blocks' acknowledgements: the
// announce, its ACK and the receiver's READY, the start, the end and its ACK.
constexpr std::uint64_t kUploadCommandFrames = 6;
constexpr std::uint64_t kDataFrameOverhead = kFrameHeaderSize + kFrameCrcSize;
constexpr unsigned kBitsPerByte = 10;  // 8N1: start, eight data bits, stop

std::string Hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

RomPreflight PreflightRom(const std::string& path) {
  RomPreflight preflight;
  RomImageFile file;
  if (!file.Open(path) || !CheckRomImage(file, preflight.check)) {
    preflight.fileError = path + ": " + file.Error();
    return preflight;
  }
  preflight.size = file.Length();
  if (!preflight.check.Sendable()) return preflight;
  const std::uint64_t data = preflight.size - kRomImageHeaderSize;
  // The size rides in front of the first 4080 image bytes: it adds no frame.
  const std::uint64_t frames = data == 0 ? 1 : (data + kSoftwareBlockSize - 1) / kSoftwareBlockSize;
  preflight.frames = static_cast<int>(frames);
  preflight.progressTotal = UpgradeTotal(preflight.size);
  preflight.lineBytes = kSoftwareSizePrefix + data + frames * (kDataFrameOverhead + kCommandFrameSize) +
                        kUploadCommandFrames * kCommandFrameSize;
  return preflight;
}

bool RefusedWithoutReceiver(const RomPreflight& preflight, int entryNumber, const std::string& accessCode) {
  const UpgradeEntry* entry = FindUpgradeEntry(entryNumber);
  return entry == nullptr || !preflight.fileError.empty() || !preflight.check.Sendable() ||
         (entry->checksHardware && !preflight.check.expectedHardware) ||
         (entry->needsAccessCode && !accessCode.empty() && !AccessCodeMatches(accessCode));
}

std::string RomRefusalText(const RomImageCheck& check, std::uint64_t fileLength) {
  switch (check.refusal) {
    case RomRefusal::kNone: return "";
    case RomRefusal::kWrongMagic:
      return "the file does not begin with the text of a ROM image (\"" + std::string(kRomMagicA) + "\" or its "
             "variant T)";
    case RomRefusal::kTooShort:
      return "the file has " + std::to_string(fileLength) + " bytes, too few for an image: it ends before the "
             "flag byte at " + Hex(kUpgradeFlagOffset) + ", and an image has at least " +
             std::to_string(kMinRomImageSize) + " bytes";
    case RomRefusal::kTooLarge:
      return "the file has " + std::to_string(fileLength) + " bytes, more than the receiver's 32-bit size "
             "describes after the " + std::to_string(kRomImageHeaderSize) + "-byte header";
  }
  return "";
}

std::string HardwareMismatchText(const RomImageCheck& check, int receiverNumber) {
  const std::string receiver = "the receiver's hardware number is " + std::to_string(receiverNumber);
  if (!check.expectedHardware) {
    return "the image names no hardware number (hardware code " + std::to_string(check.hardwareCode) +
           " of variant " + (check.variant == RomVariant::T ? "T" : "A") + "); " + receiver;
  }
  return "the image is for hardware " + std::to_string(*check.expectedHardware) + ", " + receiver;
}

double LineSeconds(std::uint64_t bytes, std::uint32_t baud) {
  return baud == 0 ? 0 : static_cast<double>(bytes) * kBitsPerByte / baud;
}

}  // namespace torvix
