// The program in the test process: start-up and exit, the menu's commands
// and their enable/check rules, the close rules, the close message of the
// last client, the view's lists.
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <future>
#include <thread>

#include "acklog/ack_log_settings.h"
#include "alarmconfig/message_box_sink.h"
#include "app/main_frame.h"
#include "app/main_thread_message_box_sink.h"
#include "app/profile.h"
#include "app/tolk_ae_lum_server_app.h"
#include "app/tolk_ae_lum_server_doc.h"
#include "app/tolk_ae_lum_server_view.h"
#include "app_fixture.h"
#include "callback/alarm_log_instance.h"
#include "platform/com_init.h"
#include "platform/mmtimer.h"
#include "platform/registry.h"
#include "ralto/opc_control.h"
#include "toolkit/server_interface.h"
#include "ui/dialog_result.h"
#include "ui/resource_library.h"

namespace {

enum : uint32_t {
  kExit = 57665,
  kAckView = 32779,
  kAckLogging = 32799,
  kAckConfigure = 32780,
  kEditConnection = 32788,
  kConnect = 32790,
  kDisconnect = 32804,
  kTraceNone = 32771,
  kTraceSubscription = 32774,
  kTraceAll = 32776,
  kTraceComCalls = 32785,
  kSamplePeriod = 32777,
  kAbout = 57664,
};

// Runs `whileOpen` on the next modal dialog, once it shows.
void WhileModal(std::function<void(QWidget&)> whileOpen) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, whileOpen] {
    QWidget* dialog = QApplication::activeModalWidget();
    if (!dialog || !dialog->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    whileOpen(*dialog);
  });
  poll->start();
}

template <class T>
T& Child(QWidget& dialog, const char* name) {
  T* child = dialog.findChild<T*>(QString::fromLatin1(name));
  if (!child) throw std::runtime_error(std::string("no control ") + name);
  return *child;
}

class ProgramTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    if (HasFatalFailure()) return;
    app_ = std::make_unique<CTolkAELumServerApp>("");
  }
  void TearDown() override {
    if (app_) app_->ExitInstance(0);
    app_.reset();
    AppTest::TearDown();
  }
  // Starts the program and waits until it is connected to the example plant.
  void StartConnected() {
    ASSERT_TRUE(app_->InitInstance());
    ASSERT_TRUE(PumpUntil([] { return g_pConnectionManager->connectionState == ConnectionManager::kConnected; }));
  }
  CMainFrame& Frame() { return *app_->MainFrame(); }
  int32_t State() { return g_pConnectionManager->connectionState.load(); }

  std::unique_ptr<CTolkAELumServerApp> app_;
};

TEST_F(ProgramTest, StartsInOrderAndExitsInReverse) {
  ASSERT_TRUE(app_->InitInstance());
  EXPECT_TRUE(CResourceLibrary::IsLoaded());
  EXPECT_EQ(std::filesystem::current_path(), CTolkAELumServerApp::ProgramFolder());
  EXPECT_EQ(TEST_ComInitCount(), 1u);
  EXPECT_EQ(app_->m_timerPeriod, 1u);
  EXPECT_EQ(TEST_TimerPeriodUses(1), 1u);
  ASSERT_NE(app_->MainFrame(), nullptr);
  EXPECT_EQ(Frame().windowTitle(), "Corvane Plantwise OPC AE Server");
  EXPECT_NE(g_pConnectionManager, nullptr);
  EXPECT_NE(g_pAlarmLog.load(), nullptr);
  EXPECT_NE(g_pGlobalInterfaceTable, nullptr);
  // The offscreen platform shows no window to anyone: no message boxes.
  EXPECT_EQ(g_bInteractive.load(), 0);
  EXPECT_TRUE(PumpUntil([this] { return State() == ConnectionManager::kConnected; }));

  EXPECT_EQ(app_->ExitInstance(7), 7);
  EXPECT_EQ(app_->MainFrame(), nullptr);
  EXPECT_FALSE(CResourceLibrary::IsLoaded());
  EXPECT_EQ(g_pConnectionManager, nullptr);
  EXPECT_EQ(g_pAlarmLog.load(), nullptr);
  EXPECT_EQ(TEST_ComInitCount(), 0u);
  EXPECT_EQ(TEST_TimerPeriodUses(1), 0u);
  EXPECT_EQ(app_->m_timerPeriod, CTolkAELumServerApp::kNoTimerPeriod);
  // The toolkit is down: a new start may initialise it again.
  CServerCore again;
  EXPECT_TRUE(again.InitializeToolkit());
  app_.reset();
}

