// The link jobs: each runs one exchange with the receiver on a worker thread,
// reports to its host (the progress window, a console, a test), and stops when
// asked.
//
//   ConnectThreadProc           identification record (operation 16)
//   UpgradeThreadProc           software image upload (operation 18)
//   WriteFactoryDataThreadProc  database image upload (operation 30)
//   ReadUserDataThreadProc      database image download at 19200 bit/s (operation 32)
//
// A job is started on a new thread with the LinkJob hand-over as its only
// argument, after the port has been set up and opened at 115200 bit/s, and
// with `state` at JOB_RUNNING.  It sets JOB_ENDED at every ending; until then
// the port and the buffers it was handed are its own.  It never closes the
// port for good (ReadUserDataThreadProc alone closes and reopens it at 19200).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "torvix/link/rom_image.h"
#include "torvix/serial/serial_port.h"

namespace torvix {

enum class OperationCode : std::int32_t {
  Connect = 16,
  Upgrade = 18,
  WriteFactoryData = 30,
  ReadUserData = 32,
};

// Written by the host (running, stop requested) and by the job (ended); the
// only value both threads write.
using JobState = std::atomic<std::int32_t>;
inline constexpr std::int32_t JOB_RUNNING = 0;
inline constexpr std::int32_t JOB_STOP_REQUESTED = 1;
inline constexpr std::int32_t JOB_ENDED = 2;

// The job's outcome, handed to PostJobResult: 1 for success, 0 for failure.
inline constexpr std::int32_t JOB_RESULT_SUCCESS = 1;
inline constexpr std::int32_t JOB_RESULT_FAILURE = 0;

inline constexpr std::size_t kReceiverInfoSize = 96;        // ReceiverInfoRecord
inline constexpr std::size_t kDatabaseImageSize = 131072;   // DatabaseImage

// How a job reaches its host.  The first four are sent: the job calls them on
// its worker thread and waits until the host has dealt with them (the host's
// thread must therefore never block on the job).  The last two are posted:
// they must return at once, and the host acts on them later on its own thread.
class JobHost {
 public:
  virtual ~JobHost() = default;
  virtual void SetStatusText(const std::string& text) = 0;
  // Range 0 .. maximum (the total, cut to 16 bits).
  virtual void SetProgressRange(std::uint16_t maximum) = 0;
  virtual void SetProgressPosition(int position) = 0;
  // A box with an OK button; returns when the operator dismissed it.
  virtual void ShowMessageBox(const std::string& text) = 0;
  // The outcome, JOB_RESULT_SUCCESS or JOB_RESULT_FAILURE.
  virtual void PostJobResult(std::int32_t result) = 0;
  // Asks the host to close its window (or end its session).
  virtual void PostClose() = 0;
};

// Time limits of the jobs.  The defaults are the values the link tool uses;
// tests shorten them.
struct JobLimits {
  // Pauses of the factory-data upload, which the receiver needs.
  std::chrono::milliseconds announcePause{100};
  std::chrono::milliseconds startPause{2000};
  std::chrono::milliseconds blockPause{1000};
  // Read limits ReadUserDataThreadProc sets after reopening at 19200 bit/s.
  std::int32_t operationTimeout = SerialPort::kOperationTimeout;
  std::uint32_t readInterval = SerialPort::kReadInterval;
  std::uint32_t readPerByte = SerialPort::kPerByte;
  std::uint32_t readConstant = SerialPort::kConstant;
  std::uint32_t writePerByte = SerialPort::kPerByte;
  std::uint32_t writeConstant = SerialPort::kConstant;
};

// Gives `port` the operation time-out and the five driver time-outs of
// `limits`, for its next open.  Any thread that owns the port.
void ApplyPortLimits(SerialPort& port, const JobLimits& limits);

// What a job is handed.  Everything outlives the job's thread.
struct LinkJob {
  SerialPort* port = nullptr;           // open at 115200 bit/s
  JobState* state = nullptr;            // JOB_RUNNING when the job starts
  JobHost* host = nullptr;
  JobLimits limits;
  std::uint8_t* receiverInfo = nullptr;   // Connect: kReceiverInfoSize bytes, zero-filled
  std::uint8_t* databaseImage = nullptr;  // ReadUserData, WriteFactoryData: kDatabaseImageSize bytes
  ImageStream* imageFile = nullptr;       // Upgrade: positioned at offset 42
  int upgradeMode = 0;                    // Upgrade: 0, 1 or 2, selects the marker
};

// Status texts; the three blanks before "block" and "error" are part of them.
inline constexpr const char* kStatusConnecting = "Connecting...";
inline constexpr const char* kStatusDownloading = "Downloading...";
inline constexpr const char* kStatusDownloadBlock = "Downloading...   block %d/%d   error %d";
inline constexpr const char* kStatusDownloadError = "Downloading...   block %d/%d   err.count %d";
inline constexpr const char* kStatusConnectionComplete = "Connection complete...";
inline constexpr const char* kStatusUploading = "Uploading...";
inline constexpr const char* kStatusUploadBlock = "Uploading...   block %d/%d   error %d";
inline constexpr const char* kStatusUploadError = "Uploading...   block %d/%d   err.count %d";
inline constexpr const char* kStatusUploadComplete = "Uploading complete...";
inline constexpr const char* kStatusTransferComplete = "Transfer Complete...";
// Box of ReadUserDataThreadProc for an unexpected reply (the receive result fills it).
inline constexpr const char* kCommunicationErrorText = "\n Communication Eror !!!! \n Err.# = %d";

// Block sizes of the uploads.
inline constexpr std::size_t kSoftwareBlockSize = 4080;   // image bytes per data frame
inline constexpr std::size_t kSoftwareSizePrefix = 4;     // big-endian image size before the first block
inline constexpr std::size_t kFactoryBlockSize = 2048;
inline constexpr int kFactoryBlockCount = 64;
inline constexpr int kModeMarkerBlock = 497;             // acknowledged blocks before the marker's block
inline constexpr std::size_t kModeMarkerOffset = 3916;   // marker's offset in that block's payload
inline constexpr int kDownloadStartTotal = 16;           // total shown before the first download block
inline constexpr std::uint32_t kDownloadBaud = 19200;

// Total shown for a ROM image file of `fileLength` bytes: ceil((L - 10) / 4080),
// in unsigned 32-bit arithmetic.
int UpgradeTotal(std::uint64_t fileLength);

// The jobs.  Each runs on its own worker thread until it has set JOB_ENDED,
// which takes as long as the exchange: a silent receiver keeps the upload
// jobs announcing until a stop is requested.
void ConnectThreadProc(LinkJob& job);
void ReadUserDataThreadProc(LinkJob& job);
void UpgradeThreadProc(LinkJob& job);
void WriteFactoryDataThreadProc(LinkJob& job);

// The job for an operation code (null for any other code).
using JobProc = void (*)(LinkJob&);
JobProc JobForOperation(OperationCode operation);

}  // namespace torvix
