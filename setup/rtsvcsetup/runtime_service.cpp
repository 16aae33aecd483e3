#include "setup/rtsvcsetup/runtime_service.h"

#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "platform/services.h"
#include "setup/export_support.h"

namespace rtsvc {

namespace {

constexpr auto kRemovePollPeriod = std::chrono::milliseconds(100);

// Sends the stop control; `alsoFine` is a further error that counts as
// success (ERROR_SERVICE_NOT_ACTIVE always does).
DWORD SendStop(SC_HANDLE service, DWORD alsoFine = ERROR_SERVICE_NOT_ACTIVE) {
  SERVICE_STATUS status;
  if (ControlService(service, SERVICE_CONTROL_STOP, &status)) return ERROR_SUCCESS;
  DWORD err = GetLastError();
  return err == DWORD(ERROR_SERVICE_NOT_ACTIVE) || err == alsoFine ? ERROR_SUCCESS : err;
}

// The older runtime: not installed, or not running, is fine.
DWORD StopOlderRuntime(SC_HANDLE manager) {
  ScopedServiceHandle older(OpenService(manager, kOlderRuntimeService, SERVICE_STOP));
  if (!older) {
    DWORD err = GetLastError();
    return err == DWORD(ERROR_SERVICE_DOES_NOT_EXIST) ? ERROR_SUCCESS : err;
  }
  return SendStop(older, ERROR_INVALID_SERVICE_CONTROL);
}

void ParkControllerService(SC_HANDLE manager) {
  ScopedServiceHandle controller(OpenService(manager, kControllerService, SERVICE_ALL_ACCESS));
  if (!controller) return;
  SERVICE_STATUS status;
  if (QueryServiceStatus(controller, &status) && status.dwCurrentState == SERVICE_RUNNING)
    ControlService(controller, SERVICE_CONTROL_STOP, &status);
  ChangeServiceConfig(controller, SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE, nullptr, nullptr,
                      nullptr, nullptr, nullptr, nullptr, kControllerDisplayName);
}

}  // namespace

bool RuntimeServiceExists() {
  ScopedServiceHandle manager(OpenSCManager(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) return false;
  ScopedServiceHandle runtime(OpenService(manager, kRuntimeService, SERVICE_QUERY_STATUS));
  return bool(runtime);
}

bool CanCreateServices() {
  ScopedServiceHandle manager(OpenSCManager(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  return bool(manager);
}

DWORD CreateRuntimeService(const std::string& programPath) {
  ScopedServiceHandle manager(OpenSCManager(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) return GetLastError();
  ScopedServiceHandle runtime(CreateService(manager, kRuntimeService, kRuntimeDisplayName, SERVICE_ALL_ACCESS,
                                            SERVICE_WIN32_SHARE_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                            programPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  return runtime ? ERROR_SUCCESS : GetLastError();
}

DWORD StartRuntime() {
  ScopedServiceHandle manager(OpenSCManager(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return GetLastError();
  ParkControllerService(manager);
  ScopedServiceHandle runtime(OpenService(manager, kRuntimeService, SERVICE_START));
  if (!runtime) return GetLastError();
  if (StartService(runtime, 0, nullptr)) return ERROR_SUCCESS;
  DWORD err = GetLastError();
  return err == DWORD(ERROR_SERVICE_ALREADY_RUNNING) ? ERROR_SUCCESS : err;
}

DWORD StopRuntime() {
  ScopedServiceHandle manager(OpenSCManager(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) return GetLastError();
  {
    ScopedServiceHandle runtime(OpenService(manager, kRuntimeService, SERVICE_STOP));
    if (!runtime) return GetLastError();
    if (DWORD err = SendStop(runtime); err != ERROR_SUCCESS) return err;
  }
  return StopOlderRuntime(manager);
}

DWORD RemoveRuntime(DWORD stopLimitMs) {
  ScopedServiceHandle manager(OpenSCManager(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) return GetLastError();
  {
    ScopedServiceHandle runtime(OpenService(manager, kRuntimeService, SERVICE_ALL_ACCESS));
    if (!runtime) return GetLastError();
    if (DWORD err = SendStop(runtime); err != ERROR_SUCCESS) return err;
    uint64_t begin = ae::Clock::System().SteadyMs();
    SERVICE_STATUS status;
    while (QueryServiceStatus(runtime, &status) && status.dwCurrentState != SERVICE_STOPPED &&
           ae::Clock::System().SteadyMs() - begin < stopLimitMs)
      std::this_thread::sleep_for(kRemovePollPeriod);
    if (!DeleteService(runtime)) return GetLastError();
  }
  return StopOlderRuntime(manager);
}

}  // namespace rtsvc
