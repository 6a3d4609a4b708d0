// Recording and reading on a history that already holds a million rows (a
// station's years), and eight processes recording into one file at once.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "common/history/history.h"
#include "common/history/sqlite.h"
#include "common/testing/test_support.h"

namespace {

constexpr int kRows = 1'000'000;

history::Start Operation(std::string unit) {
  history::Start start;
  start.program = "torvix-cli";
  start.version = "1.0.0";
  start.operation = "upgrade";
  start.port = "COM1";
  start.unit = std::move(unit);
  return start;
}

// The million-row file, made once per run: 10,000 units of 100 operations
// each, one every 30 s through 2026-2027, all finished.
const std::string& MillionRows() {
  static common::testing::TempFolder folder("rt-history-bench");
  static const std::string path = [] {
    const std::string file = folder / "history.sqlite";
    history::Recorder({true, file}, {}).Begin(Operation("first")).Finish(history::kOk, 0);
    history::sqlite::Connection db;
    db.Open(file, history::sqlite::Connection::Mode::kReadWrite, std::chrono::seconds(5));
    const auto status = db.Exec(
        "BEGIN;"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kRows - 1) + ") "
        "INSERT INTO history (started, ended, duration_ms, program, version, operation, port, result, exit_code, "
        "operator, station, unit, pid, boot_id, process_start, uuid) "
        "SELECT strftime('%Y-%m-%dT%H:%M:%fZ', '2026-01-01', '+' || (i * 30) || ' seconds'), "
        "strftime('%Y-%m-%dT%H:%M:%fZ', '2026-01-01', '+' || (i * 30 + 20) || ' seconds'), 20000, 'updater-cli', "
        "'1.0.0', 'update-software', 'COM' || (1 + i % 8), 'ok', 0, 'anna', 'another-station', 'U' || (i % 10000), "
        "1, 'b', 's', lower(hex(randomblob(16))) FROM n;"
        "COMMIT;");
    if (!status.Ok()) std::abort();
    return file;
  }();
  return path;
}

void BM_RecordOnMillionRows(benchmark::State& state) {
  history::Recorder recorder({true, MillionRows()}, [&](const std::string& w) { state.SkipWithError(w.c_str()); });
  int n = 0;
  for (auto _ : state) {
    history::Entry entry = recorder.Begin(Operation("bench-" + std::to_string(n++)));
    entry.SetVersions("HW", "SW");
    entry.Finish(history::kOk, 0);
  }
}
BENCHMARK(BM_RecordOnMillionRows)->Unit(benchmark::kMillisecond)->MinTime(2);

void Query(benchmark::State& state, const history::Filter& filter, std::size_t expected) {
  const std::string& path = MillionRows();
  for (auto _ : state) {
    const auto result = history::Query(path, filter);
    if (!result.ok || result.rows.size() != expected) state.SkipWithError("unexpected answer");
    benchmark::DoNotOptimize(result.rows.data());
  }
}

void BM_QueryByUnit(benchmark::State& state) {
  history::Filter filter;
  filter.unit = "U4321";
  Query(state, filter, 50);
}
BENCHMARK(BM_QueryByUnit)->Unit(benchmark::kMillisecond);

void BM_QueryByUnitAllRows(benchmark::State& state) {
  history::Filter filter;
  filter.unit = "U4321";
  filter.limit = 0;
  Query(state, filter, 100);
}
BENCHMARK(BM_QueryByUnitAllRows)->Unit(benchmark::kMillisecond);

void BM_QuerySince(benchmark::State& state) {
  history::Filter filter;
  filter.since = "2026-06-01";
  Query(state, filter, 50);
}
BENCHMARK(BM_QuerySince)->Unit(benchmark::kMillisecond);

void BM_QuerySinceAndUntilADay(benchmark::State& state) {
  history::Filter filter;
  filter.since = filter.until = "2026-06-01";
  filter.limit = 0;
  Query(state, filter, 2880);
}
BENCHMARK(BM_QuerySinceAndUntilADay)->Unit(benchmark::kMillisecond);

// Eight processes, 50 operations each, into a fresh file; every row must be
// there once.
void BM_EightWritersAtOnce(benchmark::State& state) {
  constexpr int kWriters = 8, kEach = 50;
  for (auto _ : state) {
    common::testing::TempFolder folder("rt-history-bench");
    const std::string path = folder / "history.sqlite";
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
      const pid_t child = fork();
      if (child == 0) {
        bool warned = false;
        {
          history::Recorder recorder({true, path}, [&](const std::string&) { warned = true; });
          for (int i = 0; i < kEach; ++i) recorder.Begin(Operation(std::to_string(w))).Finish(history::kOk, 0);
        }
        _exit(warned ? 1 : 0);
      }
      children.push_back(child);
    }
    bool clean = true;
    for (pid_t child : children) {
      int status = 0;
      clean = waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0 && clean;
    }
    history::Filter all;
    all.limit = 0;
    const auto rows = history::Query(path, all).rows;
    if (!clean || rows.size() != kWriters * kEach) state.SkipWithError("rows lost");
  }
  state.counters["rows"] = kWriters * kEach;
}
BENCHMARK(BM_EightWritersAtOnce)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
