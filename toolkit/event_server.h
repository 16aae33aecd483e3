// The event server object of one client (IOPCEventServer,
// IOPCEventServer2, IOPCCommon, IConnectionPointContainer with IOPCShutdown
// sinks), created through the class factory that Initialize registers.
//
// Contract: creating one calls the callback's OnClientConnect; the final
// Release (after the client's subscriptions, which reference it, are gone)
// calls OnClientDisconnect; neither under a toolkit lock. Methods may be
// called from any thread, including from a sink on the delivery thread.
// Enable/Disable by area or source change the source cache's lasting
// settings (an area covers the areas below it), after the callback's
// AllowChangeConditionEnabled and before its OnChangeConditionEnabled, both
// called with no toolkit lock held. AckCondition answers S_FALSE when any
// element is not S_OK (OPC_S_ALREADYACKED included) and calls
// OnConditionAcknowledged only for the elements that are.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "toolkit/connection_point_impl.h"
#include "toolkit/opcae.h"

class CAEEventServer final : public IOPCEventServer2, public IOPCCommon, public IConnectionPointContainer {
 public:
  // A new object queried for `iid` into *object (null on failure).
  static HRESULT Create(const IID& iid, void** object);

  // IUnknown
  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // IOPCEventServer
  HRESULT GetStatus(OPCEVENTSERVERSTATUS* status) override;
  HRESULT CreateEventSubscription(BOOL active, DWORD bufferTime, DWORD maxSize,
                                  OPCHANDLE clientSubscription, const IID& iid, IUnknown** subscription,
                                  DWORD* revisedBufferTime, DWORD* revisedMaxSize) override;
  HRESULT QueryAvailableFilters(DWORD* filterMask) override;
  HRESULT QueryEventCategories(DWORD eventType, std::vector<DWORD>* categories,
                               std::vector<std::string>* descriptions) override;
  HRESULT QueryConditionNames(DWORD eventCategory, std::vector<std::string>* names) override;
  HRESULT QuerySubConditionNames(const std::string& conditionName, std::vector<std::string>* names) override;
  HRESULT QuerySourceConditions(const std::string& source, std::vector<std::string>* names) override;
  HRESULT QueryEventAttributes(DWORD eventCategory, std::vector<DWORD>* attributeIds,
                               std::vector<std::string>* descriptions, std::vector<VARTYPE>* types) override;
  HRESULT TranslateToItemIDs(const std::string& source, DWORD eventCategory, const std::string& conditionName,
                             const std::string& subconditionName, DWORD count, const DWORD* attributeIds,
                             std::vector<std::string>* itemIds, std::vector<std::string>* nodeNames,
                             std::vector<CLSID>* clsids) override;
  HRESULT GetConditionState(const std::string& source, const std::string& conditionName, DWORD numEventAttrs,
                            const DWORD* attributeIds, OPCCONDITIONSTATE* state) override;
  HRESULT EnableConditionByArea(DWORD numAreas, const std::string* areas) override;
  HRESULT EnableConditionBySource(DWORD numSources, const std::string* sources) override;
  HRESULT DisableConditionByArea(DWORD numAreas, const std::string* areas) override;
  HRESULT DisableConditionBySource(DWORD numSources, const std::string* sources) override;
  HRESULT AckCondition(DWORD count, const std::string& acknowledgerId, const std::string& comment,
                       const std::string* sources, const std::string* conditionNames,
                       const FILETIME* activeTimes, const DWORD* cookies, std::vector<HRESULT>* errors) override;
  HRESULT CreateAreaBrowser(const IID& iid, IUnknown** browser) override;

  // IOPCEventServer2
  HRESULT EnableConditionByArea2(DWORD numAreas, const std::string* areas, HRESULT** errors) override;
  HRESULT EnableConditionBySource2(DWORD numSources, const std::string* sources, HRESULT** errors) override;
  HRESULT DisableConditionByArea2(DWORD numAreas, const std::string* areas, HRESULT** errors) override;
  HRESULT DisableConditionBySource2(DWORD numSources, const std::string* sources, HRESULT** errors) override;
  HRESULT GetEnableStateByArea(DWORD numAreas, const std::string* areas, BOOL** enabled, BOOL** effectivelyEnabled,
                               HRESULT** errors) override;
  HRESULT GetEnableStateBySource(DWORD numSources, const std::string* sources, BOOL** enabled,
                                 BOOL** effectivelyEnabled, HRESULT** errors) override;

  // IOPCCommon
  HRESULT SetLocaleID(LCID locale) override;
  HRESULT GetLocaleID(LCID* locale) override;
  HRESULT QueryAvailableLocaleIDs(std::vector<LCID>* locales) override;
  HRESULT GetErrorString(HRESULT code, std::string* text) override;
  HRESULT SetClientName(const std::string& name) override;

  // IConnectionPointContainer
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** enumerator) override;
  HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** point) override;

  // A notification went to one of this client's sinks now.
  void NoteNotification();
  std::vector<ComPtr<IOPCShutdown>> ShutdownSinks() const { return shutdownPoint_.All(); }

 private:
  CAEEventServer();
  ~CAEEventServer();
  // The 1.0 methods: every name known, or E_INVALIDARG and no change.
  HRESULT ChangeEnabled(DWORD count, const std::string* names, BOOL isArea, BOOL enable);
  // The 1.10 methods: one code per name.
  HRESULT ChangeEnabled(DWORD count, const std::string* names, BOOL isArea, BOOL enable, HRESULT** errors);
  // S_OK, E_INVALIDARG (unknown) or E_ACCESSDENIED (the callback declines).
  HRESULT ChangeOne(const std::string& name, BOOL isArea, BOOL enable);
  HRESULT GetEnableState(DWORD count, const std::string* names, BOOL isArea, BOOL** enabled,
                         BOOL** effectivelyEnabled, HRESULT** errors);
  template <class F>
  HRESULT Call(const char* method, F&& body);

  ComRefCount refs_;
  CAEConnectionPoint<IOPCShutdown> shutdownPoint_;
  std::atomic<uint64_t> lastUpdate_{0};  // FILETIME ticks
  std::mutex mutex_;
  LCID locale_ = LOCALE_SYSTEM_DEFAULT;
  std::string clientName_;
};
