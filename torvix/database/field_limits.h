// What the line decoders accept in each field of a factory-data line: the
// ranges of the numbers, the word forms of the word fields, and the error
// number each decoder returns for a field.  The decoders test exactly these,
// and so does everything that checks a value before it becomes a line (the
// channel-list editor), so that nothing accepted there is refused on reading.
//
// Name lengths stay in records.h (kSatelliteNameMax, kServiceNameMax), the
// angle limit there too (kMaxAngle), and the rooms of the tables in
// database_image.h (ImageLayout).
//
// Constants and pure functions; any thread, no blocking.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace torvix {

// ---- Numbers ---------------------------------------------------------------

// 16-bit fields that are only tested for being present (lnb_low, lnb_high,
// frequency, symbolrate) or for being non-negative (audio_pid): the decoder
// stores their low 16 bits, so only 0 to 65535 reads back as written.
inline constexpr int kField16Max = 0xFFFF;
inline constexpr int kServiceIdMax = 0xFFFF;
inline constexpr int kPidMax = 0x1FFF;          // video_pid and pcr_pid
inline constexpr int kTeletextPidBits = 0x9FFF;  // txt_pid: PID bits 0-12 and bit 15, never 13 or 14
// The 1-based sat_index and tp_index of a service line.
inline constexpr int kSatIndexMax = 128;
inline constexpr int kTpIndexMax = 256;
// The flags of a service line; favorite is a flag in the basic layout only
// (the KVRS favorite is not tested and stored as its low 8 bits).
inline constexpr int kFlagMax = 1;
inline constexpr int kKvrsFavoriteMax = 255;
// The KVRS satellite's biased_value is not tested; its low 8 bits + 90 are
// stored, so only -90 to 165 reads back as written.
inline constexpr int kBiasedValueMin = -90;
inline constexpr int kBiasedValueMax = 165;
// The default switch line of the basic layout (antenna_config).
inline constexpr int kDefaultSwitchMin = -1;
inline constexpr int kDefaultSwitchMax = 8;
// The integers of a transponder line's switch fields, indexed by the stored bit.
inline constexpr int kTransponderTone22Values[2] = {0, 22};
inline constexpr int kTransponderVolt1418Values[2] = {14, 18};
inline constexpr int kTransponderVolt012Values[2] = {0, 12};

// The angle field (decimal degrees) in tenths of a degree, rounded to the
// nearest tenth so that a printed angle reads back unchanged; false when it
// is not a number from 0 to 180 (kMaxAngle tenths).
bool AngleToTenths(double degrees, std::uint16_t& tenths);

// ---- Words -----------------------------------------------------------------

struct WordForm {
  const char* form;  // lower case
  int value;
};
inline constexpr int kWordNotUsed = -1;  // the value of "n"/"none" for DiSEqC and switches

inline constexpr WordForm kLnbTypeWords[] = {{"1", 1}, {"u", 1}, {"universal", 1}, {"0", 0}, {"n", 0}, {"normal", 0}};
inline constexpr WordForm kEastWestWords[] = {{"0", 0}, {"e", 0}, {"east", 0}, {"1", 1}, {"w", 1}, {"west", 1}};
// Values 0 to 3 are the ports a to d.
inline constexpr WordForm kDiseqcWords[] = {{"n", kWordNotUsed}, {"none", kWordNotUsed}, {"a", 0}, {"1", 0}, {"b", 1},
                                            {"2", 1},            {"c", 2},               {"3", 2}, {"d", 3}, {"4", 3}};
// Satellite and antenna switches: value 0 or 1 is "used" with that value.
inline constexpr WordForm kTone22Words[] = {{"n", kWordNotUsed}, {"none", kWordNotUsed}, {"0", 0}, {"22", 1}};
inline constexpr WordForm kVolt012Words[] = {{"n", kWordNotUsed}, {"none", kWordNotUsed}, {"0", 0}, {"12", 1}};
inline constexpr WordForm kVolt1418Words[] = {{"n", kWordNotUsed}, {"none", kWordNotUsed}, {"14", 0}, {"18", 1}};
inline constexpr WordForm kAntennaTypeWords[] = {{"f", 0}, {"none", 0}, {"d", 1}, {"a", 2}};
inline constexpr WordForm kDiseqc12Words[] = {{"y", 1}, {"n", 0}};
inline constexpr WordForm kPolarizationWords[] = {{"h", 1}, {"hor", 1}, {"horizontal", 1},
                                                  {"v", 0}, {"ver", 0}, {"vertical", 0}};
