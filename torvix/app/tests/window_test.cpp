// TORVIX's windows driven as an operator drives them, against the receiver
// emulator on a pseudo-terminal that COM1 leads to.  Every modal window is
// answered by the test's ModalScript; nothing waits a fixed time.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>

#include <QAccessible>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include "common/build_version.h"
#include "common/device_map.h"
#include "common/qt/history_view.h"
#include "common/testing/test_support.h"
#include "emulator/link/receiver.h"
#include "emulator/link/sample_database.h"
#include "emulator/link/tests/sample_database_text.h"
#include "emulator/link/served_receiver.h"
#include "torvix/app/history_texts.h"
#include "torvix/app/main_dialog.h"
#include "torvix/app/port_store.h"
#include "torvix/app/small_dialogs.h"
#include "torvix/app/tests/window_test_support.h"
#include "torvix/app/window_texts.h"
#include "torvix/database/factory_text_reader.h"
#include "torvix/database/factory_text_writer.h"
#include "torvix/link/link_frame.h"
#include "torvix/link/tests/job_harness.h"
#include "torvix/ops/database_factory_text.h"

namespace {

namespace fs = std::filesystem;
using namespace torvix;
using namespace torvix::app;
using namespace torvix::app::testing;
using Bytes = std::vector<std::uint8_t>;
using common::testing::ReadFile;
using common::testing::WriteFile;

void StorePort(const std::optional<QString>& text) {
  QSettings settings(QSettings::UserScope, kSettingsOrganization, kSettingsApplication);
  if (text) {
    settings.setValue(kPortKey, *text);
  } else {
    settings.remove(kPortKey);
  }
  settings.sync();
}

QString StoredPortText() {
  const QSettings settings(QSettings::UserScope, kSettingsOrganization, kSettingsApplication);
  return settings.value(kPortKey).toString();
}


// A ROM image that reaches the flag byte.
std::string RomImage(std::string_view magic, std::uint8_t hardwareCode, std::uint8_t flag) {
  std::string rom(kUpgradeFlagOffset + 4096, '\0');
  for (std::size_t i = 0; i < rom.size(); ++i) rom[i] = static_cast<char>(i * 13);
  rom.replace(0, magic.size(), magic);
  rom[kHardwareCodeOffset] = static_cast<char>(hardwareCode);
  rom[kUpgradeFlagOffset] = static_cast<char>(flag);
  return rom;
}

// The flag byte's place in the software stream the receiver stored.
constexpr std::size_t kMarkerInStream = kSoftwareSizePrefix + kUpgradeFlagOffset - kRomImageHeaderSize;

// What a complete download of the emulator's database prints.
const std::string& PrintedSample() { return emulator::testing::kSampleDatabaseText; }

QString StatusOf(QWidget* progress) { return progress->findChild<QLabel*>(QStringLiteral("status"))->text(); }

// Every control with a text shows all of it: nothing is cut off or outside its window.
void ExpectNothingClipped(QWidget* window) {
  for (QWidget* child : window->findChildren<QWidget*>()) {
    if (qobject_cast<QAbstractButton*>(child) == nullptr && qobject_cast<QLabel*>(child) == nullptr &&
        qobject_cast<QGroupBox*>(child) == nullptr) {
      continue;
    }
    if (!child->isVisible()) continue;
    const QSize hint = child->sizeHint();
    EXPECT_GE(child->width(), hint.width()) << window->windowTitle().toStdString() << ": "
                                            << child->property("text").toString().toStdString();
    EXPECT_GE(child->height(), hint.height()) << window->windowTitle().toStdString() << ": "
                                              << child->property("text").toString().toStdString();
    EXPECT_TRUE(window->rect().contains(child->geometry())) << child->property("text").toString().toStdString();
  }
}

// The item of `window`'s context menu whose text is `text`.
QAction* ContextItem(QWidget& window, const char* text) {
  for (QAction* action : window.actions()) {
    if (action->text() == QString::fromUtf8(text)) return action;
  }
  return nullptr;
}

// The text of the history table's first row in the column headed `header`.
QString FirstRowCell(QTableView* table, const char* header) {
  const QAbstractItemModel* model = table->model();
  for (int c = 0; c < model->columnCount(); ++c) {
    if (model->headerData(c, Qt::Horizontal).toString() == QString::fromUtf8(header)) {
      return model->index(0, c).data().toString();
    }
  }
  return QStringLiteral("no column ") + header;
}

// Runs `onShow` for every window as it is shown.
class ShowHook : public QObject {
 public:
  explicit ShowHook(std::function<void(QWidget*)> onShow) : onShow_(std::move(onShow)) {
    qApp->installEventFilter(this);
  }
  ~ShowHook() override { qApp->removeEventFilter(this); }
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Show && object->isWidgetType()) onShow_(static_cast<QWidget*>(object));
    return false;
  }

 private:
  std::function<void(QWidget*)> onShow_;
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.Ok());
    work_ = scratch_.Path() / "work";
    fs::create_directories(work_);
    timings_.limits = torvix::testing::ShortLimits();
    timings_.connectSuccessPause = std::chrono::milliseconds(0);
    StorePort(QStringLiteral("1"));
    ASSERT_TRUE(WriteStoredDevice(2, QString::fromStdString(TestFolder() + "/com2")));
    // The serial devices present: none unless a test plugs one in.
    tree_ = scratch_.Path() / "tree";
    fs::create_directories(tree_);
    deviceRoots_ = {(tree_ / "sys").string(), (tree_ / "dev").string()};
  }
  void TearDown() override {
    EXPECT_TRUE(script_.unexpected.isEmpty()) << script_.unexpected.join("\n").toStdString();
    EXPECT_TRUE(script_.Done()) << "a window the test expected never came";
    window_.reset();
    served_.reset();
  }

  void StartReceiver(emulator::LinkOptions options = {}, bool paced = false) {
    if (options.databaseImage.empty()) options.databaseImage = emulator::SampleDatabaseImage();
    options.replyTimeoutMs = 5000;
    served_ = std::make_unique<emulator::ServedLinkReceiver>(
        emulator::Line::Options{TestFolder() + "/com1", paced}, std::move(options));
    ASSERT_TRUE(served_->Ok()) << served_->Error();
    receiver_ = &served_->Receiver();
  }
  int Received(int code) {
    const std::vector<int> codes = receiver_->CodesReceived();
    return static_cast<int>(std::count(codes.begin(), codes.end(), code));
  }
  // Waits until the receiver has acknowledged `uploads` uploads to the end.
  bool Uploaded(int uploads) {
    common::testing::WaitUntil([&] { return receiver_->CompletedUploads() >= uploads; }, std::chrono::seconds(5));
    return receiver_->CompletedUploads() == uploads;
  }

  MainDialog& OpenWindow(history::Location history = common::qt::EnvironmentHistory()) {
    window_.reset();
    window_ = std::make_unique<MainDialog>(factoryText_, timings_, deviceRoots_, std::move(history));
    window_->Start();
    window_->show();
    return *window_;
  }
  // Presses a main window button; returns when its operation has finished.
  void Click(const char* text) {
    QAbstractButton* button = ButtonByText(window_.get(), text);
    ASSERT_NE(button, nullptr) << text;
    button->click();
  }
  QString Field(const char* name) { return window_->findChild<QLabel*>(name)->text(); }
  void ExpectFields(const QString& software, const QString& hardware, const char* status) {
    EXPECT_EQ(Field("softwareVersion"), software);
    EXPECT_EQ(Field("hardwareVersion"), hardware);
    EXPECT_EQ(Field("communicationStatus"), status);
  }

  // "Communication Setup": it shows `shown` selected; the test selects
  // `choose` (if any) and answers OK or Cancel.
  void ExpectSetup(const char* shown, const char* choose, bool ok) {
    script_.Expect([](QWidget* w) { return qobject_cast<CommSetupDialog*>(w) != nullptr; },
                   [shown, choose, ok](QWidget* w) {
                     EXPECT_EQ(w->windowTitle(), kCommSetupCaption);
                     EXPECT_TRUE(ButtonByText(w, shown)->isChecked()) << shown;
                     if (choose != nullptr) ButtonByText(w, choose)->click();
                     ButtonByText(w, ok ? "OK" : "Cancel")->click();
                   });
  }
  // The file dialog proposing `proposed` with `filters`; the test chooses `path`.
  void ExpectFile(const char* proposed, const char* filters, const fs::path& path) {
    script_.Expect([](QWidget* w) { return qobject_cast<QFileDialog*>(w) != nullptr; },
                   [proposed, filters, path](QWidget* w) {
                     auto* dialog = qobject_cast<QFileDialog*>(w);
                     EXPECT_EQ(QFileInfo(dialog->selectedFiles().value(0)).fileName(), proposed);
                     EXPECT_EQ(dialog->nameFilters(), QString(filters).split(";;"));
                     // Typed into the file name field, as an operator may.
                     dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                         ->setText(QString::fromStdString(path.string()));
                     static_cast<QDialog*>(dialog)->accept();  // as its Open / Save button does
                   });
  }
  // "Password Dialog", empty and masked; the test types `typed` (of which
  // at most 20 characters stay) and answers OK or Cancel.
  void ExpectPassword(const QString& typed, bool ok = true) {
    script_.Expect([](QWidget* w) { return qobject_cast<PasswordDialog*>(w) != nullptr; },
                   [typed, ok](QWidget* w) {
                     EXPECT_EQ(w->windowTitle(), kPasswordCaption);
                     EXPECT_NE(w->findChild<QLabel*>(), nullptr);
                     EXPECT_EQ(w->findChild<QLabel*>()->text(), kPasswordLabel);
                     auto* edit = w->findChild<QLineEdit*>();
                     EXPECT_EQ(edit->text(), QString());
                     EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
                     QTest::keyClicks(edit, typed);
                     EXPECT_EQ(edit->text(), typed.left(kPasswordMaxLength));
                     auto* buttons = w->findChild<QDialogButtonBox*>();
                     buttons->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
                   });
  }
  // Cancel in the progress window once its status satisfies `when`; the
  // status right after goes to statusAfterCancel_.
  void ExpectCancel(std::function<bool(const QString&)> when) {
    script_.Expect(
        [when](QWidget* w) { return qobject_cast<ProgressDialog*>(w) != nullptr && when(StatusOf(w)); },
        [this](QWidget* w) {
          ButtonByText(w, "Cancel")->click();
          statusAfterCancel_ << StatusOf(w);
        });
  }

  // A USB adapter whose by-id name leads to the receiver's line; returns that name.
  std::string PlugAdapter() { return common::testing::PlugUsbAdapter(tree_, TestFolder() + "/com1"); }

  common::testing::TempFolder scratch_{"torvix-window-test"};  // the work and device trees of one test
  fs::path work_;
  fs::path tree_;
  common::DeviceRoots deviceRoots_;
  LinkTimings timings_;
  DatabaseFactoryText factoryText_;
  ModalScript script_;
  QStringList statusAfterCancel_;
  std::unique_ptr<emulator::ServedLinkReceiver> served_;
  emulator::LinkReceiver* receiver_ = nullptr;  // served_'s
  std::unique_ptr<MainDialog> window_;
};

