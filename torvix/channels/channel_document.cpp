#include "torvix/channels/channel_document.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <variant>

#include "torvix/database/field_limits.h"

namespace torvix::channels {

namespace {

// ---- Tables as vectors of their items --------------------------------------

template <typename T>
struct TableOf;
template <>
struct TableOf<Satellite> {
  static constexpr Table kTable = Table::kSatellites;
  static std::vector<Satellite>& Items(ChannelList& l) { return l.mutableSatellites(); }
  static const std::vector<Satellite>& Items(const ChannelList& l) { return l.satellites(); }
};
template <>
struct TableOf<Transponder> {
  static constexpr Table kTable = Table::kTransponders;
  static std::vector<Transponder>& Items(ChannelList& l) { return l.mutableTransponders(); }
  static const std::vector<Transponder>& Items(const ChannelList& l) { return l.transponders(); }
};
template <>
struct TableOf<Service> {
  static constexpr Table kTable = Table::kServices;
  static std::vector<Service>& Items(ChannelList& l) { return l.mutableServices(); }
  static const std::vector<Service>& Items(const ChannelList& l) { return l.services(); }
};
template <>
struct TableOf<Antenna> {
  static constexpr Table kTable = Table::kAntennas;
  static std::vector<Antenna>& Items(ChannelList& l) { return l.mutableAntennas(); }
  static const std::vector<Antenna>& Items(const ChannelList& l) { return l.antennas(); }
};

// ---- Primitive changes, each with its inverse --------------------------------

// Replaces one record (same id) by another version of it.
template <typename T>
struct Replace {
  int position;
  T before;
  T after;
};
// Removes records (ascending positions in the table before the removal).
template <typename T>
struct Erase {
  std::vector<std::pair<int, T>> removed;
};
// Inserts one record at a position.
template <typename T>
struct Insert {
  int position;
  T item;
};
// Puts the same records in another order, given as ids.
template <typename T>
struct Permute {
  std::vector<ItemId> before;
  std::vector<ItemId> after;
};
struct Config {
  int before;
  int after;
};
struct WholeList {
  std::shared_ptr<const ChannelList> before;
  std::shared_ptr<const ChannelList> after;
};

using Op = std::variant<Replace<Satellite>, Erase<Satellite>, Insert<Satellite>, Permute<Satellite>,
                        Replace<Transponder>, Erase<Transponder>, Insert<Transponder>, Permute<Transponder>,
                        Replace<Service>, Erase<Service>, Insert<Service>, Permute<Service>, Replace<Antenna>,
                        Erase<Antenna>, Insert<Antenna>, Permute<Antenna>, Config, WholeList>;

template <typename T>
void Arrange(std::vector<T>& items, const std::vector<ItemId>& order) {
  std::unordered_map<ItemId, std::size_t> at;
  at.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) at.emplace(items[i].id, i);
  std::vector<T> arranged;
  arranged.reserve(order.size());
  for (ItemId id : order) arranged.push_back(std::move(items[at.at(id)]));
  items = std::move(arranged);
}

template <typename T>
void RemoveAt(std::vector<T>& items, const std::vector<std::pair<int, T>>& removed) {
  std::vector<T> kept;
  kept.reserve(items.size() - removed.size());
  std::size_t next = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (next < removed.size() && static_cast<std::size_t>(removed[next].first) == i) {
      ++next;
      continue;
    }
    kept.push_back(std::move(items[i]));
  }
  items = std::move(kept);
}

template <typename T>
void PutBack(std::vector<T>& items, const std::vector<std::pair<int, T>>& removed) {
  std::vector<T> merged;
  merged.reserve(items.size() + removed.size());
  std::size_t next = 0;
  std::size_t source = 0;
  while (merged.size() < items.size() + removed.size()) {
    if (next < removed.size() && static_cast<std::size_t>(removed[next].first) == merged.size()) {
      merged.push_back(removed[next++].second);
    } else {
      merged.push_back(std::move(items[source++]));
    }
  }
  items = std::move(merged);
}

