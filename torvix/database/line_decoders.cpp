#include "torvix/database/line_decoders.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>

#include "torvix/database/field_limits.h"
#include "torvix/database/records.h"
#include "torvix/database/text_scanner.h"

namespace torvix {

namespace {

constexpr int kAbsent = -1;  // value of an integer field the scan did not reach

// Looks `word` up in lower case; an absent (empty) word matches nothing.
bool LookUp(const std::string& word, std::span<const WordForm> table, int& value) {
  return LookUpWord(word, table, value);
}

bool LookUpSwitch(const std::string& word, std::span<const WordForm> table, SwitchSetting& setting) {
  int value = 0;
  if (!LookUp(word, table, value)) return false;
  setting = {value != kWordNotUsed, value == 1};
  return true;
}

bool LookUpDiseqc(const std::string& word, DiseqcSetting& setting) {
  int value = 0;
  if (!LookUp(word, kDiseqcWords, value)) return false;
  setting = {value != kWordNotUsed, static_cast<std::uint8_t>(value == kWordNotUsed ? 0 : value)};
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

bool Present(int value) { return value != kAbsent; }

bool OneOf(int value, const int (&values)[2]) { return value == values[0] || value == values[1]; }

std::string_view CutAtNul(std::string_view line) { return line.substr(0, line.find('\0')); }

// The fields that both satellite layouts start with, tested in their order.
// Returns 0 or the error number of the first failing field.
int DecodeSatelliteStart(DecodeContext& context, const ImageLayout& layout, std::string_view line,
                         TextScanner& scanner, SatelliteRecord& record, std::string& eastWest) {
  if (context.satelliteCount >= layout.satellites.room) return kDecodeOverflow;
  QuotedName quoted;
  if (!ReadQuotedName(CutAtNul(line), kSatelliteNameMax, quoted)) return kSatelliteErrorName;
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
  if (!Present(lnbLow)) return kSatelliteErrorLnbLow;
  if (!Present(lnbHigh)) return kSatelliteErrorLnbHigh;
  record.lnb_low = static_cast<std::uint16_t>(lnbLow);
  record.lnb_high = static_cast<std::uint16_t>(lnbHigh);
  int value = 0;
  if (!LookUp(lnbType, kLnbTypeWords, value)) return kSatelliteErrorLnbType;
  record.universal_lnb = value == 1;
  if (!AngleToTenths(angle, record.angle)) return kSatelliteErrorAngle;
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
  if (!Present(frequency)) return kTransponderErrorFrequency;
  if (!Present(symbolrate)) return kTransponderErrorSymbolrate;
  TransponderRecord record;
  record.frequency = static_cast<std::uint16_t>(frequency);
  record.symbolrate = static_cast<std::uint16_t>(symbolrate);
  int value = 0;
  if (!LookUp(polarization, kPolarizationWords, value)) return kTransponderErrorPolarization;
  record.polarization = value == 1;
  if (!OneOf(tone22, kTransponderTone22Values)) return kTransponderErrorTone22;
  if (!OneOf(volt1418, kTransponderVolt1418Values)) return kTransponderErrorVolt1418;
  if (!OneOf(volt012, kTransponderVolt012Values)) return kTransponderErrorVolt012;
  record.tone_22khz = tone22 == kTransponderTone22Values[1];
  record.volt_14_18 = volt1418 == kTransponderVolt1418Values[1];
  record.volt_0_12 = volt012 == kTransponderVolt012Values[1];
  if (!LookUp(fec, kFecWords, value)) return kTransponderErrorFec;
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
  if (!ReadQuotedName(line, kServiceNameMax, quoted)) return kServiceErrorName;

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
  if (serviceId < 0 || serviceId > kServiceIdMax) return kServiceErrorServiceId;
  if (videoPid < 0 || videoPid > kPidMax) return kServiceErrorVideoPid;
  if (audioPid < 0) return kServiceErrorAudioPid;
  if (pcrPid < 0 || pcrPid > kPidMax) return kServiceErrorPcrPid;
  if (txtPid < 0 || (txtPid & ~kTeletextPidBits) != 0) return kServiceErrorTeletextPid;
  if (scramble < 0 || scramble > kFlagMax) return kServiceErrorScramble;
  if (!layout.kvrs && (favorite < 0 || favorite > kFlagMax)) return kServiceErrorFavorite;
  if (lock < 0 || lock > kFlagMax) return kServiceErrorLock;
  if (satIndex < 1 || satIndex > kSatIndexMax) return kServiceErrorSatIndex;
  if (tpIndex < 1 || tpIndex > kTpIndexMax) return kServiceErrorTpIndex;
  const int transponder = FindTransponder(context.image, layout, context.transponderCount, satIndex - 1, tpIndex);
  if (transponder < 0) return kServiceErrorNoTransponder;

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
  if (!Present(lnbLow)) return kAntennaErrorLnbLow;
  if (!Present(lnbHigh)) return kAntennaErrorLnbHigh;
  AntennaRecord record;
  record.lnb_low = static_cast<std::uint16_t>(lnbLow);
  record.lnb_high = static_cast<std::uint16_t>(lnbHigh);
  int value = 0;
  if (!LookUp(lnbType, kLnbTypeWords, value)) return kAntennaErrorLnbType;
  record.universal_lnb = value == 1;
  if (!LookUp(antennaType, kAntennaTypeWords, value)) return kAntennaErrorType;
  record.antenna_type = static_cast<std::uint8_t>(value);
  if (!LookUpDiseqc(diseqc, record.diseqc)) return kAntennaErrorDiseqc;
  if (!LookUpSwitch(tone22, kTone22Words, record.tone_22khz)) return kAntennaErrorTone22;
  if (!LookUpSwitch(volt012, kVolt012Words, record.volt_0_12)) return kAntennaErrorVolt012;
  if (!LookUpSwitch(volt1418, kVolt1418Words, record.volt_14_18)) return kAntennaErrorVolt1418;
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
  if (!LookUp(eastWest, kEastWestWords, value)) return kSatelliteErrorEastWest;
  record.east_west = value == 1;
  if (!LookUpDiseqc(diseqc, record.diseqc)) return kSatelliteErrorDiseqc;
  if (!LookUpSwitch(tone22, kTone22Words, record.tone_22khz)) return kSatelliteErrorTone22;
  if (!LookUpSwitch(volt012, kVolt012Words, record.volt_0_12)) return kSatelliteErrorVolt012;
  if (!LookUpSwitch(volt1418, kVolt1418Words, record.volt_14_18)) return kSatelliteErrorVolt1418;
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
  if (!LookUp(eastWest, kEastWestWords, value)) return kSatelliteErrorEastWest;
  record.east_west = value == 1;
  if (!LookUp(diseqc12, kDiseqc12Words, value)) return kSatelliteErrorDiseqc;
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