const QString kTurnOn = BoxOf(kProgramName, kTurnOnReceiver, QMessageBox::Warning, QMessageBox::Ok | QMessageBox::Cancel);

TEST(PortStore, OnlyANumberFrom0To4294967295IsAPort) {
  struct Case {
    const char* text;
    std::optional<std::uint32_t> port;
  };
  for (const Case c : {Case{"1", 1}, Case{"2", 2}, Case{"0", 0}, Case{"3", 3}, Case{"007", 7},
                       Case{"4294967295", 4294967295u}, Case{"4294967296", std::nullopt},
                       Case{"99999999999", std::nullopt}, Case{"", std::nullopt}, Case{"-1", std::nullopt},
                       Case{"+1", std::nullopt}, Case{" 1", std::nullopt}, Case{"1 ", std::nullopt},
                       Case{"0x1", std::nullopt}, Case{"COM1", std::nullopt}}) {
    EXPECT_EQ(ParseStoredPort(QString::fromLatin1(c.text)), c.port) << '"' << c.text << '"';
  }
}

TEST_F(WindowTest, NothingClippedAtTwiceTheFont) {
  // 200 % scaling doubles the font, which the dialog units follow.
  const QFont original = QApplication::font();
  QFont font = original;
  font.setPointSizeF(original.pointSizeF() * 2);
  QApplication::setFont(font);
  const auto restore = qScopeGuard([&] { QApplication::setFont(original); });
  StartReceiver();
  MainDialog& window = OpenWindow();
  ExpectNothingClipped(&window);
  window_.reset();
}

