// The IDs of the resource library's string table (resources/strings.xml),
// by name, for LoadResourceString (platform/resource_strings.h).
//
// Contract: one constant per entry that the server core shows, with the
// entry's number; the comment gives the text. The window's own entries
// have theirs beside the window's code (app/string_ids.h). Plain
// constants: any thread, no initialisation order.
#pragma once

#include <cstdint>

// The acknowledger when a condition has none.
constexpr uint32_t kStringUnknownUser = 1023;  // "Unknown User"

// The write-back result texts of an acknowledgement.
constexpr uint32_t kStringAckSuccess = 1036;         // "Success"
constexpr uint32_t kStringAckWriteFailed = 1037;     // "Error: OPC Write failed: Result 0x%08X, ..."
constexpr uint32_t kStringAckNoVariable = 1038;      // "Error: Couldn't find variable %1"
constexpr uint32_t kStringAckTimeMismatch = 1039;    // "Error: Existing activation time (%1) ..."
constexpr uint32_t kStringAckNotConnected = 1040;    // "Error: Not Connected to Ralto ... OPC Server"

// The OPC DA connection: the default server and the states' texts.
constexpr uint32_t kStringDefaultServer = 61463;  // "Brixham.RaltoOPC"
constexpr uint32_t kStringNotConnected = 61464;   // "Not Connected"
constexpr uint32_t kStringConnected = 61465;      // "Connected"
constexpr uint32_t kStringInvalidServer = 61466;  // "Invalid Server"
constexpr uint32_t kStringConnecting = 61467;     // "Connecting..."

// The configuration import's message boxes.
constexpr uint32_t kStringSummaryParseError = 61468;       // "Error parsing configuration summary ...%1"
constexpr uint32_t kStringProducerNotFound = 61469;        // "Producing node found in ... current producer."
constexpr uint32_t kStringProducedDataParseError = 61470;  // "Error parsing ProducedData.xml file ...%1"
constexpr uint32_t kStringMemberNotAccessible = 61471;     // "Could not access alarm block member ..."
constexpr uint32_t kStringProducedDataNotLoaded = 61472;   // "Could not load current ProducedData.xml file."

// The connection dialog's refusals.
constexpr uint32_t kStringServerRequired = 61447;     // "The 'Server' field must be filled in!"
constexpr uint32_t kStringInvalidServerName = 61476;  // "Invalid server, please enter a valid server name."
