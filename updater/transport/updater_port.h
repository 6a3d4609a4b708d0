// UpdaterPort: the one serial line of an Updater operation, in the transfer
// profile (settings transfer) or the update profile (software update), and
// the token exchange over it.
//
// All operations run on the operation's worker thread, except Interrupt(),
// which any thread (or a signal handler) may call to ask that the waits of
// ScanForToken end (see there).
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/permission_hint.h"
#include "common/serial_line.h"
#include "common/wire_trace.h"
#include "updater/transport/tokens.h"

namespace updater {

// Bit rates the transfer profile offers; the update profile always uses 115200.
inline constexpr std::uint32_t kDefaultBaudRate = 115200;
inline constexpr std::uint32_t kTransferBaudRates[] = {128000, 115200, 19200, 9600};

struct ProfileLimits {
  common::ReadLimits read;
  common::WriteLimits write;
};

// Time-outs of both profiles.  The defaults are the receivers' values; tests
// shrink them to keep waits short.
struct PortTimings {
  // Reads end 1000 ms after the last byte or after 1000 ms per byte in all:
  // a token read waits 5 s at most.
  ProfileLimits transfer{{1000, 1000, 0}, {10, 10}};
  // A 5-byte read returns after about 6 ms.
  ProfileLimits update{{100, 1, 1}, {5, 5}};
  // After a stop request: how long a receiver may still take to answer once
  // the last byte sent to it has crossed the line (as long as a token read of
  // the transfer profile may take).
  std::chrono::milliseconds stopReply{5000};
};

enum class OpenResult {
  kOk,
  kOpenFailed,        // the device could not be opened
  kSettingsRefused,   // the line settings (for example the bit rate) were refused
};

// A test applied to a received group of five bytes by ScanForToken.
using GroupTest = std::function<bool(const std::uint8_t* group, std::size_t received)>;

class UpdaterPort {
 public:
  explicit UpdaterPort(PortTimings timings = {});
  UpdaterPort(const UpdaterPort&) = delete;
  UpdaterPort& operator=(const UpdaterPort&) = delete;

  // Transfer profile: opens `portName` ("COMn" resolved as the README says, or
  // a device path) exclusively, raw 8N1 at `baud`, no flow control, with the
  // transfer time-outs.  Does not block.
  OpenResult OpenTransferPort(const std::string& portName, std::uint32_t baud);
  // Update profile: as above at 115200 with the update time-outs, and every
  // byte queued in either direction discarded.
  OpenResult OpenUpdatePort(const std::string& portName);
  // Closes the line (if open) and drops a pending interrupt.
  void ClosePort();
  bool IsOpen() const { return line_.IsOpen(); }

  // One read of up to `n` bytes, bounded by the profile's read time-outs;
  // `received` tells how many came.  False only on a system error.
  bool ReadBytes(void* buffer, std::size_t n, std::size_t& received);
  // One write of `n` bytes bounded by the write time-outs.  False on a system
  // error or when the time-out left bytes unwritten (`written` tells how many
  // went out).
  bool WriteBytes(const void* buffer, std::size_t n, std::size_t& written);
  bool WriteBytes(const void* buffer, std::size_t n);
  // Up to four attempts; each one after a failure clears the line errors and
  // sends only the bytes not yet taken, so nothing goes out twice.
  bool WriteWithRetry(const void* buffer, std::size_t n);

  // The model token that TK_MODEL stands for ("DB4EU" unless set otherwise).
  void SetModelToken(std::string_view token);
  TokenBytes BytesOf(TokenKind kind) const;

  bool SendToken(TokenKind kind);
  // One read of five bytes that must match `kind`; blocks up to the profile's
  // read limit (5 s for the transfer profile).
  bool ExpectToken(TokenKind kind);
  // True when exactly five bytes came and they equal the kind's bytes.
  bool MatchToken(TokenKind kind, const std::uint8_t* group, std::size_t received) const;

  // One receive pass of the update profile: waits for input, then reads
  // groups of five bytes and applies `test` to each, at most as many groups
  // as the latest read delivered bytes.  On a hit the group is copied to
  // `hit` (if given).  Input already waiting is always read first.  Until a
  // stop request the wait has no limit; after one (Interrupt()) it ends
  // without a hit once the receiver has had `stopReply` to answer since the
  // last byte written to it crossed the line, which is at once when nothing
  // was written for a while: so a receiver that owes an answer (to a record
  // just sent) still gets to give it, and a silent one ends the wait.
  bool ScanForToken(const GroupTest& test, TokenBytes* hit = nullptr);

  // Any thread, async-signal-safe: a stop request, in force for the
  // ScanForToken waits (the current one included) until ClosePort().
  void Interrupt() { line_.Interrupt(); }

  // Where what crosses the line is noted (null: nowhere); it must outlive
  // the port's use.  A token is a record of its own; the bytes written (or
  // read) in a row between them, such as a packet or a record sent in small
  // writes, make one record, named by its kind ("settings header", "block
  // header", "record announce", "software header", "record", "data").
  void SetTrace(common::WireTrace* trace) { trace_ = trace; }

  // The system's text of the latest failure.
  std::string LastErrorText() const { return line_.LastErrorText(); }
  // The port's name, its device where that differs, and LastErrorText():
  // "COM3 (/dev/ttyS2): Permission denied".
  std::string FailureText(const std::string& portName) const;
  // After an open that failed for want of permission: the line that says what
  // to do (common::PermissionHint); empty after any other failure.
  std::string AccessHint(const std::string& portName, common::HintLanguage language) const;

 private:
  using Clock = std::chrono::steady_clock;

  OpenResult Open(const std::string& portName, std::uint32_t baud, const ProfileLimits& limits);
  // The wait of ScanForToken: true when input is waiting.
  bool AwaitInput();
  // Counts `n` bytes written into the time the line needs to carry them.
  void NoteSent(std::size_t n);
  // The trace: a token is noted at once, other bytes join the record of
  // their direction until a token or the other direction comes.
  void TraceBytes(common::WireDirection direction, const void* data, std::size_t n, bool token);
  void FlushTrace();

  PortTimings timings_;
  TokenBytes model_;
  common::SerialLine line_;
  std::uint32_t baud_ = 0;
  Clock::time_point lineFree_{};  // when the last byte written will have crossed the line
  bool stopping_ = false;         // a stop request has been seen by a wait
  common::WireTrace* trace_ = nullptr;
  struct PendingRecord {
    bool open = false;
    common::WireDirection direction = common::WireDirection::kSent;
    Clock::time_point at{};
    std::size_t length = 0;
    std::array<std::uint8_t, common::WireTrace::kExcerpt> first{};
  } pending_;
};

// Reads one group of up to five bytes into `group`; `received` tells how many
// came.  False on a failed read.
using GroupReader = std::function<bool(std::uint8_t* group, std::size_t& received)>;

// The group loop of ScanForToken over any reader: reads groups and applies
// `test` to each (a failed read counts as a group of no bytes), at most as
// many groups as the latest read delivered bytes, so an empty or failed read
// ends the pass.  True on a hit, copied to `hit` when given.  Blocks only as
// `read` does.
bool ScanGroups(const GroupReader& read, const GroupTest& test, TokenBytes* hit);

// The announcement test of the software update: the group is "UP2SW", or its
// text up to a zero byte contains "LODSW", "ODSW" or "DSW".
bool IsUpdateAnnouncement(const std::uint8_t* group, std::size_t received);

}  // namespace updater
