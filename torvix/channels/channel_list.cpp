#include "torvix/channels/channel_list.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/replacing_file.h"
#include "torvix/database/factory_text_reader.h"
#include "torvix/database/factory_text_writer.h"
#include "torvix/database/field_limits.h"

namespace torvix::channels {

namespace {

const ImageLayout& ImageLayoutOf(Layout layout) { return layout == Layout::kKvrs ? kKvrsLayout : kBasicLayout; }

// The values a record has after a trip through the text: what the writer
// prints of it and the decoder makes of that line.  Bits no line carries are
// zero, "not used" switches have value 0.
void Canonical(DiseqcSetting& d) {
  if (!d.used) d.port = 0;
  d.port &= 3u;
}
void Canonical(SwitchSetting& s) {
  if (!s.used) s.value = false;
}

SatelliteRecord Canonical(SatelliteRecord r, Layout layout) {
  r.angle = static_cast<std::uint16_t>(std::min<int>(r.angle, kMaxAngle));
  if (layout == Layout::kKvrs) {
    r.diseqc = {};
    r.tone_22khz = r.volt_0_12 = r.volt_14_18 = {};
    r.biased_value = std::clamp(r.biased_value, kBiasedValueMin, kBiasedValueMax);
  } else {
    Canonical(r.diseqc);
    Canonical(r.tone_22khz);
    Canonical(r.volt_0_12);
    Canonical(r.volt_14_18);
    r.diseqc_1_2 = false;
    r.biased_value = 0;
  }
  return r;
}

TransponderRecord Canonical(TransponderRecord r) {
  r.satellite_index = kNoSatellite;
  r.aux_byte = kNoAuxByte;  // no line carries aux_byte and aux_codes
  r.aux_codes = {};
  return r;
}

AntennaRecord Canonical(AntennaRecord r) {
  Canonical(r.diseqc);
  Canonical(r.tone_22khz);
  Canonical(r.volt_0_12);
  Canonical(r.volt_14_18);
  return r;
}

ServiceRecord Canonical(ServiceRecord r, Layout layout) {
  r.transponder_index = 0;
  r.sat_index = 0;
  r.pcr_pid &= kPidMax;
  if (layout == Layout::kBasic) {
    r.favorite &= 1u;
    r.ant_index = 0;
  }
  return r;
}

// Cuts a name to `max` characters the text can carry; true when it changed.
bool FixName(std::string& name, std::size_t max) {
  std::string fixed;
  for (char c : name) {
    if (IsNameCharacter(c) && fixed.size() < max) fixed += c;
  }
  if (fixed == name) return false;
  name = std::move(fixed);
  return true;
}

int ClampCount(std::int64_t count, int room) { return static_cast<int>(std::clamp<std::int64_t>(count, 0, room)); }

void Note(std::vector<std::string>* notes, int count, const std::string& what) {
  if (notes == nullptr || count == 0) return;
  notes->push_back(std::to_string(count) + " " + what);
}

// The line number of a reader message (" * Error : line 12. ..."), 0 if none.
int MessageLine(const std::string& message) {
  const std::size_t at = message.find("line ");
  if (at == std::string::npos) return 0;
  return std::atoi(message.c_str() + at + 5);
}

// The file's bytes; 0 or the errno of the failure (a folder is EISDIR).
int ReadWholeFile(const std::string& path, std::string& bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    return EISDIR;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      return error;
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return 0;
}

}  // namespace

ChannelList::ChannelList(Layout layout) : layout_(layout) {}

template <typename Item>
const Item* ChannelList::Find(const std::vector<Item>& items, Table table, ItemId id) const {
  if (id == kNoItem) return nullptr;
  IdIndex& index = index_[static_cast<std::size_t>(table)];
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (index.stale || index.builtFor != items.size() || attempt == 1) {
      index.at.clear();
      index.at.reserve(items.size());
      for (std::size_t i = 0; i < items.size(); ++i) index.at.emplace(items[i].id, i);
      index.builtFor = items.size();
      index.stale = false;
    }
    const auto it = index.at.find(id);
    if (it == index.at.end()) return nullptr;
    if (it->second < items.size() && items[it->second].id == id) return &items[it->second];
  }
  return nullptr;
}

