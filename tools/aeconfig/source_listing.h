// What `aeconfig check` prints: one line per alarm source and the names of
// the results it reports (docs/aeconfig.md).
//
//   <source name> TAB <condition> TAB <area> TAB <subconditions> TAB <message template>
//
// with subconditions as "name=severity" joined by ",", "-" for a source
// without condition, and every tab, newline, carriage return and backslash
// inside a field written as \t, \n, \r and \\ so that a source is one line.
// Pure functions of what they are given; any thread.
#pragma once

#include <string>

#include "platform/com.h"

class CDerivedSource;

// The line of `source` (no final newline). REQUIRES: g_ConfigMutex held, so
// that the source's variable stays alive.
std::string SourceLine(CDerivedSource& source);

// `text` with tab, newline, carriage return and backslash escaped.
std::string EscapeField(const std::string& text);

// The name of an import or configuration server result ("S_OK",
// "E_POINTER", "RALTO_E_CONFIG_EDITING", "XML parser error 76", ...); "" for
// an HRESULT it does not know.
std::string ResultName(HRESULT result);
