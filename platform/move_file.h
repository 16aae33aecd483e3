// MoveFileEx: moves, renames or deletes a file, now or at the next boot.
//
// Contract: Win32's (true, or false with the error in GetLastError()).
// Now: a rename (MOVEFILE_REPLACE_EXISTING replaces an existing target,
// else ERROR_ALREADY_EXISTS; across file systems only with
// MOVEFILE_COPY_ALLOWED: copy, then delete). With
// MOVEFILE_DELAY_UNTIL_REBOOT nothing is touched: the operation is
// appended to "PendingFileRenameOperations" (REG_MULTI_SZ) of
// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager in the Windows
// layout: pairs of "\??\<source>" and "\??\<target>" ("!" in front when
// the target may be replaced; an empty target for a deletion, asked by a
// null newFileName), paths made absolute; it cannot be combined with
// MOVEFILE_COPY_ALLOWED. Appends are serialised across processes. Any
// thread.
#pragma once

#include "platform/win32_error.h"

constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x00000001;
constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x00000002;
constexpr DWORD MOVEFILE_DELAY_UNTIL_REBOOT = 0x00000004;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x00000008;

inline constexpr const char* kSessionManagerKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr const char* kPendingFileRenameOperations = "PendingFileRenameOperations";

BOOL MoveFileEx(const char* existingFileName, const char* newFileName, DWORD flags);

// What a boot does with the pending operations: carries them out in order
// (a deletion removes a file or an empty folder; a move does not replace
// a target without "!") and removes the value. An operation that fails is
// reported through DebugOutput and dropped, as at a boot. Returns
// ERROR_SUCCESS, or the registry store's error (nothing done).
LONG ProcessPendingFileRenames();
