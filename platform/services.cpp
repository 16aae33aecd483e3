#include "platform/services.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "platform/process_identity.h"
#include "platform/registry.h"
#include "platform/service_launcher.h"
#include "platform/service_record.h"
#include "platform/store_lock.h"
#include "platform/sysinfo.h"
#include "platform/utf.h"

extern char** environ;

struct ServiceHandleObject {
  enum Kind { kManager, kService } kind;
  DWORD access;
  std::unique_ptr<ServiceRecord> record;  // a service's
};

namespace {

constexpr const char* kLockName = "services";
constexpr const char* kServiceNameVariable = "AE_SERVICE_NAME";
constexpr const char* kDefaultAccount = "LocalSystem";
constexpr char kGroupPrefix = '+';  // a dependency on a load-order group
constexpr DWORD kReadControl = 0x00020000;
// What anybody may do; the rest is for administrators.
constexpr DWORD kManagerReadRights =
    SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS | kReadControl;
constexpr DWORD kServiceReadRights = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                                     SERVICE_ENUMERATE_DEPENDENTS | SERVICE_INTERROGATE |
                                     SERVICE_USER_DEFINED_CONTROL | kReadControl;

namespace value {
constexpr const char* kType = "Type";
constexpr const char* kStart = "Start";
constexpr const char* kErrorControl = "ErrorControl";
constexpr const char* kImagePath = "ImagePath";
constexpr const char* kDisplayName = "DisplayName";
constexpr const char* kObjectName = "ObjectName";
constexpr const char* kGroup = "Group";
constexpr const char* kDependOnService = "DependOnService";
constexpr const char* kDependOnGroup = "DependOnGroup";
constexpr const char* kDeleteFlag = "DeleteFlag";
}  // namespace value

std::mutex g_handlesMutex;
std::unordered_set<ServiceHandleObject*> g_handles;

BOOL Fail(LONG code) {
  SetLastError(DWORD(code));
  return false;
}

SC_HANDLE FailHandle(LONG code) {
  SetLastError(DWORD(code));
  return nullptr;
}

SC_HANDLE NewHandle(ServiceHandleObject::Kind kind, DWORD access, std::unique_ptr<ServiceRecord> record) {
  auto handle = new ServiceHandleObject{kind, access, std::move(record)};
  std::lock_guard lock(g_handlesMutex);
  g_handles.insert(handle);
  return handle;
}

bool Is(SC_HANDLE handle, ServiceHandleObject::Kind kind) {
  std::lock_guard lock(g_handlesMutex);
  return g_handles.count(handle) && handle->kind == kind;
}

// Whoever may write the machine hive administers the services.
bool IsAdministrator() {
  HKEY probe;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "", KEY_READ, &probe) == ERROR_SUCCESS) RegCloseKey(probe);
  std::string hive = RegistryDirectory() + "/machine.db";
  return faccessat(AT_FDCWD, hive.c_str(), W_OK, AT_EACCESS) == 0;
}

bool Allowed(DWORD desired, DWORD readRights) { return (desired & ~readRights) == 0 || IsAdministrator(); }

bool ValidType(DWORD type) {
  DWORD kind = type & ~SERVICE_INTERACTIVE_PROCESS;
  return kind == SERVICE_WIN32_OWN_PROCESS || kind == SERVICE_WIN32_SHARE_PROCESS;
}

// Boot and system start are for drivers.
bool ValidStart(DWORD start) {
  return start == SERVICE_AUTO_START || start == SERVICE_DEMAND_START || start == SERVICE_DISABLED;
}

bool ValidErrorControl(DWORD control) { return control <= SERVICE_ERROR_CRITICAL; }

