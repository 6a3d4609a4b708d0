// A worker of the transport against the emulated receiver over a real
// pseudo-terminal: the receiver plays on its own thread, the worker runs on
// the test's thread.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/pty.h"
#include "common/testing/test_support.h"
#include "emulator/token/served_token_session.h"
#include "emulator/token/token_receiver.h"
#include "updater/transport/tests/recording_host.h"
#include "updater/transport/updater_port.h"
#include "updater/transport/workers.h"

namespace updater::testing {

using Bytes = std::vector<std::uint8_t>;
using emulator::TokenFault;
using emulator::TokenOptions;
using emulator::TokenRole;
using ::testing::ElementsAre;

// The result lines of the settings transfer.
inline const std::string kOk = ".....................................OK! ";
inline const std::string kError = ".....................................Ошибка!";

// Transfer-profile limits of `perByteMs` instead of 1000 ms, so that a silent
// receiver costs a fraction of a second; the update profile keeps its own.
inline PortTimings FastTimings(std::uint32_t perByteMs = 200) {
  PortTimings timings;
  timings.transfer.read = {perByteMs, perByteMs, 0};
  return timings;
}

inline Bytes Pattern(std::size_t size, unsigned seed = 1) {
  Bytes bytes(size);
  std::uint32_t x = seed * 2654435761u;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return bytes;
}

// The files of the transfers as the byte vectors the workers use.
inline void WriteFile(const std::string& path, const Bytes& bytes) {
  EXPECT_TRUE(common::testing::WriteFile(path, std::string(bytes.begin(), bytes.end()))) << path;
}

inline Bytes ReadFile(const std::string& path) {
  const std::string bytes = common::testing::ReadFile(path);
  return Bytes(bytes.begin(), bytes.end());
}

// A temporary folder that also lists what it holds.
class TempDir {
 public:
  std::string File(const std::string& name) const { return folder_ / name; }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_.Path())) {
      names.push_back(entry.path().filename());
    }
    return names;
  }

 private:
  common::testing::TempFolder folder_{"updater-test"};
};

class Rig {
 public:
  Rig(Mode mode, emulator::TokenOptions options, PortTimings timings = FastTimings())
      : host(mode), port(timings), served_(emulator::Line::Options{}, WithStops(std::move(options))) {}

  Job MakeJob(const std::string& file) const { return Job{file, pty.SlavePath(), kDefaultBaudRate}; }

  // A confirmed stop as the window and the command line give it: the flag,
  // then the port's interrupt.  Any thread.
  void Stop() {
    host.Flags().cancelRequested = true;
    port.Interrupt();
  }
  // The receiver's thread calls Stop() when block or record `stopAtItem`
  // has come (accepting) or is about to go out (serving); -1: never.
  std::atomic<int> stopAtItem{-1};

  // Waits for the receiver's session to end (stopping it first when asked:
  // a receiver left waiting for a tool that gave up).
  const emulator::TokenSession& Finish(bool stop = false) { return served_.Finish(stop); }

  RecordingHost host;
  UpdaterPort port;

 private:
  // A patient receiver that calls Stop() at `stopAtItem`.
  emulator::TokenOptions WithStops(emulator::TokenOptions options) {
    if (options.patience == emulator::TokenOptions{}.patience) options.patience = std::chrono::seconds(20);
    options.onItem = [this, also = std::move(options.onItem)](int item) {
      if (item == stopAtItem.load()) Stop();
      if (also) also(item);
    };
    return options;
  }

  emulator::ServedTokenSession served_;  // after the host and port its session uses

 public:
  emulator::Line& line = served_.GetLine();
  common::PseudoTerminal& pty = line.Pty();
};

}  // namespace updater::testing
