// ROM image files of the receiver's software: the header check, the hardware
// the image is built for, the flag byte that says whether a partial upgrade is
// allowed, the mode markers, and the factory access code.  No windows: the
// upgrade entries of the window and of the command line both build on this.
//
// A ROM image file:
//   0         40 bytes  magic text, variant A or T (compared over all 40 bytes)
//   40         2 bytes  not examined (with the magic: the 42-byte header, never sent)
//   42         ...      the data sent to the receiver
//   0x1F002C   1 byte   hardware code
//   0x1F002F   2 bytes  hardware number, little-endian (variant A, code 254 only)
//   0x1F0066   1 byte   upgrade flag byte: 0 = whole upgrade only
// A file that ends before the flag byte is refused, as is one whose magic is
// neither variant.
//
// Everything here runs on the calling thread and blocks only on file reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvix {

inline constexpr std::size_t kRomMagicSize = 40;
inline constexpr std::size_t kRomImageHeaderSize = 42;  // magic + 2 bytes never examined
inline constexpr std::string_view kRomMagicA = "Kalmer VELOX Series ********* ROM image.";
inline constexpr std::string_view kRomMagicT = "Kalmer VELOX Series ****T**** ROM image.";
static_assert(kRomMagicA.size() == kRomMagicSize && kRomMagicT.size() == kRomMagicSize);

inline constexpr std::uint64_t kHardwareCodeOffset = 0x1F002C;    // 2031660
inline constexpr std::uint64_t kHardwareNumberOffset = 0x1F002F;  // 2031663, variant A with code 254
inline constexpr std::uint64_t kUpgradeFlagOffset = 0x1F0066;     // 2031718, upgradeFlagByte
// The shortest file that holds every byte the checks read: the flag byte is the last.
inline constexpr std::uint64_t kMinRomImageSize = kUpgradeFlagOffset + 1;
inline constexpr std::uint64_t kMaxRomImageData = 0xFFFFFFFF;     // bytes after the header: a 32-bit size field
inline constexpr std::uint8_t kHardwareCodeExplicit = 254;        // variant A: number stored in the image
inline constexpr std::uint8_t kHardwareCode107 = 255;             // variant A: hardware 107

// Markers that replace the upgrade flag byte on the way to the receiver.
inline constexpr std::uint8_t kMarkerWhole = 0x00;          // mode 0: whole upgrade
inline constexpr std::uint8_t kMarkerKeepChannels = 0xFD;   // mode 1: software, keep the channel list
inline constexpr std::uint8_t kMarkerSatelliteInfo = 0xFE;  // mode 2: software and satellite information

// The factory access code that guards Upgrade 3 and Upgrade 4.
inline constexpr std::string_view kFactoryAccessCode = "5082613";

enum class RomVariant { A, T };

// The marker for upgradeMode 0, 1 or 2; any other mode sends the whole-upgrade marker.
std::uint8_t UpgradeMarker(int upgradeMode);

// True when `entered` is the access code exactly: same length, byte for byte,
// case-sensitive, nothing trimmed.
bool AccessCodeMatches(std::string_view entered);

// The variant whose magic the first 40 bytes of `header` (at least 40 bytes) hold.
std::optional<RomVariant> MagicVariant(const std::uint8_t* header, std::size_t size);

// Expected hardware number for a hardware code; none for codes without one.
// `storedNumber` is the little-endian value at 0x1F002F, used only for code
// 254 of variant A (none when the file does not reach it).
std::optional<int> ExpectedHardwareNumber(RomVariant variant, std::uint8_t hardwareCode,
                                          std::optional<std::uint16_t> storedNumber);

// The receiver's hardware number from the first four characters of the
// hardware text it reported: 1000*(c0-48) + 100*(c1-48) + 10*(c2-48) + (c3-48),
// characters as signed 8-bit codes, missing characters counting as 0 (the
// record is zero-filled).  "0503..." gives 503.
int HardwareNumberFromText(std::string_view hardwareText);

// What the upgrade job reads the image from: the whole file's length and
// sequential reads from where the header check left it (offset 42).
class ImageStream {
 public:
  virtual ~ImageStream() = default;
  // The whole file's length in bytes.
  virtual std::uint64_t Length() const = 0;
  // Reads up to `n` bytes, fewer only at the end of the file; -1 on a read error.
  virtual long Read(std::uint8_t* buffer, std::size_t n) = 0;
};

// An open ROM image file.  Owns its descriptor.  Used by one thread at a time
// (the operation's, then the job's).
class RomImageFile : public ImageStream {
 public:
  RomImageFile() = default;
  ~RomImageFile() override;
  RomImageFile(const RomImageFile&) = delete;
  RomImageFile& operator=(const RomImageFile&) = delete;

  // Opens `path` for reading; false (Error() says why: the system's text,
  // "Is a directory" for a folder) when it cannot or it is no regular file.
  bool Open(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Error() const { return error_; }
  // The whole file's length, as found at Open().
  std::uint64_t Length() const override { return length_; }

  // Reads up to `n` bytes from the current position, fewer only at the end of
  // the file.  Returns the count, or -1 when the system reports an error (the
  // position is then undefined).
  long Read(std::uint8_t* buffer, std::size_t n) override;
  // Moves to `offset` from the start; false on error.
  bool Seek(std::uint64_t offset);

 private:
  int fd_ = -1;
  std::uint64_t length_ = 0;
  std::string error_;
};

// Why a ROM image file is not sent; every refusal shows the same box
// ("Wrong ROM image").
enum class RomRefusal {
  kNone,        // an image for the receiver: it may be sent
  kWrongMagic,  // the first 40 bytes are neither magic (a file shorter than them too)
  kTooShort,    // a magic, but the file ends before the flag byte: shorter than kMinRomImageSize
  kTooLarge,    // more data after the header than the receiver's 32-bit size field describes
};

// What the upgrade entries learn from a ROM image file before sending it.
// Beyond `refusal` (and `variant` of an image too short) the fields hold
// only for an image that may be sent, which reaches every byte read here.
struct RomImageCheck {
  RomRefusal refusal = RomRefusal::kWrongMagic;
  RomVariant variant = RomVariant::A;
  std::uint8_t hardwareCode = 0;
  std::uint8_t upgradeFlagByte = 0;     // 0: whole upgrade only
  std::optional<int> expectedHardware;  // none: the hardware check fails
  bool Sendable() const { return refusal == RomRefusal::kNone; }
};

// Reads the header, the hardware code and the flag byte of an open file and
// leaves it positioned at offset 42, ready for the upload.  Never reads past
// the end: a file too short for the bytes read here, or with more data than
// the 32-bit size field the receiver gets can describe, is refused before.
// False only when the file cannot be read (Error() of the file says why).
bool CheckRomImage(RomImageFile& file, RomImageCheck& check);

}  // namespace torvix