LONG SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueEx(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LONG SetText(HKEY key, const char* name, const char* text, DWORD type = REG_SZ) {
  return RegSetValueEx(key, name, type, reinterpret_cast<const BYTE*>(text), DWORD(strlen(text) + 1));
}

// A dependency list (names each ended by a NUL, the list by another)
// as the two values Windows keeps it in; an empty part removes its value.
LONG SetDependencies(HKEY key, const char* dependencies) {
  std::vector<std::string> services, groups;
  for (const char* p = dependencies; *p; p += strlen(p) + 1) {
    if (*p == kGroupPrefix)
      groups.push_back(p + 1);
    else
      services.push_back(p);
  }
  for (auto [name, list] : {std::pair{value::kDependOnService, &services}, std::pair{value::kDependOnGroup, &groups}}) {
    LONG err = list->empty() ? RegDeleteValue(key, name) : RegSetMultiString(key, "", name, *list);
    if (err != ERROR_SUCCESS && err != ERROR_FILE_NOT_FOUND) return err;
  }
  return ERROR_SUCCESS;
}

// The configuration values that CreateService and ChangeServiceConfig
// write; SERVICE_NO_CHANGE and nullptr leave a value alone.
struct Config {
  DWORD type = SERVICE_NO_CHANGE;
  DWORD start = SERVICE_NO_CHANGE;
  DWORD errorControl = SERVICE_NO_CHANGE;
  const char* imagePath = nullptr;
  const char* group = nullptr;
  const char* dependencies = nullptr;
  const char* account = nullptr;
  const char* displayName = nullptr;

  bool Valid() const {
    return (type == SERVICE_NO_CHANGE || ValidType(type)) && (start == SERVICE_NO_CHANGE || ValidStart(start)) &&
           (errorControl == SERVICE_NO_CHANGE || ValidErrorControl(errorControl)) &&
           (!imagePath || *imagePath);
  }

  // "Type" last: a key is a service once it has one.
  LONG Write(HKEY key) const {
    LONG err = ERROR_SUCCESS;
    auto dword = [&](const char* name, DWORD v) {
      if (err == ERROR_SUCCESS && v != SERVICE_NO_CHANGE) err = SetDword(key, name, v);
    };
    auto text = [&](const char* name, const char* v, DWORD type = REG_SZ) {
      if (err == ERROR_SUCCESS && v) err = SetText(key, name, v, type);
    };
    dword(value::kStart, start);
    dword(value::kErrorControl, errorControl);
    text(value::kImagePath, imagePath, REG_EXPAND_SZ);
    text(value::kDisplayName, displayName);
    text(value::kObjectName, account);
    if (err == ERROR_SUCCESS && group) {
      err = *group ? SetText(key, value::kGroup, group) : RegDeleteValue(key, value::kGroup);
      if (err == ERROR_FILE_NOT_FOUND) err = ERROR_SUCCESS;
    }
    if (err == ERROR_SUCCESS && dependencies) err = SetDependencies(key, dependencies);
    dword(value::kType, type);
    return err;
  }
};

// The environment of a service's program: the starter's, with the
// service's name.
std::vector<std::string> ServiceEnvironment(const std::string& name) {
  std::vector<std::string> env;
  const std::string prefix = std::string(kServiceNameVariable) + "=";
  for (char** e = environ; e && *e; ++e)
    if (strncmp(*e, prefix.c_str(), prefix.size()) != 0) env.push_back(*e);
  env.push_back(prefix + name);
  return env;
}

// The service's status for a handle: a service deleted meanwhile is stopped.
SERVICE_STATUS_PROCESS CurrentStatus(ServiceRecord& record) {
  if (record.ReapIfDone()) {
    SERVICE_STATUS_PROCESS stopped;
    stopped.dwServiceType = record.Type();
    stopped.dwCurrentState = SERVICE_STOPPED;
    return stopped;
  }
  return record.ReadStatus();
}

// The checks every service call starts with.
LONG CheckService(SC_HANDLE service, DWORD right) {
  if (!Is(service, ServiceHandleObject::kService)) return ERROR_INVALID_HANDLE;
  if ((service->access & right) != right) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

// For calls that change the service: it must still be there, unmarked.
LONG CheckChangeable(ServiceRecord& record) {
  if (record.ReapIfDone() || record.MarkedForDelete()) return ERROR_SERVICE_MARKED_FOR_DELETE;
  return ERROR_SUCCESS;
}

// The access right a control needs; 0 for a code that is no control.
DWORD RightFor(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP: return SERVICE_STOP;
    case SERVICE_CONTROL_INTERROGATE: return SERVICE_INTERROGATE;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE: return SERVICE_PAUSE_CONTINUE;
    default: return control >= 128 && control <= 255 ? SERVICE_USER_DEFINED_CONTROL : 0;
  }
}

}  // namespace

