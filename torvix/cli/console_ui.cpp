#include "torvix/cli/console_ui.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace torvix::cli {
namespace {

constexpr int kBarWidth = 30;
// How soon a question waiting for its answer sees a stop.
constexpr std::chrono::milliseconds kStopPoll{20};

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

// The completion messages of the uploads are the only boxes that report no
// problem.
bool IsSuccessMessage(const std::string& text, const std::string& caption) {
  for (const OperationCode operation : {OperationCode::Upgrade, OperationCode::WriteFactoryData}) {
    const auto message = ResultMessageFor(operation, true);
    if (message && message->text == text && message->caption == caption) return true;
  }
  return false;
}

std::string Boxed(const std::string& text, const std::string& caption) { return "[" + caption + "] " + text + "\n"; }

}  // namespace

ConsoleUi::ConsoleUi(std::FILE* out, std::FILE* err, std::FILE* in, Answers answers, StopFlags stop,
                     Presentation presentation)
    : out_(out),
      err_(err),
      in_(in),
      terminal_(!presentation.plain && ::isatty(::fileno(out)) == 1),
      inputTerminal_(in != nullptr && ::isatty(::fileno(in)) == 1),
      answers_(std::move(answers)),
      stop_(stop),
      presentation_(std::move(presentation)) {}

std::string ConsoleUi::PrefixedLocked(const std::string& text) const {
  const std::string& prefix = presentation_.prefix;
  if (prefix.empty() || text.empty()) return text;
  std::string lines = prefix;
  for (std::size_t i = 0; i < text.size(); ++i) {
    lines += text[i];
    if (text[i] == '\n' && i + 1 < text.size()) lines += prefix;
  }
  return lines;
}

void ConsoleUi::SetDevicePath(std::string path) {
  std::lock_guard lock(mutex_);
  device_ = std::move(path);
}

bool ConsoleUi::OutputFailed() const {
  std::lock_guard lock(mutex_);
  return outFailed_;
}

std::string ConsoleUi::LastError() const {
  std::lock_guard lock(mutex_);
  return lastError_;
}

bool ConsoleUi::Prompting() const {
  std::lock_guard lock(mutex_);
  return prompting_;
}

void ConsoleUi::BeginQuestion(const std::string& text) {
  std::lock_guard lock(mutex_);
  FlushRepeatsLocked();
  BreakLineLocked();
  WriteOutLocked(text);
  asking_ = true;
}

void ConsoleUi::EndQuestion(bool answered) {
  std::lock_guard lock(mutex_);
  asking_ = false;
  if (!answered) WriteOutLocked("\n");
  if (terminal_ && !(stop_.unattended != nullptr && stop_.unattended->load())) RenderLocked();
}

void ConsoleUi::WriteOutLocked(const std::string& text) {
  if (outFailed_) return;
  errno = 0;
  if (std::fputs(PrefixedLocked(text).c_str(), out_) >= 0 && std::fflush(out_) == 0 && !std::ferror(out_)) return;
  const int error = errno;
  // Nobody reads what the operation reports any more (`| head`, a closed
  // terminal), or nothing can be kept of it: stop it the way Cancel does,
  // but without a question.
  outFailed_ = true;
  lineOpen_ = false;
  if (stop_.unattended != nullptr) stop_.unattended->store(true);
  if (stop_.cancel != nullptr) stop_.cancel->store(true);
  if (presentation_.outputLost) presentation_.outputLost(error);
}

void ConsoleUi::WriteErrLocked(const std::string& text) {
  BreakLineLocked();
  std::fputs(PrefixedLocked(text).c_str(), err_);
  std::fflush(err_);
}

void ConsoleUi::RenderLocked() {
  const int maximum = std::max(maximum_, 1);
  const int position = std::clamp(position_, 0, maximum);
  const int filled = position * kBarWidth / maximum;
  char percent[16];
  std::snprintf(percent, sizeof percent, "%3d%%", position * 100 / maximum);
  std::string status = status_;
  if (status.size() < 48) status.resize(48, ' ');
  WriteOutLocked("\r\033[K" + status + " [" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " +
                 percent);
  if (!outFailed_) lineOpen_ = true;
}

