#include "common/cli/runner.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include <poll.h>
#include <unistd.h>

#include "common/cli/output.h"
#include "common/cli/receivers.h"
#include "common/cli/signal_scope.h"
#include "common/exit_codes.h"

namespace common::cli {

using Clock = std::chrono::steady_clock;

struct ReceiverRunner::Slot {
  RunnerReceiver receiver;
  std::atomic<bool> stopAsked{false};
  std::atomic<bool> ended{false};
  std::thread thread;
};

ReceiverRunner::ReceiverRunner(RunnerSettings settings) : settings_(std::move(settings)) {
  if (settings_.json) {
    events_ = std::make_unique<EventStream>(settings_.out, [this](int error) { OutputLost(error); });
  }
}

ReceiverRunner::~ReceiverRunner() = default;

const char* ReceiverRunner::StopText(Cause cause) const {
  switch (cause) {
    case Cause::kInterrupt: return "stopped by Ctrl-C";
    case Cause::kTerminate: return "stopped by SIGTERM";
    case Cause::kHangUp: return "stopped by SIGHUP";
    case Cause::kOutput:
      return outputError_.load() == EPIPE ? "stopped: standard output was closed"
                                          : "stopped: standard output could not be written";
    case Cause::kNone: break;
  }
  return "stopped";
}

void ReceiverRunner::OutputLost(int error) {
  int none = 0;
  outputError_.compare_exchange_strong(none, error == 0 ? EIO : error);
  if (SignalScope* scope = scope_.load()) scope->Post();
}

void ReceiverRunner::StopAll(Cause cause) {
  Cause none = Cause::kNone;
  cause_.compare_exchange_strong(none, cause);
  for (auto& slot : slots_) {
    if (slot->ended.load() || slot->stopAsked.exchange(true)) continue;
    slot->receiver.stop();
  }
}

std::optional<ReceiverRunner::Cause> ReceiverRunner::Ask(SignalScope& scope, const StopQuestion& question) {
  question.show();
  std::string line;
  std::optional<bool> answer;
  Cause cause = Cause::kInterrupt;
  while (!answer) {
    if (ended_.load() == slots_.size()) break;
    pollfd fds[2] = {{settings_.input, POLLIN, 0}, {scope.Fd(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      answer = true;
      break;
    }
    if (fds[1].revents & POLLIN) {
      for (const Wake wake : scope.Take()) {
        // Another stop while the question is open: a stop is meant.
        if (wake == Wake::kTerminate || wake == Wake::kHangUp || wake == Wake::kInterrupt ||
            outputError_.load() != 0) {
          if (wake == Wake::kTerminate) cause = Cause::kTerminate;
          if (wake == Wake::kHangUp) cause = Cause::kHangUp;
          if (wake == Wake::kPosted) cause = Cause::kOutput;
          answer = true;
        }
      }
      if (answer) break;
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      char c = 0;
      const ssize_t r = ::read(settings_.input, &c, 1);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        answer = true;  // the end of input answers nothing: the stop stands
      } else if (c == '\n') {
        answer = question.isYes(line);
      } else {
        line += c;
      }
    }
  }
  question.end(answer);
  if (!answer) return std::nullopt;
  if (events_) {
    events_->Question(slots_.size() == 1 ? slots_.front()->receiver.device : "", question.caption, question.text,
                      *answer);
  }
  return *answer ? std::optional<Cause>(cause) : std::nullopt;
}

int ReceiverRunner::Run(std::vector<RunnerReceiver> receivers, const std::optional<StopQuestion>& question) {
  SignalScope scope;
  scope_.store(scope.Ok() ? &scope : nullptr);
  for (RunnerReceiver& receiver : receivers) {
    slots_.push_back(std::make_unique<Slot>());
    slots_.back()->receiver = std::move(receiver);
  }
  results_.assign(slots_.size(), {});
  {
    // The receivers' threads, and the threads they start, leave the stop
    // signals to this one.
    StopSignalsBlocked blocked;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      slots_[i]->thread = std::thread([this, i] {
        Slot& slot = *slots_[i];
        const auto start = Clock::now();
        if (events_) events_->Start(slot.receiver.device, settings_.command);
        ReceiverOutcome outcome = slot.receiver.run();
        if (slot.stopAsked.load() && outcome.exitCode != kExitOk) {
          outcome.exitCode = kExitStopped;
          outcome.reason = StopText(cause_.load());
        }
        results_[i] = {slot.receiver.device, outcome.exitCode,
                       std::chrono::duration<double>(Clock::now() - start).count(), outcome.reason};
        if (events_) events_->Result(results_[i]);
        slot.ended.store(true);
        ++ended_;
        if (SignalScope* s = scope_.load()) s->Post();
      });
    }
  }
  const bool mayAsk = question && settings_.input >= 0 && ::isatty(settings_.input) == 1;
  while (ended_.load() < slots_.size()) {
    if (scope.Ok()) {
      pollfd fd = {scope.Fd(), POLLIN, 0};
      if (::poll(&fd, 1, -1) < 0 && errno != EINTR) break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // no pipe: look now and then
    }
    for (const Wake wake : scope.Ok() ? scope.Take() : std::vector<Wake>{}) {
      switch (wake) {
        case Wake::kTerminate: StopAll(Cause::kTerminate); break;
        case Wake::kHangUp: StopAll(Cause::kHangUp); break;
        case Wake::kInterrupt:
          if (cause_.load() != Cause::kNone) break;  // on their way out already
          if (mayAsk && (!question->available || question->available())) {
            if (const auto cause = Ask(scope, *question)) StopAll(*cause);
          } else {
            StopAll(Cause::kInterrupt);  // nobody to ask
          }
          break;
        case Wake::kPosted: break;
      }
    }
    if (outputError_.load() != 0) StopAll(Cause::kOutput);
  }
  for (auto& slot : slots_) slot->thread.join();
  scope_.store(nullptr);

  int code = OverallExitCode(results_);
  if (results_.size() > 1) {
    std::fputc('\n', Human());
    std::fputs(SummaryTable(results_).c_str(), Human());
    std::fflush(Human());
  }
  // A stopped run ends with the line that says so.
  for (const ReceiverResult& result : results_) {
    if (result.exitCode == kExitStopped && !result.reason.empty()) {
      std::fprintf(settings_.err, "%s\n", FileError(settings_.program, result.device, result.reason).c_str());
    }
  }
  std::fflush(settings_.err);
  if (events_) events_->Summary(code, results_);
  const int error = outputError_.load();
  if (error == EPIPE) {
    // Nobody reads any more: what was reported did not arrive.
    if (code == kExitOk) {
      std::fprintf(settings_.err, "%s: %s\n", settings_.program.c_str(), StopText(Cause::kOutput));
      code = kExitStopped;
    }
  } else if (error != 0) {
    code = ReportOutputError(settings_.err, settings_.program, error);
  }
  return code;
}

}  // namespace common::cli
