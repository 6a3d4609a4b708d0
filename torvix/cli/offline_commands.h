// torvix-cli's commands that need no receiver:
//   ports [--json]                    the serial devices present and where COM1.. lead
//   check-rom ROM [--mode N] [--yes]  every check an upgrade makes of a ROM image
//                                     before it needs a receiver, and what it costs on
//                                     the line; exits as `upgrade --mode N` would refuse
#pragma once

#include <cstdio>

#include <CLI/CLI.hpp>

#include "common/serial_ports.h"

namespace torvix::cli {

struct OfflineCommandSettings {
  common::DeviceRoots roots;  // where `ports` looks
  std::FILE* out = stdout;
  std::FILE* err = stderr;
};

// Registers the commands; the one that runs stores its exit code in `exitCode`.
void AddOfflineCommands(CLI::App& app, int& exitCode, const OfflineCommandSettings& settings);

}  // namespace torvix::cli
