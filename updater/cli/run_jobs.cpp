#include "updater/cli/run_jobs.h"

#include <atomic>
#include <memory>
#include <optional>

#include "common/cli/runner.h"
#include "common/exit_codes.h"
#include "common/trace_file.h"
#include "updater/cli/console_host.h"
#include "updater/cli/program_name.h"
#include "updater/transport/recorded_operation.h"
#include "updater/transport/stop_question.h"

namespace updater::cli {
namespace {

constexpr const char* kProgram = kProgramName;
constexpr const char* kWaitLine = "Подождите .............";  // the stop answered yes, as the window says it

bool IsYes(const std::string& answer) {
  for (const char* yes : {"д", "Д", "да", "Да", "y", "Y", "yes", "Yes"}) {
    if (answer == yes) return true;
  }
  return false;
}

const char* CommandOf(Mode mode) {
  switch (mode) {
    case Mode::MODE_SEND: return "send";
    case Mode::MODE_RECEIVE: return "receive";
    case Mode::MODE_UPDATE: return "update";
  }
  return "update";
}

// One receiver's operation, run on the runner's thread for it.
struct Worker {
  Worker(const Target& t, Mode m, const RunSettings& s, common::cli::ReceiverRunner& runner, bool alone)
      : target(t),
        mode(m),
        host(flags, m, runner.Human(), s.err, alone && !s.json && s.terminal,
             [&runner](int error) { runner.OutputLost(error); }, {t.prefix, runner.Events(), t.device}),
        port(s.timings) {}

  common::cli::ReceiverOutcome Run() {
    common::TraceFile trace;
    if (!target.trace.empty()) {
      if (!trace.Open(target.trace, std::string(kProgram) + " " + CommandOf(mode) + " on " + target.device +
                                        ": seconds of the monotonic clock, -> to the receiver, <- from it")) {
        host.ReportFailure(Failure::kFile, trace.Error());
        return {common::kExitFile, trace.Error()};
      }
      port.SetTrace(&trace);
    }
    const RecordedOutcome recorded =
        RunRecorded(mode, target.job, host, target.history, [this](WorkerHost& noting) {
          switch (mode) {
            case Mode::MODE_SEND: return SendSettings(target.job, port, noting);
            case Mode::MODE_RECEIVE: return ReceiveSettings(target.job, port, noting);
            case Mode::MODE_UPDATE: break;
          }
          return UpdateSoftware(target.job, port, noting);
        });
    port.SetTrace(nullptr);
    if (!trace.Close()) host.ReportFailure(Failure::kFile, trace.Error());
    if (recorded.exitCode == common::kExitOk && !host.LastFailure()) return {common::kExitOk, ""};
    if (!host.LastFailure() && !stopped.load()) {
      // The operation's status lines say where it failed; say it where a
      // failure's reason goes too.
      host.ReportExchangeFailure(target.device, host.LastError());
    }
    return {ExitCodeFor(recorded.outcome, host.LastFailure(), stopped.load()), host.LastReason()};
  }

  // The stop answered yes, as the window does it: flag, line, interrupt.
  void Stop() {
    stopped.store(true);
    flags.cancelRequested = true;
    host.AddStatusLine(kWaitLine);
    port.Interrupt();
  }

  Target target;
  Mode mode;
  SharedFlags flags;
  ConsoleHost host;
  UpdaterPort port;
  std::atomic<bool> stopped{false};
};

}  // namespace

int RunJobs(Mode mode, const std::vector<Target>& targets, const RunSettings& settings) {
  common::cli::ReceiverRunner runner({kProgram, CommandOf(mode), settings.json, settings.out, settings.err,
                                      settings.input});
  const bool alone = targets.size() == 1;
  std::vector<std::unique_ptr<Worker>> workers;
  std::vector<common::cli::RunnerReceiver> receivers;
  for (const Target& target : targets) {
    workers.push_back(std::make_unique<Worker>(target, mode, settings, runner, alone));
    Worker& w = *workers.back();
    receivers.push_back({target.device, [&w] { return w.Run(); }, [&w] { w.Stop(); }});
  }
  const StopQuestion stop = StopQuestionFor(mode);
  std::FILE* human = runner.Human();
  ConsoleHost& first = workers.front()->host;
  common::cli::StopQuestion question{
      stop.caption, stop.question,
      [&first, human, alone, stop] {
        if (alone) {
          first.Ask(stop.caption, stop.question);
        } else {
          std::fprintf(human, "%s (all receivers)\n%s [д/н] ", stop.caption, stop.question);
          std::fflush(human);
        }
      },
      [&first, human, alone](std::optional<bool>) {
        if (alone) {
          first.EndAsk();
        } else {
          std::fputs("\n", human);
          std::fflush(human);
        }
      },
      IsYes, {}};
  const int code = runner.Run(std::move(receivers), question);
  workers.clear();  // the timers' threads end with their hosts
  return code;
}

}  // namespace updater::cli
