#include "torvix/ops/factory_report.h"

#include <cctype>

#include "torvix/database/records.h"

namespace torvix {
namespace {

std::int32_t Le32(const std::uint8_t* bytes) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
                                   (static_cast<std::uint32_t>(bytes[2]) << 16) |
                                   (static_cast<std::uint32_t>(bytes[3]) << 24));
}

std::string Count(std::int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

FactoryList FactoryListOf(const std::uint8_t* image) {
  FactoryList list;
  list.satellites = Le32(image + kSatelliteCountOffset);
  list.transponders = Le32(image + kTransponderCountOffset);
  list.services = Le32(image + kServiceCountOffset);
  list.antennas = image[kAntennaCountOffset];
  return list;
}

std::string FactoryListText(const FactoryList& list) {
  return Count(list.satellites, "satellite", "satellites") + ", " +
         Count(list.transponders, "transponder", "transponders") + ", " +
         Count(list.services, "service", "services") + ", " + Count(list.antennas, "antenna", "antennas");
}

std::string TextErrorAt(const std::string& path, const std::string& message) {
  // Every message of the reader begins so, with the line it stopped at.
  static constexpr std::string_view kLead = " * Error : line ";
  std::size_t end = kLead.size();
  if (message.compare(0, kLead.size(), kLead) == 0) {
    while (end < message.size() && std::isdigit(static_cast<unsigned char>(message[end]))) ++end;
  }
  if (end == kLead.size()) return path + ": " + message;
  return path + ":" + message.substr(kLead.size(), end - kLead.size()) + ":" + message;
}

}  // namespace torvix
