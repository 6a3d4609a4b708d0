// The channel editor driven from the keyboard as a technician drives it: on a
// made-up realistic list, and against the receiver emulator on a
// pseudo-terminal that COM1 leads to.  Modal windows are answered by a
// ModalScript; nothing waits a fixed time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include "common/history/history.h"
#include "common/testing/test_support.h"
#include "emulator/link/served_receiver.h"
#include "torvix/app/port_store.h"
#include "torvix/app/tests/window_test_support.h"
#include "torvix/app/window_texts.h"
#include "torvix/channels/app/channels_window.h"
#include "torvix/channels/sample_lists.h"
#include "torvix/database/factory_text_reader.h"
#include "torvix/link/tests/job_harness.h"
#include "torvix/ops/database_factory_text.h"

namespace {

using namespace torvix;
using namespace torvix::channels;
using torvix::app::testing::BoxOf;
using Bytes = std::vector<std::uint8_t>;

Bytes ImageBytes(const DatabaseImage& image) { return Bytes(image.Data(), image.Data() + DatabaseImage::kSize); }

// The services table's column of `field`.
int ColumnOf(Field field, Layout layout) {
  const auto columns = Columns(Table::kServices, layout);
  const auto found =
      std::find_if(columns.begin(), columns.end(), [field](const ColumnInfo& c) { return c.field == field; });
  return found == columns.end() ? -1 : static_cast<int>(found - columns.begin());
}

class ChannelsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.Ok());
    timings_.limits = torvix::testing::ShortLimits();
    timings_.connectSuccessPause = std::chrono::milliseconds(0);
    ASSERT_TRUE(torvix::app::WriteStoredPort(1));
    window_ = std::make_unique<torvix::channels::app::ChannelsWindow>(factoryText_, timings_);
    window_->show();
    QApplication::setActiveWindow(window_.get());
  }
  void TearDown() override {
    EXPECT_TRUE(script_.unexpected.isEmpty()) << script_.unexpected.join("\n").toStdString();
    EXPECT_TRUE(script_.Done()) << "a window the test expected never came";
    // Closing asks nothing more: every test ends with its list saved or discarded.
    window_.reset();
  }

  QTableView* ViewNamed(const char* name) { return window_->findChild<QTableView*>(name); }
  // Types into the cell of the services table at `row` and `column` as F2 opens it.
  void TypeIntoCell(int row, int column, const QString& text) {
    QTableView* services = ViewNamed("Services");
    QApplication::setActiveWindow(window_.get());
    services->setFocus();
    services->setCurrentIndex(services->model()->index(row, column));
    QTest::keyClick(services, Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    // The view commits the editor's text from its event loop.
    QCoreApplication::processEvents();
  }
  QString MenuText(const QString& startsWith) {
    for (QAction* action : window_->menuBar()->findChildren<QAction*>()) {
      if (action->text().startsWith(startsWith)) return action->text();
    }
    return {};
  }
  const ChannelList& List() { return window_->document().list(); }

  common::testing::TempFolder scratch_{"channels-window-test"};
  LinkTimings timings_;
  DatabaseFactoryText factoryText_;
  torvix::app::testing::ModalScript script_;
  std::unique_ptr<torvix::channels::app::ChannelsWindow> window_;
};

