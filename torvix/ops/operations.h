// The link tool's operations around its jobs, minus the windows: connect and
// the receiver information, the four upgrade entries with their checks, and
// the two factory-data operations.  The desktop window and the command line
// supply the questions and boxes (OperationUi) and the progress window
// (ProgressRunner).  Everything runs on the caller's (user-interface) thread;
// each operation blocks until its progress window has closed.
//
// Each operation on a receiver (Connect, Upgrade, ReadUserData,
// WriteFactoryData) leaves one row in the service history when the context
// carries a recorder (OperationContext::history): begun as the operation
// starts, finished with its result, the command lines' exit code for it
// (ExitCodeFor), and the text of the last box the operator was shown on a
// failure.  The connect an upgrade entry makes first is part of the
// upgrade's row.  Recording never changes what an operation does; it blocks
// at most for the history's busy timeout at the start and at the end.
#pragma once

#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "common/operation_history.h"
#include "torvix/ops/factory_report.h"
#include "torvix/ops/progress_session.h"

namespace torvix {

// Values that live for one run of the program and are never stored.
struct ProgramValues {
  bool connectAttempted = false;
  int hardwareNumber = 0;
  bool accessGranted = false;
  int upgradeMode = 0;
};

struct ConnectReport;

// Questions and boxes of the operations (the progress window's are in ProgressView).
class OperationUi : public ProgressView, public SerialErrorNotifier {
 public:
  // What a connect learnt, for the receiver information of the main window:
  // after every connect, also the one that Upgrade 1 to 3 make first.  The
  // command line, which prints its own report, leaves it empty.
  virtual void ShowReceiverInformation(const ConnectReport&) {}
  // A box with an OK button and the warning icon (a console, which has no
  // icons, shows it as any other box).  Caller's thread; returns when dismissed.
  virtual void ShowWarning(const std::string& text, const std::string& caption) { ShowMessage(text, caption); }
  // "Please turn on your receiver." (OK / Cancel): true for OK.
  virtual bool ConfirmReceiverOn(const std::string& text, const std::string& caption) = 0;
  // The whole-upgrade question (OK / Cancel): true for OK.
  virtual bool ConfirmWholeUpgrade(const std::string& text, const std::string& caption) = 0;
  // The password dialog: the text entered, none when cancelled.
  virtual std::optional<std::string> AskAccessCode() = 0;
  // What a compiled factory-data list holds, before it is sent.  The window
  // shows nothing: the system sends what its reader accepted.
  virtual void ShowFactoryList(const FactoryList&) {}
  // kNoServicesQuestion (OK / Cancel) before a list without services is
  // sent: true to send it.  The window asks nothing and sends it, as the
  // system does; the command line asks.
  virtual bool ConfirmListWithoutServices(const std::string& /*question*/, const std::string& /*caption*/) {
    return true;
  }
};

// Runs one modal progress window for an operation and returns how it ended.
class ProgressRunner {
 public:
  virtual ~ProgressRunner() = default;
  virtual JobOutcome Run(OperationCode operation, const OperationData& data) = 0;
  // The port the next Run opens, as the history names it (port and device);
  // none when the runner cannot tell.  Caller's thread; returns at once.
  virtual std::optional<PortChoice> NextPort() const { return std::nullopt; }
};

// The progress window as a blocking session on the caller's thread (RunSession).
class BlockingProgress : public ProgressRunner {
 public:
  BlockingProgress(OperationUi& ui, std::string programName, PortChoice port, LinkTimings timings,
                   std::atomic<bool>* cancel)
      : ui_(ui), programName_(std::move(programName)), port_(std::move(port)), timings_(timings), cancel_(cancel) {}
  JobOutcome Run(OperationCode operation, const OperationData& data) override {
    return RunSession(ui_, &ui_, programName_, operation, port_, data, timings_, cancel_);
  }
  std::optional<PortChoice> NextPort() const override { return port_; }

