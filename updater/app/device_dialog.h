// "Устройство…": the device behind the checked COM name.  A drop-down of the
// serial devices present (by-id names first; the list also says what sysfs
// tells of each) shows where the name leads now and takes any typed path (an
// emulator's pseudo-terminal, an adapter not yet plugged in).  What OK
// chooses is kept in Updater's settings, where the command line finds it too.
// Window thread.
#pragma once

#include <QDialog>
#include <QString>

#include "common/device_map.h"

class QComboBox;

namespace updater::app {

class DeviceDialog : public QDialog {
  Q_OBJECT
 public:
  // For COM`portNumber`, listing the devices present under `deviceRoots`.
  DeviceDialog(QWidget* parent, int portNumber, const common::DeviceRoots& deviceRoots);

  // The device chosen or typed, blanks around it dropped; empty: the default.
  QString Device() const;
  // The device differs from the one shown at the start.  Never for a name the
  // environment maps: the field is then fixed.
  bool Changed() const;

 private:
  QComboBox* combo_;
  QString shown_;
};

// Stores `device` for COM`portNumber` in Updater's settings (group
// "Devices"); an empty text removes it.  False when they cannot be written.
bool StoreDevice(int portNumber, const QString& device);

}  // namespace updater::app
