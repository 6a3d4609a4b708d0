// The tools on the channel-list model: duplicates and their removal, the
// difference of two lists and copying it in, and the generated lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "torvix/channels/duplicates.h"
#include "torvix/channels/list_diff.h"
#include "torvix/channels/sample_lists.h"
#include "torvix/database/factory_text_reader.h"

namespace torvix::channels {
namespace {

// A small list built by hand, with names to find its records by.
class Builder {
 public:
  explicit Builder(Layout layout = Layout::kBasic) : list(layout) {}

  ItemId Sat(const char* name, int angle, bool west = false) {
    Satellite s;
    s.id = list.NewId();
    s.record.name = name;
    s.record.angle = static_cast<std::uint16_t>(angle);
    s.record.east_west = west;
    s.record.lnb_low = 9750;
    s.record.lnb_high = 10600;
    s.record.universal_lnb = true;
    list.mutableSatellites().push_back(s);
    return s.id;
  }
  // Appended behind the satellite's other transponders.
  ItemId Tp(ItemId satellite, int frequency, bool horizontal, int symbolrate = 27500) {
    Transponder t;
    t.id = list.NewId();
    t.satellite = satellite;
    t.record.frequency = static_cast<std::uint16_t>(frequency);
    t.record.polarization = horizontal;
    t.record.symbolrate = static_cast<std::uint16_t>(symbolrate);
    auto& all = list.mutableTransponders();
    auto last = std::find_if(all.rbegin(), all.rend(), [&](const Transponder& x) { return x.satellite == satellite; });
    all.insert(last == all.rend() ? all.end() : last.base(), t);
    return t.id;
  }
  ItemId Sv(ItemId transponder, const char* name, int serviceId, int videoPid = 0) {
    Service s;
    s.id = list.NewId();
    s.transponder = transponder;
    s.record.name = name;
    s.record.service_id = static_cast<std::uint16_t>(serviceId);
    s.record.video_pid = static_cast<std::uint16_t>(videoPid);
    list.mutableServices().push_back(s);
    return s.id;
  }
  Service& service(ItemId id) {
    return *std::find_if(list.mutableServices().begin(), list.mutableServices().end(),
                         [id](const Service& s) { return s.id == id; });
  }

