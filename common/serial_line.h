// The serial line: one RS-232 device opened raw over POSIX termios.
//
// This is the only layer that makes system calls on a serial device; both
// programs' protocol code sees nothing but this interface.  It offers what the
// receivers' protocols were designed around:
//   - exclusive open of a device by path (a second open, by this or any other
//     process, fails with the system's text);
//   - raw 8N1 at a chosen bit rate, no flow control, DTR and RTS inactive;
//   - reads bounded by a total limit (multiplier x bytes + constant) and by an
//     interval limit between two bytes that starts with the first byte; a read
//     returns the moment the requested bytes are there;
//   - writes bounded by a total limit of the same form;
//   - purge, drain, bytes waiting, and a wait for input that another thread can
//     cut short.
//
// Driver queue sizes have no termios counterpart: the kernel's own tty buffers
// are used whatever size a caller asks for.
//
// One thread uses an open line at a time; only Interrupt() may be called from
// another thread.  Every call that can fail records errno, which
// LastError()/LastErrorText() report until ClearLastError().
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include <termios.h>

namespace common {

// Limits of one read call, in milliseconds.
//   total    = multiplier * requested bytes + constant; both 0 means no total limit.
//   interval = longest gap between two bytes once the first has come; 0 means none.
// All three 0 waits until every requested byte has arrived.
struct ReadLimits {
  std::uint32_t interval = 0;
  std::uint32_t multiplier = 0;
  std::uint32_t constant = 0;
};

// Limits of one write call: total = multiplier * bytes + constant; both 0 means no limit.
struct WriteLimits {
  std::uint32_t multiplier = 0;
  std::uint32_t constant = 0;
};

class SerialLine {
 public:
  SerialLine();
  ~SerialLine();  // closes an open line
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  // Opens the device at `path` for reading and writing, not shared.  Fails
  // (false, error recorded) when it does not exist, is no terminal, or is held
  // by another open (EBUSY).  Does not block.  Closes a line already open first.
  bool Open(const std::string& path);

  // Raw 8 data bits, no parity, one stop bit, no flow control, receiver on,
  // modem lines ignored, DTR and RTS dropped (not an error where the device has
  // no modem lines, such as a pseudo-terminal).  Rates other than the standard
  // termios ones (for example 128000) are set as a custom rate; a device that
  // refuses the rate makes this fail.  The settings found at Open() are put
  // back by Close().
  bool Configure(std::uint32_t baud);

  void SetReadLimits(const ReadLimits& limits) { readLimits_ = limits; }
  void SetWriteLimits(const WriteLimits& limits) { writeLimits_ = limits; }

  // Reads up to `n` bytes into `buffer`; `received` tells how many came.
  // Blocks until all `n` are there or a read limit runs out (true both ways),
  // false only on a system error or a hang-up of the other side (EIO).  A
  // failed read still takes the time its limits would have given a silent
  // line (it waits out the rest), so that a caller repeating reads on a dead
  // line repeats no faster than on a quiet one; without a limit it fails at
  // once.
  bool Read(void* buffer, std::size_t n, std::size_t& received);

  // Writes `n` bytes; `written` tells how many the driver took.  Blocks until
  // all are taken or the write limit runs out (true both ways); false only on
  // a system error.
  bool Write(const void* buffer, std::size_t n, std::size_t& written);

  // Discards what is queued in both directions.  A pseudo-terminal has no
  // transmit queue: what a write took is already with the other side, as it
  // would be on the wire after Drain(), so there only input is discarded.
  bool Purge();
  // Discards received bytes not yet read.
  bool PurgeInput();
  // Blocks until every byte written has left the driver.
  bool Drain();
  // Number of received bytes waiting to be read.
  bool BytesWaiting(std::size_t& count);

  enum class WaitResult { kInput, kInterrupted, kTimedOut, kFailed };
  // Waits until input is waiting, Interrupt() was called, or `timeoutMs`
  // passed (negative: no limit).  An interrupt stays pending until
  // ClearInterrupt(), so one made before the wait is not lost.
  WaitResult WaitForInput(int timeoutMs);
  // Any thread, async-signal-safe: cuts short the current or next WaitForInput
  // and PauseUntil, and the pause a read takes on a dead line.
  void Interrupt();
  void ClearInterrupt();
  // Waits until `end`, or until Interrupt() (made before or during the wait,
  // and still pending afterwards); false when interrupted.  Needs no open line.
  bool PauseUntil(std::chrono::steady_clock::time_point end);

  // Purges nothing by itself.  Lets what is still queued for output leave at
  // the current rate first (the settings put back may change the rate), then
  // restores the settings found at Open() and closes.  The drain is bounded
  // by the write limit applied to the bytes still queued; what cannot leave
  // within it (or cannot leave at all, the device being gone) is discarded.
  // Without a write limit it waits until the queue is empty, which a line
  // without flow control reaches at its bit rate.  False (error recorded) when
  // the system's close fails or nothing was open.  Every close takes this
  // path: the destructor's, and Open()'s of a line already open.
  bool Close();

  bool IsOpen() const { return fd_ >= 0; }
  // True when the open device is the slave side of a pseudo-terminal.
  bool IsPseudoTerminal() const { return isPseudoTerminal_; }
  // The current bit rate as the driver reports it, 0 when unknown.
  std::uint32_t Baud() const;

  int LastError() const { return lastError_; }
  std::string LastErrorText() const;
  void ClearLastError() { lastError_ = 0; }

 private:
  bool Fail(int error);
  // Waits until the output queue is empty or the write limit for what is
  // queued has run out; true when it emptied.
  bool DrainWithinWriteLimit();

  int fd_ = -1;
  int wakeFd_ = -1;  // eventfd behind Interrupt()
  bool savedValid_ = false;
  bool isPseudoTerminal_ = false;
  struct termios saved_ {};  // the settings found at Open(), restored by Close()
  ReadLimits readLimits_;
  WriteLimits writeLimits_;
  int lastError_ = 0;
};

// The device a port name ("COM1", ...) opens is a program's choice:
// common::ResolvePortName in common/device_map.h.

// Bit rate of the terminal behind `fd` as its driver reports it (works on the
// master side of a pseudo-terminal, where it shows the slave's rate); 0 on
// failure.
std::uint32_t TerminalBaud(int fd);

}  // namespace common