TEST_F(WindowTest, MainWindowAsDrawnAndNothingConnectsByItself) {
  StartReceiver();
  MainDialog& window = OpenWindow();
  EXPECT_EQ(window.windowTitle(), kMainCaption);
  EXPECT_FALSE(window.windowIcon().pixmap(32, 32).isNull()) << "the program icon";
  ExpectFields(kUnavailable, kUnavailable, kConnectionFailed);
  for (const char* text : {kSetupCommButton, kAboutButton, kExitButton, kReadUserDataButton, kWriteFactoryDataButton,
                           kUpgrade1Button, kUpgrade2Button, kUpgrade3Button, kUpgrade4Button}) {
    QAbstractButton* button = ButtonByText(&window, text);
    ASSERT_NE(button, nullptr) << text;
    EXPECT_TRUE(button->isEnabled() && button->isVisible()) << text;
    EXPECT_EQ(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name), QString(text).remove('&'));
  }
  EXPECT_TRUE(qobject_cast<QPushButton*>(ButtonByText(&window, kSetupCommButton))->isDefault());
  ExpectNothingClipped(&window);

  // The about box, from its button and from the window's context menu.
  for (int i = 0; i < 2; ++i) {
    script_.Expect([](QWidget* w) { return qobject_cast<AboutDialog*>(w) != nullptr; },
                   [](QWidget* w) {
                     EXPECT_EQ(w->windowTitle(), kAboutCaption);
                     ExpectNothingClipped(w);
                     bool versionShown = false;
                     bool buildShown = false;
                     for (QLabel* label : w->findChildren<QLabel*>()) {
                       versionShown |= label->text() == kAboutVersion;
                       buildShown |= label->text() == QStringLiteral("Build %1").arg(common::kBuildVersion);
                     }
                     EXPECT_TRUE(versionShown);
                     EXPECT_TRUE(buildShown);
                     ButtonByText(w, "OK")->click();
                   });
  }
  Click(kAboutButton);
  QAction* aboutItem = ContextItem(window, kAboutMenuItem);
  ASSERT_NE(aboutItem, nullptr);
  ASSERT_NE(ContextItem(window, kHistoryMenuItem), nullptr);
  ASSERT_NE(ContextItem(window, kEditChannelListMenuItem), nullptr);
  EXPECT_EQ(window.actions().size(), 3);
  EXPECT_EQ(window.contextMenuPolicy(), Qt::ActionsContextMenu);
  aboutItem->trigger();

  // The other windows as drawn.
  CommSetupDialog setup(&window, 0);
  ProgressDialog progress(&window, window);
  PasswordDialog password(&window);
  for (QDialog* dialog : std::initializer_list<QDialog*>{&setup, &progress, &password}) {
    dialog->show();
    ExpectNothingClipped(dialog);
    dialog->hide();
  }
  EXPECT_EQ(progress.windowTitle(), kProgressCaption);
  EXPECT_EQ(StatusOf(&progress), kProgressStatus);

  EXPECT_TRUE(receiver_->CodesReceived().empty()) << "no port was opened";
  // Escape, the close box and "&Exit MeridLink" end the program.
  QSignalSpy finished(&window, &QDialog::finished);
  QTest::keyClick(&window, Qt::Key_Escape);
  window.show();
  window.close();
  window.show();
  Click(kExitButton);
  EXPECT_EQ(finished.count(), 3);
  EXPECT_FALSE(window.isVisible());
}

