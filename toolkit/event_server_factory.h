// The class factory of the event server object, registered by Initialize
// for the server's CLSID so that in-process clients create event server
// objects with CoCreateInstance.
//
// Contract: CreateInstance refuses aggregation (CLASS_E_NOAGGREGATION) and
// otherwise answers as CAEEventServer::Create. Thread-safe.
#pragma once

#include "platform/class_factory.h"

class CAEEventServerFactory final : public IClassFactory {
 public:
  // A new factory carrying one reference for the caller.
  static CAEEventServerFactory* Create() { return new CAEEventServerFactory(); }

  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override;

  HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) override;
  HRESULT LockServer(BOOL lock) override;

 private:
  CAEEventServerFactory() = default;
  ~CAEEventServerFactory() = default;

  ComRefCount refs_;
};
