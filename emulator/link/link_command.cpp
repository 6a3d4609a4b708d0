#include "emulator/link/link_command.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>

#include "common/exit_codes.h"
#include "emulator/core/line.h"
#include "emulator/core/stop_signals.h"
#include "emulator/link/receiver.h"
#include "emulator/link/link_wire.h"
#include "emulator/link/sample_database.h"

namespace emulator {
namespace {

std::atomic<bool> g_stop{false};  // set by SIGINT / SIGTERM
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnLinkStopSignal(int) { g_stop.store(true); }

struct LinkSettings {
  std::string linkPath;
  bool paced = false;
  std::string databaseFile;
  std::string writeSample;
  LinkOptions receiver;
};

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

int Run(LinkSettings& s) {
  if (!s.writeSample.empty()) {
    const auto sample = SampleDatabaseImage();
    std::ofstream out(s.writeSample, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(sample.data()), static_cast<std::streamsize>(sample.size()));
    if (!out) {
      std::cerr << "receiver-emulator: cannot write " << s.writeSample << "\n";
      return common::kExitFile;
    }
    if (s.linkPath.empty()) return 0;
  }
  if (s.linkPath.empty()) {
    std::cerr << "receiver-emulator: a PATH for the line is needed\n";
    return common::kExitUsage;
  }
  if (s.databaseFile.empty()) {
    s.receiver.databaseImage = SampleDatabaseImage();
  } else if (!ReadWholeFile(s.databaseFile, s.receiver.databaseImage)) {
    std::cerr << "receiver-emulator: cannot read " << s.databaseFile << "\n";
    return common::kExitFile;
  }
  s.receiver.log = [](const std::string& line) { std::cout << "receiver-emulator: " << line << std::endl; };

  if (s.receiver.faults.damageFrame > 0 && !DownloadDamageShows(s.receiver.downloadBlockSize)) {
    std::cerr << "receiver-emulator: note: download frames of " << s.receiver.downloadBlockSize
              << " bytes overflow the 12-bit length field, and the tool takes them without their checksum: "
                 "--damage-frame shows in a download only with --block-size "
              << wire::kCheckedPayload << " or less\n";
  }
  Line line({s.linkPath, s.paced});
  if (!line.Ok()) {
    std::cerr << "receiver-emulator: " << line.Error() << "\n";
    return 1;
  }
  const StopSignals signals(OnLinkStopSignal);

  std::cout << "receiver-emulator: receiver on " << line.DevicePath() << " (" << line.Pty().SlavePath() << ")"
            << (s.paced ? ", paced" : "") << std::endl;
  LinkReceiver receiver(line, s.receiver);
  receiver.Serve(g_stop);
  std::cout << "receiver-emulator: " << (g_stop.load() ? "stopped" : "line gone") << std::endl;
  return 0;
}

}  // namespace

Command AddLinkCommand(CLI::App& app, const PathChecks& paths) {
  auto settings = std::make_shared<LinkSettings>();
  LinkOptions& r = settings->receiver;
  LinkFaults& f = r.faults;
  f.nakTimes = 1;  // with --nak-block alone: refused once
  CLI::App* sub = app.add_subcommand("link", "Play a receiver on TORVIX's link protocol");
  sub->add_option("path", settings->linkPath, "Where the line appears (a symbolic link to the pseudo-terminal)");
  sub->add_flag("--paced", settings->paced, "Take the real line time of every byte at the tool's bit rate");
  sub->add_option("--hardware", r.hardwareText, "Hardware version text (first four digits: the hardware number)")
      ->capture_default_str();
  sub->add_option("--software", r.softwareText, "Software version text")->capture_default_str();
  sub->add_option("--id-frames", r.identificationFrames, "Send the identification in this many frames")
      ->check(CLI::Range(1, 96))
      ->capture_default_str();
  sub->add_option("--database", settings->databaseFile, "Database image to send (default: the built-in sample)")
      ->check(paths.ExistingFile());
  sub->add_option("--block-size", r.downloadBlockSize, "Payload bytes per download frame")
      ->check(CLI::Range(1, 4096))
      ->capture_default_str();
  sub->add_option("--write-sample", settings->writeSample, "Write the built-in sample database image to this file");
  sub->add_option("--store-software", r.softwareOut, "Store each received software stream in this file");
  sub->add_option("--store-factory", r.factoryOut, "Store each received factory image in this file");
  sub->add_option("--ignore", f.ignoreRequests, "Fault: stay silent to the first N requests");
  sub->add_option("--ready-delay", f.readyDelayMs, "Fault: acknowledge an announce, say ready MS later");
  sub->add_option("--damage-frame", f.damageFrame, "Fault: send data frame K once with a wrong checksum");
  sub->add_option("--nak-block", f.nakBlock, "Fault: refuse upload block K (see --nak-times)");
  sub->add_option("--nak-times", f.nakTimes, "Fault: how often --nak-block refuses")->capture_default_str();
  sub->add_option("--unexpected-code", f.unexpectedCode, "Fault: answer the first request with this code")
      ->check(CLI::Range(0, 65535));
  sub->add_flag("--nak-end", f.nakEnd, "Fault: refuse the end code of an upload");
  sub->add_option("--vanish-after", f.vanishAfterBlocks, "Fault: close the line after K blocks of a transfer");
  return {sub, [settings] { return Run(*settings); }};
}

}  // namespace emulator
