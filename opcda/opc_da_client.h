// C_OPC_DA_Client: the server's link to the OPC DA server that publishes the
// alarm variables, one per connection. It owns the connection's alarm
// variables and their maps (CAlarmVarStore: itemMap, pendingMap, handleMap,
// reverseHandleMap, configTimeSecsMap, configTimeNSecsMap), fills them by
// the configuration import, and keeps the OPC cookies, group handle and
// diagnostic file paths of the connection.
//
// Contract: created, used and destroyed by the connection manager under
// g_ConfigMutex; `active` is read without it by the data callback. The OPC
// operations (group, items, global interface table cookies) come with the
// connect operations; until then the cookies and serverGroup stay 0 and the
// client has nothing on an OPC server. Destruction frees every variable
// after detaching the alarm sources that refer to one.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "alarmconfig/alarm_var_store.h"
#include "platform/com.h"

class C_OPC_DA_Client : public CAlarmVarStore {
 public:
  // Reads the diagnostic file paths "AlarmDumpFile" and "AlarmReceiveFile"
  // of HKLM "SOFTWARE\Quillan\Veltro QRX OPC AE\AlarmLog"; a missing key or
  // value, or a path of more than 126 characters (the server's 255-byte
  // buffer), leaves a path empty.
  C_OPC_DA_Client();
  ~C_OPC_DA_Client() override;

  // The configuration import into this client's maps (config_import.h):
  // full on a fresh connection, incremental on a binding tick.
  // REQUIRES: g_ConfigMutex held.
  HRESULT ImportConfiguration(bool incremental);

  // Data callbacks are ignored while 0; the connection manager sets it once
  // the group is active and clears it before the client goes.
  std::atomic<int32_t> active{0};
  // Global interface table cookies of the group's OPC interfaces.
  DWORD syncIOCookie = 0;
  DWORD groupStateCookie = 0;
  DWORD connectionPointCookie = 0;
  DWORD serverCookie = 0;
  DWORD itemMgtCookie = 0;
  DWORD adviseCookie = 0;
  // The server's handle of the group; 0 when there is none.
  DWORD serverGroup = 0;
  // The last OPC client handle given out; the first handle is 1.
  DWORD lastClientHandle = 0;
  // When not empty: every data callback appends to it.
  std::string receiveFilePath;
  // When not empty: a fresh connection writes the alarm block list to it.
  std::string dumpFilePath;

 protected:
  void RemoveServerItem(const AlarmVar& variable) override;
};
