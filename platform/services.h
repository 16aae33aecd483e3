// The service control manager with the Win32 contract as its callers see
// it: open the manager and services with access rights, create, query,
// start, control, change and delete services.
//
// Contract: the service database is the registry store's
// HKLM\SYSTEM\CurrentControlSet\Services, one key per service with the
// Windows values (Type, Start, ErrorControl, ImagePath, DisplayName,
// ObjectName, Group, DependOnService, DeleteFlag); a key without "Type" is
// not a service. A started service is its command line run detached
// (service_launcher.h) with the starter's environment plus AE_SERVICE_NAME;
// it outlives the starter, and its state is right in every process: it is
// known by its process's identity (process_identity.h), never by its
// process ID alone. The state: STOPPED while no process runs;
// START_PENDING until the program reports SERVICE_RUNNING
// (ReportServiceStatus), or, for a program that reports nothing, for the
// first 2000 ms (the initial wait hint) of its process; RUNNING then; the
// stop control sends SIGTERM and the service is STOP_PENDING until its
// process has ended. A process that ends unasked leaves
// ERROR_PROCESS_ABORTED as the exit code. Deleting a service whose process
// runs marks it (DeleteFlag); it goes once the process has ended.
// Dependencies and load-order groups are kept, not acted upon.
//
// Functions return a handle or BOOL; on failure nullptr or false, with the
// Win32 error in GetLastError(): ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED
// (a right the handle lacks, or one that only an administrator gets),
// ERROR_INVALID_NAME, ERROR_INVALID_PARAMETER, ERROR_SERVICE_DOES_NOT_EXIST,
// ERROR_SERVICE_EXISTS, ERROR_SERVICE_MARKED_FOR_DELETE,
// ERROR_SERVICE_ALREADY_RUNNING, ERROR_SERVICE_DISABLED,
// ERROR_SERVICE_NOT_ACTIVE, ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
// ERROR_INVALID_SERVICE_CONTROL, the program's failure to run
// (ERROR_FILE_NOT_FOUND ...), or the registry store's errors. An
// administrator is whoever may write the store's machine hive. An
// SC_HANDLE belongs to its caller, who closes it with CloseServiceHandle.
// Any thread; changes are serialised across processes.
#pragma once

#include <string>
#include <vector>

#include "platform/win32_error.h"

struct ServiceHandleObject;
using SC_HANDLE = ServiceHandleObject*;

// Manager access rights.
constexpr DWORD SC_MANAGER_CONNECT = 0x0001;
constexpr DWORD SC_MANAGER_CREATE_SERVICE = 0x0002;
constexpr DWORD SC_MANAGER_ENUMERATE_SERVICE = 0x0004;
constexpr DWORD SC_MANAGER_LOCK = 0x0008;
constexpr DWORD SC_MANAGER_QUERY_LOCK_STATUS = 0x0010;
constexpr DWORD SC_MANAGER_MODIFY_BOOT_CONFIG = 0x0020;
constexpr DWORD SC_MANAGER_ALL_ACCESS = 0x000F003F;

// Service access rights. SERVICE_DELETE is the standard DELETE right
// (DELETE itself is a macro of <arpa/nameser.h>).
constexpr DWORD SERVICE_QUERY_CONFIG = 0x0001;
constexpr DWORD SERVICE_CHANGE_CONFIG = 0x0002;
constexpr DWORD SERVICE_QUERY_STATUS = 0x0004;
constexpr DWORD SERVICE_ENUMERATE_DEPENDENTS = 0x0008;
constexpr DWORD SERVICE_START = 0x0010;
constexpr DWORD SERVICE_STOP = 0x0020;
constexpr DWORD SERVICE_PAUSE_CONTINUE = 0x0040;
constexpr DWORD SERVICE_INTERROGATE = 0x0080;
constexpr DWORD SERVICE_USER_DEFINED_CONTROL = 0x0100;
constexpr DWORD SERVICE_DELETE = 0x00010000;
constexpr DWORD SERVICE_ALL_ACCESS = 0x000F01FF;

// Service types (services here are programs: the Win32 kinds only).
constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x00000010;
constexpr DWORD SERVICE_WIN32_SHARE_PROCESS = 0x00000020;
constexpr DWORD SERVICE_WIN32 = 0x00000030;
constexpr DWORD SERVICE_INTERACTIVE_PROCESS = 0x00000100;

// Start types.
constexpr DWORD SERVICE_BOOT_START = 0;
constexpr DWORD SERVICE_SYSTEM_START = 1;
constexpr DWORD SERVICE_AUTO_START = 2;
constexpr DWORD SERVICE_DEMAND_START = 3;
constexpr DWORD SERVICE_DISABLED = 4;

// Error control.
constexpr DWORD SERVICE_ERROR_IGNORE = 0;
constexpr DWORD SERVICE_ERROR_NORMAL = 1;
constexpr DWORD SERVICE_ERROR_SEVERE = 2;
constexpr DWORD SERVICE_ERROR_CRITICAL = 3;

constexpr DWORD SERVICE_NO_CHANGE = 0xFFFFFFFF;

