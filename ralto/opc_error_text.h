// English texts of the result codes that the Ralto OPC DA server answers,
// for IOPCServer::GetErrorString.
//
// Pure function; any thread may call.
#pragma once

#include "platform/com.h"

// The text of `code`, or null for a code the server does not know.
const char* RaltoOpcErrorText(HRESULT code);
