#include "updater/cli/console_host.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "common/cli/output.h"
#include "updater/cli/program_name.h"

namespace updater::cli {
namespace {
constexpr int kBarWidth = 40;

// Without a bar, a percentage is printed at every tenth step only, so that a
// log keeps a readable size; seconds are printed as they come.
bool PlainWorthy(const std::string& text) {
  if (text.back() != '%') return true;
  return std::stoi(text) % 10 == 0;
}
}  // namespace

ConsoleHost::ConsoleHost(SharedFlags& flags, Mode mode, std::FILE* out, std::FILE* err, bool terminal,
                         std::function<void(int)> outputLost, HostPresentation presentation)
    : WorkerHost(flags), mode_(mode), out_(out), err_(err), terminal_(terminal), outputLost_(std::move(outputLost)),
      presentation_(std::move(presentation)),
      timers_([this](TimerId id) { TimerTick(*this, id, mode_); }) {}

ConsoleHost::~ConsoleHost() {
  timers_.StopAll();
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBarLocked();
}

void ConsoleHost::FlushLocked() {
  if (lost_) return;
  // errno stays as the failed write left it: the flush after it says why
  // in the same way.
  errno = 0;
  if (std::fflush(out_) == 0 && !std::ferror(out_)) return;
  const int error = errno;
  lost_ = true;
  if (outputLost_) outputLost_(error);
}

void ConsoleHost::ClearBarLocked() {
  if (!barShown_) return;
  barShown_ = false;
  if (lost_) return;
  std::fputs("\r\033[K", out_);
}

void ConsoleHost::DrawBarLocked() {
  if (!terminal_ || asking_ || lost_) return;
  const int span = std::max(1, high_ - low_);
  const int clamped = std::clamp(position_, low_, high_);
  const int filled = (clamped - low_) * kBarWidth / span;
  std::string bar = "\r\033[K[";
  bar.append(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), '-');
  bar += "] " + seconds_;
  std::fputs(bar.c_str(), out_);
  FlushLocked();
  barShown_ = true;
}

void ConsoleHost::AddStatusLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The event under the same lock as the line: events come in the order the
  // lines do, whichever thread makes them.
  if (presentation_.events != nullptr) presentation_.events->Status(presentation_.device, line);
  if (line.find_first_not_of(' ') != std::string::npos) lastStatus_ = line;
  PrintLocked(line);
}

void ConsoleHost::Print(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  PrintLocked(line);
}

void ConsoleHost::PrintLocked(const std::string& line) {
  ClearBarLocked();
  if (!lost_) std::fprintf(out_, "%s%s\n", presentation_.prefix.c_str(), line.c_str());
  FlushLocked();
  DrawBarLocked();
}

void ConsoleHost::SetProgressRange(int low, int high) {
  std::lock_guard<std::mutex> lock(mutex_);
  low_ = low;
  high_ = high;
}

void ConsoleHost::SetProgressStep(int) {}

void ConsoleHost::SetProgressPosition(int position) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (position == position_) return;
  position_ = position;
  if (presentation_.events != nullptr) {
    const int high = std::max(low_, high_);
    presentation_.events->Progress(presentation_.device, std::clamp(position_, low_, high) - low_, high - low_);
  }
  DrawBarLocked();
}

void ConsoleHost::SetSecondsText(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (text == seconds_) return;
  seconds_ = text;
  if (presentation_.events != nullptr && !text.empty()) {
    // "42%" or "17 Сек.": the number first either way.
    const int number = std::atoi(text.c_str());
    if (text.back() == '%') {
      presentation_.events->Percent(presentation_.device, number);
    } else {
      presentation_.events->Seconds(presentation_.device, number);
    }
  }
  if (terminal_) {
    DrawBarLocked();
  } else if (!text.empty() && PlainWorthy(text) && !lost_) {
    std::fprintf(out_, "%s%s\n", presentation_.prefix.c_str(), text.c_str());
    FlushLocked();
  }
}

void ConsoleHost::ShowMessage(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (presentation_.events != nullptr) presentation_.events->Message(presentation_.device, false, "Updater", text);
  PrintLocked("* " + text);
}

void ConsoleHost::StartTimer(TimerId id) {
  // Exclusive of a tick: one that ran into its limit as the worker restarted
  // the timer would otherwise stop the new timer, and the counter with it.
  timers_.Start(id, [this] { Flags().secondsCounter.store(0); });
}

void ConsoleHost::StopTimers() { timers_.StopAll(); }

void ConsoleHost::WorkerEnded() {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBarLocked();
  FlushLocked();
}

void ConsoleHost::ReportFailure(Failure kind, const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  failure_ = kind;
  if (presentation_.events != nullptr) {
    const char* caption = kind == Failure::kFile ? "file" : kind == Failure::kPort ? "port" : "refused file";
    presentation_.events->Message(presentation_.device, true, caption, reason);
  }
  PrintReasonLocked(reason);
}

void ConsoleHost::ReportExchangeFailure(const std::string& device, const std::string& statusLine) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string reason =
      device + ": " + (statusLine.empty() ? "" : statusLine + " ") + "(the exchange with the receiver failed)";
  if (presentation_.events != nullptr) presentation_.events->Message(presentation_.device, true, "exchange", reason);
  PrintReasonLocked(reason);
}

void ConsoleHost::PrintReasonLocked(const std::string& reason) {
  reason_ = reason;
  ClearBarLocked();
  FlushLocked();
  std::string lines = reason;
  for (std::size_t at = lines.find('\n'); at != std::string::npos; at = lines.find('\n', at + 1)) {
    lines.insert(at + 1, presentation_.prefix + kProgramName + ": ");
  }
  std::fprintf(err_, "%s%s\n", presentation_.prefix.c_str(), common::cli::OwnLine(kProgramName, lines).c_str());
  std::fflush(err_);
  DrawBarLocked();
}

std::optional<Failure> ConsoleHost::LastFailure() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

std::string ConsoleHost::LastReason() {
  std::lock_guard<std::mutex> lock(mutex_);
  return reason_;
}

std::string ConsoleHost::LastError() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastStatus_;
}

void ConsoleHost::Ask(const std::string& caption, const std::string& question) {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBarLocked();
  if (!lost_) std::fprintf(out_, "%s\n%s [д/н] ", caption.c_str(), question.c_str());
  FlushLocked();
  asking_ = true;
}

void ConsoleHost::EndAsk() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!lost_) std::fputs("\n", out_);
  FlushLocked();
  asking_ = false;
  DrawBarLocked();
}

}  // namespace updater::cli
