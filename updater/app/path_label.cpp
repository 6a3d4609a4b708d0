#include "updater/app/path_label.h"

#include <QPainter>
#include <QStyle>

namespace updater::app {

PathLabel::PathLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setTextInteractionFlags(Qt::TextSelectableByMouse);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void PathLabel::SetPath(const QString& path) {
  setText(path);
  setToolTip(path);
}

QSize PathLabel::minimumSizeHint() const {
  return {fontMetrics().averageCharWidth() * 20, QLabel::minimumSizeHint().height()};
}

void PathLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
  const QString shown = fontMetrics().elidedText(text(), Qt::ElideLeft, area.width());
  style()->drawItemText(&painter, area, int(alignment()), palette(), isEnabled(), shown, foregroundRole());
}

}  // namespace updater::app
