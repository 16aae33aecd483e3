// The server's COM registration under HKEY_CLASSES_ROOT of the registry
// store: its ProgIDs, its CLSID key and its AppID key.
//
// Contract: Register writes exactly the entries below and replaces the
// CLSID and AppID keys of the class; Unregister removes those keys with
// their subtrees and nothing else (missing keys are no error). Results:
// S_OK, E_INVALIDARG for registration data without ProgID or description,
// or the store's error as HRESULT_FROM_WIN32. Thread-safe.
//   <ProgID>                      (default) description, CLSID\(default) {clsid}
//   <VersionIndependentProgID>    the same
//   CLSID\{clsid}                 (default) description, AppId {clsid};
//                                 subkeys Implemented Categories with the
//                                 key {CATID_OPCAEServer10}, ProgID,
//                                 VersionIndependentProgID, LocalServer32
//                                 (defaults)
//   AppID\{clsid}                 (default) description, RunAs (when given)
#pragma once

#include <string>

#include "platform/com.h"

struct CAEServerRegistration;

class CAERegistrar {
 public:
  static HRESULT Register(const CLSID& clsid, const CAEServerRegistration& registration);
  static HRESULT Unregister(const CLSID& clsid, const CAEServerRegistration& registration);
};
