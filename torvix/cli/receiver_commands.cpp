#include "torvix/cli/receiver_commands.h"

#include <atomic>
#include <csignal>
#include <memory>

#include "common/exit_codes.h"
#include "common/device_map.h"
#include "torvix/cli/console_ui.h"

namespace torvix::cli {
namespace {

// Ctrl-C presses the Cancel button of the running operation; a termination
// (SIGTERM, or SIGHUP for a closed terminal or SSH session) presses it with
// nobody there to answer the upgrade's stop question.
std::atomic<bool> g_cancel{false};
std::atomic<bool> g_unattended{false};
static_assert(std::atomic<bool>::is_always_lock_free);
extern "C" void OnCancelSignal(int) { g_cancel.store(true); }
extern "C" void OnTerminateSignal(int) {
  g_unattended.store(true);
  g_cancel.store(true);
}

// Installs the handlers for one command and puts the old ones back.  SIGPIPE
// is ignored meanwhile: a closed standard output shows as a failed write,
// which the console turns into a stop, so that the receiver is told.
class StopOnSignals {
 public:
  StopOnSignals() {
    g_cancel.store(false);
    g_unattended.store(false);
    Install(SIGINT, OnCancelSignal, 0);
    Install(SIGTERM, OnTerminateSignal, 1);
    Install(SIGHUP, OnTerminateSignal, 2);
    Install(SIGPIPE, SIG_IGN, 3);
  }
  ~StopOnSignals() {
    for (int i = 0; i < kSignals; ++i) sigaction(signals_[i], &saved_[i], nullptr);
  }
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

 private:
  static constexpr int kSignals = 4;
  void Install(int signal, void (*handler)(int), int slot) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    signals_[slot] = signal;
    sigaction(signal, &action, &saved_[slot]);
  }
  int signals_[kSignals] = {};
  struct sigaction saved_[kSignals] {};
};

struct CommonOptions {
  int portNumber = 1;
  std::string device;
};

struct UpgradeOptions {
  int mode = 0;
  std::string rom;
  std::string accessCode;
  bool yes = false;
};

// The port options of a receiver command, and the exit codes for its help.
void AddPortOptions(CLI::App* sub, CommonOptions& options) {
  sub->footer(kReceiverExitCodesHelp);
  auto* port = sub->add_option("--port", options.portNumber, "COM port number n: COMn, mapped as the README says")
                   ->check(CLI::Range(1, 256))
                   ->capture_default_str();
  auto* device = sub->add_option("--device", options.device, "Serial device path (instead of --port)");
  port->excludes(device);
}

// Runs one command's operation with a console and the signal handlers.
template <typename Operation>
int RunWithConsole(const ReceiverCommandSettings& settings, const CommonOptions& portOptions,
                   ConsoleUi::Answers answers, Operation operation) {
  StopOnSignals signals;
  ConsoleUi ui(settings.out, settings.err, settings.in, std::move(answers), {&g_cancel, &g_unattended});
  PortChoice port{portOptions.portNumber, portOptions.device};
  ui.SetDevicePath(port.devicePath.empty()
                       ? common::ResolvePortName("COM" + std::to_string(port.portNumber), common::kTorvixSettings)
                       : port.devicePath);
  BlockingProgress progress(ui, settings.programName, port, settings.timings, &g_cancel);
  ProgramValues values;
  // Each run is a new program: a port that does not open at an upgrade's
  // first connect leaves no hardware number worth checking against.
  OperationContext context{values, ui, progress, settings.programName, true};
  const int code = operation(context, ui);
  ui.FinishLine();
  return code;
}

void ReportFileError(ConsoleUi& ui, const std::string& error) { ui.ShowMessage(error, "file"); }

}  // namespace

