// A file that replaces another only once its contents are complete: a
// temporary file beside the chosen one, renamed over it by Commit() and
// removed if never committed.  The chosen file is never emptied or half
// written.  POSIX only; blocks on the file system; one thread.
#pragma once

#include <string>
#include <string_view>

namespace torvix {

class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile();  // removes an uncommitted temporary file
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Creates the temporary file in the folder of `path`; false (error set)
  // when the folder does not take it.
  bool Create(const std::string& path, std::string& error);
  // Writes `contents`, flushes them to disk and renames the temporary file
  // over the chosen one (an existing file's permissions are kept).  False
  // (error set, chosen file untouched) on failure.
  bool Commit(std::string_view contents, std::string& error);

 private:
  std::string path_;
  std::string temporary_;
  int fd_ = -1;
};

}  // namespace torvix
