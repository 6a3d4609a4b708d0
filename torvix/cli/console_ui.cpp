#include "torvix/cli/console_ui.h"

#include <algorithm>

#include <termios.h>
#include <unistd.h>

namespace torvix::cli {
namespace {

constexpr int kBarWidth = 30;

// Turns terminal echo off for a password and back on afterwards.
class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd) {
    if (::tcgetattr(fd_, &saved_) != 0) return;
    struct termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    active_ = ::tcsetattr(fd_, TCSANOW, &quiet) == 0;
  }
  ~EchoOff() {
    if (active_) ::tcsetattr(fd_, TCSANOW, &saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  int fd_;
  struct termios saved_ {};
  bool active_ = false;
};

}  // namespace

ConsoleUi::ConsoleUi(std::FILE* out, std::FILE* in, Answers answers)
    : out_(out),
      in_(in),
      terminal_(::isatty(::fileno(out)) == 1),
      inputTerminal_(in != nullptr && ::isatty(::fileno(in)) == 1),
      answers_(std::move(answers)) {}

void ConsoleUi::RenderLocked() {
  const int maximum = std::max(maximum_, 1);
  const int position = std::clamp(position_, 0, maximum);
  const int filled = position * kBarWidth / maximum;
  std::fprintf(out_, "\r\033[K%-48s [%s%s] %3d%%", status_.c_str(), std::string(filled, '#').c_str(),
               std::string(kBarWidth - filled, '.').c_str(), position * 100 / maximum);
  std::fflush(out_);
  lineOpen_ = true;
}

void ConsoleUi::BreakLineLocked() {
  if (!lineOpen_) return;
  std::fputc('\n', out_);
  lineOpen_ = false;
}

void ConsoleUi::ShowStatus(const std::string& text) {
  std::lock_guard lock(mutex_);
  status_ = text;
  if (terminal_) {
    if (!asking_) RenderLocked();
  } else {
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
  }
}

void ConsoleUi::ShowProgressRange(std::uint16_t maximum) {
  std::lock_guard lock(mutex_);
  maximum_ = maximum;
  if (terminal_ && !asking_) RenderLocked();
}

void ConsoleUi::ShowProgressPosition(int position) {
  std::lock_guard lock(mutex_);
  position_ = position;
  if (terminal_ && !asking_) RenderLocked();
}

void ConsoleUi::ShowMessage(const std::string& text, const std::string& caption) {
  std::lock_guard lock(mutex_);
  BreakLineLocked();
  std::fprintf(out_, "[%s] %s\n", caption.c_str(), text.c_str());
  std::fflush(out_);
}

void ConsoleUi::ShowSerialError(const std::string& caption, const std::string& systemText) {
  ShowMessage(systemText, caption);
}

std::optional<std::string> ConsoleUi::Ask(const std::string& question, bool hidden) {
  {
    std::lock_guard lock(mutex_);
    BreakLineLocked();
    std::fprintf(out_, "%s", question.c_str());
    std::fflush(out_);
    if (!inputTerminal_) {
      std::fputc('\n', out_);
      return std::nullopt;
    }
    asking_ = true;  // the job goes on meanwhile; its progress is drawn after the answer
  }
  std::optional<EchoOff> quiet;
  if (hidden) quiet.emplace(::fileno(in_));
  std::string line;
  int c = 0;
  while ((c = std::fgetc(in_)) != EOF && c != '\n') line += static_cast<char>(c);
  quiet.reset();
  std::lock_guard lock(mutex_);
  asking_ = false;
  if (hidden) std::fputc('\n', out_);
  if (c == EOF) {
    std::clearerr(in_);
    if (line.empty()) return std::nullopt;
  }
  return line;
}

bool ConsoleUi::AskStopUpgrade(const std::string& question, const std::string& caption) {
  // Without a terminal to ask, Ctrl-C (or a termination signal) is the answer.
  const auto answer = Ask("[" + caption + "] " + question + " [y/N] ", false);
  const bool stop = !answer || (!answer->empty() && (answer->front() == 'y' || answer->front() == 'Y'));
  std::lock_guard lock(mutex_);
  if (!stop && terminal_) RenderLocked();
  return stop;
}

bool ConsoleUi::ConfirmReceiverOn(const std::string&, const std::string&) {
  // Running the command says the receiver is on.
  return true;
}

bool ConsoleUi::ConfirmWholeUpgrade(const std::string& text, const std::string& caption) {
  if (answers_.acceptWholeUpgrade) {
    ShowMessage(text + "\n(accepted by --yes)", caption);
    return true;
  }
  const auto answer = Ask("[" + caption + "] " + text + " [ok/Cancel] ", false);
  if (!answer) ShowMessage("not accepted: give --yes to accept it", caption);
  return answer && (*answer == "ok" || *answer == "OK" || *answer == "y" || *answer == "yes");
}

std::optional<std::string> ConsoleUi::AskAccessCode() {
  if (answers_.accessCode) return answers_.accessCode;
  const auto answer = Ask("input password: ", true);
  if (!answer) ShowMessage("no access code: give --access-code", "Password Dialog");
  return answer;
}

void ConsoleUi::FinishLine() {
  std::lock_guard lock(mutex_);
  BreakLineLocked();
  std::fflush(out_);
}

}  // namespace torvix::cli
