// OPC Alarms and Events 1.10 for in-process clients: constants, result
// codes, interface IDs, structures and the interfaces of the event server,
// subscription and area browser objects, and the client's event sink.
//
// Contract: the COM rules with the project's types. Strings are UTF-8
// std::string; an input array is a count and a pointer to that many
// elements; an out array is a std::vector that the callee fills (its size is
// the count the standard returns separately); out pointers may not be null
// (E_POINTER). The per-item arrays of the 1.10 methods (IOPCEventServer2)
// come as the standard has them: allocated with CoTaskMemAlloc, one entry
// per name, freed by the caller with CoTaskMemFree; null when the method
// fails or no name was given. Interface pointers handed out carry a
// reference. Methods are in the standard's order, so a transport can map
// them slot by slot. Every method may be called from any thread, including
// from inside OnEvent.
#pragma once

#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/connection_point.h"
#include "platform/filetime.h"
#include "platform/variant.h"
#include "toolkit/opccomn.h"

using OPCHANDLE = DWORD;

// Event types (dwEventType).
constexpr DWORD OPC_SIMPLE_EVENT = 0x0001;
constexpr DWORD OPC_TRACKING_EVENT = 0x0002;
constexpr DWORD OPC_CONDITION_EVENT = 0x0004;
constexpr DWORD OPC_ALL_EVENTS = 0x0007;

// Change mask (wChangeMask).
constexpr WORD OPC_CHANGE_ACTIVE_STATE = 0x0001;
constexpr WORD OPC_CHANGE_ACK_STATE = 0x0002;
constexpr WORD OPC_CHANGE_ENABLE_STATE = 0x0004;
constexpr WORD OPC_CHANGE_QUALITY = 0x0008;
constexpr WORD OPC_CHANGE_SEVERITY = 0x0010;
constexpr WORD OPC_CHANGE_SUBCONDITION = 0x0020;
constexpr WORD OPC_CHANGE_MESSAGE = 0x0040;
constexpr WORD OPC_CHANGE_ATTRIBUTE = 0x0080;

// Condition state (wNewState, wState).
constexpr WORD OPC_CONDITION_ENABLED = 0x0001;
constexpr WORD OPC_CONDITION_ACTIVE = 0x0002;
constexpr WORD OPC_CONDITION_ACKED = 0x0004;

// Filter criteria (QueryAvailableFilters).
constexpr DWORD OPC_FILTER_BY_EVENT = 0x0001;
constexpr DWORD OPC_FILTER_BY_CATEGORY = 0x0002;
constexpr DWORD OPC_FILTER_BY_SEVERITY = 0x0004;
constexpr DWORD OPC_FILTER_BY_AREA = 0x0008;
constexpr DWORD OPC_FILTER_BY_SOURCE = 0x0010;

using OPCAEBROWSEDIRECTION = DWORD;
constexpr OPCAEBROWSEDIRECTION OPCAE_BROWSE_UP = 1;
constexpr OPCAEBROWSEDIRECTION OPCAE_BROWSE_DOWN = 2;
constexpr OPCAEBROWSEDIRECTION OPCAE_BROWSE_TO = 3;

using OPCAEBROWSETYPE = DWORD;
constexpr OPCAEBROWSETYPE OPC_AREA = 1;
constexpr OPCAEBROWSETYPE OPC_SOURCE = 2;

using OPCEVENTSERVERSTATE = DWORD;
constexpr OPCEVENTSERVERSTATE OPCAE_STATUS_RUNNING = 1;
constexpr OPCEVENTSERVERSTATE OPCAE_STATUS_FAILED = 2;
constexpr OPCEVENTSERVERSTATE OPCAE_STATUS_NOCONFIG = 3;
constexpr OPCEVENTSERVERSTATE OPCAE_STATUS_SUSPENDED = 4;
constexpr OPCEVENTSERVERSTATE OPCAE_STATUS_TEST = 5;
constexpr OPCEVENTSERVERSTATE OPCAE_STATUS_COMM_FAULT = 6;

// Result codes.
constexpr HRESULT OPC_S_ALREADYACKED = 0x00040200;
constexpr HRESULT OPC_S_INVALIDBUFFERTIME = 0x00040201;
constexpr HRESULT OPC_S_INVALIDMAXSIZE = 0x00040202;
constexpr HRESULT OPC_S_INVALIDKEEPALIVETIME = 0x00040203;
constexpr HRESULT OPC_E_INVALIDBRANCHNAME = static_cast<HRESULT>(0xC0040203);
constexpr HRESULT OPC_E_INVALIDTIME = static_cast<HRESULT>(0xC0040204);
constexpr HRESULT OPC_E_BUSY = static_cast<HRESULT>(0xC0040205);
constexpr HRESULT OPC_E_NOINFO = static_cast<HRESULT>(0xC0040206);

