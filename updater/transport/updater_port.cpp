#include "updater/transport/updater_port.h"

#include <algorithm>
#include <cerrno>

#include "updater/transport/packets.h"

#include "common/device_map.h"

namespace updater {

TokenBytes ToTokenBytes(std::string_view text) {
  TokenBytes bytes{};
  for (std::size_t i = 0; i < kTokenSize && i < text.size(); ++i) bytes[i] = static_cast<std::uint8_t>(text[i]);
  return bytes;
}

namespace {

constexpr std::uint32_t kUpdateBaudRate = 115200;
constexpr int kWriteAttempts = 4;
constexpr unsigned kLineBitsPerByte = 10;  // start bit, 8 data bits, stop bit

// Milliseconds until `deadline`, rounded up; 0 once it has passed.
int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  if (left <= 0) return 0;
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

std::string_view TextOf(TokenKind kind) {
  switch (kind) {
    case TokenKind::TK_ACK: return kTokenAck;
    case TokenKind::TK_NXT: return kTokenNxt;
    case TokenKind::TK_DER: return kTokenDer;
    case TokenKind::TK_DLD: return kTokenDld;
    case TokenKind::TK_DBD: return kTokenDbd;
    case TokenKind::TK_DVD: return kTokenDvd;
    case TokenKind::TK_MODEL: break;
  }
  return {};
}

}  // namespace

UpdaterPort::UpdaterPort(PortTimings timings)
    : timings_(timings), model_(ToTokenBytes(kDefaultModelToken)) {}

OpenResult UpdaterPort::Open(const std::string& portName, std::uint32_t baud, const ProfileLimits& limits) {
  if (!line_.Open(common::ResolvePortName(portName, common::kUpdaterSettings))) return OpenResult::kOpenFailed;
  if (!line_.Configure(baud)) return OpenResult::kSettingsRefused;
  baud_ = baud;
  line_.SetReadLimits(limits.read);
  line_.SetWriteLimits(limits.write);
  return OpenResult::kOk;
}

OpenResult UpdaterPort::OpenTransferPort(const std::string& portName, std::uint32_t baud) {
  // Queue sizes and the event mask stay as they are; nothing is purged.
  return Open(portName, baud, timings_.transfer);
}

OpenResult UpdaterPort::OpenUpdatePort(const std::string& portName) {
  // The driver's queues (4096 in, 4200 out) are the kernel's own buffers
  // here, and the event mask (received character, carrier change) is what
  // ScanForToken's wait for input stands for.
  if (!line_.Open(common::ResolvePortName(portName, common::kUpdaterSettings))) return OpenResult::kOpenFailed;
  line_.Purge();
  line_.SetReadLimits(timings_.update.read);
  line_.SetWriteLimits(timings_.update.write);
  if (!line_.Configure(kUpdateBaudRate)) return OpenResult::kSettingsRefused;
  baud_ = kUpdateBaudRate;
  return OpenResult::kOk;
}

void UpdaterPort::ClosePort() {
  FlushTrace();
  if (line_.IsOpen()) line_.Close();
  line_.ClearInterrupt();
  stopping_ = false;
  lineFree_ = {};
  baud_ = 0;
}

bool UpdaterPort::ReadBytes(void* buffer, std::size_t n, std::size_t& received) {
  const bool ok = line_.Read(buffer, n, received);
  if (trace_ != nullptr) TraceBytes(common::WireDirection::kReceived, buffer, received, n == kTokenSize);
  return ok;
}

namespace {

// What a run of bytes between two tokens was, by its size and first bytes.
const char* KindOf(const std::uint8_t* first, std::size_t length) {
  if (length == kSettingsHeaderSize && first[0] == kSettingsMagic && first[1] == kSettingsMagic) return "settings header";
  if (length == kBlockHeaderSize && first[0] == kBlockMagic && first[1] == kBlockMagic) return "block header";
  if (length == kRecordAnnounceSize && first[0] == kRecordAnnounceMark) return "record announce";
  if (length == kWswHeaderSize && first[0] == kWswMagic0 && first[1] == kWswMagic1) return "software header";
  if (length > kWswHeaderSize && first[0] == kRecordMagic && first[1] == kRecordMagic) return "record";
  return "data";
}

}  // namespace

void UpdaterPort::TraceBytes(common::WireDirection direction, const void* data, std::size_t n, bool token) {
  if (n == 0) return;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  const auto now = Clock::now();
  if (token) {
    FlushTrace();
    const bool text = n == kTokenSize && std::all_of(bytes, bytes + n, [](std::uint8_t b) { return b >= 0x20 && b < 0x7F; });
    trace_->Record(now, direction, text ? std::string_view(reinterpret_cast<const char*>(bytes), n) : "(token?)", n,
                   bytes, n);
    return;
  }
  if (pending_.open && pending_.direction != direction) FlushTrace();
  if (!pending_.open) {
    pending_.open = true;
    pending_.direction = direction;
    pending_.at = now;
    pending_.length = 0;
  }
  if (pending_.length < pending_.first.size()) {
    const std::size_t take = std::min(n, pending_.first.size() - pending_.length);
    std::copy(bytes, bytes + take, pending_.first.begin() + static_cast<std::ptrdiff_t>(pending_.length));
  }
  pending_.length += n;
}

void UpdaterPort::FlushTrace() {
  if (!pending_.open || trace_ == nullptr) return;
  pending_.open = false;
  const std::size_t shown = std::min(pending_.length, pending_.first.size());
  trace_->Record(pending_.at, pending_.direction, KindOf(pending_.first.data(), pending_.length), pending_.length,
                 pending_.first.data(), shown);
}

void UpdaterPort::NoteSent(std::size_t n) {
  if (n == 0 || baud_ == 0) return;
  const auto now = Clock::now();
  const auto wire = std::chrono::duration<double>(static_cast<double>(n) * kLineBitsPerByte / baud_);
  lineFree_ = std::max(now, lineFree_) + std::chrono::ceil<Clock::duration>(wire);
}

bool UpdaterPort::WriteBytes(const void* buffer, std::size_t n, std::size_t& written) {
  const bool ok = line_.Write(buffer, n, written);
  NoteSent(written);
  if (trace_ != nullptr) TraceBytes(common::WireDirection::kSent, buffer, written, n == kTokenSize);
  return ok && written == n;
}

bool UpdaterPort::WriteBytes(const void* buffer, std::size_t n) {
  std::size_t written = 0;
  return WriteBytes(buffer, n, written);
}

bool UpdaterPort::WriteWithRetry(const void* buffer, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  std::size_t done = 0;
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    std::size_t written = 0;
    if (WriteBytes(p + done, n - done, written)) return true;
    done += written;
    // What ClearCommError did: forget the error of the failed attempt.
    line_.ClearLastError();
  }
  return false;
}

