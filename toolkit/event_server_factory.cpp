#include "toolkit/event_server_factory.h"

#include "toolkit/event_server.h"

HRESULT CAEEventServerFactory::QueryInterface(const IID& iid, void** object) {
  if (!object) return E_POINTER;
  if (iid != IID_IUnknown && iid != IID_IClassFactory) {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  *object = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

ULONG CAEEventServerFactory::Release() {
  ULONG left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

HRESULT CAEEventServerFactory::CreateInstance(IUnknown* outer, const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  return CAEEventServer::Create(iid, object);
}

// The server's life follows its client objects, not factory locks.
HRESULT CAEEventServerFactory::LockServer(BOOL) { return S_OK; }
