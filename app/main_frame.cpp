#include "app/main_frame.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>

#include "acklog/ack_log_settings.h"
#include "app/about_dlg.h"
#include "app/frame_window_link.h"
#include "ui/menu_resource.h"
#include "app/profile.h"
#include "app/string_ids.h"
#include "app/tolk_ae_lum_server_doc.h"
#include "app/tolk_ae_lum_server_view.h"
#include "opcda/connection_manager.h"
#include "toolkit/server_interface.h"
#include "ui/dialog_result.h"
#include "ui/dlg_ack_comments.h"
#include "ui/dlg_ack_configure.h"
#include "ui/dlg_edit_da_connection.h"
#include "ui/dlg_stats_sample_pd.h"
#include "ui/html_help.h"
#include "ui/message_box.h"
#include "ui/resource_library.h"

namespace {

constexpr uint32_t kMainMenu = 128;
constexpr char kSettings[] = "Settings";
constexpr char kTraceLevelEntry[] = "Trace Level";
constexpr char kTraceFileEntry[] = "Trace File";
constexpr char kDefaultTraceFile[] = "AETrace.txt";
constexpr char kShutdownByUser[] = "Shutdown by user request";

// The command IDs of menu 128.
enum Command : uint32_t {
  ID_APP_EXIT = 57665,
  ID_STATS_SET_SAMPLE_PERIOD = 32777,
  ID_ACK_VIEW = 32779,
  ID_ACK_ENABLE_LOGGING = 32799,
  ID_ACK_CONFIGURE = 32780,
  ID_CONNECTION_EDIT = 32788,
  ID_CONNECTION_CONNECT = 32790,
  ID_CONNECTION_DISCONNECT = 32804,
  ID_TRACE_NONE = 32771,  // to ID_TRACE_ALL: levels 0 to 5
  ID_TRACE_ALL = 32776,
  ID_TRACE_SET_FILE = 32778,
  ID_TRACE_COM_CALLS = 32785,
  ID_HELP_INDEX = 57666,
  ID_APP_ABOUT = 57664,
};

// The commands of the comments viewer's context menu (menu 1003).
enum FilterCommandId : uint32_t {
  ID_FILTER_AREA_ALL = 32800,
  ID_FILTER_DATE_TODAY = 32801,
  ID_FILTER_DATE_ALL = 32802,
  ID_FILTER_AREA_SELECTED = 32803,
  ID_FILTER_LOCATION_REMOTE = 32805,
  ID_FILTER_DATE_CUSTOM = 32806,
  ID_FILTER_AREA_CUSTOM = 32807,
  ID_FILTER_LOCATION_CUSTOM = 32808,
  ID_FILTER_LOCATION_LOCAL = 32809,
  ID_FILTER_DATE_SELECTED = 32810,
};

// One context-menu command: the filter setting it stores, what the viewer
// does next (before its refresh), and whether the item carries a check
// mark while the setting holds its value.
struct FilterCommand {
  uint32_t id;
  LONG (*set)(DWORD);
  int32_t (*get)();
  DWORD value;
  void (CDlgAckComments::*then)();
  bool checkMark;
};

const FilterCommand kFilterCommands[] = {
    {ID_FILTER_LOCATION_REMOTE, SetFilterDisplayLocation, GetFilterDisplayLocation, 0, nullptr, true},
    {ID_FILTER_LOCATION_LOCAL, SetFilterDisplayLocation, GetFilterDisplayLocation, 1, nullptr, true},
    {ID_FILTER_LOCATION_CUSTOM, SetFilterDisplayLocation, GetFilterDisplayLocation, 2, nullptr, true},
    {ID_FILTER_DATE_TODAY, SetFilterDisplayRange, GetFilterDisplayRange, 0, nullptr, true},
    {ID_FILTER_DATE_ALL, SetFilterDisplayRange, GetFilterDisplayRange, 1, nullptr, true},
    {ID_FILTER_DATE_CUSTOM, SetFilterDisplayRange, GetFilterDisplayRange, 2, nullptr, true},
    {ID_FILTER_DATE_SELECTED, SetFilterDisplayRange, GetFilterDisplayRange, 2, &CDlgAckComments::FilterOnSelectedDate,
     false},
    {ID_FILTER_AREA_ALL, SetFilterDisplayArea, GetFilterDisplayArea, 0, nullptr, true},
    {ID_FILTER_AREA_CUSTOM, SetFilterDisplayArea, GetFilterDisplayArea, 1, nullptr, true},
    {ID_FILTER_AREA_SELECTED, SetFilterDisplayArea, GetFilterDisplayArea, 1, &CDlgAckComments::FilterOnSelectedArea,
     false},
};

int32_t CurrentState() {
  ConnectionManager* manager = g_pConnectionManager;
  return manager ? manager->connectionState.load() : ConnectionManager::kNotConnected;
}

}  // namespace