SC_HANDLE OpenSCManager(const char* machineName, const char* databaseName, DWORD desiredAccess) {
  if (machineName && *machineName) {
    std::string machine = machineName;
    if (machine.starts_with("\\\\")) machine.erase(0, 2);
    if (FoldCase(machine) != FoldCase(GetComputerName())) return FailHandle(RPC_S_SERVER_UNAVAILABLE);
  }
  if (databaseName && FoldCase(databaseName) != "SERVICESACTIVE") return FailHandle(ERROR_DATABASE_DOES_NOT_EXIST);
  if (!Allowed(desiredAccess, kManagerReadRights)) return FailHandle(ERROR_ACCESS_DENIED);
  // The database must be readable; an administrator's first call sets it up.
  HKEY services;
  LONG err = RegOpenKeyEx(HKEY_LOCAL_MACHINE, ServiceRecord::kServicesKey, KEY_READ, &services);
  if (err == ERROR_FILE_NOT_FOUND && IsAdministrator())
    err = RegCreateKeyEx(HKEY_LOCAL_MACHINE, ServiceRecord::kServicesKey, KEY_READ, &services, nullptr);
  if (err == ERROR_SUCCESS)
    RegCloseKey(services);
  else if (err != ERROR_FILE_NOT_FOUND)
    return FailHandle(err);
  return NewHandle(ServiceHandleObject::kManager, desiredAccess, nullptr);
}

SC_HANDLE CreateService(SC_HANDLE manager, const char* serviceName, const char* displayName,
                        DWORD desiredAccess, DWORD serviceType, DWORD startType, DWORD errorControl,
                        const char* binaryPathName, const char* loadOrderGroup, DWORD* tagId,
                        const char* dependencies, const char* serviceStartName, const char* /*password*/) {
  if (!Is(manager, ServiceHandleObject::kManager)) return FailHandle(ERROR_INVALID_HANDLE);
  if (!(manager->access & SC_MANAGER_CREATE_SERVICE)) return FailHandle(ERROR_ACCESS_DENIED);
  if (!ServiceRecord::ValidName(serviceName)) return FailHandle(ERROR_INVALID_NAME);
  Config config{serviceType,    startType,    errorControl,
                binaryPathName, loadOrderGroup, dependencies,
                serviceStartName ? serviceStartName : kDefaultAccount,
                displayName && *displayName ? displayName : serviceName};
  if (!binaryPathName || tagId || !config.Valid() || serviceType == SERVICE_NO_CHANGE ||
      startType == SERVICE_NO_CHANGE || errorControl == SERVICE_NO_CHANGE)
    return FailHandle(ERROR_INVALID_PARAMETER);
  if (!Allowed(desiredAccess, kServiceReadRights)) return FailHandle(ERROR_ACCESS_DENIED);

  StoreLock lock(kLockName);
  std::unique_ptr<ServiceRecord> existing;
  LONG err = ServiceRecord::Open(serviceName, existing);
  if (err == ERROR_SUCCESS && !existing->ReapIfDone())
    return FailHandle(existing->MarkedForDelete() ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS);
  if (err != ERROR_SUCCESS && err != ERROR_SERVICE_DOES_NOT_EXIST) return FailHandle(err);
  existing.reset();

  std::unique_ptr<ServiceRecord> record;
  bool created = false;
  err = ServiceRecord::Create(serviceName, record, created);
  if (err == ERROR_SUCCESS) err = config.Write(record->Key());
  if (err == ERROR_SUCCESS) err = record->ReadType();
  if (err != ERROR_SUCCESS) {
    if (created) record->Delete();
    return FailHandle(err);
  }
  return NewHandle(ServiceHandleObject::kService, desiredAccess, std::move(record));
}

SC_HANDLE OpenService(SC_HANDLE manager, const char* serviceName, DWORD desiredAccess) {
  if (!Is(manager, ServiceHandleObject::kManager)) return FailHandle(ERROR_INVALID_HANDLE);
  if (!ServiceRecord::ValidName(serviceName)) return FailHandle(ERROR_INVALID_NAME);
  if (!Allowed(desiredAccess, kServiceReadRights)) return FailHandle(ERROR_ACCESS_DENIED);
  StoreLock lock(kLockName);
  std::unique_ptr<ServiceRecord> record;
  LONG err = ServiceRecord::Open(serviceName, record);
  if (err != ERROR_SUCCESS) return FailHandle(err);
  if (record->ReapIfDone()) return FailHandle(ERROR_SERVICE_DOES_NOT_EXIST);
  return NewHandle(ServiceHandleObject::kService, desiredAccess, std::move(record));
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
  {
    std::lock_guard lock(g_handlesMutex);
    if (!g_handles.erase(handle)) return Fail(ERROR_INVALID_HANDLE);
  }
  delete handle;
  return true;
}

