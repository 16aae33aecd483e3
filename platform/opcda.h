// OPC Data Access 2.0 custom interfaces: what an OPC DA server plugin
// implements and what its clients call. Types, constants, result codes,
// interface IDs and methods are the standard's, methods in its order.
//
// Contract (the COM memory rules, with the project's types):
// - Strings are NUL-terminated UTF-8 `char*` where the standard has LPWSTR.
//   Input strings, arrays and structures belong to the caller; a callee that
//   keeps data copies it.
// - Out arrays, out strings and strings inside out structures come from the
//   task allocator and belong to the caller. VARIANTs inside out arrays are
//   constructed in place by the callee and destroyed by the caller: free
//   with the Opc* helpers below (or hold them in a COpcTaskArray), never with
//   a bare CoTaskMemFree.
// - On a FAILED result every out pointer is null. List methods answer S_OK
//   when every element succeeded and S_FALSE when some failed (see ppErrors).
// - Interface pointers handed out carry a reference the receiver releases.
#pragma once

#include <cstdint>
#include <new>
#include <type_traits>

#include "platform/com.h"
#include "platform/connection_point.h"
#include "platform/filetime.h"
#include "platform/variant.h"

using OPCHANDLE = DWORD;

enum OPCDATASOURCE : DWORD { OPC_DS_CACHE = 1, OPC_DS_DEVICE = 2 };
enum OPCBROWSETYPE : DWORD { OPC_BRANCH = 1, OPC_LEAF = 2, OPC_FLAT = 3 };
enum OPCBROWSEDIRECTION : DWORD { OPC_BROWSE_UP = 1, OPC_BROWSE_DOWN = 2, OPC_BROWSE_TO = 3 };
enum OPCNAMESPACETYPE : DWORD { OPC_NS_HIERARCHIAL = 1, OPC_NS_FLAT = 2 };
enum OPCSERVERSTATE : DWORD {
  OPC_STATUS_RUNNING = 1,
  OPC_STATUS_FAILED = 2,
  OPC_STATUS_NOCONFIG = 3,
  OPC_STATUS_SUSPENDED = 4,
  OPC_STATUS_TEST = 5,
};
enum OPCENUMSCOPE : DWORD {
  OPC_ENUM_PRIVATE_CONNECTIONS = 1,
  OPC_ENUM_PUBLIC_CONNECTIONS = 2,
  OPC_ENUM_ALL_CONNECTIONS = 3,
  OPC_ENUM_PRIVATE = 4,
  OPC_ENUM_PUBLIC = 5,
  OPC_ENUM_ALL = 6,
};
enum OPCEUTYPE : DWORD { OPC_NOENUM = 0, OPC_ANALOG = 1, OPC_ENUMERATED = 2 };

// Access rights (dwAccessRights, dwAccessRightsFilter).
constexpr DWORD OPC_READABLE = 0x01;
constexpr DWORD OPC_WRITEABLE = 0x02;

// Quality word: QQSSSSLL.
constexpr WORD OPC_QUALITY_MASK = 0xC0;
constexpr WORD OPC_STATUS_MASK = 0xFC;
constexpr WORD OPC_LIMIT_MASK = 0x03;
constexpr WORD OPC_QUALITY_BAD = 0x00;
constexpr WORD OPC_QUALITY_UNCERTAIN = 0x40;
constexpr WORD OPC_QUALITY_GOOD = 0xC0;
constexpr WORD OPC_QUALITY_CONFIG_ERROR = 0x04;
constexpr WORD OPC_QUALITY_NOT_CONNECTED = 0x08;
constexpr WORD OPC_QUALITY_DEVICE_FAILURE = 0x0C;
constexpr WORD OPC_QUALITY_SENSOR_FAILURE = 0x10;
constexpr WORD OPC_QUALITY_LAST_KNOWN = 0x14;
constexpr WORD OPC_QUALITY_COMM_FAILURE = 0x18;
constexpr WORD OPC_QUALITY_OUT_OF_SERVICE = 0x1C;
constexpr WORD OPC_QUALITY_LAST_USABLE = 0x44;
constexpr WORD OPC_QUALITY_SENSOR_CAL = 0x50;
constexpr WORD OPC_QUALITY_EGU_EXCEEDED = 0x54;
constexpr WORD OPC_QUALITY_SUB_NORMAL = 0x58;
constexpr WORD OPC_QUALITY_LOCAL_OVERRIDE = 0xD8;
constexpr WORD OPC_LIMIT_OK = 0x00;
constexpr WORD OPC_LIMIT_LOW = 0x01;
constexpr WORD OPC_LIMIT_HIGH = 0x02;
constexpr WORD OPC_LIMIT_CONST = 0x03;

