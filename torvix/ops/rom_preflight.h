// Every check an upgrade makes of a ROM image file before it needs a
// receiver, and what the image would cost on the line: for a technician's
// preflight (torvix-cli check-rom) and for an upgrade that backs up the
// receiver first and should not do so for an image it will refuse anyway.
// Caller's thread; blocks only on reading the file.
#pragma once

#include <cstdint>
#include <string>

#include "torvix/link/rom_image.h"
#include "torvix/ops/upgrade_entries.h"

namespace torvix {

struct RomPreflight {
  std::string fileError;        // not empty: the file could not be opened or read ("path: reason")
  std::uint64_t size = 0;       // the whole file
  RomImageCheck check;          // refusal, variant, hardware code and number, flag byte
  // The upload of an image that may be sent: its data frames (the first
  // with the 4-byte size in front of 4080 image bytes, each later one 4080
  // image bytes, the last what remains), and the total its progress counts
  // the blocks against ("block N/total"), which can be one more.
  int frames = 0;
  int progressTotal = 0;
  std::uint64_t lineBytes = 0;  // bytes the whole exchange puts on the line, both ways
};

RomPreflight PreflightRom(const std::string& path);
// True when Upgrade `entry` (1 to 4; any other number is refused) will refuse
// the image whatever a receiver says: it cannot be read, it is no image to
// send, (entries with the hardware check) it names no hardware number to
// compare, or (entries behind the access code) `accessCode`, when given, is
// wrong.
bool RefusedWithoutReceiver(const RomPreflight& preflight, int entry, const std::string& accessCode = "");

// Why "Wrong ROM image" was shown, for the operator beside the box: "" for
// an image that may be sent.
std::string RomRefusalText(const RomImageCheck& check, std::uint64_t fileLength);
// Why "hardware version error!" was shown: the number the image expects (or
// that it names none) against `receiverNumber`, the one the check compared.
std::string HardwareMismatchText(const RomImageCheck& check, int receiverNumber);

// The line time of `bytes` at `baud` (ten bit times a byte), in seconds.
double LineSeconds(std::uint64_t bytes, std::uint32_t baud);

}  // namespace torvix