template <typename T>
void Apply(ChannelList& list, const Replace<T>& op, bool forward) {
  TableOf<T>::Items(list)[static_cast<std::size_t>(op.position)] = forward ? op.after : op.before;
}
template <typename T>
void Apply(ChannelList& list, const Erase<T>& op, bool forward) {
  auto& items = TableOf<T>::Items(list);
  forward ? RemoveAt(items, op.removed) : PutBack(items, op.removed);
}
template <typename T>
void Apply(ChannelList& list, const Insert<T>& op, bool forward) {
  auto& items = TableOf<T>::Items(list);
  if (forward) {
    items.insert(items.begin() + op.position, op.item);
  } else {
    items.erase(items.begin() + op.position);
  }
}
template <typename T>
void Apply(ChannelList& list, const Permute<T>& op, bool forward) {
  Arrange(TableOf<T>::Items(list), forward ? op.after : op.before);
}
void Apply(ChannelList& list, const Config& op, bool forward) {
  list.setAntennaConfig(forward ? op.after : op.before);
}
void Apply(ChannelList& list, const WholeList& op, bool forward) {
  const ItemId next = list.NextId();
  list = forward ? *op.after : *op.before;
  list.AdvanceIds(next);
}

void Apply(ChannelList& list, const Op& op, bool forward) {
  std::visit([&](const auto& o) { Apply(list, o, forward); }, op);
}

// ---- Words for the descriptions ---------------------------------------------


std::string Count(std::size_t n, Table table) {
  return std::to_string(n) + " " + TableNoun(table) + (n == 1 ? "" : "s");
}

std::string Quote(const std::string& name) { return "'" + name + "'"; }

// "service 'ZDF'", "transponder 11778 H", "antenna 2".
std::string Named(const ChannelList& list, Table table, ItemId id) {
  switch (table) {
    case Table::kSatellites: {
      const Satellite* s = list.FindSatellite(id);
      return std::string("satellite ") + Quote(s ? s->record.name : "");
    }
    case Table::kTransponders:
      return std::string("transponder ") + CellText(list, table, id, Field::kFrequency) + " " +
             CellText(list, table, id, Field::kPolarization);
    case Table::kServices: {
      const Service* s = list.FindService(id);
      return std::string("service ") + Quote(s ? s->record.name : "");
    }
    case Table::kAntennas: return "antenna " + std::to_string(list.IndexOf(table, id) + 1);
  }
  return "";
}

// The records of `ids` as they stand, one step: "Delete 12 services" or
// "Delete service 'ZDF'".
std::string Subject(const ChannelList& list, Table table, std::span<const ItemId> ids) {
  return ids.size() == 1 ? Named(list, table, ids[0]) : Count(ids.size(), table);
}

std::string_view Title(const ChannelList& list, Table table, Field field) {
  for (const ColumnInfo& c : Columns(table, list.layout())) {
    if (c.field == field) return c.title;
  }
  return "field";
}

EditResult Refused(std::string message) { return {false, std::move(message)}; }

bool SameItem(const Satellite& a, const Satellite& b) { return a.id == b.id && a.record == b.record; }
bool SameItem(const Transponder& a, const Transponder& b) {
  return a.id == b.id && a.satellite == b.satellite && a.record == b.record;
}
bool SameItem(const Service& a, const Service& b) {
  return a.id == b.id && a.transponder == b.transponder && a.antenna == b.antenna && a.record == b.record;
}
bool SameItem(const Antenna& a, const Antenna& b) { return a.id == b.id && a.record == b.record; }

// The first service whose line could not name its transponder any more (it
// lies beyond the 256th of its satellite); "" when there is none.
std::string ServiceBeyondLineReach(const ChannelList& list) {
  std::unordered_set<ItemId> beyond;
  ItemId satellite = kNoItem;
  int position = 0;
  for (const Transponder& t : list.transponders()) {
    position = t.satellite == satellite ? position + 1 : 1;
    satellite = t.satellite;
    if (position > kTpIndexMax) beyond.insert(t.id);
  }
  if (beyond.empty()) return "";
  for (const Service& s : list.services()) {
    if (beyond.contains(s.transponder)) {
      return "Refused: service " + Quote(s.record.name) + " would be on a transponder beyond the " +
             std::to_string(kTpIndexMax) + "th of its satellite, which no service line can name.";
    }
  }
  return "";
}

}  // namespace

