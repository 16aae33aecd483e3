#include "toolkit/area_browser.h"

#include "toolkit/area_tree.h"
#include "toolkit/engine.h"
#include "toolkit/match_pattern.h"
#include "toolkit/source.h"
#include "toolkit/source_cache.h"

HRESULT CAEAreaBrowser::Create(const IID& iid, IUnknown** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  auto* browser = new CAEAreaBrowser();
  HRESULT hr = browser->QueryInterface(iid, reinterpret_cast<void**>(object));
  browser->Release();
  return hr;
}

CAEAreaBrowser::CAEAreaBrowser() { CAEEngine::Instance().Statistics().areaBrowsers++; }

CAEAreaBrowser::~CAEAreaBrowser() { CAEEngine::Instance().Statistics().areaBrowsers--; }

HRESULT CAEAreaBrowser::QueryInterface(const IID& iid, void** object) {
  if (!object) return E_POINTER;
  if (iid != IID_IUnknown && iid != IID_IOPCEventAreaBrowser) {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  *object = static_cast<IOPCEventAreaBrowser*>(this);
  AddRef();
  return S_OK;
}

ULONG CAEAreaBrowser::AddRef() { return refs_.Increment(); }

ULONG CAEAreaBrowser::Release() {
  ULONG left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

template <class F>
HRESULT CAEAreaBrowser::Call(const char* method, F&& body) {
  HRESULT hr = body();
  CAEEngine::Instance().TraceCall(3, method, hr);
  return hr;
}

std::string CAEAreaBrowser::Position() {
  std::lock_guard lock(mutex_);
  return position_;
}

std::string CAEAreaBrowser::ChildPath(const std::string& name) {
  std::string here = Position();
  return here.empty() ? name : here + CAESource::AreaDelimiter() + name;
}

HRESULT CAEAreaBrowser::ChangeBrowsePosition(OPCAEBROWSEDIRECTION direction, const std::string& name) {
  return Call("IOPCEventAreaBrowser::ChangeBrowsePosition", [&]() -> HRESULT {
    std::string target;
    switch (direction) {
      case OPCAE_BROWSE_UP: {
        std::string here = Position();
        if (here.empty()) return E_FAIL;
        target = CAEAreaTree::ParentOf(here);
        break;
      }
      case OPCAE_BROWSE_DOWN:
        if (name.empty()) return OPC_E_INVALIDBRANCHNAME;
        target = ChildPath(name);
        break;
      case OPCAE_BROWSE_TO:
        target = name;
        break;
      default:
        return E_INVALIDARG;
    }
    if (!g_SourceCache.HasArea(target)) return OPC_E_INVALIDBRANCHNAME;
    std::lock_guard lock(mutex_);
    position_ = target;
    return S_OK;
  });
}

HRESULT CAEAreaBrowser::BrowseOPCAreas(OPCAEBROWSETYPE browseType, const std::string& filter,
                                       std::vector<std::string>* names) {
  return Call("IOPCEventAreaBrowser::BrowseOPCAreas", [&]() -> HRESULT {
    if (!names) return E_POINTER;
    names->clear();
    if (browseType != OPC_AREA && browseType != OPC_SOURCE) return E_INVALIDARG;
    if (!IsValidPattern(filter)) return E_INVALIDARG;
    std::string here = Position();
    std::vector<std::string> all =
        browseType == OPC_AREA ? g_SourceCache.ChildAreas(here) : g_SourceCache.SourceNamesInArea(here);
    for (std::string& n : all) {
      if (filter.empty() || MatchPattern(n, filter)) names->push_back(std::move(n));
    }
    return names->empty() ? S_FALSE : S_OK;
  });
}

HRESULT CAEAreaBrowser::GetQualifiedAreaName(const std::string& areaName, std::string* qualified) {
  return Call("IOPCEventAreaBrowser::GetQualifiedAreaName", [&]() -> HRESULT {
    if (!qualified) return E_POINTER;
    qualified->clear();
    std::string path = ChildPath(areaName);
    if (areaName.empty() || !g_SourceCache.HasArea(path)) return E_INVALIDARG;
    *qualified = std::move(path);
    return S_OK;
  });
}

HRESULT CAEAreaBrowser::GetQualifiedSourceName(const std::string& sourceName, std::string* qualified) {
  return Call("IOPCEventAreaBrowser::GetQualifiedSourceName", [&]() -> HRESULT {
    if (!qualified) return E_POINTER;
    *qualified = g_SourceCache.QualifiedSourceName(Position(), sourceName);
    return qualified->empty() ? E_INVALIDARG : S_OK;
  });
}
