// "Устройство…": the device behind the checked COM name, chosen in the
// drop-down both windows share (common/qt/device_combo.h).  What OK chooses
// is kept in Updater's settings (common::qt::StoreDevice), where the command
// line finds it too.  Window thread.
#pragma once

#include <QDialog>
#include <QString>

#include "common/serial_ports.h"

namespace common::qt {
class DeviceCombo;
}  // namespace common::qt

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
  common::qt::DeviceCombo* combo_;
};

}  // namespace updater::app
