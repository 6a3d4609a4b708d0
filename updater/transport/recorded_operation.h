// Updater's operations in the service history: each run of send settings,
// receive settings or update software, by the window or by updater-cli,
// leaves one row (common/history/history.h) with the port, the device, the
// file (a reception's once it was written, with its hash), the result, the
// command lines' exit code for it and, on a failure, what the operator was
// told last.
//
// RunRecorded runs on the worker thread and blocks as the operation does,
// plus at most the history's busy timeout at its start and at its end.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "common/operation_history.h"
#include "updater/transport/worker_host.h"
#include "updater/transport/workers.h"

namespace updater {

// The command lines' exit code (common/exit_codes.h) of an operation that
// ended with `outcome`, `failure` the last failure it reported, and
// `stopped` when a confirmed stop was pending at its end.
int ExitCodeFor(Outcome outcome, std::optional<Failure> failure, bool stopped);

// The history's name of a mode's operation: send-settings, receive-settings, update-software.
const char* HistoryOperation(Mode mode);

struct RecordedOutcome {
  Outcome outcome = Outcome::kFailed;
  int exitCode = 0;
};

// The operation itself (SendSettings, ReceiveSettings or UpdateSoftware on
// the job and port), run on the host it is given.
using OperationBody = std::function<Outcome(WorkerHost& host)>;

// Runs `body` on a host that passes every call on to `host` (same flags)
// and notes the failures, the last status line and the stop; records the
// operation of `mode` on `job` with `history` (nothing without a recorder).
// Worker thread.
RecordedOutcome RunRecorded(Mode mode, const Job& job, WorkerHost& host, const common::OperationHistory& history,
                            const OperationBody& body);

// The row of an operation that a front end refused before it started (a
// file that does not fit): result by `exitCode`, `message` as said.
// Caller's thread; blocks at most for the busy timeout, twice.
void RecordRefusal(Mode mode, const Job& job, const common::OperationHistory& history, int exitCode,
                   const std::string& message);

}  // namespace updater
