#include "ralto/opc_connection_point.h"

#include "platform/opcda.h"
#include "ralto/opc_faults.h"
#include "ralto/opc_group.h"

CRaltoDataConnectionPoint::CRaltoDataConnectionPoint(CRaltoOpcGroup* group) : group_(group) {
  group_->AddRef();
}

CRaltoDataConnectionPoint::~CRaltoDataConnectionPoint() { group_->Release(); }

HRESULT CRaltoDataConnectionPoint::QueryInterface(const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if ((iid != IID_IUnknown && iid != IID_IConnectionPoint) || CRaltoOpcFaults::Instance().IsHidden(iid)) {
    return E_NOINTERFACE;
  }
  *object = static_cast<IConnectionPoint*>(this);
  AddRef();
  return S_OK;
}

ULONG CRaltoDataConnectionPoint::AddRef() { return refs_.Increment(); }

ULONG CRaltoDataConnectionPoint::Release() {
  ULONG left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

HRESULT CRaltoDataConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = IID_IOPCDataCallback;
  return S_OK;
}

HRESULT CRaltoDataConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (!container) return E_POINTER;
  group_->AddRef();
  *container = group_;
  return S_OK;
}

HRESULT CRaltoDataConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  return group_->Advise(sink, cookie);
}

HRESULT CRaltoDataConnectionPoint::Unadvise(DWORD cookie) { return group_->Unadvise(cookie); }

HRESULT CRaltoDataConnectionPoint::EnumConnections(IEnumConnections** enumerator) {
  if (enumerator) *enumerator = nullptr;
  return E_NOTIMPL;
}
