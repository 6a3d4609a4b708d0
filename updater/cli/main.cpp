// updater-cli: Updater's three operations from the command line.
//
//   updater-cli send FILE.wdb    [--port COMn | --device PATH] [--baud RATE] [--force]
//   updater-cli receive FILE.wdb [--port COMn | --device PATH] [--baud RATE] [--force]
//   updater-cli update FILE.wsw  [--port COMn | --device PATH] [--force]
//
// The operation runs on a worker thread exactly as behind the window; the
// console shows its status lines and progress, and failure reasons on
// standard error.  Ctrl-C is the stop button: it asks the mode's question
// and, on yes, asks the operation to stop at its next safe point.  SIGTERM,
// SIGHUP (a closed terminal) and output nobody reads any more (a closed pipe)
// stop it the same way without asking.  The exit codes are the table shared
// with torvix-cli (common/exit_codes.h).
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "common/build_version.h"
#include "common/exit_codes.h"
#include "updater/cli/console_host.h"
#include "updater/transport/file_checks.h"
#include "updater/transport/stop_question.h"
#include "updater/transport/updater_port.h"
#include "updater/transport/workers.h"

namespace {

using updater::Mode;

// Self-pipe: the signal handlers, a lost output and the worker's end all wake
// the main thread.
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

// Reads one answer line from stdin, or sees the worker end or another stop
// first.  End of input, or another stop signal, counts as yes: a stop request
// that cannot be asked about is meant.
enum class Answer { kYes, kNo, kWorkerEnded };
Answer ReadAnswer() {
  std::string line;
  for (;;) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return Answer::kYes;
    }
    if (fds[1].revents & POLLIN) {
      char c = 0;
      if (::read(wakePipe[0], &c, 1) == 1) return c == kWorkerEnded ? Answer::kWorkerEnded : Answer::kYes;
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

int Run(Mode mode, const updater::Job& job) {
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

  updater::SharedFlags flags;
  updater::cli::ConsoleHost host(flags, mode, stdout, stderr, ::isatty(STDOUT_FILENO) == 1,
                                 [] { Wake(kStopNow); });
  updater::UpdaterPort port;
  std::atomic<updater::Outcome> outcome{updater::Outcome::kFailed};
  std::thread worker([&] {
    switch (mode) {
      case Mode::MODE_SEND: outcome = updater::SendSettings(job, port, host); break;
      case Mode::MODE_RECEIVE: outcome = updater::ReceiveSettings(job, port, host); break;
      case Mode::MODE_UPDATE: outcome = updater::UpdateSoftware(job, port, host); break;
    }
    Wake(kWorkerEnded);
  });

  bool stopped = false;
  // The stop answered yes, as the window does it: flag, line, interrupt.
  auto stop = [&] {
    flags.cancelRequested = true;
    host.AddStatusLine("Подождите .............");
    if (!stopped) port.Interrupt();
    stopped = true;
  };
  for (bool running = true; running;) {
    char c = 0;
    const ssize_t r = ::read(wakePipe[0], &c, 1);
    if (r < 0 && errno == EINTR) continue;
    if (r != 1 || c == kWorkerEnded) break;
    if (c == kStopNow || stopped) {
      // Nobody to ask; or asked already: the operation is on its way out.
      stop();
      continue;
    }
    // The stop button: the worker goes on while the question is open.
    const updater::StopQuestion question = updater::StopQuestionFor(mode);
    host.Ask(question.caption, question.question);
    const Answer answer = ReadAnswer();
    host.EndAsk();
    switch (answer) {
      case Answer::kYes: stop(); break;
      case Answer::kNo: flags.cancelRequested = false; break;
      case Answer::kWorkerEnded: running = false; break;
    }
  }
  worker.join();
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  ::signal(SIGHUP, SIG_DFL);
  if (outcome == updater::Outcome::kSucceeded) return common::kExitOk;
  if (stopped) return common::kExitStopped;
  return ExitCodeFor(host.LastFailure());
}

// Why `file` does not fit `mode`, as the window's file chooser sees it; empty
// when it fits.
std::string FileProblem(Mode mode, const std::string& file) {
  const updater::FileKind kind = updater::ClassifyFileName(file);
  if (mode == Mode::MODE_UPDATE) {
    return kind == updater::FileKind::kSoftware ? "" : file + ": the name of a software file contains .wsw";
  }
  if (kind != updater::FileKind::kSettings) {
    return file + ": the name of a settings file contains .wdb or .WDB" +
           (kind == updater::FileKind::kSoftware ? " and not .wsw" : "");
  }
  if (mode == Mode::MODE_SEND && updater::HasSoftwareSignature(file)) {
    return file + ": begins with 55 AA, as a software file does";
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Updater: settings transfer and software update of a satellite receiver"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("updater-cli ") + common::kBuildVersion);
  std::string file;
  std::string port = "COM1";
  std::string device;
  std::uint32_t baud = updater::kDefaultBaudRate;
  bool force = false;

  auto addCommon = [&](CLI::App* sub, bool withBaud) {
    sub->add_option("FILE", file, "Settings (.wdb) or software (.wsw) file")->required();
    auto* portOption = sub->add_option("--port", port, "COM1 to COM4 (COMn is /dev/ttyS(n-1) unless $COMn says otherwise)")
                           ->check(CLI::IsMember({"COM1", "COM2", "COM3", "COM4"}, CLI::ignore_case))
                           ->capture_default_str();
    sub->add_option("--device", device, "Device path instead of a COM port")->excludes(portOption);
    if (withBaud) {
      sub->add_option("--baud", baud, "Bit rate")
          ->check(CLI::IsMember({128000u, 115200u, 19200u, 9600u}))
          ->capture_default_str();
    }
    sub->add_flag("--force", force, "Take a file whose name or first bytes do not fit the operation");
  };
  CLI::App* send = app.add_subcommand("send", "Send a settings file into the receiver");
  CLI::App* receive = app.add_subcommand("receive", "Receive the receiver's settings into a file");
  CLI::App* update = app.add_subcommand("update", "Update the receiver's software (always 115200 bit/s)");
  addCommon(send, true);
  addCommon(receive, true);
  addCommon(update, false);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Help is no error; every other parse failure is a usage error.
    return app.exit(error) == 0 ? common::kExitOk : common::kExitUsage;
  }

  for (char& c : port) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const updater::Job job{file, device.empty() ? port : device, baud};
  const Mode mode = send->parsed() ? Mode::MODE_SEND : receive->parsed() ? Mode::MODE_RECEIVE : Mode::MODE_UPDATE;
  // The window refuses such a file when it is chosen; here --force takes it
  // for the odd file that is right all the same.
  if (const std::string problem = FileProblem(mode, file); !force && !problem.empty()) {
    std::fprintf(stderr, "updater-cli: Не тот Файл! %s (--force takes it all the same)\n", problem.c_str());
    return common::kExitRefused;
  }
  return Run(mode, job);
}