// {65168851-5783-11D1-84A0-00608CB8A7E9}
constexpr IID IID_IOPCEventServer{0x65168851, 0x5783, 0x11D1, {0x84, 0xA0, 0x00, 0x60, 0x8C, 0xB8, 0xA7, 0xE9}};
// {65168855-5783-11D1-84A0-00608CB8A7E9}
constexpr IID IID_IOPCEventSubscriptionMgt{0x65168855, 0x5783, 0x11D1, {0x84, 0xA0, 0x00, 0x60, 0x8C, 0xB8, 0xA7, 0xE9}};
// {65168857-5783-11D1-84A0-00608CB8A7E9}
constexpr IID IID_IOPCEventAreaBrowser{0x65168857, 0x5783, 0x11D1, {0x84, 0xA0, 0x00, 0x60, 0x8C, 0xB8, 0xA7, 0xE9}};
// {6516885F-5783-11D1-84A0-00608CB8A7E9}
constexpr IID IID_IOPCEventSink{0x6516885F, 0x5783, 0x11D1, {0x84, 0xA0, 0x00, 0x60, 0x8C, 0xB8, 0xA7, 0xE9}};
// {71BBE88E-9564-4BCD-BCFC-71C558D94F2D}
constexpr IID IID_IOPCEventServer2{0x71BBE88E, 0x9564, 0x4BCD, {0xBC, 0xFC, 0x71, 0xC5, 0x58, 0xD9, 0x4F, 0x2D}};
// {94C955DC-3684-4CCB-AFAB-F898CE19AAC3}
constexpr IID IID_IOPCEventSubscriptionMgt2{0x94C955DC, 0x3684, 0x4CCB, {0xAF, 0xAB, 0xF8, 0x98, 0xCE, 0x19, 0xAA, 0xC3}};
// {58E13251-AC87-11D1-84D5-00608CB8A7E9}, "OPC Alarm & Event Server Version 1.0"
constexpr GUID CATID_OPCAEServer10{0x58E13251, 0xAC87, 0x11D1, {0x84, 0xD5, 0x00, 0x60, 0x8C, 0xB8, 0xA7, 0xE9}};

// One event notification. Condition-only fields are zero/empty for simple
// and tracking events. pEventAttributes holds the attributes selected with
// SelectReturnedAttributes for the event's category, in that order.
struct ONEVENTSTRUCT {
  WORD wChangeMask = 0;
  WORD wNewState = 0;
  std::string szSource;
  FILETIME ftTime;
  std::string szMessage;
  DWORD dwEventType = 0;
  DWORD dwEventCategory = 0;
  DWORD dwSeverity = 0;
  std::string szConditionName;
  std::string szSubconditionName;
  WORD wQuality = 0;
  WORD wReserved = 0;
  BOOL bAckRequired = false;
  FILETIME ftActiveTime;
  DWORD dwCookie = 0;
  std::vector<VARIANT> pEventAttributes;
  std::string szActorID;
};

struct OPCEVENTSERVERSTATUS {
  FILETIME ftStartTime;
  FILETIME ftCurrentTime;
  FILETIME ftLastUpdateTime;  // last notification to this client (zero: none yet)
  OPCEVENTSERVERSTATE dwServerState = 0;
  WORD wMajorVersion = 0;
  WORD wMinorVersion = 0;
  WORD wBuildNumber = 0;
  WORD wReserved = 0;
  std::string szVendorInfo;
};

// The per-subcondition arrays have one entry per subcondition; the attribute
// values and pErrors one per requested attribute ID.
struct OPCCONDITIONSTATE {
  WORD wState = 0;
  WORD wReserved1 = 0;
  std::string szActiveSubCondition;  // empty while inactive
  std::string szASCDefinition;
  DWORD dwASCSeverity = 1;
  std::string szASCDescription;
  WORD wQuality = 0;
  WORD wReserved2 = 0;
  FILETIME ftLastAckTime;
  FILETIME ftSubCondLastActive;
  FILETIME ftCondLastActive;
  FILETIME ftCondLastInactive;
  std::string szAcknowledgerID;
  std::string szComment;
  std::vector<std::string> pszSCNames;
  std::vector<std::string> pszSCDefinitions;
  std::vector<DWORD> pdwSCSeverities;
  std::vector<std::string> pszSCDescriptions;
  std::vector<VARIANT> pEventAttributes;
  std::vector<HRESULT> pErrors;  // S_OK for a known attribute ID, else E_FAIL
};