BOOL QueryServiceStatusEx(SC_HANDLE service, SERVICE_STATUS_PROCESS* status) {
  if (LONG err = CheckService(service, SERVICE_QUERY_STATUS); err != ERROR_SUCCESS) return Fail(err);
  if (!status) return Fail(ERROR_INVALID_PARAMETER);
  StoreLock lock(kLockName);
  *status = CurrentStatus(*service->record);
  return true;
}

BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
  if (!status) return Fail(ERROR_INVALID_PARAMETER);
  SERVICE_STATUS_PROCESS full;
  if (!QueryServiceStatusEx(service, &full)) return false;
  *status = full;
  return true;
}

BOOL StartService(SC_HANDLE service, DWORD argc, const char** argv) {
  if (LONG err = CheckService(service, SERVICE_START); err != ERROR_SUCCESS) return Fail(err);
  if (argc && !argv) return Fail(ERROR_INVALID_PARAMETER);
  StoreLock lock(kLockName);
  ServiceRecord& record = *service->record;
  if (LONG err = CheckChangeable(record); err != ERROR_SUCCESS) return Fail(err);
  DWORD start = 0;
  if (LONG err = RegGetDword(record.Key(), "", value::kStart, start); err != ERROR_SUCCESS) return Fail(err);
  if (start == SERVICE_DISABLED) return Fail(ERROR_SERVICE_DISABLED);
  if (record.ReadStatus().dwCurrentState != SERVICE_STOPPED) return Fail(ERROR_SERVICE_ALREADY_RUNNING);
  std::string imagePath;
  if (LONG err = RegGetString(record.Key(), "", value::kImagePath, imagePath); err != ERROR_SUCCESS)
    return Fail(err == ERROR_FILE_NOT_FOUND || err == ERROR_UNSUPPORTED_TYPE ? ERROR_FILE_NOT_FOUND : err);
  std::vector<std::string> args = ServiceCommandLine(imagePath);
  if (args.empty()) return Fail(ERROR_FILE_NOT_FOUND);
  for (DWORD i = 0; i < argc; ++i) args.push_back(argv[i] ? argv[i] : "");
  LONG err = LaunchDetached(args, ServiceEnvironment(record.Name()), [&](pid_t pid, const std::string& identity) {
    ServiceRecord::Process process;
    process.pid = DWORD(pid);
    process.identity = identity;
    return record.WriteProcess(process);
  });
  if (err != ERROR_SUCCESS) {
    record.ClearProcess();
    return Fail(err);
  }
  return true;
}

BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) {
  if (!Is(service, ServiceHandleObject::kService)) return Fail(ERROR_INVALID_HANDLE);
  DWORD right = RightFor(control);
  if (right == 0) return Fail(ERROR_INVALID_PARAMETER);
  if (LONG err = CheckService(service, right); err != ERROR_SUCCESS) return Fail(err);
  StoreLock lock(kLockName);
  ServiceRecord& record = *service->record;
  SERVICE_STATUS_PROCESS now = CurrentStatus(record);
  LONG err = ERROR_SUCCESS;
  if (now.dwCurrentState == SERVICE_STOPPED) {
    err = ERROR_SERVICE_NOT_ACTIVE;
  } else if (now.dwCurrentState != SERVICE_RUNNING) {
    err = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  } else if (control == SERVICE_CONTROL_STOP) {
    ServiceRecord::Process process;
    err = record.ReadProcess(process);
    if (err == ERROR_SUCCESS) {
      if (!SignalProcess(pid_t(process.pid), process.identity, SIGTERM)) {
        err = ERROR_SERVICE_NOT_ACTIVE;  // it ended a moment ago
      } else {
        process.stopRequested = true;
        err = record.WriteProcess(process);
      }
    }
    now = CurrentStatus(record);
  } else if (control != SERVICE_CONTROL_INTERROGATE) {
    err = ERROR_INVALID_SERVICE_CONTROL;
  }
  if (status) *status = now;
  return err == ERROR_SUCCESS ? true : Fail(err);
}