TEST_F(ChannelsWindowTest, RenameDeleteUndoSaveByKeysGivesTheEditedImage) {
  const ChannelList original = MakeSampleList({Layout::kBasic, 3, 12, 40, 0, 7});
  const std::string path = scratch_ / "list.txt";
  ASSERT_EQ(SaveListFile(original, path), "");
  ASSERT_TRUE(window_->Open(QString::fromStdString(path)));
  QTableView* services = ViewNamed("Services");
  ASSERT_NE(services, nullptr);
  EXPECT_EQ(services->accessibleName(), "Services");
  EXPECT_EQ(services->model()->rowCount(), 40);

  // The same edits on the model alone give the image the saved file must compile to.
  ChannelDocument expected(original);
  const ItemId first = original.services()[0].id;
  const ItemId third = original.services()[2].id;
  ASSERT_TRUE(expected.SetCell(Table::kServices, first, Field::kServiceName, "Renamed"));
  ASSERT_TRUE(expected.SetCell(Table::kServices, first, Field::kScrambled,
                               CellText(original, Table::kServices, first, Field::kScrambled) == "1" ? "0" : "1"));
  ASSERT_TRUE(expected.Delete(Table::kServices, std::vector<ItemId>{third}));

  TypeIntoCell(0, 0, "Renamed");
  EXPECT_EQ(CellText(List(), Table::kServices, first, Field::kServiceName), "Renamed");
  EXPECT_TRUE(window_->windowTitle().startsWith("*list.txt")) << window_->windowTitle().toStdString();

  // A value the reader would refuse: the model's own message, nothing changed.
  const int videoColumn = ColumnOf(Field::kVideoPid, Layout::kBasic);
  const std::string videoBefore = CellText(List(), Table::kServices, first, Field::kVideoPid);
  ASSERT_GE(videoColumn, 0);
  TypeIntoCell(0, videoColumn, "99999999");
  EXPECT_EQ(window_->statusBar()->currentMessage().toStdString(),
            CheckCell(List(), Table::kServices, first, Field::kVideoPid, "99999999"));
  EXPECT_FALSE(window_->statusBar()->currentMessage().isEmpty());
  EXPECT_EQ(CellText(List(), Table::kServices, first, Field::kVideoPid), videoBefore);

  // Space toggles a check box.
  const int scrambledColumn = ColumnOf(Field::kScrambled, Layout::kBasic);
  ASSERT_GE(scrambledColumn, 0);
  services->setCurrentIndex(services->model()->index(0, scrambledColumn));
  QTest::keyClick(services, Qt::Key_Space);

  // Delete the second row, undo it, delete the third.
  QTest::keyClick(services, Qt::Key_Down);
  QTest::keyClick(services, Qt::Key_Delete);
  EXPECT_EQ(List().Count(Table::kServices), 39);
  EXPECT_EQ(MenuText("&Undo"), "&Undo " + QString::fromStdString(window_->document().UndoText()));
  QTest::keyClick(services, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(List().Count(Table::kServices), 40);
  EXPECT_NE(List().FindService(original.services()[1].id), nullptr);
  services->setCurrentIndex(services->model()->index(1, 0));
  QTest::keyClick(services, Qt::Key_Down);
  QTest::keyClick(services, Qt::Key_Delete);
  EXPECT_EQ(List().FindService(third), nullptr);

  QTest::keyClick(services, Qt::Key_S, Qt::ControlModifier);
  EXPECT_FALSE(window_->document().modified());
  EXPECT_FALSE(window_->windowTitle().startsWith("*"));

  // The saved text through TORVIX's reader.
  DatabaseImage compiled;
  std::istringstream in(common::testing::ReadFile(path));
  StreamByteSource raw(in);
  DosTextSource source(raw);
  ASSERT_EQ(FactoryTextReader().Read(source, compiled), FT_OK);
  EXPECT_EQ(ImageBytes(compiled), ImageBytes(expected.list().Compile()));
}

TEST_F(ChannelsWindowTest, ReadFromReceiverEditWriteToReceiver) {
  const ChannelList onReceiver = MakeSampleList({Layout::kKvrs, 4, 30, 120, 4, 11});
  emulator::LinkOptions options;
  options.databaseImage = ImageBytes(onReceiver.Compile());
  options.replyTimeoutMs = 5000;
  emulator::ServedLinkReceiver served(emulator::Line::Options{torvix::app::testing::TestFolder() + "/com1", false},
                                      std::move(options));
  ASSERT_TRUE(served.Ok()) << served.Error();

  const QString turnOn =
      BoxOf(torvix::app::kProgramName, kTurnOnReceiver, QMessageBox::Warning, QMessageBox::Ok | QMessageBox::Cancel);
  script_.ExpectBox(turnOn);
  for (QAction* action : window_->menuBar()->findChildren<QAction*>()) {
    if (action->text() == "&Read from Receiver") action->trigger();
  }
  EXPECT_EQ(ImageBytes(List().Compile()), ImageBytes(onReceiver.Compile()));
  auto* tabs = window_->findChild<QTabWidget*>();
  ASSERT_NE(tabs, nullptr);
  EXPECT_EQ(tabs->tabText(1).remove(QChar('&')), "Antennas");
  EXPECT_TRUE(tabs->isTabVisible(1)) << "a KVRS list has its antennas";

  TypeIntoCell(0, 0, "Edited");
  ASSERT_EQ(CellText(List(), Table::kServices, List().services()[0].id, Field::kServiceName), "Edited");

  script_.ExpectBox(
      BoxOf("Upgrade", ResultMessageFor(OperationCode::WriteFactoryData, true)->text, QMessageBox::NoIcon));
  for (QAction* action : window_->menuBar()->findChildren<QAction*>()) {
    if (action->text() == "&Write to Receiver") action->trigger();
  }
  ASSERT_TRUE(
      common::testing::WaitUntil([&] { return served.Receiver().CompletedUploads() == 1; }, std::chrono::seconds(10)));
  EXPECT_EQ(served.Receiver().StoredFactoryData(), ImageBytes(List().Compile()));

  // Both transfers are in the service history, as the editor's.
  history::Filter newest;
  newest.limit = 2;
  const history::QueryResult recorded =
      history::Query(torvix::app::testing::TestFolder() + "/state/KALMER/history.sqlite", newest);
  ASSERT_TRUE(recorded.ok) << recorded.message;
  ASSERT_EQ(recorded.rows.size(), 2u);
  for (const auto& [row, operation] : {std::pair{recorded.rows[0], "write-factory-data"},
                                       std::pair{recorded.rows[1], "read-user-data"}}) {
    EXPECT_EQ(row.program, "torvix-channels");
    EXPECT_EQ(row.operation, operation);
    EXPECT_EQ(row.result, "ok");
  }

  // Closing with the edit unsaved asks; Discard closes.
  script_.ExpectBox(BoxOf("TORVIX Channel Editor", "Save the changes to From the receiver?", QMessageBox::Question,
                          QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel),
                    QMessageBox::Discard);
  EXPECT_TRUE(window_->close());
}

}  // namespace