// The event server object: created through the class factory of the
// server's CLSID; also exposes IOPCEventServer2, IOPCCommon and
// IConnectionPointContainer (IOPCShutdown).
class IOPCEventServer : public IUnknown {
 public:
  virtual HRESULT GetStatus(OPCEVENTSERVERSTATUS* status) = 0;
  // Revised values are the ones in use, within the server's limits;
  // OPC_S_INVALIDMAXSIZE when the max size was changed, else
  // OPC_S_INVALIDBUFFERTIME when the buffer time was.
  virtual HRESULT CreateEventSubscription(BOOL active, DWORD bufferTime, DWORD maxSize,
                                          OPCHANDLE clientSubscription, const IID& iid,
                                          IUnknown** subscription, DWORD* revisedBufferTime,
                                          DWORD* revisedMaxSize) = 0;
  virtual HRESULT QueryAvailableFilters(DWORD* filterMask) = 0;
  virtual HRESULT QueryEventCategories(DWORD eventType, std::vector<DWORD>* categories,
                                       std::vector<std::string>* descriptions) = 0;
  virtual HRESULT QueryConditionNames(DWORD eventCategory, std::vector<std::string>* names) = 0;
  virtual HRESULT QuerySubConditionNames(const std::string& conditionName,
                                         std::vector<std::string>* names) = 0;
  virtual HRESULT QuerySourceConditions(const std::string& source,
                                        std::vector<std::string>* names) = 0;
  virtual HRESULT QueryEventAttributes(DWORD eventCategory, std::vector<DWORD>* attributeIds,
                                       std::vector<std::string>* descriptions,
                                       std::vector<VARTYPE>* types) = 0;
  virtual HRESULT TranslateToItemIDs(const std::string& source, DWORD eventCategory,
                                     const std::string& conditionName,
                                     const std::string& subconditionName, DWORD count,
                                     const DWORD* attributeIds, std::vector<std::string>* itemIds,
                                     std::vector<std::string>* nodeNames,
                                     std::vector<CLSID>* clsids) = 0;
  // The attribute values are those of the condition's latest notification.
  virtual HRESULT GetConditionState(const std::string& source, const std::string& conditionName,
                                    DWORD numEventAttrs, const DWORD* attributeIds,
                                    OPCCONDITIONSTATE* state) = 0;
  // Global and lasting: a condition is enabled only while its source and
  // every area above it are. E_INVALIDARG (and no change) when a name is
  // unknown; S_FALSE when the server declined one of them.
  virtual HRESULT EnableConditionByArea(DWORD numAreas, const std::string* areas) = 0;
  virtual HRESULT EnableConditionBySource(DWORD numSources, const std::string* sources) = 0;
  virtual HRESULT DisableConditionByArea(DWORD numAreas, const std::string* areas) = 0;
  virtual HRESULT DisableConditionBySource(DWORD numSources, const std::string* sources) = 0;
  // S_OK when every element is S_OK, else S_FALSE; errors has one code per
  // element (E_INVALIDARG for a disabled condition). An empty acknowledgerId
  // is E_INVALIDARG.
  virtual HRESULT AckCondition(DWORD count, const std::string& acknowledgerId,
                               const std::string& comment, const std::string* sources,
                               const std::string* conditionNames, const FILETIME* activeTimes,
                               const DWORD* cookies, std::vector<HRESULT>* errors) = 0;
  virtual HRESULT CreateAreaBrowser(const IID& iid, IUnknown** browser) = 0;

 protected:
  ~IOPCEventServer() = default;
};

// The 1.10 additions of the event server object. Each name is handled on
// its own: S_OK when every element is S_OK, S_FALSE when one is not (then
// E_INVALIDARG for an unknown name, E_ACCESSDENIED when the server
// declined the change); the arrays as the contract above says.
class IOPCEventServer2 : public IOPCEventServer {
 public:
  virtual HRESULT EnableConditionByArea2(DWORD numAreas, const std::string* areas, HRESULT** errors) = 0;
  virtual HRESULT EnableConditionBySource2(DWORD numSources, const std::string* sources, HRESULT** errors) = 0;
  virtual HRESULT DisableConditionByArea2(DWORD numAreas, const std::string* areas, HRESULT** errors) = 0;
  virtual HRESULT DisableConditionBySource2(DWORD numSources, const std::string* sources, HRESULT** errors) = 0;
  // enabled: the element's own setting; effectivelyEnabled: that and every
  // area above it enabled (false for an unknown name).
  virtual HRESULT GetEnableStateByArea(DWORD numAreas, const std::string* areas, BOOL** enabled,
                                       BOOL** effectivelyEnabled, HRESULT** errors) = 0;
  virtual HRESULT GetEnableStateBySource(DWORD numSources, const std::string* sources, BOOL** enabled,
                                         BOOL** effectivelyEnabled, HRESULT** errors) = 0;

