// The outcome texts of the acknowledgement write-back, as the
// acknowledgement log records them: the string table's entries 1036 to
// 1040 with their arguments filled in.
//
// Contract: each function loads its entry at the call (LoadResourceString:
// "" when the table lacks it) and fills in its arguments; times are the
// local date and time in the C library's locale ("%x %X", TZ honoured),
// "" for the null time and "Invalid DateTime" for one that cannot be
// converted. Any thread may call.
#pragma once

#include <string>

#include "platform/com.h"
#include "platform/filetime.h"

// 1040: the connection is not up.
std::string AckNotConnectedText();
// 1039: the activation time that the server holds is not the one that the
// client acknowledged.
std::string AckTimeMismatchText(const FILETIME& held, const FILETIME& incoming);
// 1038: the acknowledgement item `itemId` is not among the connection's items.
std::string AckNoVariableText(const std::string& itemId);
// 1036 when the write answered S_OK, else 1037 with the write's result and
// the item's error in hexadecimal.
std::string AckWriteResultText(HRESULT result, HRESULT itemError);