TEST_F(WindowTest, FirstStartAsksForAPortAndKeepsTheAnswer) {
  StartReceiver();
  StorePort(std::nullopt);
  ExpectSetup(kCom2, nullptr, false);  // 0 shows COM2; cancelled, 0 is kept
  OpenWindow();
  EXPECT_TRUE(script_.Done());
  EXPECT_EQ(window_->Port(), 0u);
  EXPECT_EQ(StoredPortText(), "0");

  // The next start reads the 0 and asks nothing; Setup Comm, COM1, OK connects.
  OpenWindow();
  EXPECT_EQ(window_->Port(), 0u);
  ExpectSetup(kCom2, kCom1, true);
  Click(kSetupCommButton);
  EXPECT_EQ(window_->Port(), 1u);
  EXPECT_EQ(StoredPortText(), "1");
  ExpectFields("4.00 emulator", "0503 TWIN-S", kConnectionEstablished);
  EXPECT_EQ(window_->Values().hardwareNumber, 503);

  // Setup Comm, Cancel: the port stays, is stored again, and nothing connects.
  StorePort(QStringLiteral("7"));
  ExpectSetup(kCom1, kCom2, false);
  Click(kSetupCommButton);
  EXPECT_EQ(window_->Port(), 1u);
  EXPECT_EQ(StoredPortText(), "1");
  EXPECT_EQ(Received(CODE_IDENTIFY), 1);
}

TEST_F(WindowTest, FailedConnectsShowUnavailable) {
  emulator::LinkOptions options;
  options.faults.ignoreRequests = 1;
  StartReceiver(options);
  OpenWindow();
  // A silent receiver.
  ExpectSetup(kCom1, nullptr, true);
  script_.ExpectBox(BoxOf("Connect", "Connection error.", QMessageBox::NoIcon));
  Click(kSetupCommButton);
  ExpectFields(kUnavailable, kUnavailable, kConnectionFailed);
  EXPECT_TRUE(window_->Values().connectAttempted);

  ExpectSetup(kCom1, nullptr, true);
  Click(kSetupCommButton);
  ExpectFields("4.00 emulator", "0503 TWIN-S", kConnectionEstablished);

  // COM2 leads nowhere: the port's own box (no owner), then "Open error".
  ExpectSetup(kCom1, kCom2, true);
  script_.Expect(
      [](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        return box && Describe(box) == BoxOf(kSerialErrorCaption, "No such file or directory", QMessageBox::Information);
      },
      [](QWidget* w) {
        EXPECT_EQ(w->parentWidget(), nullptr);
        qobject_cast<QMessageBox*>(w)->button(QMessageBox::Ok)->click();
      });
  script_.ExpectBox(BoxOf(kOpenErrorCaption, kOpenErrorText, QMessageBox::NoIcon));
  Click(kSetupCommButton);
  ExpectFields(kUnavailable, kUnavailable, kConnectionFailed);
  EXPECT_EQ(window_->Values().hardwareNumber, 503) << "kept from the connect that worked";
}

// What the window stores for a device, the command lines read without Qt:
// texts with blanks, other alphabets and the characters Qt quotes or escapes.
TEST_F(WindowTest, StoredDevicesAreReadWithoutQtAsQtWroteThem) {
  for (const QString& device :
       {QStringLiteral("/tmp/my dir/Приёмник ü"), QStringLiteral(" lead, \"q\" back\\slash;x=y "),
        QStringLiteral("@at\ttab"), QStringLiteral("a1\x01") + QStringLiteral("5"), QStringLiteral("#[Devices]=😀")}) {
    ASSERT_TRUE(WriteStoredDevice(3, device));
    EXPECT_EQ(common::DeviceMap(common::kTorvixSettings).Stored(3), device.toStdString()) << device.toStdString();
  }
  ASSERT_TRUE(WriteStoredDevice(3, QString()));
  EXPECT_EQ(common::DeviceMap(common::kTorvixSettings).Stored(3), std::nullopt);
  EXPECT_EQ(StoredPortText(), "1") << "the port beside the devices";
}

