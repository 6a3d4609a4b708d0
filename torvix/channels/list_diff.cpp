#include "torvix/channels/list_diff.h"

#include <algorithm>
#include <span>
#include <unordered_map>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "torvix/channels/record_texts.h"

namespace torvix::channels {

namespace {

// What the fields of one list need: look-ups by id, the antennas' numbers,
// and every record's identity key.  Keys are byte strings whose parts are
// joined by a control character, which no name can hold.
class ListIndex {
 public:
  explicit ListIndex(const ChannelList& list) : list_(list) {
    for (const Satellite& s : list.satellites()) {
      satellites_[s.id] = &s;
      keys_[s.id] = std::to_string(SignedPosition(s.record)) + kJoin + s.record.name;
    }
    for (const Transponder& t : list.transponders()) {
      transponders_[t.id] = &t;
      keys_[t.id] = KeyOf(t.satellite) + kJoin + std::to_string(t.record.frequency) + kJoin +
                    (t.record.polarization ? "H" : "V");
    }
    for (const Service& s : list.services()) {
      services_[s.id] = &s;
      keys_[s.id] = KeyOf(s.transponder) + kJoin + std::to_string(s.record.service_id);
    }
    for (std::size_t i = 0; i < list.antennas().size(); ++i) {
      antennas_[list.antennas()[i].id] = &list.antennas()[i];
      antennaNumbers_[list.antennas()[i].id] = static_cast<int>(i) + 1;
      keys_[list.antennas()[i].id] = std::to_string(i + 1);
    }
  }

  const ChannelList& list() const { return list_; }
  std::string KeyOf(ItemId id) const {
    const auto it = keys_.find(id);
    return it == keys_.end() ? std::string() : it->second;
  }
  const Satellite* SatelliteOf(ItemId id) const {
    const auto it = satellites_.find(id);
    return it == satellites_.end() ? nullptr : it->second;
  }
  const Transponder* TransponderOf(ItemId id) const {
    const auto it = transponders_.find(id);
    return it == transponders_.end() ? nullptr : it->second;
  }
  const Service* ServiceOf(ItemId id) const {
    const auto it = services_.find(id);
    return it == services_.end() ? nullptr : it->second;
  }
  const Antenna* AntennaOf(ItemId id) const {
    const auto it = antennas_.find(id);
    return it == antennas_.end() ? nullptr : it->second;
  }
  // 1-based; 0 for no antenna.
  int AntennaNumber(ItemId id) const {
    const auto it = antennaNumbers_.find(id);
    return it == antennaNumbers_.end() ? 0 : it->second;
  }

  // How the keys read: "ASTRA 19.2E", "11778 H on ASTRA 19.2E".
  std::string SatelliteName(ItemId id) const {
    const Satellite* s = SatelliteOf(id);
    return s == nullptr ? "no satellite" : SatelliteText(s->record);
  }
  std::string TransponderName(ItemId id) const {
    const Transponder* t = TransponderOf(id);
    return t == nullptr ? "no transponder" : TransponderText(t->record);
  }

  static constexpr char kJoin = '\x1f';