namespace {

// The positions a move works on: the whole table, or for transponders the
// range of one satellite's.  Empty `error` when the ids are fit to move.
struct MoveRange {
  int first = 0;
  int count = 0;
  std::vector<int> selected;  // positions within the range, ascending
  std::string error;
};

template <typename T>
MoveRange RangeOf(const ChannelList& list, std::span<const ItemId> ids) {
  constexpr Table table = TableOf<T>::kTable;
  const auto& items = TableOf<T>::Items(list);
  MoveRange range;
  range.count = static_cast<int>(items.size());
  std::vector<int> positions;
  for (ItemId id : ids) {
    const int i = list.IndexOf(table, id);
    if (i < 0) {
      range.error = NoSuchRecord(table);
      return range;
    }
    positions.push_back(i);
  }
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  if constexpr (std::is_same_v<T, Transponder>) {
    if (!positions.empty()) {
      const ItemId satellite = items[static_cast<std::size_t>(positions.front())].satellite;
      for (int p : positions) {
        if (items[static_cast<std::size_t>(p)].satellite != satellite) {
          range.error = "Transponders move only within their satellite.";
          return range;
        }
      }
      int first = positions.front();
      while (first > 0 && items[static_cast<std::size_t>(first - 1)].satellite == satellite) --first;
      int last = positions.front();
      while (last + 1 < range.count && items[static_cast<std::size_t>(last + 1)].satellite == satellite) ++last;
      range.first = first;
      range.count = last - first + 1;
    }
  }
  for (int p : positions) range.selected.push_back(p - range.first);
  return range;
}

// The table with the range's records in `order` (positions within the range).
template <typename T>
std::vector<T> Rearranged(const std::vector<T>& items, const MoveRange& range, const std::vector<int>& order) {
  std::vector<T> out = items;
  for (int i = 0; i < range.count; ++i) {
    const int from = range.first + order[static_cast<std::size_t>(i)];
    out[static_cast<std::size_t>(range.first + i)] = items[static_cast<std::size_t>(from)];
  }
  return out;
}

}  // namespace

// One step of the history: its description and the changes it made, in order.
class ChannelDocument::Command {
 public:
  std::string description;
  std::vector<Op> ops;

  void Redo(ChannelList& list) const {
    for (const Op& op : ops) Apply(list, op, true);
  }
  void Undo(ChannelList& list) const {
    for (auto it = ops.rbegin(); it != ops.rend(); ++it) Apply(list, *it, false);
  }

  // The moves of one table, one step: `plan` gives the new order of the
  // positions a move works on (or a refusal).
  using Plan = std::function<std::optional<std::vector<int>>(const MoveRange&, std::string&)>;
  // The description is `verb` and the records moved, then `suffix`
  // ("Move 3 services" " up"); without records for a sort.
  template <typename T>
  static EditResult Arrange(State& state, std::span<const ItemId> ids, const Plan& plan, const std::string& verb,
                            const std::string& suffix, bool sort);
  static EditResult ForTable(State& state, Table table, std::span<const ItemId> ids, const Plan& plan,
                             const std::string& verb, const std::string& suffix, bool sort = false);
};

struct ChannelDocument::State {
  ChannelList list;
  std::vector<Command> steps;
  std::size_t done = 0;                  // steps applied
  std::optional<std::size_t> saved = 0;  // `done` at the last save; none when that state is gone

