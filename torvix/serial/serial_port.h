// TORVIX's serial port: one COM port with fixed line settings, bounded
// blocking reads and writes, and the operating system's text in an error box.
//
// Used by one thread at a time: the window thread sets it up and opens it,
// then the link job's worker is its only user (it may close and reopen it to
// change the bit rate), then the window thread destroys it.
#pragma once

#include <cstdint>
#include <string>

#include "common/serial_line.h"
#include "common/wire_trace.h"

namespace torvix {

// Caption of the box that shows a failed system call on the port.
inline constexpr const char* kSerialErrorCaption = "Serial Communication Device Error";

// Where the port's error box goes.  A device the user may not open gets a
// second line that says what to do (common::PermissionHint).  The window implements it with a modal
// box (OK button, information icon, no owner); the command line prints it;
// tests record it.  Called on the thread that used the port, which waits
// until the call returns (the user dismissed the box).
class SerialErrorNotifier {
 public:
  virtual ~SerialErrorNotifier() = default;
  virtual void ShowSerialError(const std::string& caption, const std::string& systemText) = 0;
};

class SerialPort {
 public:
  // Values the link tool uses.
  static constexpr std::uint32_t kQueueSize = 16384;         // both directions
  static constexpr std::int32_t kOperationTimeout = 2000;     // ms: 20 read attempts
  static constexpr std::uint32_t kReadInterval = 131072;      // ms, 0x20000
  static constexpr std::uint32_t kPerByte = 20;               // ms, read and write multiplier
  static constexpr std::uint32_t kConstant = 20;              // ms, read and write constant
  static constexpr std::uint32_t kDefaultBaud = 115200;

  // `notifier` may be null (errors are then only returned); it must outlive the port.
  explicit SerialPort(SerialErrorNotifier* notifier = nullptr);
  virtual ~SerialPort();  // runs Release()
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Stores the port number ("COM%d") and the queue sizes and makes the port
  // set up; the device is not touched.  Always true.  The kernel's own tty
  // buffers serve whatever queue sizes are asked for.
  bool Setup(std::int32_t portNumber, std::uint32_t outQueueSize, std::uint32_t inQueueSize);
  // Opens this device path instead of the one "COM%d" resolves to (empty: back
  // to the COM name).  For --device on the command line and for tests.
  void SetDevicePath(const std::string& path) { devicePath_ = path; }

  // Where the frame layer notes what crosses the line (null: nowhere).  The
  // port only carries it; it must outlive every read and write.
  void SetTrace(common::WireTrace* trace) { trace_ = trace; }
  common::WireTrace* Trace() const { return trace_; }

  // Read attempts are operationTimeout / 100 (integer division).
  void SetOperationTimeout(std::int32_t milliseconds) { operationTimeout_ = milliseconds; }
  // Stored for the next open: read interval, read multiplier per byte, read
  // constant, write multiplier per byte, write constant (milliseconds).
  void SetCommTimeoutValues(std::uint32_t readInterval, std::uint32_t readMultiplier,
                            std::uint32_t readConstant, std::uint32_t writeMultiplier,
                            std::uint32_t writeConstant);

  // Open at 115200 / at `baud`, 8N1, no flow control, DTR and RTS inactive.
  // False without a message when already open or not set up; false after the
  // error box when the device cannot be opened or configured.  Does not block.
  bool Open() { return OpenAtBaud(kDefaultBaud); }
  bool OpenAtBaud(std::uint32_t baud);

  // True only when exactly `count` bytes arrived.  Makes operationTimeout/100
  // attempts, each waiting up to readMultiplier x (bytes still missing) +
  // readConstant ms, so it blocks at most that long in all.  Bytes that did
  // arrive stay in `buffer`, `received` counts them.  A system error shows the
  // error box and returns false once the time all attempts would have taken
  // on a silent line has passed (a dead line fails every call at once), or
  // at once when Interrupt() is called meanwhile.
  bool Read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received);
  // Any thread: the job is stopping.  Cuts short the pause a read takes on a
  // dead line, now and for the rest of this port's life; a silent line's
  // reads keep their time limits.
  void Interrupt() { line_.Interrupt(); }

  // Writes `count` bytes within writeMultiplier x count + writeConstant ms,
  // then waits until they have left the driver.  A write that timed out
  // part-way is still true, with `written` < count.  A system error shows the
  // error box and returns false.
  bool Write(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t& written);

  // Throws away what is queued in both directions (unsent output is not
  // sent), then closes.  False when not open or not set up; otherwise the
  // result of closing (a failure shows the error box).
  bool Close();
  // Close() if open, then no longer set up.
  void Release();

  bool IsOpen() const { return isOpen_; }
  bool IsSetUp() const { return isSetUp_; }
  std::int32_t PortNumber() const { return portNumber_; }
  std::int32_t OperationTimeout() const { return operationTimeout_; }
  // The device path the next open uses.
  std::string DevicePath() const;

 private:
  void ShowError();

  std::uint32_t outQueueSize_ = 0;
  std::uint32_t inQueueSize_ = 0;
  std::int32_t portNumber_ = 0;
  std::uint32_t baud_ = kDefaultBaud;  // the line settings we apply at open
  std::int32_t operationTimeout_ = -1;
  std::uint32_t readInterval_ = 0;
  std::uint32_t readMultiplier_ = 0;
  std::uint32_t readConstant_ = 0;
  std::uint32_t writeMultiplier_ = 0;
  std::uint32_t writeConstant_ = 0;
  bool isSetUp_ = false;
  common::SerialLine line_;  // the handle
  bool isOpen_ = false;

  SerialErrorNotifier* notifier_;
  std::string devicePath_;
  common::WireTrace* trace_ = nullptr;
};

}  // namespace torvix
