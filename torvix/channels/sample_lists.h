// Channel lists that look like a receiver's, made up from a seed: satellites
// at real orbital positions with their LNB settings, transponders on the
// bands' usual frequencies and symbol rates, a line-up of TV and radio
// services (some scrambled, some favourites, a few locked) and, in the KVRS
// layout, the antennas.  A few duplicates are put in on purpose, as real
// read-back lists have them: two satellite names at one position, a
// transponder listed twice, a service listed twice, a name twice on one
// transponder.
//
// The same options give the same list on every run and every machine (the
// generator has its own random numbers).  Every list it makes compiles
// through the text reader to exactly its Compile() image.
//
// Pure functions; any thread, no blocking; no Qt.
#pragma once

#include <cstdint>
#include <string>

#include "torvix/channels/channel_list.h"

namespace torvix::channels {

struct SampleOptions {
  Layout layout = Layout::kBasic;
  int satellites = 8;
  int transponders = 120;
  int services = 800;
  int antennas = 8;  // KVRS only; a basic list has none
  std::uint64_t seed = 1;
};

// Every table at the room of `layout` (basic 106/1024/3200, KVRS
// 128/2048/3200 and 64 antennas).
SampleOptions MaximalSample(Layout layout, std::uint64_t seed = 1);

// "" when MakeSampleList can make the list; else why not ("at most 106
// satellites in the basic layout", "services need a transponder").
std::string CheckSampleOptions(const SampleOptions& options);

// The list; `options` must pass CheckSampleOptions.  A few milliseconds for
// the maximal list.
ChannelList MakeSampleList(const SampleOptions& options);

}  // namespace torvix::channels
