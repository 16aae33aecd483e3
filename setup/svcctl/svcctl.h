// libsvcctl: what an installer asks while it replaces the system's
// programs: whether a program runs, and stopping or starting a service,
// waiting for it if told.
//
// Contract: both functions return a Win32 error code (0 for success) and
// never throw; they keep no state between calls. Every call traces its
// steps to the debugger output (DebugOutput), each line formatted into a
// 260-byte buffer (258 characters of text, its line feed, the NUL),
// longer texts cut. Any thread.
#pragma once

#include <cstdint>

#include "platform/dll_export.h"

// *isRunning = 1 when a process whose program has the file name `exeName`
// (any case) runs, else 0. 160 (ERROR_BAD_ARGUMENTS) when isRunning is
// null; the error of the process enumeration when it fails.
AE_DLL_EXPORT uint32_t bkIsRunning(const char* exeName, int32_t* isRunning);

// Starts (start nonzero) or stops the service, unless it is already in or
// on its way to that state; with `wait`, polls every second for as long as
// it is pending, at most timeoutMs (0: no limit), and returns 1053
// (ERROR_SERVICE_REQUEST_TIMEOUT) when it did not get there.
AE_DLL_EXPORT uint32_t bkStopStartService(const char* serviceName, int32_t start, int32_t wait, uint32_t timeoutMs);
