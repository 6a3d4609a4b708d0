// How the duplicates and the differences of a list name a record for a
// person: "19.2E", "ASTRA 19.2E", "11778 H".
//
// Pure functions; any thread, no blocking; no Qt.
#pragma once

#include <string>

#include "torvix/database/records.h"

namespace torvix::channels {

// The orbital position: "19.2E", "0.8W".
std::string PositionText(const SatelliteRecord& satellite);
// The name and the position: "ASTRA 19.2E".
std::string SatelliteText(const SatelliteRecord& satellite);
// The frequency and the polarization: "11778 H".
std::string TransponderText(const TransponderRecord& transponder);
// The orbital position as one number, east positive, in tenths: 0 and 180
// degrees are the same position east and west.
int SignedPosition(const SatelliteRecord& satellite);

}  // namespace torvix::channels