TEST_F(WindowTest, SetupChoosesTheDeviceBehindComAndOperationsOpenIt) {
  StartReceiver();
  const std::string byId = PlugAdapter();
  const QString typed = QStringLiteral("/nowhere/ttyUSB7");
  const auto combo = [](QWidget* w, int n) { return w->findChild<QComboBox*>(QStringLiteral("deviceCOM%1").arg(n)); };
  const auto expectSetup = [&](const QString& com2Shows, std::function<void(QComboBox*)> choose, bool ok) {
    script_.Expect([](QWidget* w) { return qobject_cast<CommSetupDialog*>(w) != nullptr; },
                   [=](QWidget* w) {
                     // COM1 is the environment's for this run; COM2 leads where it is stored.
                     EXPECT_FALSE(combo(w, 1)->isEnabled());
                     EXPECT_EQ(combo(w, 1)->currentText(), QString::fromStdString(TestFolder() + "/com1"));
                     EXPECT_EQ(combo(w, 2)->currentText(), com2Shows);
                     // The adapter present, with what sysfs says of it.
                     EXPECT_EQ(combo(w, 2)->count(), 1);
                     EXPECT_EQ(combo(w, 2)->itemText(0), QString::fromStdString(byId));
                     EXPECT_EQ(combo(w, 2)->itemData(0, Qt::ToolTipRole).toString(),
                               QString::fromStdString(byId) + "\n" +
                                   QString::fromStdString(fs::canonical(TestFolder() + "/com1").filename().string()) +
                                   ": FTDI FT232R USB UART A1B2C3 (ftdi_sio, 0403:6001)");
                     ButtonByText(w, kCom2)->click();
                     choose(combo(w, 2));
                     ButtonByText(w, ok ? "OK" : "Cancel")->click();
                   });
  };
  const auto storedCom2 = [] { return common::DeviceMap(common::kTorvixSettings).Resolve(2); };
  OpenWindow();

  // A device typed that is not there: the port's box names it and where to choose another.
  expectSetup(QString::fromStdString(TestFolder() + "/com2"), [&](QComboBox* c) { c->setEditText(typed); }, true);
  script_.ExpectBox(BoxOf(kSerialErrorCaption,
                          "No such file or directory\n\nTried COM2 at /nowhere/ttyUSB7.\nOther serial devices are "
                          "present: choose one for COM2 with \"Setup Comm\".",
                          QMessageBox::Information));
  script_.ExpectBox(BoxOf(kOpenErrorCaption, kOpenErrorText, QMessageBox::NoIcon));
  Click(kSetupCommButton);
  EXPECT_EQ(storedCom2().path, typed.toStdString());

  // The adapter from the list: stored with the port, and the connect reaches the receiver.
  expectSetup(typed, [](QComboBox* c) { c->setCurrentIndex(0); }, true);
  Click(kSetupCommButton);
  EXPECT_EQ(window_->Port(), 2u);
  EXPECT_EQ(StoredPortText(), "2");
  EXPECT_EQ(storedCom2().path, byId);
  EXPECT_EQ(storedCom2().source, common::ComSource::kStored);
  ExpectFields("4.00 emulator", "0503 TWIN-S", kConnectionEstablished);

  // Cancel keeps the device stored.
  expectSetup(QString::fromStdString(byId), [&](QComboBox* c) { c->setEditText(typed); }, false);
  Click(kSetupCommButton);
  EXPECT_EQ(storedCom2().path, byId);
  EXPECT_EQ(Received(CODE_IDENTIFY), 1);

  // The next start finds both again.
  OpenWindow();
  EXPECT_EQ(window_->Port(), 2u);
  expectSetup(QString::fromStdString(byId), [](QComboBox*) {}, true);
  Click(kSetupCommButton);
  EXPECT_EQ(Received(CODE_IDENTIFY), 2);
  ExpectFields("4.00 emulator", "0503 TWIN-S", kConnectionEstablished);
}

TEST_F(WindowTest, ConnectKeepsTheFullBarForHalfASecondWhileTheWindowGoesOn) {
  timings_.connectSuccessPause = LinkTimings{}.connectSuccessPause;
  StartReceiver();
  OpenWindow();
  QElapsedTimer sinceFull;
  qint64 shownFull = -1;
  int ticksWhileFull = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ticksWhileFull += sinceFull.isValid() && shownFull < 0; });
  ticker.start(10);
  ShowHook hook([&](QWidget* w) {
    auto* progress = qobject_cast<ProgressDialog*>(w);
    if (progress == nullptr) return;
    QObject::connect(progress->findChild<QProgressBar*>(), &QProgressBar::valueChanged, progress, [&](int value) {
      if (value == kConnectDonePosition) sinceFull.start();
    });
    QObject::connect(progress, &QDialog::finished, progress, [&] { shownFull = sinceFull.elapsed(); });
  });
  ExpectSetup(kCom1, nullptr, true);
  Click(kSetupCommButton);
  ExpectFields("4.00 emulator", "0503 TWIN-S", kConnectionEstablished);
  EXPECT_GE(shownFull, 500);
  EXPECT_GE(ticksWhileFull, 5) << "the window went on with its work meanwhile";
}