TEST_F(ProgramTest, ExitWithoutStartCopes) {
  EXPECT_EQ(app_->ExitInstance(0), 0);
  EXPECT_EQ(TEST_ComInitCount(), 0u);
  EXPECT_EQ(TEST_TimerPeriodUses(1), 0u);
}

TEST_F(ProgramTest, TraceSettingsAtStartAndFromTheMenu) {
  const std::string traceFile = (std::filesystem::temp_directory_path() / "trace.txt").string();
  CProfile profile("Veltrocorp", CTolkAELumServerApp::AppName());
  ASSERT_TRUE(profile.WriteString("Settings", "Trace File", traceFile));
  ASSERT_TRUE(app_->InitInstance());
  // Level 0 at start: no trace call at all, yet the file name is known.
  EXPECT_FALSE(std::filesystem::exists(traceFile));
  EXPECT_EQ(Frame().TraceFile(), traceFile);
  EXPECT_TRUE(Frame().UpdateCommand(kTraceNone).Checked());

  EXPECT_TRUE(Frame().ExecuteCommand(kTraceSubscription));
  EXPECT_TRUE(std::filesystem::exists(traceFile));
  EXPECT_EQ(profile.GetInt("Settings", "Trace Level", -1), 3);
  EXPECT_TRUE(Frame().UpdateCommand(kTraceSubscription).Checked());
  EXPECT_FALSE(Frame().UpdateCommand(kTraceNone).Checked());

  // The level already set: nothing is called and nothing written.
  ASSERT_EQ(RegDeleteTree(HKEY_CURRENT_USER, profile.Root()), ERROR_SUCCESS);
  EXPECT_TRUE(Frame().ExecuteCommand(kTraceSubscription));
  EXPECT_EQ(profile.GetInt("Settings", "Trace Level", -1), -1);

  EXPECT_FALSE(Frame().UpdateCommand(kTraceComCalls).Checked());
  EXPECT_TRUE(Frame().ExecuteCommand(kTraceComCalls));
  EXPECT_TRUE(Frame().UpdateCommand(kTraceComCalls).Checked());
}

TEST_F(ProgramTest, StoredTraceLevelIsAppliedWhenTheFrameIsBuilt) {
  const std::string traceFile = (std::filesystem::temp_directory_path() / "start-trace.txt").string();
  CProfile profile("Veltrocorp", CTolkAELumServerApp::AppName());
  ASSERT_TRUE(profile.WriteString("Settings", "Trace File", traceFile));
  ASSERT_TRUE(profile.WriteInt("Settings", "Trace Level", 5));
  ASSERT_TRUE(app_->InitInstance());
  EXPECT_TRUE(std::filesystem::exists(traceFile));
  EXPECT_EQ(Frame().TraceLevel(), 5);
  EXPECT_TRUE(Frame().UpdateCommand(kTraceAll).Checked());
}

