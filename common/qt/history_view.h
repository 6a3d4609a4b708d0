// The service history as both windows show it: the latest operations in a
// table, a filter field that keeps the rows containing its text in any
// column, each result in words and colour, the whole row on a double click
// or Enter, and "Export CSV…" of the rows shown.  Each program passes its
// own texts (TORVIX English, Updater Russian); the rows, the CSV and the
// reading are common/history's.  Window thread.
#pragma once

#include <cstddef>
#include <vector>

#include <QDialog>
#include <QString>

#include "common/history/history.h"

class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

namespace common::qt {

// The columns of history::Row, in its order.
inline constexpr std::size_t kHistoryColumns = 22;
// The rows read when the view opens: the newest this many.
inline constexpr int kHistoryLatestRows = 1000;

// UTF-8.  An & marks a mnemonic; %1 what the text names.
struct HistoryTexts {
  const char* caption;         // the view's, and its table's accessible name
  const char* filterLabel;
  const char* exportButton;
  const char* closeButton;
  const char* exportCaption;   // the file dialog's
  const char* exportFileName;  // proposed there
  const char* csvFilter;       // "... (*.csv)"
  const char* exported;        // %1 rows written, %2 the file
  const char* exportFailed;    // %1 why
  const char* readFailed;      // %1 why
  const char* turnedOff;
  const char* rowCaption;      // the whole row's window; %1 its id
  const char* running;         // the result of an operation not yet ended
  // Said beside ok, failed, refused, declined, stopped, interrupted; an
  // empty text: the value alone.
  const char* resultWords[6];
  const char* columns[kHistoryColumns];  // the labels of Row's columns, in its order
};

// Where the windows keep the history: RT_HISTORY, else the station's file
// under $XDG_STATE_HOME (the command lines' flags are not theirs).
history::Location EnvironmentHistory();

class HistoryView : public QDialog {
  Q_OBJECT
 public:
  // Reads the newest kHistoryLatestRows rows of `location` (blocking for at
  // most the history's busy timeout); what could not be read is said in the
  // view.  `texts` outlives the view.
  HistoryView(QWidget* parent, const history::Location& location, const HistoryTexts& texts);

  // The rows the filter lets through, in the order shown (newest first).
  std::vector<history::Row> ShownRows() const;
  // The whole row shown at `proxyRow` of the table, in a modal window.
  void ShowRow(int proxyRow);
  // "Export CSV…": the file dialog, then the rows shown into the file chosen.
  void Export();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Load(const history::Location& location);

  const HistoryTexts& texts_;
  std::vector<history::Row> rows_;
  QLineEdit* filter_;
  QTableView* table_;
  QStandardItemModel* model_;
  QSortFilterProxyModel* shown_;
  QLabel* note_;  // what could not be read, or what an export did
};

}  // namespace common::qt
