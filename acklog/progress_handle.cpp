#include "acklog/progress_handle.h"

HRESULT ProgressHandle::QueryInterface(const IID&, void** object) {
  if (object) *object = nullptr;
  return E_NOTIMPL;
}

ULONG ProgressHandle::Release() {
  ULONG count = refs_.Decrement();
  if (count == 0) delete this;
  return count;
}
