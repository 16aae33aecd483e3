// A service's status as aesvc prints it, in the layout of sc.exe's query:
//
//   SERVICE_NAME: Pump
//   DISPLAY_NAME: Feed Pump
//           TYPE               : 10  WIN32_OWN_PROCESS
//           STATE              : 4  RUNNING
//                                   (STOPPABLE, NOT_PAUSABLE)
//           WIN32_EXIT_CODE    : 0  (0x0)
//           ...
//           PID                : 4711
//
// Contract: pure formatting, one block ending in an empty line. Any thread.
#pragma once

#include <string>

#include "platform/services.h"

std::string StatusText(const std::string& name, const std::string& displayName, const SERVICE_STATUS_PROCESS& status);
// "RUNNING", "STOP_PENDING" ...; the number for a state without a name.
std::string StateName(DWORD state);
