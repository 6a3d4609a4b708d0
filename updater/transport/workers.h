// The three operations of Updater, each the whole body of one worker thread:
// from the first status line to the common end of the worker, which runs
// exactly once on every path (timers stopped, flags reset, port closed).
//
// All run on the worker thread and block for as long as the exchange takes:
// a settings transfer waits at most the profile's read limit per token, a
// software update waits for each receive event without limit unless the port
// is interrupted (UpdaterPort::Interrupt, the stop request) and for each
// completion stage until the completion timer has passed 99 ticks.
#pragma once

#include <cstdint>
#include <string>

#include "updater/transport/updater_port.h"
#include "updater/transport/worker_host.h"

namespace updater {

enum class Outcome { kSucceeded, kFailed };

// What a worker takes from the window when it starts.
struct Job {
  std::string fileName;
  std::string portName;                     // "COM1".."COM4" or a device path
  std::uint32_t baudRate = kDefaultBaudRate;  // transfer profile only
};

// Sends the settings file into the receiver (transfer profile).  The
// receiver speaks first with the model token of `port`.
Outcome SendSettings(const Job& job, UpdaterPort& port, WorkerHost& host);

// Receives the receiver's settings into the file (transfer profile).  The
// chosen file is replaced only after a complete and consistent reception;
// on every failure it stays as it was.
Outcome ReceiveSettings(const Job& job, UpdaterPort& port, WorkerHost& host);

// Updates the receiver's software from a .wsw file (update profile).
Outcome UpdateSoftware(const Job& job, UpdaterPort& port, WorkerHost& host);

}  // namespace updater
