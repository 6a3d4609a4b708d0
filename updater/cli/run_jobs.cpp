#include "updater/cli/run_jobs.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "common/cli/events.h"
#include "common/cli/receivers.h"
#include "common/exit_codes.h"
#include "common/trace_file.h"
#include "updater/cli/console_host.h"
#include "updater/transport/stop_question.h"

namespace updater::cli {
namespace {

using Clock = std::chrono::steady_clock;

// Self-pipe: the signal handlers, a lost output and the workers' ends all
// wake the main thread.
int wakePipe[2] = {-1, -1};
constexpr char kStopPressed = 's';  // Ctrl-C: ask first
constexpr char kStopNow = 't';      // SIGTERM, SIGHUP, output lost: no one to ask
constexpr char kWorkerEnded = 'e';

void Wake(char reason) {
  const int saved = errno;
  [[maybe_unused]] const auto ignored = ::write(wakePipe[1], &reason, 1);
  errno = saved;
}

extern "C" void OnInterrupt(int) { Wake(kStopPressed); }
extern "C" void OnTerminate(int) { Wake(kStopNow); }

bool IsYes(const std::string& answer) {
  for (const char* yes : {"д", "Д", "да", "Да", "y", "Y", "yes", "Yes"}) {
    if (answer == yes) return true;
  }
  return false;
}

// Reads one answer line from stdin while the workers go on; a worker's end
// counts into `ended`.  End of input, or another stop signal, counts as yes:
// a stop request that cannot be asked about is meant.
enum class Answer { kYes, kNo, kAllEnded };
Answer ReadAnswer(std::size_t& ended, std::size_t workers) {
  std::string line;
  for (;;) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return Answer::kYes;
    }
    if (fds[1].revents & POLLIN) {
      char c = 0;
      if (::read(wakePipe[0], &c, 1) == 1) {
        if (c != kWorkerEnded) return Answer::kYes;
        if (++ended == workers) return Answer::kAllEnded;
      }
    }
    if (fds[0].revents & (POLLIN | POLLHUP)) {
      char c = 0;
      const ssize_t r = ::read(STDIN_FILENO, &c, 1);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return Answer::kYes;
      if (c == '\n') return IsYes(line) ? Answer::kYes : Answer::kNo;
      line += c;
    }
  }
}

int ExitCodeFor(std::optional<updater::Failure> failure) {
  if (!failure) return common::kExitFailed;
  switch (*failure) {
    case updater::Failure::kFile: return common::kExitFile;
    case updater::Failure::kRefusedFile: return common::kExitRefused;
    case updater::Failure::kPort: return common::kExitPortNotOpened;
  }
  return common::kExitFailed;
}

const char* CommandOf(Mode mode) {
  switch (mode) {
    case Mode::MODE_SEND: return "send";
    case Mode::MODE_RECEIVE: return "receive";
    case Mode::MODE_UPDATE: return "update";
  }
  return "update";
}

// One receiver's operation on its worker thread.
struct Worker {
  Worker(const Target& t, Mode mode, const RunSettings& s, common::cli::EventStream* events, bool alone)
      : target(t),
        host(flags, mode, s.json ? s.err : s.out, s.err, alone && !s.json && s.terminal, [] { Wake(kStopNow); },
             {t.prefix, events, t.device}),
        port(s.timings) {}

  Target target;
  SharedFlags flags;
  ConsoleHost host;
  UpdaterPort port;
  common::TraceFile trace;
  std::atomic<Outcome> outcome{Outcome::kFailed};
  std::atomic<bool> ended{false};
  bool stopped = false;    // a stop was asked of it while it ran
  int traceFailed = 0;     // exit code when its trace could not be opened
  Clock::time_point start;
  std::atomic<double> seconds{0};
  std::thread thread;
};

}  // namespace

