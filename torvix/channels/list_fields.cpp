#include "torvix/channels/list_fields.h"

#include <charconv>
#include <unordered_map>

#include "torvix/channels/record_texts.h"
#include "torvix/database/field_limits.h"
#include "torvix/database/line_decoders.h"
#include "torvix/database/text_scanner.h"

namespace torvix::channels {

namespace {

constexpr ColumnInfo kBasicSatelliteColumns[] = {
    {Field::kSatelliteName, "Name", CellKind::kText},
    {Field::kLnbLow, "LNB Low", CellKind::kNumber},
    {Field::kLnbHigh, "LNB High", CellKind::kNumber},
    {Field::kUniversalLnb, "LNB Type", CellKind::kChoice},
    {Field::kAngle, "Position", CellKind::kNumber},
    {Field::kEastWest, "East/West", CellKind::kChoice},
    {Field::kDiseqc, "DiSEqC", CellKind::kChoice},
    {Field::kTone22, "22 kHz", CellKind::kChoice},
    {Field::kVolt012, "0/12 V", CellKind::kChoice},
    {Field::kVolt1418, "14/18 V", CellKind::kChoice},
};
constexpr ColumnInfo kKvrsSatelliteColumns[] = {
    {Field::kSatelliteName, "Name", CellKind::kText},
    {Field::kLnbLow, "LNB Low", CellKind::kNumber},
    {Field::kLnbHigh, "LNB High", CellKind::kNumber},
    {Field::kUniversalLnb, "LNB Type", CellKind::kChoice},
    {Field::kAngle, "Position", CellKind::kNumber},
    {Field::kEastWest, "East/West", CellKind::kChoice},
    {Field::kDiseqc12, "DiSEqC 1.2", CellKind::kCheck},
    {Field::kBiasedValue, "Biased Value", CellKind::kNumber},
};
constexpr ColumnInfo kTransponderColumns[] = {
    {Field::kFrequency, "Frequency", CellKind::kNumber},
    {Field::kSymbolRate, "Symbol Rate", CellKind::kNumber},
    {Field::kPolarization, "Polarization", CellKind::kChoice},
    {Field::kTransponderTone22, "22 kHz", CellKind::kChoice},
    {Field::kTransponderVolt1418, "14/18 V", CellKind::kChoice},
    {Field::kTransponderVolt012, "0/12 V", CellKind::kChoice},
    {Field::kFec, "FEC", CellKind::kChoice},
};
constexpr ColumnInfo kBasicServiceColumns[] = {
    {Field::kServiceName, "Name", CellKind::kText},
    {Field::kServiceSatellite, "Satellite", CellKind::kReadOnly},
    {Field::kServiceTransponder, "Transponder", CellKind::kChoice},
    {Field::kServiceId, "Service ID", CellKind::kNumber},
    {Field::kVideoPid, "Video PID", CellKind::kNumber},
    {Field::kAudioPid, "Audio PID", CellKind::kNumber},
    {Field::kPcrPid, "PCR PID", CellKind::kNumber},
    {Field::kTeletextPid, "Teletext PID", CellKind::kNumber},
    {Field::kServiceType, "Type", CellKind::kChoice},
    {Field::kScrambled, "Scrambled", CellKind::kCheck},
    {Field::kFavorite, "Favorite", CellKind::kCheck},
    {Field::kLocked, "Locked", CellKind::kCheck},
};
constexpr ColumnInfo kKvrsServiceColumns[] = {
    {Field::kServiceName, "Name", CellKind::kText},
    {Field::kServiceSatellite, "Satellite", CellKind::kReadOnly},
    {Field::kServiceTransponder, "Transponder", CellKind::kChoice},
    {Field::kServiceAntenna, "Antenna", CellKind::kChoice},
    {Field::kServiceId, "Service ID", CellKind::kNumber},
    {Field::kVideoPid, "Video PID", CellKind::kNumber},
    {Field::kAudioPid, "Audio PID", CellKind::kNumber},
    {Field::kPcrPid, "PCR PID", CellKind::kNumber},
    {Field::kTeletextPid, "Teletext PID", CellKind::kNumber},
    {Field::kServiceType, "Type", CellKind::kChoice},
    {Field::kScrambled, "Scrambled", CellKind::kCheck},
    {Field::kFavorite, "Favorite", CellKind::kNumber},
    {Field::kLocked, "Locked", CellKind::kCheck},
};
constexpr ColumnInfo kAntennaColumns[] = {
    {Field::kAntennaUniversalLnb, "LNB Type", CellKind::kChoice},
    {Field::kAntennaLnbLow, "LNB Low", CellKind::kNumber},
    {Field::kAntennaLnbHigh, "LNB High", CellKind::kNumber},
    {Field::kAntennaType, "Antenna Type", CellKind::kChoice},
    {Field::kAntennaDiseqc, "DiSEqC", CellKind::kChoice},
    {Field::kAntennaTone22, "22 kHz", CellKind::kChoice},
    {Field::kAntennaVolt012, "0/12 V", CellKind::kChoice},
    {Field::kAntennaVolt1418, "14/18 V", CellKind::kChoice},
};

// The words a cell shows, each a form its decoder accepts, indexed by the
// stored value; "none" for a switch or DiSEqC that is not used.
constexpr const char* kNotUsedWord = "none";
constexpr const char* kLnbTypeShown[] = {"normal", "universal"};
constexpr const char* kEastWestShown[] = {"east", "west"};
constexpr const char* kPortShown[] = {"a", "b", "c", "d"};
constexpr const char* kTone22Shown[] = {"0", "22"};
constexpr const char* kVolt012Shown[] = {"0", "12"};
constexpr const char* kVolt1418Shown[] = {"14", "18"};
constexpr const char* kAntennaTypeShown[] = {"f", "d", "a"};
constexpr const char* kPolarizationShown[] = {"V", "H"};
constexpr const char* kFecShown[] = {"auto", "1/2", "2/3", "3/4", "5/6", "7/8"};
constexpr const char* kServiceTypeShown[] = {"TV", "Radio"};
constexpr const char* kNoAntennaShown = "None";

// ---- Messages ------------------------------------------------------------

// A decoder's field text without its indent and line feed: "field : service_id".
std::string FieldName(const char* fieldText) {
  std::string_view text(fieldText);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return std::string(text);
}

std::string Refusal(const std::string& field, const std::string& allowed) { return field + " (" + allowed + ")"; }
std::string Refusal(const char* fieldText, const std::string& allowed) {
  return Refusal(FieldName(fieldText), allowed);
}

std::string Range(int low, int high) {
  return "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
}

template <std::size_t N>
std::string OneOfWords(const char* const (&words)[N]) {
  std::string out = "one of ";
  for (std::size_t i = 0; i < N; ++i) out += std::string(i == 0 ? "" : i + 1 == N ? " or " : ", ") + words[i];
  return out;
}

// ---- Parsing -------------------------------------------------------------

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsScanSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsScanSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool ParseInt(std::string_view text, int low, int high, int& value) {
  text = Trimmed(text);
  int parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return false;
  if (parsed < low || parsed > high) return false;
  value = parsed;
  return true;
}

bool ParseCheck(std::string_view text, bool& value) {
  int parsed = 0;
  if (!ParseInt(text, 0, kFlagMax, parsed)) return false;
  value = parsed == 1;
  return true;
}

bool ParseWord(std::string_view text, std::span<const WordForm> table, int& value) {
  text = Trimmed(text);
  if (text.find_first_of(" \t") != std::string_view::npos) return false;
  return LookUpWord(text, table, value);
}

bool ParseSwitch(std::string_view text, std::span<const WordForm> table, SwitchSetting& setting) {
  int value = 0;
  if (!ParseWord(text, table, value)) return false;
  setting = {value != kWordNotUsed, value == 1};
  return true;
}

bool ParseDiseqc(std::string_view text, DiseqcSetting& setting) {
  int value = 0;
  if (!ParseWord(text, kDiseqcWords, value)) return false;
  setting = {value != kWordNotUsed, static_cast<std::uint8_t>(value == kWordNotUsed ? 0 : value)};
  return true;
}

// The transponder's switch fields: one of the two integers of `values`.
bool ParsePair(std::string_view text, const int (&values)[2], bool& bit) {
  int parsed = 0;
  if (!ParseInt(text, std::min(values[0], values[1]), std::max(values[0], values[1]), parsed)) return false;
  if (parsed != values[0] && parsed != values[1]) return false;
  bit = parsed == values[1];
  return true;
}

bool ParseName(std::string_view text, std::size_t max, std::string& name) {
  if (text.size() > max) return false;
  for (char c : text) {
    if (!IsNameCharacter(c)) return false;
  }
  name.assign(text);
  return true;
}

std::string NameRule(std::size_t max) {
  return "at most " + std::to_string(max) + " characters, no double quote or control character";
}

std::string PairRule(const int (&values)[2]) {
  return std::to_string(values[0]) + " or " + std::to_string(values[1]);
}

// ---- Shown texts ---------------------------------------------------------

std::string AngleText(unsigned tenths) { return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10); }

std::string SwitchText(const SwitchSetting& s, const char* const (&words)[2]) {
  return s.used ? words[s.value ? 1 : 0] : kNotUsedWord;
}

std::string DiseqcText(const DiseqcSetting& d) { return d.used ? kPortShown[d.port & 3u] : kNotUsedWord; }

std::string Flag(bool b) { return b ? "1" : "0"; }

template <std::size_t N>
std::string Word(const char* const (&words)[N], unsigned value) {
  return value < N ? words[value] : std::to_string(value);
}

// Every transponder of the list as a choice text, in transponders() order.
std::vector<std::string> TransponderChoices(const ChannelList& list) {
  std::vector<std::string> out;
  out.reserve(list.transponders().size());
  std::unordered_map<std::string, int> seen;
  for (const Transponder& t : list.transponders()) {
    const Satellite* s = list.FindSatellite(t.satellite);
    std::string text;
    if (s != nullptr) {
      text = s->record.name + " " + PositionText(s->record) + " ";
    }
    text += TransponderText(t.record);
    const int n = ++seen[text];
    if (n > 1) text += " (" + std::to_string(n) + ")";
    out.push_back(std::move(text));
  }
  return out;
}

// ---- Setting one field of a copy -----------------------------------------

std::string SetSatelliteField(const ChannelList& list, SatelliteRecord& r, Field field, std::string_view text) {
  const bool kvrs = list.layout() == Layout::kKvrs;
  int value = 0;
  switch (field) {
    case Field::kSatelliteName:
      if (!ParseName(text, kSatelliteNameMax, r.name)) {
        return Refusal(SatelliteFieldText(kSatelliteErrorName), NameRule(kSatelliteNameMax));
      }
      return "";
    case Field::kLnbLow:
    case Field::kLnbHigh: {
      const bool low = field == Field::kLnbLow;
      if (!ParseInt(text, 0, kField16Max, value)) {
        return Refusal(SatelliteFieldText(low ? kSatelliteErrorLnbLow : kSatelliteErrorLnbHigh),
                       Range(0, kField16Max));
      }
      (low ? r.lnb_low : r.lnb_high) = static_cast<std::uint16_t>(value);
      return "";
    }
    case Field::kUniversalLnb:
      if (!ParseWord(text, kLnbTypeWords, value)) {
        return Refusal(SatelliteFieldText(kSatelliteErrorLnbType), OneOfWords(kLnbTypeShown));
      }
      r.universal_lnb = value == 1;
      return "";
    case Field::kAngle: {
      TextScanner scanner(Trimmed(text));
      double degrees = 0;
      std::uint16_t tenths = 0;
      if (!scanner.Decimal(degrees) || !scanner.Rest().empty() || !AngleToTenths(degrees, tenths)) {
        return Refusal(SatelliteFieldText(kSatelliteErrorAngle), "degrees from 0.0 to 180.0");
      }
      r.angle = tenths;
      return "";
    }
    case Field::kEastWest:
      if (!ParseWord(text, kEastWestWords, value)) {
        return Refusal(SatelliteFieldText(kSatelliteErrorEastWest), OneOfWords(kEastWestShown));
      }
      r.east_west = value == 1;
      return "";
    default:
      break;
  }
  if (!kvrs) {
    switch (field) {
      case Field::kDiseqc:
        if (!ParseDiseqc(text, r.diseqc)) {
          return Refusal(SatelliteFieldText(kSatelliteErrorDiseqc), "none, a, b, c or d");
        }
        return "";
      case Field::kTone22:
        if (!ParseSwitch(text, kTone22Words, r.tone_22khz)) {
          return Refusal(SatelliteFieldText(kSatelliteErrorTone22), "none, 0 or 22");
        }
        return "";
      case Field::kVolt012:
        if (!ParseSwitch(text, kVolt012Words, r.volt_0_12)) {
          return Refusal(SatelliteFieldText(kSatelliteErrorVolt012), "none, 0 or 12");
        }
        return "";
      case Field::kVolt1418:
        if (!ParseSwitch(text, kVolt1418Words, r.volt_14_18)) {
          return Refusal(SatelliteFieldText(kSatelliteErrorVolt1418), "none, 14 or 18");
        }
        return "";
      default:
        break;
    }
  } else {
    switch (field) {
      case Field::kDiseqc12:
        if (!ParseCheck(text, r.diseqc_1_2)) return Refusal(SatelliteFieldText(kSatelliteErrorDiseqc), "0 or 1");
        return "";
      case Field::kBiasedValue:
        if (!ParseInt(text, kBiasedValueMin, kBiasedValueMax, value)) {
          return Refusal(std::string("field : biased_value"), Range(kBiasedValueMin, kBiasedValueMax));
        }
        r.biased_value = value;
        return "";
      default:
        break;
    }
  }
  return "This field is not part of a satellite of this list.";
}

std::string SetTransponderField(TransponderRecord& r, Field field, std::string_view text) {
  int value = 0;
  switch (field) {
    case Field::kFrequency:
    case Field::kSymbolRate: {
      const bool frequency = field == Field::kFrequency;
      if (!ParseInt(text, 0, kField16Max, value)) {
        return Refusal(TransponderFieldText(frequency ? kTransponderErrorFrequency : kTransponderErrorSymbolrate),
                       Range(0, kField16Max));
      }
      (frequency ? r.frequency : r.symbolrate) = static_cast<std::uint16_t>(value);
      return "";
    }
    case Field::kPolarization:
      if (!ParseWord(text, kPolarizationWords, value)) {
        return Refusal(TransponderFieldText(kTransponderErrorPolarization), "H or V");
      }
      r.polarization = value == 1;
      return "";
    case Field::kTransponderTone22:
      if (!ParsePair(text, kTransponderTone22Values, r.tone_22khz)) {
        return Refusal(TransponderFieldText(kTransponderErrorTone22), PairRule(kTransponderTone22Values));
      }
      return "";
    case Field::kTransponderVolt1418:
      if (!ParsePair(text, kTransponderVolt1418Values, r.volt_14_18)) {
        return Refusal(TransponderFieldText(kTransponderErrorVolt1418), PairRule(kTransponderVolt1418Values));
      }
      return "";
    case Field::kTransponderVolt012:
      if (!ParsePair(text, kTransponderVolt012Values, r.volt_0_12)) {
        return Refusal(TransponderFieldText(kTransponderErrorVolt012), PairRule(kTransponderVolt012Values));
      }
      return "";
    case Field::kFec:
      if (!ParseWord(text, kFecWords, value)) {
        return Refusal(TransponderFieldText(kTransponderErrorFec), OneOfWords(kFecShown));
      }
      r.fec = static_cast<std::uint8_t>(value);
      return "";
    default:
      return "This field is not part of a transponder of this list.";
  }
}

// The transponder a Transponder cell names: a choice text, or the short text
// ("11778 H") of one on the service's satellite.
const Transponder* ChosenTransponder(const ChannelList& list, const Service& service, std::string_view text) {
  text = Trimmed(text);
  const std::vector<std::string> choices = TransponderChoices(list);
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (choices[i] == text) return &list.transponders()[i];
  }
  const Transponder* current = list.FindTransponder(service.transponder);
  if (current == nullptr) return nullptr;
  for (const Transponder* t : list.TranspondersOf(current->satellite)) {
    if (TransponderText(t->record) == text) return t;
  }
  return nullptr;
}

