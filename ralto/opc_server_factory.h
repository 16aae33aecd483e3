// The class factory of the Ralto OPC DA server, handed out by DllGetClassObject.
//
// Contract: CreateInstance makes a new CRaltoOpcServer and queries it for
// the asked interface (E_NOINTERFACE for an unknown one, *object null);
// CLASS_E_NOAGGREGATION when an outer unknown is given; the failure that
// IRaltoOpcControl::FailCall(RALTO_CALL_CREATEINSTANCE) injects. The library
// stays loaded for the life of the process, so LockServer only answers S_OK.
// Any thread may call.
#pragma once

#include "platform/class_factory.h"

class CRaltoOpcServerFactory final : public IClassFactory {
 public:
  CRaltoOpcServerFactory() = default;

  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) override;
  HRESULT LockServer(BOOL lock) override;

 private:
  ~CRaltoOpcServerFactory() = default;

  ComRefCount refs_;
};
