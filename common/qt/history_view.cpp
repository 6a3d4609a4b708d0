#include "common/qt/history_view.h"

#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QKeyEvent>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

#include "common/replacing_file.h"

namespace common::qt {
namespace {

// Columns of the model, in the order of history::Row.
enum Column : int {
  kId, kStarted, kEnded, kDuration, kProgram, kVersion, kOperation, kMode, kPort, kDevice, kAdapter,
  kHardware, kSoftware, kFile, kFileSize, kFileSha256, kResult, kExitCode, kMessage, kOperator, kStation, kUnit,
};
static_assert(kUnit + 1 == kHistoryColumns);

// What the table shows, in this order; the other columns are in the whole
// row (and the filter looks at them too).
constexpr Column kShownColumns[] = {kStarted, kProgram, kOperation, kMode, kPort, kUnit, kResult, kFile, kMessage};

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }
QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }
QString Text(const std::optional<std::string>& utf8) { return utf8 ? Text(*utf8) : QString(); }
template <typename Number>
QString Text(const std::optional<Number>& number) {
  return number ? QString::number(*number) : QString();
}

// The button text without its mnemonic mark, as a screen reader says it.
QString Plain(const char* utf8) {
  return Text(utf8).remove(QLatin1Char('&'));
}

std::array<QString, kHistoryColumns> Cells(const history::Row& row) {
  // Paths as the system names them.
  const auto path = [](const std::optional<std::string>& p) {
    return p ? QFile::decodeName(QByteArray::fromStdString(*p)) : QString();
  };
  return {QString::number(row.id), Text(row.started), Text(row.ended), Text(row.duration_ms), Text(row.program),
          Text(row.version), Text(row.operation), Text(row.mode), Text(row.port), path(row.device),
          Text(row.adapter), Text(row.hardware), Text(row.software), path(row.file), Text(row.file_size),
          Text(row.file_sha256), Text(row.result), Text(row.exit_code), Text(row.message),
          Text(row.operator_name), Text(row.station), Text(row.unit)};
}

constexpr std::string_view kResults[] = {history::kOk,       history::kFailed,  history::kRefused,
                                         history::kDeclined, history::kStopped, history::kInterrupted};

// A result as the table says it: the value, the program's word beside it.
QString ResultText(const std::optional<std::string>& result, const HistoryTexts& texts) {
  if (!result) return Text(texts.running);
  for (std::size_t i = 0; i < std::size(kResults); ++i) {
    if (*result == kResults[i] && texts.resultWords[i][0] != '\0') {
      return QStringLiteral("%1 (%2)").arg(Text(*result), Text(texts.resultWords[i]));
    }
  }
  return Text(*result);
}

// Green for done, red where the receiver may be left without working
// software, amber where the operator or a check ended it, blue while it runs.
QColor ResultColour(const std::optional<std::string>& result) {
  if (!result) return {0, 0, 192};
  if (*result == history::kOk) return {0, 128, 0};
  if (*result == history::kFailed || *result == history::kInterrupted) return {192, 0, 0};
  return {160, 96, 0};
}

}  // namespace

history::Location EnvironmentHistory() {
  return history::ResolveLocation(std::nullopt, false, [](const char* name) { return std::getenv(name); });
}

HistoryView::HistoryView(QWidget* parent, const history::Location& location, const HistoryTexts& texts)
    : QDialog(parent), texts_(texts) {
  setWindowTitle(Text(texts.caption));

  auto* filterLabel = new QLabel(Text(texts.filterLabel), this);
  filter_ = new QLineEdit(this);
  filter_->setObjectName(QStringLiteral("historyFilter"));
  filter_->setAccessibleName(Plain(texts.filterLabel));
  filter_->setClearButtonEnabled(true);
  filterLabel->setBuddy(filter_);

  model_ = new QStandardItemModel(0, kHistoryColumns, this);
  for (std::size_t c = 0; c < kHistoryColumns; ++c) {
    model_->setHeaderData(static_cast<int>(c), Qt::Horizontal, Text(texts.columns[c]));
  }
  shown_ = new QSortFilterProxyModel(this);
  shown_->setSourceModel(model_);
  shown_->setFilterKeyColumn(-1);  // any column
  shown_->setFilterCaseSensitivity(Qt::CaseInsensitive);
  connect(filter_, &QLineEdit::textChanged, shown_, &QSortFilterProxyModel::setFilterFixedString);

  table_ = new QTableView(this);
  table_->setObjectName(QStringLiteral("historyTable"));
  table_->setAccessibleName(Text(texts.caption));
  table_->setModel(shown_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setTextElideMode(Qt::ElideMiddle);
  table_->setWordWrap(false);
  table_->verticalHeader()->hide();
  QHeaderView* header = table_->horizontalHeader();
  for (int c = 0; c < static_cast<int>(kHistoryColumns); ++c) table_->setColumnHidden(c, true);
  int visual = 0;
  for (const Column c : kShownColumns) {
    table_->setColumnHidden(c, false);
    header->moveSection(header->visualIndex(c), visual++);
  }
  header->setStretchLastSection(true);
  connect(table_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) { ShowRow(index.row()); });
  // Enter opens the row too (eventFilter).
  table_->installEventFilter(this);

  note_ = new QLabel(this);
  note_->setObjectName(QStringLiteral("historyNote"));
  note_->setTextFormat(Qt::PlainText);
  note_->setWordWrap(true);
  note_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  note_->hide();

  auto* exportButton = new QPushButton(Text(texts.exportButton), this);
  auto* closeButton = new QPushButton(Text(texts.closeButton), this);
  // Enter belongs to the table and the filter: no button takes it.
  for (QPushButton* button : {exportButton, closeButton}) button->setAutoDefault(false);
  connect(exportButton, &QPushButton::clicked, this, &HistoryView::Export);
  connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);

  auto* filterRow = new QHBoxLayout;
  filterRow->addWidget(filterLabel);
  filterRow->addWidget(filter_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(exportButton);
  buttons->addWidget(closeButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filterRow);
  layout->addWidget(table_, 1);
  layout->addWidget(note_);
  layout->addLayout(buttons);

  Load(location);
  table_->resizeColumnsToContents();
  const int em = fontMetrics().horizontalAdvance(QLatin1Char('M'));
  resize(em * 70, fontMetrics().lineSpacing() * 30);
  filter_->setFocus();
}

