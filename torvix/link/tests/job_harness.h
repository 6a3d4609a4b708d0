// Test bench for the link jobs: the receiver emulator (or a test playing the
// receiver by hand) on one end of a real pseudo-terminal, TORVIX's port on the
// other, and a host that records what a job reports.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/testing/test_support.h"
#include "emulator/core/line.h"
#include "emulator/link/receiver.h"
#include "torvix/link/link_frame.h"
#include "torvix/link/link_jobs.h"

namespace torvix::testing {

// Records the host messages; sent ones may run a hook on the job's thread
// (how a test presses Cancel at an exact point).
class RecordingHost : public JobHost {
 public:
  void SetStatusText(const std::string& text) override {
    std::lock_guard lock(mutex_);
    statuses.push_back(text);
  }
  void SetProgressRange(std::uint16_t maximum) override {
    std::lock_guard lock(mutex_);
    ranges.push_back(maximum);
  }
  void SetProgressPosition(int position) override {
    {
      std::lock_guard lock(mutex_);
      positions.push_back(position);
    }
    if (onPosition) onPosition(position);
  }
  void ShowMessageBox(const std::string& text) override {
    std::lock_guard lock(mutex_);
    boxes.push_back(text);
  }
  void PostJobResult(std::int32_t result) override {
    std::lock_guard lock(mutex_);
    results.push_back(result);
  }
  void PostClose() override {
    std::lock_guard lock(mutex_);
    ++closes;
  }

  std::function<void(int)> onPosition;
  // Read these after the job's thread has been joined.
  std::vector<std::string> statuses;
  std::vector<std::uint16_t> ranges;
  std::vector<int> positions;
  std::vector<std::string> boxes;
  std::vector<std::int32_t> results;
  int closes = 0;

 private:
  std::mutex mutex_;
};

// Records the port's error boxes; the hook runs on the job's thread with the
// number of boxes so far.
class RecordingNotifier : public SerialErrorNotifier {
 public:
  void ShowSerialError(const std::string&, const std::string& text) override {
    int count = 0;
    {
      std::lock_guard lock(mutex_);
      texts.push_back(text);
      count = static_cast<int>(texts.size());
    }
    if (onBox) onBox(count);
  }

  std::function<void(int)> onBox;
  std::vector<std::string> texts;  // read after the job's thread has been joined

 private:
  std::mutex mutex_;
};

// Short limits for most tests: 10 read attempts of 1 ms per byte + 20 ms
// (a 12-byte header gives up after about 0.3 s), pauses of 1 ms.
inline constexpr std::int32_t kTestOperationTimeout = 1000;
inline constexpr std::uint32_t kTestPerByte = 1;
inline constexpr std::uint32_t kTestConstant = 20;

inline JobLimits ShortLimits() {
  JobLimits limits;
  limits.announcePause = std::chrono::milliseconds(1);
  limits.startPause = std::chrono::milliseconds(1);
  limits.blockPause = std::chrono::milliseconds(1);
  limits.operationTimeout = kTestOperationTimeout;
  limits.readPerByte = kTestPerByte;
  limits.readConstant = kTestConstant;
  return limits;
}

class JobBench {
 public:
  JobBench() : line_({"", false}) {}
  explicit JobBench(bool paced) : line_({"", paced}) {}
  ~JobBench() { StopReceiver(); }

  emulator::Line& Line() { return line_; }
  common::PseudoTerminal& Pty() { return line_.Pty(); }
  emulator::LinkReceiver& Receiver() { return *receiver_; }

  // Starts the emulator's receiver on its own thread.
  void StartReceiver(emulator::LinkOptions options) {
    options.replyTimeoutMs = 5000;
    receiver_ = std::make_unique<emulator::LinkReceiver>(line_, std::move(options));
    thread_ = std::thread([this] { receiver_->Serve(stop_); });
  }
  void StopReceiver() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }

  // Opens TORVIX's port on the pty as the progress window does.
  bool OpenPort(bool realLimits = false) {
    port.Setup(1, SerialPort::kQueueSize, SerialPort::kQueueSize);
    port.SetDevicePath(line_.Pty().SlavePath());
    if (realLimits) {
      ApplyPortLimits(port, JobLimits{});
    } else {
      job.limits = ShortLimits();
      ApplyPortLimits(port, job.limits);
    }
    job.port = &port;
    job.state = &state;
    job.host = &host;
    return port.Open();
  }

  // Playing the receiver by hand on the pty.
  void SendCode(std::uint16_t code) {
    const auto frame = BuildCommandFrame(code);
    Pty().Write(frame.data(), frame.size());
  }
  // Takes the tool's next command frame (true when one came within 2 s).
  bool TakeCommand() { return Pty().Read(kCommandFrameSize, 2000).size() == kCommandFrameSize; }
  // Takes the read request, acknowledges it, and waits (3 s at most) until the
  // tool is back at 19200 bit/s; true when it is.
  bool AcceptReadRequest() {
    if (!TakeCommand()) return false;
    SendCode(CODE_ACK);
    return common::testing::WaitUntil([this] { return Pty().SlaveBaud() == kDownloadBaud; }, std::chrono::seconds(3));
  }

  // Runs `proc` on a worker thread and waits until it has ended.
  void Run(JobProc proc) {
    state.store(JOB_RUNNING);
    std::thread worker(proc, std::ref(job));
    worker.join();
  }

  RecordingNotifier notifier;
  SerialPort port{&notifier};
  JobState state{JOB_RUNNING};
  RecordingHost host;
  LinkJob job;

 private:
  emulator::Line line_;
  std::atomic<bool> stop_{false};
  std::unique_ptr<emulator::LinkReceiver> receiver_;
  std::thread thread_;
};

}  // namespace torvix::testing
