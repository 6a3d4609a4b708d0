#include "torvix/database/factory_text_reader.h"

#include <cstdarg>
#include <cstdio>

#include "torvix/database/field_limits.h"
#include "torvix/database/line_decoders.h"
#include "torvix/database/records.h"
#include "torvix/database/text_scanner.h"

namespace torvix {

int MemoryByteSource::ReadByte() {
  if (pos_ >= bytes_.size()) return kEnd;
  return static_cast<unsigned char>(bytes_[pos_++]);
}

int StreamByteSource::ReadByte() {
  const auto c = in_.rdbuf()->sbumpc();
  return c == std::char_traits<char>::eof() ? kEnd : static_cast<unsigned char>(c);
}

int DosTextSource::ReadByte() {
  int c = pending_;
  pending_ = kNone;
  if (c == kNone) c = raw_.ReadByte();
  if (c != '\r') return c;
  const int next = raw_.ReadByte();
  if (next == '\n') return '\n';
  pending_ = next;
  return '\r';
}

namespace {

constexpr char kKvrsKeyword[] = "kvrs";

// Bytes skipped before the tag: 1 to 32 and everything from 128 (they are
// negative as signed chars).
constexpr bool IsTagBlank(char c) {
  const auto b = static_cast<unsigned char>(c);
  return (b >= 1 && b <= 32) || b >= 128;
}

enum class LineStatus { kLine, kEnd, kTooLong };

// Reads one line without its line feed.  A last line without a line feed is
// a line too; a line of more than kMaxLineLength characters is too long.
LineStatus ReadLine(ByteSource& source, std::string& line) {
  line.clear();
  for (;;) {
    const int c = source.ReadByte();
    if (c == ByteSource::kEnd) return line.empty() ? LineStatus::kEnd : LineStatus::kLine;
    if (c == '\n') return LineStatus::kLine;
    if (line.size() == static_cast<std::size_t>(kMaxLineLength)) return LineStatus::kTooLong;
    line.push_back(static_cast<char>(c));
  }
}

// The state of one reader run.
class ReaderRun {
 public:
  ReaderRun(DatabaseImage& image, std::string& message) : context_(image), message_(message) {}

  int Run(ByteSource& text) {
    message_.clear();
    StoreAntennaConfig(context_.image, kNoAntennaConfig);
    std::string line;
    for (;; ++lineNumber_) {
      const LineStatus status = ReadLine(text, line);
      if (status == LineStatus::kEnd) break;
      if (status == LineStatus::kTooLong) {
        return Fail(FT_LINE_TOO_LONG, " * Error : line %d is too long. size of line_buffer = %d.\n", lineNumber_,
                    kLineBufferSize);
      }
      if (const int result = ProcessLine(line); result != FT_OK) return result;
    }
    Complete();
    return FT_OK;
  }

 private:
  int ProcessLine(std::string_view line) {
    line = line.substr(0, line.find('\0'));  // the line ends at a NUL, as a C string does
    std::size_t i = 0;
    while (i < line.size() && IsTagBlank(line[i])) ++i;
    if (i == line.size()) return FT_OK;  // blank line
    const std::string_view fromTag = line.substr(i);
    const char tag = fromTag[0];
    switch (tag) {
      case '#':
        return FT_OK;
      case 'A':
      case 'a':
        return SwitchOrAntennaLine(fromTag);
      case 'B':
      case 'b':
      case 'K':
      case 'k':
        return KeywordLine(fromTag);
      case 'S':
      case 's':
        return SatelliteLine(fromTag);
      case 'T':
      case 't':
        return TransponderLine(fromTag);
      case 'R':
      case 'r':
      case 'V':
      case 'v':
        return ServiceLine(fromTag);
      default:
        return Fail(FT_BAD_TAG, " * Error : line %d. Invalid tag '%c'.\n", lineNumber_, tag);
    }
  }

  int SatelliteMixed() {
    return Fail(FT_SATELLITE_AFTER_PROGRAM, " * Error : line %d. Program information and satellite information mixed.",
                lineNumber_);
  }

