// The Ralto OPC DA server: what a client of "Brixham.RaltoOPC" includes
// besides platform/opcda.h. The class lives in the in-process server library
// ralto_opc (libralto_opc.so) and is reached only through class creation by
// CLSID or ProgID, never by linking.
//
// The server object answers IOPCServer, IOPCBrowseServerAddressSpace and
// IRaltoOpcControl (ralto/opc_control.h); its groups answer IOPCItemMgt,
// IOPCGroupStateMgt, IOPCSyncIO and IConnectionPointContainer (one
// IOPCDataCallback sink per group). Every server object of a process sees
// the same simulated plant: the alarm blocks of the configuration documents
// (docs/ralto-opc-server.md).
//
// Threads: any thread may call any method; OnDataChange comes from the
// server's own update thread (or from TickUpdates' caller), never while the
// server holds a lock, so a sink may call back into the server.
#pragma once

#include "platform/com.h"

// {7D3C5B0E-4A61-4F0B-9C2E-5B8A21E6D4F3}
constexpr CLSID CLSID_RaltoOpcServer{
    0x7D3C5B0E, 0x4A61, 0x4F0B, {0x9C, 0x2E, 0x5B, 0x8A, 0x21, 0xE6, 0xD4, 0xF3}};

inline constexpr char kRaltoOpcProgId[] = "Brixham.RaltoOPC";
inline constexpr char kRaltoOpcDescription[] = "Ralto OPC DA Server";

// Settings read when the plant starts in a process: HKLM\<key>, value
// "RandomChangesPerSecond" (REG_DWORD): run the random plant at that many
// block changes per second of plant time from the start (0 or missing: a
// still plant); "RandomAcknowledgementsPerSecond" (REG_DWORD): that many times
// a second an operator at a random controller's panel acknowledges what is
// unacknowledged there (0 or missing: nobody at the panels); "FcWriteJournal"
// (REG_SZ): a file that every accepted ".FC" write is appended to, one line
// each, before the write is answered, so that the controllers' record of
// acknowledgement writes outlives the process (missing or empty: none). The
// documents come from the configuration server's document directory
// (ralto/config_server.h: kRaltoConfigServerKey).
inline constexpr char kRaltoOpcServerKey[] = "SOFTWARE\\Ralto\\OPC Server";
inline constexpr char kRaltoOpcRandomRateValue[] = "RandomChangesPerSecond";
inline constexpr char kRaltoOpcRandomAckRateValue[] = "RandomAcknowledgementsPerSecond";
inline constexpr char kRaltoOpcFcJournalValue[] = "FcWriteJournal";

// Update rates: a group's rate is revised to a multiple of this, at least this.
constexpr DWORD kRaltoOpcRateStepMs = 10;