std::string SetServiceField(const ChannelList& list, Service& s, Field field, std::string_view text) {
  const bool kvrs = list.layout() == Layout::kKvrs;
  ServiceRecord& r = s.record;
  int value = 0;
  const auto number = [&](int error, int high, std::uint16_t& target) -> std::string {
    if (!ParseInt(text, 0, high, value)) return Refusal(ServiceFieldText(error), Range(0, high));
    target = static_cast<std::uint16_t>(value);
    return "";
  };
  const auto flag = [&](int error, bool& target) -> std::string {
    if (!ParseCheck(text, target)) return Refusal(ServiceFieldText(error), "0 or 1");
    return "";
  };
  switch (field) {
    case Field::kServiceName:
      if (!ParseName(text, kServiceNameMax, r.name)) {
        return Refusal(ServiceFieldText(kServiceErrorName), NameRule(kServiceNameMax));
      }
      return "";
    case Field::kServiceTransponder: {
      const Transponder* t = ChosenTransponder(list, s, text);
      if (t == nullptr) return Refusal(ServiceFieldText(kServiceErrorNoTransponder), "a transponder of the list");
      if (list.PositionInSatellite(t->id) > kTpIndexMax) {
        return Refusal(ServiceFieldText(kServiceErrorTpIndex),
                       "a service can use only the first " + std::to_string(kTpIndexMax) +
                           " transponders of its satellite");
      }
      s.transponder = t->id;
      return "";
    }
    case Field::kServiceId: return number(kServiceErrorServiceId, kServiceIdMax, r.service_id);
    case Field::kVideoPid: return number(kServiceErrorVideoPid, kPidMax, r.video_pid);
    case Field::kAudioPid: return number(kServiceErrorAudioPid, kField16Max, r.audio_pid);
    case Field::kPcrPid: return number(kServiceErrorPcrPid, kPidMax, r.pcr_pid);
    case Field::kTeletextPid:
      if (!ParseInt(text, 0, kField16Max, value) || (value & ~kTeletextPidBits) != 0) {
        return Refusal(ServiceFieldText(kServiceErrorTeletextPid),
                       "a PID from 0 to " + std::to_string(kPidMax) + ", or with bit 15 set from " +
                           std::to_string(0x8000) + " to " + std::to_string(0x8000 | kPidMax));
      }
      r.txt_pid = static_cast<std::uint16_t>(value);
      return "";
    case Field::kServiceType: {
      const std::string word = AsciiLower(Trimmed(text));
      if (word == "tv" || word == "v") {
        r.tv_radio = false;
      } else if (word == "radio" || word == "r") {
        r.tv_radio = true;
      } else {
        return Refusal(ServiceFieldText(kServiceErrorTvRadio), "TV or Radio");
      }
      return "";
    }
    case Field::kScrambled: return flag(kServiceErrorScramble, r.scramble);
    case Field::kLocked: return flag(kServiceErrorLock, r.lock);
    case Field::kFavorite: {
      const int high = kvrs ? kKvrsFavoriteMax : kFlagMax;
      if (!ParseInt(text, 0, high, value)) return Refusal(ServiceFieldText(kServiceErrorFavorite), Range(0, high));
      r.favorite = static_cast<std::uint8_t>(value);
      return "";
    }
    case Field::kServiceAntenna: {
      if (!kvrs) break;
      const std::string_view trimmed = Trimmed(text);
      if (AsciiLower(trimmed) == AsciiLower(kNoAntennaShown)) {
        s.antenna = kNoItem;
        r.ant_index = kNoSatellite;  // 0 in the text
        return "";
      }
      if (!ParseInt(trimmed, 1, list.Count(Table::kAntennas), value)) {
        return Refusal(std::string("field : ant_index"),
                       list.antennas().empty() ? "None: the list has no antennas"
                                               : "None or an antenna number from 1 to " +
                                                     std::to_string(list.Count(Table::kAntennas)));
      }
      s.antenna = list.antennas()[static_cast<std::size_t>(value - 1)].id;
      r.ant_index = static_cast<std::uint8_t>(value - 1);
      return "";
    }
    case Field::kServiceSatellite:
      return "The satellite of a service is its transponder's: choose another transponder.";
    default:
      break;
  }
  return "This field is not part of a service of this list.";
}

