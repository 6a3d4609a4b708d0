// The link operations on a console: status text and a progress bar on a
// terminal (plain lines when the output is no terminal), boxes as text,
// questions answered from the command line or asked on the terminal.
//
// The progress calls come from the job's thread, the rest from the command's
// thread; every output is serialised by one lock.
#pragma once

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "torvix/ops/operations.h"

namespace torvix::cli {

class ConsoleUi : public OperationUi {
 public:
  struct Answers {
    bool acceptWholeUpgrade = false;        // --yes
    std::optional<std::string> accessCode;  // --access-code
  };

  // `out` receives everything; `in` (may be null) answers questions when it
  // is a terminal.
  ConsoleUi(std::FILE* out, std::FILE* in, Answers answers);

  void ShowStatus(const std::string& text) override;
  void ShowProgressRange(std::uint16_t maximum) override;
  void ShowProgressPosition(int position) override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  bool AskStopUpgrade(const std::string& question, const std::string& caption) override;
  void ShowSerialError(const std::string& caption, const std::string& systemText) override;
  bool ConfirmReceiverOn(const std::string& text, const std::string& caption) override;
  bool ConfirmWholeUpgrade(const std::string& text, const std::string& caption) override;
  std::optional<std::string> AskAccessCode() override;

  // Ends a progress line still open on the terminal.
  void FinishLine();

 private:
  void RenderLocked();
  void BreakLineLocked();
  // Asks `question` on the terminal and waits for the answer line, without
  // holding the lock (the job's progress waits for nothing); none without a
  // terminal or at the end of input.
  std::optional<std::string> Ask(const std::string& question, bool hidden);

  std::mutex mutex_;
  std::FILE* out_;
  std::FILE* in_;
  bool terminal_;
  bool inputTerminal_;
  Answers answers_;
  std::string status_;
  int maximum_ = 100;
  int position_ = 0;
  bool lineOpen_ = false;
  bool asking_ = false;  // a question waits for its answer: progress is not drawn
};

}  // namespace torvix::cli
