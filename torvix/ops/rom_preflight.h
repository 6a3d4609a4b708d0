// Every check an upgrade makes of a ROM image file before it needs a
// receiver, and what the image would cost on the line: for a technician's
// preflight (torvix-cli check-rom) and for an upgrade that backs up the
// receiver first and should not do so for an image it will refuse anyway.
// Caller's thread; blocks only on reading the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "torvix/link/rom_image.h"
#include "torvix/ops/upgrade_entries.h"

namespace torvix {

struct RomPreflight {
  std::string fileError;             // not empty: the file could not be opened or read ("path: reason")
  std::uint64_t size = 0;            // the whole file
  RomImageCheck check;               // magic, variant, flag byte, expected hardware number
  std::optional<std::uint8_t> hardwareCode;  // none when the file does not reach it
  int blocks = 0;                    // data frames of the upload (the bar's total may show one more)
  std::uint64_t lineBytes = 0;       // bytes the whole exchange puts on the line, both ways
};

RomPreflight PreflightRom(const std::string& path);
// True when Upgrade `entry` (1 to 4; any other number is refused) will refuse
// the image whatever a receiver says: it cannot be read, its magic is wrong,
// (entries with the hardware check) it names no hardware number to compare,
// or (entries behind the access code) `accessCode`, when given, is wrong.
bool RefusedWithoutReceiver(const RomPreflight& preflight, int entry, const std::string& accessCode = "");

// The line time of `bytes` at `baud` (ten bit times a byte), in seconds.
double LineSeconds(std::uint64_t bytes, std::uint32_t baud);

}  // namespace torvix
