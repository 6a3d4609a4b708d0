#include "torvix/cli/receiver_commands.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "common/cli/events.h"
#include "common/cli/history_command.h"
#include "common/cli/output.h"
#include "common/cli/receivers.h"
#include "common/cli/runner.h"
#include "common/exit_codes.h"
#include "common/device_map.h"
#include "common/serial_line.h"
#include "common/trace_file.h"
#include "torvix/cli/console_ui.h"
#include "torvix/database/database_image.h"
#include "torvix/database/factory_text_reader.h"
#include "torvix/database/factory_text_writer.h"
#include "torvix/ops/rom_preflight.h"

namespace torvix::cli {
namespace {

struct CommonOptions {
  std::vector<int> ports;
  std::vector<std::string> devices;
  bool json = false;
  std::string trace;
  common::cli::HistoryOptions history;
};

struct UpgradeOptions {
  int mode = 0;
  std::string rom;
  std::string accessCode;
  bool yes = false;
  std::string backup;
};

// One receiver of a command.
struct Receiver {
  PortChoice port;
  std::string device;     // the device it opens: in boxes, events and the summary
  std::string shortName;  // keeps its files apart from the others'
  bool oneOfMany = false;
  // A file this receiver writes: with its short name when it shares the run.
  std::string File(const std::string& file) const {
    return oneOfMany ? common::cli::WithShortName(file, shortName) : file;
  }
};

// A factory-data text with an image of its own, for a receiver that shares
// the run with others (the program's one image is for one receiver only).
class OwnImageText : public FactoryText {
 public:
  std::uint8_t* Image() override { return image_.Data(); }
  int Print(std::ostream& out) override { return WriteFactoryText(out, image_); }
  int Compile(std::istream& in, std::string& message) override {
    StreamByteSource raw(in);
    DosTextSource text(raw);
    FactoryTextReader reader;
    const int result = reader.Read(text, image_);
    message = reader.Message();
    return result;
  }

