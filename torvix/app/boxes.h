// Message boxes of TORVIX's windows.
#pragma once

#include <string>

#include <QMessageBox>

namespace torvix::app {

// Shows a modal message box with a plain text, its caption, its icon
// (NoIcon, Warning, Information) and buttons, the first button being the
// default; returns the button pressed.  `parent` may be null (a box of its
// own, centred on the screen).  User-interface thread; returns when dismissed.
QMessageBox::StandardButton ShowBox(QWidget* parent, const std::string& caption, const std::string& text,
                                    QMessageBox::Icon icon,
                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok);

}  // namespace torvix::app
