// The difference of two channel lists, by identity keys rather than by
// position: a satellite is its orbital position and name, a transponder its
// satellite, frequency and polarization, a service its transponder and
// service id.  Records whose key is in one list only are added or removed;
// records with the same key and other fields are changed, field by field.
//
// Pure functions of the lists; no threads, no blocking; no Qt.
#pragma once

#include <string>
#include <vector>

#include "torvix/channels/channel_list.h"
#include "torvix/channels/list_fields.h"

namespace torvix::channels {

struct FieldChange {
  Field field;
  std::string name;  // the field as the text names it, e.g. "video PID"
  std::string before;
  std::string after;
};

struct Difference {
  enum class Kind { kAdded, kRemoved, kChanged };
  Kind kind;
  Table table;
  std::string key;   // e.g. "service \"ZDF\" on 11953 H", "transponder 11778 H on ASTRA 19.2E"
  ItemId inA = kNoItem;  // the record in list A (removed, changed)
  ItemId inB = kNoItem;  // the record in list B (added, changed)
  std::vector<FieldChange> changes;  // kChanged only
};

// A -> B, in a stable order: satellites, transponders, services, antennas,
// each in the order of A, then additions in the order of B.
std::vector<Difference> Diff(const ChannelList& a, const ChannelList& b);

// The list's own values that differ, outside every table: "layout" (basic,
// KVRS) and, in the basic layout, "default switch configuration" (-1 to 8,
// "none" without an A line).  When the layouts differ, Diff() compares only
// the fields both layouts have.
struct HeaderChange {
  std::string name;
  std::string before;
  std::string after;
};
std::vector<HeaderChange> DiffHeader(const ChannelList& a, const ChannelList& b);

// One line per change for a person: `service "Name" on 11778 H: video PID 512 -> 513`,
// `+ service "Name" on 11778 H`, `- transponder 12603 V on HOTBIRD`.
std::vector<std::string> DiffLines(const std::vector<Difference>& differences);
// The same behind the header's lines (`layout: basic -> KVRS`).
std::vector<std::string> DiffLines(const std::vector<HeaderChange>& header, const std::vector<Difference>& differences);
// {"added":[...],"removed":[...],"changed":[...]}: each entry has "table"
// ("satellite", "transponder", "service", "antenna"; "list" for the
// header's changes) and "key"; the changed ones "fields", each with "field",
// "before" and "after".
std::string DiffJson(const std::vector<Difference>& differences);
std::string DiffJson(const std::vector<HeaderChange>& header, const std::vector<Difference>& differences);

// List A with the chosen differences (taken from B) copied in: added records
// are added (with what they need: their transponder and satellite),
// removed ones removed, changed fields set to B's values.  Records kept
// keep their ids.  For ChannelDocument::ReplaceList.
ChannelList ApplyDifferences(const ChannelList& a, const ChannelList& b, const std::vector<Difference>& chosen);

}  // namespace torvix::channels
