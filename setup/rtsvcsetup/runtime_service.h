// The controller runtime's service, and the two services around it: the
// controller product's own, which must not run beside the runtime, and the
// older runtime, which stops with it.
//
// Contract: results are Win32 error codes (0 for success) unless said
// otherwise; every handle opened is closed. Nothing is undone after a
// failure. Any thread.
#pragma once

#include <string>

#include "platform/win32_error.h"

namespace rtsvc {

inline constexpr const char* kRuntimeService = "BrannockRuntime";
inline constexpr const char* kRuntimeDisplayName = "Brannock Runtime";
inline constexpr const char* kOlderRuntimeService = "Stelmar";
inline constexpr const char* kControllerService = "TarnwickController";
inline constexpr const char* kControllerDisplayName = "Tarnwick Controller";

// Whether the runtime service exists (false when the manager cannot be opened).
bool RuntimeServiceExists();
// Whether the service manager opens with connect and create-service access.
bool CanCreateServices();
// Creates the runtime service: a shared-process service of the local
// system account, started automatically, running `programPath`.
DWORD CreateRuntimeService(const std::string& programPath);
// Stops the controller product's service (when it runs) and sets it to
// start on demand, ignoring what fails; then starts the runtime, which
// may already run.
DWORD StartRuntime();
// Stops the runtime (it may be stopped already), then the older runtime.
DWORD StopRuntime();
// Stops the runtime, waits up to stopLimitMs for it to stop (polling
// every 100 ms), deletes it, and stops the older runtime.
DWORD RemoveRuntime(DWORD stopLimitMs);

}  // namespace rtsvc
