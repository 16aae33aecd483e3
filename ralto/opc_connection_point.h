// The IOPCDataCallback connection point of a group, handed out by its
// FindConnectionPoint. It keeps a reference on its group and passes Advise
// and Unadvise to it (one sink per group: CONNECT_E_ADVISELIMIT for a
// second one).
//
// Contract: platform/connection_point.h; EnumConnections answers E_NOTIMPL.
// Any thread may call.
#pragma once

#include "platform/connection_point.h"

class CRaltoOpcGroup;

class CRaltoDataConnectionPoint final : public IConnectionPoint {
 public:
  // Made with one reference, which the caller owns. REQUIRES: group != nullptr.
  explicit CRaltoDataConnectionPoint(CRaltoOpcGroup* group);

  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetConnectionInterface(IID* iid) override;
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT Unadvise(DWORD cookie) override;
  HRESULT EnumConnections(IEnumConnections** enumerator) override;

 private:
  ~CRaltoDataConnectionPoint();

  ComRefCount refs_;
  CRaltoOpcGroup* const group_;  // one reference held
};