// Result codes.
constexpr HRESULT OPC_E_INVALIDHANDLE = static_cast<HRESULT>(0xC0040001);
constexpr HRESULT OPC_E_BADTYPE = static_cast<HRESULT>(0xC0040004);
constexpr HRESULT OPC_E_PUBLIC = static_cast<HRESULT>(0xC0040005);
constexpr HRESULT OPC_E_BADRIGHTS = static_cast<HRESULT>(0xC0040006);
constexpr HRESULT OPC_E_UNKNOWNITEMID = static_cast<HRESULT>(0xC0040007);
constexpr HRESULT OPC_E_INVALIDITEMID = static_cast<HRESULT>(0xC0040008);
constexpr HRESULT OPC_E_INVALIDFILTER = static_cast<HRESULT>(0xC0040009);
constexpr HRESULT OPC_E_UNKNOWNPATH = static_cast<HRESULT>(0xC004000A);
constexpr HRESULT OPC_E_RANGE = static_cast<HRESULT>(0xC004000B);
constexpr HRESULT OPC_E_DUPLICATENAME = static_cast<HRESULT>(0xC004000C);
constexpr HRESULT OPC_S_UNSUPPORTEDRATE = 0x0004000D;
constexpr HRESULT OPC_S_CLAMP = 0x0004000E;
constexpr HRESULT OPC_S_INUSE = 0x0004000F;
constexpr HRESULT OPC_E_INVALIDCONFIGFILE = static_cast<HRESULT>(0xC0040010);
constexpr HRESULT OPC_E_NOTFOUND = static_cast<HRESULT>(0xC0040011);
constexpr HRESULT OPC_E_INVALID_PID = static_cast<HRESULT>(0xC0040203);

