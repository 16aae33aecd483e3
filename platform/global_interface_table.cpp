#include "platform/global_interface_table.h"

#include <mutex>
#include <unordered_map>

#include "platform/class_factory.h"
#include "platform/class_object.h"

namespace {

// Lives for the whole process: its reference count is not kept.
class CGlobalInterfaceTable final : public IGlobalInterfaceTable {
 public:
  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IGlobalInterfaceTable) {
      *object = static_cast<IGlobalInterfaceTable*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  HRESULT RegisterInterfaceInGlobal(IUnknown* object, const IID&, DWORD* cookie) override {
    if (!object || !cookie) return E_INVALIDARG;
    object->AddRef();
    std::lock_guard lock(mutex_);
    if (++lastCookie_ == 0) ++lastCookie_;  // 0 is never a cookie
    entries_[lastCookie_] = object;  // handed out as asked at Get time
    *cookie = lastCookie_;
    return S_OK;
  }

  HRESULT RevokeInterfaceFromGlobal(DWORD cookie) override {
    IUnknown* object;
    {
      std::lock_guard lock(mutex_);
      auto it = entries_.find(cookie);
      if (it == entries_.end()) return E_INVALIDARG;
      object = it->second;
      entries_.erase(it);
    }
    object->Release();
    return S_OK;
  }

  HRESULT GetInterfaceFromGlobal(DWORD cookie, const IID& iid, void** object) override {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    IUnknown* found;
    {
      std::lock_guard lock(mutex_);
      auto it = entries_.find(cookie);
      if (it == entries_.end()) return E_INVALIDARG;
      found = it->second;
      found->AddRef();  // kept alive against a concurrent revoke
    }
    HRESULT hr = found->QueryInterface(iid, object);
    found->Release();
    return hr;
  }

 private:
  std::mutex mutex_;
  DWORD lastCookie_ = 0;
  std::unordered_map<DWORD, IUnknown*> entries_;
};

}  // namespace

HRESULT GetGlobalInterfaceTableClassObject(const IID& iid, void** object) {
  // Never destroyed: interfaces may be revoked from threads still running at exit.
  static CGlobalInterfaceTable* table = new CGlobalInterfaceTable;
  return CClassObject::Serve([](const IID& i, void** o) { return table->QueryInterface(i, o); }, iid, object);
}
