// The fields of a channel list as cells of a table: which columns each table
// shows in each layout, every cell as text, and the checked parse of a text
// back into the record, with the limits and the words of the line decoders.
//
// Pure functions of the list; no threads, no blocking; no Qt.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "torvix/channels/channel_list.h"

namespace torvix::channels {

enum class Field {
  // Satellites.
  kSatelliteName, kLnbLow, kLnbHigh, kUniversalLnb, kAngle, kEastWest,
  kDiseqc, kTone22, kVolt012, kVolt1418,  // basic layout
  kDiseqc12, kBiasedValue,                // KVRS layout
  // Transponders.
  kFrequency, kSymbolRate, kPolarization, kTransponderTone22, kTransponderVolt1418, kTransponderVolt012, kFec,
  kAuxByte, kAuxCodes,  // KVRS layout
  // Services.
  kServiceName, kServiceSatellite, kServiceTransponder, kServiceAntenna, kServiceId, kVideoPid, kAudioPid, kPcrPid,
  kTeletextPid, kServiceType, kScrambled, kFavorite, kLocked,
  // Antennas.
  kAntennaLnbLow, kAntennaLnbHigh, kAntennaUniversalLnb, kAntennaType, kAntennaDiseqc, kAntennaTone22,
  kAntennaVolt012, kAntennaVolt1418,
};

enum class CellKind {
  kText,      // free text (names)
  kNumber,    // a decimal number
  kCheck,     // a check box: CellText gives "1" or "0", SetCell takes the same
  kChoice,    // one of CellChoices()
  kReadOnly,  // shown, never edited (a service's satellite follows its transponder)
};

struct ColumnInfo {
  Field field;
  std::string_view title;  // the column header, e.g. "Service ID"
  CellKind kind;
};

// The columns of `table` in `layout`, in display order.  Services:
// Name, Satellite, Transponder, (KVRS: Antenna,) Service ID, Video PID,
// Audio PID, PCR PID, Teletext PID, Type, Scrambled, Favorite (KVRS: a number
// 0-255, basic: a check box), Locked.
std::span<const ColumnInfo> Columns(Table table, Layout layout);

// The cell's text as the table shows it ("19.2", "11778 H", "TV").
std::string CellText(const ChannelList& list, Table table, ItemId id, Field field);
// The texts a kChoice cell accepts, in display order (for a service's
// transponder: every transponder of the list, e.g. "ASTRA 19.2E 11778 H",
// a repeated text followed by " (2)", " (3)", ...; for a KVRS service's
// antenna: "None", then the antenna numbers "1", "2", ...).  Empty for other
// kinds of cells.
std::vector<std::string> CellChoices(const ChannelList& list, Table table, ItemId id, Field field);

// The table's record in words ("service"), and the refusal for an id the
// list does not hold.
const char* TableNoun(Table table);
std::string NoSuchRecord(Table table);

// "" when `text` is a value the text reader would accept for the field in
// the list's layout (and the table has room for what it implies);
// otherwise the message to show, which names the field as the reader does.
// ChannelDocument::SetCell stores exactly what this accepts.
std::string CheckCell(const ChannelList& list, Table table, ItemId id, Field field, std::string_view text);
// CheckCell, and when it accepts, stores the value into the record (a
// service's transponder: the service moves to it).  Returns CheckCell's
// message; a refused text changes nothing.  For ChannelDocument::SetCell and
// for tools that build a list for ChannelDocument::ReplaceList.
std::string ApplyCell(ChannelList& list, Table table, ItemId id, Field field, std::string_view text);

// "" when the reader accepts WriteText(list) and builds list.Compile() from
// it; otherwise the first reason why not (a table beyond its room, a service
// on a transponder that its line cannot name, a name the text cannot carry).
// The editor checks this before a list goes to a receiver.
std::string CheckList(const ChannelList& list);

// The refusal of a table that is full, e.g. "Overflow number of service.
// A list holds at most 3200 services."
std::string RoomMessage(const ChannelList& list, Table table);

}  // namespace torvix::channels