int ExitCodeFor(OperationResult result) {
  switch (result) {
    case OperationResult::kDone: return common::kExitOk;
    case OperationResult::kFailed: return common::kExitFailed;
    case OperationResult::kStopped: return common::kExitStopped;
    case OperationResult::kDeclined: return common::kExitDeclined;
    case OperationResult::kRefused: return common::kExitRefused;
    case OperationResult::kFileError: return common::kExitFile;
    case OperationResult::kPortNotOpened: return common::kExitPortNotOpened;
  }
  return common::kExitFailed;
}

void AddReceiverCommands(CLI::App& app, int& exitCode, const ReceiverCommandSettings& settings) {
  {
    auto portOptions = std::make_shared<CommonOptions>();
    CLI::App* sub = app.add_subcommand("connect", "Connect to the receiver and show its hardware and software versions");
    AddPortOptions(sub, *portOptions);
    sub->callback([&exitCode, settings, portOptions] {
      exitCode = RunWithConsole(settings, *portOptions, {}, [](OperationContext& context, ConsoleUi& ui) {
        const ConnectReport report = Connect(context);
        ui.FinishLine();
        if (report.identified) {
          ui.ShowInfo("Hardware version: " + report.hardwareText + "\nSoftware version: " + report.softwareText +
                          "\nConnection established.",
                      "Receiver Information");
          return common::kExitOk;
        }
        ui.ShowInfo("Hardware version: Unavailable.\nSoftware version: Unavailable.\nConnection failed.",
                    "Receiver Information");
        return report.result == OperationResult::kDone ? common::kExitFailed : ExitCodeFor(report.result);
      });
    });
  }
  if (settings.factoryText != nullptr) {
    auto portOptions = std::make_shared<CommonOptions>();
    auto path = std::make_shared<std::string>();
    CLI::App* sub = app.add_subcommand(
        "read-user-data", "Download the receiver's database and print it as a factory-data text (TEXT is left "
                          "untouched unless the download completes)");
    sub->add_option("text", *path, "Factory-data text file to write")->required();
    AddPortOptions(sub, *portOptions);
    sub->callback([&exitCode, settings, portOptions, path] {
      exitCode = RunWithConsole(settings, *portOptions, {}, [&](OperationContext& context, ConsoleUi& ui) {
        std::string error;
        const OperationResult result = ReadUserData(context, *settings.factoryText, *path, error);
        if (result == OperationResult::kFileError) ReportFileError(ui, error);
        if (result == OperationResult::kDone) ui.ShowInfo("Factory data written to " + *path, "Read User Data");
        // Refused here means the downloaded image is not valid, as print says of a file.
        return result == OperationResult::kRefused ? common::kExitInvalidImage : ExitCodeFor(result);
      });
    });

    auto writeCommon = std::make_shared<CommonOptions>();
    auto writePath = std::make_shared<std::string>();
    CLI::App* write = app.add_subcommand("write-factory-data", "Compile a factory-data text and send it to the receiver");
    write->add_option("text", *writePath, "Factory-data text file to send")->required();
    AddPortOptions(write, *writeCommon);
    write->callback([&exitCode, settings, writeCommon, writePath] {
      exitCode = RunWithConsole(settings, *writeCommon, {}, [&](OperationContext& context, ConsoleUi& ui) {
        std::string error;
        const OperationResult result = WriteFactoryData(context, *settings.factoryText, *writePath, error);
        if (result == OperationResult::kFileError) ReportFileError(ui, error);
        return ExitCodeFor(result);
      });
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
    AddPortOptions(sub, *portOptions);
    sub->callback([&exitCode, settings, portOptions, upgrade] {
      ConsoleUi::Answers answers;
      answers.acceptWholeUpgrade = upgrade->yes;
      if (!upgrade->accessCode.empty()) answers.accessCode = upgrade->accessCode;
      exitCode = RunWithConsole(settings, *portOptions, answers, [&](OperationContext& context, ConsoleUi& ui) {
        std::string error;
        const OperationResult result = Upgrade(context, upgrade->mode, upgrade->rom, error);
        if (result == OperationResult::kFileError) ReportFileError(ui, error);
        return ExitCodeFor(result);
      });
    });
  }
}

}  // namespace torvix::cli
