#include "emulator/token/token_receiver.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <thread>

#include <unistd.h>

#include "common/crc32.h"

namespace emulator {
namespace {

using Clock = std::chrono::steady_clock;

// The receiver keeps its own reading of the wire, apart from the tool's code,
// so that the two check each other.
constexpr std::size_t kToken = 5;
constexpr std::size_t kSettingsHeader = 14;
constexpr std::size_t kBlockHeader = 18;
constexpr std::size_t kBlock = 256;
constexpr std::size_t kWswHeader = 16;
constexpr std::size_t kAnnounceRest = 13;  // record announcement after its 0x02 mark
constexpr std::size_t kRecordOverhead = 16;  // record header and trailer around the payload
constexpr int kFinalTokens = 1001;
constexpr std::uint32_t kSettingsBase = 0x7FFB0000;
constexpr std::chrono::milliseconds kSlice{50};
// How long the receiver listens for the tool's closing word.
constexpr std::chrono::milliseconds kClosingWordWait{2000};
// How often the receiver looks whether the tool has let go of the line.
constexpr std::chrono::milliseconds kToolPoll{10};

std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
std::uint16_t Be16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }
void Put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  for (int shift = 24; shift >= 0; shift -= 8) v.push_back(static_cast<std::uint8_t>(x >> shift));
}
void Put16(std::vector<std::uint8_t>& v, std::uint16_t x) {
  v.push_back(static_cast<std::uint8_t>(x >> 8));
  v.push_back(static_cast<std::uint8_t>(x));
}
bool CrcOfTenHolds(const std::uint8_t* p) { return Be32(p + 10) == common::Crc32(p, 10); }
void AppendCrcOfTen(std::vector<std::uint8_t>& v) { Put32(v, common::Crc32(v.data() + v.size() - 10, 10)); }

}  // namespace

std::optional<ToolSettingsHeader> ParseToolSettingsHeader(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < kSettingsHeader || bytes[0] != 0x55 || bytes[1] != 0x55 || !CrcOfTenHolds(bytes.data())) {
    return std::nullopt;
  }
  return ToolSettingsHeader{Be16(&bytes[4]), Be32(&bytes[6])};
}

std::optional<ToolBlockHeader> ParseToolBlockHeader(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < kBlockHeader || bytes[0] != 0xAA || bytes[1] != 0xAA || !CrcOfTenHolds(bytes.data())) {
    return std::nullopt;
  }
  return ToolBlockHeader{Be16(&bytes[2]), Be32(&bytes[4]), Be16(&bytes[8]), Be32(&bytes[14])};
}

std::optional<std::uint32_t> ParseToolRecordAnnouncement(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < kAnnounceRest + 1 || bytes[0] != 0x02 || bytes[9] != 0 || !CrcOfTenHolds(bytes.data())) {
    return std::nullopt;
  }
  const std::uint32_t length = Be32(&bytes[1]);
  if (Be32(&bytes[5]) != ~length || length > kLargestRecordPayload) return std::nullopt;
  return length;
}

bool IsToolRecord(const std::vector<std::uint8_t>& bytes, std::uint32_t length) {
  return bytes.size() == std::size_t{length} + kRecordOverhead && bytes[0] == 0x5A && bytes[1] == 0x5A &&
         Be32(&bytes[8]) == length;
}

TokenReceiver::TokenReceiver(Line& line, TokenOptions options) : line_(line), options_(std::move(options)) {}

std::vector<std::uint8_t> TokenReceiver::SampleImage() {
  constexpr std::size_t kBlocks = 782;
  constexpr std::size_t kSize = kBlocks * kBlock;
  constexpr std::size_t kChannels = 0x100;     // where the channel list begins
  constexpr std::size_t kChannelSize = 32;     // number, frequency, symbol rate, polarisation, flags, name
  constexpr std::size_t kChannelCount = 48;
  constexpr std::uint16_t kFormat = 0x0100;    // settings format 1.0
  constexpr std::uint8_t kErased = 0xFF;       // flash that holds nothing
  std::vector<std::uint8_t> image(kSize, kErased);
  // The header, zero-filled up to the channel list, its fields written in place.
  std::fill(image.begin(), image.begin() + kChannels, 0);
  const auto put = [&image](std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      image[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - i)));
    }
  };
  const std::string model = "DB4EU";
  std::copy(model.begin(), model.end(), image.begin());
  put(8, kFormat, 2);
  put(10, static_cast<std::uint32_t>(kBlocks), 2);
  put(12, static_cast<std::uint32_t>(kSize), 4);
  const std::string name = "Q5100 settings";
  std::copy(name.begin(), name.end(), image.begin() + 16);
  put(0x20, static_cast<std::uint32_t>(kChannelCount), 2);
  for (std::size_t n = 0; n < kChannelCount; ++n) {
    const std::size_t at = kChannels + n * kChannelSize;
    put(at, static_cast<std::uint32_t>(n + 1), 2);
    put(at + 2, static_cast<std::uint32_t>(10714 + 19 * n), 2);  // MHz
    put(at + 4, n % 3 == 0 ? 22000 : 27500, 2);                  // kS/s
    image[at + 6] = n % 2 == 0 ? 'H' : 'V';
    image[at + 7] = n % 5 == 0 ? 0x01 : 0x00;  // scrambled
    char text[24] = {};
    std::snprintf(text, sizeof text, "Channel %03zu", n + 1);
    std::copy(std::begin(text), std::end(text), image.begin() + static_cast<std::ptrdiff_t>(at + 8));
  }
  // Bytes 0x24 to 0x27: CRC-32 of the channel list, as the receiver checks it.
  put(0x24, common::Crc32(image.data() + kChannels, kChannelCount * kChannelSize), 4);
  return image;
}

