// CClassObject: the class factory of one class, whose objects a creation
// function makes. In-process servers hand it out from DllGetClassObject;
// the toolkit registers one with CoRegisterClassObject.
//
// Contract: CreateInstance refuses aggregation (CLASS_E_NOAGGREGATION) and
// a null result pointer (E_POINTER), and otherwise answers as the creation
// function; *object is null on every failure. LockServer answers S_OK:
// libraries stay loaded for the life of the process. Thread-safe.
#pragma once

#include <functional>
#include <new>

#include "platform/class_factory.h"

class CClassObject final : public IClassFactory {
 public:
  // Makes an object and queries it for `iid` into *object.
  using Creator = std::function<HRESULT(const IID& iid, void** object)>;

  // The factory queried for `iid` into *object (DllGetClassObject's answer).
  static HRESULT Serve(Creator creator, const IID& iid, void** object);

  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override;
  HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) override;
  HRESULT LockServer(BOOL lock) override;

 private:
  explicit CClassObject(Creator creator) : creator_(std::move(creator)) {}
  ~CClassObject() = default;

  Creator creator_;
  ComRefCount refs_;
};

// The usual creation function: a new T (which starts with one reference),
// queried for `iid`, then its creation reference dropped.
template <class T>
HRESULT CreateComObject(const IID& iid, void** object) {
  T* created = new (std::nothrow) T;
  if (!created) return E_OUTOFMEMORY;
  HRESULT hr = created->QueryInterface(iid, object);
  created->Release();
  return hr;
}
