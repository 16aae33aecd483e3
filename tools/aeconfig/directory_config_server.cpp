#include "tools/aeconfig/directory_config_server.h"

#include <dlfcn.h>

#include <filesystem>

#include "ralto/config_server.h"

CDirectoryConfigServerFactory::CDirectoryConfigServerFactory(IClassFactory* inner, std::string directory)
    : inner_(inner), directory_(std::move(directory)) {}

HRESULT CDirectoryConfigServerFactory::QueryInterface(const IID& iid, void** object) {
  if (!object) return E_POINTER;
  if (iid != IID_IUnknown && iid != IID_IClassFactory) {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  *object = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

ULONG CDirectoryConfigServerFactory::AddRef() { return refs_.Increment(); }

ULONG CDirectoryConfigServerFactory::Release() {
  ULONG left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

HRESULT CDirectoryConfigServerFactory::CreateInstance(IUnknown* outer, const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  ComPtr<IRaltoConfigServerControl> control;
  HRESULT hr = inner_->CreateInstance(outer, IID_IRaltoConfigServerControl, control.PutVoid());
  if (FAILED(hr)) return hr;
  hr = control->SetDocumentDirectory(directory_);
  if (FAILED(hr)) return hr;
  return control->QueryInterface(iid, object);
}

HRESULT CDirectoryConfigServerFactory::LockServer(BOOL /*lock*/) { return S_OK; }

ComPtr<IClassFactory> LoadConfigServerClass(const std::string& programDirectory, HRESULT* result) {
  ComPtr<IClassFactory> factory;
  std::string library = (std::filesystem::path(programDirectory) / "libralto_config.so").string();
  if (std::filesystem::exists(library)) {
    // Kept loaded for the life of the process, as class creation keeps its libraries.
    if (void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL)) {
      auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
      *result = getClassObject ? getClassObject(CLSID_RaltoConfigServer, IID_IClassFactory, factory.PutVoid())
                               : CO_E_ERRORINDLL;
      if (SUCCEEDED(*result)) return factory;
    }
  }
  *result = CoGetClassObject(CLSID_RaltoConfigServer, CLSCTX_ALL, IID_IClassFactory, factory.PutVoid());
  if (FAILED(*result)) factory.Reset();
  return factory;
}
