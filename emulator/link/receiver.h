// The receiver's side of TORVIX's link protocol, played on an emulator::Line:
// identification, the database download at 19200 bit/s, and the software and
// factory-data uploads, with faults on request.
//
// The receiver waits for a request from the tool, serves that one exchange to
// its end (or until the tool aborts, goes quiet, or the line vanishes), and
// waits for the next.  Everything runs on the thread that calls Serve(); only
// the observation calls (Log(), CodesReceived(), WaitForCodes(), Stored...())
// may be made from other threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/core/line.h"

namespace emulator {

// Faults the receiver shows on request.  Each is used up as it happens.
struct LinkFaults {
  int ignoreRequests = 0;     // stay silent to this many requests (identify, read, announce)
  int readyDelayMs = -1;      // >= 0: acknowledge an announce, then say ready this much later
  int damageFrame = 0;        // send data frame k (1-based, of one exchange) once with a wrong CRC
  int nakBlock = 0;           // refuse upload block k (1-based) ...
  int nakTimes = 0;           // ... this many times
  int unexpectedCode = -1;    // >= 0: answer the first request with this code
  bool nakEnd = false;        // refuse the end code of an upload
  int vanishAfterBlocks = 0;  // close the line after this many blocks of a transfer
};

struct LinkOptions {
  std::string hardwareText = "0503 TWIN-S";  // first four characters: the hardware number
  std::string softwareText = "4.00 emulator";
  int identificationFrames = 1;               // the 96-byte record split into this many frames
  std::vector<std::uint8_t> databaseImage;    // what a read sends (131072 bytes)
  // Payload per download frame, 1 to 4096.  Above 4091 the payload and its
  // CRC overflow the frame's 12-bit length field, and the tool takes such a
  // frame without checking it (see DownloadDamageShows).
  std::size_t downloadBlockSize = 4096;
  LinkFaults faults;
  int baudWaitMs = 3000;     // how long the tool may take to come back at 19200 bit/s
  int replyTimeoutMs = 10000;  // how long the tool may take to answer within an exchange
  std::string softwareOut;   // file for each received software stream (empty: kept in memory only)
  std::string factoryOut;    // file for each received factory image
  std::function<void(const std::string&)> log;  // one line per event; may be empty
};

// What the receiver makes of one frame from the tool.
struct ToolFrame {
  int code = -1;     // -1: no frame (time-out, bad marker, line gone, body cut short)
  bool badMarker = false;
  bool damaged = false;
  std::vector<std::uint8_t> payload;
};

// Parses a frame from its header (12 bytes expected; fewer give no frame);
// a data frame's body, as many bytes as its 12-bit length field says, comes
// from `receiveBody(n)`, which delivers at most n bytes.  Any bytes are safe.
ToolFrame ParseToolFrame(const std::vector<std::uint8_t>& header,
                         const std::function<std::vector<std::uint8_t>(std::size_t)>& receiveBody);

class LinkReceiver {
 public:
  LinkReceiver(Line& line, LinkOptions options);

  // Serves exchanges until `stop` is set or the line has vanished.  Notices
  // `stop` within about 50 ms when idle, and at its next wait in an exchange.
  void Serve(const std::atomic<bool>& stop);

  // Codes of every frame the tool sent (48 for data frames), in order.
  std::vector<int> CodesReceived() const;
  // Waits up to `timeoutMs` until `code` has arrived `count` times in all.
  bool WaitForCodes(int code, int count, int timeoutMs) const;
  // The last complete uploads: the software stream as it came (size prefix
  // included) and the factory image.
  std::vector<std::uint8_t> StoredSoftware() const;
  std::vector<std::uint8_t> StoredFactoryData() const;
  // Number of uploads the receiver acknowledged to the end.
  int CompletedUploads() const;

 private:
  using Frame = ToolFrame;

  // Waits up to `timeoutMs` for a frame to begin (false also on stop or a
  // vanished line), in short slices so that a stop is noticed.
  bool AwaitInput(int timeoutMs);
  Frame ReadFrame(int timeoutMs);
  bool SendCode(int code);
  bool SendDataFrame(const std::uint8_t* payload, std::size_t n, bool damage);
  // Sends data frames and waits for each ACK (a NAK sends it again); false
  // when the tool stopped, went quiet or the line vanished.
  bool SendBlocks(const std::vector<std::uint8_t>& data, std::size_t blockSize);
  // Answers a request as a fault asks; true when the request is thereby served.
  bool RequestTakenByFault();

  void ServeIdentify();
  void ServeRead();
  void ServeUpload(int announceCode);
  void Store(int announceCode, std::vector<std::uint8_t> data);
  void Log(const std::string& text);
  bool Stopping() const { return stop_ != nullptr && stop_->load(); }

  Line& line_;
  LinkOptions options_;
  const std::atomic<bool>* stop_ = nullptr;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<int> codes_;
  std::vector<std::uint8_t> software_;
  std::vector<std::uint8_t> factory_;
  int completedUploads_ = 0;
};

// Sizes of the things the receiver exchanges.
inline constexpr std::size_t kIdentificationSize = 96;  // record: id, hardware text, software text
inline constexpr std::size_t kIdentificationTextOffset = 32;
inline constexpr std::size_t kIdentificationFieldSize = 32;
inline constexpr std::size_t kDatabaseSize = 131072;
inline constexpr std::uint32_t kDownloadBaud = 19200;

// A data frame as this receiver sends it, with a wrong CRC when `damaged`.
std::vector<std::uint8_t> ReceiverDataFrame(const std::uint8_t* payload, std::size_t n, bool damaged);

// Whether the tool notices a damaged download frame of `blockSize` payload
// bytes: only up to the largest payload whose CRC the length field covers.
bool DownloadDamageShows(std::size_t blockSize);

// The 96-byte identification record for these texts (each cut to 31 characters).
std::vector<std::uint8_t> IdentificationRecord(const std::string& hardwareText, const std::string& softwareText);

}  // namespace emulator
