#include "platform/class_object.h"

HRESULT CClassObject::Serve(Creator creator, const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  auto* factory = new (std::nothrow) CClassObject(std::move(creator));
  if (!factory) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(iid, object);
  factory->Release();
  return hr;
}

HRESULT CClassObject::QueryInterface(const IID& iid, void** object) {
  if (!object) return E_POINTER;
  if (iid != IID_IUnknown && iid != IID_IClassFactory) {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  *object = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

ULONG CClassObject::Release() {
  ULONG left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

HRESULT CClassObject::CreateInstance(IUnknown* outer, const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  HRESULT hr = creator_(iid, object);
  if (FAILED(hr)) *object = nullptr;
  return hr;
}

HRESULT CClassObject::LockServer(BOOL) { return S_OK; }
