#include "torvix/channels/app/channels_window.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <utility>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QItemSelection>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include "common/build_version.h"
#include "common/qt/history_view.h"
#include "torvix/app/boxes.h"
#include "torvix/app/port_store.h"
#include "torvix/app/small_dialogs.h"
#include "torvix/app/window_texts.h"
#include "torvix/channels/app/editor_texts.h"
#include "torvix/channels/app/pick_list_dialog.h"
#include "torvix/channels/duplicates.h"
#include "torvix/channels/list_diff.h"

namespace torvix::channels::app {
namespace {

using torvix::app::ShowBox;

constexpr std::array<Table, 4> kAllTables = {Table::kSatellites, Table::kTransponders, Table::kServices,
                                             Table::kAntennas};
constexpr std::array<const char*, 4> kTableNames = {kSatellites, kTransponders, kServices, kAntennas};

QString Local(const std::string& text) { return QString::fromStdString(text); }
// An action's text shows a description as it is: no mnemonics in it.
QString Plain(const std::string& text) { return Local(text).replace('&', QStringLiteral("&&")); }

// A table whose rows are moved by dragging them inside it.
class ListView : public QTableView {
 public:
  explicit ListView(std::function<void(int)> dropped) : dropped_(std::move(dropped)) {}

 protected:
  void dropEvent(QDropEvent* event) override {
    if (event->source() != this) {
      event->ignore();
      return;
    }
    const QModelIndex at = indexAt(event->position().toPoint());
    int row = at.isValid() ? at.row() : model()->rowCount();
    if (at.isValid() && dropIndicatorPosition() == QAbstractItemView::BelowItem) ++row;
    // The document moves the records; the view's own removal of dragged
    // rows finds nothing it may remove.
    event->setDropAction(Qt::MoveAction);
    event->accept();
    QTimer::singleShot(0, this, [this, row] { dropped_(row); });
  }

 private:
  std::function<void(int)> dropped_;
};

// A choice cell (a service's transponder, a polarization) edits with a drop-down list.
class CellDelegate : public QStyledItemDelegate {
 public:
  CellDelegate(const ChannelDocument& document, const ListTableModel& model, QObject* parent)
      : QStyledItemDelegate(parent), document_(document), model_(model) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QModelIndex source = SourceIndex(index);
    if (model_.Column(source.column()).kind != CellKind::kChoice) {
      return QStyledItemDelegate::createEditor(parent, option, index);
    }
    auto* combo = new QComboBox(parent);
    for (const std::string& choice : CellChoices(document_.list(), model_.table(), model_.IdAt(source.row()),
                                                 model_.Column(source.column()).field)) {
      combo->addItem(QString::fromLatin1(choice.data(), static_cast<qsizetype>(choice.size())));
    }
    return combo;
  }
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    auto* combo = qobject_cast<QComboBox*>(editor);
    if (combo == nullptr) return QStyledItemDelegate::setEditorData(editor, index);
    const QString now = index.data(Qt::EditRole).toString();
    int found = combo->findText(now);
    for (int i = 0; found < 0 && i < combo->count(); ++i) {
      if (combo->itemText(i).endsWith(" " + now)) found = i;
    }
    combo->setCurrentIndex(std::max(found, 0));
  }
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
    auto* combo = qobject_cast<QComboBox*>(editor);
    if (combo == nullptr) return QStyledItemDelegate::setModelData(editor, model, index);
    model->setData(index, combo->currentText(), Qt::EditRole);
  }

 private:
  QModelIndex SourceIndex(const QModelIndex& index) const {
    const auto* proxy = qobject_cast<const QSortFilterProxyModel*>(index.model());
    return proxy != nullptr ? proxy->mapToSource(index) : index;
  }
  const ChannelDocument& document_;
  const ListTableModel& model_;
};

bool IsImageFile(const QString& path) { return QFileInfo(path).size() == DatabaseImage::kSize; }

}  // namespace

