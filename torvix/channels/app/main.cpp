// torvix-channels [FILE]: the channel editor's window, on FILE (a
// factory-data text or a database image) when one is given.
#include <QApplication>
#include <QStringList>

#include "torvix/channels/app/channels_window.h"
#include "torvix/ops/database_factory_text.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("torvix-channels"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/torvix-channels/torvix-channels.svg")));
  torvix::DatabaseFactoryText factoryText;
  const torvix::LinkTimings timings;  // the link's own limits
  torvix::channels::app::ChannelsWindow window(factoryText, timings);
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() > 1) window.Open(arguments.at(1));
  window.show();
  return QApplication::exec();
}
