// The string IDs of the resource library that the acknowledgement log's
// dialogs show (the comments viewer, its filter, the log configuration).
// The window's own entries are in app/string_ids.h, the core's in
// alarmconfig/string_ids.h.
//
// Contract: plain constants; any thread, no initialisation order.
#pragma once

#include <cstdint>

// The viewer's column headers, in column order except the last.
constexpr uint32_t kStringTimestampColumn = 1012;  // "Timestamp"; 1013 to 1019: "Area" ... "Comment"
constexpr uint32_t kStringResultColumn = 1022;     // "Result"

// The folder pickers' titles.
constexpr uint32_t kStringChooseLocalFolder = 1021;   // "Choose a local log directory"
constexpr uint32_t kStringChooseRemoteFolder = 1024;  // "Choose a remote log directory"
constexpr uint32_t kStringChooseCustomFolder = 1025;  // "Choose a custom log directory"

// The viewer's status bar.
constexpr uint32_t kStringLocationPane = 1026;       // "%s"
constexpr uint32_t kStringDateRangePane = 1027;      // "Date Filter: %s to %s"
constexpr uint32_t kStringDateTodayPane = 1028;      // "Date Filter: Today"
constexpr uint32_t kStringDateAllPane = 1029;        // "Date Filter: All"
constexpr uint32_t kStringLocationIndicator = 1030;  // "placeholder: Location"; 1031, 1032: Date, Area
constexpr uint32_t kStringAreaAllPane = 1033;        // "Area Filter: All"
constexpr uint32_t kStringAreaListPane = 1034;       // "Area Filter: %s"
constexpr uint32_t kStringDateDayPane = 1035;        // "Date Filter: %s"

// The log dialogs' refusals and questions.
constexpr uint32_t kStringNoSuchDirectory = 61473;     // "Directory does not exist: "%s"\nDo you want ..."
constexpr uint32_t kStringInvalidDirectory = 61474;    // "Invalid Directory" (caption)
constexpr uint32_t kStringSameLocalAndRemote = 61475;  // "The Local and Remote Paths must be set to ..."
