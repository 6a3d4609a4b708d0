#include "torvix/app/dialog_units.h"

#include <algorithm>
#include <cmath>

#include <QFontMetricsF>
#include <QLabel>

namespace torvix::app {
namespace {

// The size a control asks for; a label with a wider text to come asks for that.
QSize WantedSize(const DialogItem& item) {
  auto* label = qobject_cast<QLabel*>(item.widget);
  if (label == nullptr || item.widestText.isEmpty()) return item.widget->sizeHint();
  const QString present = label->text();
  label->setText(item.widestText);
  const QSize wanted = label->sizeHint();
  label->setText(present);
  return wanted.expandedTo(label->sizeHint());
}

}  // namespace

void PlaceInDialogUnits(QWidget* window, QSize windowUnits, const std::vector<DialogItem>& items) {
  const QFontMetricsF metrics(window->font());
  // The average character width of the home platform: the alphabet's width / 52.
  const double charWidth =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0;
  double unitX = charWidth / 4.0;
  double unitY = metrics.height() / 8.0;

  std::vector<QSize> wanted;
  double growX = 1.0;
  double growY = 1.0;
  for (const DialogItem& item : items) {
    wanted.push_back(WantedSize(item));
    growX = std::max(growX, wanted.back().width() / (item.units.width() * unitX));
    growY = std::max(growY, wanted.back().height() / (item.units.height() * unitY));
  }
  unitX *= growX;
  unitY *= growY;

  const auto x = [unitX](int units) { return static_cast<int>(std::lround(units * unitX)); };
  const auto y = [unitY](int units) { return static_cast<int>(std::lround(units * unitY)); };
  for (std::size_t i = 0; i < items.size(); ++i) {
    const QRect& u = items[i].units;
    // Sizes from both edges, so that rounding never makes neighbours overlap;
    // at least what the control asked for, which rounding may have cut by a pixel.
    items[i].widget->setGeometry(x(u.x()), y(u.y()), std::max(x(u.x() + u.width()) - x(u.x()), wanted[i].width()),
                                 std::max(y(u.y() + u.height()) - y(u.y()), wanted[i].height()));
  }
  window->setFixedSize(x(windowUnits.width()), y(windowUnits.height()));
}

}  // namespace torvix::app
