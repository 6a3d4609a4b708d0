// A channel list as a technician edits it: the satellites, their
// transponders, the services and (KVRS) the antennas of one receiver
// database, held as records that refer to each other by identity rather than
// by table index.
//
// Identity: every record gets an ItemId when it enters a list (open, insert,
// paste); the id stays with the record through moves, edits, undo and redo
// and is never given to another record of the same list.  Table indices exist
// only in the image a list compiles to.
//
// Order: satellites, services and antennas are kept in list order; the
// transponders are kept per satellite, in table order, which is the order in
// which the text lists them and in which a compiled image stores them
// (satellite by satellite).
//
// Plain values, no threads, no blocking; no Qt.  A list is copyable.  The
// look-ups by id keep an index that they rebuild when a table changed, so
// even a const list is used by one thread at a time (a copy per thread).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "torvix/database/database_image.h"
#include "torvix/database/records.h"

namespace torvix::channels {

using ItemId = std::uint32_t;
inline constexpr ItemId kNoItem = 0;

enum class Layout { kBasic, kKvrs };
enum class Table { kSatellites, kTransponders, kServices, kAntennas };

struct Satellite {
  ItemId id = kNoItem;
  SatelliteRecord record;
};

// record.satellite_index is not used: `satellite` says where it belongs.
struct Transponder {
  ItemId id = kNoItem;
  ItemId satellite = kNoItem;
  TransponderRecord record;
};

struct Antenna {
  ItemId id = kNoItem;
  AntennaRecord record;
};

// record.transponder_index and record.sat_index are not used: the service's
// satellite is its transponder's.  KVRS: `antenna` is the antenna the service
// names, or kNoItem when its ant_index names none (record.ant_index then
// keeps the value as it was, 255 for "0" in the text).
struct Service {
  ItemId id = kNoItem;
  ItemId transponder = kNoItem;
  ItemId antenna = kNoItem;
  ServiceRecord record;
};

class ChannelList {
 public:
  explicit ChannelList(Layout layout = Layout::kBasic);

  Layout layout() const { return layout_; }
  // The default switch configuration of the basic layout's A line, -1 to 8
  // (kNoAntennaConfig: no A line).
  int antennaConfig() const { return antennaConfig_; }
  void setAntennaConfig(int value) { antennaConfig_ = value; }

  const std::vector<Satellite>& satellites() const { return satellites_; }
  const std::vector<Service>& services() const { return services_; }
  const std::vector<Antenna>& antennas() const { return antennas_; }
  // All transponders, satellite by satellite, each satellite's in table order.
  const std::vector<Transponder>& transponders() const { return transponders_; }
  // The transponders of one satellite, in table order.
  std::vector<const Transponder*> TranspondersOf(ItemId satellite) const;

  // How many records the table may hold in this layout (106/128, 1024/2048,
  // 3200, 0/64), and how many it holds.
  int Room(Table table) const;
  int Count(Table table) const;

  // Look-ups by identity; null / -1 when the list holds no such record.
  const Satellite* FindSatellite(ItemId id) const;
  const Transponder* FindTransponder(ItemId id) const;
  const Service* FindService(ItemId id) const;
  const Antenna* FindAntenna(ItemId id) const;
  // Position in the table's order (for transponders: in transponders()).
  int IndexOf(Table table, ItemId id) const;
  // The 1-based position of a transponder among its satellite's, as a
  // service line's tp_index counts it; 0 when the list holds no such one.
  int PositionInSatellite(ItemId transponder) const;

  // After satellites were reordered, added or removed through
  // mutableSatellites(): puts transponders() satellite by satellite again
  // (each satellite's in their order) and drops those of no satellite.
  void RegroupTransponders();

  // The image this list compiles to: magic, header, and every record at the
  // index its order gives, with the references turned into indices, exactly
  // as the text reader stores the text that WriteText() prints.
  DatabaseImage Compile() const;

  // Raw access for the edit commands (channel_document.h) and the loaders;
  // callers keep the references valid.  A new record gets NewId().
  // The look-ups rebuild their index after such a call; a look-up may follow
  // changes made through a reference taken earlier only once the table's
  // size changed or the record moved.
  std::vector<Satellite>& mutableSatellites() { return Touch(Table::kSatellites), satellites_; }
  std::vector<Transponder>& mutableTransponders() { return Touch(Table::kTransponders), transponders_; }
  std::vector<Service>& mutableServices() { return Touch(Table::kServices), services_; }
  std::vector<Antenna>& mutableAntennas() { return Touch(Table::kAntennas), antennas_; }
  ItemId NewId() { return nextId_++; }
  // The id NewId() gives next; AdvanceIds makes it at least `next`, so that
  // a list that takes another's place gives out none of that one's ids.
  ItemId NextId() const { return nextId_; }
  void AdvanceIds(ItemId next) { nextId_ = std::max(nextId_, next); }

 private:
  Layout layout_;
  int antennaConfig_ = kNoAntennaConfig;
  std::vector<Satellite> satellites_;
  std::vector<Transponder> transponders_;
  std::vector<Service> services_;
  std::vector<Antenna> antennas_;
  ItemId nextId_ = 1;

  // Position by id, per table; rebuilt on the first look-up after a change.
  struct IdIndex {
    std::unordered_map<ItemId, std::size_t> at;
    std::size_t builtFor = 0;  // the table's size when built
    bool stale = true;
  };
  void Touch(Table table) { index_[static_cast<std::size_t>(table)].stale = true; }
  template <typename Item>
  const Item* Find(const std::vector<Item>& items, Table table, ItemId id) const;
  mutable std::array<IdIndex, 4> index_;
};

// The outcome of opening a file as a list.
struct OpenResult {
  enum class Status {
    kOk,
    kRefused,     // the reader refused the text, or the image is not valid: `message` says why (exit 3)
    kUnreadable,  // the file cannot be read: `message` is the system's reason (exit 10)
  };
  Status status = Status::kOk;
  std::optional<ChannelList> list;
  std::string message;  // the reader's complete message (it names the line), or the errno text
  int line = 0;         // the refused line, when the reader named one
  // What an image held that no text can carry and the list therefore left
  // out (transponders of no satellite, services of no transponder) or
  // changed (a name cut to its length, a word the text has no form for), one
  // sentence each.  For a text only what no saved line would carry: the
  // transponders before the first satellite line.
  std::vector<std::string> notes;
};

// A list from an image as the receiver sends it (not trusted): the records
// the writer would print, as the reader would read them back; `notes` gets
// what was left out or changed.  An image without the magic gives an empty
// basic list and a note (callers that must refuse it test HasImageMagic).
// Format byte 0 is the basic layout, any other the KVRS layout.  Blocks not.
ChannelList ListFromImage(const DatabaseImage& image, std::vector<std::string>* notes = nullptr);
// A factory-data text in memory (DOS or Unix line ends), through the reader
// into a zero image.  kRefused with the reader's message and line, or kOk.
OpenResult ListFromText(std::string_view text);
// A file: 131072 bytes starting with the image magic is an image, anything
// else a factory-data text.  Blocks on the file system only.
OpenResult OpenListFile(const std::string& path);

// The text writer's exact output for Compile().
std::string WriteText(const ChannelList& list);
// Writes WriteText(list) to `path` through a replacing file: the old file
// stays as it was on any failure.  Returns "" or the reason, naming the
// path.  Blocks on the file system only.
std::string SaveListFile(const ChannelList& list, const std::string& path);

}  // namespace torvix::channels
