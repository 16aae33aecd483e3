// The Ralto OPC DA server object (Brixham.RaltoOPC): IOPCServer, flat
// IOPCBrowseServerAddressSpace and IRaltoOpcControl over the process's
// simulated plant.
//
// Contract: the OPC DA 2.0 semantics (platform/opcda.h) and
// ralto/opc_control.h, with these choices: null out pointers are
// E_INVALIDARG; a method made to fail by FailCall answers that code with
// null out pointers and no effect. AddGroup revises the update rate to a
// multiple of kRaltoOpcRateStepMs (OPC_S_UNSUPPORTEDRATE when it differs)
// and takes any riid of the group's interfaces (else E_NOINTERFACE, no
// group). RemoveGroup answers OPC_S_INUSE when the client still holds the
// group (it stops reporting at once and goes with the last reference).
// CreateGroupEnumerator offers IEnumString only. The address space is flat:
// ChangeBrowsePosition accepts only OPC_BROWSE_TO "" (the root; E_FAIL for
// any other move); BrowseOPCItemIDs first picks up changed documents and
// ends rejections, then lists the matching item ids (S_FALSE and an empty
// enumerator when none match; none for OPC_BRANCH); BrowseAccessPaths
// answers E_NOTIMPL. Groups left when the last reference goes are removed.
// Every method is thread-safe.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/opcda.h"
#include "ralto/opc_control.h"

class CRaltoGroupTable;

class CRaltoOpcServer final : public IOPCServer, public IOPCBrowseServerAddressSpace, public IRaltoOpcControl {
 public:
  // Made with one reference, which the caller owns.
  CRaltoOpcServer();

  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // IOPCServer
  HRESULT AddGroup(const char* szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                   LONG* pTimeBias, float* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                   DWORD* pRevisedUpdateRate, const IID& riid, IUnknown** ppUnk) override;
  HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, char** ppString) override;
  HRESULT GetGroupByName(const char* szName, const IID& riid, IUnknown** ppUnk) override;
  HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus) override;
  HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
  HRESULT CreateGroupEnumerator(OPCENUMSCOPE dwScope, const IID& riid, IUnknown** ppUnk) override;

  // IOPCBrowseServerAddressSpace
  HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override;
  HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, const char* szString) override;
  HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, const char* szFilterCriteria,
                           VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                           IEnumString** ppIEnumString) override;
  HRESULT GetItemID(const char* szItemDataID, char** szItemID) override;
  HRESULT BrowseAccessPaths(const char* szItemID, IEnumString** ppIEnumString) override;

  // IRaltoOpcControl
  HRESULT SetDocumentDirectory(const std::string& directory) override;
  HRESULT ReloadDocuments() override;
  HRESULT SetAlarm(const std::string& stateWordItemId, const RaltoAlarmSetting& alarm) override;
  HRESULT SetProcessValue(const std::string& blockId, double value) override;
  HRESULT UseManualClock(FILETIME startUtc) override;
  HRESULT AdvanceClock(DWORD ms) override;
  HRESULT RunRandomPlant(DWORD changesPerSecond, DWORD seed) override;
  HRESULT SetIncoherentUpdates(BOOL on) override;
  HRESULT GetFcWrites(std::vector<RaltoFcWrite>* writes) override;
  HRESULT RejectItem(const std::string& itemId) override;
  HRESULT FailCall(RaltoOpcCall call, HRESULT result, DWORD skip, DWORD times) override;
  HRESULT HideInterface(const IID& iid) override;
  HRESULT HangCall(RaltoOpcCall call) override;
  HRESULT GetHungCallers(DWORD* count) override;
  HRESULT ClearFailures() override;
  HRESULT SetManualUpdates(BOOL on) override;
  HRESULT TickUpdates() override;

 private:
  ~CRaltoOpcServer();

  ComRefCount refs_;
  const std::shared_ptr<CRaltoGroupTable> groups_;
  const FILETIME startTime_;
};
