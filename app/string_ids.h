// The string IDs of the resource library that the program's window uses.
// The core's own texts are in alarmconfig/string_ids.h.
#pragma once

#include <cstdint>

constexpr uint32_t kStringDocumentTemplate = 128;   // the window title, then the template's other fields
constexpr uint32_t kStringShutdownWarning = 1000;   // "Shutting down server will close all client connections."
constexpr uint32_t kStringEditWhileConnected = 1005;   // "Cannot edit connection while connected.\nDisconnect?"
constexpr uint32_t kStringEditWhileConnecting = 1007;  // "Cannot edit connection while connecting!"
constexpr uint32_t kStringExitWhileConnecting = 1008;  // "Cannot exit while connections are attempting ..."

constexpr uint32_t kStringStatisticColumn = 61452;  // "Statistic"
constexpr uint32_t kStringValueColumn = 61453;      // "Value"
// The labels of statistics 0 to 6 have the IDs 61454 to 61460.
constexpr uint32_t kStringFirstStatisticLabel = 61454;  // "Sample Period (ms)"
constexpr uint32_t kStringStatusColumn = 61461;         // "Status"
constexpr uint32_t kStringServerNameColumn = 61462;     // "Server Name"