  int SwitchOrAntennaLine(std::string_view line) {
    if (decoders_->antenna != nullptr) {
      if (programSection_) return SatelliteMixed();
      decoders_->antenna(context_, line);  // a failing antenna line is skipped without a message
      return FT_OK;
    }
    if (programSection_) {
      return Fail(FT_SWITCH_AFTER_PROGRAM,
                  " * Error : line %d. Program information and switch configuration mixed.", lineNumber_);
    }
    if (defaultSwitchSeen_) {
      return Fail(FT_BAD_SWITCH, " * Error : line %d. Default Switch Configuation value was defined duplicatly.",
                  lineNumber_);
    }
    TextScanner scanner(line);
    int value = 0;
    scanner.SkipWord();
    if (!scanner.Integer(value) || value < kDefaultSwitchMin || value > kDefaultSwitchMax) {
      return Fail(FT_BAD_SWITCH, " * Error : line %d. Default Switch Configuation value format error.", lineNumber_);
    }
    defaultSwitchSeen_ = true;
    defaultSwitch_ = value;
    return FT_OK;
  }

  int KeywordLine(std::string_view line) {
    TextScanner scanner(line);
    std::string token;
    if (scanner.Word(token) && AsciiLower(token) == kKvrsKeyword) {
      // Records already stored have the basic layout's sizes: read under the
      // KVRS layout they would be garbage in the image sent to a receiver.
      if (layoutFlag_ == 0 && context_.satelliteCount + context_.transponderCount + context_.serviceCount > 0) {
        return Fail(FT_KEYWORD_AFTER_RECORDS,
                    " * Error : line %d. KVRS keyword after satellite, transponder or program information.",
                    lineNumber_);
      }
      layoutFlag_ = 1;
      formatNumber_ = kFormatKvrs;
    }
    decoders_ = layoutFlag_ ? &kKvrsDecoders : &kBasicDecoders;
    return FT_OK;
  }

  int SatelliteLine(std::string_view line) {
    if (programSection_) return SatelliteMixed();
    const int index = decoders_->satellite(context_, line);
    if (index < 0) {
      return Fail(FT_BAD_SATELLITE, " * Error : line %d. Default Satellite Data format error.\n%s", lineNumber_,
                  SatelliteFieldText(index));
    }
    lastSatellite_ = index;
    return FT_OK;
  }

  int TransponderLine(std::string_view line) {
    if (programSection_) {
      return Fail(FT_TRANSPONDER_AFTER_PROGRAM,
                  " * Error : line %d. Program information and transponder information mixed.", lineNumber_);
    }
    const int index = decoders_->transponder(context_, lastSatellite_, line);
    if (index < 0) {
      return Fail(FT_BAD_TRANSPONDER, " * Error : line %d. Default TP Data format error.\n%s", lineNumber_,
                  TransponderFieldText(index));
    }
    return FT_OK;
  }

  int ServiceLine(std::string_view line) {
    if (layoutFlag_ == 0) programSection_ = true;  // the KVRS layout allows any order
    const int index = decoders_->service(context_, line);
    if (index < 0) {
      return Fail(FT_BAD_SERVICE, " * Error : line %d. Default Service Data format error.\n%s", lineNumber_,
                  ServiceFieldText(index));
    }
    return FT_OK;
  }

  void Complete() {
    ImageHeader header;
    header.format = static_cast<std::uint8_t>(formatNumber_);
    header.antenna_count = static_cast<std::uint8_t>(context_.antennaCount);
    header.satellite_count = context_.satelliteCount;
    header.transponder_count = context_.transponderCount;
    header.service_count = context_.serviceCount;
    header.antenna_config = defaultSwitch_;
    StoreHeader(context_.image, header);
  }

  // Keeps the formatted message (cut to the 1024-byte message buffer) and returns `result`.
  int Fail(int result, const char* format, ...) __attribute__((format(printf, 3, 4))) {
    char buffer[kLineBufferSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    message_ = buffer;
    return result;
  }

  DecodeContext context_;
  std::string& message_;
  const LineDecoderSet* decoders_ = &kBasicDecoders;
  int lineNumber_ = 1;
  int lastSatellite_ = -1;
  int layoutFlag_ = 0;
  int formatNumber_ = kFormatBasic;
  bool programSection_ = false;
  bool defaultSwitchSeen_ = false;
  int defaultSwitch_ = kNoAntennaConfig;
};

FactoryTextReader& ProgramReader() {
  static FactoryTextReader reader;
  return reader;
}

}  // namespace

int FactoryTextReader::Read(ByteSource& text, DatabaseImage& image) { return ReaderRun(image, message_).Run(text); }

int ReadFactoryText(ByteSource& text) { return ProgramReader().Read(text, GetDatabaseImage()); }

const std::string& GetFactoryTextMessage() { return ProgramReader().Message(); }

}  // namespace torvix