TEST_F(ProgramTest, ConnectionCommandsFollowTheState) {
  StartConnected();
  EXPECT_FALSE(Frame().UpdateCommand(kConnect).Enabled());
  EXPECT_TRUE(Frame().UpdateCommand(kDisconnect).Enabled());
  EXPECT_TRUE(Frame().ExecuteCommand(kDisconnect));
  EXPECT_EQ(State(), ConnectionManager::kNotConnected);
  EXPECT_TRUE(Frame().UpdateCommand(kConnect).Enabled());
  EXPECT_FALSE(Frame().UpdateCommand(kDisconnect).Enabled());
  EXPECT_FALSE(Frame().ExecuteCommand(kDisconnect)) << "a disabled command does not run";

  for (int32_t state : {int32_t{ConnectionManager::kInvalidServer}, int32_t{ConnectionManager::kConnecting}, 9}) {
    g_pConnectionManager->connectionState = state;
    EXPECT_EQ(Frame().UpdateCommand(kConnect).Enabled(), state == ConnectionManager::kInvalidServer) << state;
    EXPECT_FALSE(Frame().UpdateCommand(kDisconnect).Enabled()) << state;
  }
  g_pConnectionManager->connectionState = ConnectionManager::kNotConnected;
  EXPECT_TRUE(Frame().ExecuteCommand(kConnect));
  EXPECT_TRUE(PumpUntil([this] { return State() == ConnectionManager::kConnected; }));
}

// What a popup shows when it opens: the update handlers' states.
TEST_F(ProgramTest, PopupsShowTheCommandsStatesWhenTheyOpen) {
  StartConnected();
  QMenu* connection = nullptr;
  QMenu* trace = nullptr;
  for (QAction* action : Frame().menuBar()->actions()) {
    if (action->text() == "&Connection") connection = action->menu();
    if (action->text() == "&Trace") trace = action->menu();
  }
  ASSERT_TRUE(connection && trace);
  auto item = [](QMenu* menu, const QString& text) -> QAction& {
    for (QAction* action : menu->actions())
      if (action->text() == text) return *action;
    throw std::runtime_error("no item " + text.toStdString());
  };
  connection->popup(QPoint(10, 10));
  EXPECT_FALSE(item(connection, "&Connect").isEnabled());
  EXPECT_TRUE(item(connection, "&Disconnect").isEnabled());
  if (const char* dir = std::getenv("AE_SCREENSHOT_DIR")) connection->grab().save(QString(dir) + "/connection-menu.png");
  connection->hide();

  ASSERT_TRUE(Frame().ExecuteCommand(kTraceSubscription));
  trace->popup(QPoint(10, 10));
  EXPECT_TRUE(item(trace, "Subscription").isChecked());
  EXPECT_FALSE(item(trace, "None").isChecked());
  if (const char* dir = std::getenv("AE_SCREENSHOT_DIR")) trace->grab().save(QString(dir) + "/trace-menu.png");
  trace->hide();

  // Choosing an item runs its command.
  item(trace, "None").trigger();
  EXPECT_EQ(Frame().TraceLevel(), 0);
}

TEST_F(ProgramTest, AcknowledgementMenu) {
  ASSERT_TRUE(app_->InitInstance());
  // View... and Configure... are always there.
  EXPECT_TRUE(Frame().UpdateCommand(kAckView).Enabled());
  EXPECT_TRUE(Frame().UpdateCommand(kAckConfigure).Enabled());
  EXPECT_FALSE(Frame().UpdateCommand(kAckView).Checked());

  bool before = IsLoggingEnabled();
  EXPECT_EQ(Frame().UpdateCommand(kAckLogging).Checked(), before);
  EXPECT_TRUE(Frame().ExecuteCommand(kAckLogging));
  EXPECT_EQ(IsLoggingEnabled(), !before);
  EXPECT_EQ(Frame().UpdateCommand(kAckLogging).Checked(), !before);
}

