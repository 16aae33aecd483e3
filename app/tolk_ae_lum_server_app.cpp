#include "app/tolk_ae_lum_server_app.h"

#include <unistd.h>

#include <cstdio>

#include <QCoreApplication>
#include <QGuiApplication>

#include <filesystem>

#include "alarmconfig/message_box_sink.h"
#include "app/main_frame.h"
#include "app/main_thread_message_box_sink.h"
#include "app/registration_switch.h"
#include "app/string_ids.h"
#include "app/tolk_ae_lum_server_doc.h"
#include "platform/com_init.h"
#include "platform/debug.h"
#include "platform/mmtimer.h"
#include "toolkit/dbus/dbus_names.h"
#include "toolkit/dbus/dbus_service_file.h"
#include "toolkit/server_interface.h"
#include "ui/resource_library.h"

namespace {

constexpr char kRegistryKey[] = "Veltrocorp";

std::filesystem::path ProgramPath() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec);
}

// Whether a person can see the program's windows: not on the offscreen
// platform, which the program uses when there is no display.
bool WindowsReachAScreen() {
  QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

}  // namespace

CTolkAELumServerApp::CTolkAELumServerApp(std::string commandLine)
    : commandLine_(std::move(commandLine)), core_(link_), profile_(kRegistryKey, AppName()) {}

CTolkAELumServerApp::~CTolkAELumServerApp() = default;

std::string CTolkAELumServerApp::BusName() {
  return aedbus::BusNameFromProgId(CServerCore::Registration().progId);
}

std::string CTolkAELumServerApp::AppName() { return ProgramPath().stem().string(); }

std::string CTolkAELumServerApp::ProgramFolder() { return ProgramPath().parent_path().string(); }

bool CTolkAELumServerApp::InitInstance() {
  // Without its resources the program has nothing to show, not even a
  // message: it ends silently.
  const std::string folder = ProgramFolder();
  if (!CResourceLibrary::Load(QString::fromStdString(folder))) return false;
  if (chdir(folder.c_str()) != 0) DebugOutput("Cannot make the program folder the current directory\n");

  comInitialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  CoInitializeSecurity(-1, RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IDENTIFY, EOAC_NONE);

  if (!core_.InitializeToolkit()) return false;

  TIMECAPS caps;
  if (timeGetDevCaps(&caps, sizeof caps) == TIMERR_NOERROR) {
    m_timerPeriod = std::min(std::max(caps.wPeriodMin, UINT{1}), caps.wPeriodMax);
    timeBeginPeriod(m_timerPeriod);
  }

  switch (FindRegistrationSwitch(commandLine_)) {
    case RegistrationSwitch::UnregServer:
      g_ServerInterface.UnregisterServer();
      CAEDBusServiceFile::Remove(BusName(), nullptr);
      return false;
    case RegistrationSwitch::RegServer:
      g_ServerInterface.RegisterServer();
      if (std::string error; !CAEDBusServiceFile::Write(BusName(), ProgramPath().string(), &error)) {
        std::fprintf(stderr, "aeserver: %s\n", error.c_str());
      }
      return false;
    case RegistrationSwitch::None:
      break;
  }

  core_.DeclareServer();
  core_.CreateConnectionManager();

  document_ = std::make_unique<CTolkAELumServerDoc>(CResourceLibrary::String(kStringDocumentTemplate));
  frame_ = std::make_unique<CMainFrame>(link_, profile_, WindowsReachAScreen());
  if (!frame_->Create(*document_)) return false;
  frame_->SetClosedHandler([] { QCoreApplication::quit(); });
  frame_->show();
  g_bInteractive.store(frame_->IsWindowVisible() ? 1 : 0);
  messageBoxes_ = std::make_unique<CMainThreadMessageBoxSink>(frame_.get());
  messageBoxes_->Install();

  core_.CreateAlarmLog();
  frame_->update();
  core_.Connect();
  // Other processes reach the server once it is whole; without a bus it
  // still serves the clients in its own process.
  std::string error;
  switch (transport_.Start(kServerClsid, CServerCore::Registration().progId, AeDBusBus::kSession, &error)) {
    case AeDBusStart::kStarted:
    case AeDBusStart::kAlreadyStarted:
      break;
    case AeDBusStart::kNoBus:
      std::fprintf(stderr, "aeserver: no session bus (%s); serving no other processes\n", error.c_str());
      break;
    case AeDBusStart::kNameTaken:
      std::fprintf(stderr, "aeserver: the bus name is taken (%s); serving no other processes\n", error.c_str());
      break;
  }
  return true;
}

int CTolkAELumServerApp::ExitInstance(int exitCode) {
  // No connection thread may wait for an operator while it is stopped.
  if (messageBoxes_) messageBoxes_->Close();
  frame_.reset();
  // Before the resource library: a client's acknowledgement still being
  // served would otherwise be written back and logged with the texts of
  // its outcome gone. Stop lets that call finish and takes no more.
  transport_.Stop();
  CResourceLibrary::Free();
  core_.Stop();
  messageBoxes_.reset();
  if (comInitialized_) {
    CoUninitialize();
    comInitialized_ = false;
  }
  if (m_timerPeriod != kNoTimerPeriod) {
    timeEndPeriod(m_timerPeriod);
    m_timerPeriod = kNoTimerPeriod;
  }
  return exitCode;
}
