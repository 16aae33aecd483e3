// The Acknowledgments commands of the program's window: View... opens one
// comments viewer (and focuses it when it is open), Configure... the log
// configuration; the viewer's context-menu commands change the filter
// settings with their check marks and refresh an open viewer, through the
// window's command map also when chosen in the viewer's menu.
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "acklog/ack_log_settings.h"
#include "acklog/log_document.h"
#include "app/main_frame.h"
#include "app/tolk_ae_lum_server_app.h"
#include "app_fixture.h"
#include "platform/registry.h"
#include "ui/dialog_result.h"
#include "ui/dlg_ack_comments.h"
#include "ui/dlg_ack_configure.h"

namespace {

enum : uint32_t {
  kAckView = 32779,
  kAckConfigure = 32780,
  kAreaAll = 32800,
  kDateToday = 32801,
  kDateAll = 32802,
  kAreaSelected = 32803,
  kLocationRemote = 32805,
  kDateCustom = 32806,
  kAreaCustom = 32807,
  kLocationCustom = 32808,
  kLocationLocal = 32809,
  kDateSelected = 32810,
};

AckRecord Record(const std::string& area, int day, const std::string& tag) {
  AckRecord record;
  record.ackTime = CDateTime::FromParts(2024, 5, day, 10);
  record.area = area;
  record.operatorName = "op-" + tag;
  record.comment = "comment " + tag;
  record.result = "Success";
  return record;
}

// Runs `act` once the comments viewer shows as the active modal window.
void WhileViewerOpen(std::function<void(CDlgAckComments&)> act) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    CDlgAckComments* viewer = g_pAckCommentsDlg;
    if (!viewer || QApplication::activeModalWidget() != viewer || !viewer->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    act(*viewer);
  });
  poll->start();
}

class AckCommandsTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    if (HasFatalFailure()) return;
    // Days are the operator's local days: the records' days here.
    setenv("TZ", "UTC0", 1);
    tzset();
    // Settings and folders of this test's own, also when tests share a process.
    RegDeleteTree(HKEY_LOCAL_MACHINE, kAckLogKey);
    std::string root = std::filesystem::temp_directory_path().string() + "/acklog.XXXXXX";
    ASSERT_TRUE(mkdtemp(root.data()));
    remote_ = root + "/remote";
    local_ = root + "/local";
    std::filesystem::create_directories(remote_);
    std::filesystem::create_directories(local_);
    ASSERT_EQ(SetRemotePath(remote_), 0);
    ASSERT_EQ(SetLocalPath(local_), 0);
    ASSERT_EQ(SetFilterDisplayRange(1), 0);
    std::unique_ptr<CLogDocument> doc = CLogDocument::CreateEmpty();
    for (const AckRecord& r : {Record("Tanks", 1, "t1"), Record("Boilers", 2, "b2"), Record("Tanks", 3, "t3")})
      AppendRecord(*doc, r);
    std::ofstream(remote_ + "/AESERVLOG_2024-05-01.xml") << doc->Serialize();
    app_ = std::make_unique<CTolkAELumServerApp>("");
    ASSERT_TRUE(app_->InitInstance());
  }
  void TearDown() override {
    if (app_) app_->ExitInstance(0);
    app_.reset();
    AppTest::TearDown();
  }
  CMainFrame& Frame() { return *app_->MainFrame(); }

  static std::vector<std::string> Operators(const CDlgAckComments& viewer) {
    std::vector<std::string> shown;
    for (int row = 0; row < viewer.Records().rowCount(); ++row)
      shown.push_back(viewer.Records().RecordAt(row)->operatorName);
    return shown;
  }
  static std::string Pane(const CDlgAckComments& viewer, int id) {
    return viewer.StatusBar()->findChild<QLabel*>(QString::number(id))->text().toStdString();
  }
  static void SelectRow(CDlgAckComments& viewer, int row) {
    QTreeView* list = viewer.List().View();
    list->selectionModel()->select(viewer.Records().index(row, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }

  std::string remote_, local_;
  std::unique_ptr<CTolkAELumServerApp> app_;
};

TEST_F(AckCommandsTest, ViewOpensOneViewerAndFocusesItWhenItIsOpen) {
  EXPECT_EQ(g_pAckCommentsDlg, nullptr);
  bool shown = false;
  WhileViewerOpen([&](CDlgAckComments& viewer) {
    shown = true;
    EXPECT_EQ(Operators(viewer), (std::vector<std::string>{"op-t1", "op-b2", "op-t3"}));
    EXPECT_FALSE(viewer.parentWidget());
    // Chosen again while open: the same viewer, no second one.
    EXPECT_TRUE(Frame().ExecuteCommand(kAckView));
    EXPECT_EQ(g_pAckCommentsDlg, &viewer);
    EXPECT_EQ(QApplication::activeModalWidget(), &viewer);
    if (const char* dir = std::getenv("AE_SCREENSHOT_DIR")) viewer.grab().save(QString(dir) + "/viewer.png");
    viewer.Control<QPushButton>(CDlgAckComments::kCloseButton)->click();
  });
  EXPECT_TRUE(Frame().ExecuteCommand(kAckView));
  EXPECT_TRUE(shown);
  EXPECT_EQ(g_pAckCommentsDlg, nullptr) << "the viewer is gone with its window";
}

TEST_F(AckCommandsTest, ConfigureOpensTheLogFoldersOverTheWindow) {
  const std::string remote = remote_ + "/daily";
  std::filesystem::create_directories(remote);
  bool shown = false;
  auto* poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [&, poll] {
    auto* dialog = dynamic_cast<CDlgAckConfigure*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    shown = true;
    EXPECT_EQ(dialog->parentWidget(), &Frame());
    EXPECT_EQ(dialog->Control<QLineEdit>(CDlgAckConfigure::kLocalEdit)->text().toStdString(), local_);
    dialog->Control<QLineEdit>(CDlgAckConfigure::kRemoteEdit)->setText(QString::fromStdString(remote));
    dialog->Control<QPushButton>(IDOK)->click();
  });
  poll->start();
  EXPECT_TRUE(Frame().ExecuteCommand(kAckConfigure));
  EXPECT_TRUE(shown);
  EXPECT_EQ(GetRemotePath(), remote);
}

