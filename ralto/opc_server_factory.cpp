#include "ralto/opc_server_factory.h"

#include <new>

#include "ralto/opc_faults.h"
#include "ralto/opc_server_object.h"

HRESULT CRaltoOpcServerFactory::QueryInterface(const IID& iid, void** object) {
  if (!object) return E_POINTER;
  if (iid != IID_IUnknown && iid != IID_IClassFactory) {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  *object = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

ULONG CRaltoOpcServerFactory::AddRef() { return refs_.Increment(); }

ULONG CRaltoOpcServerFactory::Release() {
  ULONG left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

HRESULT CRaltoOpcServerFactory::CreateInstance(IUnknown* outer, const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  if (HRESULT hr = CRaltoOpcFaults::Instance().Check(RALTO_CALL_CREATEINSTANCE); FAILED(hr)) return hr;
  auto* server = new (std::nothrow) CRaltoOpcServer;
  if (!server) return E_OUTOFMEMORY;
  HRESULT hr = server->QueryInterface(iid, object);
  server->Release();  // the creation reference; the caller's (if any) remains
  return hr;
}

HRESULT CRaltoOpcServerFactory::LockServer(BOOL) { return S_OK; }
