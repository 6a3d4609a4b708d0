// Duplicates in one channel list: services with the same service id, or the
// same name, on the same transponder; transponders with the same frequency
// and polarization on one satellite; satellites at the same orbital position.
//
// Pure functions of the list; no threads, no blocking; no Qt.
#pragma once

#include <string>
#include <vector>

#include "torvix/channels/channel_list.h"

namespace torvix::channels {

// Records that are duplicates of each other: `keep` is the first in list
// order, `extra` the later ones, which removal takes out.
struct DuplicateGroup {
  Table table;
  std::string reason;  // e.g. "service id 1201 on ASTRA 19.2E 11778 H", "same name 'ZDF' on ..."
  ItemId keep = kNoItem;
  std::vector<ItemId> extra;
};

// In list order of the kept record: satellites, transponders, services.
std::vector<DuplicateGroup> FindDuplicates(const ChannelList& list);

// The list without the extra records of `groups`; services of a removed
// transponder or satellite move to the kept one (and its transponder of the
// same frequency and polarization), so nothing else is lost.  For
// ChannelDocument::ReplaceList, with a description such as
// "Remove 7 duplicates".
ChannelList WithoutDuplicates(const ChannelList& list, const std::vector<DuplicateGroup>& groups);

}  // namespace torvix::channels
