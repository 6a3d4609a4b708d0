#include "torvix/channels/sample_lists.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <numeric>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "torvix/database/field_limits.h"
#include "torvix/database/records.h"

namespace torvix::channels {

namespace {

// splitmix64: small, fast, and the same numbers everywhere (the standard
// distributions are not).
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 to n - 1; n > 0.
  int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
  bool OneIn(int n) { return Below(n) == 0; }

 private:
  std::uint64_t state_;
};

enum class Band { kKu, kC };

struct RealSatellite {
  const char* name;
  int angle;  // tenths of a degree
  bool west;
  Band band;
};

// clang-format off
constexpr RealSatellite kRealSatellites[] = {
    {"ASTRA 1", 192, false, Band::kKu},   {"HOTBIRD", 130, false, Band::kKu},    {"ASTRA 2", 282, false, Band::kKu},
    {"ASTRA 3", 235, false, Band::kKu},   {"EUTEL 9E", 90, false, Band::kKu},   {"EUTEL 16E", 160, false, Band::kKu},
    {"TURKSAT", 420, false, Band::kKu},   {"HISPASAT", 300, true, Band::kKu},   {"THOR", 8, true, Band::kKu},
    {"AMOS", 40, true, Band::kKu},        {"NILESAT", 70, true, Band::kKu},     {"BADR", 260, false, Band::kKu},
    {"EUTEL 7E", 70, false, Band::kKu},   {"EUTEL 36E", 360, false, Band::kKu}, {"YAMAL 402", 549, false, Band::kKu},
    {"EXPRESS", 400, false, Band::kKu},   {"ABS 2", 750, false, Band::kKu},     {"YAHSAT", 525, false, Band::kKu},
    {"ARABSAT", 305, false, Band::kKu},   {"IS 12", 450, false, Band::kKu},     {"HELLAS", 390, false, Band::kKu},
    {"EUTEL 5W", 50, true, Band::kKu},    {"EUTEL 8W", 80, true, Band::kKu},    {"TELSTAR", 150, true, Band::kKu},
    {"AZERSPACE", 460, false, Band::kKu}, {"BELINTSAT", 515, false, Band::kKu}, {"EUTEL 10E", 100, false, Band::kKu},
    {"EUTEL 21B", 215, false, Band::kKu}, {"EUTEL 33E", 330, false, Band::kKu}, {"ASTRA 4A", 48, false, Band::kKu},
    {"EUTEL 3B", 31, false, Band::kKu},   {"HYLAS", 335, true, Band::kKu},      {"NSS 7", 200, true, Band::kKu},
    {"SES 4", 220, true, Band::kKu},      {"IS 905", 245, true, Band::kKu},     {"ABS 3A", 30, true, Band::kKu},
    {"ASIASAT 5", 1005, false, Band::kC}, {"APSTAR 7", 765, false, Band::kC},   {"INSAT 4A", 830, false, Band::kC},
    {"EXPRESS C", 530, false, Band::kC},  {"IS 20", 685, false, Band::kC},      {"IS 10-02", 10, true, Band::kC},
};

struct ServiceName {
  const char* name;
  bool pay;
};

constexpr ServiceName kTvNames[] = {
    {"Das Erste", false}, {"ZDF", false}, {"RTL", false}, {"SAT.1", false}, {"ProSieben", false},
    {"kabel eins", false}, {"VOX", false}, {"RTL ZWEI", false}, {"arte", false}, {"3sat", false},
    {"KiKA", false}, {"phoenix", false}, {"n-tv", false}, {"WELT", false}, {"Eurosport 1", false},
    {"DMAX", false}, {"TLC", false}, {"SIXX", false}, {"Tele 5", false}, {"ServusTV", false},
    {"ORF1", true}, {"ORF2", true}, {"SRF 1", true}, {"BBC One", false}, {"BBC Two", false},
    {"ITV1", false}, {"Channel 4", false}, {"Channel 5", false}, {"Sky News", false}, {"CNN Int.", false},
    {"BBC World", false}, {"France 24", false}, {"TV5MONDE", false}, {"RAI 1", false}, {"RAI 2", false},
    {"RAI 3", false}, {"Rete 4", false}, {"Canale 5", false}, {"Italia 1", false}, {"La7", false},
    {"TVE Int.", false}, {"Antena 3", true}, {"Cuatro", true}, {"Telecinco", true}, {"TRT 1", false},
    {"TRT Haber", false}, {"Kanal D", false}, {"Star TV", false}, {"Show TV", false}, {"ATV", false},
    {"TVP Polonia", false}, {"Polsat", true}, {"TVN", true}, {"CT 1", true}, {"Nova", true},
    {"Markiza", true}, {"RTS 1", false}, {"HRT 1", false}, {"MTV", true}, {"VH1", true},
    {"Nickelodeon", false}, {"Cartoon Netw.", true}, {"Disney", true}, {"Discovery", true}, {"NatGeo", true},
    {"History", true}, {"Animal Planet", true}, {"Al Jazeera", false}, {"Al Arabiya", false}, {"Dubai TV", false},
    {"MBC 1", false}, {"Rotana", false}, {"Nile TV", false}, {"ERT World", false}, {"Alpha", false},
    {"Mega", false}, {"RTP Int.", false}, {"SIC", false}, {"NHK World", false}, {"CCTV 4", false},
    {"Arirang", false}, {"DW", false}, {"euronews", false}, {"Bloomberg", false}, {"CNBC", false},
    {"Fashion TV", false}, {"Travel", false}, {"QVC", false}, {"HSE", false}, {"Sonnenklar", false},
    {"Bibel TV", false}, {"EWTN", false}, {"Perviy", false}, {"Rossiya 1", false}, {"NTV Mir", false},
    {"RTR Planeta", false}, {"Karusel", false}, {"Inter", false}, {"1+1", false}, {"Ukraina", false},
    {"Belarus 24", false}, {"Kazakh TV", false}, {"AzTV", false}, {"Armenia 1", false}, {"Imedi", false},
    {"Sky Cinema", true}, {"Sky Sport", true}, {"Sky Atlantic", true}, {"Canal+", true}, {"Canal+ Sport", true},
    {"Cine+", true}, {"Digi Sport", true}, {"beIN Sports", true}, {"OSN Movies", true}, {"Nova Sport", true},
    {"HBO", true}, {"Cinemax", true}, {"Fox", true}, {"AXN", true}, {"Sky Krimi", true},
    {"13th Street", true}, {"Syfy", true}, {"Universal", true}, {"Eurosport 2", true}, {"TV 1000", true},
};

constexpr const char* kRadioNames[] = {
    "Bayern 1", "Bayern 3", "WDR 2", "NDR 2", "SWR3", "hr3", "Antenne Bayern", "BBC Radio 1", "BBC Radio 4",
    "Classic FM", "Radio 538", "RTL Radio", "Radio Swiss", "Oe1", "Oe3", "FM4", "DLF", "DLF Kultur", "Radio Maria",
    "RAI Radio 1", "France Inter", "NRJ", "Europe 1", "RFI", "BBC WS", "Radio Rossii", "Radio Mayak", "Polskie Radio",
    "Radio Sawa", "Radio Vatican", "Kiss FM", "Jazz FM", "Klassik Radio", "Radio Paloma", "Schlagerradio",
    "sunshine live", "Energy", "Radio Bob", "bigFM", "Radio Gong",
};
// clang-format on

// Names of the satellites beyond the real ones: a series and a number.
constexpr const char* kSeries[] = {"IS", "SES", "ABS", "NSS", "EUTEL", "YAMAL", "AMOS", "BADR", "APSTAR", "JCSAT", "MEASAT"};

constexpr int kSymbolRatesKu[] = {27500, 22000, 27500, 29900, 30000, 27500, 23000, 22000};
constexpr int kSymbolRatesC[] = {27500, 30000, 28800, 4340, 26666};
constexpr std::uint8_t kFecs[] = {3, 4, 2, 3, 0, 5, 3};  // 3/4 is the most common
constexpr std::uint8_t kKvrsFavorites[] = {1, 2, 3, 4, 8, 0x81, 255};

// Services may name only the first 256 transponders of a satellite.
constexpr int kMaxTransponderPosition = kTpIndexMax;

// Cuts `name` so that `suffix` fits behind it within the reader's longest service name.
std::string Named(std::string_view name, std::string_view suffix) {
  std::string base(name.substr(0, kServiceNameMax - std::min(suffix.size(), kServiceNameMax)));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  return base + std::string(suffix);
}

struct SatellitePlan {
  std::string name;
  int angle;
  bool west;
  Band band;
};

// The satellites: the real ones first, then positions of our own along the
// arc; with three or more, the second is named twice (one position, two names).
std::vector<SatellitePlan> SatellitePlans(int count) {
  std::vector<SatellitePlan> plans;
  std::vector<int> used;  // signed tenths, east positive
  for (const RealSatellite& s : kRealSatellites) {
    if (static_cast<int>(plans.size()) == count) break;
    plans.push_back({s.name, s.angle, s.west, s.band});
    used.push_back(s.west ? -s.angle : s.angle);
  }
  for (int grid = -300; static_cast<int>(plans.size()) < count; grid += 5) {
    if (std::find(used.begin(), used.end(), grid) != used.end()) continue;
    const int angle = grid < 0 ? -grid : grid;
    const bool west = grid < 0;
    const std::size_t n = plans.size();
    std::string name = std::string(kSeries[n % std::size(kSeries)]) + " " + std::to_string(n / std::size(kSeries) + 1);
    plans.push_back({name, angle, west, Band::kKu});
  }
  if (count >= 3) {
    // Inserted behind its twin; the last one drops out to keep the count.
    plans.insert(plans.begin() + 2, SatellitePlan{"EUTEL HB", plans[1].angle, plans[1].west, plans[1].band});
    plans.pop_back();
  }
  return plans;
}

// `n` distinct frequency and polarization slots of the band, in frequency order.
std::vector<std::pair<int, bool>> TransponderSlots(Random& random, Band band, int n) {
  // Ku: 10714 to 12750 MHz, every 9.75 MHz, polarizations alternating;
  // C: 3700 to 4200 MHz, every 10 MHz.  More slots than the band has go
  // round again 1 MHz higher.
  const int perRound = band == Band::kKu ? 208 : 50;
  const int total = std::max(perRound, n);
  std::vector<int> slots(static_cast<std::size_t>(total));
  std::iota(slots.begin(), slots.end(), 0);
  for (int i = 0; i < n; ++i) std::swap(slots[static_cast<std::size_t>(i)], slots[static_cast<std::size_t>(i + random.Below(total - i))]);
  slots.resize(static_cast<std::size_t>(n));
  std::vector<std::pair<int, bool>> result;
  for (int slot : slots) {
    const int inRound = slot % perRound;
    const int round = slot / perRound;
    const int frequency = band == Band::kKu ? 10714 + (inRound * 975 + 50) / 100 + round : 3700 + inRound * 10 + round;
    result.emplace_back(frequency, inRound % 2 == 0);  // true: horizontal
  }
  std::sort(result.begin(), result.end());
  return result;
}

// How many services each of `n` transponders carries: uneven, as real
// transponders are, and `services` in all.
std::vector<int> ServiceCounts(Random& random, int n, int services) {
  std::vector<int> weights(static_cast<std::size_t>(n));
  long long total = 0;
  for (int& w : weights) total += (w = 1 + random.Below(16));
  std::vector<int> counts(static_cast<std::size_t>(n));
  int given = 0;
  for (int i = 0; i < n; ++i) {
    counts[static_cast<std::size_t>(i)] = static_cast<int>(services * weights[static_cast<std::size_t>(i)] / total);
    given += counts[static_cast<std::size_t>(i)];
  }
  for (int i = random.Below(n); given < services; i = (i + 1) % n, ++given) ++counts[static_cast<std::size_t>(i)];
  return counts;
}

}  // namespace