ChannelsWindow::ChannelsWindow(FactoryText& factoryText, const LinkTimings& timings, common::DeviceRoots deviceRoots)
    : OperationBoxes(static_cast<QWidget&>(*this)),
      factoryText_(factoryText),
      timings_(timings),
      deviceRoots_(std::move(deviceRoots)),
      progress_(*this, *this, port_, timings_, deviceRoots_),
      recorder_(common::qt::EnvironmentHistory(), [this](const std::string& line) { PostHistoryWarning(line); }),
      // The editor's reads and writes are recorded as TORVIX's window records its own.
      context_{values_, *this, progress_, torvix::app::kProgramName, false,
               {&recorder_, kHistoryProgram, common::kBuildVersion, std::nullopt}} {
  uploader_ = history_server::StartUploader(recorder_, common::qt::EnvironmentHistory(), common::kTorvixSettings,
                                            kHistoryProgram,
                                            [this](const std::string& line) { PostHistoryWarning(line); });
  setWindowIcon(QIcon(QStringLiteral(":/torvix-channels/torvix-channels.svg")));
  if (const std::optional<std::uint32_t> stored = torvix::app::ReadStoredPort()) {
    port_ = *stored;
    portKnown_ = true;
  }
  MakeTables();
  MakeActions();
  ListReset(kUntitled, {});
  resize(1200, 760);
}

void ChannelsWindow::PostHistoryWarning(const std::string& line) {
  calls_.Post([this, line] {
    statusBar()->showMessage(QString(kHistoryWarning).arg(QString::fromStdString(line)));
  });
}

ChannelsWindow::~ChannelsWindow() {
  // The widgets' own teardown moves the focus: this window hears no more of it.
  disconnect(focusWatch_);
}

void ChannelsWindow::MakeTables() {
  for (const Table table : kAllTables) {
    const int t = static_cast<int>(table);
    models_[t] = new ListTableModel(
        document_, table, [this](const QString& message) { Refused(message); },
        [this](Table edited) { CellEdited(edited); }, this);
    proxies_[t] = new ListSortProxy(*models_[t], document_, this);
    auto* view = new ListView([this, table](int row) { DropAt(table, row); });
    views_[t] = view;
    view->setModel(proxies_[t]);
    view->setItemDelegate(new CellDelegate(document_, *models_[t], view));
    view->setAccessibleName(kTableNames[t]);
    view->setObjectName(kTableNames[t]);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed);
    // Tab goes on to the next control: the arrows move between cells.
    view->setTabKeyNavigation(false);
    view->setDragEnabled(true);
    view->setAcceptDrops(true);
    view->setDragDropMode(QAbstractItemView::InternalMove);
    view->setDropIndicatorShown(true);
    view->setAlternatingRowColors(true);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    // A header sorts what is shown; the list keeps its order (Apply Sort Order).
    view->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    view->horizontalHeader()->setSortIndicatorClearable(true);
    // Column widths from the first rows: a long list opens at once.
    view->horizontalHeader()->setResizeContentsPrecision(50);
    view->setSortingEnabled(true);
  }
  connect(View(Table::kSatellites)->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { SatelliteChanged(); });
  connect(View(Table::kTransponders)->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
    if (scope_->currentIndex() == 2) ScopeChanged();
  });
  focusWatch_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    for (const Table table : kAllTables) {
      if (now == View(table)) active_ = table;
    }
  });

  auto* left = new QWidget;
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  auto* satellitesLabel = new QLabel(kSatellitesLabel);
  satellitesLabel->setBuddy(View(Table::kSatellites));
  leftLayout->addWidget(satellitesLabel);
  leftLayout->addWidget(View(Table::kSatellites));

  auto* top = new QWidget;
  auto* topLayout = new QVBoxLayout(top);
  topLayout->setContentsMargins(0, 0, 0, 0);
  auto* transpondersLabel = new QLabel(kTranspondersLabel);
  transpondersLabel->setBuddy(View(Table::kTransponders));
  topLayout->addWidget(transpondersLabel);
  topLayout->addWidget(View(Table::kTransponders));

  auto* services = new QWidget;
  auto* servicesLayout = new QVBoxLayout(services);
  auto* choices = new QHBoxLayout;
  auto* showLabel = new QLabel(kShowLabel);
  scope_ = new QComboBox;
  scope_->addItems({kShowAll, kShowSatellite, kShowTransponder});
  scope_->setAccessibleName(QStringLiteral("Show"));
  showLabel->setBuddy(scope_);
  auto* filterLabel = new QLabel(kFilterLabel);
  filter_ = new QLineEdit;
  filter_->setPlaceholderText(kFilterPlaceholder);
  filter_->setAccessibleName(QStringLiteral("Filter"));
  filter_->setClearButtonEnabled(true);
  filterLabel->setBuddy(filter_);
  choices->addWidget(showLabel);
  choices->addWidget(scope_);
  choices->addSpacing(16);
  choices->addWidget(filterLabel);
  choices->addWidget(filter_, 1);
  servicesLayout->addLayout(choices);
  servicesLayout->addWidget(View(Table::kServices));
  connect(scope_, &QComboBox::currentIndexChanged, this, [this] { ScopeChanged(); });
  connect(filter_, &QLineEdit::textChanged, this,
          [this](const QString& text) { Proxy(Table::kServices)->SetFilter(text); });

  tabs_ = new QTabWidget;
  tabs_->addTab(services, kServicesTab);
  tabs_->addTab(View(Table::kAntennas), kAntennasTab);

  auto* right = new QSplitter(Qt::Vertical);
  right->addWidget(top);
  right->addWidget(tabs_);
  right->setStretchFactor(0, 1);
  right->setStretchFactor(1, 2);
  auto* split = new QSplitter(Qt::Horizontal);
  split->addWidget(left);
  split->addWidget(right);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 3);
  split->setContentsMargins(6, 6, 6, 0);
  split->setSizes({330, 870});
  setCentralWidget(split);

  for (const Table table : kAllTables) {
    counters_[static_cast<int>(table)] = new QLabel;
    counters_[static_cast<int>(table)]->setContentsMargins(8, 0, 8, 0);
    statusBar()->addPermanentWidget(counters_[static_cast<int>(table)]);
  }
}

