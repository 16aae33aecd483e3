// C_OPC_DA_Client: the server's link to the OPC DA server that publishes the
// alarm variables, one per connection. It owns the connection's alarm
// variables and their maps (CAlarmVarStore: itemMap, pendingMap, handleMap,
// reverseHandleMap, configTimeSecsMap, configTimeNSecsMap), creates one
// inactive OPC group, fills the maps by the configuration import, adds one
// OPC item per variable (".LP" excepted), advises its data callback, and
// publishes the group's interfaces in g_pGlobalInterfaceTable under the
// cookies below, so that other threads fetch them from there.
//
// Contract: created, used and destroyed by the connection manager under
// g_ConfigMutex (every operation REQUIRES it held); `active` is read without
// it by the data callback, and the callback looks handles up holding
// `handleLock` shared. OPC and COM failures come back as their HRESULTs;
// without a global interface table every connect operation answers E_FAIL
// and does nothing. Destruction is the disconnect sequence: the group made
// inactive, the callback unadvised and detached, the items and the group
// removed, the cookies revoked, every variable freed after the alarm
// sources that refer to one were detached from it.
#pragma once

#include <atomic>
#include <cstdint>
#include <shared_mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "alarmconfig/alarm_var_store.h"
#include "opcda/callback.h"
#include "platform/com.h"
#include "platform/global_interface_table.h"
#include "platform/opcda.h"

// The process's Global Interface Table; null until application start-up
// creates it (CoCreateInstance of CLSID_StdGlobalInterfaceTable).
extern IGlobalInterfaceTable* g_pGlobalInterfaceTable;

class C_OPC_DA_Client : public CAlarmVarStore {
 public:
  // Reads the diagnostic file paths "AlarmDumpFile" and "AlarmReceiveFile"
  // of HKLM "SOFTWARE\Quillan\Veltro QRX OPC AE\AlarmLog"; a missing key or
  // value, or a path of more than 126 characters (the server's 255-byte
  // buffer), leaves a path empty.
  C_OPC_DA_Client();
  ~C_OPC_DA_Client() override;

  // A new connection: group on the server of `progId` (in process), full
  // import, alarm block list, one item per variable, interfaces into the
  // global interface table. S_OK, or the failing HRESULT with the group
  // removed (an unknown ProgID: CO_E_CLASSSTRING; an item the server fails:
  // that HRESULT). A rejected item (S_FALSE) is retried once after a browse
  // and otherwise left without a server handle. Used once per client.
  HRESULT ConnectFresh(const std::string& progId, DWORD updateRateMs);
  // A binding tick: connects as above when the table holds no server or
  // item management yet, then an incremental import and items for the new
  // variables (the group made inactive meanwhile: the caller activates it
  // again). Import failures 0xC18107DB, 0xC18107D3, 0xC18107D0 and
  // 0xC1810002 are tolerated (S_OK, no items added); any other removes the
  // group after the verbose report and is returned.
  HRESULT ConnectOrRefresh(const std::string& progId, DWORD updateRateMs);

  // The configuration import into this client's maps (config_import.h):
  // full on a fresh connection, incremental on a binding tick. Variables
  // that leave lose their OPC items (through itemMgtCookie) and their
  // queued changes.
  HRESULT ImportConfiguration(bool incremental);

  // The variable of an OPC client handle; null when unknown.
  // REQUIRES: handleLock held (shared is enough) or g_ConfigMutex.
  AlarmVar* FindVariableByHandle(OPCHANDLE clientHandle) const;

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

  // Guards handleMap and the variables' lives against the data callback:
  // shared while the callback looks handles up, exclusive while the client
  // changes handleMap or frees variables.
  mutable std::shared_mutex handleLock;

 protected:
  void RemoveServerItem(const AlarmVar& variable) override;

 private:
  struct GroupInterfaces;

  HRESULT CreateGroup(const CLSID& clsid, DWORD updateRateMs, bool newCallback, GroupInterfaces& group);
  HRESULT AddItems(const std::vector<AlarmVar*>& variables, bool incremental, GroupInterfaces& group);
  HRESULT AddItem(AlarmVar& variable, OPCHANDLE clientHandle, IOPCItemMgt& itemMgt);
  HRESULT RegisterInterfaces(const GroupInterfaces& group);
  // Unadvises the callback and removes the group: a connect that fails.
  void AbandonGroup(GroupInterfaces& group);
  void RemoveGroupThroughTable();
  void RemoveItemsThroughTable(std::vector<OPCHANDLE> serverHandles);
  void RevokeInterfaces();
  void ForgetRemovedGroup();
  void SetServerGroup(DWORD group);
  void ForgetHandle(AlarmVar& variable);
  void WriteAlarmBlockList() const;

  // This client's data callback; detached before the client goes.
  ComPtr<Callback> callback_;
  // What a sweep took out of the maps, removed from the server and from
  // alarmRequests once the import is over.
  std::vector<OPCHANDLE> sweptServerHandles_;
  std::unordered_set<const AlarmVar*> sweptVariables_;
};
