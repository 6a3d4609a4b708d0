#include "torvix/serial/serial_port.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>

#include "common/device_map.h"
#include "common/permission_hint.h"

namespace torvix {

SerialPort::SerialPort(SerialErrorNotifier* notifier) : notifier_(notifier) {}

SerialPort::~SerialPort() { Release(); }

bool SerialPort::Setup(std::int32_t portNumber, std::uint32_t outQueueSize, std::uint32_t inQueueSize) {
  portNumber_ = portNumber;
  outQueueSize_ = outQueueSize;
  inQueueSize_ = inQueueSize;
  isSetUp_ = true;
  return true;
}

void SerialPort::SetCommTimeoutValues(std::uint32_t readInterval, std::uint32_t readMultiplier,
                                      std::uint32_t readConstant, std::uint32_t writeMultiplier,
                                      std::uint32_t writeConstant) {
  readInterval_ = readInterval;
  readMultiplier_ = readMultiplier;
  readConstant_ = readConstant;
  writeMultiplier_ = writeMultiplier;
  writeConstant_ = writeConstant;
}

std::string SerialPort::DevicePath() const {
  if (!devicePath_.empty()) return devicePath_;
  std::string name = "COM";
  name += std::to_string(portNumber_);
  return common::ResolvePortName(name, common::kTorvixSettings);
}

void SerialPort::ShowError() {
  if (notifier_ != nullptr) {
    std::string text = line_.LastErrorText();
    if (line_.LastError() == EACCES) {
      text += '\n';
      text += common::PermissionHint(DevicePath());
    }
    notifier_->ShowSerialError(kSerialErrorCaption, text);
  }
  line_.ClearLastError();
}

bool SerialPort::OpenAtBaud(std::uint32_t baud) {
  if (isOpen_ || !isSetUp_) return false;
  if (!line_.Open(DevicePath())) {
    ShowError();
    return false;
  }
  if (!line_.Configure(baud)) {
    ShowError();
    line_.Close();
    return false;
  }
  line_.SetReadLimits({readInterval_, readMultiplier_, readConstant_});
  line_.SetWriteLimits({writeMultiplier_, writeConstant_});
  baud_ = baud;
  isOpen_ = true;
  return true;
}

bool SerialPort::Read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received) {
  received = 0;
  if (count == 0) return true;
  if (!isOpen_ || !isSetUp_) return false;
  line_.ClearLastError();
  const std::int32_t attempts = operationTimeout_ / 100;
  // What the attempts take in all when nothing comes.
  const auto start = std::chrono::steady_clock::now();
  const auto limit = std::chrono::milliseconds(static_cast<std::int64_t>(std::max(attempts, 0)) *
                                               (static_cast<std::int64_t>(readMultiplier_) * count + readConstant_));
  for (std::int32_t attempt = 0; attempt < attempts; ++attempt) {
    std::size_t got = 0;
    const bool ok = line_.Read(buffer + received, count - received, got);
    received += static_cast<std::uint32_t>(got);
    if (!ok) {
      ShowError();
      // On a dead line every call fails at once, and a job that takes a
      // failed read for a time-out asks again: the read still lasts as long
      // as on a silent line, so that nobody repeats faster than that; a job
      // that is stopping need not wait for it.
      line_.PauseUntil(start + limit);
      return false;
    }
    if (received == count) return true;
  }
  return false;
}

bool SerialPort::Write(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t& written) {
  written = 0;
  if (!isOpen_ || !isSetUp_) return false;
  line_.ClearLastError();
  std::size_t done = 0;
  const bool ok = line_.Write(buffer, count, done);
  written = static_cast<std::uint32_t>(done);
  if (!ok) {
    ShowError();
    return false;
  }
  // Every frame leaves as one burst: wait until the driver has sent it.
  line_.Drain();
  return true;
}

bool SerialPort::Close() {
  if (!isOpen_ || !isSetUp_) return false;
  line_.Purge();
  isOpen_ = false;
  line_.ClearLastError();
  const bool closed = line_.Close();
  if (!closed) ShowError();
  return closed;
}

void SerialPort::Release() {
  if (!isSetUp_) return;
  if (isOpen_) Close();
  isSetUp_ = false;
}

}  // namespace torvix