CMainFrame::CMainFrame(CFrameWindowLink& link, const CProfile& profile, bool onScreen)
    : link_(link), profile_(profile), onScreen_(onScreen) {
  m_traceLevel = profile_.GetInt(kSettings, kTraceLevelEntry, 0);
  m_traceFile = profile_.GetString(kSettings, kTraceFileEntry, kDefaultTraceFile);
  if (m_traceLevel != 0) g_ServerInterface.SetTraceInfo(m_traceLevel, 1, m_traceFile, kTraceMaxBytes);
  g_ServerInterface.ValidateSourcesInSetFilter(false);
  g_ServerInterface.ValidateAreasInSetFilter(false);
  MapCommands();
}

CMainFrame::~CMainFrame() {
  CDlgAckComments::SetMenuCommands(nullptr);
  link_.Detach(this);
}

bool CMainFrame::Create(const CTolkAELumServerDoc& document) {
  if (!CMenuResource::LoadMenuBar(kMainMenu, *menuBar())) return false;
  for (QAction* action : menuBar()->actions()) {
    QMenu* popup = action->menu();
    if (!popup) continue;
    connect(popup, &QMenu::aboutToShow, this, [this, popup] { CMenuResource::UpdateFromCommands(*popup, commands_); });
    connect(popup, &QMenu::triggered, this, [this](QAction* item) {
      if (uint32_t id = CMenuResource::CommandId(*item)) ExecuteCommand(id);
    });
  }
  setWindowTitle(document.WindowTitle());
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->geometry();
    move(area.width() / 3, area.height() / 3);
    resize(area.width() / 3, area.height() / 3);
  }
  view_ = new CTolkAELumServerView(this);
  setCentralWidget(view_);
  view_->OnInitialUpdate();
  // The comments viewer's context menu is this window's.
  CDlgAckComments::SetMenuCommands(&commands_);
  link_.Attach(this);
  return true;
}

bool CMainFrame::IsWindowVisible() const { return onScreen_ && isVisible(); }

void CMainFrame::MapCommands() {
  commands_.On(ID_APP_EXIT, [this] { close(); });
  commands_.On(ID_STATS_SET_SAMPLE_PERIOD, [this] { OnSetSamplePeriod(); });
  commands_.On(
      ID_ACK_ENABLE_LOGGING, [] { SetLoggingEnabled(!IsLoggingEnabled()); },
      [](CCmdUI& ui) { ui.SetCheck(IsLoggingEnabled()); });
  commands_.On(ID_CONNECTION_EDIT, [this] { OnEditConnection(); });
  commands_.On(
      ID_CONNECTION_CONNECT,
      [] {
        if (g_pConnectionManager) g_pConnectionManager->Connect();
      },
      [](CCmdUI& ui) {
        int32_t state = CurrentState();
        ui.Enable(state == ConnectionManager::kNotConnected || state == ConnectionManager::kInvalidServer);
      });
  commands_.On(
      ID_CONNECTION_DISCONNECT,
      [] {
        if (g_pConnectionManager) g_pConnectionManager->Disconnect();
      },
      [](CCmdUI& ui) { ui.Enable(CurrentState() == ConnectionManager::kConnected); });
  for (uint32_t id = ID_TRACE_NONE; id <= ID_TRACE_ALL; ++id) {
    int level = static_cast<int>(id - ID_TRACE_NONE);
    commands_.On(
        id, [this, level] { OnTraceLevel(level); }, [this, level](CCmdUI& ui) { ui.SetCheck(m_traceLevel == level); });
  }
  commands_.On(ID_TRACE_SET_FILE, [this] { OnSetTraceFile(); });
  commands_.On(
      ID_TRACE_COM_CALLS, [this] { OnComCallTracing(); }, [this](CCmdUI& ui) { ui.SetCheck(m_comCallTracing); });
  commands_.On(ID_HELP_INDEX, [this] { OnHelpIndex(); });
  commands_.On(ID_APP_ABOUT, [this] { OnAbout(); });
  commands_.On(ID_ACK_VIEW, [this] { OnViewComments(); });
  commands_.On(ID_ACK_CONFIGURE, [this] { OnConfigureLog(); });
  for (const FilterCommand& command : kFilterCommands) {
    commands_.On(
        command.id,
        [&command] {
          command.set(command.value);
          if (CDlgAckComments* viewer = g_pAckCommentsDlg) {
            if (command.then) (viewer->*command.then)();
            viewer->Refresh();
          }
        },
        [&command](CCmdUI& ui) { ui.SetCheck(command.checkMark && command.get() == int32_t(command.value)); });
  }
}

