// Which kind of file a chosen path names, and whether a software file carries
// the signature of a software image.  The window's file chooser and the
// command line apply the same checks.  Any thread; they only read.
#pragma once

#include <string>

namespace updater {

enum class FileKind {
  kSoftware,  // the path contains ".wsw"
  kSettings,  // else it contains ".wdb" or ".WDB"
  kNone,      // neither: "Не тот Файл!"
};

// Looks for ".wsw", then ".wdb", then ".WDB" anywhere in the full path
// (case-sensitive), so "x.wsw.bak" is a software file and "x.WdB" is none.
FileKind ClassifyFileName(const std::string& path);

// True when the file's first two bytes are 0x55 0xAA.  False when it cannot
// be opened or holds fewer than two bytes.
bool HasSoftwareSignature(const std::string& path);

}  // namespace updater