  // A command being built: each change is made on the list at once and
  // recorded, so that a refusal found afterwards can take them all back.
  class Recorder {
   public:
    explicit Recorder(State& state) : state_(state) {}
    ~Recorder() {
      if (!committed_) command_.Undo(state_.list);
    }
    void Record(Op op) {
      Apply(state_.list, op, true);
      command_.ops.push_back(std::move(op));
    }
    template <typename T>
    void Reorder(const std::vector<T>& arranged) {
      Permute<T> p;
      for (const T& item : TableOf<T>::Items(state_.list)) p.before.push_back(item.id);
      for (const T& item : arranged) p.after.push_back(item.id);
      if (p.before != p.after) Record(std::move(p));
    }
    // Removes the records of `ids` (those the table holds).
    template <typename T>
    void Remove(const std::unordered_set<ItemId>& ids) {
      Erase<T> e;
      const auto& items = TableOf<T>::Items(std::as_const(state_.list));
      for (std::size_t i = 0; i < items.size(); ++i) {
        if (ids.contains(items[i].id)) e.removed.emplace_back(static_cast<int>(i), items[i]);
      }
      if (!e.removed.empty()) Record(std::move(e));
    }
    // After satellites were reordered: their transponders follow them.
    void RegroupTransponders() {
      std::unordered_map<ItemId, std::size_t> order;
      const auto& satellites = state_.list.satellites();
      for (std::size_t i = 0; i < satellites.size(); ++i) order.emplace(satellites[i].id, i);
      std::vector<Transponder> regrouped = state_.list.transponders();
      const auto rank = [&](const Transponder& t) {
        const auto it = order.find(t.satellite);
        return it == order.end() ? order.size() : it->second;
      };
      std::stable_sort(regrouped.begin(), regrouped.end(),
                       [&](const Transponder& a, const Transponder& b) { return rank(a) < rank(b); });
      Reorder(regrouped);
    }

    EditResult Commit(std::string description) {
      committed_ = true;
      if (command_.ops.empty()) return {};
      command_.description = std::move(description);
      state_.steps.resize(state_.done);
      if (state_.saved && *state_.saved > state_.done) state_.saved.reset();
      state_.steps.push_back(std::move(command_));
      ++state_.done;
      return {};
    }

   private:
    State& state_;
    Command command_;
    bool committed_ = false;
  };
};

ChannelDocument::ChannelDocument(ChannelList list) : state_(std::make_unique<State>()) {
  state_->list = std::move(list);
}
ChannelDocument::~ChannelDocument() = default;

const ChannelList& ChannelDocument::list() const { return state_->list; }

void ChannelDocument::Reset(ChannelList list) {
  state_ = std::make_unique<State>();
  state_->list = std::move(list);
}

bool ChannelDocument::modified() const { return state_->saved != state_->done; }
void ChannelDocument::MarkSaved() { state_->saved = state_->done; }

EditResult ChannelDocument::SetCell(Table table, ItemId id, Field field, std::string_view text) {
  ChannelList& list = state_->list;
  const int position = list.IndexOf(table, id);
  if (position < 0) return Refused(NoSuchRecord(table));
  const std::string subject = Named(list, table, id);
  const auto change = [&](auto items) -> EditResult {
    using T = typename decltype(items)::value_type;
    const std::size_t at = static_cast<std::size_t>(position);
    const T old = TableOf<T>::Items(std::as_const(list))[at];
    if (std::string message = ApplyCell(list, table, id, field, text); !message.empty()) return Refused(message);
    T now = TableOf<T>::Items(std::as_const(list))[at];
    TableOf<T>::Items(list)[at] = old;
    if (SameItem(old, now)) return {};
    State::Recorder recorder(*state_);
    recorder.Record(Replace<T>{position, old, std::move(now)});
    const std::string after = CellText(list, table, id, field);
    if (field == Field::kSatelliteName || field == Field::kServiceName) {
      return recorder.Commit("Rename " + subject + " to " + Quote(after));
    }
    return recorder.Commit("Set " + std::string(Title(list, table, field)) + " of " + subject + " to " + after);
  };
  switch (table) {
    case Table::kSatellites: return change(std::vector<Satellite>());
    case Table::kTransponders: return change(std::vector<Transponder>());
    case Table::kServices: return change(std::vector<Service>());
    case Table::kAntennas: return change(std::vector<Antenna>());
  }
  return Refused("Unknown table.");
}

EditResult ChannelDocument::SetAntennaConfig(int value) {
  ChannelList& list = state_->list;
  if (list.layout() == Layout::kKvrs) {
    return Refused("A KVRS list carries no default switch configuration: its text has no line for it.");
  }
  if (value < kDefaultSwitchMin || value > kDefaultSwitchMax) {
    return Refused("field : antenna_config (a whole number from " + std::to_string(kDefaultSwitchMin) + " to " +
                   std::to_string(kDefaultSwitchMax) + ", -1 for none)");
  }
  if (value == list.antennaConfig()) return {};
  State::Recorder recorder(*state_);
  recorder.Record(Config{list.antennaConfig(), value});
  return recorder.Commit("Set default switch configuration to " + std::to_string(value));
}