SampleOptions MaximalSample(Layout layout, std::uint64_t seed) {
  const ChannelList empty(layout);
  SampleOptions options;
  options.layout = layout;
  options.satellites = empty.Room(Table::kSatellites);
  options.transponders = empty.Room(Table::kTransponders);
  options.services = empty.Room(Table::kServices);
  options.antennas = empty.Room(Table::kAntennas);
  options.seed = seed;
  return options;
}

std::string CheckSampleOptions(const SampleOptions& options) {
  const ChannelList empty(options.layout);
  const char* layout = options.layout == Layout::kKvrs ? "KVRS" : "basic";
  const struct {
    int count;
    Table table;
    const char* what;
  } tables[] = {{options.satellites, Table::kSatellites, "satellites"},
                {options.transponders, Table::kTransponders, "transponders"},
                {options.services, Table::kServices, "services"},
                {options.antennas, Table::kAntennas, "antennas"}};
  if (options.layout == Layout::kBasic && options.antennas > 0) return "antennas exist in the KVRS layout only";
  for (const auto& t : tables) {
    if (t.count < 0) return std::string("a negative number of ") + t.what;
    if (t.count > empty.Room(t.table)) {
      return "at most " + std::to_string(empty.Room(t.table)) + " " + t.what + " in the " + layout + " layout";
    }
  }
  if (options.transponders > 0 && options.satellites == 0) return "transponders need a satellite";
  if (options.services > 0 && options.transponders == 0) return "services need a transponder";
  return "";
}