 private:
  OperationUi& ui_;
  std::string programName_;
  PortChoice port_;
  LinkTimings timings_;
  std::atomic<bool>* cancel_;
};

// The factory-data text and the one database image it is compiled into and
// printed from.
class FactoryText {
 public:
  virtual ~FactoryText() = default;
  // The 131072-byte database image.
  virtual std::uint8_t* Image() = 0;
  // Prints the image as text; non-zero when the image is not valid (nothing written).
  virtual int Print(std::ostream& out) = 0;
  // Compiles the text into the image; non-zero with `message` for the operator when refused.
  virtual int Compile(std::istream& in, std::string& message) = 0;
};

struct OperationContext {
  ProgramValues& values;
  OperationUi& ui;
  ProgressRunner& progress;
  std::string programName;  // caption of the operations' boxes
  // When the port does not open at the connect an upgrade entry makes first,
  // end the entry with kPortNotOpened instead of going on to the hardware
  // check.  The command line sets it: each of its runs is a new program, with
  // no earlier connect whose hardware number a check could use.
  bool portFailureEndsUpgrade = false;
  // Where the operations record themselves (no recorder: nowhere).  The
  // front end fills it in; the unit may change between operations.
  common::OperationHistory history{};
};

enum class OperationResult {
  kDone,           // the job succeeded (and its file was written)
  kFailed,         // the job failed, or the receiver never took the request
  kStopped,        // the operator stopped the job
  kDeclined,       // the operator said no to a question, or cancelled the password
  kRefused,        // wrong ROM image, wrong hardware, wrong access code, text or image refused
  kFileError,      // a file could not be opened, read or written
  kPortNotOpened,  // "Open error"
};

OperationResult ToOperationResult(JobOutcome outcome);

// The command lines' exit code (common/exit_codes.h) of `operation` ending
// with `result`; a refused Read User Data is an image that is not valid.
int ExitCodeFor(OperationCode operation, OperationResult result);

// Texts of the operations.
inline constexpr const char* kPasswordError = "password error!";
inline constexpr const char* kWrongRomImage = "\n  Wrong ROM image.     \n\n  Retry.";
inline constexpr const char* kWholeUpgradeQuestion =
    "\nSorry, the software is only provided for whole upgrade!\nif continue,channel list and satellite info will "
    "alter.\nContinue?";
inline constexpr const char* kHardwareVersionError = "hardware version error!";
inline constexpr const char* kTurnOnReceiver = "\n  Please turn on your receiver.    \n";
inline constexpr const char* kFactoryDataNotValid = "\n Factory data of the receiver is not valid. ";
inline constexpr std::size_t kVersionTextLength = 31;  // characters shown of each version text

struct ConnectReport {
  OperationResult result = OperationResult::kFailed;
  bool identified = false;  // the receiver's identification arrived
  std::string hardwareText;
  std::string softwareText;
};

// Connect: marks the connect as attempted, runs the connect job, on an
// identification sets hardwareNumber from the hardware text, and hands the
// report to OperationUi::ShowReceiverInformation.
ConnectReport Connect(OperationContext& context);

// Asks the operator for a file at the moment an entry needs it (the file
// dialog); none when the choice was cancelled.  Caller's thread.
using FileChooser = std::function<std::optional<std::string>()>;

// What an operation says of a file beside the system's boxes, for a command
// line to add after them (the window shows only its boxes): "path: reason".
// Set for kFileError (why the file could not be opened, read or written,
// the system's text) and for a refused file (kRefused): why the ROM image is
// no image to send or is for other hardware; where the factory-data reader
// stopped, in GNU form ("path:30: * Error : line 30. ...", the message's
// first line).  Empty otherwise.
//
// Upgrade 1 to 4 (`entry`, as kUpgradeEntries has them; any other number is
// refused) with the ROM image at `romPath`.  An image cut short is refused
// by every entry ("Wrong ROM image").  The entries that connect first do so
// while no connect was attempted in this run: a failed connect leaves
// hardwareNumber for the hardware check, a connect the operator stopped ends
// the entry (kStopped), and a port that did not open ends it only with
// portFailureEndsUpgrade (kPortNotOpened).  All of these run on the caller's
// thread and block while their progress window is open.
OperationResult Upgrade(OperationContext& context, int entry, const std::string& romPath, std::string& detail);
// The same, choosing the ROM image after the access code and the mode are
// settled, as the window's entries do; a cancelled choice ends the entry
// (kDeclined).
OperationResult Upgrade(OperationContext& context, int entry, const FileChooser& chooseRom, std::string& detail);

// Read User Data into `textPath`.  The text is written (through a temporary
// file renamed over the chosen one; straight into a device or pipe) only
// after a completed download; a failed or stopped download leaves the chosen
// file as it was.  After a failure the operator sees kFactoryDataNotValid;
// after a stop nothing.
OperationResult ReadUserData(OperationContext& context, FactoryText& text, const std::string& textPath,
                             std::string& detail);
// The same, choosing the text file after the operator confirmed that the
// receiver is on; a cancelled choice ends it (kDeclined) and creates no file.
OperationResult ReadUserData(OperationContext& context, FactoryText& text, const FileChooser& chooseText,
                             std::string& detail);

// Write Factory Data from `textPath`: compiles it, shows the reader's message
// when refused (nothing sent), otherwise says what the list holds
// (ShowFactoryList), asks before a list without services
// (ConfirmListWithoutServices; kDeclined when not accepted) and uploads the
// image.
OperationResult WriteFactoryData(OperationContext& context, FactoryText& text, const std::string& textPath,
                                 std::string& detail);

}  // namespace torvix