void ChannelsWindow::MakeActions() {
  const auto add = [this](QMenu* menu, const char* text, auto slot, QList<QKeySequence> keys = {}) {
    auto* action = menu->addAction(QString::fromUtf8(text));
    action->setShortcuts(keys);
    connect(action, &QAction::triggered, this, slot);
    return action;
  };
  QMenu* file = menuBar()->addMenu(kFileMenu);
  QAction* newList = add(file, kNew, [this] { OnNew(); }, {QKeySequence::New});
  QAction* open = add(file, kOpen, [this] { OnOpen(); }, {QKeySequence::Open});
  QAction* save = add(file, kSave, [this] { Save(); }, {QKeySequence::Save});
  add(file, kSaveAs, [this] { SaveAs(); }, {QKeySequence::SaveAs});
  file->addSeparator();
  add(file, kCompareWith, [this] { OnCompare(); });
  file->addSeparator();
  add(file, kQuit, [this] { close(); }, {QKeySequence::Quit});

  QMenu* edit = menuBar()->addMenu(kEditMenu);
  undo_ = add(edit, kUndo,
              [this] {
                document_.Undo();
                Changed();
              },
              {QKeySequence::Undo});
  redo_ = add(edit, kRedo,
              [this] {
                document_.Redo();
                Changed();
              },
              {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
  edit->addSeparator();
  add(edit, kInsert, [this] { OnInsert(); }, {QKeySequence(Qt::Key_Insert)});
  QAction* remove = add(edit, kDelete, [this] { OnDelete(); }, {QKeySequence::Delete});
  QAction* up = add(edit, kMoveUp, [this] { OnMove(-1); }, {QKeySequence(Qt::CTRL | Qt::Key_Up)});
  QAction* down = add(edit, kMoveDown, [this] { OnMove(1); }, {QKeySequence(Qt::CTRL | Qt::Key_Down)});
  add(edit, kMoveTo, [this] { OnMoveTo(); });
  add(edit, kApplySort, [this] { OnApplySort(); });
  edit->addSeparator();
  QAction* duplicates = add(edit, kFindDuplicates, [this] { OnFindDuplicates(); });
  add(edit, kFind,
      [this] {
        tabs_->setCurrentIndex(0);
        filter_->setFocus(Qt::ShortcutFocusReason);
        filter_->selectAll();
      },
      {QKeySequence::Find});

  QMenu* view = menuBar()->addMenu(kViewMenu);
  add(view, kListOrder, [this] { OnListOrder(); });

  QMenu* receiver = menuBar()->addMenu(kReceiverMenu);
  QAction* read = add(receiver, kReadFromReceiver, [this] { OnReadFromReceiver(); });
  QAction* write = add(receiver, kWriteToReceiver, [this] { OnWriteToReceiver(); });
  receiver->addSeparator();
  add(receiver, kPortSetting, [this] {
    if (torvix::app::ChooseAndStorePort(this, port_, deviceRoots_)) portKnown_ = true;
  });

  QMenu* help = menuBar()->addMenu(kHelpMenu);
  add(help, kAbout, [this] { OnAbout(); });

  QToolBar* tools = addToolBar(QStringLiteral("Tools"));
  tools->setObjectName(QStringLiteral("tools"));
  tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
  tools->addActions({newList, open, save});
  tools->addSeparator();
  tools->addActions({remove, up, down, duplicates});
  tools->addSeparator();
  tools->addActions({read, write});
}

bool ChannelsWindow::Open(const QString& path) {
  OpenResult opened = OpenListFile(QFile::encodeName(path).toStdString());
  if (opened.status != OpenResult::Status::kOk || !opened.list) {
    ShowBox(this, kEditorName, QString(kOpenFailed).arg(path, Local(opened.message)).toStdString(),
            QMessageBox::Warning);
    return false;
  }
  document_.Reset(std::move(*opened.list));
  // An image is saved as a text, under a name of the user's choice.
  ListReset(QFileInfo(path).fileName(), IsImageFile(path) ? QString() : path);
  if (!opened.notes.empty()) {
    QStringList notes;
    for (const std::string& note : opened.notes) notes << Local(note);
    ShowBox(this, kEditorName, QString(kOpenNotes).arg(notes.join('\n')).toStdString(), QMessageBox::Information);
  }
  return true;
}

void ChannelsWindow::ListReset(const QString& name, const QString& path) {
  name_ = name;
  path_ = path;
  tabs_->setTabVisible(1, document_.list().layout() == Layout::kKvrs);
  for (const Table table : kAllTables) View(table)->sortByColumn(-1, Qt::AscendingOrder);
  Changed(Shown{});
  for (const Table table : kAllTables) {
    View(table)->resizeColumnsToContents();
    if (Proxy(table)->rowCount() > 0 && !View(table)->currentIndex().isValid()) {
      View(table)->setCurrentIndex(Proxy(table)->index(0, 0));
    }
  }
  View(Table::kServices)->setFocus();
}

std::vector<ItemId> ChannelsWindow::Selected(Table table) const {
  const QModelIndexList rows = View(table)->selectionModel()->selectedRows();
  std::unordered_set<ItemId> chosen;
  for (const QModelIndex& index : rows) chosen.insert(Proxy(table)->IdAt(index.row()));
  std::vector<ItemId> ids;
  for (const ItemId id : TableOrder(document_.list(), table, Model(table)->satellite())) {
    if (chosen.count(id) != 0) ids.push_back(id);
  }
  return ids;
}

ItemId ChannelsWindow::Current(Table table) const {
  const QModelIndex index = View(table)->currentIndex();
  return index.isValid() ? Proxy(table)->IdAt(index.row()) : kNoItem;
}

ItemId ChannelsWindow::CurrentSatellite() const { return Current(Table::kSatellites); }
ItemId ChannelsWindow::CurrentTransponder() const { return Current(Table::kTransponders); }

ChannelsWindow::Shown ChannelsWindow::Remember() const {
  Shown shown;
  for (const Table table : kAllTables) {
    const int t = static_cast<int>(table);
    shown.selected[t] = Selected(table);
    shown.current[t] = Current(table);
    shown.row[t] = std::max(View(table)->currentIndex().row(), 0);
    shown.column[t] = std::max(View(table)->currentIndex().column(), 0);
  }
  return shown;
}

void ChannelsWindow::Changed() { Changed(Remember()); }

void ChannelsWindow::Changed(const Shown& shown) {
  refreshing_ = true;
  Model(Table::kSatellites)->Refresh();
  Restore(Table::kSatellites, shown);
  refreshing_ = false;
  SatelliteChanged();
  Restore(Table::kTransponders, shown);
  refreshing_ = true;
  const ListTableModel::Scope scope = static_cast<ListTableModel::Scope>(scope_->currentIndex());
  Model(Table::kServices)->ShowOf(CurrentSatellite(), CurrentTransponder(), scope);
  Model(Table::kServices)->Refresh();
  Restore(Table::kServices, shown);
  Model(Table::kAntennas)->Refresh();
  Restore(Table::kAntennas, shown);
  refreshing_ = false;
  UpdateState();
}

void ChannelsWindow::Restore(Table table, const Shown& shown) {
  const int t = static_cast<int>(table);
  ItemId current = shown.current[t];
  if (Proxy(table)->RowOf(current) < 0) {
    // The current record went: the row where it stood, or the last.
    const int rows = Proxy(table)->rowCount();
    current = rows > 0 ? Proxy(table)->IdAt(std::min(shown.row[t], rows - 1)) : kNoItem;
  }
  Select(table, shown.selected[t], current, shown.column[t]);
}

void ChannelsWindow::Select(Table table, const std::vector<ItemId>& ids, ItemId current, int column) {
  QTableView* view = View(table);
  ListSortProxy* proxy = Proxy(table);
  std::vector<int> rows;
  for (const ItemId id : ids) {
    const int row = proxy->RowOf(id);
    if (row >= 0) rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  QItemSelection selection;
  const int last = proxy->columnCount() - 1;
  for (std::size_t i = 0; i < rows.size();) {
    std::size_t j = i;
    while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1) ++j;
    selection.select(proxy->index(rows[i], 0), proxy->index(rows[j], last));
    i = j + 1;
  }
  const int currentRow = proxy->RowOf(current);
  if (currentRow >= 0) {
    view->selectionModel()->setCurrentIndex(proxy->index(currentRow, std::min(column, last)),
                                            QItemSelectionModel::NoUpdate);
    if (rows.empty()) selection.select(proxy->index(currentRow, 0), proxy->index(currentRow, last));
  }
  view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void ChannelsWindow::SatelliteChanged() {
  if (refreshing_) return;
  refreshing_ = true;
  const Shown shown = Remember();
  Model(Table::kTransponders)->ShowOf(CurrentSatellite(), kNoItem, ListTableModel::Scope::kAll);
  Model(Table::kTransponders)->Refresh();
  Restore(Table::kTransponders, shown);
  refreshing_ = false;
  if (scope_->currentIndex() != 0) ScopeChanged();
}

void ChannelsWindow::ScopeChanged() {
  if (refreshing_) return;
  refreshing_ = true;
  const Shown shown = Remember();
  const ListTableModel::Scope scope = static_cast<ListTableModel::Scope>(scope_->currentIndex());
  Model(Table::kServices)->ShowOf(CurrentSatellite(), CurrentTransponder(), scope);
  Model(Table::kServices)->Refresh();
  Restore(Table::kServices, shown);
  refreshing_ = false;
}

void ChannelsWindow::CellEdited(Table edited) {
  if (edited != Table::kServices) {
    for (const Table table : kAllTables) {
      if (table != edited) Model(table)->TextsChanged();
    }
  }
  statusBar()->clearMessage();
  UpdateState();
}

void ChannelsWindow::UpdateState() {
  const bool modified = document_.modified();
  setWindowTitle(QString(kTitle).arg(modified ? QStringLiteral("*") : QString(), name_));
  undo_->setEnabled(document_.CanUndo());
  undo_->setText(document_.CanUndo() ? QString(kUndoNamed).arg(Plain(document_.UndoText())) : QString(kUndo));
  redo_->setEnabled(document_.CanRedo());
  redo_->setText(document_.CanRedo() ? QString(kRedoNamed).arg(Plain(document_.RedoText())) : QString(kRedo));
  const ChannelList& list = document_.list();
  for (const Table table : kAllTables) {
    const int t = static_cast<int>(table);
    counters_[t]->setText(QString(kCounter).arg(kTableNames[t]).arg(list.Count(table)).arg(list.Room(table)));
    counters_[t]->setVisible(list.Room(table) > 0);
  }
}

void ChannelsWindow::Refused(const QString& message) { statusBar()->showMessage(message); }

void ChannelsWindow::Result(const EditResult& result) {
  if (!result) {
    Refused(Local(result.message));
    return;
  }
  statusBar()->clearMessage();
  Changed();
}

bool ChannelsWindow::MaySetAside() {
  if (!document_.modified()) return true;
  QMessageBox box(QMessageBox::Question, kEditorName, QString(kSaveQuestion).arg(name_),
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
  box.setDefaultButton(QMessageBox::Save);
  switch (box.exec()) {
    case QMessageBox::Save:
      return Save();
    case QMessageBox::Discard:
      return true;
    default:
      return false;
  }
}

bool ChannelsWindow::Save() {
  if (path_.isEmpty()) return SaveAs();
  const std::string error = SaveListFile(document_.list(), QFile::encodeName(path_).toStdString());
  if (!error.empty()) {
    ShowBox(this, kEditorName, QString(kSaveFailed).arg(path_, Local(error)).toStdString(), QMessageBox::Warning);
    return false;
  }
  document_.MarkSaved();
  UpdateState();
  statusBar()->showMessage(QString(kSaved).arg(path_));
  return true;
}

bool ChannelsWindow::SaveAs() {
  const QString proposed = path_.isEmpty() ? QString(torvix::app::kFactoryFileName) : path_;
  const QString path = ChooseFile(QString::fromUtf8(kSaveAs).remove('&'), kSaveFilters, true, proposed);
  if (path.isEmpty()) return false;
  path_ = path;
  name_ = QFileInfo(path).fileName();
  return Save();
}

QString ChannelsWindow::ChooseFile(const QString& caption, const char* filters, bool toWrite, const QString& proposed) {
  // Qt's own dialog on every desktop, as TORVIX's window has it.
  QFileDialog dialog(this, caption);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(toWrite ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setAcceptMode(toWrite ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setNameFilter(QString::fromLatin1(filters));
  if (!proposed.isEmpty()) dialog.selectFile(proposed);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

void ChannelsWindow::closeEvent(QCloseEvent* event) {
  if (MaySetAside()) {
    event->accept();
  } else {
    event->ignore();
  }
}

void ChannelsWindow::OnNew() {
  if (!MaySetAside()) return;
  QMessageBox box(QMessageBox::Question, kNewCaption, kNewQuestion, QMessageBox::Cancel, this);
  QPushButton* basic = box.addButton(kBasicButton, QMessageBox::AcceptRole);
  QPushButton* kvrs = box.addButton(kKvrsButton, QMessageBox::AcceptRole);
  box.setDefaultButton(basic);
  box.exec();
  if (box.clickedButton() != basic && box.clickedButton() != kvrs) return;
  document_.Reset(ChannelList(box.clickedButton() == kvrs ? Layout::kKvrs : Layout::kBasic));
  ListReset(kUntitled, {});
}

void ChannelsWindow::OnOpen() {
  if (!MaySetAside()) return;
  const QString path =
      ChooseFile(QString::fromUtf8(kOpen).remove('&').remove(QChar(0x2026)), kOpenFilters, false, path_);
  if (!path.isEmpty()) Open(path);
}

void ChannelsWindow::OnCompare() {
  const QString path =
      ChooseFile(QString::fromUtf8(kCompareWith).remove('&').remove(QChar(0x2026)), kOpenFilters, false, {});
  if (path.isEmpty()) return;
  OpenResult other = OpenListFile(QFile::encodeName(path).toStdString());
  if (other.status != OpenResult::Status::kOk || !other.list) {
    ShowBox(this, kEditorName, QString(kOpenFailed).arg(path, Local(other.message)).toStdString(),
            QMessageBox::Warning);
    return;
  }
  const std::vector<Difference> differences = Diff(document_.list(), *other.list);
  const QString name = QFileInfo(path).fileName();
  if (differences.empty()) {
    ShowBox(this, QString(kCompareCaption).arg(name).toStdString(), kNoDifferences, QMessageBox::Information);
    return;
  }
  QStringList lines;
  for (const Difference& difference : differences) {
    QStringList parts;
    for (const std::string& line : DiffLines({difference})) parts << Local(line);
    lines << parts.join('\n');
  }
  PickListDialog dialog(this, QString(kCompareCaption).arg(name),
                        QString(kDifferencesFound).arg(differences.size()).arg(name), kDifferences, lines, false,
                        kCopyDifferences);
  if (dialog.exec() != QDialog::Accepted) return;
  std::vector<Difference> chosen;
  for (const int row : dialog.Checked()) chosen.push_back(differences[static_cast<std::size_t>(row)]);
  if (chosen.empty()) return;
  Result(document_.ReplaceList(ApplyDifferences(document_.list(), *other.list, chosen),
                               QString(kCopyDifferencesStep).arg(chosen.size()).arg(name).toStdString()));
}

void ChannelsWindow::OnInsert() {
  const Table table = ActiveTable();
  const ChannelList& list = document_.list();
  ItemId parent = kNoItem;
  if (table == Table::kTransponders) {
    parent = CurrentSatellite();
  } else if (table == Table::kServices) {
    parent = CurrentTransponder();
    if (const Service* service = list.FindService(Current(Table::kServices)); parent == kNoItem && service) {
      parent = service->transponder;
    }
  }
  const std::vector<ItemId> order = TableOrder(list, table, Model(table)->satellite());
  const auto at = std::find(order.begin(), order.end(), Current(table));
  const int position = at == order.end() ? static_cast<int>(order.size()) : static_cast<int>(at - order.begin()) + 1;
  ItemId created = kNoItem;
  const EditResult result = document_.Insert(table, position, parent, &created);
  Result(result);
  if (result) Select(table, {created}, created, 0);
}

void ChannelsWindow::OnDelete() {
  const Table table = ActiveTable();
  const std::vector<ItemId> ids = Selected(table);
  if (ids.empty()) return;
  bool withServices = false;
  if (const int using_ = document_.ServicesUsing(table, ids); using_ > 0) {
    const QString what = table == Table::kSatellites ? QStringLiteral("satellites") : QStringLiteral("transponders");
    const QString question = QString(kDeleteWithServices).arg(using_).arg(what);
    if (ShowBox(this, kEditorName, question.toStdString(), QMessageBox::Question,
                QMessageBox::Yes | QMessageBox::Cancel) != QMessageBox::Yes) {
      return;
    }
    withServices = true;
  }
  Result(document_.Delete(table, ids, withServices));
}

void ChannelsWindow::OnMove(int delta) {
  const Table table = ActiveTable();
  const std::vector<ItemId> ids = Selected(table);
  if (ids.empty()) return;
  // A move is seen in the list's order.
  View(table)->sortByColumn(-1, Qt::AscendingOrder);
  Result(document_.Move(table, ids, delta));
}

void ChannelsWindow::OnMoveTo() {
  const Table table = ActiveTable();
  const std::vector<ItemId> ids = Selected(table);
  if (ids.empty()) return;
  const int room =
      static_cast<int>(TableOrder(document_.list(), table, Model(table)->satellite()).size() - ids.size()) + 1;
  bool ok = false;
  const int position = QInputDialog::getInt(this, kMoveToCaption, QString(kMoveToLabel).arg(room), 1, 1, room, 1, &ok);
  if (!ok) return;
  View(table)->sortByColumn(-1, Qt::AscendingOrder);
  Result(document_.MoveTo(table, ids, position - 1));
}

void ChannelsWindow::DropAt(Table table, int row) {
  const std::vector<ItemId> ids = Selected(table);
  if (ids.empty()) return;
  const std::unordered_set<ItemId> moved(ids.begin(), ids.end());
  std::vector<ItemId> rest;
  for (const ItemId id : TableOrder(document_.list(), table, Model(table)->satellite())) {
    if (moved.count(id) == 0) rest.push_back(id);
  }
  ListSortProxy* proxy = Proxy(table);
  // Before the first record shown at or below the drop that is not moved;
  // after the last record shown when there is none.
  int position = -1;
  for (int r = row; r < proxy->rowCount() && position < 0; ++r) {
    const auto at = std::find(rest.begin(), rest.end(), proxy->IdAt(r));
    if (at != rest.end()) position = static_cast<int>(at - rest.begin());
  }
  for (int r = std::min(row, proxy->rowCount()) - 1; r >= 0 && position < 0; --r) {
    const auto at = std::find(rest.begin(), rest.end(), proxy->IdAt(r));
    if (at != rest.end()) position = static_cast<int>(at - rest.begin()) + 1;
  }
  if (position < 0) return;
  Result(document_.MoveTo(table, ids, position));
}

void ChannelsWindow::OnApplySort() {
  const Table table = ActiveTable();
  const int column = View(table)->horizontalHeader()->sortIndicatorSection();
  if (column < 0 || column >= Model(table)->columnCount()) {
    Refused(kSortFirst);
    return;
  }
  const Qt::SortOrder order = View(table)->horizontalHeader()->sortIndicatorOrder();
  const ColumnInfo& info = Model(table)->Column(column);
  const ChannelList& list = document_.list();
  std::vector<ItemId> ids = TableOrder(list, table, Model(table)->satellite());
  std::stable_sort(ids.begin(), ids.end(), [&](ItemId a, ItemId b) {
    const int compared = CompareCells(list, table, info, a, b);
    return order == Qt::AscendingOrder ? compared < 0 : compared > 0;
  });
  const EditResult result = document_.Reorder(table, ids);
  if (result) View(table)->sortByColumn(-1, Qt::AscendingOrder);
  Result(result);
  if (result) statusBar()->showMessage(kSortApplied);
}

void ChannelsWindow::OnListOrder() { View(ActiveTable())->sortByColumn(-1, Qt::AscendingOrder); }

void ChannelsWindow::OnFindDuplicates() {
  const std::vector<DuplicateGroup> groups = FindDuplicates(document_.list());
  if (groups.empty()) {
    ShowBox(this, kDuplicatesCaption, kNoDuplicates, QMessageBox::Information);
    return;
  }
  QStringList lines;
  std::size_t extra = 0;
  for (const DuplicateGroup& group : groups) {
    lines << Local(group.reason);
    extra += group.extra.size();
  }
  PickListDialog dialog(this, kDuplicatesCaption, QString(kDuplicatesFound).arg(extra), kDuplicates, lines, true,
                        kRemoveDuplicates);
  if (dialog.exec() != QDialog::Accepted) return;
  std::vector<DuplicateGroup> chosen;
  std::size_t removed = 0;
  for (const int row : dialog.Checked()) {
    chosen.push_back(groups[static_cast<std::size_t>(row)]);
    removed += chosen.back().extra.size();
  }
  if (chosen.empty()) return;
  Result(document_.ReplaceList(WithoutDuplicates(document_.list(), chosen),
                               QString(kRemoveDuplicatesStep).arg(removed).toStdString()));
}

bool ChannelsWindow::EnsurePort() {
  if (!portKnown_) portKnown_ = torvix::app::ChooseAndStorePort(this, port_, deviceRoots_);
  return portKnown_;
}

void ChannelsWindow::OnReadFromReceiver() {
  if (!MaySetAside() || !EnsurePort()) return;
  // The receiver's text goes through a file of our own, as TORVIX writes one.
  QTemporaryDir folder;
  if (!folder.isValid()) {
    ShowWarning(folder.errorString().toStdString(), torvix::app::kProgramName);
    return;
  }
  const std::string path = QFile::encodeName(folder.filePath(torvix::app::kFactoryFileName)).toStdString();
  std::string detail;
  const OperationResult result = ReadUserData(context_, factoryText_, path, detail);
  if (result == OperationResult::kFileError) ShowWarning(detail, torvix::app::kProgramName);
  if (result != OperationResult::kDone) return;
  OpenResult opened = OpenListFile(path);
  if (opened.status != OpenResult::Status::kOk || !opened.list) {
    ShowWarning(opened.message, torvix::app::kProgramName);
    return;
  }
  document_.Reset(std::move(*opened.list));
  ListReset(kFromReceiver, {});
  statusBar()->showMessage(kReceiverListRead);
}

void ChannelsWindow::OnWriteToReceiver() {
  if (!EnsurePort()) return;
  // The text of the list this editor holds, which Write Factory Data
  // compiles (and so checks whole) before anything is sent.
  QTemporaryDir folder;
  if (!folder.isValid()) {
    ShowWarning(folder.errorString().toStdString(), torvix::app::kProgramName);
    return;
  }
  const std::string path = QFile::encodeName(folder.filePath(torvix::app::kFactoryFileName)).toStdString();
  if (const std::string error = SaveListFile(document_.list(), path); !error.empty()) {
    ShowWarning(path + ": " + error, torvix::app::kProgramName);
    return;
  }
  // The reader stores a text over what the image holds (names keep the
  // bytes after their end): from the list's own image it gives exactly the
  // image the list compiles to.
  const DatabaseImage compiled = document_.list().Compile();
  std::memcpy(factoryText_.Image(), compiled.Data(), DatabaseImage::kSize);
  std::string detail;
  if (WriteFactoryData(context_, factoryText_, path, detail) == OperationResult::kFileError) {
    ShowWarning(detail, torvix::app::kProgramName);
  }
}

void ChannelsWindow::OnAbout() {
  QMessageBox::about(this, kEditorName, QString(kEditorAbout).arg(common::kBuildVersion));
}

}  // namespace torvix::channels::app
