// The receiver emulator's end of the serial line: a pseudo-terminal whose
// device is reachable at a chosen path through a symbolic link, with optional
// pacing at the line rate that the tool has set on its side.
//
// Without pacing, bytes cross as fast as the pty moves them; with it, every
// byte takes the ten bit times of 8N1 in either direction, so a demonstration
// shows real transfer times.
//
// The line watches the device for the tool's opens and closes (a tool that
// is killed closes too), so that the receiver can tell when the tool has let
// go of the line.
//
// One thread (the emulator's) uses a Line.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/pty.h"

namespace emulator {

class Line {
 public:
  struct Options {
    std::string linkPath;  // where the device appears; empty: only the pty's own path
    bool paced = false;    // take the line time of every byte
  };

  // Opens the pty and makes the link.  A path that another live emulator
  // serves is refused; a symbolic link left there by one that is gone is
  // replaced, a file never.  Ok() tells whether all this worked.
  explicit Line(const Options& options);
  ~Line();  // removes the link it made, if it still leads to this line
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  bool Ok() const { return error_.empty(); }
  const std::string& Error() const { return error_; }
  // The path the tool opens: the link when one was asked for.
  const std::string& DevicePath() const { return devicePath_; }
  common::PseudoTerminal& Pty() { return pty_; }

  // Bit rate the tool has set on its side (0 when unknown).
  std::uint32_t ToolBaud() const { return pty_.SlaveBaud(); }

  // Sends bytes to the tool; paced, it returns when they would have left the
  // wire.  False when the line is gone.
  bool Send(const std::uint8_t* data, std::size_t n);
  bool Send(const std::vector<std::uint8_t>& bytes) { return Send(bytes.data(), bytes.size()); }

  // Receives exactly `n` bytes within `timeoutMs` (negative: no limit); fewer
  // on time-out or when the line is gone.  Paced, it returns when the last
  // byte would have arrived on the wire.
  std::vector<std::uint8_t> Receive(std::size_t n, int timeoutMs);

  // Makes the line vanish for the tool (as if the receiver were unplugged).
  void Vanish() { pty_.CloseMaster(); }

  // Opens and closes of the device by tools seen so far.  Events that come
  // in a row may be counted once: compare with an earlier count to learn
  // whether any came since.  Do not block.
  std::uint64_t ToolOpens();
  std::uint64_t ToolCloses();
  // After a tool has closed the device: drops what it left unread and lifts
  // an exclusive hold that a killed tool could not take back, so that the
  // next tool finds the line as a real port is after a close.  Does not block.
  void ForgetTool();

 private:
  std::chrono::steady_clock::duration LineTime(std::size_t bytes) const;
  // Takes in the opens and closes the watch has seen.
  void CountToolEvents();

  common::PseudoTerminal pty_;
  Options options_;
  std::string devicePath_;
  std::string error_;
  bool madeLink_ = false;
  int pathHold_ = -1;  // a socket bound to a name made from the link's path: held while this line serves it
  int deviceFd_ = -1;  // the emulator's own descriptor of the device, for ForgetTool
  int watchFd_ = -1;   // inotify: opens and closes of the device
  std::uint64_t opens_ = 0;
  std::uint64_t closes_ = 0;
};

}  // namespace emulator