std::string SetAntennaField(AntennaRecord& r, Field field, std::string_view text) {
  int value = 0;
  switch (field) {
    case Field::kAntennaLnbLow:
    case Field::kAntennaLnbHigh: {
      const bool low = field == Field::kAntennaLnbLow;
      if (!ParseInt(text, 0, kField16Max, value)) {
        return Refusal(SatelliteFieldText(low ? kSatelliteErrorLnbLow : kSatelliteErrorLnbHigh),
                       Range(0, kField16Max));
      }
      (low ? r.lnb_low : r.lnb_high) = static_cast<std::uint16_t>(value);
      return "";
    }
    case Field::kAntennaUniversalLnb:
      if (!ParseWord(text, kLnbTypeWords, value)) {
        return Refusal(SatelliteFieldText(kSatelliteErrorLnbType), OneOfWords(kLnbTypeShown));
      }
      r.universal_lnb = value == 1;
      return "";
    case Field::kAntennaType:
      if (!ParseWord(text, kAntennaTypeWords, value)) {
        return Refusal(std::string("field : antenna_type"), "f (fixed), d (DiSEqC) or a (actuator)");
      }
      r.antenna_type = static_cast<std::uint8_t>(value);
      return "";
    case Field::kAntennaDiseqc:
      if (!ParseDiseqc(text, r.diseqc)) return Refusal(SatelliteFieldText(kSatelliteErrorDiseqc), "none, a, b, c or d");
      return "";
    case Field::kAntennaTone22:
      if (!ParseSwitch(text, kTone22Words, r.tone_22khz)) {
        return Refusal(SatelliteFieldText(kSatelliteErrorTone22), "none, 0 or 22");
      }
      return "";
    case Field::kAntennaVolt012:
      if (!ParseSwitch(text, kVolt012Words, r.volt_0_12)) {
        return Refusal(SatelliteFieldText(kSatelliteErrorVolt012), "none, 0 or 12");
      }
      return "";
    case Field::kAntennaVolt1418:
      if (!ParseSwitch(text, kVolt1418Words, r.volt_14_18)) {
        return Refusal(SatelliteFieldText(kSatelliteErrorVolt1418), "none, 14 or 18");
      }
      return "";
    default:
      return "This field is not part of an antenna.";
  }
}