bool CMainFrame::CloseRequestAllowed() {
  if (g_pConnectionManager && !g_pConnectionManager->IsIdle() && IsWindowVisible()) {
    CMessageBox::Show(this, CResourceLibrary::String(kStringExitWhileConnecting), CMessageBox::Buttons::Ok,
                      CMessageBox::Icon::Exclamation);
    return false;
  }
  if (g_ServerInterface.IsServerInUse() && IsWindowVisible() &&
      CMessageBox::Show(this, CResourceLibrary::String(kStringShutdownWarning), CMessageBox::Buttons::OkCancel,
                        CMessageBox::Icon::Exclamation) != IDOK) {
    return false;
  }
  g_ServerInterface.RequestDisconnect(kShutdownByUser);
  return true;
}

bool CMainFrame::OnSysCommand(uint32_t command) {
  if ((command & 0xFFF0) != SC_CLOSE || !g_ServerInterface.IsServerInUse()) return true;
  if (CMessageBox::Show(this, CResourceLibrary::String(kStringShutdownWarning), CMessageBox::Buttons::OkCancel,
                        CMessageBox::Icon::Exclamation) != IDOK) {
    return false;
  }
  g_ServerInterface.RequestDisconnect(kShutdownByUser);
  return true;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  // A close from the window manager (close box, system menu, Alt+F4) is the
  // system close command, which then becomes the close request.
  bool allowed = closeApproved_ || ((!event->spontaneous() || OnSysCommand(SC_CLOSE)) && CloseRequestAllowed());
  if (!allowed) {
    event->ignore();
    return;
  }
  event->accept();
  link_.Detach(this);
  if (closed_) closed_();
}

bool CMainFrame::event(QEvent* event) {
  if (event->type() != kCloseNoClientsEvent) return QMainWindow::event(event);
  g_ServerInterface.RequestDisconnect(kShutdownByUser);
  closeApproved_ = true;
  close();
  return true;
}

void CMainFrame::OnEditConnection() {
  int32_t state = CurrentState();
  if (state == ConnectionManager::kConnecting) {
    CMessageBox::Show(this, CResourceLibrary::String(kStringEditWhileConnecting), CMessageBox::Buttons::Ok,
                      CMessageBox::Icon::Exclamation);
    return;
  }
  if (state == ConnectionManager::kConnected) {
    if (CMessageBox::Show(this, CResourceLibrary::String(kStringEditWhileConnected), CMessageBox::Buttons::YesNo,
                          CMessageBox::Icon::Question) != IDYES) {
      return;
    }
    if (g_pConnectionManager) g_pConnectionManager->Disconnect();
  }
  CDlgEditDAConnection dialog(this);
  if (dialog.DoModal() != IDOK) return;
  if (view_) view_->RefreshConnectionRow();
  if (g_pConnectionManager) g_pConnectionManager->Connect();
}

void CMainFrame::OnSetSamplePeriod() {
  VARIANT period;
  g_ServerInterface.GetStatistic(0, &period);
  CDlgStatsSamplePd dialog(this);
  dialog.m_samplePeriodMs = static_cast<uint32_t>(period.lVal);
  if (dialog.DoModal() == IDOK) g_ServerInterface.SetStatsSamplePeriod(dialog.m_samplePeriodMs);
}

void CMainFrame::OnTraceLevel(int level) {
  if (level == m_traceLevel) return;
  m_traceLevel = level;
  g_ServerInterface.SetTraceInfo(level, 1, m_traceFile, kTraceMaxBytes);
  profile_.WriteInt(kSettings, kTraceLevelEntry, level);
}

void CMainFrame::OnSetTraceFile() {
  QFileDialog dialog(this);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  dialog.selectFile(QString::fromStdString(m_traceFile));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  m_traceFile = dialog.selectedFiles().first().toStdString();
  g_ServerInterface.SetTraceInfo(m_traceLevel, 1, m_traceFile, kTraceMaxBytes);
  profile_.WriteString(kSettings, kTraceFileEntry, m_traceFile);
}

void CMainFrame::OnComCallTracing() {
  m_comCallTracing = !m_comCallTracing;
  g_ServerInterface.EnableCOMCallTracing(m_comCallTracing);
}

void CMainFrame::OnHelpIndex() { HtmlHelpW(HelpFilePath(), HH_DISPLAY_TOPIC, 0); }

void CMainFrame::OnViewComments() {
  if (CDlgAckComments* open = g_pAckCommentsDlg) {
    open->activateWindow();
    open->raise();
    open->setFocus(Qt::OtherFocusReason);
    return;
  }
  CDlgAckComments viewer;
  viewer.DoModal();
}

void CMainFrame::OnConfigureLog() {
  CDlgAckConfigure dialog(this);
  dialog.DoModal();
}

void CMainFrame::OnAbout() {
  CAboutDlg dialog(this);
  dialog.DoModal();
}
