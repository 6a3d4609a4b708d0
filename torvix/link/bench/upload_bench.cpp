// Uploading a ROM image to the receiver emulator over a pseudo-terminal, at
// the link tool's own time limits.  Unpaced, the time is what the tool and
// the pty cost (goal: under 1% of the 2 MiB line time at 115200 bit/s, about
// 182 s).  Paced, the emulator takes the line time of every byte; the counter
// "vs_line_time" compares with the line time of all bytes that cross
// (goal: within 2%).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <string>

#include "common/testing/test_support.h"
#include "emulator/link/served_receiver.h"
#include "torvix/link/link_frame.h"
#include "torvix/link/link_jobs.h"

namespace {

using namespace torvix;

constexpr double kBitsPerByte = 10;  // 8N1
constexpr double kBaud = 115200;

class NullHost : public JobHost {
 public:
  void SetStatusText(const std::string&) override {}
  void SetProgressRange(std::uint16_t) override {}
  void SetProgressPosition(int) override {}
  void ShowMessageBox(const std::string&) override {}
  void PostJobResult(std::int32_t result) override { succeeded = result == JOB_RESULT_SUCCESS; }
  void PostClose() override {}
  bool succeeded = false;
};

// Bytes on the line for an upload of a file of `length` bytes: announce,
// ready, start, the data frames and their ACKs, the end code and its ACK.
double LineBytes(std::uint64_t length) {
  const std::uint64_t fileData = length - kRomImageHeaderSize;
  const std::uint64_t stream = fileData + kSoftwareSizePrefix;
  const std::uint64_t frames = std::max<std::uint64_t>(1, (fileData + kSoftwareBlockSize - 1) / kSoftwareBlockSize);
  return static_cast<double>(stream + frames * (16 + kCommandFrameSize) + 5 * kCommandFrameSize);
}

void UploadRomImage(benchmark::State& state) {
  const auto length = static_cast<std::uint64_t>(state.range(0));
  const bool paced = state.range(1) != 0;
  const common::testing::TempFolder folder("upload-bench");
  const std::string path = folder / "rom";
  if (!common::testing::WriteFile(path, std::string(length, 0x5A))) {
    state.SkipWithError("cannot write the ROM image");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    auto receiver = std::make_unique<emulator::ServedLinkReceiver>(emulator::Line::Options{"", paced},
                                                                   emulator::LinkOptions{});
    SerialPort port;
    port.Setup(1, SerialPort::kQueueSize, SerialPort::kQueueSize);
    port.SetDevicePath(receiver->DevicePath());
    ApplyPortLimits(port, JobLimits{});
    port.Open();
    RomImageFile file;
    file.Open(path);
    file.Seek(kRomImageHeaderSize);
    JobState jobState{JOB_RUNNING};
    NullHost host;
    LinkJob job;
    job.port = &port;
    job.state = &jobState;
    job.host = &host;
    job.imageFile = &file;
    state.ResumeTiming();

    UpgradeThreadProc(job);

    state.PauseTiming();
    if (!host.succeeded) state.SkipWithError("upload failed");
    receiver.reset();
    state.ResumeTiming();
  }
  const double lineSeconds = LineBytes(length) * kBitsPerByte / kBaud;
  state.counters["line_time_s"] = lineSeconds;
  state.counters["vs_line_time"] =
      benchmark::Counter(lineSeconds, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

constexpr std::int64_t kTwoMiB = 2 * 1024 * 1024;
BENCHMARK(UploadRomImage)->Args({kTwoMiB, 0})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(UploadRomImage)->Args({256 * 1024, 1})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(UploadRomImage)->Args({kTwoMiB, 1})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
