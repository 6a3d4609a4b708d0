// A 2 MiB software update to the unpaced emulated receiver over a
// pseudo-terminal: time per record, and that time as a share of what the
// bytes would take on a 115200 bit/s line.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/testing/test_support.h"
#include "emulator/token/served_token_session.h"
#include "updater/transport/workers.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class QuietHost : public updater::WorkerHost {
 public:
  QuietHost() : WorkerHost(flags_) {}
  void AddStatusLine(const std::string&) override {}
  void SetProgressRange(int, int) override {}
  void SetProgressStep(int) override {}
  void SetProgressPosition(int) override {}
  void SetSecondsText(const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  void StartTimer(updater::TimerId) override { Flags().secondsCounter = 0; }
  void StopTimers() override {}
  void WorkerEnded() override {}

 private:
  updater::SharedFlags flags_;
};

constexpr std::size_t kFileSize = 2 * 1024 * 1024;
constexpr std::uint32_t kPayload = 4096 - 16;
constexpr double kLineBitsPerByte = 10.0;  // 8N1
constexpr double kLineRate = 115200.0;

// A .wsw file of about 2 MiB in records of 4 KiB; returns the record count
// (0 when it could not be written).
std::size_t MakeFile(const std::string& path) {
  Bytes file = {0x55, 0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::size_t records = 0;
  while (file.size() + kPayload + 16 <= kFileSize) {
    const Bytes header = {0x5A, 0x5A, static_cast<std::uint8_t>(records >> 8), static_cast<std::uint8_t>(records),
                          0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(kPayload >> 8),
                          static_cast<std::uint8_t>(kPayload)};
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), kPayload + 4, static_cast<std::uint8_t>(records));
    ++records;
  }
  file[10] = static_cast<std::uint8_t>(records >> 8);
  file[11] = static_cast<std::uint8_t>(records);
  return common::testing::WriteFile(path, std::string(file.begin(), file.end())) ? records : 0;
}

void BM_Update2MiB(benchmark::State& state) {
  const common::testing::TempFolder dir("updater-bench");
  const std::string path = dir / "bench.wsw";
  const std::size_t records = dir.Ok() ? MakeFile(path) : 0;
  if (records == 0) {
    state.SkipWithError("cannot write the software file");
    return;
  }
  // Bytes on the wire in both directions: file, announcements, tokens.
  const double wireBytes = static_cast<double>(kFileSize) + records * (14.0 + 4 * 5.0) + 6 * 5.0;
  double seconds = 0;
  for (auto _ : state) {
    emulator::TokenOptions options;
    options.role = emulator::TokenRole::kAcceptSoftware;
    emulator::ServedTokenSession receiver(emulator::Line::Options{}, options);
    QuietHost host;
    updater::UpdaterPort port;
    const auto start = std::chrono::steady_clock::now();
    const auto outcome = updater::UpdateSoftware(updater::Job{path, receiver.DevicePath(), 115200}, port, host);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    receiver.Finish();
    if (outcome != updater::Outcome::kSucceeded) state.SkipWithError("update failed");
  }
  const double perRun = seconds / static_cast<double>(state.iterations());
  state.counters["records"] = static_cast<double>(records);
  state.counters["us_per_record"] = perRun / static_cast<double>(records) * 1e6;
  state.counters["share_of_line_time"] = perRun / (wireBytes * kLineBitsPerByte / kLineRate);
}
BENCHMARK(BM_Update2MiB)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
