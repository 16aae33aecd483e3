#include "platform/service_record.h"

#include "platform/process_identity.h"

namespace {

constexpr const char* kProcessKey = "Process";
constexpr const char* kType = "Type";
constexpr const char* kDeleteFlag = "DeleteFlag";
constexpr const char* kProcessId = "ProcessId";
constexpr const char* kIdentity = "Identity";
constexpr const char* kReportedState = "ReportedState";
constexpr const char* kWaitHint = "WaitHint";
constexpr const char* kCheckPoint = "CheckPoint";
constexpr const char* kStopRequested = "StopRequested";
constexpr size_t kMaxNameChars = 256;

// A DWORD value of `key`, 0 when it is missing.
DWORD DwordOr0(HKEY key, const char* name) {
  DWORD value = 0;
  return RegGetDword(key, "", name, value) == ERROR_SUCCESS ? value : 0;
}

}  // namespace

bool ServiceRecord::ValidName(const char* name) {
  if (!name || !*name) return false;
  size_t chars = 0;
  for (const char* p = name; *p; ++p) {
    if (*p == '/' || *p == '\\') return false;
    chars += (static_cast<unsigned char>(*p) & 0xC0) != 0x80;
  }
  return chars <= kMaxNameChars;
}

LONG ServiceRecord::Open(const std::string& name, std::unique_ptr<ServiceRecord>& out) {
  HKEY key;
  LONG err = RegOpenKeyEx(HKEY_LOCAL_MACHINE, std::string(kServicesKey) + "\\" + name, KEY_ALL_ACCESS, &key);
  if (err == ERROR_FILE_NOT_FOUND) return ERROR_SERVICE_DOES_NOT_EXIST;
  if (err != ERROR_SUCCESS) return err;
  std::unique_ptr<ServiceRecord> record(new ServiceRecord(name, key));
  err = record->ReadType();
  if (err == ERROR_FILE_NOT_FOUND || err == ERROR_UNSUPPORTED_TYPE) return ERROR_SERVICE_DOES_NOT_EXIST;
  if (err != ERROR_SUCCESS) return err;
  out = std::move(record);
  return ERROR_SUCCESS;
}

LONG ServiceRecord::Create(const std::string& name, std::unique_ptr<ServiceRecord>& out, bool& created) {
  HKEY key;
  DWORD disposition = 0;
  LONG err = RegCreateKeyEx(HKEY_LOCAL_MACHINE, std::string(kServicesKey) + "\\" + name, KEY_ALL_ACCESS,
                            &key, &disposition);
  if (err != ERROR_SUCCESS) return err;
  created = disposition == REG_CREATED_NEW_KEY;
  out.reset(new ServiceRecord(name, key));
  return ERROR_SUCCESS;
}

ServiceRecord::~ServiceRecord() { RegCloseKey(key_); }

bool ServiceRecord::Gone() const {
  DWORD type;
  return RegQueryValueEx(key_, kType, &type, nullptr, nullptr) == ERROR_KEY_DELETED;
}

bool ServiceRecord::MarkedForDelete() const { return DwordOr0(key_, kDeleteFlag) != 0; }

LONG ServiceRecord::ReadType() { return RegGetDword(key_, "", kType, type_); }

LONG ServiceRecord::ReadProcess(Process& process) const {
  process = Process{};
  HKEY key;
  LONG err = RegOpenKeyEx(key_, kProcessKey, KEY_READ, &key);
  if (err == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (err != ERROR_SUCCESS) return err;
  process.pid = DwordOr0(key, kProcessId);
  if (RegGetString(key, "", kIdentity, process.identity) != ERROR_SUCCESS) process.identity.clear();
  process.reportedState = DwordOr0(key, kReportedState);
  process.waitHint = DwordOr0(key, kWaitHint);
  process.checkPoint = DwordOr0(key, kCheckPoint);
  process.stopRequested = DwordOr0(key, kStopRequested) != 0;
  RegCloseKey(key);
  return ERROR_SUCCESS;
}

LONG ServiceRecord::WriteProcess(const Process& process) {
  HKEY key;
  LONG err = RegCreateKeyEx(key_, kProcessKey, KEY_ALL_ACCESS, &key, nullptr);
  if (err != ERROR_SUCCESS) return err;
  const std::pair<const char*, DWORD> dwords[] = {
      {kProcessId, process.pid},         {kReportedState, process.reportedState},
      {kWaitHint, process.waitHint},     {kCheckPoint, process.checkPoint},
      {kStopRequested, process.stopRequested}};
  for (const auto& [name, value] : dwords) {
    if (err == ERROR_SUCCESS)
      err = RegSetValueEx(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }
  if (err == ERROR_SUCCESS)
    err = RegSetValueEx(key, kIdentity, REG_SZ, reinterpret_cast<const BYTE*>(process.identity.c_str()),
                        DWORD(process.identity.size() + 1));
  RegCloseKey(key);
  return err;
}

LONG ServiceRecord::ClearProcess() {
  LONG err = RegDeleteTree(key_, kProcessKey);
  return err == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : err;
}

SERVICE_STATUS_PROCESS ServiceRecord::ReadStatus() const {
  SERVICE_STATUS_PROCESS status;
  status.dwServiceType = type_;
  status.dwCurrentState = SERVICE_STOPPED;
  Process process;
  if (ReadProcess(process) != ERROR_SUCCESS) return status;
  bool live = process.pid != 0 && !process.identity.empty() &&
              ProcessIdentity(pid_t(process.pid)) == process.identity;
  if (!live) {
    if (process.pid != 0 && !process.stopRequested) status.dwWin32ExitCode = ERROR_PROCESS_ABORTED;
    return status;
  }
  status.dwProcessId = process.pid;
  if (process.stopRequested) {
    status.dwCurrentState = SERVICE_STOP_PENDING;
  } else if (process.reportedState == SERVICE_START_PENDING) {
    status.dwCurrentState = SERVICE_START_PENDING;
    status.dwWaitHint = process.waitHint;
    status.dwCheckPoint = process.checkPoint;
  } else if (process.reportedState == 0 && ProcessAgeMs(pid_t(process.pid)) < kInitialWaitHintMs) {
    status.dwCurrentState = SERVICE_START_PENDING;
    status.dwWaitHint = kInitialWaitHintMs;
  } else {
    status.dwCurrentState = SERVICE_RUNNING;
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
  }
  return status;
}

bool ServiceRecord::ReapIfDone() {
  if (Gone()) return true;
  if (!MarkedForDelete() || ReadStatus().dwCurrentState != SERVICE_STOPPED) return false;
  return Delete() == ERROR_SUCCESS;
}

LONG ServiceRecord::Delete() {
  return RegDeleteTree(HKEY_LOCAL_MACHINE, std::string(kServicesKey) + "\\" + name_);
}