// States.
constexpr DWORD SERVICE_STOPPED = 1;
constexpr DWORD SERVICE_START_PENDING = 2;
constexpr DWORD SERVICE_STOP_PENDING = 3;
constexpr DWORD SERVICE_RUNNING = 4;
constexpr DWORD SERVICE_CONTINUE_PENDING = 5;
constexpr DWORD SERVICE_PAUSE_PENDING = 6;
constexpr DWORD SERVICE_PAUSED = 7;

// Controls, and what a running service accepts.
constexpr DWORD SERVICE_CONTROL_STOP = 1;
constexpr DWORD SERVICE_CONTROL_PAUSE = 2;
constexpr DWORD SERVICE_CONTROL_CONTINUE = 3;
constexpr DWORD SERVICE_CONTROL_INTERROGATE = 4;
constexpr DWORD SERVICE_ACCEPT_STOP = 0x0001;

// States asked of EnumServicesStatusEx.
constexpr DWORD SERVICE_ACTIVE = 1;
constexpr DWORD SERVICE_INACTIVE = 2;
constexpr DWORD SERVICE_STATE_ALL = 3;

struct SERVICE_STATUS {
  DWORD dwServiceType = 0;
  DWORD dwCurrentState = 0;
  DWORD dwControlsAccepted = 0;
  DWORD dwWin32ExitCode = 0;
  DWORD dwServiceSpecificExitCode = 0;
  DWORD dwCheckPoint = 0;
  DWORD dwWaitHint = 0;
};

struct SERVICE_STATUS_PROCESS : SERVICE_STATUS {
  DWORD dwProcessId = 0;  // 0 unless a process runs
  DWORD dwServiceFlags = 0;
};

struct ENUM_SERVICE_STATUS_PROCESS {
  std::string serviceName;
  std::string displayName;
  SERVICE_STATUS_PROCESS status;
};

// machineName: nullptr, "" or this computer's name (else
// RPC_S_SERVER_UNAVAILABLE); databaseName: nullptr or "ServicesActive"
// (else ERROR_DATABASE_DOES_NOT_EXIST).
SC_HANDLE OpenSCManager(const char* machineName, const char* databaseName, DWORD desiredAccess);
// Needs SC_MANAGER_CREATE_SERVICE. displayName nullptr: the service name;
// serviceStartName nullptr: "LocalSystem"; dependencies: names each
// ended by a NUL, the list by another (nullptr: none); tagId must be
// nullptr; the password is not kept.
SC_HANDLE CreateService(SC_HANDLE manager, const char* serviceName, const char* displayName,
                        DWORD desiredAccess, DWORD serviceType, DWORD startType, DWORD errorControl,
                        const char* binaryPathName, const char* loadOrderGroup, DWORD* tagId,
                        const char* dependencies, const char* serviceStartName, const char* password);
SC_HANDLE OpenService(SC_HANDLE manager, const char* serviceName, DWORD desiredAccess);
BOOL CloseServiceHandle(SC_HANDLE handle);

// Need SERVICE_QUERY_STATUS. A service deleted meanwhile reads as stopped.
BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status);
BOOL QueryServiceStatusEx(SC_HANDLE service, SERVICE_STATUS_PROCESS* status);
// Needs SERVICE_START. The arguments follow those of the command line.
BOOL StartService(SC_HANDLE service, DWORD argc, const char** argv);
// SERVICE_CONTROL_STOP needs SERVICE_STOP, SERVICE_CONTROL_INTERROGATE
// SERVICE_INTERROGATE; pause and continue are not accepted
// (ERROR_INVALID_SERVICE_CONTROL). `status` (may be null) receives the
// service's status after the control.
BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status);
// Needs SERVICE_CHANGE_CONFIG. SERVICE_NO_CHANGE and nullptr leave a
// setting as it is.
BOOL ChangeServiceConfig(SC_HANDLE service, DWORD serviceType, DWORD startType, DWORD errorControl,
                         const char* binaryPathName, const char* loadOrderGroup, DWORD* tagId,
                         const char* dependencies, const char* serviceStartName, const char* password,
                         const char* displayName);
// Needs SERVICE_DELETE.
BOOL DeleteService(SC_HANDLE service);
// Needs SC_MANAGER_ENUMERATE_SERVICE. The services of `serviceType`
// (SERVICE_WIN32 or one of its kinds) in `serviceState`, by name.
BOOL EnumServicesStatusEx(SC_HANDLE manager, DWORD serviceType, DWORD serviceState,
                          std::vector<ENUM_SERVICE_STATUS_PROCESS>& services);

// For a service's own program, as SetServiceStatus: reports
// SERVICE_START_PENDING (with the time it expects to need) or
// SERVICE_RUNNING. Fails with ERROR_FAILED_SERVICE_CONTROLLER_CONNECT when
// the calling process is not the running service named by AE_SERVICE_NAME,
// ERROR_INVALID_PARAMETER for another state.
BOOL ReportServiceStatus(DWORD currentState, DWORD waitHintMs);