int RunJobs(Mode mode, const std::vector<Target>& targets, const RunSettings& settings) {
  if (::pipe2(wakePipe, O_CLOEXEC) != 0) {
    std::perror("updater-cli: pipe");
    return common::kExitFailed;
  }
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = OnInterrupt;
  ::sigaction(SIGINT, &action, nullptr);
  action.sa_handler = OnTerminate;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);
  // A closed pipe on standard output is seen as a failed write instead.
  ::signal(SIGPIPE, SIG_IGN);

  std::optional<common::cli::EventStream> events;
  if (settings.json) events.emplace(settings.out);
  common::cli::EventStream* eventStream = events ? &*events : nullptr;
  std::FILE* human = settings.json ? settings.err : settings.out;
  const bool alone = targets.size() == 1;

  std::vector<std::unique_ptr<Worker>> workers;
  std::size_t ended = 0;
  for (const Target& target : targets) {
    workers.push_back(std::make_unique<Worker>(target, mode, settings, eventStream, alone));
    Worker& w = *workers.back();
    w.start = Clock::now();
    if (eventStream != nullptr) eventStream->Start(target.device, CommandOf(mode));
    if (!target.trace.empty()) {
      if (w.trace.Open(target.trace, std::string("updater-cli ") + CommandOf(mode) + " on " + target.device +
                                         ": seconds of the monotonic clock, -> to the receiver, <- from it")) {
        w.port.SetTrace(&w.trace);
      } else {
        w.host.ReportFailure(Failure::kFile, w.trace.Error());
        w.traceFailed = common::kExitFile;
        w.ended = true;
        ++ended;
        continue;
      }
    }
    w.thread = std::thread([&w, mode] {
      switch (mode) {
        case Mode::MODE_SEND: w.outcome = SendSettings(w.target.job, w.port, w.host); break;
        case Mode::MODE_RECEIVE: w.outcome = ReceiveSettings(w.target.job, w.port, w.host); break;
        case Mode::MODE_UPDATE: w.outcome = UpdateSoftware(w.target.job, w.port, w.host); break;
      }
      w.seconds = std::chrono::duration<double>(Clock::now() - w.start).count();
      w.ended = true;
      Wake(kWorkerEnded);
    });
  }

  bool stopping = false;
  // The stop answered yes, as the window does it: flag, line, interrupt; once
  // for each operation still running.
  auto stop = [&] {
    for (auto& w : workers) {
      if (w->ended.load() || w->stopped) continue;
      w->flags.cancelRequested = true;
      w->host.AddStatusLine("Подождите .............");
      w->port.Interrupt();
      w->stopped = true;
    }
    stopping = true;
  };
  while (ended < workers.size()) {
    char c = 0;
    const ssize_t r = ::read(wakePipe[0], &c, 1);
    if (r < 0 && errno == EINTR) continue;
    if (r != 1) break;
    if (c == kWorkerEnded) {
      ++ended;
      continue;
    }
    if (c == kStopNow || stopping) {
      // Nobody to ask; or asked already: the operations are on their way out.
      stop();
      continue;
    }
    // The stop button: the workers go on while the question is open.
    const StopQuestion question = StopQuestionFor(mode);
    Answer answer = Answer::kYes;
    if (alone) {
      workers.front()->host.Ask(question.caption, question.question);
      answer = ReadAnswer(ended, workers.size());
      workers.front()->host.EndAsk();
    } else {
      std::fprintf(human, "%s (all receivers)\n%s [д/н] ", question.caption, question.question);
      std::fflush(human);
      answer = ReadAnswer(ended, workers.size());
      std::fputs("\n", human);
      std::fflush(human);
    }
    if (eventStream != nullptr && answer != Answer::kAllEnded) {
      eventStream->Question(alone ? targets.front().device : "", question.caption, question.question,
                            answer == Answer::kYes);
    }
    switch (answer) {
      case Answer::kYes: stop(); break;
      case Answer::kNo:
        for (auto& w : workers) w->flags.cancelRequested = false;
        break;
      case Answer::kAllEnded: break;
    }
  }

  std::vector<common::cli::ReceiverResult> results;
  for (auto& w : workers) {
    if (w->thread.joinable()) w->thread.join();
    if (!w->trace.Close()) w->host.ReportFailure(Failure::kFile, w->trace.Error());
    int code = common::kExitOk;
    if (w->traceFailed != 0) {
      code = w->traceFailed;
    } else if (w->outcome != Outcome::kSucceeded) {
      code = w->stopped ? common::kExitStopped : ExitCodeFor(w->host.LastFailure());
    }
    results.push_back({w->target.device, code, w->seconds.load()});
    if (eventStream != nullptr) eventStream->Result(results.back());
  }
  workers.clear();
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  ::signal(SIGHUP, SIG_DFL);
  ::close(wakePipe[0]);
  ::close(wakePipe[1]);
  const int code = common::cli::OverallExitCode(results);
  if (!alone) {
    std::fputs(("\n" + common::cli::SummaryTable(results)).c_str(), human);
    std::fflush(human);
  }
  if (eventStream != nullptr) eventStream->Summary(code, results);
  return code;
}

}  // namespace updater::cli