 private:
  DatabaseImage image_;
};

using ReceiverOperation = std::function<int(OperationContext&, ConsoleUi&, const Receiver&, FactoryText*)>;

struct Command {
  const char* name = "";
  bool upgrade = false;  // Ctrl-C asks before stopping
  ConsoleUi::Answers answers;
  ReceiverOperation operation;
};

constexpr int kLargestComNumber = 256;

// --port: n or "COMn" (any case), 1 to 256, kept as the number.
std::string ComPortOption(std::string& value) {
  const auto number = common::cli::ComNumber(value);
  if (!number || *number > kLargestComNumber) return value + ": a COM port number from 1 to 256 (or COM1 to COM256)";
  value = std::to_string(*number);
  return "";
}

// The port options of a receiver command, --json and --trace, and the exit codes for its help.
void AddPortOptions(CLI::App* sub, CommonOptions& options) {
  sub->footer(kReceiverExitCodesHelp);
  auto* port = sub->add_option("--port", options.ports,
                               "COM port n, as n or COMn: opens $COMn when set, else the device stored with the "
                               "window's Communication Setup, else /dev/ttyS(n-1) (default 1); several: one "
                               "receiver on each, all at once")
                   ->transform(CLI::Validator(ComPortOption, "N|COMn"))
                   ->expected(1)
                   ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  auto* device = sub->add_option("--device", options.devices,
                                 "Serial device path (instead of --port); several: one receiver on each, all at once")
                     ->expected(1)
                     ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  port->excludes(device);
  sub->add_flag("--json", options.json,
                "Print progress as JSON events, one object per line, on standard output (the rest on standard error)");
  sub->add_option("--trace", options.trace,
                  "Write every frame exchanged to this file (with several receivers, one file each)");
  common::cli::AddHistoryOptions(sub, options.history);
}

std::vector<Receiver> ReceiversOf(const CommonOptions& options) {
  std::vector<Receiver> receivers;
  for (const std::string& device : options.devices) {
    receivers.push_back({PortChoice{1, device}, device, common::cli::ShortName(device)});
  }
  std::vector<int> ports = options.ports;
  if (receivers.empty() && ports.empty()) ports.push_back(1);
  for (const int n : ports) {
    const std::string name = "COM" + std::to_string(n);
    receivers.push_back({PortChoice{n, ""}, common::ResolvePortName(name, common::kTorvixSettings), name});
  }
  for (Receiver& r : receivers) r.oneOfMany = receivers.size() > 1;
  return receivers;
}

// What one receiver of a command needs while it runs: its Cancel button,
// its console, and an image of its own when it shares the run.
struct ReceiverRun {
  std::atomic<bool> cancel{false};      // the Cancel button its progress sessions watch
  std::atomic<bool> unattended{false};  // set with a stop: nobody answers the stop question
  OwnImageText text;
  std::unique_ptr<ConsoleUi> ui;
};

// Runs the command on one receiver, on the runner's thread for it.
common::cli::ReceiverOutcome RunOne(const ReceiverCommandSettings& settings, const CommonOptions& options,
                                    const Command& command, Receiver receiver, ReceiverRun& run,
                                    FactoryText* factoryText, const common::OperationHistory& history) {
  ConsoleUi& ui = *run.ui;
  ui.SetDevicePath(receiver.device);
  ui.SetOperationThread(std::this_thread::get_id());
  int code = common::kExitOk;
  common::TraceFile trace;
  if (!options.trace.empty()) {
    if (trace.Open(receiver.File(options.trace), settings.programTitle + " " + command.name + " on " + receiver.device +
                                                    ": seconds of the monotonic clock, -> to the receiver, <- from it")) {
      receiver.port.trace = &trace;
    } else {
      ui.ShowCommandError(trace.Error(), "trace");
      code = common::kExitFile;
    }
  }
  if (code == common::kExitOk) {
    BlockingProgress progress(ui, settings.programName, receiver.port, settings.timings, &run.cancel);
    ProgramValues values;
    // Each run is a new program: a port that does not open at an upgrade's
    // first connect leaves no hardware number worth checking against.
    OperationContext context{values, ui, progress, settings.programName, true, history};
    code = command.operation(context, ui, receiver, factoryText);
    if (!trace.Close()) ui.ShowCommandError(trace.Error(), "trace");
  }
  ui.FinishLine();
  return {code, code == common::kExitOk ? std::string() : ui.LastError()};
}

// The upgrade's stop question, asked by the runner for Ctrl-C: on the
// console of a receiver alone (its bar waits), once for all of several.
common::cli::StopQuestion UpgradeStopQuestion(const std::string& caption,
                                              const std::vector<std::unique_ptr<ReceiverRun>>& runs, std::FILE* human) {
  ConsoleUi& first = *runs.front()->ui;
  const bool alone = runs.size() == 1;
  return {caption, kStopUpgradeQuestion,
          [&first, human, alone, caption] {
            if (alone) {
              first.BeginQuestion("[" + caption + "] " + kStopUpgradeQuestion + " [y/N] ");
            } else {
              std::fprintf(human, "[%s] %s (all receivers) [y/N] ", caption.c_str(), kStopUpgradeQuestion);
              std::fflush(human);
            }
          },
          [&first, human, alone](std::optional<bool> answer) {
            if (alone) {
              first.EndQuestion(answer.has_value());
            } else if (!answer) {
              std::fputs("\n", human);
              std::fflush(human);
            }
          },
          [](const std::string& answer) { return !answer.empty() && (answer.front() == 'y' || answer.front() == 'Y'); },
          // A console asking its own question (the access code) has the terminal.
          [&runs] {
            for (const auto& run : runs) {
              if (run->ui->Prompting()) return false;
            }
            return true;
          }};
}

// Runs the command on every receiver at once (each on its own thread) and
// waits for all.  Ctrl-C of an upgrade asks once for all of them.
int RunCommand(const ReceiverCommandSettings& settings, const CommonOptions& options, const Command& command) {
  const std::vector<Receiver> receivers = ReceiversOf(options);
  std::vector<std::string> names;
  for (const Receiver& r : receivers) names.push_back(r.port.devicePath.empty() ? r.shortName : r.device);
  if (const auto clash = common::cli::ReceiverClash(names)) {
    std::fprintf(settings.err, "%s: %s\n", settings.programTitle.c_str(), clash->c_str());
    return common::kExitUsage;
  }
  const common::cli::RunHistory history(options.history, settings.programTitle, settings.environment, settings.err);
  if (const std::string wrong = history.CheckUnits(receivers.size()); !wrong.empty()) {
    std::fprintf(settings.err, "%s: %s\n", settings.programTitle.c_str(), wrong.c_str());
    return common::kExitUsage;
  }
  const int input = settings.in != nullptr ? ::fileno(settings.in) : -1;
  common::cli::ReceiverRunner runner(
      {settings.programTitle, command.name, options.json, settings.out, settings.err, input});
  const bool alone = receivers.size() == 1;
  std::vector<std::unique_ptr<ReceiverRun>> runs;
  std::vector<common::cli::RunnerReceiver> parts;
  for (const Receiver& receiver : receivers) {
    const common::OperationHistory recording = history.For(runs.size());
    runs.push_back(std::make_unique<ReceiverRun>());
    ReceiverRun& run = *runs.back();
    ConsoleUi::Presentation presentation;
    if (!alone) {
      presentation.prefix = "[" + receiver.shortName + "] ";
      presentation.plain = true;
    }
    presentation.program = settings.programTitle;
    presentation.events = runner.Events();
    presentation.outputLost = [&runner](int error) { runner.OutputLost(error); };
    // Nobody can answer a receiver's own question among several: --yes and
    // --access-code do.
    run.ui = std::make_unique<ConsoleUi>(runner.Human(), settings.err, alone ? settings.in : nullptr, command.answers,
                                         ConsoleUi::StopFlags{&run.cancel, &run.unattended}, presentation);
    FactoryText* text = alone ? settings.factoryText : &run.text;
    parts.push_back({receiver.device,
                     [&settings, &options, &command, receiver, &run, text, recording] {
                       return RunOne(settings, options, command, receiver, run, text, recording);
                     },
                     [&run] {
                       run.unattended.store(true);
                       run.cancel.store(true);
                     }});
  }
  std::optional<common::cli::StopQuestion> question;
  if (command.upgrade) question = UpgradeStopQuestion(settings.programName, runs, runner.Human());
  return runner.Run(std::move(parts), question);
}

void ReportFileError(ConsoleUi& ui, const std::string& error) { ui.ShowCommandError(error, "file"); }

// Read User Data into `path`, as the command and an upgrade's backup run it.
int ReadInto(OperationContext& context, ConsoleUi& ui, FactoryText& text, const std::string& path,
             const char* caption) {
  std::string error;
  const OperationResult result = ReadUserData(context, text, path, error);
  if (!error.empty()) ReportFileError(ui, error);
  if (result == OperationResult::kDone) ui.ShowInfo("Factory data written to " + path, caption);
  // Refused here means the downloaded image is not valid, as print says of a file.
  return ExitCodeFor(OperationCode::ReadUserData, result);
}

}  // namespace

void AddReceiverCommands(CLI::App& app, int& exitCode, const ReceiverCommandSettings& settings) {
  {
    auto portOptions = std::make_shared<CommonOptions>();
    CLI::App* sub = app.add_subcommand("connect", "Connect to the receiver and show its hardware and software versions");
    AddPortOptions(sub, *portOptions);
    sub->callback([&exitCode, settings, portOptions] {
      Command command;
      command.name = "connect";
      command.operation = [](OperationContext& context, ConsoleUi& ui, const Receiver&, FactoryText*) {
        const ConnectReport report = Connect(context);
        ui.FinishLine();
        if (report.identified) {
          ui.ShowInfo("Hardware version: " + report.hardwareText + "\nSoftware version: " + report.softwareText +
                          "\nConnection established.",
                      "Receiver Information");
          return common::kExitOk;
        }
        // A failure and its text: on standard error.
        ui.ShowMessage("Hardware version: Unavailable.\nSoftware version: Unavailable.\nConnection failed.",
                       "Receiver Information");
        return report.result == OperationResult::kDone ? common::kExitFailed
                                                       : ExitCodeFor(OperationCode::Connect, report.result);
      };
      exitCode = RunCommand(settings, *portOptions, command);
    });
  }
  if (settings.factoryText != nullptr) {
    auto portOptions = std::make_shared<CommonOptions>();
    auto path = std::make_shared<std::string>();
    CLI::App* sub = app.add_subcommand(
        "read-user-data", "Download the receiver's database and print it as a factory-data text (TEXT is left "
                          "untouched unless the download completes; with several receivers, one TEXT each, named "
                          "with the receiver's short name)");
    sub->add_option("text", *path, "Factory-data text file to write")->required();
    AddPortOptions(sub, *portOptions);
    sub->callback([&exitCode, settings, portOptions, path] {
      Command command;
      command.name = "read-user-data";
      command.operation = [path](OperationContext& context, ConsoleUi& ui, const Receiver& receiver,
                                 FactoryText* text) {
        return ReadInto(context, ui, *text, receiver.File(*path), "Read User Data");
      };
      exitCode = RunCommand(settings, *portOptions, command);
    });

    auto writeCommon = std::make_shared<CommonOptions>();
    auto writePath = std::make_shared<std::string>();
    auto writeYes = std::make_shared<bool>(false);
    CLI::App* write = app.add_subcommand(
        "write-factory-data", "Compile a factory-data text, say what the list holds, and send it to the receiver");
    write->add_option("text", *writePath, "Factory-data text file to send")->required();
    write->add_flag("--yes", *writeYes, "Send a list without services (asked first otherwise)");
    AddPortOptions(write, *writeCommon);
    write->callback([&exitCode, settings, writeCommon, writePath, writeYes] {
      Command command;
      command.name = "write-factory-data";
      command.answers.acceptListWithoutServices = *writeYes;
      command.operation = [writePath](OperationContext& context, ConsoleUi& ui, const Receiver&, FactoryText* text) {
        std::string error;
        const OperationResult result = WriteFactoryData(context, *text, *writePath, error);
        if (!error.empty()) ReportFileError(ui, error);
        return ExitCodeFor(OperationCode::WriteFactoryData, result);
      };
      exitCode = RunCommand(settings, *writeCommon, command);
    });
  }
  {
    auto portOptions = std::make_shared<CommonOptions>();
    auto upgrade = std::make_shared<UpgradeOptions>();
    CLI::App* sub = app.add_subcommand(
        "upgrade", "Upgrade the receiver's software from a ROM image: --mode 1 keeps the channel list, 2 replaces "
                   "satellite information, 3 also the loader (access code), 4 a receiver whose software is "
                   "broken (access code, no connect or hardware check)");
    sub->add_option("--mode", upgrade->mode, "Upgrade 1 to 4")->required()->check(CLI::Range(1, 4));
    sub->add_option("rom", upgrade->rom, "ROM image file")->required();
    sub->add_option("--access-code", upgrade->accessCode, "Factory access code for modes 3 and 4");
    sub->add_flag("--yes", upgrade->yes, "Accept the whole-upgrade question of modes 1 and 2");
    if (settings.factoryText != nullptr) {
      sub->add_option("--backup", upgrade->backup,
                      "First read the receiver's database into this factory-data text; upgrade only when that "
                      "completed");
    }
    AddPortOptions(sub, *portOptions);
    sub->callback([&exitCode, settings, portOptions, upgrade] {
      Command command;
      command.name = "upgrade";
      command.upgrade = true;
      command.answers.acceptWholeUpgrade = upgrade->yes;
      if (!upgrade->accessCode.empty()) command.answers.accessCode = upgrade->accessCode;
      command.operation = [upgrade](OperationContext& context, ConsoleUi& ui, const Receiver& receiver,
                                    FactoryText* text) {
        const UpgradeOptions& u = *upgrade;
        // An image the upgrade refuses anyway, or a wrong access code, is
        // refused before the receiver is kept busy with a backup.
        const bool refusedAnyway = RefusedWithoutReceiver(PreflightRom(u.rom), u.mode, u.accessCode);
        if (!u.backup.empty() && !refusedAnyway) {
          const int backedUp = ReadInto(context, ui, *text, receiver.File(u.backup), "Backup");
          if (backedUp != common::kExitOk) {
            ui.ShowMessage("The backup did not complete: the upgrade was not started.", "Backup");
            return backedUp;
          }
        }
        std::string error;
        const OperationResult result = Upgrade(context, u.mode, u.rom, error);
        if (!error.empty()) ReportFileError(ui, error);
        return ExitCodeFor(OperationCode::Upgrade, result);
      };
      exitCode = RunCommand(settings, *portOptions, command);
    });
  }
}

}  // namespace torvix::cli
