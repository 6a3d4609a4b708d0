#include "torvix/channels/app/list_table_model.h"

#include <algorithm>

namespace torvix::channels::app {
namespace {

// The list's texts are the receiver's 8-bit characters.
QString Shown(const std::string& text) { return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

std::vector<ItemId> TableOrder(const ChannelList& list, Table table, ItemId satellite) {
  std::vector<ItemId> ids;
  switch (table) {
    case Table::kSatellites:
      for (const Satellite& s : list.satellites()) ids.push_back(s.id);
      break;
    case Table::kTransponders:
      for (const Transponder* t : list.TranspondersOf(satellite)) ids.push_back(t->id);
      break;
    case Table::kServices:
      for (const Service& s : list.services()) ids.push_back(s.id);
      break;
    case Table::kAntennas:
      for (const Antenna& a : list.antennas()) ids.push_back(a.id);
      break;
  }
  return ids;
}

int CompareCells(const ChannelList& list, Table table, const ColumnInfo& column, ItemId a, ItemId b) {
  const QString left = Shown(CellText(list, table, a, column.field));
  const QString right = Shown(CellText(list, table, b, column.field));
  if (column.kind == CellKind::kNumber || column.kind == CellKind::kCheck) {
    bool leftNumber = false;
    bool rightNumber = false;
    const double l = left.toDouble(&leftNumber);
    const double r = right.toDouble(&rightNumber);
    if (leftNumber && rightNumber) return l < r ? -1 : (r < l ? 1 : 0);
  }
  return left.localeAwareCompare(right);
}

ListTableModel::ListTableModel(ChannelDocument& document, Table table, std::function<void(const QString&)> refused,
                               std::function<void(Table)> edited, QObject* parent)
    : QAbstractTableModel(parent),
      document_(document),
      table_(table),
      refused_(std::move(refused)),
      edited_(std::move(edited)) {
  Refresh();
}

void ListTableModel::ShowOf(ItemId satellite, ItemId transponder, Scope scope) {
  satellite_ = satellite;
  transponder_ = transponder;
  scope_ = scope;
}

void ListTableModel::Refresh() {
  beginResetModel();
  const ChannelList& list = document_.list();
  columns_ = Columns(table_, list.layout());
  rows_.clear();
  if (table_ != Table::kServices || scope_ == Scope::kAll) {
    rows_ = TableOrder(list, table_, satellite_);
  } else {
    for (const Service& service : list.services()) {
      const Transponder* transponder = list.FindTransponder(service.transponder);
      const bool shown = scope_ == Scope::kTransponder ? service.transponder == transponder_
                                                       : transponder != nullptr && transponder->satellite == satellite_;
      if (shown) rows_.push_back(service.id);
    }
  }
  endResetModel();
}

void ListTableModel::TextsChanged() {
  if (rows_.empty() || columns_.empty()) return;
  emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

int ListTableModel::RowOf(ItemId id) const {
  const auto found = std::find(rows_.begin(), rows_.end(), id);
  return found == rows_.end() ? -1 : static_cast<int>(found - rows_.begin());
}

int ListTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ListTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant ListTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const ColumnInfo& column = Column(index.column());
  const ItemId id = IdAt(index.row());
  const auto text = [&] { return Shown(CellText(document_.list(), table_, id, column.field)); };
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::AccessibleTextRole:
      if (column.kind == CellKind::kCheck && role == Qt::DisplayRole) return {};
      return text();
    case Qt::CheckStateRole:
      if (column.kind != CellKind::kCheck) return {};
      return text() == QLatin1String("1") ? Qt::Checked : Qt::Unchecked;
    case Qt::TextAlignmentRole:
      if (column.kind == CellKind::kNumber) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
      return {};
    default:
      return {};
  }
}

QVariant ListTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  if (section < 0 || section >= columnCount()) return {};
  const std::string_view title = Column(section).title;
  return QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
}

Qt::ItemFlags ListTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::ItemIsDropEnabled;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
  switch (Column(index.column()).kind) {
    case CellKind::kCheck:
      return flags | Qt::ItemIsUserCheckable;
    case CellKind::kReadOnly:
      return flags;
    default:
      return flags | Qt::ItemIsEditable;
  }
}

