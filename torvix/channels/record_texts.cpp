#include "torvix/channels/record_texts.h"

namespace torvix::channels {

std::string PositionText(const SatelliteRecord& satellite) {
  return std::to_string(satellite.angle / 10) + "." + std::to_string(satellite.angle % 10) +
         (satellite.east_west ? "W" : "E");
}

std::string SatelliteText(const SatelliteRecord& satellite) {
  return satellite.name.empty() ? PositionText(satellite) : satellite.name + " " + PositionText(satellite);
}

std::string TransponderText(const TransponderRecord& transponder) {
  return std::to_string(transponder.frequency) + (transponder.polarization ? " H" : " V");
}

int SignedPosition(const SatelliteRecord& satellite) {
  if (satellite.angle == 0 || satellite.angle == kMaxAngle) return satellite.angle;
  return satellite.east_west ? -satellite.angle : satellite.angle;
}

}  // namespace torvix::channels
