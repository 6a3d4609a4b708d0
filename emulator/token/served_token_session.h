// One session of the token receiver served on a thread of its own, for tests
// and benchmarks that run the emulator in the same process as the tool: the
// line is made and the session started at construction; Finish() waits for
// its end, as destruction does after stopping it.
#pragma once

#include <string>
#include <thread>
#include <utility>

#include "emulator/core/line.h"
#include "emulator/token/token_receiver.h"

namespace emulator {

class ServedTokenSession {
 public:
  ServedTokenSession(const Line::Options& line, TokenOptions options)
      : line_(line), receiver_(line_, std::move(options)), thread_([this] { session_ = receiver_.RunSession(); }) {}
  ~ServedTokenSession() { Finish(/*stop=*/true); }
  ServedTokenSession(const ServedTokenSession&) = delete;
  ServedTokenSession& operator=(const ServedTokenSession&) = delete;

  Line& GetLine() { return line_; }
  const std::string& DevicePath() const { return line_.DevicePath(); }
  // Waits for the session to end (stopping it first when asked: a receiver
  // left waiting for a tool that gave up); the session's record.  The
  // thread that constructed this one.
  const TokenSession& Finish(bool stop = false) {
    if (stop) receiver_.Stop();
    if (thread_.joinable()) thread_.join();
    return session_;
  }

 private:
  Line line_;
  TokenReceiver receiver_;
  TokenSession session_;
  std::thread thread_;  // last: it starts once the others exist
};

}  // namespace emulator
