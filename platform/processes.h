// Process enumeration with the Win32 contract (EnumProcesses, OpenProcess,
// EnumProcessModules, GetModuleBaseName), read from /proc.
//
// Contract: the BOOL functions return true, or false with the Win32 error
// in GetLastError(); GetModuleBaseName returns the length copied (0 and
// GetLastError() on failure). Process IDs are listed in the order /proc
// lists them, ascending. A process's modules are its main program only:
// the first module, the one whose name tells the program. Opening a process
// for PROCESS_QUERY_INFORMATION or PROCESS_VM_READ needs the right to read
// its program link (the same user, or root); kernel threads, which have no
// program, refuse as the System process does (ERROR_ACCESS_DENIED), and an
// ID without a process gives ERROR_INVALID_PARAMETER. A HANDLE belongs to
// its caller, who closes it with CloseHandle. Any thread.
#pragma once

#include "platform/win32_error.h"

struct ProcessObject;
using HANDLE = ProcessObject*;
struct ModuleObject;
using HMODULE = ModuleObject*;

constexpr DWORD MAX_PATH = 260;

constexpr DWORD PROCESS_VM_READ = 0x0010;
constexpr DWORD PROCESS_QUERY_INFORMATION = 0x0400;
constexpr DWORD PROCESS_QUERY_LIMITED_INFORMATION = 0x1000;

// Fills processIds (cb bytes) with the IDs of the running processes;
// *bytesReturned gets the bytes written. When it equals cb there may be
// more: call again with a larger buffer.
// REQUIRES: bytesReturned != nullptr; processIds != nullptr when cb > 0.
BOOL EnumProcesses(DWORD* processIds, DWORD cb, DWORD* bytesReturned);

// nullptr on failure. `inheritHandle` has no meaning here.
HANDLE OpenProcess(DWORD desiredAccess, BOOL inheritHandle, DWORD processId);
BOOL CloseHandle(HANDLE handle);

// The process's modules: its main program. *bytesNeeded gets the bytes
// all of them take; as many as fit in cb bytes are written. Needs a handle
// opened with PROCESS_QUERY_INFORMATION and PROCESS_VM_READ.
BOOL EnumProcessModules(HANDLE process, HMODULE* modules, DWORD cb, DWORD* bytesNeeded);

// The file name (without folder) of a module of the process (nullptr: the
// main program), cut to size - 1 characters and terminated.
DWORD GetModuleBaseName(HANDLE process, HMODULE module, char* baseName, DWORD size);