TEST_F(ProgramTest, EditConnectionRefusedWhileConnectingAndKeptOnNo) {
  StartConnected();
  g_pConnectionManager->connectionState = ConnectionManager::kConnecting;
  EXPECT_TRUE(Frame().ExecuteCommand(kEditConnection));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0], "Cannot edit connection while connecting!");
  g_pConnectionManager->connectionState = ConnectionManager::kConnected;

  AnswerBoxes({IDNO});
  EXPECT_TRUE(Frame().ExecuteCommand(kEditConnection));
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[1], "Cannot edit connection while connected.\nDisconnect?");
  EXPECT_EQ(State(), ConnectionManager::kConnected) << "No leaves the connection alone";
}

TEST_F(ProgramTest, EditConnectionDisconnectsStoresAndConnectsAgain) {
  StartConnected();
  AnswerBoxes({IDYES});
  WhileModal([](QWidget& dialog) {
    EXPECT_EQ(Child<QLineEdit>(dialog, "1000").text(), "Brixham.RaltoOPC");
    Child<QLineEdit>(dialog, "1001").setText("250");
    Child<QPushButton>(dialog, "1").click();
  });
  EXPECT_TRUE(Frame().ExecuteCommand(kEditConnection));
  ASSERT_EQ(Boxes().size(), 1u);
  std::string name;
  DWORD rate = 0;
  ConnectionManager::ReadSettings(name, rate);
  EXPECT_EQ(name, "Brixham.RaltoOPC");
  EXPECT_EQ(rate, 250u);
  EXPECT_NE(State(), ConnectionManager::kNotConnected) << "connecting again";
  EXPECT_TRUE(PumpUntil([this] { return State() == ConnectionManager::kConnected; }));

  // Cancel stores nothing and does not reconnect.
  g_pConnectionManager->Disconnect();
  WhileModal([](QWidget& dialog) {
    Child<QLineEdit>(dialog, "1001").setText("5000");
    Child<QPushButton>(dialog, "2").click();
  });
  EXPECT_TRUE(Frame().ExecuteCommand(kEditConnection));
  ConnectionManager::ReadSettings(name, rate);
  EXPECT_EQ(rate, 250u);
  EXPECT_EQ(State(), ConnectionManager::kNotConnected);
}

TEST_F(ProgramTest, SamplePeriodStartsFromTheToolkitsAndIsApplied) {
  ASSERT_TRUE(app_->InitInstance());
  g_ServerInterface.SetStatsSamplePeriod(4321);
  WhileModal([](QWidget& dialog) {
    EXPECT_EQ(Child<QLineEdit>(dialog, "1000").text(), "4321");
    Child<QLineEdit>(dialog, "1000").setText("1500");
    Child<QPushButton>(dialog, "1").click();
  });
  EXPECT_TRUE(Frame().ExecuteCommand(kSamplePeriod));
  VARIANT period;
  g_ServerInterface.GetStatistic(0, &period);
  EXPECT_EQ(period.lVal, 1500);
}

TEST_F(ProgramTest, AboutShowsTheVersionAndTheNoticeInThreeParts) {
  ASSERT_TRUE(app_->InitInstance());
  WhileModal([](QWidget& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "About Corvane Plantwise OPC AE Server");
    EXPECT_EQ(Child<QLabel>(dialog, "1017").text(), "Version " AE_VERSION_TEXT);
    EXPECT_EQ(Child<QLabel>(dialog, "1018").text(), QString::fromUtf8("Copyright \u00A9 2026"));
    EXPECT_EQ(Child<QLabel>(dialog, "1020").text(), "Veltrocorp");
    EXPECT_EQ(Child<QLabel>(dialog, "1021").text(), "All rights reserved.");
    EXPECT_FALSE(Child<QLabel>(dialog, "icon_1").pixmap().isNull());
    if (const char* dir = std::getenv("AE_SCREENSHOT_DIR")) dialog.grab().save(QString(dir) + "/about.png");
    Child<QPushButton>(dialog, "1").click();
  });
  EXPECT_TRUE(Frame().ExecuteCommand(kAbout));
}

