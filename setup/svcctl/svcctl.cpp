#include "setup/svcctl/svcctl.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/processes.h"
#include "platform/services.h"
#include "platform/utf.h"
#include "setup/export_support.h"

namespace {

constexpr size_t kTraceBufferBytes = 260;
constexpr DWORD kEnumerationStepBytes = 400;
constexpr auto kPollPeriod = std::chrono::milliseconds(1000);

// One trace line: the text cut to what the buffer holds, then its line feed.
__attribute__((format(printf, 1, 2))) void Trace(const char* format, ...) {
  char line[kTraceBufferBytes];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, kTraceBufferBytes - 1, format, args);
  va_end(args);
  if (n < 0) return;
  size_t length = std::min(size_t(n), kTraceBufferBytes - 2);
  line[length] = '\n';
  line[length + 1] = '\0';
  DebugOutput(line);
}

// The last error, traced with `format` and returned.
uint32_t Failed(const char* format) {
  DWORD err = GetLastError();
  Trace(format, int(err));
  return err;
}

const char* Shown(const char* text) { return text ? text : "(null)"; }

DWORD TickCount() { return DWORD(ae::Clock::System().SteadyMs()); }

bool ProgramIs(DWORD pid, const std::string& wanted) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, false, pid);
  if (!process) return false;
  HMODULE module = nullptr;
  DWORD needed = 0;
  char baseName[MAX_PATH];
  bool same = EnumProcessModules(process, &module, sizeof module, &needed) &&
              GetModuleBaseName(process, module, baseName, MAX_PATH) > 0 && FoldCase(baseName) == wanted;
  CloseHandle(process);
  return same;
}

uint32_t IsRunning(const char* exeName, int32_t* isRunning) {
  if (!isRunning) {
    DebugOutput("bkIsRunning - Invalid pointer to a BOOL");
    return ERROR_BAD_ARGUMENTS;
  }
  Trace("bkIsRunning('%s')", Shown(exeName));
  *isRunning = 0;
  std::vector<DWORD> ids;
  DWORD bytes = 0;
  do {
    ids.resize(ids.size() + kEnumerationStepBytes / sizeof(DWORD));
    if (!EnumProcesses(ids.data(), DWORD(ids.size() * sizeof(DWORD)), &bytes))
      return Failed("bkIsRunning - EnumProcesses failed. Error:%d");
  } while (bytes == ids.size() * sizeof(DWORD));
  if (exeName) {
    const std::string wanted = FoldCase(exeName);
    for (size_t i = 0; i < bytes / sizeof(DWORD) && !*isRunning; ++i) *isRunning = ProgramIs(ids[i], wanted);
  }
  Trace("bkIsRunning('%s') result: %d", Shown(exeName), int(*isRunning));
  return ERROR_SUCCESS;
}

uint32_t StopStartService(const char* serviceName, int32_t start, int32_t wait, uint32_t timeoutMs) {
  Trace("bkStopStartService('%s', %d, %d, %lu)", Shown(serviceName), int(start), int(wait),
        static_cast<unsigned long>(timeoutMs));
  ScopedServiceHandle manager(OpenSCManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return Failed("bkStopStartService - OpenSCManager failed. Error:%d");
  ScopedServiceHandle service(OpenService(manager, serviceName, SERVICE_QUERY_STATUS | (start ? SERVICE_START : SERVICE_STOP)));
  if (!service) return Failed("bkStopStartService - OpenService failed. Error:%d");
  SERVICE_STATUS status;
  if (!QueryServiceStatus(service, &status)) return Failed("bkStopStartService - QueryServiceStatus failed. Error:%d");
  DWORD state = status.dwCurrentState;
  if (start) {
    if (state != SERVICE_RUNNING && state != SERVICE_START_PENDING && !StartService(service, 0, nullptr))
      return Failed("bkStopStartService - StartService failed. Error:%d");
  } else if (state != SERVICE_STOPPED && state != SERVICE_STOP_PENDING &&
             !ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    return Failed("bkStopStartService - ControlService failed. Error:%d");
  }
  if (!wait) return ERROR_SUCCESS;

  DWORD begin = TickCount();
  bool queried = QueryServiceStatus(service, &status);
  while ((queried && status.dwCurrentState == SERVICE_START_PENDING) || status.dwCurrentState == SERVICE_STOP_PENDING) {
    std::this_thread::sleep_for(kPollPeriod);
    queried = QueryServiceStatus(service, &status);
    if (timeoutMs != 0 && DWORD(TickCount() - begin) > timeoutMs) {
      DebugOutput("bkStopStartService - Timed out while waiting for service to stop/start");
      break;
    }
  }
  if (!queried)
    return Failed("bkStopStartService - QueryServiceStatus failed while waiting for service to start or stop. Error:%d");
  if (status.dwCurrentState == (start ? SERVICE_RUNNING : SERVICE_STOPPED)) return ERROR_SUCCESS;
  Trace(start ? "bkStopStartService - Service was not started. Error:%d" : "bkStopStartService - Service was not stopped. Error:%d",
        int(ERROR_SERVICE_REQUEST_TIMEOUT));
  return ERROR_SERVICE_REQUEST_TIMEOUT;
}

}  // namespace

uint32_t bkIsRunning(const char* exeName, int32_t* isRunning) {
  return CallExport([&] { return IsRunning(exeName, isRunning); });
}

uint32_t bkStopStartService(const char* serviceName, int32_t start, int32_t wait, uint32_t timeoutMs) {
  return CallExport([&] { return StopStartService(serviceName, start, wait, timeoutMs); });
}
