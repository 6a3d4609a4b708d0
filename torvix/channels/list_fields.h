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
// transponder: every transponder of the list, e.g. "ASTRA 19.2E 11778 H").
std::vector<std::string> CellChoices(const ChannelList& list, Table table, ItemId id, Field field);

// "" when `text` is a value the text reader would accept for the field in
// the list's layout (and the table has room for what it implies);
// otherwise the message to show, which names the field as the reader does.
// ChannelDocument::SetCell stores exactly what this accepts.
std::string CheckCell(const ChannelList& list, Table table, ItemId id, Field field, std::string_view text);

}  // namespace torvix::channels
