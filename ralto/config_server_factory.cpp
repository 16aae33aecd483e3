#include "ralto/config_server_factory.h"

#include <new>

#include "ralto/config_server_object.h"

HRESULT CRaltoConfigServerFactory::QueryInterface(const IID& iid, void** object) {
  if (!object) return E_POINTER;
  if (iid != IID_IUnknown && iid != IID_IClassFactory) {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  *object = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

ULONG CRaltoConfigServerFactory::AddRef() { return refs_.Increment(); }

ULONG CRaltoConfigServerFactory::Release() {
  ULONG left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

HRESULT CRaltoConfigServerFactory::CreateInstance(IUnknown* outer, const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  auto* server = new (std::nothrow) CRaltoConfigServer;
  if (!server) return E_OUTOFMEMORY;
  HRESULT hr = server->QueryInterface(iid, object);
  server->Release();  // the creation reference; the caller's (if any) remains
  return hr;
}

HRESULT CRaltoConfigServerFactory::LockServer(BOOL) { return S_OK; }
