// Replacing a file without ever leaving it emptied or half written: the new
// contents go to a temporary file in the same folder, which is flushed to the
// disk and put in place of the chosen one only when complete.  Until then
// the chosen file stays exactly as it was.
//
// Nothing is left behind by a process that dies at any moment: where the
// file system offers it, the temporary file has no name at all (O_TMPFILE)
// until the commit gives it one and renames it into place in the next system
// call (a new file gets its name directly).  Elsewhere it is a named file
// beside the chosen one, removed by Discard() and the destructor, which the
// command lines still reach when SIGINT, SIGTERM or SIGHUP stops them.
//
// The replaced file keeps its permissions (and, where allowed, its owner and
// group); a chosen path that is a symbolic link stays one, and the file it
// leads to is replaced.  POSIX (Linux); blocks on the file system; one thread
// per object.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace common {

class ReplacingFile {
 public:
  // kNamed makes the temporary file a named one even where an unnamed one
  // could be had (for tests of that path).
  enum class Temporary { kUnnamedWherePossible, kNamed };

  explicit ReplacingFile(Temporary temporary = Temporary::kUnnamedWherePossible) : temporaryKind_(temporary) {}
  ~ReplacingFile();  // Discard()
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Follows `path` through symbolic links to the file to replace, checks
  // that it may be replaced (an existing entry must be a regular file we may
  // write: a write-protected file is not replaced behind its owner's back)
  // and creates the temporary file beside it, with the existing file's
  // permissions or, for a new file, 0666 less the umask.  False when any of
  // this fails; Error() says why, naming `path`, or its folder when that is
  // what refused the temporary file.
  bool Create(const std::string& path);
  // Appends to the temporary file (short writes and EINTR retried).
  bool Write(const void* data, std::size_t n);
  bool Write(std::string_view text) { return Write(text.data(), text.size()); }
  // Flushes the temporary file to the disk and puts it in place of the
  // chosen one, then flushes the folder.  False (the chosen file untouched,
  // the temporary file gone) when any step fails.
  bool Commit();
  // Removes the temporary file; the chosen file is left as it was.
  void Discard();

  const std::string& Error() const { return error_; }
  // Whether the temporary file of the current Create() has no name.
  bool Unnamed() const { return fd_ >= 0 && temporary_.empty(); }

 private:
  bool Fail(int error);
  // Gives the unnamed temporary file the target's name, replacing it.
  int LinkIntoPlace();

  Temporary temporaryKind_;
  int fd_ = -1;
  std::string path_;       // as the caller named it, for messages
  std::string target_;     // the file that is replaced: path_ with its symbolic links followed
  std::string folder_;     // the target's folder
  std::string temporary_;  // the named temporary file; empty when it has no name
  std::string error_;
};

// Makes `path` hold exactly `contents` through a ReplacingFile; on failure
// the file at `path` is untouched and `error` says why.
bool ReplaceFile(const std::string& path, std::string_view contents, std::string& error);

}  // namespace common
