// updater: Updater's window.
//
//   updater [FILE]
//
// FILE, when given, is taken as if chosen with "Файл" > "Открыть" (a
// software image switches to the update, a settings file to sending).
// COMn is /dev/ttyS(n-1) unless the environment variable COMn names
// another device.
#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QStringList>
#include <QTranslator>

#include "updater/app/updater_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("updater"));
  QApplication::setDesktopFileName(QStringLiteral("updater"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/updater/updater.svg")));
  // The window speaks Russian: so do Qt's own buttons and dialogs, where
  // Qt's translations are installed.
  QTranslator qtTexts;
  if (qtTexts.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(&qtTexts);
  }

  updater::app::UpdaterWindow window;
  window.show();
  const QStringList args = QApplication::arguments();
  if (args.size() > 1) window.TakeFile(args.at(1));
  return QApplication::exec();
}
