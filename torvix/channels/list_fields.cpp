#include "torvix/channels/list_fields.h"

namespace torvix::channels {

std::span<const ColumnInfo> Columns(Table, Layout) { return {}; }
std::string CellText(const ChannelList&, Table, ItemId, Field) { return {}; }
std::vector<std::string> CellChoices(const ChannelList&, Table, ItemId, Field) { return {}; }
std::string CheckCell(const ChannelList&, Table, ItemId, Field, std::string_view) { return {}; }

}  // namespace torvix::channels
