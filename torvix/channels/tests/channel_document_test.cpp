#include "torvix/channels/channel_document.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "torvix/channels/tests/list_samples.h"
#include "torvix/database/tests/sample_texts.h"

namespace torvix::channels {
namespace {

using testing::HandMadeList;

bool SameImage(const DatabaseImage& a, const DatabaseImage& b) {
  return std::memcmp(a.Data(), b.Data(), DatabaseImage::kSize) == 0;
}

ChannelList MaximalList() {
  OpenResult opened = ListFromText(torvix::testing::MaximalKvrsText());
  EXPECT_EQ(opened.status, OpenResult::Status::kOk) << opened.message;
  return std::move(opened.list).value_or(ChannelList());
}

std::vector<ItemId> Ids(const auto& items, std::size_t from, std::size_t count) {
  std::vector<ItemId> ids;
  for (std::size_t i = from; i < from + count && i < items.size(); ++i) ids.push_back(items[i].id);
  return ids;
}

// One user action on a document, and the description its step must have.
struct Action {
  std::function<EditResult(ChannelDocument&)> run;
  std::string description;
};

std::vector<Action> Actions(const ChannelList& list) {
  const ItemId service = list.services()[1].id;
  const ItemId satellite0 = list.satellites()[0].id;
  const ItemId satellite1 = list.satellites()[1].id;
  const std::vector<ItemId> firstServices = Ids(list.services(), 0, 2);
  const std::string oldName = list.services()[1].record.name;
  const auto transpondersOf1 = list.TranspondersOf(satellite1);
  std::vector<ItemId> reversed;
  for (auto it = transpondersOf1.rbegin(); it != transpondersOf1.rend(); ++it) reversed.push_back((*it)->id);
  const std::string choice = CellChoices(list, Table::kServices, service, Field::kServiceTransponder).back();
  return {
      {[=](ChannelDocument& d) { return d.SetCell(Table::kServices, service, Field::kServiceName, "Das Erste HD"); },
       "Rename service '" + oldName + "' to 'Das Erste HD'"},
      {[=](ChannelDocument& d) { return d.SetCell(Table::kServices, service, Field::kVideoPid, "5101"); },
       "Set Video PID of service 'Das Erste HD' to 5101"},
      {[=](ChannelDocument& d) { return d.SetCell(Table::kServices, service, Field::kServiceTransponder, choice); },
       "Set Transponder of service 'Das Erste HD' to " +
           CellText(list, Table::kTransponders, list.transponders().back().id, Field::kFrequency) + " " +
           CellText(list, Table::kTransponders, list.transponders().back().id, Field::kPolarization)},
      {[=](ChannelDocument& d) { return d.Move(Table::kServices, firstServices, 2); }, "Move 2 services down by 2"},
      {[=](ChannelDocument& d) { return d.Move(Table::kSatellites, std::vector{satellite1}, -1); },
       "Move satellite '" + list.satellites()[1].record.name + "' up"},
      {[=](ChannelDocument& d) { return d.Reorder(Table::kTransponders, reversed); }, "Sort transponders"},
      {[=](ChannelDocument& d) { return d.MoveTo(Table::kServices, std::vector{service}, 0); },
       "Move service 'Das Erste HD' to position 1"},
      {[=](ChannelDocument& d) { return d.Delete(Table::kServices, Ids(d.list().services(), 1, 2)); },
       "Delete 2 services"},
      {[=](ChannelDocument& d) { return d.Delete(Table::kSatellites, std::vector{satellite0}, true); }, ""},
      // After the delete: the maximal list has room again.
      {[=](ChannelDocument& d) { return d.Insert(Table::kTransponders, 1, satellite1); }, "Insert transponder"},
  };
}

// Every step undoes to the image before it and redoes to the image after it.
TEST(ChannelDocument, UndoAndRedoEveryStepToTheIdenticalImage) {
  for (const ChannelList& start : {HandMadeList(Layout::kBasic), HandMadeList(Layout::kKvrs), MaximalList()}) {
    ChannelDocument document(start);
    std::vector<DatabaseImage> images{start.Compile()};
    for (const Action& action : Actions(start)) {
      const EditResult result = action.run(document);
      ASSERT_TRUE(result.ok) << action.description << ": " << result.message;
      if (!action.description.empty()) {
        EXPECT_EQ(document.UndoText(), action.description);
      }
      EXPECT_FALSE(document.CanRedo());
      images.push_back(document.list().Compile());
      EXPECT_FALSE(SameImage(images.back(), images[images.size() - 2])) << document.UndoText();
      // What the reader makes of the saved text, after every step.
      auto read = std::make_unique<DatabaseImage>();
      EXPECT_EQ(torvix::testing::Compile(WriteText(document.list()), *read).code, 0);
      EXPECT_TRUE(SameImage(*read, images.back())) << document.UndoText();
    }
    EXPECT_TRUE(document.modified());
    document.MarkSaved();
    for (std::size_t i = images.size() - 1; i > 0; --i) {
      document.Undo();
      EXPECT_TRUE(SameImage(document.list().Compile(), images[i - 1])) << "undo to step " << i - 1;
    }
    EXPECT_FALSE(document.CanUndo());
    EXPECT_TRUE(document.modified());
    for (std::size_t i = 1; i < images.size(); ++i) {
      document.Redo();
      EXPECT_TRUE(SameImage(document.list().Compile(), images[i])) << "redo to step " << i;
    }
    EXPECT_FALSE(document.modified());
    EXPECT_FALSE(document.CanRedo());
  }
}

TEST(ChannelDocument, ModifiedFollowsTheSavedStep) {
  ChannelDocument document(HandMadeList(Layout::kBasic));
  const ItemId id = document.list().services()[0].id;
  EXPECT_FALSE(document.modified());
  ASSERT_TRUE(document.SetCell(Table::kServices, id, Field::kLocked, "1"));
  EXPECT_TRUE(document.modified());
  document.Undo();
  EXPECT_FALSE(document.modified());
  document.Redo();
  document.MarkSaved();
  document.Undo();
  EXPECT_TRUE(document.modified());
  // A new edit on an undone step makes the saved state unreachable.
  ASSERT_TRUE(document.SetCell(Table::kServices, id, Field::kScrambled, "1"));
  EXPECT_FALSE(document.CanRedo());
  EXPECT_TRUE(document.modified());
  document.Undo();
  EXPECT_TRUE(document.modified());
  // Unchanged values and refusals add no step.
  ASSERT_TRUE(document.SetCell(Table::kServices, id, Field::kServiceName, document.list().services()[0].record.name));
  EXPECT_FALSE(document.SetCell(Table::kServices, id, Field::kVideoPid, "9000"));
  EXPECT_FALSE(document.CanUndo());
}

// Services keep their transponder through moves and deletes of what lies
// above them; deleting what services use is refused with their count.
TEST(ChannelDocument, KeepsReferencesThroughMovesAndDeletes) {
  for (Layout layout : {Layout::kBasic, Layout::kKvrs}) {
    ChannelDocument document(HandMadeList(layout));
    const ChannelList& list = document.list();
    const ItemId astra = list.satellites()[0].id;
    const ItemId hotBird = list.satellites()[1].id;
    const Service radio = list.services()[1];  // on Hot Bird's first transponder
    const std::string before = CellText(list, Table::kServices, radio.id, Field::kServiceTransponder);

    const EditResult refused = document.Delete(Table::kSatellites, std::vector{astra});
    EXPECT_EQ(refused.message, "Refused: 1 service uses this satellite.");
    EXPECT_EQ(document.Delete(Table::kSatellites, std::vector{astra, hotBird}).message,
              "Refused: 4 services use these 2 satellites.");
    EXPECT_EQ(document.Delete(Table::kTransponders, Ids(list.transponders(), 2, 3)).message,
              "Refused: 3 services use these 3 transponders.");
    EXPECT_EQ(document.ServicesUsing(Table::kSatellites, std::vector{hotBird}), 3);
    EXPECT_EQ(document.Move(Table::kTransponders, Ids(list.transponders(), 1, 2), 1).message,
              "Transponders move only within their satellite.");
    EXPECT_FALSE(document.CanUndo());

    ASSERT_TRUE(document.Delete(Table::kSatellites, std::vector{astra}, true));
    EXPECT_EQ(document.UndoText(), "Delete satellite 'ASTRA' with 1 service");
    EXPECT_EQ(list.FindService(radio.id)->transponder, radio.transponder);
    EXPECT_EQ(CellText(list, Table::kServices, radio.id, Field::kServiceSatellite), "HOT BIRD");
    EXPECT_EQ(CellText(list, Table::kServices, radio.id, Field::kServiceTransponder), before);
    if (layout == Layout::kKvrs) {
      EXPECT_EQ(list.FindService(radio.id)->antenna, radio.antenna);
    }
    ASSERT_TRUE(document.Move(Table::kTransponders, std::vector{radio.transponder}, 2));
    ASSERT_TRUE(document.Insert(Table::kSatellites, 0, kNoItem));
    // The text carries the service to the same transponder, now third of the second satellite.
    const OpenResult reopened = ListFromText(WriteText(list));
    ASSERT_EQ(reopened.status, OpenResult::Status::kOk) << reopened.message;
    const ChannelList& back = *reopened.list;
    const Service& moved = back.services()[static_cast<std::size_t>(list.IndexOf(Table::kServices, radio.id))];
    EXPECT_EQ(back.IndexOf(Table::kTransponders, moved.transponder), list.IndexOf(Table::kTransponders, radio.transponder));
    EXPECT_EQ(back.PositionInSatellite(moved.transponder), 3);
    EXPECT_EQ(document.Move(Table::kTransponders, std::vector{radio.transponder}, 1).message, "Already at the bottom.");
  }
}

// A refused text names the field as the reader does; where the reader has
// a line for the value, it agrees on accepting or refusing it.
TEST(ChannelDocument, RefusesWhatTheReaderRefusesWithItsFieldText) {
  struct Row {
    Layout layout;
    Table table;
    Field field;
    const char* text;
    const char* message;  // "" when accepted
    const char* line;     // the record line with the value as %s; null where the reader is less strict
  };
  const Row rows[] = {
      {Layout::kBasic, Table::kServices, Field::kServiceId, "65536", "field : service_id (a whole number from 0 to 65535)", "v \"X\" 1 1 %s 1 1 1 1 0 0 0"},
      {Layout::kBasic, Table::kServices, Field::kServiceId, "65535", "", "v \"X\" 1 1 %s 1 1 1 1 0 0 0"},
      {Layout::kBasic, Table::kServices, Field::kServiceId, "-1", "field : service_id (a whole number from 0 to 65535)", "v \"X\" 1 1 %s 1 1 1 1 0 0 0"},
      {Layout::kBasic, Table::kServices, Field::kVideoPid, "8192", "field : video_pid (a whole number from 0 to 8191)", "v \"X\" 1 1 1 %s 1 1 1 0 0 0"},
      {Layout::kKvrs, Table::kServices, Field::kPcrPid, "8191", "", "v \"X\" 1 1 1 1 1 1 %s 1 0 0 0"},
      {Layout::kBasic, Table::kServices, Field::kTeletextPid, "8192", "field : txt_pid (a PID from 0 to 8191, or with bit 15 set from 32768 to 40959)", "v \"X\" 1 1 1 1 1 1 %s 0 0 0"},
      {Layout::kBasic, Table::kServices, Field::kTeletextPid, "40959", "", "v \"X\" 1 1 1 1 1 1 %s 0 0 0"},
      {Layout::kBasic, Table::kServices, Field::kFavorite, "2", "field : favorite (a whole number from 0 to 1)", "v \"X\" 1 1 1 1 1 1 1 0 %s 0"},
      {Layout::kKvrs, Table::kServices, Field::kFavorite, "255", "", "v \"X\" 1 1 1 1 1 1 1 1 0 %s 0"},
      {Layout::kKvrs, Table::kServices, Field::kFavorite, "256", "field : favorite (a whole number from 0 to 255)", nullptr},
      {Layout::kBasic, Table::kServices, Field::kLocked, "yes", "field : lock (0 or 1)", "v \"X\" 1 1 1 1 1 1 1 0 0 %s"},
      {Layout::kBasic, Table::kServices, Field::kServiceName, "fourteen chars", "field : name (at most 13 characters, no double quote or control character)", "v \"%s\" 1 1 1 1 1 1 1 0 0 0"},
      {Layout::kKvrs, Table::kServices, Field::kServiceName, "a\"b", "field : name (at most 13 characters, no double quote or control character)", nullptr},
      {Layout::kKvrs, Table::kServices, Field::kServiceName, "tab\there", "field : name (at most 13 characters, no double quote or control character)", nullptr},
      {Layout::kBasic, Table::kSatellites, Field::kSatelliteName, "ten chars!", "field : name (at most 9 characters, no double quote or control character)", "s \"%s\" 9750 10600 u 1.0 e a n n n"},
      {Layout::kBasic, Table::kSatellites, Field::kAngle, "180.1", "field : angle (degrees from 0.0 to 180.0)", "s \"X\" 9750 10600 u %s e a n n n"},
      {Layout::kKvrs, Table::kSatellites, Field::kAngle, "180.0", "", "s \"X\" 9750 10600 u %s e y 0"},
      {Layout::kBasic, Table::kSatellites, Field::kTone22, "11", "field : 22KHz (none, 0 or 22)", "s \"X\" 9750 10600 u 1.0 e a %s n n"},
      {Layout::kBasic, Table::kSatellites, Field::kDiseqc, "E", "field : DiSEqC (none, a, b, c or d)", "s \"X\" 9750 10600 u 1.0 e %s n n n"},
      {Layout::kKvrs, Table::kSatellites, Field::kDiseqc12, "2", "field : DiSEqC (0 or 1)", "s \"X\" 9750 10600 u 1.0 e %s 0"},
      {Layout::kKvrs, Table::kSatellites, Field::kBiasedValue, "166", "field : biased_value (a whole number from -90 to 165)", nullptr},
      {Layout::kBasic, Table::kSatellites, Field::kLnbLow, "65536", "field : lnb_low (a whole number from 0 to 65535)", nullptr},
      {Layout::kBasic, Table::kTransponders, Field::kTransponderTone22, "11", "field : 22 KHz (0 or 22)", "t 11778 27500 hor %s 14 0 3/4"},
      {Layout::kKvrs, Table::kTransponders, Field::kTransponderVolt1418, "13", "field : 14/18 Volt (14 or 18)", "t 11778 27500 hor 0 %s 0 3/4"},
      {Layout::kBasic, Table::kTransponders, Field::kFec, "9/10", "field : FEC (one of auto, 1/2, 2/3, 3/4, 5/6 or 7/8)", "t 11778 27500 hor 0 14 0 %s"},
      {Layout::kKvrs, Table::kTransponders, Field::kPolarization, "x", "field : polarization (H or V)", "t 11778 27500 %s 0 14 0 3/4"},
      {Layout::kKvrs, Table::kTransponders, Field::kPolarization, "horizontal", "", "t 11778 27500 %s 0 14 0 3/4"},
      {Layout::kKvrs, Table::kAntennas, Field::kAntennaType, "x", "field : antenna_type (f (fixed), d (DiSEqC) or a (actuator))", nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    ChannelDocument document(HandMadeList(row.layout));
    const ItemId id = row.table == Table::kSatellites     ? document.list().satellites()[0].id
                      : row.table == Table::kTransponders ? document.list().transponders()[0].id
                      : row.table == Table::kAntennas     ? document.list().antennas()[0].id
                                                          : document.list().services()[0].id;
    const DatabaseImage before = document.list().Compile();
    EXPECT_EQ(CheckCell(document.list(), row.table, id, row.field, row.text), row.message);
    const EditResult result = document.SetCell(row.table, id, row.field, row.text);
    EXPECT_EQ(result.message, row.message);
    if (!result.ok) {
      EXPECT_TRUE(SameImage(document.list().Compile(), before));
    }
    if (row.line == nullptr) continue;
    char line[256];
    std::snprintf(line, sizeof line, row.line, row.text);
    const std::string text = std::string(row.layout == Layout::kKvrs ? "KVRS\ns \"S\" 9750 10600 u 1.0 e y 0\n"
                                                                      : "s \"S\" 9750 10600 u 1.0 e a n n n\n") +
                             "t 11778 27500 hor 0 14 0 3/4\n" + line + "\n";
    const OpenResult read = ListFromText(text);
    EXPECT_EQ(read.status == OpenResult::Status::kOk, std::string(row.message).empty()) << read.message;
    if (*row.message != '\0') {
      const std::string field = std::string(row.message).substr(0, std::string(row.message).find(" ("));
      EXPECT_NE(read.message.find("\n   " + field + "\n"), std::string::npos) << read.message;
    }
  }
}

TEST(ChannelDocument, RefusesRecordsBeyondTheRoomOfTheirTable) {
  ChannelDocument document(MaximalList());
  const ChannelList& list = document.list();
  const struct {
    Table table;
    ItemId parent;
    const char* message;
  } rows[] = {
      {Table::kSatellites, kNoItem, "Overflow number of satellites. A list holds at most 128 satellites."},
      {Table::kTransponders, list.satellites()[0].id, "Overflow number of tps. A list holds at most 2048 transponders."},
      {Table::kServices, list.transponders()[0].id, "Overflow number of service. A list holds at most 3200 services."},
      {Table::kAntennas, kNoItem, "Overflow number of antennas. A list holds at most 64 antennas."},
  };
  for (const auto& row : rows) EXPECT_EQ(document.Insert(row.table, 0, row.parent).message, row.message);
  ChannelDocument basic(HandMadeList(Layout::kBasic));
  EXPECT_EQ(basic.Insert(Table::kAntennas, 0, kNoItem).message,
            "Overflow number of antennas. A list of the basic layout holds no antennas.");
  EXPECT_FALSE(document.CanUndo());
}

// What a cell shows, and each of its choices, is a value the cell takes.
TEST(ListFields, EveryShownTextAndChoiceIsAccepted) {
  for (Layout layout : {Layout::kBasic, Layout::kKvrs}) {
    const ChannelList list = HandMadeList(layout);
    for (Table table : {Table::kSatellites, Table::kTransponders, Table::kServices, Table::kAntennas}) {
      if (list.Count(table) == 0) continue;
      const ItemId id = table == Table::kSatellites     ? list.satellites()[1].id
                        : table == Table::kTransponders ? list.transponders()[1].id
                        : table == Table::kAntennas     ? list.antennas()[1].id
                                                        : list.services()[1].id;
      for (const ColumnInfo& column : Columns(table, layout)) {
        SCOPED_TRACE(column.title);
        if (column.kind == CellKind::kReadOnly) continue;
        ChannelList edited = list;
        EXPECT_EQ(ApplyCell(edited, table, id, column.field, CellText(list, table, id, column.field)), "");
        EXPECT_EQ(WriteText(edited), WriteText(list));
        for (const std::string& choice : CellChoices(list, table, id, column.field)) {
          EXPECT_EQ(CheckCell(list, table, id, column.field, choice), "") << choice;
        }
        EXPECT_EQ(column.kind == CellKind::kChoice, !CellChoices(list, table, id, column.field).empty());
      }
    }
  }
}

}  // namespace
}  // namespace torvix::channels
