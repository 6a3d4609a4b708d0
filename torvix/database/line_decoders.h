// The line decoders of the factory-data text: each turns one record line
// (antenna, satellite, transponder or service) into one record of the
// database image, stored at the next free index of its table.
//
// A decoder reads its fields with a fixed scanf-like conversion list, tests
// them in a fixed order, and returns the new record's index (0 or more) or a
// negative error number whose field text names what failed.  A failing
// decoder stores nothing and leaves the counts alone.  Any line is safe input:
// names, numbers and counts are bounded before anything is stored.
//
// All functions are pure apart from the context they are given; any thread,
// no blocking.
#pragma once

#include <string_view>

#include "torvix/database/database_image.h"
#include "torvix/database/field_limits.h"

namespace torvix {

// What the decoders of one reader run share: the image and the record counts.
struct DecodeContext {
  explicit DecodeContext(DatabaseImage& target) : image(target) {}
  DatabaseImage& image;
  int antennaCount = 0;
  int satelliteCount = 0;
  int transponderCount = 0;
  int serviceCount = 0;
};

// The error numbers (kDecodeOverflow, kSatelliteErrorName, ...) are in
// field_limits.h, with the limits and words the decoders test.
// Satellite errors: -1 full, -2 name, -3 lnb_low, -4 lnb_high, -5 universal_lnb,
// -6 angle, -7 east_west, -8 DiSEqC (KVRS: diseqc 1.2), -9 22KHz, -10 0/12V, -11 14/18V.
// Transponder errors: -1 full, -2 frequency, -3 symbolrate, -4 polarization,
// -5 22 KHz, -6 14/18 Volt, -7 0/12 Volt, -8 FEC.
// Service errors: -1 full, -2 name, -3 service_id, (-4 tv_radio, never), -5 video_pid,
// -6 audio_pid, -7 pcr_pid, -8 txt_pid, -9 scramble, -10 favorite, -11 lock,
// -12 sat_index, -13 tp_index, -14 no such transponder.

// `line` starts at the tag character.
int DecodeAntennaLine(DecodeContext& context, std::string_view line);  // KVRS only
int DecodeBasicSatelliteLine(DecodeContext& context, std::string_view line);
int DecodeKvrsSatelliteLine(DecodeContext& context, std::string_view line);
// `satelliteIndex` is the index of the last satellite line, -1 before any.
int DecodeBasicTransponderLine(DecodeContext& context, int satelliteIndex, std::string_view line);
int DecodeKvrsTransponderLine(DecodeContext& context, int satelliteIndex, std::string_view line);
int DecodeBasicServiceLine(DecodeContext& context, std::string_view line);
int DecodeKvrsServiceLine(DecodeContext& context, std::string_view line);

// The decoders of one layout, as the reader switches them.
struct LineDecoderSet {
  const ImageLayout* layout;
  int (*satellite)(DecodeContext&, std::string_view);
  int (*transponder)(DecodeContext&, int, std::string_view);
  int (*service)(DecodeContext&, std::string_view);
  int (*antenna)(DecodeContext&, std::string_view);  // null in the basic layout
};
inline constexpr LineDecoderSet kBasicDecoders{&kBasicLayout, DecodeBasicSatelliteLine, DecodeBasicTransponderLine,
                                               DecodeBasicServiceLine, nullptr};
inline constexpr LineDecoderSet kKvrsDecoders{&kKvrsLayout, DecodeKvrsSatelliteLine, DecodeKvrsTransponderLine,
                                              DecodeKvrsServiceLine, DecodeAntennaLine};

// The field texts of the reader's messages, by error number; each ends in a
// line feed.  An error number without a text gives "".
const char* SatelliteFieldText(int error);
const char* TransponderFieldText(int error);
const char* ServiceFieldText(int error);

// The index of the `position`-th (1-based) transponder of satellite
// `satelliteIndex` among the first `count` transponder records, in table
// order; -1 when there is none.
int FindTransponder(const DatabaseImage& image, const ImageLayout& layout, int count, int satelliteIndex,
                    int position);

}  // namespace torvix