void ConsoleUi::BreakLineLocked() {
  if (!lineOpen_) return;
  lineOpen_ = false;
  WriteOutLocked("\n");
}

void ConsoleUi::FlushRepeatsLocked() {
  if (repeats_ > 1 && presentation_.events != nullptr) {
    presentation_.events->Message(device_, true, kSerialErrorCaption, repeatedText_, repeats_);
  }
  if (repeats_ > 1) {
    std::string line = repeatedError_;
    line.pop_back();  // its line feed
    WriteErrLocked(line + " (repeated: " + std::to_string(repeats_) + " times in all)\n");
  }
  repeatedError_.clear();
  repeats_ = 0;
}

void ConsoleUi::SetOperationThread(std::thread::id id) {
  std::lock_guard lock(mutex_);
  operationThread_ = id;
}

void ConsoleUi::ShowStatus(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (presentation_.events != nullptr) presentation_.events->Status(device_, text);
  statusShown_ = true;
  if (positionHeld_) {
    positionHeld_ = false;
    if (presentation_.events != nullptr) presentation_.events->Progress(device_, position_, maximum_);
  }
  status_ = text;
  if (terminal_) {
    if (!asking_) RenderLocked();
  } else {
    WriteOutLocked(text + "\n");
  }
}

void ConsoleUi::ShowProgressRange(std::uint16_t maximum) {
  std::lock_guard lock(mutex_);
  maximum_ = maximum;
  if (presentation_.events != nullptr) presentation_.events->Progress(device_, position_, maximum_);
  if (terminal_ && !asking_) RenderLocked();
}

void ConsoleUi::ShowProgressPosition(int position) {
  std::lock_guard lock(mutex_);
  position_ = position;
  if (!statusShown_ && std::this_thread::get_id() == operationThread_) {
    positionHeld_ = true;  // shown with the first status
    return;
  }
  if (presentation_.events != nullptr) presentation_.events->Progress(device_, position_, maximum_);
  if (terminal_ && !asking_) RenderLocked();
}

void ConsoleUi::ShowInfo(const std::string& text, const std::string& caption) {
  std::lock_guard lock(mutex_);
  FlushRepeatsLocked();
  if (presentation_.events != nullptr) presentation_.events->Message(device_, false, caption, text);
  BreakLineLocked();
  WriteOutLocked(Boxed(text, caption));
}

void ConsoleUi::ShowMessage(const std::string& text, const std::string& caption) {
  std::lock_guard lock(mutex_);
  FlushRepeatsLocked();
  const bool success = IsSuccessMessage(text, caption);
  if (presentation_.events != nullptr) presentation_.events->Message(device_, !success, caption, text);
  if (success) {
    BreakLineLocked();
    WriteOutLocked(Boxed(text, caption));
  } else {
    lastError_ = text;
    WriteErrLocked(Boxed(text, caption));
  }
}

void ConsoleUi::ShowCommandError(const std::string& text, const std::string& caption) {
  std::lock_guard lock(mutex_);
  FlushRepeatsLocked();
  if (presentation_.events != nullptr) presentation_.events->Message(device_, true, caption, text);
  lastError_ = text;
  WriteErrLocked(presentation_.program + ": " + text + "\n");
}

void ConsoleUi::ShowSerialError(const std::string& caption, const std::string& systemText) {
  std::lock_guard lock(mutex_);
  // The box itself gives the system's text only; say which device it was about.
  const std::string line = Boxed(device_.empty() ? systemText : device_ + ": " + systemText, caption);
  if (line == repeatedError_) {
    ++repeats_;
    return;
  }
  FlushRepeatsLocked();
  const std::string text = device_.empty() ? systemText : device_ + ": " + systemText;
  if (presentation_.events != nullptr) presentation_.events->Message(device_, true, caption, text);
  lastError_ = text;
  WriteErrLocked(line);
  repeatedError_ = line;
  repeatedText_ = text;
  repeats_ = 1;
}

