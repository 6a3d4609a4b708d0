#include "updater/cli/console_host.h"

#include <algorithm>

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

ConsoleHost::ConsoleHost(SharedFlags& flags, Mode mode, std::FILE* out, bool terminal)
    : WorkerHost(flags), mode_(mode), out_(out), terminal_(terminal),
      timers_([this](TimerId id) { TimerTick(*this, id, mode_); }) {}

ConsoleHost::~ConsoleHost() {
  timers_.StopAll();
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBarLocked();
}

void ConsoleHost::ClearBarLocked() {
  if (!barShown_) return;
  std::fputs("\r\033[K", out_);
  barShown_ = false;
}

void ConsoleHost::DrawBarLocked() {
  if (!terminal_ || asking_) return;
  const int span = std::max(1, high_ - low_);
  const int clamped = std::clamp(position_, low_, high_);
  const int filled = (clamped - low_) * kBarWidth / span;
  std::string bar = "\r\033[K[";
  bar.append(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), '-');
  bar += "] " + seconds_;
  std::fputs(bar.c_str(), out_);
  std::fflush(out_);
  barShown_ = true;
}

void ConsoleHost::AddStatusLine(const std::string& line) { Print(line); }

void ConsoleHost::Print(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBarLocked();
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
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
  DrawBarLocked();
}

void ConsoleHost::SetSecondsText(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (text == seconds_) return;
  seconds_ = text;
  if (terminal_) {
    DrawBarLocked();
  } else if (!text.empty() && PlainWorthy(text)) {
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
  }
}

void ConsoleHost::ShowMessage(const std::string& text) { Print("* " + text); }

void ConsoleHost::StartTimer(TimerId id) {
  // Exclusive of a tick: one that ran into its limit as the worker restarted
  // the timer would otherwise stop the new timer, and the counter with it.
  timers_.Start(id, [this] { Flags().secondsCounter.store(0); });
}

void ConsoleHost::StopTimers() { timers_.StopAll(); }

void ConsoleHost::WorkerEnded() {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBarLocked();
  std::fflush(out_);
}

void ConsoleHost::Ask(const std::string& caption, const std::string& question) {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBarLocked();
  std::fprintf(out_, "%s\n%s [д/н] ", caption.c_str(), question.c_str());
  std::fflush(out_);
  asking_ = true;
}

void ConsoleHost::EndAsk() {
  std::lock_guard<std::mutex> lock(mutex_);
  asking_ = false;
  DrawBarLocked();
}

}  // namespace updater::cli
