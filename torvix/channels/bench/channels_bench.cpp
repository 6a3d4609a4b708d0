// The channel-list editor's operations on the maximal KVRS list (128
// satellites, 2048 transponders, 3200 services, 64 antennas) from the
// generator: open a text and fill the tables, one edit, a move of 100 rows,
// undo, redo, a filter keystroke, find duplicates, save, and the difference
// of two maximal lists.
#include <benchmark/benchmark.h>

#include <cctype>
#include <string>
#include <vector>

#include "common/testing/test_support.h"
#include "torvix/channels/channel_document.h"
#include "torvix/channels/duplicates.h"
#include "torvix/channels/list_diff.h"
#include "torvix/channels/list_fields.h"
#include "torvix/channels/sample_lists.h"

namespace {

using namespace torvix::channels;

const ChannelList& Maximal(std::uint64_t seed = 1) {
  static const ChannelList lists[] = {MakeSampleList(MaximalSample(Layout::kKvrs, 1)),
                                      MakeSampleList(MaximalSample(Layout::kKvrs, 2))};
  return lists[seed == 1 ? 0 : 1];
}

std::vector<ItemId> ServiceIds(const ChannelList& list, std::size_t first, std::size_t count) {
  std::vector<ItemId> ids;
  for (std::size_t i = first; i < first + count && i < list.services().size(); ++i) ids.push_back(list.services()[i].id);
  return ids;
}

// Every cell of every table as text, as the window's tables show them.
std::size_t FillTables(const ChannelList& list) {
  std::size_t bytes = 0;
  auto fill = [&](Table table, const auto& records) {
    for (const auto& r : records) {
      for (const ColumnInfo& c : Columns(table, list.layout())) bytes += CellText(list, table, r.id, c.field).size();
    }
  };
  fill(Table::kSatellites, list.satellites());
  fill(Table::kTransponders, list.transponders());
  fill(Table::kServices, list.services());
  fill(Table::kAntennas, list.antennas());
  return bytes;
}

void BM_OpenTextAndFillTables(benchmark::State& state) {
  const std::string text = WriteText(Maximal());
  for (auto _ : state) {
    OpenResult opened = ListFromText(text);
    if (!opened.list) {
      state.SkipWithError(opened.message.c_str());
      break;
    }
    benchmark::DoNotOptimize(FillTables(*opened.list));
  }
}
BENCHMARK(BM_OpenTextAndFillTables)->Unit(benchmark::kMillisecond);

void BM_SetCell(benchmark::State& state) {
  ChannelDocument document(Maximal());
  const ItemId id = document.list().services()[1600].id;
  int n = 0;
  for (auto _ : state) {
    if (!document.SetCell(Table::kServices, id, Field::kServiceName, ++n % 2 ? "Renamed" : "Named")) {
      state.SkipWithError("SetCell refused");
      break;
    }
  }
}
BENCHMARK(BM_SetCell)->Unit(benchmark::kMillisecond);

void BM_Move100Rows(benchmark::State& state) {
  ChannelDocument document(Maximal());
  const std::vector<ItemId> ids = ServiceIds(document.list(), 1500, 100);
  int n = 0;
  for (auto _ : state) {
    if (!document.Move(Table::kServices, ids, ++n % 2 ? 1 : -1)) {
      state.SkipWithError("Move refused");
      break;
    }
  }
}
BENCHMARK(BM_Move100Rows)->Unit(benchmark::kMillisecond);

// Undo and redo of a move of 100 rows, each timed alone.
void BM_UndoMove100Rows(benchmark::State& state) {
  ChannelDocument document(Maximal());
  document.Move(Table::kServices, ServiceIds(document.list(), 1500, 100), 1);
  for (auto _ : state) {
    document.Undo();
    state.PauseTiming();
    document.Redo();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_UndoMove100Rows)->Unit(benchmark::kMillisecond);

void BM_RedoMove100Rows(benchmark::State& state) {
  ChannelDocument document(Maximal());
  document.Move(Table::kServices, ServiceIds(document.list(), 1500, 100), 1);
  document.Undo();
  for (auto _ : state) {
    document.Redo();
    state.PauseTiming();
    document.Undo();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_RedoMove100Rows)->Unit(benchmark::kMillisecond);

// One keystroke in the filter field: every service matched by its name
// (any case), its id or one of its PIDs, through the cells' texts.
void BM_FilterKeystroke(benchmark::State& state) {
  const ChannelList& list = Maximal();
  const std::string typed = "sp";
  const Field byNumber[] = {Field::kServiceId, Field::kVideoPid, Field::kAudioPid, Field::kPcrPid,
                            Field::kTeletextPid};
  for (auto _ : state) {
    std::size_t shown = 0;
    for (const Service& s : list.services()) {
      std::string name = CellText(list, Table::kServices, s.id, Field::kServiceName);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      bool match = name.find(typed) != std::string::npos;
      for (Field f : byNumber) match = match || CellText(list, Table::kServices, s.id, f) == typed;
      shown += match;
    }
    benchmark::DoNotOptimize(shown);
  }
}
BENCHMARK(BM_FilterKeystroke)->Unit(benchmark::kMillisecond);

void BM_FindDuplicates(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(FindDuplicates(Maximal()));
}
BENCHMARK(BM_FindDuplicates)->Unit(benchmark::kMillisecond);

void BM_Save(benchmark::State& state) {
  common::testing::TempFolder folder("channels-bench");
  const std::string path = folder / "list.txt";
  for (auto _ : state) {
    if (const std::string error = SaveListFile(Maximal(), path); !error.empty()) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);

// Two maximal lists from different seeds: nearly everything differs.
void BM_DiffTwoMaximalLists(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(DiffLines(Diff(Maximal(1), Maximal(2))));
}
BENCHMARK(BM_DiffTwoMaximalLists)->Unit(benchmark::kMillisecond);

// A maximal list against itself with 100 services renamed.
void BM_DiffEditedCopy(benchmark::State& state) {
  ChannelList edited = Maximal();
  for (std::size_t i = 0; i < 100; ++i) edited.mutableServices()[i * 30].record.name += "+";
  for (auto _ : state) benchmark::DoNotOptimize(DiffLines(Diff(Maximal(), edited)));
}
BENCHMARK(BM_DiffEditedCopy)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
