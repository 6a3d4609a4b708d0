// updater-cli: Updater's three operations from the command line.
//
//   updater-cli send FILE.wdb    [--port COMn | --device PATH]... [--baud RATE] [--force] [--json] [--trace FILE]
//   updater-cli receive FILE.wdb [--port COMn | --device PATH]... [--baud RATE] [--force] [--json] [--trace FILE]
//   updater-cli update FILE.wsw  [--port COMn | --device PATH]... [--force] [--json] [--trace FILE]
//   updater-cli check FILE [--baud RATE]
//   updater-cli ports [--json]
//   updater-cli history [--since DATE] [--until DATE] [--unit ID] [--result R] [--operation OP]
//                       [--port COMn] [--limit N] [--json | --csv] [--history PATH]
//
// send, receive and update take --history PATH, --no-history and --unit ID
// too: every operation is recorded in the service history (RT_HISTORY,
// common/cli/history_command.h), also one refused before it started.
//
// The operation runs on a worker thread exactly as behind the window; the
// console shows its status lines and progress on standard output, and
// failure reasons on standard error.  Several --port or --device options run
// it on every receiver at once (run_jobs.h).  The exit codes are the table
// shared with torvix-cli (common/exit_codes.h).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <CLI/CLI.hpp>

#include "common/build_version.h"
#include "common/cli/history_command.h"
#include "common/cli/output.h"
#include "common/cli/port_report.h"
#include "common/cli/receivers.h"
#include "common/device_map.h"
#include "common/exit_codes.h"
#include "common/replacing_file.h"
#include "common/serial_line.h"
#include "common/serial_ports.h"
#include "updater/cli/check_file.h"
#include "updater/cli/program_name.h"
#include "updater/cli/run_jobs.h"
#include "updater/transport/recorded_operation.h"
#include "updater/transport/file_checks.h"
#include "updater/transport/updater_port.h"