void HistoryView::Load(const history::Location& location) {
  if (!location.enabled) {
    note_->setText(Text(texts_.turnedOff));
    note_->show();
    return;
  }
  history::Filter filter;
  filter.limit = kHistoryLatestRows;
  history::QueryResult read = history::Query(location.path, filter);
  if (!read.ok) {
    note_->setText(Text(texts_.readFailed).arg(Text(read.message)));
    note_->show();
    return;
  }
  if (!read.warning.empty()) {
    note_->setText(Text(read.warning));
    note_->show();
  }
  rows_ = std::move(read.rows);
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const history::Row& row = rows_[i];
    const std::array<QString, kHistoryColumns> cells = Cells(row);
    QList<QStandardItem*> items;
    for (std::size_t c = 0; c < kHistoryColumns; ++c) {
      auto* item = new QStandardItem(cells[c]);
      item->setToolTip(cells[c]);
      items << item;
    }
    QStandardItem* result = items[kResult];
    result->setText(ResultText(row.result, texts_));
    result->setToolTip(result->text());
    result->setForeground(ResultColour(row.result));
    items[kId]->setData(static_cast<qulonglong>(i), Qt::UserRole);  // the row's place in rows_
    model_->appendRow(items);
  }
}

bool HistoryView::eventFilter(QObject* watched, QEvent* event) {
  // Taken before the table, which would pass it on to the dialog.
  if (watched == table_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && table_->currentIndex().isValid()) {
      ShowRow(table_->currentIndex().row());
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

std::vector<history::Row> HistoryView::ShownRows() const {
  std::vector<history::Row> rows;
  for (int r = 0; r < shown_->rowCount(); ++r) {
    const QModelIndex source = shown_->mapToSource(shown_->index(r, kId));
    rows.push_back(rows_.at(model_->data(source, Qt::UserRole).toULongLong()));
  }
  return rows;
}

void HistoryView::ShowRow(int proxyRow) {
  const QModelIndex source = shown_->mapToSource(shown_->index(proxyRow, kId));
  if (!source.isValid()) return;
  const history::Row& row = rows_.at(model_->data(source, Qt::UserRole).toULongLong());
  const std::array<QString, kHistoryColumns> cells = Cells(row);

  // Wide enough for the whole of a SHA-256.
  const int hashWidth = fontMetrics().horizontalAdvance(QString(66, QLatin1Char('0')));
  QDialog window(this);
  window.setObjectName(QStringLiteral("historyRow"));
  window.setWindowTitle(Text(texts_.rowCaption).arg(row.id));
  auto* form = new QFormLayout;
  for (std::size_t c = 0; c < kHistoryColumns; ++c) {
    auto* value = new QLineEdit(c == kResult ? ResultText(row.result, texts_) : cells[c], &window);
    value->setReadOnly(true);
    value->setCursorPosition(0);
    value->setAccessibleName(Plain(texts_.columns[c]));
    value->setMinimumWidth(hashWidth);
    if (c == kResult) {
      QPalette palette = value->palette();
      palette.setColor(QPalette::Text, ResultColour(row.result));
      value->setPalette(palette);
    }
    form->addRow(Text(texts_.columns[c]), value);
  }
  auto* close = new QDialogButtonBox(&window);
  QPushButton* closeButton = close->addButton(Text(texts_.closeButton), QDialogButtonBox::RejectRole);
  closeButton->setDefault(true);
  connect(close, &QDialogButtonBox::rejected, &window, &QDialog::reject);
  auto* layout = new QVBoxLayout(&window);
  layout->addLayout(form);
  layout->addWidget(close);
  window.exec();
}

void HistoryView::Export() {
  QFileDialog dialog(this, Text(texts_.exportCaption));
  // Qt's own dialog on every desktop, as the windows' other file dialogs.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(Text(texts_.csvFilter));
  dialog.setDefaultSuffix(QStringLiteral("csv"));
  dialog.selectFile(Text(texts_.exportFileName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString chosen = dialog.selectedFiles().constFirst();
  const std::vector<history::Row> rows = ShownRows();
  std::string error;
  if (!common::ReplaceFile(QFile::encodeName(chosen).toStdString(), history::FormatCsv(rows), error)) {
    QMessageBox box(QMessageBox::Warning, Text(texts_.caption), Text(texts_.exportFailed).arg(Text(error)),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return;
  }
  note_->setText(Text(texts_.exported).arg(QString::number(rows.size()), chosen));
  note_->show();
}

}  // namespace common::qt
