#include "tools/aesvc/status_text.h"

#include <cstdio>

namespace {

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

std::string TypeName(DWORD type) {
  std::string name = (type & ~SERVICE_INTERACTIVE_PROCESS) == SERVICE_WIN32_SHARE_PROCESS ? "WIN32_SHARE_PROCESS"
                     : (type & ~SERVICE_INTERACTIVE_PROCESS) == SERVICE_WIN32_OWN_PROCESS ? "WIN32_OWN_PROCESS"
                                                                                          : "UNKNOWN";
  return type & SERVICE_INTERACTIVE_PROCESS ? name + "  (interactive)" : name;
}

std::string Line(const char* label, const std::string& value) {
  char text[64];
  std::snprintf(text, sizeof text, "        %-19s: ", label);
  return text + value + "\n";
}

}  // namespace

std::string StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return "STOPPED";
    case SERVICE_START_PENDING: return "START_PENDING";
    case SERVICE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_RUNNING: return "RUNNING";
    case SERVICE_CONTINUE_PENDING: return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING: return "PAUSE_PENDING";
    case SERVICE_PAUSED: return "PAUSED";
    default: return std::to_string(state);
  }
}

std::string StatusText(const std::string& name, const std::string& displayName, const SERVICE_STATUS_PROCESS& status) {
  std::string text = "SERVICE_NAME: " + name + "\nDISPLAY_NAME: " + displayName + "\n";
  text += Line("TYPE", Hex(status.dwServiceType) + "  " + TypeName(status.dwServiceType));
  text += Line("STATE", std::to_string(status.dwCurrentState) + "  " + StateName(status.dwCurrentState));
  text += std::string(32, ' ') + (status.dwControlsAccepted & SERVICE_ACCEPT_STOP ? "(STOPPABLE" : "(NOT_STOPPABLE") +
          ", NOT_PAUSABLE)\n";
  text += Line("WIN32_EXIT_CODE", std::to_string(status.dwWin32ExitCode) + "  (0x" + Hex(status.dwWin32ExitCode) + ")");
  text += Line("SERVICE_EXIT_CODE",
               std::to_string(status.dwServiceSpecificExitCode) + "  (0x" + Hex(status.dwServiceSpecificExitCode) + ")");
  text += Line("CHECKPOINT", "0x" + Hex(status.dwCheckPoint));
  text += Line("WAIT_HINT", "0x" + Hex(status.dwWaitHint));
  text += Line("PID", std::to_string(status.dwProcessId));
  return text + "\n";
}
