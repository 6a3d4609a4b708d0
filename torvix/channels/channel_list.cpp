#include "torvix/channels/channel_list.h"

namespace torvix::channels {

ChannelList::ChannelList(Layout layout) : layout_(layout) {}

std::vector<const Transponder*> ChannelList::TranspondersOf(ItemId) const { return {}; }
int ChannelList::Room(Table) const { return 0; }
int ChannelList::Count(Table) const { return 0; }
const Satellite* ChannelList::FindSatellite(ItemId) const { return nullptr; }
const Transponder* ChannelList::FindTransponder(ItemId) const { return nullptr; }
const Service* ChannelList::FindService(ItemId) const { return nullptr; }
const Antenna* ChannelList::FindAntenna(ItemId) const { return nullptr; }
int ChannelList::IndexOf(Table, ItemId) const { return -1; }
DatabaseImage ChannelList::Compile() const { return DatabaseImage(); }

ChannelList ListFromImage(const DatabaseImage&, std::vector<std::string>*) { return ChannelList(); }
OpenResult ListFromText(std::string_view) { return {}; }
OpenResult OpenListFile(const std::string&) { return {}; }
std::string WriteText(const ChannelList&) { return {}; }
std::string SaveListFile(const ChannelList&, const std::string&) { return {}; }

}  // namespace torvix::channels
