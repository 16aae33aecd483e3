// The registry settings that come with the controller runtime: its pipe
// admitted for anonymous access by the file-sharing server, its event log
// source, and its configuration.
//
// Contract: results are Win32 error codes (0 for success); every key
// opened is closed; the store makes each write durable at once, so there
// is nothing to flush. Any thread.
#pragma once

#include <string>

#include "platform/win32_error.h"

namespace rtsvc {

inline constexpr const char* kRuntimePipe = "TARNWICK";
inline constexpr const char* kServerParametersKey = "SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters";
inline constexpr const char* kNullSessionPipes = "NullSessionPipes";
inline constexpr const char* kEventLogSystemKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System";
inline constexpr const char* kEventSourceName = "Brannock Runtime";
inline constexpr const char* kConfigurationKey = "SOFTWARE\\Quillan\\Loomhall\\Configuration";
// The longest runtime program path, in bytes.
inline constexpr size_t kMaxProgramPath = 259;

// Appends the runtime's pipe to "NullSessionPipes" unless it is listed
// (in any case). A missing key or value, or a value that is no
// REG_MULTI_SZ, is left alone; nothing here is an error.
void AdmitRuntimePipe();
// "EventMessageFile", "TypesSupported", "CategoryCount" and
// "CategoryMessageFile" of the event log source, in that order; the
// first failure ends it.
DWORD RegisterEventSource(const std::string& programPath);
// Deletes the event log source's key: the error of opening the event
// log's key or of the deletion.
DWORD DeleteEventSource();
// The runtime configuration: "brannockDBName", "brannockDATSaved",
// "brannockHeapSize", "brannockVarHeapSize". The error of creating the key,
// else that of the "brannockDATSaved" write.
DWORD WriteRuntimeConfiguration(const std::string& programPath);
// The runtime's database: the program path in lower case with ".run" in
// place of its file name's extension (after the file name when it has none).
std::string RuntimeDatabaseName(const std::string& programPath);

}  // namespace rtsvc
