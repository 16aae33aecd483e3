#include "server/server_core.h"

#include <atomic>

#include "alarmconfig/config.h"
#include "callback/alarm_log_instance.h"
#include "callback/main_window_link.h"
#include "alarmconfig/tracked_mutex.h"
#include "opcda/opc_da_client.h"
#include "platform/class_factory.h"
#include "platform/global_interface_table.h"
#include "platform/sync.h"
#include "toolkit/cfg_db.h"
#include "toolkit/opcae.h"
#include "toolkit/source_cache.h"

namespace {

constexpr char kVendor[] = "Veltrocorp";
constexpr char kAreaDelimiter = '/';

}  // namespace

// The main window of a server without one: it exists while the core runs,
// and its close message ends the run.
class CServerCore::CHeadlessWindow : public CMainWindowLink {
 public:
  bool Exists() override { return exists_.load(); }
  void PostCloseMessage() override { closeRequested_.Set(); }

  void SetExists(bool exists) { exists_.store(exists); }
  bool WaitForClose(DWORD timeoutMs) { return closeRequested_.Wait(timeoutMs); }

 private:
  std::atomic<bool> exists_{false};
  ae::Event closeRequested_{ae::Event::kManualReset, false};
};

CServerCore::CServerCore() : CServerCore(nullptr, CAlarmProcessor::Timing(), ae::Clock::System()) {
  headless_ = std::make_unique<CHeadlessWindow>();
  ownCallback_ = std::make_unique<CLumAEServerCallback>();
  ownCallback_->SetMainWindowLink(headless_.get());
  callback_ = ownCallback_.get();
}

CServerCore::CServerCore(CMainWindowLink& window)
    : CServerCore(nullptr, CAlarmProcessor::Timing(), ae::Clock::System()) {
  ownCallback_ = std::make_unique<CLumAEServerCallback>();
  ownCallback_->SetMainWindowLink(&window);
  callback_ = ownCallback_.get();
}

CServerCore::CServerCore(CAEServerCallback* callback, CAlarmProcessor::Timing timing, ae::Clock& clock)
    : callback_(callback), processor_(timing, clock) {}

CServerCore::~CServerCore() { Stop(); }

CAEServerRegistration CServerCore::Registration() {
  CAEServerRegistration registration;
  registration.progId = "Corvane.OPCAEqrxServer.1";
  registration.versionIndependentProgId = "Corvane.OPCAEqrxServer";
  registration.description = "Veltrocorp Corvane Plantwise - OPC AE Server";
  registration.appIdRunAs = "Interactive User";
  return registration;
}

bool CServerCore::Start() {
  if (!InitializeToolkit()) return false;
  DeclareServer();
  CreateConnectionManager();
  if (headless_) headless_->SetExists(true);
  CreateAlarmLog();
  Connect();
  return true;
}

bool CServerCore::InitializeToolkit() {
  if (toolkitStarted_) return false;
  CAEServerRegistration registration = Registration();
  if (!g_ServerInterface.Initialize(nullptr, kServerClsid, kVendor, kAreaDelimiter, 0, &registration)) return false;
  toolkitStarted_ = true;
  return true;
}

void CServerCore::DeclareServer() {
  InitEventConfiguration();
  g_ServerInterface.SetCallbackObject(callback_);
  g_ServerInterface.SetStatus(OPCAE_STATUS_RUNNING);
}

void CServerCore::CreateConnectionManager() {
  if (manager_) return;
  manager_ = std::make_unique<ConnectionManager>();
  manager_->SetProcessorStarter([this](DWORD cookie) { return processor_.StartProcessor(cookie); });
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  g_pConnectionManager = manager_.get();
}

void CServerCore::CreateAlarmLog() {
  if (ownLog_ || g_pAlarmLog.load()) return;
  ownLog_ = std::make_unique<CAlarmLog>();
  g_pAlarmLog.store(ownLog_.get());
}

void CServerCore::Connect() {
  if (!g_pGlobalInterfaceTable) {
    CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                     reinterpret_cast<void**>(&g_pGlobalInterfaceTable));
  }
  if (manager_) manager_->Connect();
}

bool CServerCore::WaitForClose(DWORD timeoutMs) { return headless_ && headless_->WaitForClose(timeoutMs); }

void CServerCore::Stop() {
  // A connect pass still under way must not start the processor again.
  if (manager_) manager_->SetProcessorStarter({});
  processor_.StopProcessor();
  if (toolkitStarted_) {
    g_ServerInterface.Uninitialize();
    g_ServerInterface.SetCallbackObject(nullptr);
    g_SourceCache.Clear(1);
    g_CfgDb.ClearAll();
    toolkitStarted_ = false;
  }
  manager_.reset();
  if (headless_) headless_->SetExists(false);
  // After the toolkit: no acknowledgement can be on its way to the log.
  if (ownLog_) {
    g_pAlarmLog.store(nullptr);
    ownLog_.reset();
  }
}