std::optional<std::string> ConsoleUi::Ask(const std::string& question, bool hidden) {
  {
    std::lock_guard lock(mutex_);
    FlushRepeatsLocked();
    BreakLineLocked();
    WriteOutLocked(question);
    if (!inputTerminal_ || outFailed_) {
      WriteOutLocked("\n");
      return std::nullopt;
    }
    asking_ = true;  // the job goes on meanwhile; its progress is drawn after the answer
    prompting_ = true;
  }
  std::optional<EchoOff> quiet;
  if (hidden) quiet.emplace(::fileno(in_));
  const int fd = ::fileno(in_);
  std::string line;
  bool complete = false;
  bool stopped = false;
  // Read by hand, not through the stream: a stop must be able to end the wait.
  while (!complete) {
    if (stop_.unattended != nullptr && stop_.unattended->load()) {
      stopped = true;
      break;
    }
    pollfd input = {fd, POLLIN, 0};
    const int ready = ::poll(&input, 1, static_cast<int>(kStopPoll.count()));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    char c = 0;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the end of input
    if (c == '\n') {
      complete = true;
    } else {
      line += c;
    }
  }
  quiet.reset();
  std::lock_guard lock(mutex_);
  asking_ = false;
  prompting_ = false;
  if (hidden || stopped) WriteOutLocked("\n");
  if (stopped || (!complete && line.empty())) return std::nullopt;
  return line;
}

bool ConsoleUi::AskStopUpgrade(const std::string& question, const std::string& caption) {
  {
    std::lock_guard lock(mutex_);
    // A termination signal or a lost output: nobody is there to answer.
    if (outFailed_ || (stop_.unattended != nullptr && stop_.unattended->load())) return true;
  }
  // Without a terminal to ask, Ctrl-C is the answer.
  const auto answer = Ask("[" + caption + "] " + question + " [y/N] ", false);
  const bool stop = !answer || (!answer->empty() && (answer->front() == 'y' || answer->front() == 'Y'));
  if (presentation_.events != nullptr) presentation_.events->Question(device_, caption, question, stop);
  std::lock_guard lock(mutex_);
  if (!stop && terminal_) RenderLocked();
  return stop;
}

bool ConsoleUi::ConfirmReceiverOn(const std::string&, const std::string&) {
  // Running the command says the receiver is on.
  return true;
}

bool ConsoleUi::ConfirmWholeUpgrade(const std::string& text, const std::string& caption) {
  return Confirm(text, caption, answers_.acceptWholeUpgrade);
}

void ConsoleUi::ShowFactoryList(const FactoryList& list) { ShowInfo(FactoryListText(list), "Write Factory Data"); }

bool ConsoleUi::ConfirmListWithoutServices(const std::string& question, const std::string& caption) {
  return Confirm(question, caption, answers_.acceptListWithoutServices);
}

bool ConsoleUi::Confirm(const std::string& text, const std::string& caption, bool yes) {
  if (yes) {
    if (presentation_.events != nullptr) presentation_.events->Question(device_, caption, text, true);
    ShowInfo(text + "\n(accepted by --yes)", caption);
    return true;
  }
  const auto answer = Ask("[" + caption + "] " + text + " [ok/Cancel] ", false);
  const bool accepted = answer && (*answer == "ok" || *answer == "OK" || *answer == "y" || *answer == "yes");
  if (presentation_.events != nullptr) presentation_.events->Question(device_, caption, text, accepted);
  if (!answer && !Stopping()) ShowMessage("not accepted: give --yes to accept it", caption);
  return accepted;
}

std::optional<std::string> ConsoleUi::AskAccessCode() {
  if (answers_.accessCode) return answers_.accessCode;
  const auto answer = Ask("input password: ", true);
  if (!answer && !Stopping()) ShowMessage("no access code: give --access-code", "Password Dialog");
  return answer;
}

void ConsoleUi::FinishLine() {
  std::lock_guard lock(mutex_);
  if (positionHeld_ && presentation_.events != nullptr) presentation_.events->Progress(device_, position_, maximum_);
  positionHeld_ = false;
  FlushRepeatsLocked();
  BreakLineLocked();
}

}  // namespace torvix::cli
