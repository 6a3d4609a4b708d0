#include "torvix/app/boxes.h"

#include <QPushButton>

namespace torvix::app {

QMessageBox::StandardButton ShowBox(QWidget* parent, const std::string& caption, const std::string& text,
                                    QMessageBox::Icon icon, QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(text), buttons, parent);
  // The texts are the program's own or a file's: never markup.
  box.setTextFormat(Qt::PlainText);
  // As the receivers' home platform does: the first button is the default.
  for (const QMessageBox::StandardButton first : {QMessageBox::Ok, QMessageBox::Yes}) {
    if (buttons.testFlag(first)) {
      box.setDefaultButton(first);
      break;
    }
  }
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace torvix::app
