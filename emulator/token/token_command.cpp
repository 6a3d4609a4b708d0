#include "emulator/token/token_command.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>

#include "common/exit_codes.h"
#include "emulator/core/stop_signals.h"
#include "emulator/token/token_receiver.h"

namespace emulator {
namespace {

struct Settings {
  std::string role;
  std::string link;
  bool paced = false;
  std::string model = "DB4EU";
  std::string announcement = "UP2SW";
  std::string imageFile;
  std::string storeDir;
  std::string fault = "none";
  int faultBlock = 1;
  std::vector<int> delaysMs = {0, 0, 0};
  int sessions = 0;
  int patienceMs = 60000;
};

const std::map<std::string, TokenRole> kRoles = {
    {"send", TokenRole::kAcceptSettings},
    {"receive", TokenRole::kServeSettings},
    {"update", TokenRole::kAcceptSoftware},
};

const std::map<std::string, TokenFault> kFaults = {
    {"none", TokenFault::kNone},
    {"silent", TokenFault::kSilent},
    {"wrong-model", TokenFault::kWrongModel},
    {"bad-crc", TokenFault::kBadCrc},
    {"block-257", TokenFault::kOversizedBlock},
    {"short-image", TokenFault::kShortImage},
    {"no-header-ack", TokenFault::kNoHeaderAck},
    {"slow-completion", TokenFault::kNone},  // delays only, see below
};

// A slow receiver: its second completion stage comes after 101 s, beyond
// every limit Updater allows.
constexpr int kSlowStageMs = 101000;
// Longest wait, after the last session, for the tool to close the line.
constexpr std::chrono::milliseconds kLingerLimit{10000};
constexpr std::chrono::milliseconds kNoLimit{-1};

// The receiver a signal stops; set while sessions run.
std::atomic<TokenReceiver*> running{nullptr};
static_assert(std::atomic<TokenReceiver*>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
  if (TokenReceiver* receiver = running.load()) receiver->Stop();
}

// "\0" in an announcement stands for a zero byte.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '0') {
      out += '\0';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool Store(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

int Run(const Settings& s) {
  TokenOptions options;
  options.role = kRoles.at(s.role);
  options.fault = kFaults.at(s.fault);
  options.faultBlock = s.faultBlock;
  options.modelToken = s.model;
  options.announcement = Unescape(s.announcement);
  if (options.modelToken.size() != 5 || options.announcement.size() != 5) {
    std::fprintf(stderr, "model token and announcement must be five bytes\n");
    return common::kExitUsage;
  }
  for (std::size_t i = 0; i < 3 && i < s.delaysMs.size(); ++i) {
    options.stageDelays[i] = std::chrono::milliseconds(s.delaysMs[i]);
  }
  if (s.fault == "slow-completion") options.stageDelays[1] = std::chrono::milliseconds(kSlowStageMs);
  options.patience = std::chrono::milliseconds(s.patienceMs);
  if (options.role == TokenRole::kServeSettings) {
    if (s.imageFile.empty()) {
      options.image = TokenReceiver::SampleImage();
    } else {
      std::ifstream in(s.imageFile, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "cannot read %s\n", s.imageFile.c_str());
        return common::kExitFile;
      }
      options.image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (options.image.size() > kLargestServedImage) {
        std::fprintf(stderr, "%s: %zu bytes; a settings image has at most %zu (65535 blocks of 256)\n",
                     s.imageFile.c_str(), options.image.size(), kLargestServedImage);
        return common::kExitUsage;
      }
    }
  }

  Line line(Line::Options{s.link, s.paced});
  if (!line.Ok()) {
    std::fprintf(stderr, "%s\n", line.Error().c_str());
    return 2;
  }
  TokenReceiver receiver(line, options);
  running.store(&receiver);
  const StopSignals signals(OnStopSignal);
  std::printf("device: %s\n", line.DevicePath().c_str());
  std::fflush(stdout);

  bool allCompleted = true;
  for (int n = 1; s.sessions == 0 || n <= s.sessions; ++n) {
    // A session per tool: the next begins once the last one's tool has let go.
    if (n > 1 && !receiver.ReleaseLine(kNoLimit)) break;
    const TokenSession session = receiver.RunSession();
    if (receiver.Stopped() && !session.completed) break;
    allCompleted = allCompleted && session.completed;
    // What the session moved: the image it served, or what it took in.
    const bool serving = options.role == TokenRole::kServeSettings;
    std::printf("session %d: %s, %zu bytes %s%s%s\n", n, session.completed ? "completed" : "failed",
                serving ? session.sent : session.received.size(), serving ? "sent" : "received",
                session.error.empty() ? "" : ": ", session.error.c_str());
    if (!s.storeDir.empty() && !session.received.empty()) {
      const std::string name = s.storeDir + "/" + (options.role == TokenRole::kAcceptSoftware ? "software-" : "settings-") +
                               std::to_string(n) + (options.role == TokenRole::kAcceptSoftware ? ".wsw" : ".wdb");
      if (!Store(name, session.received)) std::fprintf(stderr, "cannot write %s\n", name.c_str());
    }
    std::fflush(stdout);
  }
  // Closing the line would throw away what the tool has not read yet (the
  // last completion token of a settings send): wait for it to let go.
  receiver.ReleaseLine(kLingerLimit);
  running.store(nullptr);
  return allCompleted ? 0 : 1;
}

std::vector<std::string> Keys(const auto& map) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : map) keys.push_back(key);
  return keys;
}

}  // namespace

Command AddTokenCommand(CLI::App& app, const PathChecks& paths) {
  auto settings = std::make_shared<Settings>();
  CLI::App* sub = app.add_subcommand("updater", "Play a receiver for Updater's token protocol");
  sub->add_option("--role", settings->role, "What the tool does: send, receive or update")
      ->required()
      ->check(CLI::IsMember(Keys(kRoles)));
  CLI::Option* linkPath =
      sub->add_option("path", settings->link, "Make the device reachable at this path (a symbolic link)");
  sub->add_option("--link", settings->link, "The same as PATH")->excludes(linkPath);
  sub->add_flag("--paced", settings->paced, "Take the line time of every byte at the tool's bit rate");
  sub->add_option("--model", settings->model, "Model token (five characters)")->capture_default_str();
  sub->add_option("--announce", settings->announcement, "Software-update announcement, \\0 for a zero byte")->capture_default_str();
  sub->add_option("--image", settings->imageFile, "Settings image served to a receiving tool (default: built-in)")
      ->check(paths.ExistingFile());
  sub->add_option("--store", settings->storeDir, "Folder to store what each session received")
      ->check(paths.ExistingDirectory());
  sub->add_option("--fault", settings->fault, "Misbehave: " + CLI::detail::join(Keys(kFaults), ", "))->capture_default_str()
      ->check(CLI::IsMember(Keys(kFaults)));
  sub->add_option("--fault-block", settings->faultBlock, "Block the bad-crc and block-257 faults hit")->capture_default_str();
  sub->add_option("--delays", settings->delaysMs, "Milliseconds before each of the three completion tokens")
      ->expected(3);
  sub->add_option("--sessions", settings->sessions, "Sessions to play, 0 for no limit")->capture_default_str();
  sub->add_option("--patience", settings->patienceMs,
                  "Longest wait for a tool that has come to say something, ms (-1: none); a session also ends "
                  "when its tool closes the line")
      ->capture_default_str();
  return Command{sub, [settings] { return Run(*settings); }};
}

}  // namespace emulator