// The import's message boxes come up on the main thread while the import
// waits; closing the sink lets a waiting import go on without an answer.
TEST_F(ProgramTest, ImportMessageBoxesAreShownOnTheMainThread) {
  CMainThreadMessageBoxSink sink(nullptr);
  sink.Install();
  auto shown = std::async(std::launch::async, [] { ShowMessageBox("from the import", MessageBoxIcon::Exclamation); });
  EXPECT_TRUE(PumpUntil([&] { return shown.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0], "from the import");

  auto waiting = std::async(std::launch::async, [] { ShowMessageBox("never seen", MessageBoxIcon::NoIcon); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the box is queued, the main thread busy
  sink.Close();
  EXPECT_EQ(waiting.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  QCoreApplication::processEvents();
  EXPECT_EQ(Boxes().size(), 1u) << "a box released by Close is not shown afterwards";
}

// The close rules apply while a person sees the window: a frame on screen.
class CloseRulesTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    if (HasFatalFailure()) return;
    StartConnected();
    if (HasFatalFailure()) return;
    frame_ = std::make_unique<CMainFrame>(link_, profile_, true);
    ASSERT_TRUE(frame_->Create(document_));
    frame_->SetClosedHandler([this] { ++closed_; });
    frame_->show();
  }
  void TearDown() override {
    frame_.reset();
    ProgramTest::TearDown();
  }
  bool TryClose() {
    frame_->ExecuteCommand(kExit);
    return closed_ > 0;
  }

  CFrameWindowLink link_;
  CProfile profile_{"Veltrocorp", "close-test"};
  CTolkAELumServerDoc document_{"Corvane Plantwise OPC AE Server\n\n"};
  std::unique_ptr<CMainFrame> frame_;
  int closed_ = 0;
};

TEST_F(CloseRulesTest, ClosesAtOnceWithoutClientsOrAttempt) {
  EXPECT_TRUE(TryClose());
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(CloseRulesTest, RefusedWhileAConnectionAttemptRuns) {
  ASSERT_EQ(control_->HangCall(RALTO_CALL_ADDITEMS), S_OK);
  g_pConnectionManager->Disconnect();
  g_pConnectionManager->Connect();
  DWORD hung = 0;
  ASSERT_TRUE(PumpUntil([&] { return SUCCEEDED(control_->GetHungCallers(&hung)) && hung == 1; }));
  EXPECT_FALSE(TryClose());
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0], "Cannot exit while connections are attempting to connect!'");
  EXPECT_TRUE(frame_->isVisible());
  ASSERT_EQ(control_->ClearFailures(), S_OK);
  ASSERT_TRUE(PumpUntil([this] { return g_pConnectionManager->IsIdle(); }));
  EXPECT_TRUE(TryClose());
}

TEST_F(CloseRulesTest, AsksWhileClientsAreAttached) {
  ComPtr<IUnknown> client = ConnectClient();
  AnswerBoxes({IDCANCEL});
  EXPECT_FALSE(TryClose());
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0], "Shutting down server will close all client connections.");

  // The close box: the system command asks, and the close request asks again.
  AnswerBoxes({IDOK, IDCANCEL});
  EXPECT_TRUE(frame_->OnSysCommand(CMainFrame::SC_CLOSE | 0x2));
  EXPECT_EQ(Boxes().size(), 2u);
  AnswerBoxes({IDCANCEL});
  EXPECT_FALSE(frame_->OnSysCommand(CMainFrame::SC_CLOSE)) << "Cancel drops the command";
  EXPECT_TRUE(frame_->OnSysCommand(0xF020)) << "other system commands pass untouched";
  EXPECT_EQ(Boxes().size(), 3u);

  AnswerBoxes({IDOK});
  EXPECT_TRUE(TryClose());
}