inline constexpr WordForm kFecWords[] = {{"0", 0},   {"auto", 0}, {"a", 0},   {"1/2", 1},
                                         {"2/3", 2}, {"3/4", 3},  {"5/6", 4}, {"7/8", 5}};

// The value of `word` (any case) in `table`; false when no form matches (an
// empty word matches none).
bool LookUpWord(std::string_view word, std::span<const WordForm> table, int& value);

// ---- Names -----------------------------------------------------------------

// Whether a quoted name of a satellite or service line can carry `c`: the
// name ends at the next double quote and its line at a line feed or a NUL,
// and control characters do not survive editors and receivers; bytes from
// 128 up pass unchanged.  The lengths are kSatelliteNameMax and
// kServiceNameMax (records.h).
constexpr bool IsNameCharacter(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b >= 0x20 && b != 0x7F && b != '"';
}

// ---- Error numbers ---------------------------------------------------------
// What each decoder returns for the first field that fails; the field texts
// of line_decoders.h (SatelliteFieldText, ...) are indexed by them.

inline constexpr int kDecodeOverflow = -1;  // every decoder: the table is full

inline constexpr int kSatelliteErrorName = -2;
inline constexpr int kSatelliteErrorLnbLow = -3;
inline constexpr int kSatelliteErrorLnbHigh = -4;
inline constexpr int kSatelliteErrorLnbType = -5;
inline constexpr int kSatelliteErrorAngle = -6;
inline constexpr int kSatelliteErrorEastWest = -7;
inline constexpr int kSatelliteErrorDiseqc = -8;  // also the KVRS diseqc 1.2
inline constexpr int kSatelliteErrorTone22 = -9;
inline constexpr int kSatelliteErrorVolt012 = -10;
inline constexpr int kSatelliteErrorVolt1418 = -11;

inline constexpr int kTransponderErrorFrequency = -2;
inline constexpr int kTransponderErrorSymbolrate = -3;
inline constexpr int kTransponderErrorPolarization = -4;
inline constexpr int kTransponderErrorTone22 = -5;
inline constexpr int kTransponderErrorVolt1418 = -6;
inline constexpr int kTransponderErrorVolt012 = -7;
inline constexpr int kTransponderErrorFec = -8;

inline constexpr int kServiceErrorName = -2;
inline constexpr int kServiceErrorServiceId = -3;
inline constexpr int kServiceErrorTvRadio = -4;  // never returned: any type that is not V is radio
inline constexpr int kServiceErrorVideoPid = -5;
inline constexpr int kServiceErrorAudioPid = -6;
inline constexpr int kServiceErrorPcrPid = -7;
inline constexpr int kServiceErrorTeletextPid = -8;
inline constexpr int kServiceErrorScramble = -9;
inline constexpr int kServiceErrorFavorite = -10;
inline constexpr int kServiceErrorLock = -11;
inline constexpr int kServiceErrorSatIndex = -12;
inline constexpr int kServiceErrorTpIndex = -13;
inline constexpr int kServiceErrorNoTransponder = -14;

// Antenna lines fail without a message; their numbers only order the tests.
inline constexpr int kAntennaErrorLnbLow = -2;
inline constexpr int kAntennaErrorLnbHigh = -3;
inline constexpr int kAntennaErrorLnbType = -4;
inline constexpr int kAntennaErrorType = -5;
inline constexpr int kAntennaErrorDiseqc = -6;
inline constexpr int kAntennaErrorTone22 = -7;
inline constexpr int kAntennaErrorVolt012 = -8;
inline constexpr int kAntennaErrorVolt1418 = -9;

}  // namespace torvix
