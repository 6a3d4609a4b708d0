// A link receiver served on a thread of its own, for tests and benchmarks
// that run the emulator in the same process as the tool: the line is made
// and, when it works, served from construction on; destruction stops the
// serving and waits for it (at most about 50 ms when idle).
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "emulator/core/line.h"
#include "emulator/link/receiver.h"

namespace emulator {

class ServedLinkReceiver {
 public:
  ServedLinkReceiver(const Line::Options& line, LinkOptions options)
      : line_(line), receiver_(line_, std::move(options)) {
    if (line_.Ok()) thread_ = std::thread([this] { receiver_.Serve(stop_); });
  }
  ~ServedLinkReceiver() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  ServedLinkReceiver(const ServedLinkReceiver&) = delete;
  ServedLinkReceiver& operator=(const ServedLinkReceiver&) = delete;

  bool Ok() const { return line_.Ok(); }
  const std::string& Error() const { return line_.Error(); }
  const std::string& DevicePath() const { return line_.DevicePath(); }
  // The receiver's records (codes, uploads) may be read from any thread.
  LinkReceiver& Receiver() { return receiver_; }

 private:
  std::atomic<bool> stop_{false};
  Line line_;
  LinkReceiver receiver_;
  std::thread thread_;  // last: it starts once the others exist
};

}  // namespace emulator