ChannelList MakeSampleList(const SampleOptions& options) {
  Random random(options.seed);
  const bool kvrs = options.layout == Layout::kKvrs;
  ChannelList list(options.layout);

  // Antennas (KVRS): a DiSEqC switch of four ports per dish, now and then a
  // motorised dish or a C-band one.
  std::vector<ItemId> antennaIds;
  if (kvrs) {
    for (int k = 0; k < options.antennas; ++k) {
      Antenna a;
      a.id = list.NewId();
      const bool cBand = k % 16 == 15;
      a.record.lnb_low = cBand ? 5150 : 9750;
      a.record.lnb_high = cBand ? 5150 : 10600;
      a.record.universal_lnb = !cBand;
      if (k % 8 == 7) {
        a.record.antenna_type = 2;  // actuator
      } else {
        a.record.antenna_type = 1;  // DiSEqC
        a.record.diseqc = {true, static_cast<std::uint8_t>(k % 4)};
      }
      antennaIds.push_back(a.id);
      list.mutableAntennas().push_back(a);
    }
  }

  // Satellites and their transponders: an even share each, the first ones
  // one more.
  const std::vector<SatellitePlan> plans = SatellitePlans(options.satellites);
  struct Placed {
    ItemId id;
    int satellite;  // index in plans
  };
  std::vector<Placed> placed;
  for (int i = 0; i < options.satellites; ++i) {
    const SatellitePlan& plan = plans[static_cast<std::size_t>(i)];
    Satellite s;
    s.id = list.NewId();
    s.record.name = plan.name;
    s.record.angle = static_cast<std::uint16_t>(plan.angle);
    s.record.east_west = plan.west;
    s.record.universal_lnb = plan.band == Band::kKu;
    s.record.lnb_low = plan.band == Band::kKu ? 9750 : 5150;
    s.record.lnb_high = plan.band == Band::kKu ? 10600 : 5150;
    if (kvrs) {
      s.record.diseqc_1_2 = i % 8 == 7;  // the motorised dish's satellites
    } else {
      s.record.diseqc = {true, static_cast<std::uint8_t>(i % 4)};
    }
    list.mutableSatellites().push_back(s);

    const int share = options.transponders / options.satellites + (i < options.transponders % options.satellites);
    const std::vector<std::pair<int, bool>> slots = TransponderSlots(random, plan.band, share);
    const std::size_t first = list.transponders().size();
    for (int k = 0; k < share; ++k) {
      Transponder t;
      t.id = list.NewId();
      t.satellite = s.id;
      t.record.frequency = static_cast<std::uint16_t>(slots[static_cast<std::size_t>(k)].first);
      t.record.polarization = slots[static_cast<std::size_t>(k)].second;
      if (plan.band == Band::kKu) {
        t.record.symbolrate = static_cast<std::uint16_t>(kSymbolRatesKu[random.Below(std::size(kSymbolRatesKu))]);
        t.record.tone_22khz = t.record.frequency >= 11700;  // the high band
      } else {
        t.record.symbolrate = static_cast<std::uint16_t>(kSymbolRatesC[random.Below(std::size(kSymbolRatesC))]);
      }
      t.record.volt_14_18 = t.record.polarization;  // 18 V horizontal, 14 V vertical
      t.record.fec = kFecs[random.Below(std::size(kFecs))];
      list.mutableTransponders().push_back(t);
      if (k < kMaxTransponderPosition) placed.push_back({t.id, i});
    }
    // One transponder listed twice, as a scan that ran twice leaves it.
    if (i == 0 && share >= 10) list.mutableTransponders().back().record = list.transponders()[first].record;
  }

  // Services: transponder by transponder, TV with now and then a radio
  // service, ids counting up from each transponder's first.
  if (options.services > 0) {
    const std::vector<int> counts = ServiceCounts(random, static_cast<int>(placed.size()), options.services);
    int nextTv = random.Below(static_cast<int>(std::size(kTvNames)));
    int tvRound = 0;
    int nextRadio = random.Below(static_cast<int>(std::size(kRadioNames)));
    int radioRound = 0;
    for (std::size_t p = 0; p < placed.size(); ++p) {
      const int count = counts[p];
      const int firstId = std::min(1000 + static_cast<int>(p) * 29 % 60000, 65535 - count);
      for (int k = 0; k < count; ++k) {
        Service sv;
        sv.id = list.NewId();
        sv.transponder = placed[p].id;
        ServiceRecord& r = sv.record;
        r.service_id = static_cast<std::uint16_t>(firstId + k);
        r.tv_radio = random.OneIn(5);
        if (r.tv_radio) {
          r.name = Named(kRadioNames[nextRadio], radioRound == 0 ? "" : " " + std::to_string(radioRound + 1));
          if (++nextRadio == static_cast<int>(std::size(kRadioNames))) nextRadio = 0, ++radioRound;
          r.audio_pid = static_cast<std::uint16_t>(2000 + 4 * (k % 1500));
          r.pcr_pid = r.audio_pid;
        } else {
          const ServiceName& name = kTvNames[nextTv];
          r.name = Named(name.name, tvRound == 0 ? "" : " " + std::to_string(tvRound + 1));
          if (++nextTv == static_cast<int>(std::size(kTvNames))) nextTv = 0, ++tvRound;
          r.video_pid = static_cast<std::uint16_t>(160 + 16 * (k % 500));
          r.audio_pid = static_cast<std::uint16_t>(r.video_pid + 1 + random.Below(3));
          r.pcr_pid = r.video_pid;
          if (random.OneIn(3)) r.txt_pid = static_cast<std::uint16_t>(r.video_pid + 5);
          r.scramble = name.pay || random.OneIn(12);
        }
        if (random.OneIn(9)) r.favorite = kvrs ? kKvrsFavorites[random.Below(std::size(kKvrsFavorites))] : 1;
        r.lock = random.OneIn(60);
        if (kvrs) {
          if (antennaIds.empty()) {
            r.ant_index = 255;  // "0" in the text: no antenna
          } else {
            const int a = placed[p].satellite % static_cast<int>(antennaIds.size());
            sv.antenna = antennaIds[static_cast<std::size_t>(a)];
            r.ant_index = static_cast<std::uint8_t>(a);
          }
        }
        list.mutableServices().push_back(sv);
      }
      // A name cut to fit may meet another one on the transponder: such a
      // service is called by its id instead.
      std::unordered_set<std::string> names;
      auto& all = list.mutableServices();
      for (auto sv = all.end() - count; sv != all.end(); ++sv) {
        if (!names.insert(sv->record.name).second) {
          sv->record.name = (sv->record.tv_radio ? "Radio " : "TV ") + std::to_string(sv->record.service_id);
          names.insert(sv->record.name);
        }
      }
    }
  }

  // Two services that a technician would want to clean up: the first one
  // listed again at the end, and a name given twice on one transponder.
  std::vector<Service>& services = list.mutableServices();
  if (services.size() >= 10) {
    Service copy = services.front();
    copy.id = services.back().id;
    services.back() = copy;
    for (std::size_t k = services.size() / 2; k + 2 < services.size(); ++k) {
      if (services[k].transponder == services[k + 1].transponder) {
        services[k + 1].record.name = services[k].record.name;
        break;
      }
    }
  }
  return list;
}

}  // namespace torvix::channels
