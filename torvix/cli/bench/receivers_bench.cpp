// torvix-cli's upgrade on several receivers at once, and with a protocol
// trace, against emulators on pseudo-terminals, through the command's own code.
//
// BM_Receivers/N/paced: N receivers upgraded at once, through the runner
// both command lines share.  Counters:
//   per_receiver_s   mean of the receivers' own seconds (the result events)
//   wall_per_receiver_s  the whole run's time divided by N
// Compare N=8 and N=32 with N=1: paced, per_receiver_s must not grow by more
// than 1 % (the line is the limit, and receivers side by side must not slow
// each other, 32 being what a factory bench carries); unpaced (what the tool
// and the pty cost, two cores for 16 threads), wall_per_receiver_s must not
// exceed one receiver's time by 5 %.
// BM_Trace/paced: one receiver, without and with --trace in turns; goal:
// on_vs_off within 1.01 paced, as on a real line.  Unpaced the run lasts
// some 50 ms on cores that the emulator, the job and the trace's writer
// thread share, and the ratio shows that sharing more than the records.
// BM_TraceRecord: the cost of one record to the line's thread, which is
// what a trace adds to its timing.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include "emulator/link/sample_database.h"
#include "emulator/link/served_receiver.h"
#include "common/trace_file.h"
#include "torvix/cli/receiver_commands.h"
#include "torvix/link/rom_image.h"
#include "torvix/ops/database_factory_text.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kUnpacedImage = 2 * 1024 * 1024;  // a real image's size
// The shortest image an upgrade sends (it must reach the flag byte): about
// 3 minutes on the line.
constexpr std::size_t kPacedImage = torvix::kMinRomImageSize;

fs::path Folder() {
  static const fs::path dir = [] {
    char pattern[] = "/tmp/torvix-receivers-bench-XXXXXX";
    return fs::path(::mkdtemp(pattern) != nullptr ? pattern : "/tmp");
  }();
  return dir;
}

std::string Rom(std::size_t size) {
  const fs::path path = Folder() / ("rom-" + std::to_string(size) + ".bin");
  if (!fs::exists(path)) {
    std::string rom(size, '\0');
    for (std::size_t i = 0; i < size; ++i) rom[i] = static_cast<char>(i * 13);
    rom.replace(0, torvix::kRomMagicT.size(), torvix::kRomMagicT);
    std::ofstream(path, std::ios::binary) << rom;
  }
  return path.string();
}

// N emulated receivers, each on its own line and thread.
class Receivers {
 public:
  Receivers(int n, bool paced) {
    for (int i = 0; i < n; ++i) {
      emulator::LinkOptions options;
      options.databaseImage = emulator::SampleDatabaseImage();
      served_.push_back(std::make_unique<emulator::ServedLinkReceiver>(
          emulator::Line::Options{(Folder() / ("rx" + std::to_string(i + 1))).string(), paced}, options));
    }
  }
  std::vector<std::string> DeviceArgs() const {
    std::vector<std::string> args;
    for (const auto& r : served_) args.insert(args.end(), {"--device", r->DevicePath()});
    return args;
  }

 private:
  std::vector<std::unique_ptr<emulator::ServedLinkReceiver>> served_;
};

// Runs torvix-cli in-process; returns the exit code and the receivers' seconds.
int RunCli(std::vector<std::string> args, std::vector<double>& seconds) {
  CLI::App app;
  int exitCode = -1;
  torvix::DatabaseFactoryText text;
  torvix::cli::ReceiverCommandSettings settings;
  settings.factoryText = &text;
  settings.out = std::tmpfile();
  settings.err = std::fopen("/dev/null", "w");
  settings.in = nullptr;
  torvix::cli::AddReceiverCommands(app, exitCode, settings);
  args.push_back("--json");
  std::reverse(args.begin(), args.end());
  app.parse(args);
  std::rewind(settings.out);
  char line[4096];
  while (std::fgets(line, sizeof line, settings.out) != nullptr) {
    const auto event = nlohmann::json::parse(line, nullptr, false);
    if (event.is_object() && event.value("event", "") == "result") seconds.push_back(event["seconds"]);
  }
  std::fclose(settings.out);
  std::fclose(settings.err);
  return exitCode;
}

std::vector<std::string> UpgradeArgs(std::size_t size) {
  return {"upgrade", "--mode", "4", Rom(size), "--access-code", std::string(torvix::kFactoryAccessCode)};
}

void BM_Receivers(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const bool paced = state.range(1) != 0;
  Receivers receivers(n, paced);
  double perReceiver = 0;
  double wall = 0;
  for (auto _ : state) {
    auto args = UpgradeArgs(paced ? kPacedImage : kUnpacedImage);
    const auto devices = receivers.DeviceArgs();
    args.insert(args.end(), devices.begin(), devices.end());
    std::vector<double> seconds;
    const auto start = Clock::now();
    if (RunCli(args, seconds) != 0 || static_cast<int>(seconds.size()) != n) state.SkipWithError("upgrade failed");
    wall += std::chrono::duration<double>(Clock::now() - start).count();
    for (const double s : seconds) perReceiver += s / n;
  }
  state.counters["per_receiver_s"] = perReceiver / static_cast<double>(state.iterations());
  state.counters["wall_per_receiver_s"] = wall / static_cast<double>(state.iterations()) / n;
}
BENCHMARK(BM_Receivers)->Args({1, 0})->Args({8, 0})->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Receivers)
    ->Args({1, 1})
    ->Args({8, 1})
    ->Args({32, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Runs without and with a trace in turns, so that a machine whose load
// drifts weighs on both alike; "on_vs_off" is the ratio of their sums.
void BM_Trace(benchmark::State& state) {
  const bool paced = state.range(0) != 0;
  Receivers receivers(1, paced);
  double off = 0;
  double on = 0;
  for (auto _ : state) {
    for (const bool traced : {false, true}) {
      auto args = UpgradeArgs(paced ? kPacedImage : kUnpacedImage);
      const auto devices = receivers.DeviceArgs();
      args.insert(args.end(), devices.begin(), devices.end());
      if (traced) args.insert(args.end(), {"--trace", (Folder() / "trace.log").string()});
      std::vector<double> seconds;
      const auto start = Clock::now();
      if (RunCli(args, seconds) != 0) state.SkipWithError("upgrade failed");
      (traced ? on : off) += std::chrono::duration<double>(Clock::now() - start).count();
    }
  }
  state.counters["off_s"] = off / static_cast<double>(state.iterations());
  state.counters["on_s"] = on / static_cast<double>(state.iterations());
  state.counters["on_vs_off"] = on / off;
}
BENCHMARK(BM_Trace)->Arg(0)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Trace)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// What tracing costs the thread that uses the line: one record (a frame's
// name, length and first bytes) handed to a trace file.  An unpaced 2 MiB
// upgrade makes about 1030 records in roughly 300 ms: 1 % of that is 3 ms,
// about 3 us a record.
void BM_TraceRecord(benchmark::State& state) {
  common::TraceFile trace;
  trace.Open((Folder() / "records.log").string(), "records");
  const std::uint8_t frame[16] = {0, 0x30, 0x0f, 0xf8, 0, 0x1f, 0xff, 0xd6, 1, 2, 3, 4, 5, 6, 7, 8};
  for (auto _ : state) {
    trace.Record(Clock::now(), common::WireDirection::kSent, "DATA", 4100, frame, sizeof frame);
  }
  trace.Close();
}
BENCHMARK(BM_TraceRecord);

}  // namespace

BENCHMARK_MAIN();