TEST_F(WindowTest, CancelDuringConnectAndDownloadAsksNothing) {
  emulator::LinkOptions options;
  options.faults.ignoreRequests = 1;
  options.downloadBlockSize = 64;  // paced at 19200 bit/s: the download takes over a minute
  StartReceiver(options, true);
  timings_.limits.readConstant = 50;  // a silent receiver is awaited about half a second
  OpenWindow();
  ExpectSetup(kCom1, nullptr, true);
  // Once the request is out, the job waits for the reply that never comes.
  ExpectCancel([this](const QString&) { return Received(CODE_IDENTIFY) == 1; });
  Click(kSetupCommButton);
  ExpectFields(kUnavailable, kUnavailable, kConnectionFailed);

  const fs::path text = work_ / "factory_data.txt";
  WriteFile(text, "kept\n");
  script_.ExpectBox(kTurnOn);
  ExpectFile(kFactoryFileName, kFactoryFileFilters, text);
  ExpectCancel([](const QString& status) { return status.startsWith("Downloading...   block"); });
  Click(kReadUserDataButton);
  EXPECT_EQ(statusAfterCancel_, QStringList({kClosingConnection, kClosingConnection}));
  EXPECT_EQ(ReadFile(text), "kept\n");
  EXPECT_TRUE(receiver_->WaitForCodes(CODE_ABORT, 2, 3000));
}

TEST_F(WindowTest, CancelDuringAnUpgradeAsksAndNoGoesOn) {
  emulator::LinkOptions options;
  options.faults.readyDelayMs = 1000;  // the upgrade waits for the receiver meanwhile
  StartReceiver(options);
  const fs::path rom = work_ / "rom.bin";
  WriteFile(rom, RomImage(kRomMagicT, 0, 0x07));
  OpenWindow();
  const QString question =
      BoxOf(kProgramName, kStopUpgradeQuestion, QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No);
  ExpectPassword(QString::fromLatin1(kFactoryAccessCode.data(), kFactoryAccessCode.size()));
  ExpectFile(kRomFileName, kRomFileFilters, rom);
  ExpectCancel([](const QString& status) { return status == kStatusConnecting; });
  script_.ExpectBox(question, QMessageBox::No);
  // A second Cancel asks again.
  ExpectCancel([](const QString& status) { return status == kStatusConnecting; });
  script_.ExpectBox(question, QMessageBox::Yes);
  Click(kUpgrade4Button);
  EXPECT_EQ(statusAfterCancel_, QStringList({kStatusConnecting, kClosingConnection}));
  EXPECT_TRUE(receiver_->WaitForCodes(CODE_ABORT, 1, 3000));
  EXPECT_EQ(receiver_->CompletedUploads(), 0);
  EXPECT_EQ(Received(CODE_IDENTIFY), 0) << "Upgrade 4 does not connect";
}

TEST_F(WindowTest, UpgradeEntriesCheckImageAccessCodeAndHardware) {
  StartReceiver();
  const fs::path wrong = work_ / "wrong.bin";
  const fs::path unknownHardware = work_ / "unknown.bin";
  const fs::path wholeOnly = work_ / "whole.bin";
  const fs::path good = work_ / "good.bin";
  const fs::path cutShort = work_ / "short.bin";
  WriteFile(wrong, std::string(kRomImageHeaderSize, 'K'));
  WriteFile(cutShort, RomImage(kRomMagicT, 0, 0x07).substr(0, kUpgradeFlagOffset));  // ends before the flag byte
  WriteFile(unknownHardware, RomImage(kRomMagicA, 30, 0x07));
  WriteFile(wholeOnly, RomImage(kRomMagicT, 0, 0x00));
  WriteFile(good, RomImage(kRomMagicT, 0, 0x07));  // hardware 503, as the emulator reports
  OpenWindow();

  ExpectFile(kRomFileName, kRomFileFilters, wrong);
  script_.ExpectBox(BoxOf(kProgramName, kWrongRomImage, QMessageBox::Warning));
  Click(kUpgrade1Button);

  // A wrong code (typed past the 20 characters the field takes), a cancelled one.
  ExpectPassword(QStringLiteral("5082613 and then some more"));
  script_.ExpectBox(BoxOf(kProgramName, kPasswordError, QMessageBox::NoIcon));
  Click(kUpgrade3Button);
  ExpectPassword(QStringLiteral("5082613"), false);
  Click(kUpgrade4Button);
  EXPECT_FALSE(window_->Values().accessGranted);

  // The right code; the first connect of the run comes before the hardware check.
  ExpectPassword(QStringLiteral("5082613"));
  ExpectFile(kRomFileName, kRomFileFilters, unknownHardware);
  script_.ExpectBox(BoxOf(kProgramName, kHardwareVersionError, QMessageBox::NoIcon));
  Click(kUpgrade3Button);
  EXPECT_TRUE(window_->Values().accessGranted);
  ExpectFields("4.00 emulator", "0503 TWIN-S", kConnectionEstablished);

  // An image cut short is no image, also where nothing is checked against the receiver.
  ExpectFile(kRomFileName, kRomFileFilters, cutShort);
  script_.ExpectBox(BoxOf(kProgramName, kWrongRomImage, QMessageBox::Warning));
  Click(kUpgrade4Button);

  ExpectFile(kRomFileName, kRomFileFilters, wholeOnly);
  script_.ExpectBox(BoxOf(kProgramName, kWholeUpgradeQuestion, QMessageBox::Warning,
                          QMessageBox::Ok | QMessageBox::Cancel),
                    QMessageBox::Cancel);
  Click(kUpgrade1Button);

  // Each entry sends the image with its marker; the code holds for the run.
  struct Case {
    const char* button;
    std::uint8_t marker;
  };
  int uploads = 0;
  for (const Case c : {Case{kUpgrade1Button, kMarkerKeepChannels}, Case{kUpgrade2Button, kMarkerSatelliteInfo},
                       Case{kUpgrade3Button, kMarkerWhole}, Case{kUpgrade4Button, kMarkerWhole}}) {
    SCOPED_TRACE(c.button);
    ExpectFile(kRomFileName, kRomFileFilters, good);
    script_.ExpectBox(BoxOf("Upgrade", ResultMessageFor(OperationCode::Upgrade, true)->text, QMessageBox::NoIcon));
    Click(c.button);
    ASSERT_TRUE(Uploaded(++uploads));
    EXPECT_EQ(receiver_->StoredSoftware().at(kMarkerInStream), c.marker);
  }
  EXPECT_EQ(Received(CODE_IDENTIFY), 1) << "one connect in the run";
}