// Interface IDs.
// {00000101-0000-0000-C000-000000000046}
constexpr IID IID_IEnumString{0x00000101, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {39C13A4D-011E-11D0-9675-0020AFD8ADB3}
constexpr IID IID_IOPCServer{0x39C13A4D, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
// {39C13A4F-011E-11D0-9675-0020AFD8ADB3}
constexpr IID IID_IOPCBrowseServerAddressSpace{
    0x39C13A4F, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
// {39C13A50-011E-11D0-9675-0020AFD8ADB3}
constexpr IID IID_IOPCGroupStateMgt{0x39C13A50, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
// {39C13A52-011E-11D0-9675-0020AFD8ADB3}
constexpr IID IID_IOPCSyncIO{0x39C13A52, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
// {39C13A54-011E-11D0-9675-0020AFD8ADB3}
constexpr IID IID_IOPCItemMgt{0x39C13A54, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
// {39C13A55-011E-11D0-9675-0020AFD8ADB3}
constexpr IID IID_IEnumOPCItemAttributes{
    0x39C13A55, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
// {39C13A70-011E-11D0-9675-0020AFD8ADB3}
constexpr IID IID_IOPCDataCallback{0x39C13A70, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};

// Component category of OPC DA 2.0 servers.
// {63D5F432-CFE4-11D1-B2C8-0060083BA1FB}
constexpr GUID CATID_OPCDAServer20{0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};

struct OPCITEMDEF {
  char* szAccessPath = nullptr;  // "" or null: the server chooses
  char* szItemID = nullptr;
  BOOL bActive = false;
  OPCHANDLE hClient = 0;
  DWORD dwBlobSize = 0;
  BYTE* pBlob = nullptr;
  VARTYPE vtRequestedDataType = VT_EMPTY;  // VT_EMPTY: the canonical type
  WORD wReserved = 0;
};

struct OPCITEMRESULT {
  OPCHANDLE hServer = 0;
  VARTYPE vtCanonicalDataType = VT_EMPTY;
  WORD wReserved = 0;
  DWORD dwAccessRights = 0;
  DWORD dwBlobSize = 0;
  BYTE* pBlob = nullptr;  // task-allocated when dwBlobSize > 0
};

struct OPCITEMSTATE {
  OPCHANDLE hClient = 0;
  FILETIME ftTimeStamp;
  WORD wQuality = 0;
  WORD wReserved = 0;
  VARIANT vDataValue;
};

struct OPCSERVERSTATUS {
  FILETIME ftStartTime;
  FILETIME ftCurrentTime;
  FILETIME ftLastUpdateTime;
  OPCSERVERSTATE dwServerState = OPC_STATUS_RUNNING;
  DWORD dwGroupCount = 0;
  DWORD dwBandWidth = 0;
  WORD wMajorVersion = 0;
  WORD wMinorVersion = 0;
  WORD wBuildNumber = 0;
  WORD wReserved = 0;
  char* szVendorInfo = nullptr;  // task-allocated
};

// String enumerator (BrowseOPCItemIDs, CreateGroupEnumerator). Next hands
// out task-allocated strings that the caller frees one by one; it answers
// S_FALSE when fewer than celt remained. REQUIRES: pceltFetched may be null
// only when celt is 1.
class IEnumString : public IUnknown {
 public:
  virtual HRESULT Next(ULONG celt, char** rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT Skip(ULONG celt) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumString** ppEnum) = 0;

 protected:
  ~IEnumString() = default;
};

class IOPCServer : public IUnknown {
 public:
  virtual HRESULT AddGroup(const char* szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                           OPCHANDLE hClientGroup, LONG* pTimeBias, float* pPercentDeadband,
                           DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                           const IID& riid, IUnknown** ppUnk) = 0;
  virtual HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, char** ppString) = 0;
  virtual HRESULT GetGroupByName(const char* szName, const IID& riid, IUnknown** ppUnk) = 0;
  virtual HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus) = 0;
  virtual HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
  virtual HRESULT CreateGroupEnumerator(OPCENUMSCOPE dwScope, const IID& riid, IUnknown** ppUnk) = 0;

 protected:
  ~IOPCServer() = default;
};

class IOPCItemMgt : public IUnknown {
 public:
  virtual HRESULT AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                           HRESULT** ppErrors) = 0;
  virtual HRESULT ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) = 0;
  virtual HRESULT RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) = 0;
  virtual HRESULT SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                 HRESULT** ppErrors) = 0;
  virtual HRESULT SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                   HRESULT** ppErrors) = 0;
  virtual HRESULT SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                               HRESULT** ppErrors) = 0;
  virtual HRESULT CreateEnumerator(const IID& riid, IUnknown** ppUnk) = 0;

 protected:
  ~IOPCItemMgt() = default;
};

class IOPCGroupStateMgt : public IUnknown {
 public:
  virtual HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, char** ppName, LONG* pTimeBias,
                           float* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                           OPCHANDLE* phServerGroup) = 0;
  // Null input pointers leave that property as it is.
  virtual HRESULT SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                           LONG* pTimeBias, float* pPercentDeadband, DWORD* pLCID,
                           OPCHANDLE* phClientGroup) = 0;
  virtual HRESULT SetName(const char* szName) = 0;
  virtual HRESULT CloneGroup(const char* szName, const IID& riid, IUnknown** ppUnk) = 0;

 protected:
  ~IOPCGroupStateMgt() = default;
};

class IOPCSyncIO : public IUnknown {
 public:
  virtual HRESULT Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                       OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) = 0;
  virtual HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                        HRESULT** ppErrors) = 0;

 protected:
  ~IOPCSyncIO() = default;
};

class IOPCBrowseServerAddressSpace : public IUnknown {
 public:
  virtual HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) = 0;
  virtual HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, const char* szString) = 0;
  virtual HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, const char* szFilterCriteria,
                                   VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                   IEnumString** ppIEnumString) = 0;
  virtual HRESULT GetItemID(const char* szItemDataID, char** szItemID) = 0;
  virtual HRESULT BrowseAccessPaths(const char* szItemID, IEnumString** ppIEnumString) = 0;

 protected:
  ~IOPCBrowseServerAddressSpace() = default;
};

