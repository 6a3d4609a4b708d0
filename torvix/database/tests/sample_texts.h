// Factory-data texts and small helpers shared by the database tests and the
// benchmark.
#pragma once

#include <string>
#include <string_view>

#include "torvix/database/database_image.h"

namespace torvix::testing {

// Line feeds to CR LF, as the files are stored.
std::string Dos(std::string_view text);

// Compiles DOS text into `image`; returns the reader's result and its message.
struct CompileResult {
  int code;
  std::string message;
};
CompileResult Compile(std::string_view dosText, DatabaseImage& image);

// Prints `image`; the text is empty when the writer refuses the image.
std::string Print(const DatabaseImage& image);

// A basic file that uses every accepted word form, a keyword line that is not
// KVRS, a default switch line, comments, blank lines and a transponder before
// any satellite.
std::string FullBasicText();
// A KVRS file with every word form, antennas, services between satellites,
// transponders with and without their optional fields, and an antenna line
// that is skipped.
std::string FullKvrsText();
// The largest KVRS file: 64 antennas, 128 satellites, 2048 transponders and
// 3200 services.
std::string MaximalKvrsText();

}  // namespace torvix::testing
