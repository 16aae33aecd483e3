#include "server/server_core.h"

#include "alarmconfig/config.h"
#include "alarmconfig/tracked_mutex.h"
#include "opcda/opc_da_client.h"
#include "platform/class_factory.h"
#include "platform/global_interface_table.h"
#include "toolkit/cfg_db.h"
#include "toolkit/opcae.h"
#include "toolkit/source_cache.h"

namespace {

constexpr char kVendor[] = "Veltrocorp";
constexpr char kAreaDelimiter = '/';

}  // namespace

CServerCore::CServerCore() : CServerCore(nullptr, CAlarmProcessor::Timing(), Clock::System()) {}

CServerCore::CServerCore(CAEServerCallback* callback, CAlarmProcessor::Timing timing, Clock& clock)
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
  if (toolkitStarted_) return false;
  CAEServerRegistration registration = Registration();
  if (!g_ServerInterface.Initialize(nullptr, kServerClsid, kVendor, kAreaDelimiter, 0, &registration)) return false;
  toolkitStarted_ = true;
  InitEventConfiguration();
  g_ServerInterface.SetCallbackObject(callback_);
  g_ServerInterface.SetStatus(OPCAE_STATUS_RUNNING);

  manager_ = std::make_unique<ConnectionManager>();
  manager_->SetProcessorStarter([this](DWORD cookie) { return processor_.StartProcessor(cookie); });
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    g_pConnectionManager = manager_.get();
  }
  if (!g_pGlobalInterfaceTable) {
    CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                     reinterpret_cast<void**>(&g_pGlobalInterfaceTable));
  }
  manager_->Connect();
  return true;
}

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
}
