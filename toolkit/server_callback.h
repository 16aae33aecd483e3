// What the toolkit asks the server program. The program derives from this
// class, overrides what it knows better and hands the object to
// CAEServerInterface::SetCallbackObject; every operation not overridden
// keeps the toolkit's own behaviour given below. The virtual operations are
// in the order of the toolkit's virtual table.
//
// Contract: the toolkit calls every operation with no toolkit lock held,
// except GetConditionAttributeValues, which runs under the lock of the
// condition's source, sometimes with the cache's too (so it must take no
// lock of the server's cache or configuration). Calls come from client
// threads, the delivery thread and the threads that change conditions,
// possibly several at once.
#pragma once

#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/variant.h"

class CAECondition;

class CAEServerCallback {
 public:
  virtual ~CAEServerCallback();
  // An event server object was created. Toolkit's: 0. The result is not used.
  virtual LONG OnClientConnect();
  // An event server object went (after its subscriptions). Toolkit's: nothing.
  virtual void OnClientDisconnect();
  // Text for `code`. Toolkit's: the standard and OPC AE codes in English;
  // E_INVALIDARG (text empty) for a code it does not know.
  virtual HRESULT GetErrorString(HRESULT code, LCID locale, std::string& text);
  // A new area browser queried for `iid`. Toolkit's: its browser over the
  // source cache's areas.
  virtual HRESULT CreateAreaBrowser(const IID& iid, IUnknown** browser);
  // Whether a client may enable/disable conditions. Toolkit's: TRUE.
  virtual BOOL AllowChangeConditionEnabled(const std::string& sourceOrArea, BOOL isArea, BOOL enable);
  // After a change of the area's or source's own setting (its conditions
  // may stay as they were, for an area above). Toolkit's: nothing.
  virtual void OnChangeConditionEnabled(const std::string& sourceOrArea, BOOL isArea, BOOL enable);
  // A client acknowledged `condition` (state already recorded); the
  // condition stays alive during the call. Toolkit's: nothing.
  virtual void OnConditionAcknowledged(CAECondition* condition);
  // One code per name (S_OK or E_INVALIDARG); S_OK when all are valid, else
  // S_FALSE. Toolkit's: known areas, and wildcard patterns, are valid.
  virtual HRESULT ValidateAreaNames(const std::vector<std::string>& names, std::vector<HRESULT>& errors);
  // Toolkit's: known sources, and wildcard patterns, are valid.
  virtual HRESULT ValidateSourceNames(const std::vector<std::string>& names, std::vector<HRESULT>& errors);
  // Fills values[0..count) for the attribute IDs; FALSE when one is unknown.
  // Asked at every event of the condition for its category's attributes:
  // the values that event carries. Toolkit's: leaves the values empty, TRUE.
  // Runs under the source's lock (see above).
  virtual BOOL GetConditionAttributeValues(LONG first, DWORD count, const DWORD* attributeIds,
                                           CAECondition* condition, VARIANT* values);
  // The OPC AE TranslateToItemIDs; the out arrays (count entries each) come
  // from CoTaskMemAlloc, strings from CoTaskMemStrDup, and the toolkit frees
  // them. Toolkit's: E_NOTIMPL with null outs.
  virtual HRESULT TranslateToItemIDs(const std::string& source, DWORD eventCategory,
                                     const std::string& conditionName,
                                     const std::string& subconditionName, DWORD count,
                                     const DWORD* attributeIds, char*** itemIds, char*** nodeNames,
                                     CLSID** clsids);
  // A trace line at `level` (1 connect .. 5 all). Toolkit's: into the trace
  // file set with SetTraceInfo.
  virtual void OnTrace(int level, const std::string& text);
  // Something went wrong inside the toolkit that no caller can be told of.
  // Toolkit's: a trace line and DebugOutput.
  virtual void OnInternalError(HRESULT code, const std::string& text);
};