// Sets the field on a copy of the record; `store` puts an accepted copy back.
std::string SetField(const ChannelList& list, Table table, ItemId id, Field field, std::string_view text,
                     ChannelList* store) {
  switch (table) {
    case Table::kSatellites: {
      const int i = list.IndexOf(table, id);
      if (i < 0) return NoSuchRecord(table);
      Satellite copy = list.satellites()[static_cast<std::size_t>(i)];
      std::string message = SetSatelliteField(list, copy.record, field, text);
      if (message.empty() && store != nullptr) {
        store->mutableSatellites()[static_cast<std::size_t>(i)] = std::move(copy);
      }
      return message;
    }
    case Table::kTransponders: {
      const int i = list.IndexOf(table, id);
      if (i < 0) return NoSuchRecord(table);
      Transponder copy = list.transponders()[static_cast<std::size_t>(i)];
      std::string message = SetTransponderField(copy.record, field, text);
      if (message.empty() && store != nullptr) {
        store->mutableTransponders()[static_cast<std::size_t>(i)] = std::move(copy);
      }
      return message;
    }
    case Table::kServices: {
      const int i = list.IndexOf(table, id);
      if (i < 0) return NoSuchRecord(table);
      Service copy = list.services()[static_cast<std::size_t>(i)];
      std::string message = SetServiceField(list, copy, field, text);
      if (message.empty() && store != nullptr) store->mutableServices()[static_cast<std::size_t>(i)] = std::move(copy);
      return message;
    }
    case Table::kAntennas: {
      const int i = list.IndexOf(table, id);
      if (i < 0) return NoSuchRecord(table);
      Antenna copy = list.antennas()[static_cast<std::size_t>(i)];
      std::string message = SetAntennaField(copy.record, field, text);
      if (message.empty() && store != nullptr) store->mutableAntennas()[static_cast<std::size_t>(i)] = std::move(copy);
      return message;
    }
  }
  return NoSuchRecord(table);
}

