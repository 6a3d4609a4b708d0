// Where the users of a serial line note what crossed it, one record per frame
// or token: when, which way, what it was, how long, and its first bytes.
// The protocol layers that call the line (TORVIX's frames, Updater's port)
// write the records; a trace file (common/trace_file.h) or a test keeps them.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace common {

enum class WireDirection {
  kSent,      // from the tool to the receiver
  kReceived,  // from the receiver to the tool
};

class WireTrace {
 public:
  // Bytes of a record shown in full; the rest are counted only.
  static constexpr std::size_t kExcerpt = 16;

  virtual ~WireTrace() = default;
  // `at` is when the first byte crossed, `name` what the record was (a code,
  // a token, a packet kind; a copy is kept), `length` the bytes that crossed,
  // `bytes` the first `n` of what the record shows (at most kExcerpt are kept).
  // Called on the thread that uses the line, which it must not hold up: a few
  // hundred nanoseconds, no waiting for a disk.
  virtual void Record(std::chrono::steady_clock::time_point at, WireDirection direction, std::string_view name,
                      std::size_t length, const std::uint8_t* bytes, std::size_t n) = 0;
};

}  // namespace common
