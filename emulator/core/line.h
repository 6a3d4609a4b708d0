// The receiver emulator's end of the serial line: a pseudo-terminal whose
// device is reachable at a chosen path through a symbolic link, with optional
// pacing at the line rate that the tool has set on its side.
//
// Without pacing, bytes cross as fast as the pty moves them; with it, every
// byte takes the ten bit times of 8N1 in either direction, so a demonstration
// shows real transfer times.
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

  // Opens the pty and makes the link (replacing an existing symbolic link,
  // never a file).  Ok() tells whether both worked.
  explicit Line(const Options& options);
  ~Line();  // removes the link it made
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

 private:
  std::chrono::steady_clock::duration LineTime(std::size_t bytes) const;

  common::PseudoTerminal pty_;
  Options options_;
  std::string devicePath_;
  std::string error_;
  bool madeLink_ = false;
};

}  // namespace emulator