bool NameCarried(const std::string& name, std::size_t max) {
  return name.size() <= max && name.find_first_of(std::string_view("\"\n\0", 3)) == std::string::npos;
}

}  // namespace

const char* TableNoun(Table table) {
  switch (table) {
    case Table::kSatellites: return "satellite";
    case Table::kTransponders: return "transponder";
    case Table::kServices: return "service";
    case Table::kAntennas: return "antenna";
  }
  return "record";
}

std::string NoSuchRecord(Table table) { return std::string("The list holds no such ") + TableNoun(table) + "."; }

std::span<const ColumnInfo> Columns(Table table, Layout layout) {
  const bool kvrs = layout == Layout::kKvrs;
  switch (table) {
    case Table::kSatellites: return kvrs ? std::span<const ColumnInfo>(kKvrsSatelliteColumns) : kBasicSatelliteColumns;
    case Table::kTransponders: return kTransponderColumns;
    case Table::kServices: return kvrs ? std::span<const ColumnInfo>(kKvrsServiceColumns) : kBasicServiceColumns;
    case Table::kAntennas: return kvrs ? std::span<const ColumnInfo>(kAntennaColumns) : std::span<const ColumnInfo>();
  }
  return {};
}

std::string CellText(const ChannelList& list, Table table, ItemId id, Field field) {
  switch (table) {
    case Table::kSatellites: {
      const Satellite* s = list.FindSatellite(id);
      if (s == nullptr) return "";
      const SatelliteRecord& r = s->record;
      switch (field) {
        case Field::kSatelliteName: return r.name;
        case Field::kLnbLow: return std::to_string(r.lnb_low);
        case Field::kLnbHigh: return std::to_string(r.lnb_high);
        case Field::kUniversalLnb: return kLnbTypeShown[r.universal_lnb ? 1 : 0];
        case Field::kAngle: return AngleText(r.angle);
        case Field::kEastWest: return kEastWestShown[r.east_west ? 1 : 0];
        case Field::kDiseqc: return DiseqcText(r.diseqc);
        case Field::kTone22: return SwitchText(r.tone_22khz, kTone22Shown);
        case Field::kVolt012: return SwitchText(r.volt_0_12, kVolt012Shown);
        case Field::kVolt1418: return SwitchText(r.volt_14_18, kVolt1418Shown);
        case Field::kDiseqc12: return Flag(r.diseqc_1_2);
        case Field::kBiasedValue: return std::to_string(r.biased_value);
        default: return "";
      }
    }
    case Table::kTransponders: {
      const Transponder* t = list.FindTransponder(id);
      if (t == nullptr) return "";
      const TransponderRecord& r = t->record;
      switch (field) {
        case Field::kFrequency: return std::to_string(r.frequency);
        case Field::kSymbolRate: return std::to_string(r.symbolrate);
        case Field::kPolarization: return kPolarizationShown[r.polarization ? 1 : 0];
        case Field::kTransponderTone22: return std::to_string(kTransponderTone22Values[r.tone_22khz ? 1 : 0]);
        case Field::kTransponderVolt1418: return std::to_string(kTransponderVolt1418Values[r.volt_14_18 ? 1 : 0]);
        case Field::kTransponderVolt012: return std::to_string(kTransponderVolt012Values[r.volt_0_12 ? 1 : 0]);
        case Field::kFec: return Word(kFecShown, r.fec);
        default: return "";
      }
    }
    case Table::kServices: {
      const Service* s = list.FindService(id);
      if (s == nullptr) return "";
      const ServiceRecord& r = s->record;
      const Transponder* t = list.FindTransponder(s->transponder);
      switch (field) {
        case Field::kServiceName: return r.name;
        case Field::kServiceSatellite: {
          const Satellite* sat = t == nullptr ? nullptr : list.FindSatellite(t->satellite);
          return sat == nullptr ? "" : sat->record.name;
        }
        case Field::kServiceTransponder: return t == nullptr ? "" : TransponderText(t->record);
        case Field::kServiceAntenna: {
          const int i = list.IndexOf(Table::kAntennas, s->antenna);
          return i < 0 ? kNoAntennaShown : std::to_string(i + 1);
        }
        case Field::kServiceId: return std::to_string(r.service_id);
        case Field::kVideoPid: return std::to_string(r.video_pid);
        case Field::kAudioPid: return std::to_string(r.audio_pid);
        case Field::kPcrPid: return std::to_string(r.pcr_pid);
        case Field::kTeletextPid: return std::to_string(r.txt_pid);
        case Field::kServiceType: return kServiceTypeShown[r.tv_radio ? 1 : 0];
        case Field::kScrambled: return Flag(r.scramble);
        case Field::kFavorite: return std::to_string(r.favorite);
        case Field::kLocked: return Flag(r.lock);
        default: return "";
      }
    }
    case Table::kAntennas: {
      const Antenna* a = list.FindAntenna(id);
      if (a == nullptr) return "";
      const AntennaRecord& r = a->record;
      switch (field) {
        case Field::kAntennaLnbLow: return std::to_string(r.lnb_low);
        case Field::kAntennaLnbHigh: return std::to_string(r.lnb_high);
        case Field::kAntennaUniversalLnb: return kLnbTypeShown[r.universal_lnb ? 1 : 0];
        case Field::kAntennaType: return Word(kAntennaTypeShown, r.antenna_type);
        case Field::kAntennaDiseqc: return DiseqcText(r.diseqc);
        case Field::kAntennaTone22: return SwitchText(r.tone_22khz, kTone22Shown);
        case Field::kAntennaVolt012: return SwitchText(r.volt_0_12, kVolt012Shown);
        case Field::kAntennaVolt1418: return SwitchText(r.volt_14_18, kVolt1418Shown);
        default: return "";
      }
    }
  }
  return "";
}