// Implemented by the client. The arrays belong to the server for the
// duration of the call; a client copies what it keeps.
class IOPCDataCallback : public IUnknown {
 public:
  virtual HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                               HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                               VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                               HRESULT* pErrors) = 0;
  virtual HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                 HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                 VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                 HRESULT* pErrors) = 0;
  virtual HRESULT OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                  DWORD dwCount, OPCHANDLE* pClienthandles, HRESULT* pErrors) = 0;
  virtual HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) = 0;

 protected:
  ~IOPCDataCallback() = default;
};

// ---- Out arrays: allocation (servers) and release (clients) ---------------

// `count` zero-filled elements of a plain type (HRESULT, OPCHANDLE,
// OPCITEMRESULT, ...) from the task allocator; null when out of memory.
template <class T>
  requires std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>
T* OpcAllocArray(DWORD count) {
  void* memory = CoTaskMemAlloc(sizeof(T) * (count ? count : 1));
  if (!memory) return nullptr;
  T* array = static_cast<T*>(memory);
  for (DWORD i = 0; i < count; ++i) new (array + i) T();
  return array;
}

// `count` VARIANTs (VT_EMPTY) or OPCITEMSTATEs, constructed in place in
// task memory; null when out of memory.
template <class T>
  requires std::is_same_v<T, VARIANT> || std::is_same_v<T, OPCITEMSTATE>
T* OpcAllocConstructed(DWORD count) {
  void* memory = CoTaskMemAlloc(sizeof(T) * (count ? count : 1));
  if (!memory) return nullptr;
  T* array = static_cast<T*>(memory);
  for (DWORD i = 0; i < count; ++i) new (array + i) T();
  return array;
}

// Frees the array and every blob in it. Null is harmless.
inline void OpcFreeItemResults(OPCITEMRESULT* results, DWORD count) {
  if (!results) return;
  for (DWORD i = 0; i < count; ++i) CoTaskMemFree(results[i].pBlob);
  CoTaskMemFree(results);
}

// Destroys the VARIANTs and frees the array. Null is harmless.
inline void OpcFreeItemStates(OPCITEMSTATE* states, DWORD count) {
  if (!states) return;
  for (DWORD i = 0; i < count; ++i) states[i].~OPCITEMSTATE();
  CoTaskMemFree(states);
}

inline void OpcFreeVariants(VARIANT* values, DWORD count) {
  if (!values) return;
  for (DWORD i = 0; i < count; ++i) values[i].~VARIANT();
  CoTaskMemFree(values);
}

// Frees the vendor text and the structure. Null is harmless.
inline void OpcFreeServerStatus(OPCSERVERSTATUS* status) {
  if (!status) return;
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
}

// Owns one out array of `count` elements and frees it the right way:
//     COpcTaskArray<OPCITEMSTATE> values(n);
//     COpcTaskArray<HRESULT> errors(n);
//     hr = syncIO->Read(OPC_DS_CACHE, n, handles, values.Put(), errors.Put());
template <class T>
class COpcTaskArray {
 public:
  explicit COpcTaskArray(DWORD count) : count_(count) {}
  COpcTaskArray(const COpcTaskArray&) = delete;
  COpcTaskArray& operator=(const COpcTaskArray&) = delete;
  ~COpcTaskArray() { Reset(); }

  // Frees what is held and returns the slot for an out parameter.
  T** Put() {
    Reset();
    return &p_;
  }
  void Reset() {
    if constexpr (std::is_same_v<T, OPCITEMRESULT>) {
      OpcFreeItemResults(p_, count_);
    } else if constexpr (std::is_same_v<T, OPCITEMSTATE>) {
      OpcFreeItemStates(p_, count_);
    } else if constexpr (std::is_same_v<T, VARIANT>) {
      OpcFreeVariants(p_, count_);
    } else {
      static_assert(std::is_trivially_destructible_v<T>);
      CoTaskMemFree(p_);
    }
    p_ = nullptr;
  }

  T* Get() const { return p_; }
  T& operator[](DWORD i) const { return p_[i]; }
  explicit operator bool() const { return p_ != nullptr; }
  DWORD count() const { return count_; }

 private:
  DWORD count_;
  T* p_ = nullptr;
};
