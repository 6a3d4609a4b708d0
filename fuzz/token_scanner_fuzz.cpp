// Updater's token scanner on arbitrary streams.  The input is a series of
// reads as the line delivers them: a byte n, then n bytes (n up to 5; 6 is a
// failed read).  Passes run until the reads are used up, with the
// announcement test or a token match; a pass never reads more groups than
// its rule allows, and a hit is a group that passes the test.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "updater/transport/updater_port.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace updater;
  fuzz::Cursor in(data, size);
  const UpdaterPort port;  // never opened: only its token bytes are used
  const bool announcement = (in.Byte() & 1) != 0;
  const GroupTest test = [&](const std::uint8_t* group, std::size_t received) {
    FUZZ_CHECK(received <= kTokenSize);
    return announcement ? IsUpdateAnnouncement(group, received) : port.MatchToken(TokenKind::TK_ACK, group, received);
  };
  while (!in.Empty()) {
    std::size_t reads = 0;
    std::size_t lastReceived = 0;
    const GroupReader read = [&](std::uint8_t* group, std::size_t& received) {
      ++reads;
      const std::uint8_t n = in.Byte() % 7;
      if (n == 6) {
        lastReceived = 0;
        return false;
      }
      const auto bytes = in.Take(n);
      std::copy(bytes.begin(), bytes.end(), group);
      received = lastReceived = bytes.size();
      return true;
    };
    TokenBytes hit{};
    const bool found = ScanGroups(read, test, &hit);
    FUZZ_CHECK(reads >= 1 && reads <= kTokenSize);
    if (found) FUZZ_CHECK(test(hit.data(), lastReceived));
  }
  return 0;
}
