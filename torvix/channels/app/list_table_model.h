// The editor's tables as Qt models over one ChannelDocument: which records a
// table shows (all, or those of the chosen satellite or transponder), every
// cell through list_fields, an edit through ChannelDocument::SetCell.  Sorting
// and the filter are shown only (ListSortProxy); the list's order changes
// only through the document.  User-interface thread.
#pragma once

#include <functional>
#include <span>
#include <vector>

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QString>

#include "torvix/channels/channel_document.h"
#include "torvix/channels/list_fields.h"

namespace torvix::channels::app {

// The records of `table` in list order; for transponders those of `satellite`.
std::vector<ItemId> TableOrder(const ChannelList& list, Table table, ItemId satellite);

// How a sort by a column orders two records: numbers by value, other texts
// alphabetically; negative, zero or positive.
int CompareCells(const ChannelList& list, Table table, const ColumnInfo& column, ItemId a, ItemId b);

class ListTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // What the services table shows.
  enum class Scope { kAll, kSatellite, kTransponder };

  // `refused` receives the message of an edit the document refused,
  // `edited` is called after one it made (this table's row is shown again
  // already).  The document outlives the model.
  ListTableModel(ChannelDocument& document, Table table, std::function<void(const QString&)> refused,
                 std::function<void(Table)> edited, QObject* parent = nullptr);

  Table table() const { return table_; }
  // The rows shown: for transponders those of `satellite`; for services
  // those of `scope` (the satellite's or the transponder's).  Takes effect at
  // the next Refresh().
  void ShowOf(ItemId satellite, ItemId transponder, Scope scope);
  // After the document changed: the rows and columns again.
  void Refresh();
  // After a cell changed somewhere: the same rows, every text again.
  void TextsChanged();

  ItemId IdAt(int row) const { return rows_[static_cast<std::size_t>(row)]; }
  int RowOf(ItemId id) const;
  const ColumnInfo& Column(int column) const { return columns_[static_cast<std::size_t>(column)]; }
  ItemId satellite() const { return satellite_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }

 private:
  ChannelDocument& document_;
  const Table table_;
  std::function<void(const QString&)> refused_;
  std::function<void(Table)> edited_;
  std::span<const ColumnInfo> columns_;
  std::vector<ItemId> rows_;
  ItemId satellite_ = kNoItem;
  ItemId transponder_ = kNoItem;
  Scope scope_ = Scope::kAll;
};

// Sorting by a column header and the filter of the services table (name,
// service id or a PID), for the eyes only.
class ListSortProxy : public QSortFilterProxyModel {
  Q_OBJECT
 public:
  ListSortProxy(ListTableModel& source, const ChannelDocument& document, QObject* parent = nullptr);
  void SetFilter(const QString& text);
  ItemId IdAt(int row) const;
  int RowOf(ItemId id) const;
  // Sorts with the column's texts taken once, not at every comparison.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

 protected:
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  struct Key {
    QString text;
    double number = 0;
    bool isNumber = false;
  };
  ListTableModel& source_;
  const ChannelDocument& document_;
  QString filter_;
  std::vector<Key> keys_;  // per source row while sorting; empty otherwise
};

}  // namespace torvix::channels::app