std::vector<std::string> CellChoices(const ChannelList& list, Table table, ItemId, Field field) {
  const auto words = [](std::initializer_list<const char*> texts) {
    return std::vector<std::string>(texts.begin(), texts.end());
  };
  switch (field) {
    case Field::kUniversalLnb:
    case Field::kAntennaUniversalLnb: return words({"normal", "universal"});
    case Field::kEastWest: return words({"east", "west"});
    case Field::kDiseqc:
    case Field::kAntennaDiseqc: return words({"none", "a", "b", "c", "d"});
    case Field::kTone22:
    case Field::kAntennaTone22: return words({"none", "0", "22"});
    case Field::kVolt012:
    case Field::kAntennaVolt012: return words({"none", "0", "12"});
    case Field::kVolt1418:
    case Field::kAntennaVolt1418: return words({"none", "14", "18"});
    case Field::kAntennaType: return words({"f", "d", "a"});
    case Field::kPolarization: return words({"H", "V"});
    case Field::kTransponderTone22: return words({"0", "22"});
    case Field::kTransponderVolt1418: return words({"14", "18"});
    case Field::kTransponderVolt012: return words({"0", "12"});
    case Field::kFec: return words({"auto", "1/2", "2/3", "3/4", "5/6", "7/8"});
    case Field::kServiceType: return words({"TV", "Radio"});
    case Field::kServiceTransponder: return table == Table::kServices ? TransponderChoices(list) : words({});
    case Field::kServiceAntenna: {
      std::vector<std::string> out{kNoAntennaShown};
      for (int i = 1; i <= list.Count(Table::kAntennas); ++i) out.push_back(std::to_string(i));
      return out;
    }
    default: return {};
  }
}

