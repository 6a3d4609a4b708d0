// The help window that F1 opens: a short Russian guide to the modes, the
// port, the file types, the stop button and the status lines.  Nothing
// outside the program is started.  Window thread.
#pragma once

#include <QDialog>

namespace updater::app {

class HelpWindow : public QDialog {
 public:
  explicit HelpWindow(QWidget* parent = nullptr);
};

}  // namespace updater::app
