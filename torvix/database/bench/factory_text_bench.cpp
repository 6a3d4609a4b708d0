// Compile and print times of the largest factory-data file (64 antennas, 128
// satellites, 2048 transponders, 3200 services).
#include <benchmark/benchmark.h>

#include <memory>

#include "torvix/database/factory_text_reader.h"
#include "torvix/database/tests/sample_texts.h"

namespace {

void BM_CompileMaximalFile(benchmark::State& state) {
  const std::string text = torvix::testing::MaximalKvrsText();
  auto image = std::make_unique<torvix::DatabaseImage>();
  for (auto _ : state) {
    const auto result = torvix::testing::Compile(text, *image);
    if (result.code != torvix::FT_OK) state.SkipWithError(result.message.c_str());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CompileMaximalFile)->Unit(benchmark::kMillisecond);

void BM_PrintMaximalImage(benchmark::State& state) {
  auto image = std::make_unique<torvix::DatabaseImage>();
  torvix::testing::Compile(torvix::testing::MaximalKvrsText(), *image);
  for (auto _ : state) benchmark::DoNotOptimize(torvix::testing::Print(*image));
}
BENCHMARK(BM_PrintMaximalImage)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
