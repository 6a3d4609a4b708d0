#include "torvix/database/line_decoders.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>

#include "torvix/database/records.h"
#include "torvix/database/text_scanner.h"

namespace torvix {

namespace {

constexpr int kAbsent = -1;  // value of an integer field the scan did not reach
constexpr int kNotUsed = -1;  // word value of "n"/"none" for DiSEqC and switches

struct WordForm {
  const char* form;
  int value;
};

constexpr WordForm kLnbTypeWords[] = {{"1", 1}, {"u", 1}, {"universal", 1}, {"0", 0}, {"n", 0}, {"normal", 0}};
constexpr WordForm kEastWestWords[] = {{"0", 0}, {"e", 0}, {"east", 0}, {"1", 1}, {"w", 1}, {"west", 1}};
constexpr WordForm kDiseqcWords[] = {{"n", kNotUsed}, {"none", kNotUsed}, {"a", 0}, {"1", 0}, {"b", 1},
                                     {"2", 1},        {"c", 2},           {"3", 2}, {"d", 3}, {"4", 3}};
constexpr WordForm kTone22Words[] = {{"n", kNotUsed}, {"none", kNotUsed}, {"0", 0}, {"22", 1}};
constexpr WordForm kVolt012Words[] = {{"n", kNotUsed}, {"none", kNotUsed}, {"0", 0}, {"12", 1}};
constexpr WordForm kVolt1418Words[] = {{"n", kNotUsed}, {"none", kNotUsed}, {"14", 0}, {"18", 1}};
constexpr WordForm kAntennaTypeWords[] = {{"f", 0}, {"none", 0}, {"d", 1}, {"a", 2}};
constexpr WordForm kDiseqc12Words[] = {{"y", 1}, {"n", 0}};
constexpr WordForm kPolarizationWords[] = {{"h", 1}, {"hor", 1}, {"horizontal", 1},
                                           {"v", 0}, {"ver", 0}, {"vertical", 0}};
constexpr WordForm kFecWords[] = {{"0", 0},   {"auto", 0}, {"a", 0},   {"1/2", 1},
                                  {"2/3", 2}, {"3/4", 3},  {"5/6", 4}, {"7/8", 5}};

// Looks `word` up in lower case; an absent (empty) word matches nothing.
bool LookUp(const std::string& word, std::span<const WordForm> table, int& value) {
  const std::string lower = AsciiLower(word);
  for (const WordForm& entry : table) {
    if (lower == entry.form) {
      value = entry.value;
      return true;
    }
  }
  return false;
}

bool LookUpSwitch(const std::string& word, std::span<const WordForm> table, SwitchSetting& setting) {
  int value = 0;
  if (!LookUp(word, table, value)) return false;
  setting = {value != kNotUsed, value == 1};
  return true;
}

bool LookUpDiseqc(const std::string& word, DiseqcSetting& setting) {
  int value = 0;
  if (!LookUp(word, kDiseqcWords, value)) return false;
  setting = {value != kNotUsed, static_cast<std::uint8_t>(value == kNotUsed ? 0 : value)};
  return true;
}

// The name between the first two double quotes of a line, and the text after it.
struct QuotedName {
  std::string name;
  std::string_view rest;
};

bool ReadQuotedName(std::string_view line, std::size_t maxLength, QuotedName& out) {
  const std::size_t open = line.find('"');
  if (open == std::string_view::npos) return false;
  const std::size_t close = line.find('"', open + 1);
  if (close == std::string_view::npos || close - open - 1 > maxLength) return false;
  out.name.assign(line.substr(open + 1, close - open - 1));
  out.rest = line.substr(close + 1);
  return true;
}

// Degrees to tenths of a degree, rounded to the nearest tenth so that a
// printed angle reads back unchanged; false when not a number from 0 to 180.
bool AngleToTenths(double degrees, std::uint16_t& tenths) {
  const double scaled = degrees * 10.0;
  if (!(scaled > -1.0 && scaled < kMaxAngle + 1.0)) return false;  // also refuses NaN and infinities
  const long rounded = std::lround(scaled);
  if (rounded < 0 || rounded > kMaxAngle) return false;
  tenths = static_cast<std::uint16_t>(rounded);
  return true;
}

bool Present(int value) { return value != kAbsent; }

std::string_view CutAtNul(std::string_view line) { return line.substr(0, line.find('\0')); }

// The fields that both satellite layouts start with, tested in their order.
// Returns 0 or the error number of the first failing field.
int DecodeSatelliteStart(DecodeContext& context, const ImageLayout& layout, std::string_view line,
                         TextScanner& scanner, SatelliteRecord& record, std::string& eastWest) {
  if (context.satelliteCount >= layout.satellites.room) return kDecodeOverflow;
  QuotedName quoted;
  if (!ReadQuotedName(CutAtNul(line), kSatelliteNameMax, quoted)) return -2;
  record.name = quoted.name;
  scanner = TextScanner(quoted.rest);
  int lnbLow = kAbsent;
  int lnbHigh = kAbsent;
  std::string lnbType;
  double angle = std::nan("");
  scanner.Integer(lnbLow);
  scanner.Integer(lnbHigh);
  scanner.Word(lnbType);
  scanner.Decimal(angle);
  scanner.Word(eastWest);
  if (!Present(lnbLow)) return -3;
  if (!Present(lnbHigh)) return -4;
  record.lnb_low = static_cast<std::uint16_t>(lnbLow);
  record.lnb_high = static_cast<std::uint16_t>(lnbHigh);
  int value = 0;
  if (!LookUp(lnbType, kLnbTypeWords, value)) return -5;
  record.universal_lnb = value == 1;
  if (!AngleToTenths(angle, record.angle)) return -6;
  return 0;
}

int StoreNewSatellite(DecodeContext& context, const ImageLayout& layout, const SatelliteRecord& record) {
  StoreSatellite(context.image, layout, context.satelliteCount, record);
  return context.satelliteCount++;
}

int DecodeTransponder(DecodeContext& context, const ImageLayout& layout, int satelliteIndex, std::string_view line) {
  if (context.transponderCount >= layout.transponders.room) return kDecodeOverflow;
  TextScanner scanner(CutAtNul(line));
  int frequency = kAbsent;
  int symbolrate = kAbsent;
  int tone22 = kAbsent;
  int volt1418 = kAbsent;
  int volt012 = kAbsent;
  std::string polarization;
  std::string fec;
  scanner.SkipWord();
  scanner.Integer(frequency);
  scanner.Integer(symbolrate);
  scanner.Word(polarization);
  scanner.Integer(tone22);
  scanner.Integer(volt1418);
  scanner.Integer(volt012);
  scanner.Word(fec);
  if (!Present(frequency)) return -2;
  if (!Present(symbolrate)) return -3;
  TransponderRecord record;
  record.frequency = static_cast<std::uint16_t>(frequency);
  record.symbolrate = static_cast<std::uint16_t>(symbolrate);
  int value = 0;
  if (!LookUp(polarization, kPolarizationWords, value)) return -4;
  record.polarization = value == 1;
  if (tone22 != 0 && tone22 != 22) return -5;
  if (volt1418 != 14 && volt1418 != 18) return -6;
  if (volt012 != 0 && volt012 != 12) return -7;
  record.tone_22khz = tone22 == 22;
  record.volt_14_18 = volt1418 == 18;
  record.volt_0_12 = volt012 == 12;
  if (!LookUp(fec, kFecWords, value)) return -8;
  record.fec = static_cast<std::uint8_t>(value);
  record.satellite_index = static_cast<std::uint8_t>(satelliteIndex);
  if (layout.kvrs) {
    // Optional and untested: aux_byte, then eight single-digit codes.
    int auxByte = kNoAuxByte;
    scanner.Integer(auxByte);
    record.aux_byte = static_cast<std::uint8_t>(auxByte);
    for (std::uint8_t& code : record.aux_codes) {
      int digit = 0;
      scanner.Digit(digit);
      code = static_cast<std::uint8_t>(digit & 3);
    }
  }
  StoreTransponder(context.image, layout, context.transponderCount, record);
  return context.transponderCount++;
}

int DecodeService(DecodeContext& context, const ImageLayout& layout, std::string_view line) {
  if (context.serviceCount >= layout.services.room) return kDecodeOverflow;
  line = CutAtNul(line);
  TextScanner typeScanner(line);
  std::string type;
  typeScanner.Word(type);
  QuotedName quoted;
  if (!ReadQuotedName(line, kServiceNameMax, quoted)) return -2;

  TextScanner scanner(quoted.rest);
  int antIndex = 0;
  int satIndex = 0;
  int tpIndex = 0;
  int serviceId = kAbsent;
  int videoPid = kAbsent;
  int audioPid = kAbsent;
  int pcrPid = kAbsent;
  int txtPid = kAbsent;
  int scramble = kAbsent;
  int favorite = kAbsent;
  int lock = kAbsent;
  if (layout.kvrs) scanner.Integer(antIndex);
  for (int* field : {&satIndex, &tpIndex, &serviceId, &videoPid, &audioPid, &pcrPid, &txtPid, &scramble, &favorite,
                     &lock}) {
    scanner.Integer(*field);
  }
  constexpr int kMaxPid = 0x1FFF;
  constexpr int kTxtPidBits = 0x9FFF;  // PID bits 0-12 and bit 15
  if (serviceId < 0 || serviceId > 0xFFFF) return -3;
  if (videoPid < 0 || videoPid > kMaxPid) return -5;
  if (audioPid < 0) return -6;
  if (pcrPid < 0 || pcrPid > kMaxPid) return -7;
  if (txtPid < 0 || (txtPid & ~kTxtPidBits) != 0) return -8;
  if (scramble != 0 && scramble != 1) return -9;
  if (!layout.kvrs && favorite != 0 && favorite != 1) return -10;
  if (lock != 0 && lock != 1) return -11;
  constexpr int kMaxSatIndex = 128;
  constexpr int kMaxTpIndex = 256;
  if (satIndex < 1 || satIndex > kMaxSatIndex) return -12;
  if (tpIndex < 1 || tpIndex > kMaxTpIndex) return -13;
  const int transponder = FindTransponder(context.image, layout, context.transponderCount, satIndex - 1, tpIndex);
  if (transponder < 0) return -14;

  ServiceRecord record;
  record.service_id = static_cast<std::uint16_t>(serviceId);
  record.video_pid = static_cast<std::uint16_t>(videoPid);
  record.audio_pid = static_cast<std::uint16_t>(audioPid);
  record.pcr_pid = static_cast<std::uint16_t>(pcrPid);
  record.transponder_index = static_cast<std::uint16_t>(transponder);
  record.tv_radio = type.empty() || (type[0] != 'v' && type[0] != 'V');
  record.txt_pid = static_cast<std::uint16_t>(txtPid);
  record.scramble = scramble == 1;
  record.favorite = static_cast<std::uint8_t>(favorite);
  record.lock = lock == 1;
  record.name = quoted.name;
  record.sat_index = static_cast<std::uint8_t>(satIndex - 1);
  // 0 in the text gives 255.  Unsigned: ant_index is not tested and may be any int.
  record.ant_index = static_cast<std::uint8_t>(static_cast<unsigned>(antIndex) - 1u);
  StoreService(context.image, layout, context.serviceCount, record);
  return context.serviceCount++;
}

const char* FieldText(std::span<const char* const> texts, int error) {
  const int i = -error - 1;
  if (i < 0 || i >= static_cast<int>(texts.size())) return "";
  return texts[static_cast<std::size_t>(i)];
}

}  // namespace

int DecodeAntennaLine(DecodeContext& context, std::string_view line) {
  if (context.antennaCount >= kKvrsLayout.antennas.room) return kDecodeOverflow;
  TextScanner scanner(CutAtNul(line));
  int number = kAbsent;
  int lnbLow = kAbsent;
  int lnbHigh = kAbsent;
  std::string lnbType, antennaType, diseqc, tone22, volt012, volt1418;
  scanner.SkipWord();
  scanner.Integer(number);  // antennas are numbered by their order; the number is not kept
  scanner.Word(lnbType);
  scanner.Integer(lnbLow);
  scanner.Integer(lnbHigh);
  scanner.Word(antennaType);
  scanner.Word(diseqc);
  scanner.Word(tone22);
  scanner.Word(volt012);
  scanner.Word(volt1418);
  if (!Present(lnbLow)) return -2;
  if (!Present(lnbHigh)) return -3;
  AntennaRecord record;
  record.lnb_low = static_cast<std::uint16_t>(lnbLow);
  record.lnb_high = static_cast<std::uint16_t>(lnbHigh);
  int value = 0;
  if (!LookUp(lnbType, kLnbTypeWords, value)) return -4;
  record.universal_lnb = value == 1;
  if (!LookUp(antennaType, kAntennaTypeWords, value)) return -5;
  record.antenna_type = static_cast<std::uint8_t>(value);
  if (!LookUpDiseqc(diseqc, record.diseqc)) return -6;
  if (!LookUpSwitch(tone22, kTone22Words, record.tone_22khz)) return -7;
  if (!LookUpSwitch(volt012, kVolt012Words, record.volt_0_12)) return -8;
  if (!LookUpSwitch(volt1418, kVolt1418Words, record.volt_14_18)) return -9;
  StoreAntenna(context.image, context.antennaCount, record);
  return context.antennaCount++;
}

int DecodeBasicSatelliteLine(DecodeContext& context, std::string_view line) {
  SatelliteRecord record;
  TextScanner scanner({});
  std::string eastWest;
  if (const int error = DecodeSatelliteStart(context, kBasicLayout, line, scanner, record, eastWest); error < 0) {
    return error;
  }
  std::string diseqc, tone22, volt012, volt1418;
  scanner.Word(diseqc);
  scanner.Word(tone22);
  scanner.Word(volt012);
  scanner.Word(volt1418);
  int value = 0;
  if (!LookUp(eastWest, kEastWestWords, value)) return -7;
  record.east_west = value == 1;
  if (!LookUpDiseqc(diseqc, record.diseqc)) return -8;
  if (!LookUpSwitch(tone22, kTone22Words, record.tone_22khz)) return -9;
  if (!LookUpSwitch(volt012, kVolt012Words, record.volt_0_12)) return -10;
  if (!LookUpSwitch(volt1418, kVolt1418Words, record.volt_14_18)) return -11;
  return StoreNewSatellite(context, kBasicLayout, record);
}

int DecodeKvrsSatelliteLine(DecodeContext& context, std::string_view line) {
  SatelliteRecord record;
  TextScanner scanner({});
  std::string eastWest;
  if (const int error = DecodeSatelliteStart(context, kKvrsLayout, line, scanner, record, eastWest); error < 0) {
    return error;
  }
  std::string diseqc12;
  int biased = 0;  // optional, 0 when absent
  scanner.Word(diseqc12);
  scanner.Integer(biased);
  int value = 0;
  if (!LookUp(eastWest, kEastWestWords, value)) return -7;
  record.east_west = value == 1;
  if (!LookUp(diseqc12, kDiseqc12Words, value)) return -8;
  record.diseqc_1_2 = value == 1;
  record.biased_value = biased;
  return StoreNewSatellite(context, kKvrsLayout, record);
}

int DecodeBasicTransponderLine(DecodeContext& context, int satelliteIndex, std::string_view line) {
  return DecodeTransponder(context, kBasicLayout, satelliteIndex, line);
}

int DecodeKvrsTransponderLine(DecodeContext& context, int satelliteIndex, std::string_view line) {
  return DecodeTransponder(context, kKvrsLayout, satelliteIndex, line);
}

int DecodeBasicServiceLine(DecodeContext& context, std::string_view line) {
  return DecodeService(context, kBasicLayout, line);
}

int DecodeKvrsServiceLine(DecodeContext& context, std::string_view line) {
  return DecodeService(context, kKvrsLayout, line);
}

int FindTransponder(const DatabaseImage& image, const ImageLayout& layout, int count, int satelliteIndex,
                    int position) {
  const int limit = std::min(count, layout.transponders.room);
  int seen = 0;
  for (int j = 0; j < limit; ++j) {
    if (LoadTransponderSatellite(image, layout, j) == satelliteIndex && ++seen == position) return j;
  }
  return -1;
}

const char* SatelliteFieldText(int error) {
  static constexpr const char* kTexts[] = {
      "         : Overflow number of satellites.\n",
      "   field : name\n",
      "   field : lnb_low\n",
      "   field : lnb_high\n",
      "   field : universal_lnb\n",
      "   field : angle\n",
      "   field : east_west\n",
      "   field : DiSEqC\n",
      "   field : 22KHz\n",
      "   field : 0/12V\n",
      "   field : 14/18V\n",
  };
  return FieldText(kTexts, error);
}

const char* TransponderFieldText(int error) {
  static constexpr const char* kTexts[] = {
      "         : Overflow number of tps.\n",
      "   field : frequency\n",
      "   field : symbolrate\n",
      "   field : polarization\n",
      "   field : 22 KHz\n",
      "   field : 14/18 Volt\n",
      "   field : 0/12 Volt\n",
      "   field : FEC\n",
  };
  return FieldText(kTexts, error);
}

const char* ServiceFieldText(int error) {
  static constexpr const char* kTexts[] = {
      "         : Overflow number of service.\n",
      "   field : name\n",
      "   field : service_id\n",
      "   field : tv_radio\n",
      "   field : video_pid\n",
      "   field : audio_pid\n",
      "   field : pcr_pid\n",
      "   field : txt_pid\n",
      "   field : scramble\n",
      "   field : favorite\n",
      "   field : lock\n",
      "   field : sat_index\n",
      "   field : tp_index\n",
      "         : The satellite or transponder is not valid.\n",
  };
  return FieldText(kTexts, error);
}

}  // namespace torvix
