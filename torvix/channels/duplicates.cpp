#include "torvix/channels/duplicates.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "torvix/channels/record_texts.h"

namespace torvix::channels {

namespace {

// Groups the records of one table by a key, in list order; every group of
// two or more becomes a DuplicateGroup.  `order` is the position of the kept
// record for sorting the groups afterwards.
template <typename Key>
struct Grouper {
  std::map<Key, std::size_t> slot;  // key -> index into groups
  std::vector<std::pair<ItemId, std::vector<ItemId>>> groups;
  std::vector<int> order;

  void Add(const Key& key, ItemId id, int position) {
    auto [it, fresh] = slot.try_emplace(key, groups.size());
    if (fresh) {
      groups.push_back({id, {}});
      order.push_back(position);
    } else {
      groups[it->second].second.push_back(id);
    }
  }
};

struct Sorted {
  int tableRank;
  int position;
  int kindRank;
  DuplicateGroup group;
};

}  // namespace

std::vector<DuplicateGroup> FindDuplicates(const ChannelList& list) {
  std::vector<Sorted> found;
  std::unordered_map<ItemId, const Satellite*> satellites;
  std::unordered_map<ItemId, const Transponder*> transponders;

  Grouper<int> positions;
  for (std::size_t i = 0; i < list.satellites().size(); ++i) {
    const Satellite& s = list.satellites()[i];
    satellites[s.id] = &s;
    positions.Add(SignedPosition(s.record), s.id, static_cast<int>(i));
  }
  for (std::size_t g = 0; g < positions.groups.size(); ++g) {
    auto& [keep, extra] = positions.groups[g];
    if (extra.empty()) continue;
    found.push_back({0, positions.order[g], 0,
                     {Table::kSatellites, "orbital position " + PositionText(satellites[keep]->record), keep, extra}});
  }

  // Satellite id, frequency, polarization.
  Grouper<std::tuple<ItemId, int, bool>> slots;
  for (std::size_t i = 0; i < list.transponders().size(); ++i) {
    const Transponder& t = list.transponders()[i];
    transponders[t.id] = &t;
    slots.Add({t.satellite, t.record.frequency, t.record.polarization}, t.id, static_cast<int>(i));
  }
  auto onText = [&](ItemId transponder) {
    const Transponder* t = transponders.count(transponder) ? transponders[transponder] : nullptr;
    if (t == nullptr) return std::string("no transponder");
    const auto s = satellites.find(t->satellite);
    return (s == satellites.end() ? std::string() : SatelliteText(s->second->record) + " ") +
           TransponderText(t->record);
  };
  for (std::size_t g = 0; g < slots.groups.size(); ++g) {
    auto& [keep, extra] = slots.groups[g];
    if (extra.empty()) continue;
    found.push_back({1, slots.order[g], 0, {Table::kTransponders, "transponder " + onText(keep), keep, extra}});
  }

  // Services: by service id first; a service taken out there is not counted
  // again for its name.
  Grouper<std::pair<ItemId, int>> ids;
  for (std::size_t i = 0; i < list.services().size(); ++i) {
    const Service& s = list.services()[i];
    ids.Add({s.transponder, s.record.service_id}, s.id, static_cast<int>(i));
  }
  std::unordered_set<ItemId> taken;
  for (std::size_t g = 0; g < ids.groups.size(); ++g) {
    auto& [keep, extra] = ids.groups[g];
    if (extra.empty()) continue;
    taken.insert(extra.begin(), extra.end());
    const Service* s = &list.services()[static_cast<std::size_t>(ids.order[g])];
    found.push_back({2, ids.order[g], 0,
                     {Table::kServices,
                      "service id " + std::to_string(s->record.service_id) + " on " + onText(s->transponder), keep,
                      extra}});
  }
  Grouper<std::pair<ItemId, std::string>> names;
  for (std::size_t i = 0; i < list.services().size(); ++i) {
    const Service& s = list.services()[i];
    if (s.record.name.empty() || taken.count(s.id)) continue;
    names.Add({s.transponder, s.record.name}, s.id, static_cast<int>(i));
  }
  for (std::size_t g = 0; g < names.groups.size(); ++g) {
    auto& [keep, extra] = names.groups[g];
    if (extra.empty()) continue;
    const Service* s = &list.services()[static_cast<std::size_t>(names.order[g])];
    found.push_back({2, names.order[g], 1,
                     {Table::kServices, "same name '" + s->record.name + "' on " + onText(s->transponder), keep,
                      extra}});
  }

  std::stable_sort(found.begin(), found.end(), [](const Sorted& x, const Sorted& y) {
    return std::tie(x.tableRank, x.position, x.kindRank) < std::tie(y.tableRank, y.position, y.kindRank);
  });
  std::vector<DuplicateGroup> groups;
  groups.reserve(found.size());
  for (Sorted& s : found) groups.push_back(std::move(s.group));
  return groups;
}

ChannelList WithoutDuplicates(const ChannelList& list, const std::vector<DuplicateGroup>& groups) {
  // Where each removed satellite and transponder goes.
  std::unordered_map<ItemId, ItemId> satelliteTo;
  std::unordered_map<ItemId, ItemId> transponderTo;
  std::unordered_set<ItemId> removedServices;
  for (const DuplicateGroup& g : groups) {
    for (ItemId extra : g.extra) {
      if (extra == g.keep) continue;
      switch (g.table) {
        case Table::kSatellites: satelliteTo[extra] = g.keep; break;
        case Table::kTransponders: transponderTo[extra] = g.keep; break;
        case Table::kServices: removedServices.insert(extra); break;
        case Table::kAntennas: break;
      }
    }
  }
  auto kept = [](const std::unordered_map<ItemId, ItemId>& to, ItemId id) {
    // Chains (a kept record that another group removes) end within the list's size.
    for (std::size_t step = 0; step <= to.size(); ++step) {
      const auto it = to.find(id);
      if (it == to.end()) break;
      id = it->second;
    }
    return id;
  };

  // The transponders of a removed satellite: onto the kept satellite's
  // transponder of the same frequency and polarization, or moved there.
  std::map<std::tuple<ItemId, int, bool>, ItemId> slotOf;  // on the satellites that stay
  for (const Transponder& t : list.transponders()) {
    if (satelliteTo.count(t.satellite) || transponderTo.count(t.id)) continue;
    slotOf.try_emplace({t.satellite, t.record.frequency, t.record.polarization}, t.id);
  }
  std::unordered_map<ItemId, std::vector<Transponder>> movedTo;  // kept satellite -> its new transponders
  for (const Transponder& t : list.transponders()) {
    if (!satelliteTo.count(t.satellite) || transponderTo.count(t.id)) continue;
    const ItemId satellite = kept(satelliteTo, t.satellite);
    const auto [it, fresh] = slotOf.try_emplace({satellite, t.record.frequency, t.record.polarization}, t.id);
    if (fresh) {
      Transponder moved = t;
      moved.satellite = satellite;
      movedTo[satellite].push_back(moved);
    } else {
      transponderTo[t.id] = it->second;
    }
  }

  ChannelList result = list;
  std::vector<Satellite>& satellites = result.mutableSatellites();
  std::erase_if(satellites, [&](const Satellite& s) { return satelliteTo.count(s.id) > 0; });
  std::vector<Transponder> transponders;
  transponders.reserve(list.transponders().size());
  for (std::size_t i = 0; i < list.transponders().size();) {
    const ItemId satellite = list.transponders()[i].satellite;
    for (; i < list.transponders().size() && list.transponders()[i].satellite == satellite; ++i) {
      const Transponder& t = list.transponders()[i];
      if (!satelliteTo.count(t.satellite) && !transponderTo.count(t.id)) transponders.push_back(t);
    }
    // The moved ones behind the kept satellite's own.
    if (const auto moved = movedTo.find(satellite); moved != movedTo.end()) {
      transponders.insert(transponders.end(), moved->second.begin(), moved->second.end());
      movedTo.erase(moved);
    }
  }
  // Kept satellites that had no transponders of their own, in list order.
  for (const Satellite& s : satellites) {
    if (const auto moved = movedTo.find(s.id); moved != movedTo.end()) {
      transponders.insert(transponders.end(), moved->second.begin(), moved->second.end());
    }
  }
  if (!movedTo.empty()) {
    // Put the table back satellite by satellite in the satellites' order.
    std::unordered_map<ItemId, int> rank;
    for (std::size_t i = 0; i < satellites.size(); ++i) rank[satellites[i].id] = static_cast<int>(i);
    std::stable_sort(transponders.begin(), transponders.end(), [&](const Transponder& x, const Transponder& y) {
      return rank[x.satellite] < rank[y.satellite];
    });
  }
  result.mutableTransponders() = std::move(transponders);

  std::vector<Service>& services = result.mutableServices();
  std::erase_if(services, [&](const Service& s) { return removedServices.count(s.id) > 0; });
  for (Service& s : services) s.transponder = kept(transponderTo, s.transponder);
  return result;
}

}  // namespace torvix::channels
