// Replacing a file without ever leaving it emptied or half written: the new
// contents go to a temporary file in the same folder, which is flushed to the
// disk and renamed over the chosen one only when complete.  Until then the
// chosen file stays exactly as it was; an uncommitted temporary file is
// removed.  POSIX only; blocks on the file system; one thread per object.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace common {

class ReplacingFile {
 public:
  ReplacingFile() = default;
  ~ReplacingFile();  // Discard()
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Checks that `path` may be replaced (an existing entry must be a regular
  // file we may write: a write-protected file is not replaced behind its
  // owner's back) and creates the temporary file beside it, with the
  // existing file's permissions or, for a new file, 0666 less the umask.
  // False when either fails; Error() says why, naming `path`, or its folder
  // when that is what refused the temporary file.
  bool Create(const std::string& path);
  // Appends to the temporary file (short writes and EINTR retried).
  bool Write(const void* data, std::size_t n);
  bool Write(std::string_view text) { return Write(text.data(), text.size()); }
  // Flushes the temporary file to the disk and renames it over the chosen one.
  bool Commit();
  // Removes the temporary file; the chosen file is left as it was.
  void Discard();

  const std::string& Error() const { return error_; }

 private:
  bool Fail(int error);

  int fd_ = -1;
  std::string path_;
  std::string temporary_;
  std::string error_;
};

// Makes `path` hold exactly `contents` through a ReplacingFile; on failure
// the file at `path` is untouched and `error` says why.
bool ReplaceFile(const std::string& path, std::string_view contents, std::string& error);

}  // namespace common
