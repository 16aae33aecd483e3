// The toolkit's area browser (IOPCEventAreaBrowser) over the areas and
// sources of the source cache. Each browser keeps its own position,
// starting at the root.
//
// Contract: ChangeBrowsePosition answers OPC_E_INVALIDBRANCHNAME for a name
// that is not an area there (E_FAIL for UP at the root) and keeps its
// position; filters use the wildcard syntax (E_INVALIDARG when malformed).
// Thread-safe.
#pragma once

#include <mutex>
#include <string>

#include "toolkit/opcae.h"

class CAEAreaBrowser final : public IOPCEventAreaBrowser {
 public:
  // A new browser queried for `iid` into *object (null on failure).
  static HRESULT Create(const IID& iid, IUnknown** object);

  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT ChangeBrowsePosition(OPCAEBROWSEDIRECTION direction, const std::string& name) override;
  HRESULT BrowseOPCAreas(OPCAEBROWSETYPE browseType, const std::string& filter,
                         std::vector<std::string>* names) override;
  HRESULT GetQualifiedAreaName(const std::string& areaName, std::string* qualified) override;
  HRESULT GetQualifiedSourceName(const std::string& sourceName, std::string* qualified) override;

 private:
  CAEAreaBrowser();
  ~CAEAreaBrowser();
  std::string Position();
  std::string ChildPath(const std::string& name);
  template <class F>
  HRESULT Call(const char* method, F&& body);

  ComRefCount refs_;
  std::mutex mutex_;
  std::string position_;  // qualified area; "" is the root
};
