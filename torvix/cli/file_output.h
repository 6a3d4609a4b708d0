// Replacing a file without ever leaving it half written: the new contents go
// to a temporary file in the same folder, which is then renamed over the old
// one.  POSIX only; blocks on the file system; any thread.
#pragma once

#include <string>
#include <string_view>

namespace torvix::cli {

// Makes `path` hold exactly `contents`.  An existing file keeps its
// permissions; a new one gets 0666 less the umask.  On failure the file at
// `path` is untouched, no temporary file is left, and `error` tells why.
bool ReplaceFile(const std::string& path, std::string_view contents, std::string& error);

}  // namespace torvix::cli