const Satellite* ChannelList::FindSatellite(ItemId id) const { return Find(satellites_, Table::kSatellites, id); }
const Transponder* ChannelList::FindTransponder(ItemId id) const {
  return Find(transponders_, Table::kTransponders, id);
}
const Service* ChannelList::FindService(ItemId id) const { return Find(services_, Table::kServices, id); }
const Antenna* ChannelList::FindAntenna(ItemId id) const { return Find(antennas_, Table::kAntennas, id); }

int ChannelList::IndexOf(Table table, ItemId id) const {
  const auto position = [](const auto* found, const auto& items) {
    return found == nullptr ? -1 : static_cast<int>(found - items.data());
  };
  switch (table) {
    case Table::kSatellites: return position(FindSatellite(id), satellites_);
    case Table::kTransponders: return position(FindTransponder(id), transponders_);
    case Table::kServices: return position(FindService(id), services_);
    case Table::kAntennas: return position(FindAntenna(id), antennas_);
  }
  return -1;
}

std::vector<const Transponder*> ChannelList::TranspondersOf(ItemId satellite) const {
  std::vector<const Transponder*> out;
  for (const Transponder& t : transponders_) {
    if (t.satellite == satellite) out.push_back(&t);
  }
  return out;
}

int ChannelList::PositionInSatellite(ItemId transponder) const {
  const int i = IndexOf(Table::kTransponders, transponder);
  if (i < 0) return 0;
  const ItemId satellite = transponders_[static_cast<std::size_t>(i)].satellite;
  int position = 1;
  for (int j = i - 1; j >= 0 && transponders_[static_cast<std::size_t>(j)].satellite == satellite; --j) ++position;
  return position;
}

void ChannelList::RegroupTransponders() {
  std::unordered_map<ItemId, std::size_t> order;
  for (std::size_t i = 0; i < satellites_.size(); ++i) order.emplace(satellites_[i].id, i);
  std::erase_if(transponders_, [&](const Transponder& t) { return !order.contains(t.satellite); });
  std::stable_sort(transponders_.begin(), transponders_.end(), [&](const Transponder& a, const Transponder& b) {
    return order.at(a.satellite) < order.at(b.satellite);
  });
  Touch(Table::kTransponders);
}

int ChannelList::Room(Table table) const {
  const ImageLayout& l = ImageLayoutOf(layout_);
  switch (table) {
    case Table::kSatellites: return l.satellites.room;
    case Table::kTransponders: return l.transponders.room;
    case Table::kServices: return l.services.room;
    case Table::kAntennas: return l.antennas.room;
  }
  return 0;
}

int ChannelList::Count(Table table) const {
  switch (table) {
    case Table::kSatellites: return static_cast<int>(satellites_.size());
    case Table::kTransponders: return static_cast<int>(transponders_.size());
    case Table::kServices: return static_cast<int>(services_.size());
    case Table::kAntennas: return static_cast<int>(antennas_.size());
  }
  return 0;
}

