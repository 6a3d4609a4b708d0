#include "torvix/link/rom_image.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvix {
namespace {

// Expected hardware numbers by hardware code.
constexpr std::array<int, 25> kVariantANumbers = {202, 110, 108, 109, 111, 114, 115, 116, 117,
                                                  118, 119, 203, 112, 121, 205, 122, 123, 125,
                                                  126, 127, 129, 206, 207, 208, 130};
constexpr int kVariantANumberOf255 = 107;
constexpr std::array<int, 10> kVariantTNumbers = {503, 505, 506, 507, 508, 509, 510, 520, 521, 522};

constexpr int kDigitZero = 48;  // code of "0"
constexpr std::size_t kHardwareDigits = 4;

// Reads exactly `n` bytes at `offset`; 1 when they were all there, 0 when the
// file ends before, -1 on a read error.
int ReadAt(RomImageFile& file, std::uint64_t offset, std::uint8_t* out, std::size_t n) {
  if (offset + n > file.Length()) return 0;
  if (!file.Seek(offset)) return -1;
  const long got = file.Read(out, n);
  if (got < 0) return -1;
  return static_cast<std::size_t>(got) == n ? 1 : 0;
}

}  // namespace

std::uint8_t UpgradeMarker(int upgradeMode) {
  switch (upgradeMode) {
    case 1: return kMarkerKeepChannels;
    case 2: return kMarkerSatelliteInfo;
    default: return kMarkerWhole;
  }
}

bool AccessCodeMatches(std::string_view entered) { return entered == kFactoryAccessCode; }

std::optional<RomVariant> MagicVariant(const std::uint8_t* header, std::size_t size) {
  if (size < kRomMagicSize) return std::nullopt;
  const std::string_view magic(reinterpret_cast<const char*>(header), kRomMagicSize);
  if (magic == kRomMagicA) return RomVariant::A;
  if (magic == kRomMagicT) return RomVariant::T;
  return std::nullopt;
}

std::optional<int> ExpectedHardwareNumber(RomVariant variant, std::uint8_t hardwareCode,
                                          std::optional<std::uint16_t> storedNumber) {
  if (variant == RomVariant::T) {
    if (hardwareCode < kVariantTNumbers.size()) return kVariantTNumbers[hardwareCode];
    return std::nullopt;
  }
  if (hardwareCode == kHardwareCode107) return kVariantANumberOf255;
  if (hardwareCode == kHardwareCodeExplicit) {
    if (storedNumber) return *storedNumber;
    return std::nullopt;
  }
  if (hardwareCode < kVariantANumbers.size()) return kVariantANumbers[hardwareCode];
  return std::nullopt;
}

int HardwareNumberFromText(std::string_view hardwareText) {
  int number = 0;
  for (std::size_t i = 0; i < kHardwareDigits; ++i) {
    const int c = i < hardwareText.size() ? static_cast<signed char>(hardwareText[i]) : 0;
    number = number * 10 + (c - kDigitZero);
  }
  return number;
}

RomImageFile::~RomImageFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool RomImageFile::Open(const std::string& path) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  struct stat st {};
  const bool statted = ::fstat(fd_, &st) == 0;
  if (!statted || !S_ISREG(st.st_mode)) {
    error_ = !statted ? std::strerror(errno) : S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  length_ = static_cast<std::uint64_t>(st.st_size);
  return true;
}

long RomImageFile::Read(std::uint8_t* buffer, std::size_t n) {
  if (fd_ < 0) return -1;
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = ::read(fd_, buffer + done, n - done);
    if (r > 0) {
      done += static_cast<std::size_t>(r);
      continue;
    }
    if (r == 0) break;
    if (errno == EINTR) continue;
    error_ = std::strerror(errno);
    return -1;
  }
  return static_cast<long>(done);
}

bool RomImageFile::Seek(std::uint64_t offset) {
  if (fd_ < 0) return false;
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  return true;
}

bool CheckRomImage(RomImageFile& file, RomImageCheck& check) {
  check = RomImageCheck{};
  std::array<std::uint8_t, kRomImageHeaderSize> header{};
  int got = ReadAt(file, 0, header.data(), header.size());
  if (got < 0) return false;
  const auto variant = got == 1 ? MagicVariant(header.data(), header.size()) : std::nullopt;
  if (!variant) return file.Seek(kRomImageHeaderSize);
  check.variant = *variant;
  // Too short for the bytes the checks read, the flag byte last: such a file
  // holds no whole software, and the receiver whose software is broken would
  // be left with less.
  if (file.Length() < kMinRomImageSize) {
    check.refusal = RomRefusal::kTooShort;
    return file.Seek(kRomImageHeaderSize);
  }
  // The receiver learns the image's size from a 32-bit field: a larger file
  // cannot be described to it and is no image of it.
  if (file.Length() - kRomImageHeaderSize > kMaxRomImageData) {
    check.refusal = RomRefusal::kTooLarge;
    return file.Seek(kRomImageHeaderSize);
  }

  std::uint8_t code = 0;
  std::uint8_t number[2] = {};
  std::uint8_t flag = 0;
  for (const auto& [offset, out, n] : {std::tuple{kHardwareCodeOffset, &code, std::size_t{1}},
                                       std::tuple{kHardwareNumberOffset, number, std::size_t{2}},
                                       std::tuple{kUpgradeFlagOffset, &flag, std::size_t{1}}}) {
    got = ReadAt(file, offset, out, n);
    if (got < 0) return false;
    // The length was checked: the file was cut short meanwhile.
    if (got == 0) {
      check.refusal = RomRefusal::kTooShort;
      return file.Seek(kRomImageHeaderSize);
    }
  }
  check.refusal = RomRefusal::kNone;
  check.hardwareCode = code;
  check.upgradeFlagByte = flag;
  check.expectedHardware =
      ExpectedHardwareNumber(*variant, code, static_cast<std::uint16_t>(number[0] | (number[1] << 8)));
  return file.Seek(kRomImageHeaderSize);
}

}  // namespace torvix
