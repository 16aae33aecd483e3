#include "platform/com_init.h"

#include <atomic>

namespace {

thread_local DWORD t_initCount = 0;
std::atomic<bool> g_securitySet{false};

}  // namespace

HRESULT CoInitializeEx(void*, DWORD) { return t_initCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (t_initCount > 0) --t_initCount;
}

HRESULT CoInitializeSecurity(LONG, DWORD, DWORD, DWORD) {
  return g_securitySet.exchange(true) ? RPC_E_TOO_LATE : S_OK;
}

DWORD TEST_ComInitCount() { return t_initCount; }
