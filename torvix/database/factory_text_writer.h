// The factory-data text writer: prints the database image as a factory-data
// text file that the reader accepts, with "#" banners that document each
// section's columns.
//
// The output is DOS text (every line ends in CR LF); open the stream in binary
// mode.  Format byte 0 prints the basic layout; any other value prints the
// KVRS layout with its keyword line and banners.  The image is not trusted:
// counts are cut to the room of their tables, names stop at the end of their
// fields, and a service whose transponder index lies beyond the transponders
// prints sat_index and tp_index 0.  FEC codes 6 and 7 print as "fec6" and
// "fec7", antenna type 3 as "  type3": words the reader refuses.
#pragma once

#include <ostream>

#include "torvix/database/database_image.h"

namespace torvix {

inline constexpr int kWriteOk = 0;
inline constexpr int kWriteInvalidImage = 1;  // magic is not "twinowls"; nothing was written

// Prints `image` into `out`.  Returns kWriteOk, or kWriteInvalidImage before
// any output.  Write errors are the stream's state; the writer does not check
// them.  Runs on the calling thread; blocks only as the stream does.
int WriteFactoryText(std::ostream& out, const DatabaseImage& image);
// The same for the link tool's image, GetDatabaseImage().
int WriteFactoryText(std::ostream& out);

}  // namespace torvix