 protected:
  ~IOPCEventServer2() = default;
};

// The subscription object; also exposes IOPCEventSubscriptionMgt2 and
// IConnectionPointContainer (IOPCEventSink, one sink).
class IOPCEventSubscriptionMgt : public IUnknown {
 public:
  virtual HRESULT SetFilter(DWORD eventType, DWORD numCategories, const DWORD* eventCategories,
                            DWORD lowSeverity, DWORD highSeverity, DWORD numAreas,
                            const std::string* areas, DWORD numSources,
                            const std::string* sources) = 0;
  virtual HRESULT GetFilter(DWORD* eventType, std::vector<DWORD>* eventCategories,
                            DWORD* lowSeverity, DWORD* highSeverity,
                            std::vector<std::string>* areas,
                            std::vector<std::string>* sources) = 0;
  virtual HRESULT SelectReturnedAttributes(DWORD eventCategory, DWORD count,
                                           const DWORD* attributeIds) = 0;
  virtual HRESULT GetReturnedAttributes(DWORD eventCategory, std::vector<DWORD>* attributeIds) = 0;
  // connection: the cookie that Advise returned for the sink. OPC_E_BUSY
  // until the last callback of the running refresh has been made.
  virtual HRESULT Refresh(DWORD connection) = 0;
  // The refresh sends nothing more but one last callback (refresh and last
  // refresh TRUE, no events). E_FAIL when no refresh is running.
  virtual HRESULT CancelRefresh(DWORD connection) = 0;
  virtual HRESULT GetState(BOOL* active, DWORD* bufferTime, DWORD* maxSize,
                           OPCHANDLE* clientSubscription) = 0;
  // Null inputs keep their property; clientSubscription is always set.
  // Revised values and codes as CreateEventSubscription.
  virtual HRESULT SetState(const BOOL* active, const DWORD* bufferTime, const DWORD* maxSize,
                           OPCHANDLE clientSubscription, DWORD* revisedBufferTime,
                           DWORD* revisedMaxSize) = 0;

 protected:
  ~IOPCEventSubscriptionMgt() = default;
};

// The 1.10 keep-alive: while active, a subscription that has made no
// callback for the keep-alive time (ms) makes one with no events (refresh
// and last refresh FALSE). 0 turns it off. The revised time is the one in
// use; OPC_S_INVALIDKEEPALIVETIME when it differs from the request.
class IOPCEventSubscriptionMgt2 : public IOPCEventSubscriptionMgt {
 public:
  virtual HRESULT SetKeepAlive(DWORD keepAliveTime, DWORD* revisedKeepAliveTime) = 0;
  virtual HRESULT GetKeepAlive(DWORD* keepAliveTime) = 0;

 protected:
  ~IOPCEventSubscriptionMgt2() = default;
};

class IOPCEventAreaBrowser : public IUnknown {
 public:
  virtual HRESULT ChangeBrowsePosition(OPCAEBROWSEDIRECTION direction, const std::string& name) = 0;
  // Short names at the current position; S_FALSE when none passes the filter.
  virtual HRESULT BrowseOPCAreas(OPCAEBROWSETYPE browseType, const std::string& filter,
                                 std::vector<std::string>* names) = 0;
  virtual HRESULT GetQualifiedAreaName(const std::string& areaName, std::string* qualified) = 0;
  virtual HRESULT GetQualifiedSourceName(const std::string& sourceName, std::string* qualified) = 0;

 protected:
  ~IOPCEventAreaBrowser() = default;
};

// Implemented by the client. Called on the toolkit's delivery thread with no
// toolkit lock held; the events belong to the caller during the call. A
// count of 0 with refresh TRUE ends a refresh (that found nothing or was
// cancelled); with refresh FALSE it is a keep-alive.
class IOPCEventSink : public IUnknown {
 public:
  virtual HRESULT OnEvent(OPCHANDLE clientSubscription, BOOL refresh, BOOL lastRefresh,
                          DWORD count, const ONEVENTSTRUCT* events) = 0;

 protected:
  ~IOPCEventSink() = default;
};
