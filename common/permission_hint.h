// What to do about a serial device the user may not open: one line naming the
// group that may (usually "dialout") and the command that adds the user to it.
// Shared by every place that reports a port that did not open: TORVIX's
// serial error box, Updater's port failure line, both command lines.
// Standard library and POSIX only; any thread; reads the user and group
// databases, which may block briefly (a directory service).
#pragma once

#include <string>

namespace common {

enum class HintLanguage { kEnglish, kRussian };

// The line for `devicePath` after an open failed with EACCES, without a line
// feed: the group that owns the device and the command that adds the current
// user to it, or (already a member) that a new login is needed, or (the
// device is for root alone) that a udev rule must give it to a group.
std::string PermissionHint(const std::string& devicePath, HintLanguage language = HintLanguage::kEnglish);

}  // namespace common