DatabaseImage ChannelList::Compile() const {
  DatabaseImage image;
  const ImageLayout& l = ImageLayoutOf(layout_);
  const bool kvrs = layout_ == Layout::kKvrs;
  const int satellites = std::min(Count(Table::kSatellites), l.satellites.room);
  const int transponders = std::min(Count(Table::kTransponders), l.transponders.room);
  const int antennas = std::min(Count(Table::kAntennas), l.antennas.room);

  std::unordered_map<ItemId, int> satelliteIndex;
  for (int i = 0; i < satellites; ++i) {
    const Satellite& s = satellites_[static_cast<std::size_t>(i)];
    satelliteIndex.emplace(s.id, i);
    StoreSatellite(image, l, i, Canonical(s.record, layout_));
  }
  struct Placed {
    int index;
    int satellite;
  };
  std::unordered_map<ItemId, Placed> transponderIndex;
  int stored = 0;
  for (int j = 0; j < transponders; ++j) {
    const Transponder& t = transponders_[static_cast<std::size_t>(j)];
    const auto s = satelliteIndex.find(t.satellite);
    if (s == satelliteIndex.end()) continue;  // no line would carry it
    TransponderRecord r = Canonical(t.record);
    r.satellite_index = static_cast<std::uint8_t>(s->second);
    StoreTransponder(image, l, stored, r);
    transponderIndex.emplace(t.id, Placed{stored++, s->second});
  }
  std::unordered_map<ItemId, int> antennaIndex;
  for (int i = 0; i < antennas; ++i) {
    antennaIndex.emplace(antennas_[static_cast<std::size_t>(i)].id, i);
    StoreAntenna(image, i, Canonical(antennas_[static_cast<std::size_t>(i)].record));
  }
  int services = 0;
  for (const Service& s : services_) {
    if (services == l.services.room) break;
    const auto t = transponderIndex.find(s.transponder);
    if (t == transponderIndex.end()) continue;
    ServiceRecord r = Canonical(s.record, layout_);
    r.transponder_index = static_cast<std::uint16_t>(t->second.index);
    if (kvrs) {
      r.sat_index = static_cast<std::uint8_t>(t->second.satellite);
      const auto a = antennaIndex.find(s.antenna);
      if (a != antennaIndex.end()) r.ant_index = static_cast<std::uint8_t>(a->second);
    }
    StoreService(image, l, services++, r);
  }
  ImageHeader header;
  header.format = kvrs ? kFormatKvrs : kFormatBasic;
  header.antenna_count = static_cast<std::uint8_t>(antennas);
  header.satellite_count = satellites;
  header.transponder_count = stored;
  header.service_count = services;
  // A KVRS reader takes the default switch line for an antenna line and skips it.
  header.antenna_config = kvrs ? kNoAntennaConfig : antennaConfig_;
  StoreHeader(image, header);
  return image;
}

ChannelList ListFromImage(const DatabaseImage& image, std::vector<std::string>* notes) {
  if (!HasImageMagic(image)) {
    if (notes != nullptr) notes->push_back("The image is not valid: it does not start with the image magic.");
    return ChannelList();
  }
  const ImageHeader header = LoadHeader(image);
  const Layout layout = header.format == kFormatBasic ? Layout::kBasic : Layout::kKvrs;
  const ImageLayout& l = ImageLayoutOf(layout);
  ChannelList list(layout);
  if (header.format != kFormatBasic && header.format != kFormatKvrs && notes != nullptr) {
    notes->push_back("The format byte " + std::to_string(header.format) + " was taken for the KVRS layout.");
  }
  const int satellites = ClampCount(header.satellite_count, l.satellites.room);
  const int transponders = ClampCount(header.transponder_count, l.transponders.room);
  const int services = ClampCount(header.service_count, l.services.room);
  const int antennas = layout == Layout::kKvrs ? ClampCount(header.antenna_count, l.antennas.room) : 0;
  int cutNames = 0;

  if (layout == Layout::kBasic) {
    if (header.antenna_config >= kDefaultSwitchMin && header.antenna_config <= kDefaultSwitchMax) {
      list.setAntennaConfig(header.antenna_config);
    } else if (notes != nullptr) {
      notes->push_back("The default switch configuration " + std::to_string(header.antenna_config) +
                       " has no text form and was left out.");
    }
  } else if (header.antenna_config != kNoAntennaConfig && notes != nullptr) {
    notes->push_back("The default switch configuration " + std::to_string(header.antenna_config) +
                     " was left out: a KVRS text does not carry it.");
  }

  std::vector<ItemId> antennaIds;
  int antennaTypes = 0;
  for (int i = 0; i < antennas; ++i) {
    Antenna a{list.NewId(), Canonical(LoadAntenna(image, i))};
    if (a.record.antenna_type > 2) a.record.antenna_type = 0, ++antennaTypes;
    antennaIds.push_back(a.id);
    list.mutableAntennas().push_back(std::move(a));
  }
  Note(notes, antennaTypes, "antennas had an antenna type without a word and were made fixed antennas.");

  std::vector<ItemId> satelliteIds;
  for (int i = 0; i < satellites; ++i) {
    Satellite s{list.NewId(), Canonical(LoadSatellite(image, l, i), layout)};
    cutNames += FixName(s.record.name, kSatelliteNameMax);
    satelliteIds.push_back(s.id);
    list.mutableSatellites().push_back(std::move(s));
  }

  // Transponders by satellite, each satellite's in table order.
  std::vector<std::vector<Transponder>> bySatellite(static_cast<std::size_t>(satellites));
  std::vector<ItemId> transponderIds(static_cast<std::size_t>(transponders), kNoItem);
  std::vector<int> positions(static_cast<std::size_t>(transponders), 0);
  int orphans = 0;
  int fecs = 0;
  for (int j = 0; j < transponders; ++j) {
    const TransponderRecord r = LoadTransponder(image, l, j);
    if (r.satellite_index >= satellites) {
      ++orphans;
      continue;
    }
    Transponder t{list.NewId(), satelliteIds[r.satellite_index], Canonical(r)};
    if (t.record.fec > 5) t.record.fec = 0, ++fecs;
    transponderIds[static_cast<std::size_t>(j)] = t.id;
    auto& group = bySatellite[r.satellite_index];
    group.push_back(std::move(t));
    positions[static_cast<std::size_t>(j)] = static_cast<int>(group.size());
  }
  for (auto& group : bySatellite) {
    for (Transponder& t : group) list.mutableTransponders().push_back(std::move(t));
  }
  Note(notes, orphans, "transponders of no satellite were left out.");
  Note(notes, fecs, "transponders had an FEC code without a word and were set to auto.");

  int unplaced = 0;
  int pids = 0;
  for (int i = 0; i < services; ++i) {
    ServiceRecord r = LoadService(image, l, i);
    // The transponder a reader finds for the printed sat_index and tp_index.
    int t = r.transponder_index < transponders ? r.transponder_index : -1;
    if (t >= 0 && layout == Layout::kKvrs) {
      while (t >= 0 && LoadTransponderSatellite(image, l, t) != r.sat_index) --t;
    }
    if (t < 0 || transponderIds[static_cast<std::size_t>(t)] == kNoItem ||
        positions[static_cast<std::size_t>(t)] > kTpIndexMax) {
      ++unplaced;
      continue;
    }
    Service s;
    s.id = list.NewId();
    s.transponder = transponderIds[static_cast<std::size_t>(t)];
    if (layout == Layout::kKvrs && r.ant_index < antennas) s.antenna = antennaIds[r.ant_index];
    if (r.video_pid > kPidMax || (r.txt_pid & ~kTeletextPidBits) != 0) {
      r.video_pid &= kPidMax;
      r.txt_pid &= kTeletextPidBits;
      ++pids;
    }
    cutNames += FixName(r.name, kServiceNameMax);
    s.record = Canonical(r, layout);
    list.mutableServices().push_back(std::move(s));
  }
  Note(notes, unplaced, "services of no transponder that a text can name were left out.");
  Note(notes, pids, "services had a video or teletext PID beyond its range; the bits beyond it were dropped.");
  Note(notes, cutNames, "names were cut to the length or the characters a text carries.");
  return list;
}

