// "TORVIX Channel Editor", the channel editor's main window: the satellites
// on the left, the chosen satellite's transponders and the services (KVRS:
// also the antennas) on the right, each a table over the open
// ChannelDocument.  Every change goes through the document, one undoable
// step per action; the window only shows, asks and starts.  "Read from
// Receiver" and "Write to Receiver" are TORVIX's own operations, with its
// boxes, progress window and port setting.  User-interface thread.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <QMainWindow>

#include "common/history/history.h"
#include "common/history_server/uploader.h"
#include "common/qt/ui_calls.h"
#include "common/serial_ports.h"
#include "torvix/app/operation_boxes.h"
#include "torvix/app/progress_dialog.h"
#include "torvix/channels/app/list_table_model.h"
#include "torvix/channels/channel_document.h"
#include "torvix/ops/operations.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QTabWidget;
class QTableView;

namespace torvix::channels::app {

class ChannelsWindow : public QMainWindow, public torvix::app::OperationBoxes {
  Q_OBJECT
 public:
  // `factoryText` holds the image of the receiver operations, `timings` are
  // the link's limits; both outlive the window.  The serial devices offered
  // in the port setting lie under `deviceRoots` (the system's by default).
  ChannelsWindow(FactoryText& factoryText, const LinkTimings& timings, common::DeviceRoots deviceRoots = {});
  ~ChannelsWindow() override;

  // Opens a factory-data text or an image file; a box says why not.
  bool Open(const QString& path);
  const ChannelDocument& document() const { return document_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  static constexpr int kTables = 4;
  struct Shown {  // what the tables had selected, by identity
    std::array<std::vector<ItemId>, kTables> selected;
    std::array<ItemId, kTables> current{};
    std::array<int, kTables> row{};
    std::array<int, kTables> column{};
  };

  void MakeActions();
  void MakeTables();
  QTableView* View(Table table) const { return views_[static_cast<int>(table)]; }
  ListSortProxy* Proxy(Table table) const { return proxies_[static_cast<int>(table)]; }
  ListTableModel* Model(Table table) const { return models_[static_cast<int>(table)]; }
  Table ActiveTable() const { return active_; }
  // The selected rows' records of `table`, in list order.
  std::vector<ItemId> Selected(Table table) const;
  ItemId Current(Table table) const;
  ItemId CurrentSatellite() const;
  ItemId CurrentTransponder() const;

  // After a step of the document: every table again, the selections kept.
  void Changed();
  void Changed(const Shown& shown);
  Shown Remember() const;
  void Restore(Table table, const Shown& shown);
  void Select(Table table, const std::vector<ItemId>& ids, ItemId current, int column);
  // The transponders (and the services in a scope) of the current satellite.
  void SatelliteChanged();
  void ScopeChanged();
  // After one cell of `table` was edited: the same rows; the other tables'
  // texts again when they show that table's records (a satellite's name in
  // the services).
  void CellEdited(Table table);
  // A new or newly opened list.
  void ListReset(const QString& name, const QString& path);
  void UpdateState();
  void Refused(const QString& message);
  void Result(const EditResult& result);

  // Asks to save the changes first, when there are any; false for Cancel
  // (or a failed save).
  bool MaySetAside();
  bool Save();
  bool SaveAs();
  QString ChooseFile(const QString& caption, const char* filters, bool toWrite, const QString& proposed);
  bool EnsurePort();

  void OnNew();
  void OnOpen();
  void OnCompare();
  void OnInsert();
  void OnDelete();
  void OnMove(int delta);
  void OnMoveTo();
  void DropAt(Table table, int row);
  void OnApplySort();
  void OnListOrder();
  void OnFindDuplicates();
  void OnReadFromReceiver();
  void OnWriteToReceiver();
  void OnAbout();
  // The history cannot be written (or the shared database not reached): one
  // line in the status bar.  Any thread.
  void PostHistoryWarning(const std::string& line);

  FactoryText& factoryText_;
  const LinkTimings& timings_;
  const common::DeviceRoots deviceRoots_;
  std::uint32_t port_ = 0;
  bool portKnown_ = false;  // stored or chosen in this run
  ProgramValues values_;
  torvix::app::DialogProgress progress_;
  common::qt::UiCalls calls_;   // the history's warnings, from whichever thread they come
  history::Recorder recorder_;  // after calls_: it warns through them
  OperationContext context_;
  std::unique_ptr<history_server::Uploader> uploader_;  // the shared database's, when one is set

  ChannelDocument document_;
  QString name_;  // the title's name of the list
  QString path_;  // where Save writes; empty: Save asks

  std::array<ListTableModel*, kTables> models_{};
  std::array<ListSortProxy*, kTables> proxies_{};
  std::array<QTableView*, kTables> views_{};
  std::array<QLabel*, kTables> counters_{};
  Table active_ = Table::kServices;
  bool refreshing_ = false;
  QTabWidget* tabs_ = nullptr;
  QComboBox* scope_ = nullptr;
  QLineEdit* filter_ = nullptr;
  QAction* undo_ = nullptr;
  QAction* redo_ = nullptr;
  QMetaObject::Connection focusWatch_;  // which table the actions act on
};

}  // namespace torvix::channels::app
