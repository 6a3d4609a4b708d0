// Places a window's controls as the receivers' home platform places those of
// its dialog templates: positions and sizes in dialog units, a horizontal
// unit being a quarter of the font's average character width and a vertical
// unit an eighth of its height.  Where a control's text would not fit in its
// box with the font in use (the windows were drawn for a smaller one), every
// unit of that direction grows by the same factor, so the arrangement stays
// as drawn and nothing is clipped at any font size or screen scaling.
#pragma once

#include <vector>

#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

namespace torvix::app {

struct DialogItem {
  QWidget* widget;
  QRect units;           // x, y, width, height in dialog units
  QString widestText{};  // a label's widest text to come (empty: its present text)
};

// Gives every item its geometry and `window` its fixed client size, from the
// window's font.  User-interface thread, once the widgets hold their texts.
void PlaceInDialogUnits(QWidget* window, QSize windowUnits, const std::vector<DialogItem>& items);

}  // namespace torvix::app