 private:
  const ChannelList& list_;
  std::unordered_map<ItemId, const Satellite*> satellites_;
  std::unordered_map<ItemId, const Transponder*> transponders_;
  std::unordered_map<ItemId, const Service*> services_;
  std::unordered_map<ItemId, const Antenna*> antennas_;
  std::unordered_map<ItemId, int> antennaNumbers_;
  std::unordered_map<ItemId, std::string> keys_;
};

enum Layouts { kBoth, kBasicOnly, kKvrsOnly };

// One compared field of a record type R: its text, and how B's value is
// copied into A's record.
template <typename R>
struct FieldRule {
  Field field;
  const char* name;
  Layouts layouts;
  std::string (*text)(const ListIndex&, const R&);
  // `into` is the list that receives the value, `source` the list it comes from.
  void (*copy)(R& to, const R& from, const ListIndex& into, const ListIndex& source);
};

std::string Number(long value) { return std::to_string(value); }
std::string YesNo(bool value) { return value ? "yes" : "no"; }
std::string Switch(const SwitchSetting& s, const char* on, const char* off) {
  return s.used ? (s.value ? on : off) : "none";
}
std::string Diseqc(const DiseqcSetting& d) {
  return d.used ? std::string(1, static_cast<char>('a' + (d.port & 3))) : "none";
}
const char* kFecTexts[] = {"auto", "1/2", "2/3", "3/4", "5/6", "7/8", "fec6", "fec7"};
const char* kAntennaTypes[] = {"fixed", "DiSEqC", "actuator", "type3"};

#define RT_FIELD(R, member) \
  [](R& to, const R& from, const ListIndex&, const ListIndex&) { to.record.member = from.record.member; }

const FieldRule<Satellite> kSatelliteFields[] = {
    {Field::kLnbLow, "LNB low", kBoth, [](const ListIndex&, const Satellite& s) { return Number(s.record.lnb_low); },
     RT_FIELD(Satellite, lnb_low)},
    {Field::kLnbHigh, "LNB high", kBoth, [](const ListIndex&, const Satellite& s) { return Number(s.record.lnb_high); },
     RT_FIELD(Satellite, lnb_high)},
    {Field::kUniversalLnb, "LNB type", kBoth,
     [](const ListIndex&, const Satellite& s) { return std::string(s.record.universal_lnb ? "universal" : "normal"); },
     RT_FIELD(Satellite, universal_lnb)},
    {Field::kDiseqc, "DiSEqC", kBasicOnly, [](const ListIndex&, const Satellite& s) { return Diseqc(s.record.diseqc); },
     RT_FIELD(Satellite, diseqc)},
    {Field::kTone22, "22 kHz", kBasicOnly,
     [](const ListIndex&, const Satellite& s) { return Switch(s.record.tone_22khz, "22", "0"); },
     RT_FIELD(Satellite, tone_22khz)},
    {Field::kVolt012, "0/12 V", kBasicOnly,
     [](const ListIndex&, const Satellite& s) { return Switch(s.record.volt_0_12, "12", "0"); },
     RT_FIELD(Satellite, volt_0_12)},
    {Field::kVolt1418, "14/18 V", kBasicOnly,
     [](const ListIndex&, const Satellite& s) { return Switch(s.record.volt_14_18, "18", "14"); },
     RT_FIELD(Satellite, volt_14_18)},
    {Field::kDiseqc12, "DiSEqC 1.2", kKvrsOnly,
     [](const ListIndex&, const Satellite& s) { return YesNo(s.record.diseqc_1_2); }, RT_FIELD(Satellite, diseqc_1_2)},
    {Field::kBiasedValue, "biased value", kKvrsOnly,
     [](const ListIndex&, const Satellite& s) { return Number(s.record.biased_value); },
     RT_FIELD(Satellite, biased_value)},
};

const FieldRule<Transponder> kTransponderFields[] = {
    {Field::kSymbolRate, "symbol rate", kBoth,
     [](const ListIndex&, const Transponder& t) { return Number(t.record.symbolrate); },
     RT_FIELD(Transponder, symbolrate)},
    {Field::kTransponderTone22, "22 kHz", kBoth,
     [](const ListIndex&, const Transponder& t) { return std::string(t.record.tone_22khz ? "22" : "0"); },
     RT_FIELD(Transponder, tone_22khz)},
    {Field::kTransponderVolt1418, "14/18 V", kBoth,
     [](const ListIndex&, const Transponder& t) { return std::string(t.record.volt_14_18 ? "18" : "14"); },
     RT_FIELD(Transponder, volt_14_18)},
    {Field::kTransponderVolt012, "0/12 V", kBoth,
     [](const ListIndex&, const Transponder& t) { return std::string(t.record.volt_0_12 ? "12" : "0"); },
     RT_FIELD(Transponder, volt_0_12)},
    {Field::kFec, "FEC", kBoth, [](const ListIndex&, const Transponder& t) { return std::string(kFecTexts[t.record.fec & 7]); },
     RT_FIELD(Transponder, fec)},
    {Field::kAuxByte, "aux byte", kKvrsOnly,
     [](const ListIndex&, const Transponder& t) { return Number(t.record.aux_byte); }, RT_FIELD(Transponder, aux_byte)},
    {Field::kAuxCodes, "aux codes", kKvrsOnly,
     [](const ListIndex&, const Transponder& t) {
       std::string codes;
       for (std::size_t i = 0; i < t.record.aux_codes.size(); ++i) {
         if (i == 4) codes += ' ';
         codes += static_cast<char>('0' + (t.record.aux_codes[i] & 3));
       }
       return codes;
     },
     RT_FIELD(Transponder, aux_codes)},
};

// B's antenna number names this list's antenna of that number.
void CopyAntenna(Service& to, const Service& from, const ListIndex& into, const ListIndex& source) {
  const std::size_t number = static_cast<std::size_t>(source.AntennaNumber(from.antenna));
  if (number > 0 && number <= into.list().antennas().size()) {
    to.antenna = into.list().antennas()[number - 1].id;
    to.record.ant_index = static_cast<std::uint8_t>(number - 1);
  } else {
    to.antenna = kNoItem;
    to.record.ant_index = from.antenna == kNoItem ? from.record.ant_index : 255;
  }
}

const FieldRule<Service> kServiceFields[] = {
    {Field::kServiceName, "name", kBoth, [](const ListIndex&, const Service& s) { return "\"" + s.record.name + "\""; },
     RT_FIELD(Service, name)},
    {Field::kServiceType, "type", kBoth,
     [](const ListIndex&, const Service& s) { return std::string(s.record.tv_radio ? "Radio" : "TV"); },
     RT_FIELD(Service, tv_radio)},
    {Field::kServiceAntenna, "antenna", kKvrsOnly,
     [](const ListIndex& index, const Service& s) {
       const int number = index.AntennaNumber(s.antenna);
       return number == 0 ? std::string("none") : Number(number);
     },
     CopyAntenna},
    {Field::kVideoPid, "video PID", kBoth, [](const ListIndex&, const Service& s) { return Number(s.record.video_pid); },
     RT_FIELD(Service, video_pid)},
    {Field::kAudioPid, "audio PID", kBoth, [](const ListIndex&, const Service& s) { return Number(s.record.audio_pid); },
     RT_FIELD(Service, audio_pid)},
    {Field::kPcrPid, "PCR PID", kBoth, [](const ListIndex&, const Service& s) { return Number(s.record.pcr_pid); },
     RT_FIELD(Service, pcr_pid)},
    {Field::kTeletextPid, "teletext PID", kBoth,
     [](const ListIndex&, const Service& s) { return Number(s.record.txt_pid); }, RT_FIELD(Service, txt_pid)},
    {Field::kScrambled, "scrambled", kBoth, [](const ListIndex&, const Service& s) { return YesNo(s.record.scramble); },
     RT_FIELD(Service, scramble)},
    {Field::kFavorite, "favorite", kBoth, [](const ListIndex&, const Service& s) { return Number(s.record.favorite); },
     RT_FIELD(Service, favorite)},
    {Field::kLocked, "locked", kBoth, [](const ListIndex&, const Service& s) { return YesNo(s.record.lock); },
     RT_FIELD(Service, lock)},
};

const FieldRule<Antenna> kAntennaFields[] = {
    {Field::kAntennaLnbLow, "LNB low", kKvrsOnly,
     [](const ListIndex&, const Antenna& a) { return Number(a.record.lnb_low); }, RT_FIELD(Antenna, lnb_low)},
    {Field::kAntennaLnbHigh, "LNB high", kKvrsOnly,
     [](const ListIndex&, const Antenna& a) { return Number(a.record.lnb_high); }, RT_FIELD(Antenna, lnb_high)},
    {Field::kAntennaUniversalLnb, "LNB type", kKvrsOnly,
     [](const ListIndex&, const Antenna& a) { return std::string(a.record.universal_lnb ? "universal" : "normal"); },
     RT_FIELD(Antenna, universal_lnb)},
    {Field::kAntennaType, "antenna type", kKvrsOnly,
     [](const ListIndex&, const Antenna& a) { return std::string(kAntennaTypes[a.record.antenna_type & 3]); },
     RT_FIELD(Antenna, antenna_type)},
    {Field::kAntennaDiseqc, "DiSEqC", kKvrsOnly, [](const ListIndex&, const Antenna& a) { return Diseqc(a.record.diseqc); },
     RT_FIELD(Antenna, diseqc)},
    {Field::kAntennaTone22, "22 kHz", kKvrsOnly,
     [](const ListIndex&, const Antenna& a) { return Switch(a.record.tone_22khz, "22", "0"); },
     RT_FIELD(Antenna, tone_22khz)},
    {Field::kAntennaVolt012, "0/12 V", kKvrsOnly,
     [](const ListIndex&, const Antenna& a) { return Switch(a.record.volt_0_12, "12", "0"); },
     RT_FIELD(Antenna, volt_0_12)},
    {Field::kAntennaVolt1418, "14/18 V", kKvrsOnly,
     [](const ListIndex&, const Antenna& a) { return Switch(a.record.volt_14_18, "18", "14"); },
     RT_FIELD(Antenna, volt_14_18)},
};

#undef RT_FIELD

bool Applies(Layouts layouts, Layout a, Layout b) {
  auto in = [layouts](Layout l) { return layouts == kBoth || (layouts == kKvrsOnly) == (l == Layout::kKvrs); };
  return in(a) && in(b);
}

// The key as a person reads it.
std::string KeyText(const ListIndex&, const Satellite& s) { return "satellite " + SatelliteText(s.record); }
std::string KeyText(const ListIndex& index, const Transponder& t) {
  return "transponder " + TransponderText(t.record) + " on " + index.SatelliteName(t.satellite);
}
std::string KeyText(const ListIndex& index, const Service& s) {
  return "service \"" + s.record.name + "\" on " + index.TransponderName(s.transponder);
}
std::string KeyText(const ListIndex&, const Antenna&) { return "antenna"; }

// Compares one table: A's records in order (removed or changed), then B's
// that A has not (added).  Records with one key several times pair up in
// their order.
template <typename R>
void DiffTable(Table table, const std::vector<R>& inA, const std::vector<R>& inB, const ListIndex& a,
               const ListIndex& b, std::span<const FieldRule<R>> fields, std::vector<Difference>& out) {
  std::unordered_map<std::string, std::vector<std::size_t>> byKey;
  for (std::size_t i = inB.size(); i-- > 0;) byKey[b.KeyOf(inB[i].id)].push_back(i);  // first at the back
  std::vector<bool> matched(inB.size(), false);
  const Layout la = a.list().layout();
  const Layout lb = b.list().layout();
  for (std::size_t i = 0; i < inA.size(); ++i) {
    const R& ra = inA[i];
    std::string key = KeyText(a, ra);
    if constexpr (std::is_same_v<R, Antenna>) key += " " + std::to_string(i + 1);
    const auto it = byKey.find(a.KeyOf(ra.id));
    if (it == byKey.end() || it->second.empty()) {
      out.push_back({Difference::Kind::kRemoved, table, std::move(key), ra.id, kNoItem, {}});
      continue;
    }
    const std::size_t j = it->second.back();
    it->second.pop_back();
    matched[j] = true;
    const R& rb = inB[j];
    std::vector<FieldChange> changes;
    for (const FieldRule<R>& f : fields) {
      if (!Applies(f.layouts, la, lb)) continue;
      std::string before = f.text(a, ra);
      std::string after = f.text(b, rb);
      if (before != after) changes.push_back({f.field, f.name, std::move(before), std::move(after)});
    }
    if (!changes.empty()) {
      out.push_back({Difference::Kind::kChanged, table, std::move(key), ra.id, rb.id, std::move(changes)});
    }
  }
  for (std::size_t j = 0; j < inB.size(); ++j) {
    if (matched[j]) continue;
    std::string key = KeyText(b, inB[j]);
    if constexpr (std::is_same_v<R, Antenna>) key += " " + std::to_string(j + 1);
    out.push_back({Difference::Kind::kAdded, table, std::move(key), kNoItem, inB[j].id, {}});
  }
}

std::string LayoutText(Layout layout) { return layout == Layout::kKvrs ? "KVRS" : "basic"; }
std::string SwitchConfigText(const ChannelList& list) {
  return list.antennaConfig() == kNoAntennaConfig ? "none" : std::to_string(list.antennaConfig());
}

const char* TableName(Table table) {
  switch (table) {
    case Table::kSatellites: return "satellite";
    case Table::kTransponders: return "transponder";
    case Table::kServices: return "service";
    case Table::kAntennas: return "antenna";
  }
  return "";
}

}  // namespace

std::vector<Difference> Diff(const ChannelList& a, const ChannelList& b) {
  const ListIndex ia(a);
  const ListIndex ib(b);
  std::vector<Difference> out;
  DiffTable<Satellite>(Table::kSatellites, a.satellites(), b.satellites(), ia, ib, kSatelliteFields, out);
  DiffTable<Transponder>(Table::kTransponders, a.transponders(), b.transponders(), ia, ib, kTransponderFields, out);
  DiffTable<Service>(Table::kServices, a.services(), b.services(), ia, ib, kServiceFields, out);
  DiffTable<Antenna>(Table::kAntennas, a.antennas(), b.antennas(), ia, ib, kAntennaFields, out);
  return out;
}

std::vector<HeaderChange> DiffHeader(const ChannelList& a, const ChannelList& b) {
  std::vector<HeaderChange> changes;
  if (a.layout() != b.layout()) changes.push_back({"layout", LayoutText(a.layout()), LayoutText(b.layout())});
  if (a.antennaConfig() != b.antennaConfig()) {
    changes.push_back({"default switch configuration", SwitchConfigText(a), SwitchConfigText(b)});
  }
  return changes;
}

std::vector<std::string> DiffLines(const std::vector<Difference>& differences) { return DiffLines({}, differences); }

std::vector<std::string> DiffLines(const std::vector<HeaderChange>& header, const std::vector<Difference>& differences) {
  std::vector<std::string> lines;
  for (const HeaderChange& h : header) lines.push_back(h.name + ": " + h.before + " -> " + h.after);
  for (const Difference& d : differences) {
    switch (d.kind) {
      case Difference::Kind::kAdded: lines.push_back("+ " + d.key); break;
      case Difference::Kind::kRemoved: lines.push_back("- " + d.key); break;
      case Difference::Kind::kChanged:
        for (const FieldChange& c : d.changes) lines.push_back(d.key + ": " + c.name + " " + c.before + " -> " + c.after);
        break;
    }
  }
  return lines;
}

std::string DiffJson(const std::vector<Difference>& differences) { return DiffJson({}, differences); }

std::string DiffJson(const std::vector<HeaderChange>& header, const std::vector<Difference>& differences) {
  nlohmann::ordered_json added = nlohmann::ordered_json::array();
  nlohmann::ordered_json removed = nlohmann::ordered_json::array();
  nlohmann::ordered_json changed = nlohmann::ordered_json::array();
  auto field = [](const std::string& name, const std::string& before, const std::string& after) {
    return nlohmann::ordered_json{{"field", name}, {"before", before}, {"after", after}};
  };
  for (const HeaderChange& h : header) {
    changed.push_back({{"table", "list"}, {"key", "list"}, {"fields", {field(h.name, h.before, h.after)}}});
  }
  for (const Difference& d : differences) {
    nlohmann::ordered_json entry{{"table", TableName(d.table)}, {"key", d.key}};
    switch (d.kind) {
      case Difference::Kind::kAdded: added.push_back(std::move(entry)); break;
      case Difference::Kind::kRemoved: removed.push_back(std::move(entry)); break;
      case Difference::Kind::kChanged: {
        nlohmann::ordered_json fields = nlohmann::ordered_json::array();
        for (const FieldChange& c : d.changes) fields.push_back(field(c.name, c.before, c.after));
        entry["fields"] = std::move(fields);
        changed.push_back(std::move(entry));
        break;
      }
    }
  }
  const nlohmann::ordered_json all{{"added", std::move(added)}, {"removed", std::move(removed)}, {"changed", std::move(changed)}};
  // Names are bytes: what is not UTF-8 shows as U+FFFD rather than failing.
  return all.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

ChannelList ApplyDifferences(const ChannelList& a, const ChannelList& b, const std::vector<Difference>& chosen) {
  ChannelList result = a;
  const ListIndex ib(b);

  // Changed fields take B's values.
  {
    const ListIndex ia(a);
    for (const Difference& d : chosen) {
      if (d.kind != Difference::Kind::kChanged) continue;
      auto apply = [&](auto& records, const auto* from, const auto& rules) {
        for (auto& r : records) {
          if (r.id != d.inA || from == nullptr) continue;
          for (const FieldChange& c : d.changes) {
            for (const auto& f : rules) {
              if (f.field == c.field) f.copy(r, *from, ia, ib);
            }
          }
        }
      };
      switch (d.table) {
        case Table::kSatellites: apply(result.mutableSatellites(), ib.SatelliteOf(d.inB), kSatelliteFields); break;
        case Table::kTransponders:
          apply(result.mutableTransponders(), ib.TransponderOf(d.inB), kTransponderFields);
          break;
        case Table::kServices: apply(result.mutableServices(), ib.ServiceOf(d.inB), kServiceFields); break;
        case Table::kAntennas: apply(result.mutableAntennas(), ib.AntennaOf(d.inB), kAntennaFields); break;
      }
    }
  }

  // Removed records go, and with a satellite or transponder what depends on it.
  std::unordered_set<ItemId> gone;
  for (const Difference& d : chosen) {
    if (d.kind == Difference::Kind::kRemoved) gone.insert(d.inA);
  }
  if (!gone.empty()) {
    std::erase_if(result.mutableSatellites(), [&](const Satellite& s) { return gone.count(s.id) > 0; });
    std::erase_if(result.mutableTransponders(), [&](const Transponder& t) {
      if (gone.count(t.satellite) == 0 && gone.count(t.id) == 0) return false;
      gone.insert(t.id);
      return true;
    });
    std::erase_if(result.mutableServices(),
                  [&](const Service& s) { return gone.count(s.id) > 0 || gone.count(s.transponder) > 0; });
    std::erase_if(result.mutableAntennas(), [&](const Antenna& x) { return gone.count(x.id) > 0; });
    for (Service& s : result.mutableServices()) {
      if (s.antenna != kNoItem && gone.count(s.antenna)) {
        s.antenna = kNoItem;
        s.record.ant_index = 255;  // as "0" in the text
      }
    }
  }

  // Added records come in at the end of their table (a transponder at the
  // end of its satellite's), and bring their transponder and satellite when
  // this list has none of that key.
  std::unordered_map<std::string, ItemId> present;  // satellites' and transponders' keys
  {
    const ListIndex ir(result);
    for (const Satellite& s : result.satellites()) present.try_emplace(ir.KeyOf(s.id), s.id);
    for (const Transponder& t : result.transponders()) present.try_emplace(ir.KeyOf(t.id), t.id);
  }
  // `added`: a record chosen to be added, which comes in even when one of
  // its key is there already (a list may hold a key twice); otherwise one
  // that an added record needs, which comes in only when none is there.
  auto satelliteFor = [&](ItemId inB, bool added) -> ItemId {
    const std::string key = ib.KeyOf(inB);
    if (const auto it = present.find(key); it != present.end() && !added) return it->second;
    const Satellite* from = ib.SatelliteOf(inB);
    if (from == nullptr || result.Count(Table::kSatellites) >= result.Room(Table::kSatellites)) return kNoItem;
    Satellite s = *from;
    s.id = result.NewId();
    result.mutableSatellites().push_back(s);
    present.try_emplace(key, s.id);
    return s.id;
  };
  auto transponderFor = [&](ItemId inB, bool added) -> ItemId {
    const std::string key = ib.KeyOf(inB);
    if (const auto it = present.find(key); it != present.end() && !added) return it->second;
    const Transponder* from = ib.TransponderOf(inB);
    if (from == nullptr || result.Count(Table::kTransponders) >= result.Room(Table::kTransponders)) return kNoItem;
    const ItemId satellite = satelliteFor(from->satellite, false);
    if (satellite == kNoItem) return kNoItem;
    Transponder t = *from;
    t.id = result.NewId();
    t.satellite = satellite;
    std::vector<Transponder>& all = result.mutableTransponders();
    const auto last =
        std::find_if(all.rbegin(), all.rend(), [&](const Transponder& x) { return x.satellite == satellite; });
    if (last != all.rend()) {
      all.insert(last.base(), t);
    } else {
      // The first of its satellite: before the transponders of the satellites after it.
      std::unordered_map<ItemId, std::size_t> rank;
      for (std::size_t i = 0; i < result.satellites().size(); ++i) rank[result.satellites()[i].id] = i;
      const std::size_t own = rank[satellite];
      all.insert(std::find_if(all.begin(), all.end(), [&](const Transponder& x) { return rank[x.satellite] > own; }),
                 t);
    }
    present.try_emplace(key, t.id);
    return t.id;
  };
  std::vector<std::pair<ItemId, const Service*>> addedServices;  // new id, B's record
  for (const Difference& d : chosen) {
    if (d.kind != Difference::Kind::kAdded) continue;
    switch (d.table) {
      case Table::kSatellites: satelliteFor(d.inB, true); break;
      case Table::kTransponders: transponderFor(d.inB, true); break;
      case Table::kServices: {
        const Service* from = ib.ServiceOf(d.inB);
        if (from == nullptr || result.Count(Table::kServices) >= result.Room(Table::kServices)) break;
        const ItemId transponder = transponderFor(from->transponder, false);
        if (transponder == kNoItem) break;
        Service s = *from;
        s.id = result.NewId();
        s.transponder = transponder;
        result.mutableServices().push_back(s);
        addedServices.emplace_back(s.id, from);
        break;
      }
      case Table::kAntennas: {
        const Antenna* from = ib.AntennaOf(d.inB);
        if (from == nullptr || result.Count(Table::kAntennas) >= result.Room(Table::kAntennas)) break;
        Antenna x = *from;
        x.id = result.NewId();
        result.mutableAntennas().push_back(x);
        break;
      }
    }
  }
  // Added services name their antennas by B's numbers, once the antennas are in.
  if (!addedServices.empty()) {
    const ListIndex ir(result);
    std::unordered_map<ItemId, const Service*> from(addedServices.begin(), addedServices.end());
    for (Service& s : result.mutableServices()) {
      if (const auto it = from.find(s.id); it != from.end()) CopyAntenna(s, *it->second, ir, ib);
    }
  }
  return result;
}

}  // namespace torvix::channels