bool TokenReceiver::ToolCame() {
  if (!toolCame_ && line_.ToolOpens() != opensAtStart_) toolCame_ = true;
  return toolCame_;
}

bool TokenReceiver::ToolLeft() { return line_.ToolCloses() != closesAtStart_; }

bool TokenReceiver::GoesOn(TokenSession& session) {
  if (stop_.load()) {
    session.error = "stopped";
    return false;
  }
  // A tool that went away (a stopped or killed one) comes back no more.
  if (ToolLeft()) {
    session.error = "the tool closed the line";
    return false;
  }
  return true;
}

bool TokenReceiver::MayWait(std::chrono::steady_clock::time_point& start, const char* silence,
                            TokenSession& session) {
  if (!GoesOn(session)) return false;
  if (!ToolCame()) {
    start = Clock::now();
    return true;
  }
  if (options_.patience.count() >= 0 && Clock::now() - start > options_.patience) {
    session.error = silence;
    return false;
  }
  return true;
}

bool TokenReceiver::ReadExact(std::size_t n, std::vector<std::uint8_t>& out, TokenSession& session) {
  out.clear();
  auto start = Clock::now();
  while (out.size() < n) {
    // What has come is taken before anything else is looked at.
    const auto part = line_.Receive(n - out.size(), static_cast<int>(kSlice.count()));
    if (!part.empty()) {
      toolCame_ = true;
      start = Clock::now();
      out.insert(out.end(), part.begin(), part.end());
    }
    if (!line_.Pty().Ok()) {
      session.error = "line gone";
      return false;
    }
    if (out.size() < n && !MayWait(start, "the tool fell silent", session)) return false;
  }
  return true;
}

bool TokenReceiver::ReadToken(std::string& token, TokenSession& session) {
  std::vector<std::uint8_t> bytes;
  if (!ReadExact(kToken, bytes, session)) return false;
  token.assign(bytes.begin(), bytes.end());
  if (token == "2DER3") {
    session.aborted = true;
    session.error = "the tool aborted";
  }
  return true;
}

bool TokenReceiver::Send(const void* data, std::size_t n) {
  return line_.Send(static_cast<const std::uint8_t*>(data), n);
}

bool TokenReceiver::Pause(std::chrono::milliseconds delay, TokenSession& session) {
  const auto until = Clock::now() + delay;
  for (;;) {
    if (!GoesOn(session)) return false;
    if (Clock::now() >= until) return true;
    std::this_thread::sleep_for(std::min<Clock::duration>(kSlice, until - Clock::now()));
  }
}

bool TokenReceiver::Completion(TokenSession& session) {
  static const char* const kStages[] = {"2DLD3", "2DBD3", "2DVD3"};
  for (int stage = 0; stage < 3; ++stage) {
    if (!Pause(options_.stageDelays[stage], session)) return false;
    if (options_.beforeStage) options_.beforeStage(stage);
    if (!Send(kStages[stage])) {
      session.error = "line gone";
      return false;
    }
  }
  return true;
}

TokenSession TokenReceiver::RunSession() {
  TokenSession session;
  opensAtStart_ = line_.ToolOpens();
  closesAtStart_ = line_.ToolCloses();
  toolCame_ = false;
  if (options_.fault == TokenFault::kSilent) {
    // Hears everything, answers nothing, until stopped or out of patience.
    std::vector<std::uint8_t> ignored;
    while (ReadExact(1, ignored, session)) {
    }
    return session;
  }
  switch (options_.role) {
    case TokenRole::kAcceptSettings: AcceptSettings(session); break;
    case TokenRole::kServeSettings: ServeSettings(session); break;
    case TokenRole::kAcceptSoftware: AcceptSoftware(session); break;
  }
  return session;
}

