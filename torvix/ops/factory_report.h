// What the command line says of a factory-data text beside the system's
// texts: what a compiled list holds (from the header of its database image),
// and the file and line where the reader stopped.  Works on what it is
// given only: any thread, no blocking.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace torvix {

struct FactoryList {
  std::int32_t satellites = 0;
  std::int32_t transponders = 0;
  std::int32_t services = 0;
  int antennas = 0;
};

// The counts of the header of a 131072-byte database image.
FactoryList FactoryListOf(const std::uint8_t* image);
// "2 satellites, 5 transponders, 1 service, 0 antennas".
std::string FactoryListText(const FactoryList& list);

// The reader's message in GNU form, "PATH:LINE: * Error : line LINE. ...",
// for editors and scripts; "PATH: message" for a message that names no line.
std::string TextErrorAt(const std::string& path, const std::string& message);

// Asked before a list without services is sent.
inline constexpr const char* kNoServicesQuestion =
    "The list holds no services: the receiver's channel list would be empty. Send it?";

}  // namespace torvix
