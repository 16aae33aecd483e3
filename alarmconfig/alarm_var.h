// AlarmVar: one alarm variable of the plant: a member of an alarm block
// (".AS", ".RS", ".LP", ".FC", ...) or one of the four event-time elements
// "[1]".."[4]" of an ".AS"/".RS" member. The configuration import creates
// and refreshes them; the OPC DA client's itemMap owns them; the alarm
// processor keeps value, timestamp and quality.
//
// Contract: a plain record. Whoever changes it holds g_ConfigMutex (the
// import and the client's operations run under it).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/com.h"
#include "platform/filetime.h"
#include "platform/variant.h"

struct AlarmVar {
  std::string blockType;   // "O0C" analog or "O0D" digital alarm block
  std::string itemName;    // e.g. "LIC101.AS", or "LIC101.AS[2]" for an element
  std::string nodeName;    // the producer node
  std::string area;        // normalised area path; empty until found
  std::string message;     // the block's message template
  std::string rocMessage;  // its rate-of-change message template
  DWORD serverHandle = 0;  // OPC server item handle; 0 until the item exists
  VARIANT value;
  FILETIME timestamp;
  DWORD quality = 0;
  // Alarm priority codes 0..5 (an ".LP" variable's InitValue; copied onto
  // the block's ".AS"/".RS" variables when their alarm entries are made).
  DWORD priorityCodes[6] = {};
  bool initialPending = true;
  bool seenInImport = false;

  // nodeName "." itemName: the key of itemMap and the OPC item id.
  std::string ItemId() const;
  // The last three characters of itemName (".AS", ".RS", ".LP", ".FC"...);
  // the whole name when it is shorter. A view into itemName.
  std::string_view KindSuffix() const;
  // itemName up to its last "." (the whole name when it has none).
  std::string BlockName() const;
};

// The item id of `itemName` on node `nodeName`.
std::string MakeItemId(const std::string& nodeName, const std::string& itemName);