EditResult ChannelDocument::Insert(Table table, int position, ItemId parent, ItemId* created) {
  ChannelList& list = state_->list;
  if (list.Count(table) >= list.Room(table)) return Refused(RoomMessage(list, table));
  const auto at = [&](int count) { return std::clamp(position, 0, count); };
  State::Recorder recorder(*state_);
  ItemId id = kNoItem;
  switch (table) {
    case Table::kSatellites: {
      Satellite s{list.NewId(), {}};
      s.record.lnb_low = 9750;
      s.record.lnb_high = 10600;
      s.record.universal_lnb = true;
      s.record.name = "New";
      id = s.id;
      recorder.Record(channels::Insert<Satellite>{at(list.Count(table)), std::move(s)});
      break;
    }
    case Table::kTransponders: {
      if (list.FindSatellite(parent) == nullptr) return Refused("A transponder belongs to a satellite of the list.");
      const auto& all = list.transponders();
      const auto first =
          std::find_if(all.begin(), all.end(), [&](const Transponder& t) { return t.satellite == parent; });
      const int start = first == all.end() ? 0 : static_cast<int>(first - all.begin());
      int count = 0;
      for (auto it = first; it != all.end() && it->satellite == parent; ++it) ++count;
      int index = start + at(count);
      if (first == all.end()) {
        // The first transponder of its satellite: after those of the satellites before it.
        const int satellite = list.IndexOf(Table::kSatellites, parent);
        index = 0;
        for (const Transponder& t : all) {
          if (list.IndexOf(Table::kSatellites, t.satellite) < satellite) ++index;
        }
      }
      Transponder t{list.NewId(), parent, {}};
      t.record.frequency = 10700;
      t.record.symbolrate = 27500;
      id = t.id;
      recorder.Record(channels::Insert<Transponder>{index, std::move(t)});
      if (std::string message = ServiceBeyondLineReach(list); !message.empty()) return Refused(message);
      break;
    }
    case Table::kServices: {
      if (list.FindTransponder(parent) == nullptr) return Refused("A service belongs to a transponder of the list.");
      if (list.PositionInSatellite(parent) > kTpIndexMax) {
        return Refused("Refused: a service can use only the first " + std::to_string(kTpIndexMax) +
                       " transponders of its satellite.");
      }
      Service s;
      s.id = list.NewId();
      s.transponder = parent;
      s.record.name = "New";
      s.record.ant_index = kNoSatellite;  // KVRS: no antenna, 0 in the text
      id = s.id;
      recorder.Record(channels::Insert<Service>{at(list.Count(table)), std::move(s)});
      break;
    }
    case Table::kAntennas: {
      Antenna a{list.NewId(), {}};
      a.record.lnb_low = 9750;
      a.record.lnb_high = 10600;
      a.record.universal_lnb = true;
      id = a.id;
      recorder.Record(channels::Insert<Antenna>{at(list.Count(table)), std::move(a)});
      break;
    }
  }
  if (created != nullptr) *created = id;
  return recorder.Commit(std::string("Insert ") + TableNoun(table));
}

int ChannelDocument::ServicesUsing(Table table, std::span<const ItemId> ids) const {
  const ChannelList& list = state_->list;
  const std::unordered_set<ItemId> chosen(ids.begin(), ids.end());
  std::unordered_set<ItemId> transponders;
  if (table == Table::kSatellites) {
    for (const Transponder& t : list.transponders()) {
      if (chosen.contains(t.satellite)) transponders.insert(t.id);
    }
  }
  int count = 0;
  for (const Service& s : list.services()) {
    switch (table) {
      case Table::kSatellites: count += transponders.contains(s.transponder); break;
      case Table::kTransponders: count += chosen.contains(s.transponder); break;
      case Table::kAntennas: count += chosen.contains(s.antenna); break;
      case Table::kServices: break;
    }
  }
  return count;
}

