// Win32 error codes with their Windows numbers, shared by every stand-in
// that answers like a Win32 call (registry, services, files).
#pragma once

#include <string>

#include "platform/com.h"

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_PATH_NOT_FOUND = 3;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr LONG ERROR_NOT_SAME_DEVICE = 17;
constexpr LONG ERROR_GEN_FAILURE = 31;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_DISK_FULL = 112;
constexpr LONG ERROR_INVALID_NAME = 123;
constexpr LONG ERROR_MOD_NOT_FOUND = 126;
constexpr LONG ERROR_PROC_NOT_FOUND = 127;
constexpr LONG ERROR_BAD_ARGUMENTS = 160;
constexpr LONG ERROR_ALREADY_EXISTS = 183;
constexpr LONG ERROR_BAD_EXE_FORMAT = 193;
constexpr LONG ERROR_FILENAME_EXCED_RANGE = 206;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_BADDB = 1009;
constexpr LONG ERROR_BADKEY = 1010;
constexpr LONG ERROR_CANTOPEN = 1011;
constexpr LONG ERROR_CANTREAD = 1012;
constexpr LONG ERROR_CANTWRITE = 1013;
constexpr LONG ERROR_REGISTRY_CORRUPT = 1015;
constexpr LONG ERROR_KEY_DELETED = 1018;
constexpr LONG ERROR_INVALID_SERVICE_CONTROL = 1052;
constexpr LONG ERROR_SERVICE_REQUEST_TIMEOUT = 1053;
constexpr LONG ERROR_SERVICE_ALREADY_RUNNING = 1056;
constexpr LONG ERROR_SERVICE_DISABLED = 1058;
constexpr LONG ERROR_SERVICE_DOES_NOT_EXIST = 1060;
constexpr LONG ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
constexpr LONG ERROR_SERVICE_NOT_ACTIVE = 1062;
constexpr LONG ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063;
constexpr LONG ERROR_DATABASE_DOES_NOT_EXIST = 1065;
constexpr LONG ERROR_PROCESS_ABORTED = 1067;
constexpr LONG ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
constexpr LONG ERROR_SERVICE_EXISTS = 1073;
constexpr LONG ERROR_UNSUPPORTED_TYPE = 1630;
constexpr LONG RPC_S_SERVER_UNAVAILABLE = 1722;

// GetLastError and SetLastError: the calling thread's last error, set by
// the stand-ins that answer like Win32 calls returning a BOOL or a handle
// (services, processes, files). Each thread has its own; 0 at its start.
DWORD GetLastError();
void SetLastError(DWORD code);

// The Win32 code that Windows gives for the cause that `err` (an errno
// value) names: ENOENT ERROR_FILE_NOT_FOUND, EACCES ERROR_ACCESS_DENIED,
// EXDEV ERROR_NOT_SAME_DEVICE ...; ERROR_GEN_FAILURE for one without a
// counterpart.
LONG Win32ErrorFromErrno(int err);

// The Windows message text of a code ("Access is denied."), as FormatMessage
// gives it; "Error <code>." for a code without a text here.
std::string Win32ErrorText(LONG code);
