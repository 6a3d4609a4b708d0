#include "torvix/cli/receiver_commands.h"

#include <atomic>
#include <csignal>
#include <memory>

#include "torvix/cli/console_ui.h"

namespace torvix::cli {
namespace {

// Ctrl-C presses the Cancel button of the running operation.
std::atomic<bool> g_cancel{false};
static_assert(std::atomic<bool>::is_always_lock_free);
extern "C" void OnCancelSignal(int) { g_cancel.store(true); }

// Installs the Ctrl-C handler for one command and puts the old one back.
class CancelOnInterrupt {
 public:
  CancelOnInterrupt() {
    g_cancel.store(false);
    struct sigaction action {};
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &savedInt_);
    sigaction(SIGTERM, &action, &savedTerm_);
  }
  ~CancelOnInterrupt() {
    sigaction(SIGINT, &savedInt_, nullptr);
    sigaction(SIGTERM, &savedTerm_, nullptr);
  }
  CancelOnInterrupt(const CancelOnInterrupt&) = delete;
  CancelOnInterrupt& operator=(const CancelOnInterrupt&) = delete;

 private:
  struct sigaction savedInt_ {};
  struct sigaction savedTerm_ {};
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

void AddPortOptions(CLI::App* sub, CommonOptions& options) {
  auto* port = sub->add_option("--port", options.portNumber, "COM port number n: COMn, mapped as the README says")
                   ->check(CLI::Range(1, 256))
                   ->capture_default_str();
  auto* device = sub->add_option("--device", options.device, "Serial device path (instead of --port)");
  port->excludes(device);
}

// Runs one command's operation with a console and the Ctrl-C handler.
template <typename Operation>
int RunWithConsole(const ReceiverCommandSettings& settings, const CommonOptions& common,
                   ConsoleUi::Answers answers, Operation operation) {
  ConsoleUi ui(settings.out, settings.in, std::move(answers));
  CancelOnInterrupt cancel;
  PortChoice port{common.portNumber, common.device};
  BlockingProgress progress(ui, settings.programName, port, settings.timings, &g_cancel);
  ProgramValues values;
  OperationContext context{values, ui, progress, settings.programName};
  const int code = operation(context, ui);
  ui.FinishLine();
  return code;
}

void ReportFileError(ConsoleUi& ui, const std::string& error) { ui.ShowMessage(error, "file"); }

}  // namespace

int ExitCodeFor(OperationResult result) {
  switch (result) {
    case OperationResult::kDone: return kExitDone;
    case OperationResult::kFailed: return kExitFailed;
    case OperationResult::kStopped: return kExitStopped;
    case OperationResult::kDeclined: return kExitDeclined;
    case OperationResult::kRefused: return kExitRefused;
    case OperationResult::kFileError: return kExitFile;
    case OperationResult::kPortNotOpened: return kExitPortNotOpened;
  }
  return kExitFailed;
}

void AddReceiverCommands(CLI::App& app, int& exitCode, const ReceiverCommandSettings& settings) {
  {
    auto common = std::make_shared<CommonOptions>();
    CLI::App* sub = app.add_subcommand("connect", "Connect to the receiver and show its hardware and software versions");
    AddPortOptions(sub, *common);
    sub->callback([&exitCode, settings, common] {
      exitCode = RunWithConsole(settings, *common, {}, [](OperationContext& context, ConsoleUi& ui) {
        const ConnectReport report = Connect(context);
        ui.FinishLine();
        if (report.identified) {
          ui.ShowMessage("Hardware version: " + report.hardwareText + "\nSoftware version: " + report.softwareText +
                             "\nConnection established.",
                         "Receiver Information");
          return kExitDone;
        }
        ui.ShowMessage("Hardware version: Unavailable.\nSoftware version: Unavailable.\nConnection failed.",
                       "Receiver Information");
        return report.result == OperationResult::kDone ? kExitFailed : ExitCodeFor(report.result);
      });
    });
  }
  if (settings.factoryText != nullptr) {
    auto common = std::make_shared<CommonOptions>();
    auto path = std::make_shared<std::string>();
    CLI::App* sub = app.add_subcommand(
        "read-user-data", "Download the receiver's database and print it as a factory-data text (TEXT is left "
                          "untouched unless the download completes)");
    sub->add_option("text", *path, "Factory-data text file to write")->required();
    AddPortOptions(sub, *common);
    sub->callback([&exitCode, settings, common, path] {
      exitCode = RunWithConsole(settings, *common, {}, [&](OperationContext& context, ConsoleUi& ui) {
        std::string error;
        const OperationResult result = ReadUserData(context, *settings.factoryText, *path, error);
        if (result == OperationResult::kFileError) ReportFileError(ui, error);
        if (result == OperationResult::kDone) ui.ShowMessage("Factory data written to " + *path, "Read User Data");
        return ExitCodeFor(result);
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
    auto common = std::make_shared<CommonOptions>();
    auto upgrade = std::make_shared<UpgradeOptions>();
    CLI::App* sub = app.add_subcommand(
        "upgrade", "Upgrade the receiver's software from a ROM image: --mode 1 keeps the channel list, 2 replaces "
                   "satellite information, 3 also the loader (access code), 4 a receiver whose software is "
                   "broken (access code, no connect or hardware check)");
    sub->add_option("--mode", upgrade->mode, "Upgrade 1 to 4")->required()->check(CLI::Range(1, 4));
    sub->add_option("rom", upgrade->rom, "ROM image file")->required();
    sub->add_option("--access-code", upgrade->accessCode, "Factory access code for modes 3 and 4");
    sub->add_flag("--yes", upgrade->yes, "Accept the whole-upgrade question of modes 1 and 2");
    AddPortOptions(sub, *common);
    sub->callback([&exitCode, settings, common, upgrade] {
      ConsoleUi::Answers answers;
      answers.acceptWholeUpgrade = upgrade->yes;
      if (!upgrade->accessCode.empty()) answers.accessCode = upgrade->accessCode;
      exitCode = RunWithConsole(settings, *common, answers, [&](OperationContext& context, ConsoleUi& ui) {
        std::string error;
        const OperationResult result = Upgrade(context, upgrade->mode, upgrade->rom, error);
        if (result == OperationResult::kFileError) ReportFileError(ui, error);
        return ExitCodeFor(result);
      });
    });
  }
}

}  // namespace torvix::cli
