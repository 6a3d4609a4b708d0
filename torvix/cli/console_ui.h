// The link operations on a console: status text and a progress bar on a
// terminal (plain lines when the output is no terminal), boxes as text,
// questions answered from the command line or asked on the terminal.
//
// Standard output gets the statuses, the questions, the command's own report
// and the success messages; standard error gets every error box (the port's,
// "Open error", refusals, failures, file errors).  A port error box that
// comes again and again unchanged (a dead line) is printed once, and its
// count when something else is shown or the command ends.
//
// An output that can no longer be written (a closed pipe, a lost terminal, a
// full disk) is a stop: the cancel flag is raised, the stop question is not
// asked, and the presentation's outputLost hears why.
//
// Several receivers at once share the output: each console then puts its
// receiver's prefix before every line and draws no bar.  With --json every
// status, progress, box, question and report is also an event (common/cli/events.h).
//
// The progress calls come from the job's thread, the rest from the command's
// thread; every output is serialised by one lock.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/cli/events.h"
#include "torvix/cli/program_name.h"
#include "torvix/ops/operations.h"

namespace torvix::cli {

// How a console shows itself beside others.
struct ConsolePresentation {
  std::string program = kProgramName;  // before the failures the command line adds
  std::string prefix;  // before every line, e.g. "[ttyUSB0] "
  bool plain = false;  // a line per status even on a terminal
  common::cli::EventStream* events = nullptr;  // must outlive the console; null: no events
  // Runs once, inside a console call, with the errno of the first write to
  // `out` that failed; must return at once.  May be empty.
  std::function<void(int error)> outputLost;
};

class ConsoleUi : public OperationUi {
 public:
  struct Answers {
    bool acceptWholeUpgrade = false;         // upgrade --yes
    bool acceptListWithoutServices = false;  // write-factory-data --yes
    std::optional<std::string> accessCode;   // --access-code
  };

  // How the console ends a running operation.  Either may be null; both must
  // outlive the console.
  struct StopFlags {
    std::atomic<bool>* cancel = nullptr;      // the Cancel button the progress session polls
    std::atomic<bool>* unattended = nullptr;  // set: nobody can answer the stop question
  };

  using Presentation = ConsolePresentation;

  // `out` and `err` receive what is said above; `in` (may be null) answers
  // questions when it is a terminal.
  ConsoleUi(std::FILE* out, std::FILE* err, std::FILE* in, Answers answers, StopFlags stop,
            Presentation presentation = {});

  // The device the port opens, named with the port's error box.
  void SetDevicePath(std::string path);
  // The thread that runs the operation (and its progress sessions), as
  // opposed to the jobs' threads.  A bar position it sets before the first
  // status has been shown (the connect's start at 50, set as its job starts
  // and says "Connecting...") is shown with that status, after it: the
  // events then come in the order the operation means, not in the order two
  // threads happened to reach the console.
  void SetOperationThread(std::thread::id id);
  // A report of the command itself, on standard output.
  void ShowInfo(const std::string& text, const std::string& caption);
  // A failure the command line adds of its own (a file it cannot write, a
  // trace), on standard error as "torvix-cli: TEXT"; `text` names the file
  // and says why.  `caption` is its event's.
  void ShowCommandError(const std::string& text, const std::string& caption);

  void ShowStatus(const std::string& text) override;
  void ShowProgressRange(std::uint16_t maximum) override;
  void ShowProgressPosition(int position) override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  bool AskStopUpgrade(const std::string& question, const std::string& caption) override;
  void ShowSerialError(const std::string& caption, const std::string& systemText) override;
  bool ConfirmReceiverOn(const std::string& text, const std::string& caption) override;
  bool ConfirmWholeUpgrade(const std::string& text, const std::string& caption) override;
  std::optional<std::string> AskAccessCode() override;
  void ShowFactoryList(const FactoryList& list) override;
  bool ConfirmListWithoutServices(const std::string& question, const std::string& caption) override;

  // Ends a progress line still open on the terminal and prints the count of a
  // repeated port error.
  void FinishLine();
  // True once a write to `out` has failed.
  bool OutputFailed() const;
  // The text of the latest error box or port error shown, empty when none.
  std::string LastError() const;

  // A question of someone else's (the run's stop question) takes the
  // terminal's last line: the bar waits.  EndQuestion(false) when it was
  // dropped unanswered (its line is ended here; an answer's line feed came
  // from the terminal's echo).  Any thread.
  void BeginQuestion(const std::string& text);
  void EndQuestion(bool answered);
  // True while one of the console's own questions waits for its answer.
  bool Prompting() const;

 private:
  // A stop was asked for: nobody waits for answers or hints any more.
  bool Stopping() const { return stop_.unattended != nullptr && stop_.unattended->load(); }
  std::string PrefixedLocked(const std::string& text) const;
  void WriteOutLocked(const std::string& text);
  void WriteErrLocked(const std::string& text);
  void RenderLocked();
  void BreakLineLocked();
  void FlushRepeatsLocked();
  // Asks `question` on the terminal and waits for the answer line, without
  // holding the lock (the job's progress waits for nothing); none without a
  // terminal, at the end of input, once the output has failed, or within
  // kStopPoll of a stop (the unattended flag).
  std::optional<std::string> Ask(const std::string& question, bool hidden);
  // An OK / Cancel question: accepted by `yes` (said so), else asked on the terminal.
  bool Confirm(const std::string& text, const std::string& caption, bool yes);

  mutable std::mutex mutex_;
  std::FILE* out_;
  std::FILE* err_;
  std::FILE* in_;
  bool terminal_;
  bool inputTerminal_;
  Answers answers_;
  StopFlags stop_;
  Presentation presentation_;
  std::string device_;
  std::string status_;
  int maximum_ = 100;
  int position_ = 0;
  bool lineOpen_ = false;
  bool asking_ = false;     // a question waits for its answer: progress is not drawn
  bool prompting_ = false;  // ... and it is one of the console's own
  bool outFailed_ = false;  // `out` can no longer be written
  std::string repeatedError_;  // the last port error line printed ...
  int repeats_ = 0;            // ... and how often it came in a row
  std::string repeatedText_;   // ... and its text, for its event
  std::string lastError_;
  std::thread::id operationThread_;
  bool statusShown_ = false;
  bool positionHeld_ = false;  // a position of the operation's thread waits for the first status
};

}  // namespace torvix::cli
