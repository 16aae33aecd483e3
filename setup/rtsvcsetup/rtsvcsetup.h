// librtsvcsetup: what an installer calls to install, start, stop and
// remove the controller runtime's service, and three small chores: the
// test for administrator rights, the clean-up of the older programming
// software's INI file, and a file replacement at the next boot.
//
// Contract: every export takes a parameter block, an array of pointers laid
// out as below, and returns a 32-bit result; it never throws and keeps no
// state between calls. BOOL outputs are int32_t, error outputs uint32_t,
// strings narrow and NUL-terminated. A null block, or a null string entry,
// gives ERROR_INVALID_PARAMETER (0 for the BOOL exports), also in the
// error output when the block has one; a null error output is not
// written. Nothing is undone after a failure. Any thread.
#pragma once

#include <cstdint>

#include "platform/dll_export.h"

// [0] int32_t*: 1 when the runtime service "BrannockRuntime" exists, else
// 0. Returns the same.
AE_DLL_EXPORT uint32_t isBrannockService(void** block);
// [0] int32_t*: 1 when the service manager opens with connect and
// create-service access, else 0. Returns the same.
AE_DLL_EXPORT uint32_t hasAdminRights(void** block);
// [0] const char* runtime program path (at most 259 characters),
// [1] uint32_t* error. Installs the service (automatic start), admits the
// runtime's pipe for anonymous access, registers the event log source and
// writes the runtime configuration; with start 1 also starts it. Returns 0
// or the first error, which goes to [1] too; on success [1] is written
// only by the start.
AE_DLL_EXPORT uint32_t addBrannockService(void** block, uint32_t start);
// [0] uint32_t* error. Stops the controller product's own service and
// sets it to start on demand, then starts the runtime. 0 or the error,
// also in [0].
AE_DLL_EXPORT uint32_t startBrannockService(void** block);
// [0] uint32_t* error. Stops the runtime and the older runtime service.
AE_DLL_EXPORT uint32_t stopBrannockService(void** block);
// [0] uint32_t* error. Stops the runtime, waits up to 30 s for it to stop,
// deletes it whatever its state, stops the older runtime service and
// deletes the event log source.
AE_DLL_EXPORT uint32_t removeBrannockService(void** block);
// [0] const char* INI file path. Deletes the older software's protocol
// section and two of its keys. Always 0.
AE_DLL_EXPORT uint32_t cleanUpCalderINI(void** block);
// [0] const char* new file, [1] const char* target ("" or null for none),
// [2] uint32_t* error. At the next boot the target is deleted and the new
// file moved to it. 0 or the first error, also in [2].
AE_DLL_EXPORT uint32_t replaceFileAtReboot(void** block);