EditResult ChannelDocument::Delete(Table table, std::span<const ItemId> ids, bool withServices) {
  ChannelList& list = state_->list;
  std::unordered_set<ItemId> chosen;
  for (ItemId id : ids) {
    if (list.IndexOf(table, id) < 0) return Refused(NoSuchRecord(table));
    chosen.insert(id);
  }
  if (chosen.empty()) return {};
  const std::vector<ItemId> unique(chosen.begin(), chosen.end());
  const std::string subject = Subject(list, table, unique);
  const int using_ = ServicesUsing(table, unique);
  if (using_ > 0 && !withServices) {
    return Refused("Refused: " + Count(static_cast<std::size_t>(using_), Table::kServices) +
                   (using_ == 1 ? " uses " : " use ") + (chosen.size() == 1 ? "this " : "these ") +
                   (chosen.size() == 1 ? TableNoun(table) : Count(chosen.size(), table)) + ".");
  }
  State::Recorder recorder(*state_);
  std::unordered_set<ItemId> transponders;
  if (table == Table::kSatellites) {
    for (const Transponder& t : list.transponders()) {
      if (chosen.contains(t.satellite)) transponders.insert(t.id);
    }
  } else if (table == Table::kTransponders) {
    transponders = chosen;
  }
  std::unordered_set<ItemId> services;
  for (const Service& s : list.services()) {
    if (transponders.contains(s.transponder) || (table == Table::kAntennas && chosen.contains(s.antenna))) {
      services.insert(s.id);
    }
  }
  switch (table) {
    case Table::kSatellites:
      recorder.Remove<Service>(services);
      recorder.Remove<Transponder>(transponders);
      recorder.Remove<Satellite>(chosen);
      break;
    case Table::kTransponders:
      recorder.Remove<Service>(services);
      recorder.Remove<Transponder>(chosen);
      break;
    case Table::kServices: recorder.Remove<Service>(chosen); break;
    case Table::kAntennas:
      recorder.Remove<Service>(services);
      recorder.Remove<Antenna>(chosen);
      break;
  }
  std::string description = "Delete " + subject;
  if (!services.empty() && table != Table::kServices) {
    description += " with " + Count(services.size(), Table::kServices);
  }
  return recorder.Commit(std::move(description));
}


namespace {

// Each selected record `delta` places on, the others filling the gaps in order.
std::optional<std::vector<int>> ShiftPlan(const MoveRange& range, int delta, std::string& error) {
  if (range.selected.front() + delta < 0) {
    error = "Already at the top.";
    return std::nullopt;
  }
  if (range.selected.back() + delta >= range.count) {
    error = "Already at the bottom.";
    return std::nullopt;
  }
  std::vector<int> order(static_cast<std::size_t>(range.count), -1);
  std::vector<bool> isSelected(static_cast<std::size_t>(range.count), false);
  for (int p : range.selected) {
    order[static_cast<std::size_t>(p + delta)] = p;
    isSelected[static_cast<std::size_t>(p)] = true;
  }
  int next = 0;
  for (int& slot : order) {
    if (slot >= 0) continue;
    while (isSelected[static_cast<std::size_t>(next)]) ++next;
    slot = next++;
  }
  return order;
}

// The selected records as one block at `position` of the order without them.
std::optional<std::vector<int>> BlockPlan(const MoveRange& range, int position) {
  std::vector<bool> isSelected(static_cast<std::size_t>(range.count), false);
  for (int p : range.selected) isSelected[static_cast<std::size_t>(p)] = true;
  std::vector<int> rest;
  for (int i = 0; i < range.count; ++i) {
    if (!isSelected[static_cast<std::size_t>(i)]) rest.push_back(i);
  }
  const int at = std::clamp(position, 0, static_cast<int>(rest.size()));
  std::vector<int> order(rest.begin(), rest.begin() + at);
  order.insert(order.end(), range.selected.begin(), range.selected.end());
  order.insert(order.end(), rest.begin() + at, rest.end());
  return order;
}

// The order a Reorder gives, as positions within the range.
std::optional<std::vector<int>> GivenPlan(const ChannelList& list, Table table, const MoveRange& range,
                                          std::span<const ItemId> order, std::string& error) {
  if (static_cast<int>(range.selected.size()) != range.count || static_cast<int>(order.size()) != range.count) {
    error = std::string("The order must name every ") + TableNoun(table) +
            (table == Table::kTransponders ? " of the satellite" : " of the list") + " once.";
    return std::nullopt;
  }
  std::vector<int> positions;
  for (ItemId id : order) positions.push_back(list.IndexOf(table, id) - range.first);
  return positions;
}

}  // namespace