void TokenReceiver::AcceptSettings(TokenSession& session) {
  std::vector<std::uint8_t> bytes;
  std::string token;
  // Speaks first; the token waits in the line until the tool reads it.
  if (!Send(options_.fault == TokenFault::kWrongModel ? std::string("XB9ZZ") : options_.modelToken)) return;
  if (!ReadToken(token, session) || token != "2ACK3") {
    if (session.error.empty()) session.error = "no acknowledgement of the model token";
    return;
  }
  Send("2NXT3");
  if (!ReadExact(kSettingsHeader, bytes, session)) return;
  const auto header = ParseToolSettingsHeader(bytes);
  if (!header) {
    session.error = "bad settings header";
    return;
  }
  if (options_.fault == TokenFault::kNoHeaderAck) {
    session.error = "header left unacknowledged";
    return;
  }
  session.headerBlockCount = header->blockCount;
  session.headerImageSize = header->imageSize;
  Send("2ACK3");
  if (!ReadToken(token, session) || token != "2NXT3") return;
  for (std::uint32_t i = 0; i < session.headerBlockCount; ++i) {
    // A block header, or the tool's abort in its place.
    if (!ReadExact(2, bytes, session)) return;
    if (bytes[0] != 0xAA || bytes[1] != 0xAA) {
      std::vector<std::uint8_t> rest;
      if (!ReadExact(kToken - 2, rest, session)) return;
      bytes.insert(bytes.end(), rest.begin(), rest.end());
      session.aborted = std::string(bytes.begin(), bytes.end()) == "2DER3";
      session.error = session.aborted ? "the tool aborted" : "bad block header";
      return;
    }
    std::vector<std::uint8_t> rest;
    if (!ReadExact(kBlockHeader - 2, rest, session)) return;
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    const auto block = ParseToolBlockHeader(bytes);
    if (!block || block->index != i) {
      session.error = "bad block header";
      return;
    }
    const std::uint16_t length = block->length;
    const std::uint32_t dataCrc = block->dataCrc;
    session.blockAddresses.push_back(block->address);
    if (length > kBlock) {
      session.error = "block too long";
      return;
    }
    Send("2ACK3");
    if (!ReadExact(length, bytes, session)) return;
    if (common::Crc32(bytes.data(), bytes.size()) != dataCrc) {
      // The receiver keeps quiet about a damaged block.
      session.error = "bad block CRC";
      return;
    }
    session.received.insert(session.received.end(), bytes.begin(), bytes.end());
    if (options_.onItem) options_.onItem(static_cast<int>(i));
    Send("2ACK3");
  }
  session.completed = Completion(session);
}

void TokenReceiver::ServeSettings(TokenSession& session) {
  std::string token;
  for (;;) {
    if (!ReadToken(token, session)) return;
    if (token == options_.modelToken) break;
  }
  Send("2ACK3");
  if (!ReadToken(token, session) || token != "2NXT3") return;

  const std::vector<std::uint8_t>& image = options_.image;
  if (image.size() > kLargestServedImage) {
    session.error = "image too large for the header's block count";
    return;
  }
  const std::size_t blocks = (image.size() + kBlock - 1) / kBlock;
  std::vector<std::uint8_t> header = {0x55, 0x55, 0x01, 0x0A};
  Put16(header, static_cast<std::uint16_t>(blocks));
  Put32(header, static_cast<std::uint32_t>(image.size() + (options_.fault == TokenFault::kShortImage ? kBlock : 0)));
  AppendCrcOfTen(header);
  Send(header.data(), header.size());
  if (!ReadToken(token, session) || token != "2ACK3") return;
  Send("2NXT3");

  for (std::size_t a = 0; a < blocks; ++a) {
    const std::size_t offset = a * kBlock;
    const std::size_t length = std::min(kBlock, image.size() - offset);
    if (options_.onItem) options_.onItem(static_cast<int>(a));
    const bool faulty = static_cast<int>(a) == options_.faultBlock;
    std::uint32_t crc = common::Crc32(image.data() + offset, length);
    if (faulty && options_.fault == TokenFault::kBadCrc) crc ^= 0x00000001;
    std::vector<std::uint8_t> blockHeader = {0xAA, 0xAA};
    Put16(blockHeader, static_cast<std::uint16_t>(a));
    Put32(blockHeader, kSettingsBase + static_cast<std::uint32_t>(offset));
    Put16(blockHeader, faulty && options_.fault == TokenFault::kOversizedBlock ? kBlock + 1 : length);
    AppendCrcOfTen(blockHeader);
    Put32(blockHeader, crc);
    Send(blockHeader.data(), blockHeader.size());
    if (!ReadToken(token, session) || token != "2ACK3") return;
    if (Send(image.data() + offset, length)) session.sent += length;
    if (!ReadToken(token, session) || token != "2ACK3") return;
  }
  for (const char* expected : {"2DLD3", "2DBD3"}) {
    if (!ReadToken(token, session)) return;
    if (token != expected) {
      if (session.error.empty()) session.error = "unexpected token " + token;
      return;
    }
  }
  std::vector<std::uint8_t> finals;
  if (!ReadExact(kToken * kFinalTokens, finals, session)) return;
  for (std::size_t i = 0; i < finals.size(); i += kToken) {
    if (std::string(finals.begin() + static_cast<long>(i), finals.begin() + static_cast<long>(i + kToken)) == "2DVD3") {
      ++session.finalTokens;
    }
  }
  session.completed = session.finalTokens == kFinalTokens;
  if (!session.completed) session.error = "damaged final tokens";
}