TEST_F(WindowTest, ReadUserDataWritesTheReceiversDatabase) {
  StartReceiver();
  OpenWindow();
  const fs::path text = work_ / "read.txt";
  script_.ExpectBox(kTurnOn, QMessageBox::Cancel);
  Click(kReadUserDataButton);
  EXPECT_FALSE(fs::exists(text));

  script_.ExpectBox(kTurnOn);
  ExpectFile(kFactoryFileName, kFactoryFileFilters, text);  // a name that does not exist yet
  Click(kReadUserDataButton);
  EXPECT_EQ(ReadFile(text), PrintedSample());
  EXPECT_EQ(Received(CODE_READ_USER_DATA), 1);
}

TEST_F(WindowTest, WriteFactoryDataSendsAnAcceptedTextOnly) {
  StartReceiver();
  OpenWindow();
  const fs::path missing = work_ / "missing.txt";
  ExpectFile(kFactoryFileName, kFactoryFileFilters, missing);
  script_.ExpectBox(BoxOf(kProgramName, missing.string() + ": No such file or directory", QMessageBox::Warning));
  Click(kWriteFactoryDataButton);

  const fs::path good = work_ / "good.txt";
  WriteFile(good, PrintedSample());
  ExpectFile(kFactoryFileName, kFactoryFileFilters, good);
  script_.ExpectBox(
      BoxOf("Upgrade", ResultMessageFor(OperationCode::WriteFactoryData, true)->text, QMessageBox::NoIcon));
  Click(kWriteFactoryDataButton);
  ASSERT_TRUE(Uploaded(1));
  DatabaseImage compiled;
  std::istringstream in(PrintedSample());
  StreamByteSource raw(in);
  DosTextSource source(raw);
  ASSERT_EQ(FactoryTextReader().Read(source, compiled), FT_OK);
  EXPECT_EQ(receiver_->StoredFactoryData(), Bytes(compiled.Data(), compiled.Data() + DatabaseImage::kSize));

  // A text the reader refuses: its message, and nothing goes to the receiver.
  const fs::path refused = work_ / "refused.txt";
  WriteFile(refused, "# channel list\r\n?\r\n");
  ExpectFile(kFactoryFileName, kFactoryFileFilters, refused);
  script_.ExpectBox(BoxOf(kProgramName, " * Error : line 2. Invalid tag '?'.\n", QMessageBox::Warning));
  const std::size_t codesBefore = receiver_->CodesReceived().size();
  Click(kWriteFactoryDataButton);
  EXPECT_EQ(receiver_->CodesReceived().size(), codesBefore);
}