struct MenuCommand {
  uint32_t id;
  int32_t (*get)();
  int32_t value;
};

TEST_F(AckCommandsTest, EachMenuCommandStoresItsSettingAndIsCheckedWhileItHolds) {
  const std::vector<MenuCommand> commands = {
      {kLocationRemote, GetFilterDisplayLocation, 0},
      {kLocationLocal, GetFilterDisplayLocation, 1},
      {kLocationCustom, GetFilterDisplayLocation, 2},
      {kDateToday, GetFilterDisplayRange, 0},
      {kDateAll, GetFilterDisplayRange, 1},
      {kDateCustom, GetFilterDisplayRange, 2},
      {kAreaAll, GetFilterDisplayArea, 0},
      {kAreaCustom, GetFilterDisplayArea, 1},
  };
  for (const MenuCommand& command : commands) {
    SCOPED_TRACE(command.id);
    EXPECT_TRUE(Frame().ExecuteCommand(command.id)) << "always enabled";
    EXPECT_EQ(command.get(), command.value);
    for (const MenuCommand& other : commands) {
      if (other.get != command.get) continue;
      EXPECT_EQ(Frame().UpdateCommand(other.id).Checked(), other.id == command.id) << other.id;
    }
  }
  // The two on the selected row set their mode and carry no check mark;
  // without a viewer they change nothing else.
  SetFilterFromDate(CDateTime::FromParts(2024, 4, 1));
  SetFilterCustomAreas({"Z"});
  EXPECT_TRUE(Frame().ExecuteCommand(kDateToday));
  EXPECT_TRUE(Frame().ExecuteCommand(kDateSelected));
  EXPECT_EQ(GetFilterDisplayRange(), 2);
  EXPECT_TRUE(Frame().ExecuteCommand(kAreaAll));
  EXPECT_TRUE(Frame().ExecuteCommand(kAreaSelected));
  EXPECT_EQ(GetFilterDisplayArea(), 1);
  EXPECT_FALSE(Frame().UpdateCommand(kDateSelected).Checked());
  EXPECT_FALSE(Frame().UpdateCommand(kAreaSelected).Checked());
  EXPECT_TRUE(Frame().UpdateCommand(kDateSelected).Enabled());
  EXPECT_EQ(GetFilterFromDate().Format(false), "2024-04-01");
  std::set<std::string> areas;
  GetFilterCustomAreas(areas);
  EXPECT_EQ(areas, (std::set<std::string>{"Z"}));
}

