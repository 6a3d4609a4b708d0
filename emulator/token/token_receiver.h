// The receiver's side of Updater's token protocol, played over the emulator's
// line (the master end of a pseudo-terminal, paced or not): takes a settings image, serves one, or takes a
// software update, with the faults a real receiver can show on request.
//
// One thread runs sessions (RunSession blocks until the session ends); any
// thread may call Stop().  A session waits for its tool as long as it takes;
// once the tool has come (opened the line or sent a byte), every wait for it
// is bounded by `patience`, and the session ends when the tool closes the
// line.  Stop() cuts every wait short.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "emulator/core/line.h"

namespace emulator {

enum class TokenRole {
  kAcceptSettings,  // the tool sends settings: the receiver speaks first with its model token
  kServeSettings,   // the tool receives settings: the receiver serves its image
  kAcceptSoftware,  // the tool updates the software: the receiver announces itself
};

enum class TokenFault {
  kNone,
  kSilent,          // says nothing at all
  kWrongModel,      // speaks first with another model's token
  kBadCrc,          // serves block `faultBlock` with a wrong data CRC
  kOversizedBlock,  // serves block `faultBlock` with a header announcing 257 bytes
  kShortImage,      // serves a header announcing 256 bytes more than the blocks carry
  kNoHeaderAck,     // never acknowledges the settings or software header
};

// The largest settings image a receiver can serve: the header counts its
// 256-byte blocks in 16 bits.
inline constexpr std::size_t kLargestServedImage = 0xFFFF * 256;

struct TokenOptions {
  TokenRole role = TokenRole::kAcceptSettings;
  std::string modelToken = "DB4EU";
  // Five bytes the receiver announces a software update with (may hold a zero byte).
  std::string announcement = "UP2SW";
  std::chrono::milliseconds announceInterval{100};
  // The image served to a tool that receives settings (kLargestServedImage at most).
  std::vector<std::uint8_t> image;
  TokenFault fault = TokenFault::kNone;
  int faultBlock = 1;
  // Pause before each of the three completion tokens.
  std::array<std::chrono::milliseconds, 3> stageDelays{};
  // Called on the session's thread just before completion token `stage`
  // (0, 1, 2) goes out, after its delay.
  std::function<void(int stage)> beforeStage;
  // Called on the session's thread for block or record `item` (from 0):
  // accepting, when its data has come and before it is acknowledged;
  // serving, before the block goes out.
  std::function<void(int item)> onItem;
  // Longest wait for the next bytes of a tool that has come; negative: no limit.
  std::chrono::milliseconds patience{10000};
};

// What one session left behind.
struct TokenSession {
  bool completed = false;  // the exchange ran to its last token
  bool aborted = false;    // the tool sent "2DER3"
  std::string error;       // why the session ended early, empty when it did not
  // Accepting settings: the block data in arrival order (fill included).
  // Accepting software: the header and every record exactly as they came.
  std::vector<std::uint8_t> received;
  std::size_t sent = 0;                       // serving settings: image bytes sent in blocks
  std::vector<std::uint32_t> blockAddresses;  // accepting settings
  std::uint16_t headerBlockCount = 0;         // accepting settings
  std::uint32_t headerImageSize = 0;          // accepting settings
  std::vector<std::uint32_t> recordLengths;   // accepting software: L of each record
  int finalTokens = 0;                        // serving settings: "2DVD3" received
  bool closingWord = false;                   // accepting software: "2DIS3" after the last stage
};

// How the receiver reads the packets the tool sends.  Any bytes are safe
// input: each function looks only at the bytes it is given.
struct ToolSettingsHeader {
  std::uint16_t blockCount = 0;
  std::uint32_t imageSize = 0;
};
// 14 bytes: 0x55 0x55, kind, version, block count, image size, CRC of the first ten.
std::optional<ToolSettingsHeader> ParseToolSettingsHeader(const std::vector<std::uint8_t>& bytes);
struct ToolBlockHeader {
  std::uint16_t index = 0;
  std::uint32_t address = 0;
  std::uint16_t length = 0;
  std::uint32_t dataCrc = 0;
};
// 18 bytes: 0xAA 0xAA, index, address, length, CRC of the first ten, CRC of the data.
std::optional<ToolBlockHeader> ParseToolBlockHeader(const std::vector<std::uint8_t>& bytes);
// The largest record payload a tool can send: its record buffer of 65536
// bytes less the record's header and trailer.
inline constexpr std::uint32_t kLargestRecordPayload = 65536 - 16;
// 14 bytes: 0x02, length L, its complement, 0x00, CRC of the first ten.  The
// length of a well-formed announcement, none otherwise or when L is beyond
// kLargestRecordPayload.
std::optional<std::uint32_t> ParseToolRecordAnnouncement(const std::vector<std::uint8_t>& bytes);
// Whether `bytes` (L + 16 of them) are a record of payload length L: 0x5A
// 0x5A and L in its length field.
bool IsToolRecord(const std::vector<std::uint8_t>& bytes, std::uint32_t length);

class TokenReceiver {
 public:
  TokenReceiver(Line& line, TokenOptions options);

  // Plays one session of the configured role.
  TokenSession RunSession();
  // After a session: waits until its tool has closed the line (at most
  // `limit`, negative: no limit; Stop() ends the wait), then leaves the line
  // as a real port is after a close: nothing left over for the next tool.
  // False when the tool is still there.
  bool ReleaseLine(std::chrono::milliseconds limit);
  // Any thread: ends the running or next session at its next wait.
  void Stop() { stop_.store(true); }
  bool Stopped() const { return stop_.load(); }

  // The built-in settings image, as a receiver's settings file looks: 782
  // whole blocks of 256 bytes (200192 bytes, the smallest file Updater sends
  // back), opening with a header that names the model ("DB4EU"), the format
  // and the size, then a short channel list, the rest erased flash (0xFF).
  // The same bytes every time.
  static std::vector<std::uint8_t> SampleImage();

 private:
  // False (with the reason in `session`) once stopped, once the tool has
  // closed the line, or once the patience counted from `start` has run out
  // (`silence` names that); until the tool has come, `start` moves on.
  bool MayWait(std::chrono::steady_clock::time_point& start, const char* silence, TokenSession& session);
  // Whether the session's tool has come: opened the line or sent something.
  bool ToolCame();
  // Whether a tool has closed the line during the session.
  bool ToolLeft();
  // False (with the reason in `session`) once stopped or once the tool has left.
  bool GoesOn(TokenSession& session);
  bool ReadExact(std::size_t n, std::vector<std::uint8_t>& out, TokenSession& session);
  bool ReadToken(std::string& token, TokenSession& session);
  bool Send(const void* data, std::size_t n);
  bool Send(const std::string& token) { return Send(token.data(), token.size()); }
  bool Pause(std::chrono::milliseconds delay, TokenSession& session);
  bool Completion(TokenSession& session);
  // Announces a software update every interval until the tool sends something.
  bool Announce(TokenSession& session);

  void AcceptSettings(TokenSession& session);
  void ServeSettings(TokenSession& session);
  void AcceptSoftware(TokenSession& session);

  Line& line_;
  TokenOptions options_;
  std::atomic<bool> stop_{false};
  // The tool's opens and closes when the session began, and whether it came.
  std::uint64_t opensAtStart_ = 0;
  std::uint64_t closesAtStart_ = 0;
  bool toolCame_ = false;
};

}  // namespace emulator