// A connect recorded with the unit typed (as a scanner types it, Enter
// included), found in the history view, shown whole and exported.
TEST_F(WindowTest, OperationsAreRecordedShownAndExported) {
  StartReceiver();
  OpenWindow({true, scratch_ / "history.sqlite"});
  auto* unit = window_->findChild<QLineEdit*>(QStringLiteral("unit"));
  ASSERT_NE(unit, nullptr);
  EXPECT_EQ(QAccessible::queryAccessibleInterface(unit)->text(QAccessible::Name), "Unit");
  QTest::keyClicks(unit, QStringLiteral("RX-0042"));
  QTest::keyClick(unit, Qt::Key_Return);  // presses no button: "Communication Setup" would be unexpected here
  ExpectSetup(kCom1, nullptr, true);
  Click(kSetupCommButton);
  ExpectFields("4.00 emulator", "0503 TWIN-S", kConnectionEstablished);

  const fs::path csv = work_ / "exported.csv";
  QStringList rowsShown;  // the whole row's unit, by double click and by Enter
  using common::qt::HistoryView;
  script_.Expect([](QWidget* w) { return qobject_cast<HistoryView*>(w) != nullptr; }, [&rowsShown](QWidget* w) {
    const auto close = qScopeGuard([w] { qobject_cast<QDialog*>(w)->reject(); });  // also after a failed check
    auto* table = w->findChild<QTableView*>(QStringLiteral("historyTable"));
    EXPECT_EQ(w->windowTitle(), "History");
    ASSERT_EQ(table->model()->rowCount(), 1);
    EXPECT_EQ(FirstRowCell(table, "Program"), "torvix");
    EXPECT_EQ(FirstRowCell(table, "Operation"), "connect");
    EXPECT_EQ(FirstRowCell(table, "Result"), "ok");
    EXPECT_EQ(FirstRowCell(table, "Unit"), "RX-0042");
    // The filter looks at every column, in any case.
    auto* filter = w->findChild<QLineEdit*>(QStringLiteral("historyFilter"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(filter)->text(QAccessible::Name), "Filter:");
    filter->setText(QStringLiteral("rx-00"));
    EXPECT_EQ(table->model()->rowCount(), 1);
    filter->setText(QStringLiteral("upgrade"));
    EXPECT_EQ(table->model()->rowCount(), 0);
    filter->clear();
    ASSERT_EQ(table->model()->rowCount(), 1);

    const QModelIndex first = table->model()->index(0, table->horizontalHeader()->logicalIndex(0));
    // A double click as the platform sends it: its first click, then the second.
    const QPoint onRow = table->visualRect(first).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, onRow);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, onRow);
    ASSERT_EQ(rowsShown.size(), 1);
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Return);
    ASSERT_EQ(rowsShown.size(), 2);
    ButtonByText(w, kHistoryTexts.exportButton)->click();
    EXPECT_TRUE(w->findChild<QLabel*>(QStringLiteral("historyNote"))->text().startsWith("Rows exported: 1 ("));
    ButtonByText(w, kHistoryTexts.closeButton)->click();
    EXPECT_FALSE(w->isVisible());
  });
  for (int i = 0; i < 2; ++i) {
    script_.Expect([](QWidget* w) { return w->objectName() == "historyRow"; }, [&rowsShown](QWidget* w) {
      for (QLineEdit* value : w->findChildren<QLineEdit*>()) {
        if (QAccessible::queryAccessibleInterface(value)->text(QAccessible::Name) == "Unit") rowsShown << value->text();
      }
      qobject_cast<QDialog*>(w)->reject();
    });
  }
  script_.Expect([](QWidget* w) { return qobject_cast<QFileDialog*>(w) != nullptr; }, [csv](QWidget* w) {
    EXPECT_EQ(w->windowTitle(), kHistoryTexts.exportCaption);
    w->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QString::fromStdString(csv.string()));
    static_cast<QDialog*>(w)->accept();
  });
  QAction* historyItem = ContextItem(*window_, kHistoryMenuItem);
  ASSERT_NE(historyItem, nullptr);
  historyItem->trigger();
  EXPECT_TRUE(script_.Done());
  EXPECT_EQ(rowsShown, QStringList({"RX-0042", "RX-0042"}));

  const std::vector<std::vector<std::string>> records = common::testing::ParseCsv(ReadFile(csv));
  ASSERT_EQ(records.size(), 2u) << ReadFile(csv);
  std::map<std::string, std::string> row;
  for (std::size_t i = 0; i < records[0].size() && i < records[1].size(); ++i) row[records[0][i]] = records[1][i];
  EXPECT_EQ(row["program"], "torvix");
  EXPECT_EQ(row["operation"], "connect");
  EXPECT_EQ(row["result"], "ok");
  EXPECT_EQ(row["unit"], "RX-0042");
  EXPECT_EQ(row["port"], "COM1");
}

// A history that cannot be written (its folder is a file) is said once in
// the run, and every operation goes on as without it.
TEST_F(WindowTest, AnUnwritableHistoryWarnsOnceAndOperationsGoOn) {
  StartReceiver();
  ASSERT_TRUE(WriteFile(scratch_.Path() / "plain", "not a folder"));
  OpenWindow({true, scratch_ / "plain/history.sqlite"});
  const auto warnings = [this] { return window_->findChildren<QMessageBox*>(QStringLiteral("historyWarning")); };
  for (int i = 0; i < 2; ++i) {
    ExpectSetup(kCom1, nullptr, true);
    Click(kSetupCommButton);
    ExpectFields("4.00 emulator", "0503 TWIN-S", kConnectionEstablished);
    ASSERT_TRUE(common::testing::WaitUntil([&] {
      QCoreApplication::processEvents();
      return !warnings().isEmpty();
    }));
  }
  QCoreApplication::processEvents();
  ASSERT_EQ(warnings().size(), 1);
  EXPECT_TRUE(warnings()[0]->isVisible());
  EXPECT_FALSE(warnings()[0]->isModal());
  EXPECT_TRUE(warnings()[0]->text().startsWith("The service history cannot be written")) << warnings()[0]->text().toStdString();
  EXPECT_EQ(Received(CODE_IDENTIFY), 2);
}

}  // namespace