TEST_F(AckCommandsTest, WithTheViewerOpenTheCommandsActOnItAndRefreshIt) {
  WhileViewerOpen([&](CDlgAckComments& viewer) {
    EXPECT_TRUE(Frame().ExecuteCommand(kLocationLocal));
    EXPECT_TRUE(Operators(viewer).empty()) << "the local folder has no records";
    EXPECT_EQ(Pane(viewer, 1030), local_);
    EXPECT_TRUE(Frame().ExecuteCommand(kLocationRemote));
    EXPECT_EQ(Operators(viewer).size(), 3u);

    // Filter on Selected Date without a selection: the stored range, reloaded.
    SetFilterFromDate(CDateTime::FromParts(2024, 5, 2));
    SetFilterToDate(CDateTime::FromParts(2024, 5, 3));
    EXPECT_TRUE(Frame().ExecuteCommand(kDateSelected));
    EXPECT_EQ(GetFilterDisplayRange(), 2);
    EXPECT_EQ(GetFilterFromDate().Format(false), "2024-05-02");
    EXPECT_EQ(Operators(viewer), (std::vector<std::string>{"op-b2", "op-t3"}));

    // The first row's area, and only it.
    EXPECT_TRUE(Frame().ExecuteCommand(kDateAll));
    SelectRow(viewer, 0);
    EXPECT_TRUE(Frame().ExecuteCommand(kAreaSelected));
    EXPECT_EQ(Operators(viewer), (std::vector<std::string>{"op-t1", "op-t3"}));
    EXPECT_EQ(Pane(viewer, 1032), "Area Filter: Tanks");

    // The selected row's day.
    SelectRow(viewer, 1);
    EXPECT_TRUE(Frame().ExecuteCommand(kDateSelected));
    EXPECT_EQ(Operators(viewer), (std::vector<std::string>{"op-t3"}));
    viewer.EndDialog(IDCANCEL);
  });
  EXPECT_TRUE(Frame().ExecuteCommand(kAckView));
}

TEST_F(AckCommandsTest, TheViewersMenuShowsTheWindowsCheckMarksAndRunsItsCommands) {
  SetFilterDisplayLocation(0);
  std::vector<std::string> checked;
  WhileViewerOpen([&](CDlgAckComments& viewer) {
    QTreeView* list = viewer.List().View();
    const QPoint row = list->visualRect(viewer.Records().index(1, 1)).center();
    // Area Filter, Filter on Selected Area: the third popup, its third item.
    QTimer::singleShot(50, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_TRUE(menu);
      for (QAction* popup : menu->actions()) {
        for (QAction* item : popup->menu()->actions())
          if (item->isChecked()) checked.push_back((popup->text() + "/" + item->text()).toStdString());
      }
      for (Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Right}) QTest::keyClick(menu, key);
      QTimer::singleShot(50, [] {
        QWidget* popup = QApplication::activePopupWidget();
        ASSERT_TRUE(popup);
        for (Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Return}) QTest::keyClick(popup, key);
      });
    });
    QTest::mousePress(list->viewport(), Qt::RightButton, {}, row);
    QContextMenuEvent request(QContextMenuEvent::Mouse, row, list->viewport()->mapToGlobal(row));
    QApplication::sendEvent(list->viewport(), &request);
    QTest::mouseRelease(list->viewport(), Qt::RightButton, {}, row);
    EXPECT_EQ(Operators(viewer), (std::vector<std::string>{"op-b2"})) << "the right-clicked row's area";
    viewer.EndDialog(IDCANCEL);
  });
  EXPECT_TRUE(Frame().ExecuteCommand(kAckView));
  EXPECT_EQ(checked, (std::vector<std::string>{"&Location/&Remote", "&Date Filter/&All", "&Area Filter/&All"}));
  EXPECT_EQ(GetFilterDisplayArea(), 1);
}

}  // namespace
