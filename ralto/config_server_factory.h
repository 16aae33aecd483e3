// The class factory of RaltoConfigServer, handed out by DllGetClassObject.
//
// Contract: CreateInstance makes a new CRaltoConfigServer and queries it for
// the asked interface (E_NOINTERFACE for an unknown one, *object null);
// CLASS_E_NOAGGREGATION when an outer unknown is given. The library stays
// loaded for the life of the process, so LockServer only answers S_OK.
// Any thread may call.
#pragma once

#include "platform/class_factory.h"

class CRaltoConfigServerFactory final : public IClassFactory {
 public:
  CRaltoConfigServerFactory() = default;

  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) override;
  HRESULT LockServer(BOOL lock) override;

 private:
  ~CRaltoConfigServerFactory() = default;

  ComRefCount refs_;
};
