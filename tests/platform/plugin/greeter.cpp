// The test plugin: one class, served through DllGetClassObject.
#include "tests/platform/plugin/greeter.h"

#include <atomic>

#include "platform/class_factory.h"
#include "platform/dll_export.h"

namespace {

std::atomic<LONG> g_live{0};

class CGreeter final : public ITestGreeter {
 public:
  CGreeter() { ++g_live; }
  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ITestGreeter) {
      *object = static_cast<ITestGreeter*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override {
    ULONG n = refs_.Decrement();
    if (n == 0) delete this;
    return n;
  }
  HRESULT Greet(const std::string& name, std::string* text) override {
    if (!text) return E_POINTER;
    *text = "Hello, " + name;
    return S_OK;
  }
  LONG LiveObjects() override { return g_live; }

 private:
  ~CGreeter() { --g_live; }
  ComRefCount refs_;
};

class CGreeterFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }  // static object
  ULONG Release() override { return 1; }
  HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    CGreeter* greeter = new CGreeter;
    HRESULT hr = greeter->QueryInterface(iid, object);
    greeter->Release();
    return hr;
  }
  HRESULT LockServer(BOOL) override { return S_OK; }
};

CGreeterFactory g_factory;

}  // namespace

AE_DLL_EXPORT HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != CLSID_TestGreeter) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, object);
}
