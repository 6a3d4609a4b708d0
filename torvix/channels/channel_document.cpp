#include "torvix/channels/channel_document.h"

namespace torvix::channels {

struct ChannelDocument::State {
  ChannelList list;
};

ChannelDocument::ChannelDocument(ChannelList list) : state_(std::make_unique<State>(State{std::move(list)})) {}
ChannelDocument::~ChannelDocument() = default;
const ChannelList& ChannelDocument::list() const { return state_->list; }
void ChannelDocument::Reset(ChannelList list) { state_->list = std::move(list); }
bool ChannelDocument::modified() const { return false; }
void ChannelDocument::MarkSaved() {}
EditResult ChannelDocument::SetCell(Table, ItemId, Field, std::string_view) { return {false, "not yet"}; }
EditResult ChannelDocument::SetAntennaConfig(int) { return {false, "not yet"}; }
EditResult ChannelDocument::Insert(Table, int, ItemId, ItemId*) { return {false, "not yet"}; }
EditResult ChannelDocument::Delete(Table, std::span<const ItemId>, bool) { return {false, "not yet"}; }
int ChannelDocument::ServicesUsing(Table, std::span<const ItemId>) const { return 0; }
EditResult ChannelDocument::Move(Table, std::span<const ItemId>, int) { return {false, "not yet"}; }
EditResult ChannelDocument::MoveTo(Table, std::span<const ItemId>, int) { return {false, "not yet"}; }
EditResult ChannelDocument::Reorder(Table, std::span<const ItemId>) { return {false, "not yet"}; }
EditResult ChannelDocument::ReplaceList(ChannelList, std::string) { return {false, "not yet"}; }
bool ChannelDocument::CanUndo() const { return false; }
bool ChannelDocument::CanRedo() const { return false; }
std::string ChannelDocument::UndoText() const { return {}; }
std::string ChannelDocument::RedoText() const { return {}; }
void ChannelDocument::Undo() {}
void ChannelDocument::Redo() {}

}  // namespace torvix::channels
