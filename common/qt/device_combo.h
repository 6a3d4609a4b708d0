// The device behind a COM name, as both windows offer it: a drop-down of the
// serial devices present (by-id names first; the list also says what sysfs
// tells of each) that shows where the name leads now and takes any typed
// path (an emulator's pseudo-terminal, an adapter not yet plugged in); and
// the store of what the operator chose, in the program's settings, where
// common::DeviceMap reads it without Qt (for the command lines too).
// Window thread.
#pragma once

#include <vector>

#include <QComboBox>
#include <QString>

#include "common/device_map.h"

namespace common::qt {

class DeviceCombo : public QComboBox {
  Q_OBJECT
 public:
  // Shows `now`; lists `choices`; its own field is `shownCharacters` wide
  // (the list is as wide as its lines).  The tool tip is the device shown.
  // A name the environment maps cannot be changed here: the field is then
  // disabled, with `environmentToolTip` as its tip when that is not empty.
  DeviceCombo(QWidget* parent, const ComMapping& now, const std::vector<DeviceChoice>& choices,
              int shownCharacters, const QString& environmentToolTip = {});

  // The device chosen or typed, blanks around it dropped; empty: the default.
  QString Device() const;
  // The operator changed the device shown.  Never for a name the environment
  // maps: the field is then fixed.
  bool Changed() const;

 private:
  QString shown_;
};

// Stores `device` as the device of COM`n` in `program`'s settings (group
// kDevicesGroup, key "COMn"); an empty text removes it, so that COMn leads to
// its default again.  False when the settings cannot be written.  Blocks on
// the file system.
bool StoreDevice(const SettingsName& program, int n, const QString& device);

}  // namespace common::qt
