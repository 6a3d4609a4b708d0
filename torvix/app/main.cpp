// torvix: TORVIX, the link tool's window.
#include <QApplication>

#include "torvix/app/main_dialog.h"
#include "torvix/app/small_dialogs.h"
#include "torvix/ops/database_factory_text.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("torvix"));
  QApplication::setWindowIcon(torvix::app::ProgramIcon());
  torvix::DatabaseFactoryText factoryText;
  const torvix::LinkTimings timings;  // the link's own limits
  torvix::app::MainDialog window(factoryText, timings);
  window.Start();
  // The main window is the program: closing it ends the run.
  window.exec();
  return 0;
}
