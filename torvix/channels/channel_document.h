// One open channel list with its edits: every change a user makes is one
// command, which can be undone and redone, with a short description for the
// Edit menu ("Delete 12 services", "Rename service 'X' to 'Y'").
//
// A refused change alters nothing and adds no step; its message says why
// (the reader's limits and texts, the room of a table, the services that
// still use a transponder).
//
//   state      | edit (accepted)          | Undo            | Redo            | MarkSaved
//   -----------+--------------------------+-----------------+-----------------+----------
//   unmodified | modified, redo cleared   | (back a step)   | (forward)       | -
//   modified   | modified, redo cleared   | modified unless | modified unless | unmodified
//              |                          | at saved step   | at saved step   |
//
// User-interface thread only (or any one thread); no blocking; no Qt.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "torvix/channels/channel_list.h"
#include "torvix/channels/list_fields.h"

namespace torvix::channels {

struct EditResult {
  bool ok = true;
  std::string message;  // why the change was refused; empty when it was made
  explicit operator bool() const { return ok; }
};

class ChannelDocument {
 public:
  explicit ChannelDocument(ChannelList list = ChannelList());
  ~ChannelDocument();

  const ChannelList& list() const;
  // A new or newly opened list: no undo history, unmodified.
  void Reset(ChannelList list);
  bool modified() const;
  void MarkSaved();

  // One cell (list_fields.h), e.g. a rename or a new video PID.
  EditResult SetCell(Table table, ItemId id, Field field, std::string_view text);
  // The basic layout's default switch configuration, -1 to 8.
  EditResult SetAntennaConfig(int value);
  // A new record with default values at `position` of its table (for a
  // transponder: among the transponders of `parent`, a satellite; for a
  // service: on transponder `parent`).  `created` receives its id.
  EditResult Insert(Table table, int position, ItemId parent, ItemId* created = nullptr);

  // Deletes the records.  A satellite, transponder or (KVRS) antenna that
  // services still use is refused with their count, unless `withServices`
  // deletes those too (a satellite takes its transponders with it).  One step.
  EditResult Delete(Table table, std::span<const ItemId> ids, bool withServices = false);
  // How many services use these satellites, transponders or antennas (0 for
  // services).
  int ServicesUsing(Table table, std::span<const ItemId> ids) const;

  // Moves the records one place up (-1) or down (+1) per step of `delta`,
  // keeping their order among themselves; refused at either end.  For
  // transponders, within their satellite.
  EditResult Move(Table table, std::span<const ItemId> ids, int delta);
  // Puts the records, in their present order, at `position` (0-based, in the
  // order the table has without them).  For transponders, within their
  // satellite.
  EditResult MoveTo(Table table, std::span<const ItemId> ids, int position);
  // Makes `order` the table's order ("Apply Sort Order"): the same ids, each
  // once (for transponders: those of one satellite).
  EditResult Reorder(Table table, std::span<const ItemId> order);

  // Replaces the whole list in one step (copying differences in, removing
  // duplicates); `description` names the step.  The new list must keep the
  // ids of the records it keeps.
  EditResult ReplaceList(ChannelList list, std::string description);

  bool CanUndo() const;
  bool CanRedo() const;
  std::string UndoText() const;  // the description of the step Undo would take back; "" when none
  std::string RedoText() const;
  void Undo();
  void Redo();

  class Command;  // one step (channel_document.cpp)

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace torvix::channels