bool TokenReceiver::Announce(TokenSession& session) {
  // A full line (nobody reading) skips an announcement instead of blocking:
  // the tool discards what waits when it opens.
  auto start = Clock::now();
  for (;;) {
    if (!MayWait(start, "no tool answered the announcement", session)) return false;
    const std::string& text = options_.announcement;
    [[maybe_unused]] const auto ignored = ::write(line_.Pty().MasterFd(), text.data(), text.size());
    if (line_.Pty().WaitReadable(static_cast<int>(options_.announceInterval.count()))) {
      toolCame_ = true;
      return true;
    }
  }
}

bool TokenReceiver::ReleaseLine(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (ToolCame() && !ToolLeft()) {
    if (stop_.load() || (limit.count() >= 0 && Clock::now() >= deadline)) return false;
    std::this_thread::sleep_for(kToolPoll);
  }
  line_.ForgetTool();
  return true;
}

void TokenReceiver::AcceptSoftware(TokenSession& session) {
  std::vector<std::uint8_t> bytes;
  std::string token;
  if (!Announce(session)) return;
  if (!ReadToken(token, session) || token != "2ACK3") {
    if (session.error.empty()) session.error = "announcement answered with " + token;
    return;
  }
  Send("2NXT3");
  if (!ReadExact(kWswHeader, bytes, session)) return;
  if (options_.fault == TokenFault::kNoHeaderAck) {
    // A receiver of another model does not take the header and goes on
    // announcing itself.
    session.error = "header left unacknowledged";
    Announce(session);
    return;
  }
  session.received = bytes;
  Send("2ACK3");
  if (!ReadToken(token, session) || token != "2NXT3") return;
  for (;;) {
    if (!ReadExact(1, bytes, session)) return;
    if (bytes[0] == '2') {
      std::vector<std::uint8_t> rest;
      if (!ReadExact(kToken - 1, rest, session)) return;
      if (std::string(rest.begin(), rest.end()) != "DIS3") {
        session.error = "expected the end of data";
        return;
      }
      break;
    }
    std::vector<std::uint8_t> announce;
    if (bytes[0] != 0x02 || !ReadExact(kAnnounceRest, announce, session)) {
      if (session.error.empty()) session.error = "bad record announcement";
      return;
    }
    announce.insert(announce.begin(), bytes[0]);
    const auto announced = ParseToolRecordAnnouncement(announce);
    if (!announced) {
      session.error = "bad record announcement";
      return;
    }
    const std::uint32_t length = *announced;
    Send("2ACK3");
    if (!ReadToken(token, session) || token != "2NXT3") return;
    if (!ReadExact(length + kRecordOverhead, bytes, session)) return;
    if (!IsToolRecord(bytes, length)) {
      session.error = "bad record";
      return;
    }
    session.recordLengths.push_back(length);
    session.received.insert(session.received.end(), bytes.begin(), bytes.end());
    if (options_.onItem) options_.onItem(static_cast<int>(session.recordLengths.size() - 1));
    Send("2ACK3");
    if (!ReadToken(token, session) || token != "2NXT3") return;
  }
  Send("2ACK3");
  if (!Completion(session)) return;
  const auto saved = options_.patience;
  options_.patience = kClosingWordWait;
  session.closingWord = ReadToken(token, session) && token == "2DIS3";
  options_.patience = saved;
  session.completed = true;
  session.error.clear();
}

}  // namespace emulator
