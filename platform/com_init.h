// COM initialisation of a thread and of the process's security. There are no
// apartments on this platform; the calls keep the Windows contract that a
// program's start-up and exit order rely on.
//
// Contract: the first CoInitializeEx of a thread answers S_OK, each further
// one S_FALSE; every successful call needs its CoUninitialize on the same
// thread (an unbalanced CoUninitialize does nothing). CoInitializeSecurity
// succeeds once per process and answers RPC_E_TOO_LATE afterwards. Any
// thread may call; each thread counts its own initialisations.
#pragma once

#include "platform/com.h"

constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD RPC_C_AUTHN_LEVEL_NONE = 1;
constexpr DWORD RPC_C_IMP_LEVEL_IDENTIFY = 2;
constexpr DWORD EOAC_NONE = 0;
constexpr HRESULT RPC_E_TOO_LATE = static_cast<HRESULT>(0x80010119);

HRESULT CoInitializeEx(void* reserved, DWORD coInit);
void CoUninitialize();
// The security descriptor, authentication list and reserved arguments of
// Windows have no meaning here and are left out.
HRESULT CoInitializeSecurity(LONG authnServices, DWORD authnLevel, DWORD impLevel, DWORD capabilities);

// How many successful CoInitializeEx of the calling thread are not yet ended.
DWORD TEST_ComInitCount();
