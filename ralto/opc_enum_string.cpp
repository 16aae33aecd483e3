#include "ralto/opc_enum_string.h"

#include <algorithm>
#include <new>

#include "ralto/opc_faults.h"

CRaltoEnumString::CRaltoEnumString(List list, size_t position)
    : list_(std::move(list)), position_(position) {}

HRESULT CRaltoEnumString::QueryInterface(const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if ((iid != IID_IUnknown && iid != IID_IEnumString) || CRaltoOpcFaults::Instance().IsHidden(iid)) {
    return E_NOINTERFACE;
  }
  *object = static_cast<IEnumString*>(this);
  AddRef();
  return S_OK;
}

ULONG CRaltoEnumString::AddRef() { return refs_.Increment(); }

ULONG CRaltoEnumString::Release() {
  ULONG left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

HRESULT CRaltoEnumString::Next(ULONG celt, char** rgelt, ULONG* pceltFetched) {
  if (pceltFetched) *pceltFetched = 0;
  if (!rgelt || (!pceltFetched && celt > 1)) return E_INVALIDARG;
  size_t count = std::min<size_t>(celt, list_->size() - position_);
  for (size_t i = 0; i < count; ++i) {
    rgelt[i] = CoTaskMemStrDup((*list_)[position_ + i]);
    if (!rgelt[i]) {
      for (size_t j = 0; j < i; ++j) {
        CoTaskMemFree(rgelt[j]);
        rgelt[j] = nullptr;
      }
      return E_OUTOFMEMORY;
    }
  }
  position_ += count;
  if (pceltFetched) *pceltFetched = static_cast<ULONG>(count);
  return count == celt ? S_OK : S_FALSE;
}

HRESULT CRaltoEnumString::Skip(ULONG celt) {
  size_t left = list_->size() - position_;
  position_ += std::min<size_t>(celt, left);
  return celt <= left ? S_OK : S_FALSE;
}

HRESULT CRaltoEnumString::Reset() {
  position_ = 0;
  return S_OK;
}

HRESULT CRaltoEnumString::Clone(IEnumString** ppEnum) {
  if (!ppEnum) return E_INVALIDARG;
  *ppEnum = nullptr;
  auto* clone = new (std::nothrow) CRaltoEnumString(list_, position_);
  if (!clone) return E_OUTOFMEMORY;
  *ppEnum = clone;
  return S_OK;
}