OpenResult ListFromText(std::string_view text) {
  OpenResult result;
  auto image = std::make_unique<DatabaseImage>();
  MemoryByteSource raw(text);
  DosTextSource source(raw);
  FactoryTextReader reader;
  if (reader.Read(source, *image) != FT_OK) {
    result.status = OpenResult::Status::kRefused;
    result.message = reader.Message();
    result.line = MessageLine(result.message);
    return result;
  }
  result.list = ListFromImage(*image, &result.notes);
  return result;
}

OpenResult OpenListFile(const std::string& path) {
  OpenResult result;
  std::string bytes;
  if (const int error = ReadWholeFile(path, bytes); error != 0) {
    result.status = OpenResult::Status::kUnreadable;
    result.message = path + ": " + std::strerror(error);
    return result;
  }
  if (bytes.size() == DatabaseImage::kSize && bytes.compare(0, kMagicSize, kImageMagic, kMagicSize) == 0) {
    auto image = std::make_unique<DatabaseImage>();
    std::memcpy(image->Data(), bytes.data(), DatabaseImage::kSize);
    result.list = ListFromImage(*image, &result.notes);
    return result;
  }
  return ListFromText(bytes);
}

std::string WriteText(const ChannelList& list) {
  const auto image = std::make_unique<DatabaseImage>(list.Compile());
  std::ostringstream out;
  WriteFactoryText(out, *image);
  return std::move(out).str();
}

std::string SaveListFile(const ChannelList& list, const std::string& path) {
  std::string error;
  if (!common::ReplaceFile(path, WriteText(list), error)) return error;
  return "";
}

}  // namespace torvix::channels