namespace {

using updater::Mode;

constexpr int kComPortsOffered = 4;  // COM1 to COM4, as the window offers them
constexpr const char* kProgram = updater::cli::kProgramName;

// --port: "COM1" to "COM4" (any case) or 1 to 4, kept as "COMn".
std::string ComPortOption(std::string& value) {
  const auto number = common::cli::ComNumber(value);
  if (!number || *number < 1 || *number > kComPortsOffered) return value + ": COM1 to COM4 (or 1 to 4)";
  value = "COM" + std::to_string(*number);
  return "";
}

// Why `file` does not fit `mode`, as the window's file chooser sees it; empty
// when it fits.
std::string FileProblem(Mode mode, const std::string& file) {
  const updater::FileKind kind = updater::ClassifyFileName(file);
  if (mode == Mode::MODE_UPDATE) {
    return kind == updater::FileKind::kSoftware ? "" : file + ": the name of a software file contains .wsw";
  }
  if (kind != updater::FileKind::kSettings) {
    return file + ": the name of a settings file contains .wdb or .WDB" +
           (kind == updater::FileKind::kSoftware ? " and not .wsw" : "");
  }
  if (mode == Mode::MODE_SEND && updater::HasSoftwareSignature(file)) {
    return file + ": begins with 55 AA, as a software file does";
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Updater: settings transfer and software update of a satellite receiver"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("updater-cli ") + common::kBuildVersion);
  app.footer(common::cli::kExitCodesHelp);
  std::string file;
  std::vector<std::string> ports;
  std::vector<std::string> devices;
  std::uint32_t baud = updater::kDefaultBaudRate;
  bool force = false;
  bool json = false;
  std::string trace;
  common::cli::HistoryOptions historyOptions;
  const common::cli::Environment environment = [](const char* name) -> const char* { return std::getenv(name); };
  int historyExit = common::kExitOk;

  auto addCommon = [&](CLI::App* sub, bool withBaud) {
    sub->add_option("FILE", file, "Settings (.wdb) or software (.wsw) file")->required();
    sub->footer(common::cli::kExitCodesHelp);
    auto* portOption = sub->add_option("--port", ports,
                                       "COM1 to COM4, or 1 to 4 (COMn opens $COMn when set, else the device stored "
                                       "with the window's \"Устройство…\", else /dev/ttyS(n-1); default COM1); "
                                       "several: one receiver on each, all at once")
                           ->transform(CLI::Validator(ComPortOption, "COM1..COM4"))
                           ->expected(1)
                           ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    sub->add_option("--device", devices, "Device path instead of a COM port; several: one receiver on each, all at once")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->excludes(portOption);
    if (withBaud) {
      sub->add_option("--baud", baud, "Bit rate")
          ->check(CLI::IsMember({128000u, 115200u, 19200u, 9600u}))
          ->capture_default_str();
    }
    sub->add_flag("--force", force, "Take a file whose name or first bytes do not fit the operation");
    sub->add_flag("--json", json,
                  "Print progress as JSON events, one object per line, on standard output (the rest on standard error)");
    sub->add_option("--trace", trace,
                    "Write every token and packet exchanged to this file (with several receivers, one file each)");
    common::cli::AddHistoryOptions(sub, historyOptions);
  };
  CLI::App* send = app.add_subcommand("send", "Send a settings file into the receiver");
  CLI::App* receive = app.add_subcommand(
      "receive", "Receive the receiver's settings into a file (with several receivers, one file each, named with the "
                 "receiver's short name)");
  CLI::App* update = app.add_subcommand("update", "Update the receiver's software (always 115200 bit/s)");
  addCommon(send, true);
  addCommon(receive, true);
  addCommon(update, false);
  CLI::App* check = app.add_subcommand(
      "check", "Check a .wsw or .wdb file as the operation does before it needs a receiver, and say what it holds and "
               "how long it takes; exits as the operation would refuse it");
  check->add_option("FILE", file, "Settings (.wdb) or software (.wsw) file")->required();
  check->add_option("--baud", baud, "Bit rate of a settings transfer")
      ->check(CLI::IsMember({128000u, 115200u, 19200u, 9600u}))
      ->capture_default_str();
  check->footer(common::cli::kExitCodesHelp);
  CLI::App* portsCommand = app.add_subcommand("ports", "List the serial devices present and where COM1 to COM4 lead");
  portsCommand->add_flag("--json", json, "Print the list as JSON");
  CLI::App* historyCommand = common::cli::AddHistoryCommand(app, historyExit, {kProgram, environment});
  const std::string unknown =
      common::cli::UnknownSubcommand(kProgram, std::vector<std::string>(argv + std::min(argc, 1), argv + argc),
                                     {"send", "receive", "update", "check", "ports", "history"});
  if (!unknown.empty()) {
    std::fprintf(stderr, "%s\n", unknown.c_str());
    return common::kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Help is no error; every other parse failure is a usage error.
    std::ostringstream help;
    const int code = app.exit(error, help, std::cerr);
    if (const int failed = common::cli::WriteAll(STDOUT_FILENO, help.str()); failed != 0) {
      return common::cli::ReportOutputError(stderr, kProgram, failed);
    }
    return code == 0 ? common::kExitOk : common::kExitUsage;
  }
  if (historyCommand->parsed()) return historyExit;

  if (portsCommand->parsed() || check->parsed()) {
    // Gathered and written whole, so that a standard output that cannot be
    // written is seen, with its reason.
    common::cli::GatheredOutput output;
    std::FILE* out = output.File() != nullptr ? output.File() : stdout;
    int code = common::kExitOk;
    if (portsCommand->parsed()) {
      const common::DeviceMap map(common::kUpdaterSettings);
      const common::PortListing listing = common::ListSerialPorts({}, map.Resolver());
      const std::string text = json ? common::cli::PortListingJson(listing, kComPortsOffered)
                                    : common::cli::PortListingText(listing, kComPortsOffered);
      std::fputs(text.c_str(), out);
    } else {
      code = updater::cli::CheckFile(file, baud, out, stderr);
    }
    const int delivered = output.Deliver(STDOUT_FILENO, stderr, kProgram);
    return delivered != common::kExitOk ? delivered : code;
  }

  const Mode mode = send->parsed() ? Mode::MODE_SEND : receive->parsed() ? Mode::MODE_RECEIVE : Mode::MODE_UPDATE;
  std::vector<std::string> names = devices;
  names.insert(names.end(), ports.begin(), ports.end());
  if (names.empty()) names.push_back("COM1");
  if (const auto clash = common::cli::ReceiverClash(names)) {
    std::fprintf(stderr, "updater-cli: %s\n", clash->c_str());
    return common::kExitUsage;
  }
  const common::cli::RunHistory history(historyOptions, kProgram, environment, stderr);
  if (const std::string wrong = history.CheckUnits(names.size()); !wrong.empty()) {
    std::fprintf(stderr, "%s\n", common::cli::OwnLine(kProgram, wrong).c_str());
    return common::kExitUsage;
  }
  // An operation refused before any receiver is contacted is recorded for
  // each receiver it was meant for.
  auto refuse = [&](int code, const std::string& line) {
    std::fprintf(stderr, "%s\n", common::cli::OwnLine(kProgram, line).c_str());
    for (std::size_t i = 0; i < names.size(); ++i) {
      updater::RecordRefusal(mode, {file, names[i], baud}, history.For(i), code, line);
    }
    return code;
  };
  // The window refuses such a file when it is chosen; here --force takes it
  // for the odd file that is right all the same.
  if (const std::string problem = FileProblem(mode, file); !force && !problem.empty()) {
    return refuse(common::kExitRefused, "Не тот Файл! " + problem + " (--force takes it all the same)");
  }
  // A software file that check would refuse (cut short, a record too long)
  // fails in the middle of the update: refuse it before the receiver is
  // contacted.  --force sends it all the same.
  if (mode == Mode::MODE_UPDATE && !force) {
    if (const auto refusal = updater::cli::SoftwareFileRefusal(file)) {
      const bool refused = refusal->code == common::kExitRefused;
      return refuse(refusal->code, refusal->reason + (refused ? " (--force sends it all the same)" : ""));
    }
  }

  const bool many = names.size() > 1;
  std::vector<updater::cli::Target> targets;
  for (const std::string& name : names) {
    const std::string shortName = common::cli::ShortName(name);
    updater::cli::Target target;
    // Only a reception writes a file; every receiver gets its own.
    target.job = {many && mode == Mode::MODE_RECEIVE ? common::cli::WithShortName(file, shortName) : file, name, baud};
    target.device = common::ResolvePortName(name, common::kUpdaterSettings);
    if (many) target.prefix = "[" + shortName + "] ";
    if (!trace.empty()) target.trace = many ? common::cli::WithShortName(trace, shortName) : trace;
    target.history = history.For(targets.size());
    targets.push_back(std::move(target));
  }
  // A reception's file goes into a folder that must take it: say so before
  // any receiver is contacted.
  if (mode == Mode::MODE_RECEIVE) {
    for (const updater::cli::Target& target : targets) {
      common::ReplacingFile probe;
      if (!probe.Create(target.job.fileName)) return refuse(common::kExitFile, probe.Error());
    }
  }
  updater::cli::RunSettings settings;
  settings.json = json;
  settings.input = STDIN_FILENO;
  settings.terminal = ::isatty(STDOUT_FILENO) == 1;
  return updater::cli::RunJobs(mode, targets, settings);
}
