// The factory-data text reader: compiles a factory-data text file into the
// database image.
//
// The file is line-oriented DOS text.  The first non-blank character of a line
// is its tag: "#" and blank lines are comments, A is the default switch line
// (basic layout) or an antenna line (KVRS layout), B/K a keyword line (the
// word KVRS selects the KVRS layout for the rest of the file), S satellite,
// T transponder, R/V service; the keyword belongs before the first record
// line.  Every error stops the reader at once with a result code and a
// message naming the line.
//
// The reader writes records from the start of each table and, only when the
// whole file is accepted, the header; it never clears the image first, so a
// failed run leaves the records already parsed (and antenna_config -1) behind.
// Any input is safe: a line longer than the line buffer is refused, and no
// name, number or count can reach outside the image.
#pragma once

#include <istream>
#include <string>
#include <string_view>

#include "torvix/database/database_image.h"

namespace torvix {

// Result codes of ReadFactoryText.
inline constexpr int FT_OK = 0;                         // whole file accepted, header written
inline constexpr int FT_BAD_SATELLITE = 1;              // a satellite line failed
inline constexpr int FT_BAD_TRANSPONDER = 2;            // a transponder line failed
inline constexpr int FT_BAD_SERVICE = 3;                // a service line failed
inline constexpr int FT_BAD_TAG = 4;                    // a line began with a character that is no tag
inline constexpr int FT_LINE_TOO_LONG = 5;              // a line did not fit the line buffer
inline constexpr int FT_BAD_SWITCH = 6;                 // default switch line repeated or malformed
inline constexpr int FT_SWITCH_AFTER_PROGRAM = 7;       // default switch line after a service line
inline constexpr int FT_SATELLITE_AFTER_PROGRAM = 8;    // satellite (KVRS: antenna) line after a service line
inline constexpr int FT_TRANSPONDER_AFTER_PROGRAM = 9;  // transponder line after a service line
// The KVRS keyword after a satellite, transponder or service line: the
// records stored before it have the basic layout's sizes, and the image would
// mix both layouts.
inline constexpr int FT_KEYWORD_AFTER_RECORDS = 10;

// Size of the reader's line buffer; a line may hold two characters less
// (room for the line feed and the terminating NUL).
inline constexpr int kLineBufferSize = 1024;
inline constexpr int kMaxLineLength = kLineBufferSize - 2;

// Where the reader's bytes come from, one at a time.
class ByteSource {
 public:
  static constexpr int kEnd = -1;
  virtual ~ByteSource() = default;
  // The next byte (0 to 255), or kEnd once the source is exhausted.
  virtual int ReadByte() = 0;
};

// Bytes of a buffer that outlives the source.
class MemoryByteSource : public ByteSource {
 public:
  explicit MemoryByteSource(std::string_view bytes) : bytes_(bytes) {}
  int ReadByte() override;

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

// Bytes of an input stream (opened in binary mode); blocks as the stream does.
class StreamByteSource : public ByteSource {
 public:
  explicit StreamByteSource(std::istream& in) : in_(in) {}
  int ReadByte() override;

 private:
  std::istream& in_;
};

// DOS text over raw bytes: each CR LF pair arrives as one line feed; any
// other CR is passed on as it is.
class DosTextSource : public ByteSource {
 public:
  explicit DosTextSource(ByteSource& raw) : raw_(raw) {}
  int ReadByte() override;

 private:
  ByteSource& raw_;
  int pending_ = kNone;
  static constexpr int kNone = -2;
};

// One reader with its own message buffer, for any image.  Runs on the calling
// thread, never blocks except on the source.
class FactoryTextReader {
 public:
  // Compiles the text that `text` delivers (line feeds as single bytes: wrap a
  // raw file in DosTextSource) into `image`.  Returns FT_OK or the code of the
  // first failure.  The last line is processed even without a final line feed.
  int Read(ByteSource& text, DatabaseImage& image);
  // Empty after FT_OK; otherwise the complete message of the failure.
  const std::string& Message() const { return message_; }

 private:
  std::string message_;
};

// The link tool's reader: compiles into GetDatabaseImage() and keeps the
// message for GetFactoryTextMessage().  User-interface thread only.
int ReadFactoryText(ByteSource& text);
const std::string& GetFactoryTextMessage();

}  // namespace torvix
