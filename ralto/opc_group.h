// An OPC group of the Ralto OPC DA server: its items (server handle = the
// item's position + 1, never reused), its state, its one IOPCDataCallback
// sink and its update cycle.
//
// Contract: the OPC DA 2.0 semantics of IOPCItemMgt, IOPCGroupStateMgt,
// IOPCSyncIO and IConnectionPointContainer (platform/opcda.h), with these
// choices: null out pointers and empty lists are E_INVALIDARG; a method
// made to fail by IRaltoOpcControl::FailCall answers that code with null out
// pointers and no effect; CreateEnumerator, CloneGroup and
// EnumConnectionPoints answer E_NOTIMPL; no deadband is applied.
// DeliverChanges sends, in one OnDataChange, every active item whose value
// changed since it was last sent (all of them after the group or the item
// became active), when the group is active, not removed and has a sink;
// it calls the sink with no lock held and a reference on the sink, so the
// sink may call back into the server.
// Every method is thread-safe.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/connection_point.h"
#include "platform/opcda.h"
#include "ralto/opc_control.h"

class CRaltoGroupTable;
class CRaltoPlant;
struct RaltoItem;

class CRaltoOpcGroup final : public IOPCItemMgt,
                             public IOPCGroupStateMgt,
                             public IOPCSyncIO,
                             public IConnectionPointContainer {
 public:
  struct State {
    std::string name;
    OPCHANDLE serverGroup = 0;
    OPCHANDLE clientGroup = 0;
    bool active = false;
    DWORD updateRateMs = 1000;
    LONG timeBias = 0;
    float percentDeadband = 0;
    DWORD lcid = 0;
  };

  // The rate the server uses for `requested` ms.
  static DWORD ReviseRate(DWORD requested);
  // Whether riid names one of a group's interfaces.
  static bool Implements(const IID& riid);

  // Made with one reference, which the caller owns; registers with the
  // update scheduler.
  CRaltoOpcGroup(std::shared_ptr<CRaltoGroupTable> table, State state);

  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  // AddRef unless the last reference is already gone (for the scheduler).
  bool TryAddRef();

  // IOPCItemMgt
  HRESULT AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                   HRESULT** ppErrors) override;
  HRESULT ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                        OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) override;
  HRESULT RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;
  HRESULT SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) override;
  HRESULT SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                           HRESULT** ppErrors) override;
  HRESULT SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                       HRESULT** ppErrors) override;
  HRESULT CreateEnumerator(const IID& riid, IUnknown** ppUnk) override;

  // IOPCGroupStateMgt
  HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, char** ppName, LONG* pTimeBias,
                   float* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                   OPCHANDLE* phServerGroup) override;
  HRESULT SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                   LONG* pTimeBias, float* pPercentDeadband, DWORD* pLCID,
                   OPCHANDLE* phClientGroup) override;
  HRESULT SetName(const char* szName) override;
  HRESULT CloneGroup(const char* szName, const IID& riid, IUnknown** ppUnk) override;

  // IOPCSyncIO
  HRESULT Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
               OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override;
  HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) override;

  // IConnectionPointContainer
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** enumerator) override;
  HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** point) override;

  // The connection point's side: one sink at a time.
  HRESULT Advise(IUnknown* sink, DWORD* cookie);
  HRESULT Unadvise(DWORD cookie);

  // The server removed the group: no more OnDataChange.
  void MarkRemoved();
  // One update cycle (see the contract above).
  void DeliverChanges();

 private:
  struct GroupItem {
    uint32_t plantIndex = 0;
    OPCHANDLE client = 0;
    VARTYPE requested = VT_EMPTY;
    bool active = false;
    bool valid = false;  // false once removed
    uint64_t sentSeq = 0;
  };

  ~CRaltoOpcGroup();

  // The item of a server handle, or null. REQUIRES: mutex_ held.
  GroupItem* Find(OPCHANDLE handle);
  // Checks an item definition against the plant. REQUIRES: mutex_ and the plant's lock held.
  HRESULT Resolve(const OPCITEMDEF& def, uint32_t* plantIndex, OPCITEMRESULT* result) const;
  HRESULT ValidateOrAdd(RaltoOpcCall call, bool add, DWORD count, OPCITEMDEF* defs,
                        OPCITEMRESULT** ppResults, HRESULT** ppErrors);
  // Common frame of the handle-list methods: checks, the errors array, and
  // `each` per handle under the lock.
  template <class Each>
  HRESULT ForHandles(RaltoOpcCall call, DWORD count, OPCHANDLE* handles, HRESULT** ppErrors, Each each);

  std::atomic<ULONG> refs_{1};
  const std::shared_ptr<CRaltoGroupTable> table_;
  CRaltoPlant& plant_;

  std::mutex mutex_;
  State state_;
  bool removed_ = false;
  std::vector<GroupItem> items_;
  ComPtr<IOPCDataCallback> sink_;
  DWORD cookie_ = 0;
};
