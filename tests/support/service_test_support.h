// Service test support: installs the test service program (aetest_service,
// whose path the test program gets as TEST_SERVICE_PROGRAM) as services of
// the test's own service database, watches their states, and ends every
// service process a test leaves running.
//
// Contract: ServiceTest is a fixture; its TearDown kills (SIGKILL) the
// processes of every service in the store, so no test leaves one behind.
// The helpers return the Win32 error (0 for success) or the state, and
// fail the test on nothing themselves. Waits poll every 20 ms up to a
// generous limit.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "platform/process_identity.h"
#include "platform/registry.h"
#include "platform/service_record.h"
#include "platform/services.h"

inline const std::string kServiceProgram = TEST_SERVICE_PROGRAM;

// Creates `name` running the test service program with `arguments`.
inline DWORD InstallTestService(const std::string& name, const std::string& arguments = "",
                                DWORD startType = SERVICE_DEMAND_START) {
  SC_HANDLE manager = OpenSCManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return GetLastError();
  std::string command = kServiceProgram + (arguments.empty() ? "" : " " + arguments);
  SC_HANDLE service = CreateService(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL,
                                    command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  DWORD err = service ? 0 : GetLastError();
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return err;
}

// Runs `action` on the service opened with `access`; the Win32 error.
template <class Action>
DWORD WithService(const std::string& name, DWORD access, Action action) {
  SC_HANDLE manager = OpenSCManager(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return GetLastError();
  SC_HANDLE service = OpenService(manager, name.c_str(), access);
  DWORD err = !service ? GetLastError() : action(service) ? 0 : GetLastError();
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return err;
}

inline DWORD StartTestService(const std::string& name) {
  return WithService(name, SERVICE_START, [](SC_HANDLE s) { return StartService(s, 0, nullptr); });
}

inline DWORD StopTestService(const std::string& name) {
  SERVICE_STATUS status;
  return WithService(name, SERVICE_STOP, [&](SC_HANDLE s) { return ControlService(s, SERVICE_CONTROL_STOP, &status); });
}

// The full status; dwCurrentState 0 when the service cannot be queried.
inline SERVICE_STATUS_PROCESS TestServiceStatus(const std::string& name) {
  SERVICE_STATUS_PROCESS status;
  WithService(name, SERVICE_QUERY_STATUS, [&](SC_HANDLE s) { return QueryServiceStatusEx(s, &status); });
  return status;
}

inline DWORD TestServiceState(const std::string& name) { return TestServiceStatus(name).dwCurrentState; }

// Until the service is in `state`; false when it was not within `limit`.
inline bool WaitForServiceState(const std::string& name, DWORD state,
                                std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (TestServiceState(name) != state) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The process recorded for a service (pid 0 when there is none).
inline ServiceRecord::Process TestServiceProcess(const std::string& name) {
  ServiceRecord::Process process;
  std::unique_ptr<ServiceRecord> record;
  if (ServiceRecord::Open(name, record) == ERROR_SUCCESS) record->ReadProcess(process);
  return process;
}

// Kills the service's process, if it still runs.
inline void KillTestService(const std::string& name) {
  ServiceRecord::Process process = TestServiceProcess(name);
  if (process.pid) SignalProcess(pid_t(process.pid), process.identity, SIGKILL);
}

class ServiceTest : public testing::Test {
 protected:
  void TearDown() override {
    HKEY services;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, ServiceRecord::kServicesKey, KEY_READ, &services) != ERROR_SUCCESS) return;
    std::vector<std::string> names;
    std::string name;
    for (DWORD i = 0; RegEnumKeyEx(services, i, name) == ERROR_SUCCESS; ++i) names.push_back(name);
    RegCloseKey(services);
    for (const std::string& n : names) KillTestService(n);
  }
};
