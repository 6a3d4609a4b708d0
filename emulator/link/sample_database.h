// The emulator's built-in receiver database: a small channel list in the basic
// layout of the 131072-byte database image (one satellite, two transponders,
// two services), which the link tool prints as a valid factory-data text.
#pragma once

#include <cstdint>
#include <vector>

namespace emulator {

std::vector<std::uint8_t> SampleDatabaseImage();

}  // namespace emulator