  ChannelList list;
};

// ASTRA 1 (19.2E) with 11778 H, 11953 H, 12188 V; HOTBIRD (13.0E) with
// 11034 V; four services.
struct Base {
  Builder b;
  ItemId astra, hotbird, t11778, t11953, t12188, t11034, zdf, rtl, sat1, rai;
  Base() {
    astra = b.Sat("ASTRA 1", 192);
    hotbird = b.Sat("HOTBIRD", 130);
    t11778 = b.Tp(astra, 11778, false);
    t11953 = b.Tp(astra, 11953, true);
    t12188 = b.Tp(astra, 12188, true);
    t11034 = b.Tp(hotbird, 11034, false);
    zdf = b.Sv(t11953, "ZDF", 28006, 110);
    rtl = b.Sv(t12188, "RTL", 12003, 163);
    sat1 = b.Sv(t12188, "SAT.1", 17500, 255);
    rai = b.Sv(t11034, "RAI 1", 3401, 512);
  }
};

struct ExpectedGroup {
  Table table;
  std::string reason;
  int keep;  // index into the case's named records
  std::vector<int> extra;
};

TEST(Duplicates, FoundGroupedAndInListOrder) {
  // Each case adds records to Base; `named` lists the ids the expectations index.
  struct Case {
    const char* name;
    std::function<std::vector<ItemId>(Base&)> add;
    std::vector<ExpectedGroup> expected;
  };
  const Case cases[] = {
      {"none in the base list", [](Base&) { return std::vector<ItemId>{}; }, {}},
      {"same service id on one transponder, listed three times",
       [](Base& x) {
         return std::vector<ItemId>{x.zdf, x.b.Sv(x.t11953, "ZDF HD", 28006), x.b.Sv(x.t11953, "ZDF", 28006)};
       },
       {{Table::kServices, "service id 28006 on ASTRA 1 19.2E 11953 H", 0, {1, 2}}}},
      {"same service id on another transponder is no duplicate",
       [](Base& x) {
         x.b.Sv(x.t11778, "ZDF", 28006);
         return std::vector<ItemId>{};
       },
       {}},
      {"same name on one transponder, an empty name twice is none",
       [](Base& x) {
         x.b.Sv(x.t11778, "", 1);
         x.b.Sv(x.t11778, "", 2);
         return std::vector<ItemId>{x.rtl, x.b.Sv(x.t12188, "RTL", 12090)};
       },
       {{Table::kServices, "same name 'RTL' on ASTRA 1 19.2E 12188 H", 0, {1}}}},
      {"a service counted once though it repeats both id and name",
       [](Base& x) {
         return std::vector<ItemId>{x.sat1, x.b.Sv(x.t12188, "SAT.1", 17500)};
       },
       {{Table::kServices, "service id 17500 on ASTRA 1 19.2E 12188 H", 0, {1}}}},
      {"transponder: same frequency and polarization on one satellite only",
       [](Base& x) {
         x.b.Tp(x.hotbird, 11953, true);  // another satellite
         x.b.Tp(x.astra, 11953, false);   // other polarization
         return std::vector<ItemId>{x.t11953, x.b.Tp(x.astra, 11953, true, 22000)};
       },
       {{Table::kTransponders, "transponder ASTRA 1 19.2E 11953 H", 0, {1}}}},
      {"satellites at one position, 0.0 east and west alike",
       [](Base& x) {
         const ItemId thor = x.b.Sat("THOR", 0, true);
         return std::vector<ItemId>{x.hotbird, x.b.Sat("EUTEL HB", 130), thor, x.b.Sat("ZERO", 0)};
       },
       {{Table::kSatellites, "orbital position 13.0E", 0, {1}}, {Table::kSatellites, "orbital position 0.0W", 2, {3}}}},
      {"tables in order, each group by its kept record's position",
       [](Base& x) {
         const ItemId laterName = x.b.Sv(x.t11034, "RAI 1", 3402);
         const ItemId laterId = x.b.Sv(x.t11953, "ZDF neo", 28006);
         const ItemId tp = x.b.Tp(x.hotbird, 11034, false);
         return std::vector<ItemId>{x.zdf, laterId, x.rai, laterName, x.t11034, tp};
       },
       {{Table::kTransponders, "transponder HOTBIRD 13.0E 11034 V", 4, {5}},
        {Table::kServices, "service id 28006 on ASTRA 1 19.2E 11953 H", 0, {1}},
        {Table::kServices, "same name 'RAI 1' on HOTBIRD 13.0E 11034 V", 2, {3}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Base base;
    const std::vector<ItemId> named = c.add(base);
    const std::vector<DuplicateGroup> groups = FindDuplicates(base.b.list);
    ASSERT_EQ(groups.size(), c.expected.size());
    for (std::size_t i = 0; i < groups.size(); ++i) {
      const ExpectedGroup& e = c.expected[i];
      EXPECT_EQ(groups[i].table, e.table);
      EXPECT_EQ(groups[i].reason, e.reason);
      EXPECT_EQ(groups[i].keep, named[static_cast<std::size_t>(e.keep)]);
      std::vector<ItemId> extra;
      for (int k : e.extra) extra.push_back(named[static_cast<std::size_t>(k)]);
      EXPECT_EQ(groups[i].extra, extra);
    }
  }
}

TEST(Duplicates, RemovalKeepsEveryServiceOfARemovedSatelliteOrTransponder) {
  Base x;
  // A second name for HOTBIRD's position with 11034 V (same as the kept
  // one's) and 12111 H (which the kept one lacks), each with a service; a
  // second 11953 H on ASTRA with a service; a service listed twice.
  const ItemId twin = x.b.Sat("EUTEL HB", 130);
  const ItemId twin11034 = x.b.Tp(twin, 11034, false);
  const ItemId twin12111 = x.b.Tp(twin, 12111, true);
  const ItemId onTwin11034 = x.b.Sv(twin11034, "RAI 2", 3402);
  const ItemId onTwin12111 = x.b.Sv(twin12111, "TRT 1", 701);
  const ItemId second11953 = x.b.Tp(x.astra, 11953, true);
  const ItemId onSecond11953 = x.b.Sv(second11953, "ZDFinfo", 28011);
  x.b.Sv(x.t12188, "RTL", 12003);  // twice

  const ChannelList& before = x.b.list;
  const ChannelList after = WithoutDuplicates(before, FindDuplicates(before));

  auto transponderOf = [&](ItemId service) {
    for (const Service& s : after.services()) {
      if (s.id == service) return s.transponder;
    }
    return kNoItem;
  };
  EXPECT_TRUE(FindDuplicates(after).empty());
  EXPECT_EQ(after.satellites().size(), 2u);
  EXPECT_EQ(after.services().size(), before.services().size() - 1);
  EXPECT_EQ(transponderOf(onTwin11034), x.t11034);     // onto the kept satellite's 11034 V
  EXPECT_EQ(transponderOf(onSecond11953), x.t11953);   // onto the first 11953 H
  EXPECT_EQ(transponderOf(onTwin12111), twin12111);    // the transponder itself moved
  // The table stays satellite by satellite: HOTBIRD's block is 11034 V, then the moved 12111 H.
  std::vector<std::pair<ItemId, ItemId>> table;
  for (const Transponder& t : after.transponders()) table.emplace_back(t.satellite, t.id);
  const std::vector<std::pair<ItemId, ItemId>> expected{{x.astra, x.t11778},
                                                        {x.astra, x.t11953},
                                                        {x.astra, x.t12188},
                                                        {x.hotbird, x.t11034},
                                                        {x.hotbird, twin12111}};
  EXPECT_EQ(table, expected);
}

TEST(ListDiff, LinesByIdentityInStableOrder) {
  struct Case {
    const char* name;
    std::function<void(Base&)> change;  // on list B
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"the same list", [](Base&) {}, {}},
      {"order alone is no difference",
       [](Base& x) {
         auto& s = x.b.list.mutableServices();
         std::reverse(s.begin(), s.end());
       },
       {}},
      {"changed fields, old and new values",
       [](Base& x) {
         x.b.service(x.zdf).record.video_pid = 111;
         x.b.service(x.rtl).record.name = "RTL HD";
         x.b.service(x.rtl).record.scramble = true;
         x.b.list.mutableTransponders()[1].record.symbolrate = 22000;
       },
       {"transponder 11953 H on ASTRA 1 19.2E: symbol rate 27500 -> 22000",
        "service \"ZDF\" on 11953 H: video PID 110 -> 111", "service \"RTL\" on 12188 H: name \"RTL\" -> \"RTL HD\"",
        "service \"RTL\" on 12188 H: scrambled no -> yes"}},
      {"a new service id is another service",
       [](Base& x) { x.b.service(x.sat1).record.service_id = 17501; },
       {"- service \"SAT.1\" on 12188 H", "+ service \"SAT.1\" on 12188 H"}},
      {"a removed transponder takes its services along",
       [](Base& x) {
         auto& t = x.b.list.mutableTransponders();
         t.erase(t.begin() + 2);
         auto& s = x.b.list.mutableServices();
         std::erase_if(s, [&](const Service& v) { return v.transponder == x.t12188; });
       },
       {"- transponder 12188 H on ASTRA 1 19.2E", "- service \"RTL\" on 12188 H", "- service \"SAT.1\" on 12188 H"}},
      {"a satellite renamed is another satellite with other transponders",
       [](Base& x) { x.b.list.mutableSatellites()[1].record.name = "HOT BIRD"; },
       {"- satellite HOTBIRD 13.0E", "+ satellite HOT BIRD 13.0E", "- transponder 11034 V on HOTBIRD 13.0E",
        "+ transponder 11034 V on HOT BIRD 13.0E", "- service \"RAI 1\" on 11034 V", "+ service \"RAI 1\" on 11034 V"}},
      {"one key twice pairs up in order; the second copy is added",
       [](Base& x) {
         x.b.Sv(x.t11953, "ZDF", 28006, 110);
         x.b.list.setAntennaConfig(2);
       },
       {"default switch configuration: none -> 2", "+ service \"ZDF\" on 11953 H"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Base a;
    Base b;
    c.change(b);
    EXPECT_EQ(DiffLines(DiffHeader(a.b.list, b.b.list), Diff(a.b.list, b.b.list)), c.lines);
  }
}

TEST(ListDiff, JsonHoldsTheSameDifferences) {
  Base a;
  Base b;
  b.b.service(b.zdf).record.video_pid = 111;
  b.b.Sv(b.t11778, "3sat", 28007);
  b.b.list.mutableServices().erase(b.b.list.mutableServices().begin() + 3);  // RAI 1
  const nlohmann::json json = nlohmann::json::parse(DiffJson(Diff(a.b.list, b.b.list)));
  EXPECT_EQ(json["added"], nlohmann::json::parse(R"([{"table":"service","key":"service \"3sat\" on 11778 V"}])"));
  EXPECT_EQ(json["removed"], nlohmann::json::parse(R"([{"table":"service","key":"service \"RAI 1\" on 11034 V"}])"));
  EXPECT_EQ(json["changed"], nlohmann::json::parse(R"([{"table":"service","key":"service \"ZDF\" on 11953 H",
      "fields":[{"field":"video PID","before":"110","after":"111"}]}])"));
}

// Sizes of generated lists the tests go through, both layouts.
std::vector<SampleOptions> SampleSizes() {
  std::vector<SampleOptions> sizes;
  for (Layout layout : {Layout::kBasic, Layout::kKvrs}) {
    const int antennas = layout == Layout::kKvrs ? 3 : 0;
    sizes.push_back({layout, 1, 1, 1, antennas, 3});
    sizes.push_back({layout, 2, 0, 0, antennas, 4});
    sizes.push_back({layout, 5, 37, 240, antennas, 5});
    sizes.push_back({layout, 1, 300, 900, 0, 6});  // more transponders than services may name
    sizes.push_back(MaximalSample(layout, 7));
  }
  return sizes;
}

TEST(SampleLists, SameSeedSameBytesAndTheReaderCompilesTheTextToCompile) {
  for (const SampleOptions& o : SampleSizes()) {
    SCOPED_TRACE(std::to_string(o.satellites) + "/" + std::to_string(o.transponders) + "/" +
                 std::to_string(o.services) + "/" + std::to_string(o.antennas) +
                 (o.layout == Layout::kKvrs ? " KVRS" : " basic"));
    ASSERT_EQ(CheckSampleOptions(o), "");
    const ChannelList list = MakeSampleList(o);
    EXPECT_EQ(list.Count(Table::kSatellites), o.satellites);
    EXPECT_EQ(list.Count(Table::kTransponders), o.transponders);
    EXPECT_EQ(list.Count(Table::kServices), o.services);
    EXPECT_EQ(list.Count(Table::kAntennas), o.layout == Layout::kKvrs ? o.antennas : 0);

    const std::string text = WriteText(list);
    EXPECT_EQ(WriteText(MakeSampleList(o)), text);
    SampleOptions other = o;
    ++other.seed;
    if (o.services > 0) {
      EXPECT_NE(WriteText(MakeSampleList(other)), text);
    }

    DatabaseImage read;
    MemoryByteSource raw(text);
    DosTextSource dos(raw);
    FactoryTextReader reader;
    ASSERT_EQ(reader.Read(dos, read), FT_OK) << reader.Message();
    const DatabaseImage compiled = list.Compile();
    EXPECT_EQ(std::memcmp(read.Data(), compiled.Data(), DatabaseImage::kSize), 0);
  }
}

TEST(SampleLists, MaximalListsHoldTheDeliberateDuplicatesAndDiffBackAndForth) {
  for (Layout layout : {Layout::kBasic, Layout::kKvrs}) {
    SCOPED_TRACE(layout == Layout::kKvrs ? "KVRS" : "basic");
    const ChannelList a = MakeSampleList(MaximalSample(layout, 1));
    int perTable[3] = {};
    for (const DuplicateGroup& g : FindDuplicates(a)) ++perTable[static_cast<int>(g.table)];
    EXPECT_EQ(perTable[0], 1);  // two names at one position
    EXPECT_EQ(perTable[1], 1);  // a transponder listed twice
    EXPECT_EQ(perTable[2], 2);  // a service listed twice, a name twice

    // Copying every difference of another list in leaves none.
    const ChannelList b = MakeSampleList(MaximalSample(layout, 2));
    const std::vector<Difference> differences = Diff(a, b);
    EXPECT_FALSE(differences.empty());
    EXPECT_TRUE(Diff(a, a).empty());
    EXPECT_TRUE(Diff(ApplyDifferences(a, b, differences), b).empty());
  }
}

TEST(SampleLists, RefusesWhatNoListHolds) {
  struct Case {
    SampleOptions options;
    const char* why;
  };
  const Case cases[] = {
      {{Layout::kBasic, 107, 120, 800, 0, 1}, "at most 106 satellites in the basic layout"},
      {{Layout::kKvrs, 8, 2049, 800, 8, 1}, "at most 2048 transponders in the KVRS layout"},
      {{Layout::kKvrs, 8, 120, 3201, 8, 1}, "at most 3200 services in the KVRS layout"},
      {{Layout::kBasic, 8, 120, 800, 1, 1}, "antennas exist in the KVRS layout only"},
      {{Layout::kKvrs, 8, 120, 800, 65, 1}, "at most 64 antennas in the KVRS layout"},
      {{Layout::kBasic, 0, 1, 0, 0, 1}, "transponders need a satellite"},
      {{Layout::kBasic, 1, 0, 1, 0, 1}, "services need a transponder"},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckSampleOptions(c.options), c.why);
}

}  // namespace
}  // namespace torvix::channels
