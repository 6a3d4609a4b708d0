// Reading an INI settings file as the windows' settings library (Qt's
// QSettings, IniFormat) writes and reads it, without Qt, so that a command
// line reads the same values from a window's settings file as the window.
//
// Rules, each as Qt's reader has it:
// - Lines: leading blanks are skipped; a line that begins with ';' is a
//   comment; outside quotes a ';' ends the line, a backslash escapes the next
//   character (also a line end: the line goes on), and quotes may span lines.
//   CR LF, LF and CR all end lines.
// - Sections: "[Name]" puts "Name/" before the keys that follow; the name is
//   trimmed, and a line without its ']' names the section with the rest of
//   the line (a bad line).  "[General]" in any case is the top
//   level (keys without a group); "[%General]" is a group named "General".
//   A section that comes twice is one section: its keys add up.
// - Keys: everything before the first '=' outside quotes, trimmed; they are
//   case-sensitive; in keys and section names "\" stands for "/" and "%XX" /
//   "%UXXXX" for the character with that code (UTF-16 code unit), a '%' not
//   followed by such digits stays a '%'.
// - Values: quotes group (and keep blanks), C escapes (\n, \t, \x41, \101,
//   ...), a backslash at the end continues the line; blanks around an
//   unquoted value are dropped.  "@@" at the start stands for "@".
// - Duplicate keys: the last line of a key counts, in whichever section
//   occurrence it stands.
// - Values that are not one text are left out (and a later one of them
//   takes an earlier text of its key away): a list (a ',' outside quotes), a
//   typed value ("@ByteArray(...)", "@Variant(...)" and their kind), a text
//   with a NUL character.
// - Bad lines: a line that is neither a section nor holds a '=' is skipped
//   (as Qt does, without a word), and a section without its ']' is taken as
//   said above (Qt reports the file as a format error and uses its values
//   all the same); both are counted, and the lines around them are read as
//   usual.
// - Only the first megabyte of a file counts: a settings file is a few lines.
//
// Standard library and POSIX only.  Any thread; ReadIniFile blocks only on
// the file system.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace common {

// Text values by key: "Group/Key", or "Key" for keys of [General].
using IniTexts = std::map<std::string, std::string>;

// What the rules above make of a file's contents.
struct IniContents {
  IniTexts texts;
  std::size_t badLines = 0;  // lines skipped as neither a section nor a key
};
// Any bytes; does not block.
IniContents ParseIni(std::string_view contents);

// ParseIni(contents).texts.
IniTexts ParseIniTexts(std::string_view contents);

// A settings file read from disk.
struct IniFile {
  enum class State {
    kRead,        // read (texts and badLines as ParseIni says)
    kMissing,     // no such file: a program that has stored nothing yet
    kUnreadable,  // there, but not to be read (permissions, a folder, an I/O error)
  };
  State state = State::kMissing;
  int error = 0;  // errno when not read
  IniContents contents;
};
// Reads the file at `path` (its first megabyte) and parses it; a file that
// cannot be read has no texts.  Blocks for the read.
IniFile ReadIniFile(const std::string& path);

}  // namespace common