template <typename T>
EditResult ChannelDocument::Command::Arrange(State& state, std::span<const ItemId> ids, const Plan& plan,
                                             const std::string& verb, const std::string& suffix, bool sort) {
  const ChannelList& list = state.list;
  constexpr Table table = TableOf<T>::kTable;
  const MoveRange range = RangeOf<T>(list, ids);
  if (!range.error.empty()) return Refused(range.error);
  if (range.selected.empty()) return {};
  std::string error;
  const std::optional<std::vector<int>> order = plan(range, error);
  if (!order) return Refused(error);
  const std::string description = sort ? verb : verb + " " + Subject(list, table, ids) + suffix;
  State::Recorder recorder(state);
  recorder.Reorder(Rearranged(TableOf<T>::Items(list), range, *order));
  if constexpr (std::is_same_v<T, Satellite>) recorder.RegroupTransponders();
  if constexpr (std::is_same_v<T, Transponder>) {
    if (std::string message = ServiceBeyondLineReach(state.list); !message.empty()) return Refused(message);
  }
  return recorder.Commit(description);
}

EditResult ChannelDocument::Command::ForTable(State& state, Table table, std::span<const ItemId> ids, const Plan& plan,
                                              const std::string& verb, const std::string& suffix, bool sort) {
  switch (table) {
    case Table::kSatellites: return Arrange<Satellite>(state, ids, plan, verb, suffix, sort);
    case Table::kTransponders: return Arrange<Transponder>(state, ids, plan, verb, suffix, sort);
    case Table::kServices: return Arrange<Service>(state, ids, plan, verb, suffix, sort);
    case Table::kAntennas: return Arrange<Antenna>(state, ids, plan, verb, suffix, sort);
  }
  return Refused("Unknown table.");
}

EditResult ChannelDocument::Move(Table table, std::span<const ItemId> ids, int delta) {
  if (delta == 0) return {};
  const Command::Plan plan = [delta](const MoveRange& range, std::string& error) {
    return ShiftPlan(range, delta, error);
  };
  const int places = delta < 0 ? -delta : delta;
  const std::string suffix = std::string(delta < 0 ? " up" : " down") +
                             (places == 1 ? "" : " by " + std::to_string(places));
  return Command::ForTable(*state_, table, ids, plan, "Move", suffix);
}

EditResult ChannelDocument::MoveTo(Table table, std::span<const ItemId> ids, int position) {
  const Command::Plan plan = [position](const MoveRange& range, std::string&) { return BlockPlan(range, position); };
  return Command::ForTable(*state_, table, ids, plan, "Move", " to position " + std::to_string(position + 1));
}

EditResult ChannelDocument::Reorder(Table table, std::span<const ItemId> order) {
  const ChannelList& list = state_->list;
  const Command::Plan plan = [&list, table, order](const MoveRange& range, std::string& error) {
    return GivenPlan(list, table, range, order, error);
  };
  return Command::ForTable(*state_, table, order, plan, std::string("Sort ") + TableNoun(table) + "s", "", true);
}

EditResult ChannelDocument::ReplaceList(ChannelList list, std::string description) {
  if (std::string message = CheckList(list); !message.empty()) return Refused(message);
  list.AdvanceIds(state_->list.NextId());
  State::Recorder recorder(*state_);
  recorder.Record(WholeList{std::make_shared<const ChannelList>(state_->list),
                            std::make_shared<const ChannelList>(std::move(list))});
  return recorder.Commit(std::move(description));
}

bool ChannelDocument::CanUndo() const { return state_->done > 0; }
bool ChannelDocument::CanRedo() const { return state_->done < state_->steps.size(); }

std::string ChannelDocument::UndoText() const {
  return CanUndo() ? state_->steps[state_->done - 1].description : "";
}
std::string ChannelDocument::RedoText() const { return CanRedo() ? state_->steps[state_->done].description : ""; }

void ChannelDocument::Undo() {
  if (!CanUndo()) return;
  state_->steps[--state_->done].Undo(state_->list);
}

void ChannelDocument::Redo() {
  if (!CanRedo()) return;
  state_->steps[state_->done++].Redo(state_->list);
}

}  // namespace torvix::channels