BOOL ChangeServiceConfig(SC_HANDLE service, DWORD serviceType, DWORD startType, DWORD errorControl,
                         const char* binaryPathName, const char* loadOrderGroup, DWORD* tagId,
                         const char* dependencies, const char* serviceStartName, const char* /*password*/,
                         const char* displayName) {
  if (LONG err = CheckService(service, SERVICE_CHANGE_CONFIG); err != ERROR_SUCCESS) return Fail(err);
  Config config{serviceType,    startType,    errorControl, binaryPathName,
                loadOrderGroup, dependencies, serviceStartName, displayName};
  if (tagId || !config.Valid()) return Fail(ERROR_INVALID_PARAMETER);
  StoreLock lock(kLockName);
  ServiceRecord& record = *service->record;
  if (LONG err = CheckChangeable(record); err != ERROR_SUCCESS) return Fail(err);
  LONG err = config.Write(record.Key());
  if (err == ERROR_SUCCESS) err = record.ReadType();
  return err == ERROR_SUCCESS ? true : Fail(err);
}

BOOL DeleteService(SC_HANDLE service) {
  if (LONG err = CheckService(service, SERVICE_DELETE); err != ERROR_SUCCESS) return Fail(err);
  StoreLock lock(kLockName);
  ServiceRecord& record = *service->record;
  if (LONG err = CheckChangeable(record); err != ERROR_SUCCESS) return Fail(err);
  LONG err = record.ReadStatus().dwCurrentState == SERVICE_STOPPED ? record.Delete()
                                                                : SetDword(record.Key(), value::kDeleteFlag, 1);
  return err == ERROR_SUCCESS ? true : Fail(err);
}

BOOL EnumServicesStatusEx(SC_HANDLE manager, DWORD serviceType, DWORD serviceState,
                          std::vector<ENUM_SERVICE_STATUS_PROCESS>& services) {
  if (!Is(manager, ServiceHandleObject::kManager)) return Fail(ERROR_INVALID_HANDLE);
  if (!(manager->access & SC_MANAGER_ENUMERATE_SERVICE)) return Fail(ERROR_ACCESS_DENIED);
  if (!(serviceType & SERVICE_WIN32) || (serviceType & ~(SERVICE_WIN32 | SERVICE_INTERACTIVE_PROCESS)) ||
      serviceState < SERVICE_ACTIVE || serviceState > SERVICE_STATE_ALL)
    return Fail(ERROR_INVALID_PARAMETER);
  services.clear();
  StoreLock lock(kLockName);
  HKEY root;
  LONG err = RegOpenKeyEx(HKEY_LOCAL_MACHINE, ServiceRecord::kServicesKey, KEY_READ, &root);
  if (err == ERROR_FILE_NOT_FOUND) return true;
  if (err != ERROR_SUCCESS) return Fail(err);
  std::vector<std::string> names;
  std::string name;
  for (DWORD i = 0; (err = RegEnumKeyEx(root, i, name)) == ERROR_SUCCESS; ++i) names.push_back(name);
  RegCloseKey(root);
  if (err != ERROR_NO_MORE_ITEMS) return Fail(err);
  for (const std::string& n : names) {
    std::unique_ptr<ServiceRecord> record;
    if (ServiceRecord::Open(n, record) != ERROR_SUCCESS || !(record->Type() & serviceType) ||
        record->ReapIfDone())
      continue;
    ENUM_SERVICE_STATUS_PROCESS entry{n, n, record->ReadStatus()};
    bool active = entry.status.dwCurrentState != SERVICE_STOPPED;
    if (!(serviceState & (active ? SERVICE_ACTIVE : SERVICE_INACTIVE))) continue;
    RegGetString(record->Key(), "", value::kDisplayName, entry.displayName);
    services.push_back(std::move(entry));
  }
  return true;
}

BOOL ReportServiceStatus(DWORD currentState, DWORD waitHintMs) {
  const char* name = getenv(kServiceNameVariable);
  if (!name || !ServiceRecord::ValidName(name)) return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  if (currentState != SERVICE_START_PENDING && currentState != SERVICE_RUNNING)
    return Fail(ERROR_INVALID_PARAMETER);
  StoreLock lock(kLockName);
  std::unique_ptr<ServiceRecord> record;
  ServiceRecord::Process process;
  if (ServiceRecord::Open(name, record) != ERROR_SUCCESS || record->ReadProcess(process) != ERROR_SUCCESS ||
      process.pid != DWORD(getpid()) || process.identity != ProcessIdentity(getpid()))
    return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  process.reportedState = currentState;
  process.waitHint = currentState == SERVICE_START_PENDING ? waitHintMs : 0;
  process.checkPoint = currentState == SERVICE_START_PENDING ? process.checkPoint + 1 : 0;
  LONG err = record->WriteProcess(process);
  return err == ERROR_SUCCESS ? true : Fail(err);
}
