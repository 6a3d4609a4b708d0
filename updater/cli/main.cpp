// updater-cli: Updater's three operations from the command line.
//
//   updater-cli send FILE.wdb    [--port COMn | --device PATH] [--baud RATE]
//   updater-cli receive FILE.wdb [--port COMn | --device PATH] [--baud RATE]
//   updater-cli update FILE.wsw  [--port COMn | --device PATH]
//
// The operation runs on a worker thread exactly as behind the window; the
// console shows its status lines and progress.  Ctrl-C is the stop button:
// it asks the mode's question and, on yes, asks the operation to stop at its
// next safe point.  Exit code 0 only when the operation succeeded.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "updater/cli/console_host.h"
#include "updater/transport/updater_port.h"
#include "updater/transport/workers.h"

namespace {

using updater::Mode;

// Self-pipe: the signal handler and the worker's end both wake the main thread.
int wakePipe[2] = {-1, -1};
constexpr char kStopPressed = 's';
constexpr char kWorkerEnded = 'e';

extern "C" void OnInterrupt(int) {
  const int saved = errno;
  [[maybe_unused]] const auto ignored = ::write(wakePipe[1], &kStopPressed, 1);
  errno = saved;
}

struct Question {
  const char* caption;
  const char* text;
};

Question QuestionFor(Mode mode) {
  switch (mode) {
    case Mode::MODE_SEND: return {"  ПРЕРВАТЬ Отправку", "Вы хотите отменить загрузку?       "};
    case Mode::MODE_RECEIVE: return {"ПРЕРВАТЬ Получение!  ", "Вы хотите отменить Получение?        "};
    case Mode::MODE_UPDATE: break;
  }
  return {"  ПРЕРВАТЬ Обновление  ", "Вы хотите отменить Обновление?      "};
}

bool IsYes(const std::string& answer) {
  for (const char* yes : {"д", "Д", "да", "Да", "y", "Y", "yes", "Yes"}) {
    if (answer == yes) return true;
  }
  return false;
}

// Reads one answer line from stdin, or sees the worker end or a second Ctrl-C
// first.  End of input, or a second Ctrl-C, counts as yes: a stop request
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

int Run(Mode mode, const updater::Job& job) {
  if (::pipe2(wakePipe, O_CLOEXEC) != 0) {
    std::perror("pipe");
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);

  updater::SharedFlags flags;
  updater::cli::ConsoleHost host(flags, mode, stdout, ::isatty(STDOUT_FILENO) == 1);
  updater::UpdaterPort port;
  std::atomic<updater::Outcome> outcome{updater::Outcome::kFailed};
  std::thread worker([&] {
    switch (mode) {
      case Mode::MODE_SEND: outcome = updater::SendSettings(job, port, host); break;
      case Mode::MODE_RECEIVE: outcome = updater::ReceiveSettings(job, port, host); break;
      case Mode::MODE_UPDATE: outcome = updater::UpdateSoftware(job, port, host); break;
    }
    [[maybe_unused]] const auto ignored = ::write(wakePipe[1], &kWorkerEnded, 1);
  });

  for (bool running = true; running;) {
    char c = 0;
    const ssize_t r = ::read(wakePipe[0], &c, 1);
    if (r < 0 && errno == EINTR) continue;
    if (r != 1 || c == kWorkerEnded) break;
    // The stop button: the worker goes on while the question is open.
    const Question question = QuestionFor(mode);
    host.Ask(question.caption, question.text);
    const Answer answer = ReadAnswer();
    std::fputs("\n", stdout);
    host.EndAsk();
    switch (answer) {
      case Answer::kYes:
        flags.cancelRequested = true;
        host.AddStatusLine("Подождите .............");
        port.Interrupt();
        break;
      case Answer::kNo:
        flags.cancelRequested = false;
        break;
      case Answer::kWorkerEnded:
        running = false;
        break;
    }
  }
  worker.join();
  ::signal(SIGINT, SIG_DFL);
  return outcome == updater::Outcome::kSucceeded ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Updater: settings transfer and software update of a satellite receiver"};
  app.require_subcommand(1);
  std::string file;
  std::string port = "COM1";
  std::string device;
  std::uint32_t baud = updater::kDefaultBaudRate;

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
  };
  CLI::App* send = app.add_subcommand("send", "Send a settings file into the receiver");
  CLI::App* receive = app.add_subcommand("receive", "Receive the receiver's settings into a file");
  CLI::App* update = app.add_subcommand("update", "Update the receiver's software (always 115200 bit/s)");
  addCommon(send, true);
  addCommon(receive, true);
  addCommon(update, false);
  CLI11_PARSE(app, argc, argv);

  for (char& c : port) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const updater::Job job{file, device.empty() ? port : device, baud};
  const Mode mode = send->parsed() ? Mode::MODE_SEND : receive->parsed() ? Mode::MODE_RECEIVE : Mode::MODE_UPDATE;
  return Run(mode, job);
}
