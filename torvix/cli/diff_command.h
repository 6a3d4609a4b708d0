// torvix-cli diff A B [--json]: the difference of two channel lists, each a
// factory-data text or a 131072-byte database image, by identity (a
// satellite is its position and name, a transponder its satellite,
// frequency and polarization, a service its transponder and service id).
// One difference per line on standard output in a stable order
// (`service "ZDF" on 11953 H: video PID 110 -> 111`), or with --json one
// object {"added":[...],"removed":[...],"changed":[...]}.
//
// Exit codes as diff(1) has them and the table goes on: 0 the lists are the
// same, 1 they differ, 3 one is refused (the reader's message behind the
// file and line on standard error: "A:30: * Error : line 30. ..."), 10 a
// file cannot be read ("torvix-cli: A: No such file or directory").  What
// a file holds that no list can carry is left out, one line each on
// standard error.
// Caller's thread; blocks on the two files only.
#pragma once

#include <ostream>
#include <string>

#include "torvix/cli/command_line.h"

namespace torvix::cli {

inline constexpr int kExitListsDiffer = 1;

void AddDiffCommand(CLI::App& app, CommandOutcome& outcome);

// The command itself; the differences go to `out`, messages to `err`.
int DiffCommand(const std::string& pathA, const std::string& pathB, bool json, std::ostream& out, std::ostream& err);

}  // namespace torvix::cli
