// The device behind a COM name, as the port setting offers it: a drop-down
// of the serial devices present (by-id names first; the list also says what
// sysfs tells of each) that shows where the name leads now and takes any
// typed path (an emulator's pseudo-terminal, an adapter not yet plugged in).
// User-interface thread.
#pragma once

#include <string>
#include <vector>

#include <QComboBox>
#include <QString>

#include "common/device_map.h"
#include "torvix/ops/progress_session.h"

namespace torvix::app {

class DeviceCombo : public QComboBox {
  Q_OBJECT
 public:
  // Shows `now`; lists `choices`.  A name the environment maps cannot be
  // changed here: the field then shows the variable's device, disabled.
  DeviceCombo(QWidget* parent, const common::ComMapping& now, const std::vector<common::DeviceChoice>& choices);

  // The device chosen or typed, blanks around it dropped; empty: the default.
  QString Device() const;
  // The operator changed the device shown (and may change it).
  bool Changed() const;

 private:
  QString shown_;
};

// What the port's error box adds when `port` did not open although other
// serial devices are present under `roots`: which device was tried and where
// another is chosen.  Empty otherwise (a device path given instead of a COM
// name, or nothing else to choose from).
std::string OpenFailureNote(const PortChoice& port, const common::DeviceRoots& roots);

}  // namespace torvix::app
