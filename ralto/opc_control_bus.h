// The control of the simulated Ralto OPC DA server on the session bus, for
// tools in other processes (tools/ralto-sim) and tests: the names that
// docs/ralto-opc-server.md describes method by method.
//
// Contract: the library offers its process-wide control (the plant and the
// faults of ralto/opc_control.h) on the session bus once the first server
// object of the process is created, when DBUS_SESSION_BUS_ADDRESS is set
// and HKLM\<kRaltoOpcServerKey> value kRaltoOpcControlBusValue (REG_DWORD)
// is not 0 (missing: on). Without a reachable bus, or with the name owned
// by another process, it says so once (DebugOutput) and serves OPC without
// it. A failed call answers the D-Bus error kRaltoControlErrorPrefix
// followed by the HRESULT's 8 upper-case hex digits. Times on the bus are
// FILETIME ticks (UTC); 0 is "none".
#pragma once

#include "ralto/opc_server.h"

inline constexpr char kRaltoOpcControlBusValue[] = "ControlBus";

inline constexpr char kRaltoControlBusName[] = "Brixham.RaltoOPC";
inline constexpr char kRaltoControlPath[] = "/Control";
inline constexpr char kRaltoControlInterface[] = "Brixham.RaltoOPC.Control";
inline constexpr char kRaltoControlErrorPrefix[] = "Brixham.RaltoOPC.Error.HRESULT_";