bool ListTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid()) return false;
  const ColumnInfo& column = Column(index.column());
  QString text;
  if (role == Qt::CheckStateRole && column.kind == CellKind::kCheck) {
    text = value.toInt() == Qt::Checked ? QStringLiteral("1") : QStringLiteral("0");
  } else if (role == Qt::EditRole && column.kind != CellKind::kCheck) {
    text = value.toString();
  } else {
    return false;
  }
  const ItemId id = IdAt(index.row());
  if (text == Shown(CellText(document_.list(), table_, id, column.field))) return true;  // nothing to change
  if (std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0xFF; })) {
    refused_(tr("\"%1\" has characters that a factory-data text cannot hold.").arg(text));
    return false;
  }
  const QByteArray bytes = text.toLatin1();
  const EditResult result = document_.SetCell(table_, id, column.field, std::string_view(bytes.data(), bytes.size()));
  if (!result) {
    refused_(QString::fromStdString(result.message));
    return false;
  }
  emit dataChanged(this->index(index.row(), 0), this->index(index.row(), columnCount() - 1));
  edited_(table_);
  return true;
}

ListSortProxy::ListSortProxy(ListTableModel& source, const ChannelDocument& document, QObject* parent)
    : QSortFilterProxyModel(parent), source_(source), document_(document) {
  setSourceModel(&source);
}

void ListSortProxy::sort(int column, Qt::SortOrder order) {
  if (column >= 0 && column < source_.columnCount()) {
    const ColumnInfo& info = source_.Column(column);
    const bool numbers = info.kind == CellKind::kNumber || info.kind == CellKind::kCheck;
    keys_.resize(static_cast<std::size_t>(source_.rowCount()));
    for (int row = 0; row < source_.rowCount(); ++row) {
      Key& key = keys_[static_cast<std::size_t>(row)];
      key.text = Shown(CellText(document_.list(), source_.table(), source_.IdAt(row), info.field));
      key.number = numbers ? key.text.toDouble(&key.isNumber) : 0;
    }
  }
  QSortFilterProxyModel::sort(column, order);
  keys_.clear();
}

void ListSortProxy::SetFilter(const QString& text) {
  filter_ = text.trimmed();
  invalidateFilter();
}

ItemId ListSortProxy::IdAt(int row) const { return source_.IdAt(mapToSource(index(row, 0)).row()); }

int ListSortProxy::RowOf(ItemId id) const {
  const int row = source_.RowOf(id);
  return row < 0 ? -1 : mapFromSource(source_.index(row, 0)).row();
}

bool ListSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  if (!keys_.empty()) {
    const Key& l = keys_[static_cast<std::size_t>(left.row())];
    const Key& r = keys_[static_cast<std::size_t>(right.row())];
    if (l.isNumber && r.isNumber) return l.number < r.number;
    return l.text.localeAwareCompare(r.text) < 0;
  }
  return CompareCells(document_.list(), source_.table(), source_.Column(left.column()), source_.IdAt(left.row()),
                      source_.IdAt(right.row())) < 0;
}

bool ListSortProxy::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
  if (filter_.isEmpty() || source_.table() != Table::kServices) return true;
  const ItemId id = source_.IdAt(sourceRow);
  const ChannelList& list = document_.list();
  for (const Field field : {Field::kServiceName, Field::kServiceId, Field::kVideoPid, Field::kAudioPid, Field::kPcrPid,
                            Field::kTeletextPid}) {
    const QString text = Shown(CellText(list, Table::kServices, id, field));
    // A name anywhere, a number from its first digit.
    if (field == Field::kServiceName ? text.contains(filter_, Qt::CaseInsensitive) : text.startsWith(filter_)) {
      return true;
    }
  }
  return false;
}

}  // namespace torvix::channels::app