TEST_F(CloseRulesTest, TheCloseMessageClosesWithoutAsking) {
  ComPtr<IUnknown> client = ConnectClient();
  link_.PostCloseMessage();
  EXPECT_TRUE(PumpUntil([this] { return closed_ > 0; }));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_FALSE(link_.Exists());
  link_.PostCloseMessage();  // the frame has gone: nothing arrives
  QCoreApplication::processEvents();
}

TEST_F(ProgramTest, TheLastClientsGoingEndsTheProgram) {
  StartConnected();
  ComPtr<IUnknown> client = ConnectClient();
  ASSERT_TRUE(g_ServerInterface.IsServerInUse());
  client.Reset();
  // The closed frame ends the message loop the program runs.
  EXPECT_TRUE(PumpUntil([this] { return !app_->WindowLink().Exists(); }));
}

TEST_F(ProgramTest, ViewShowsTheConnectionAndTheStatistics) {
  StartConnected();
  CTolkAELumServerView& view = *Frame().View();
  QTreeWidget& connection = *view.ConnectionList();
  QTreeWidget& statistics = *view.StatisticsList();
  EXPECT_EQ(connection.objectName(), "1000");
  EXPECT_EQ(statistics.objectName(), "1000");
  auto blanks = [](int n) { return QString(n, QLatin1Char(' ')); };
  EXPECT_EQ(connection.headerItem()->text(0), "Status" + blanks(8));
  EXPECT_EQ(connection.headerItem()->text(1), "Server Name" + blanks(2));
  EXPECT_EQ(statistics.headerItem()->text(0), "Statistic" + blanks(5));
  EXPECT_EQ(statistics.headerItem()->text(1), "Value" + blanks(9));
  EXPECT_EQ(connection.topLevelItem(0)->text(1), "Brixham.RaltoOPC");
  ASSERT_EQ(statistics.topLevelItemCount(), 7);
  EXPECT_EQ(statistics.topLevelItem(0)->text(0), "Sample Period (ms)");
  EXPECT_EQ(statistics.topLevelItem(6)->text(0), "Num Events Last Sample Period");
  // Every label fits its column.
  int widest = 0;
  for (int i = 0; i < 7; ++i)
    widest = std::max(widest, statistics.fontMetrics().horizontalAdvance(statistics.topLevelItem(i)->text(0)));
  EXPECT_GE(statistics.columnWidth(0), widest + 40);

  view.OnConnectionTimer();
  EXPECT_EQ(connection.topLevelItem(0)->text(0), "Connected");
  g_pConnectionManager->connectionState = 9;
  view.OnConnectionTimer();
  EXPECT_EQ(connection.topLevelItem(0)->text(0), "") << "a state outside the table";
  g_pConnectionManager->connectionState = ConnectionManager::kInvalidServer;
  view.OnConnectionTimer();
  EXPECT_EQ(connection.topLevelItem(0)->text(0), "Invalid Server");
  g_pConnectionManager->connectionState = ConnectionManager::kConnected;

  g_ServerInterface.SetStatsSamplePeriod(2500);
  ComPtr<IUnknown> client = ConnectClient();
  view.OnStatisticsTimer();
  EXPECT_EQ(statistics.topLevelItem(0)->text(1), "2500");
  EXPECT_EQ(statistics.topLevelItem(1)->text(1), "1");
}

TEST_F(ProgramTest, ResizingKeepsTheQuarterSplit) {
  ASSERT_TRUE(app_->InitInstance());
  CTolkAELumServerView& view = *Frame().View();
  for (QSize size : {QSize(640, 480), QSize(300, 203), QSize(1200, 900)}) {
    Frame().resize(size);
    QCoreApplication::processEvents();
    int height = view.height();
    EXPECT_EQ(view.ConnectionList()->geometry(), QRect(0, 0, view.width(), height / 4)) << height;
    EXPECT_EQ(view.StatisticsList()->geometry(), QRect(0, height / 4, view.width(), height - height / 4)) << height;
  }
}

}  // namespace