std::string CheckCell(const ChannelList& list, Table table, ItemId id, Field field, std::string_view text) {
  return SetField(list, table, id, field, text, nullptr);
}

std::string ApplyCell(ChannelList& list, Table table, ItemId id, Field field, std::string_view text) {
  return SetField(list, table, id, field, text, &list);
}

std::string RoomMessage(const ChannelList& list, Table table) {
  std::string overflow;
  switch (table) {
    case Table::kSatellites: overflow = SatelliteFieldText(kDecodeOverflow); break;
    case Table::kTransponders: overflow = TransponderFieldText(kDecodeOverflow); break;
    case Table::kServices: overflow = ServiceFieldText(kDecodeOverflow); break;
    case Table::kAntennas: overflow = "         : Overflow number of antennas.\n"; break;
  }
  overflow = FieldName(overflow.c_str());
  if (overflow.starts_with(": ")) overflow.erase(0, 2);
  const int room = list.Room(table);
  if (room == 0) return overflow + " A list of the basic layout holds no antennas.";
  return overflow + " A list holds at most " + std::to_string(room) + " " + TableNoun(table) + "s.";
}

std::string CheckList(const ChannelList& list) {
  for (Table table : {Table::kSatellites, Table::kTransponders, Table::kServices, Table::kAntennas}) {
    if (list.Count(table) > list.Room(table)) return RoomMessage(list, table);
  }
  const bool kvrs = list.layout() == Layout::kKvrs;
  for (std::size_t i = 0; i < list.satellites().size(); ++i) {
    const SatelliteRecord& r = list.satellites()[i].record;
    const std::string where = "Satellite " + std::to_string(i + 1) + " \"" + r.name + "\": ";
    if (!NameCarried(r.name, kSatelliteNameMax)) {
      return where + Refusal(SatelliteFieldText(kSatelliteErrorName), NameRule(kSatelliteNameMax));
    }
    if (r.angle > kMaxAngle) {
      return where + Refusal(SatelliteFieldText(kSatelliteErrorAngle), "degrees from 0.0 to 180.0");
    }
    if (kvrs && (r.biased_value < kBiasedValueMin || r.biased_value > kBiasedValueMax)) {
      return where + Refusal(std::string("field : biased_value"), Range(kBiasedValueMin, kBiasedValueMax));
    }
  }
  for (const Transponder& t : list.transponders()) {
    const std::string where = "Transponder " + TransponderText(t.record) + ": ";
    if (list.FindSatellite(t.satellite) == nullptr) return where + "it belongs to no satellite of the list.";
    if (t.record.fec > 5) return where + Refusal(TransponderFieldText(kTransponderErrorFec), OneOfWords(kFecShown));
  }
  for (std::size_t i = 0; i < list.antennas().size(); ++i) {
    if (list.antennas()[i].record.antenna_type > 2) {
      return "Antenna " + std::to_string(i + 1) + ": " +
             Refusal(std::string("field : antenna_type"), "f (fixed), d (DiSEqC) or a (actuator)");
    }
  }
  for (std::size_t i = 0; i < list.services().size(); ++i) {
    const Service& s = list.services()[i];
    const ServiceRecord& r = s.record;
    const std::string where = "Service " + std::to_string(i + 1) + " \"" + r.name + "\": ";
    if (!NameCarried(r.name, kServiceNameMax)) {
      return where + Refusal(ServiceFieldText(kServiceErrorName), NameRule(kServiceNameMax));
    }
    if (list.FindTransponder(s.transponder) == nullptr) {
      return where + FieldName(ServiceFieldText(kServiceErrorNoTransponder));
    }
    if (list.PositionInSatellite(s.transponder) > kTpIndexMax) {
      return where + Refusal(ServiceFieldText(kServiceErrorTpIndex),
                             "a service can use only the first " + std::to_string(kTpIndexMax) +
                                 " transponders of its satellite");
    }
    if (r.video_pid > kPidMax) return where + Refusal(ServiceFieldText(kServiceErrorVideoPid), Range(0, kPidMax));
    if (r.pcr_pid > kPidMax) return where + Refusal(ServiceFieldText(kServiceErrorPcrPid), Range(0, kPidMax));
    if ((r.txt_pid & ~kTeletextPidBits) != 0) return where + FieldName(ServiceFieldText(kServiceErrorTeletextPid));
    if (!kvrs && r.favorite > kFlagMax) return where + Refusal(ServiceFieldText(kServiceErrorFavorite), "0 or 1");
  }
  return "";
}

}  // namespace torvix::channels