void UpdaterPort::SetModelToken(std::string_view token) { model_ = ToTokenBytes(token); }

TokenBytes UpdaterPort::BytesOf(TokenKind kind) const {
  return kind == TokenKind::TK_MODEL ? model_ : ToTokenBytes(TextOf(kind));
}

bool UpdaterPort::SendToken(TokenKind kind) {
  const TokenBytes bytes = BytesOf(kind);
  return WriteBytes(bytes.data(), bytes.size());
}

bool UpdaterPort::ExpectToken(TokenKind kind) {
  TokenBytes group{};
  std::size_t received = 0;
  if (!ReadBytes(group.data(), group.size(), received)) return false;
  return MatchToken(kind, group.data(), received);
}

bool UpdaterPort::MatchToken(TokenKind kind, const std::uint8_t* group, std::size_t received) const {
  if (received < kTokenSize) return false;
  const TokenBytes expected = BytesOf(kind);
  return std::equal(expected.begin(), expected.end(), group);
}

bool UpdaterPort::AwaitInput() {
  using WaitResult = common::SerialLine::WaitResult;
  for (;;) {
    // What has come is read before a stop request is looked at: it may be
    // the very answer that completes the record in progress.
    std::size_t waiting = 0;
    if (line_.BytesWaiting(waiting) && waiting > 0) return true;
    int timeout = -1;
    if (stopping_) {
      timeout = MillisecondsUntil(lineFree_ + timings_.stopReply);
      if (timeout == 0) return false;
    }
    switch (line_.WaitForInput(timeout)) {
      case WaitResult::kInput: return true;
      case WaitResult::kInterrupted:
        // The request stays in force in stopping_ until the port closes.
        line_.ClearInterrupt();
        stopping_ = true;
        continue;
      case WaitResult::kTimedOut:
      case WaitResult::kFailed: return false;
    }
  }
}

bool UpdaterPort::ScanForToken(const GroupTest& test, TokenBytes* hit) {
  if (!AwaitInput()) return false;
  line_.ClearLastError();
  std::size_t waiting = 0;
  if (!line_.BytesWaiting(waiting) || waiting == 0) return false;
  return ScanGroups(
      [this](std::uint8_t* group, std::size_t& received) {
        if (ReadBytes(group, kTokenSize, received)) return true;
        line_.ClearLastError();
        return false;
      },
      test, hit);
}

bool ScanGroups(const GroupReader& read, const GroupTest& test, TokenBytes* hit) {
  std::size_t groups = 0;
  for (;;) {
    TokenBytes group{};
    std::size_t received = 0;
    if (!read(group.data(), received)) received = 0;
    received = std::min(received, kTokenSize);
    if (test(group.data(), received)) {
      if (hit != nullptr) *hit = group;
      return true;
    }
    ++groups;
    if (groups >= received) return false;
  }
}

std::string UpdaterPort::FailureText(const std::string& portName) const {
  const std::string device = common::ResolvePortName(portName, common::kUpdaterSettings);
  return portName + (device == portName ? "" : " (" + device + ")") + ": " + LastErrorText();
}

std::string UpdaterPort::AccessHint(const std::string& portName, common::HintLanguage language) const {
  if (line_.LastError() != EACCES) return {};
  return common::PermissionHint(common::ResolvePortName(portName, common::kUpdaterSettings), language);
}

bool IsUpdateAnnouncement(const std::uint8_t* group, std::size_t received) {
  if (received >= kTokenSize &&
      std::equal(kTokenUpdateReady.begin(), kTokenUpdateReady.end(), group)) {
    return true;
  }
  // The group as text: up to its first zero byte.
  const auto* end = std::find(group, group + std::min(received, kTokenSize), std::uint8_t{0});
  const std::string_view text(reinterpret_cast<const char*>(group), static_cast<std::size_t>(end - group));
  return std::any_of(std::begin(kAnnouncementTexts), std::end(kAnnouncementTexts),
                     [&](std::string_view needle) { return text.find(needle) != std::string_view::npos; });
}

}  // namespace updater
