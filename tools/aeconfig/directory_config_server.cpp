#include "tools/aeconfig/directory_config_server.h"

#include <dlfcn.h>

#include <filesystem>

#include "platform/class_object.h"
#include "ralto/config_control.h"
#include "ralto/config_server.h"

ComPtr<IClassFactory> MakeDirectoryConfigServerClass(ComPtr<IClassFactory> inner, std::string directory,
                                                     HRESULT* result) {
  auto create = [inner, directory](const IID& iid, void** object) {
    ComPtr<IRaltoConfigServerControl> control;
    HRESULT hr = inner->CreateInstance(nullptr, IID_IRaltoConfigServerControl, control.PutVoid());
    if (FAILED(hr)) return hr;
    hr = control->SetDocumentDirectory(directory);
    if (FAILED(hr)) return hr;
    return control->QueryInterface(iid, object);
  };
  ComPtr<IClassFactory> factory;
  *result = CClassObject::Serve(create, IID_IClassFactory, factory.PutVoid());
  return factory;
}

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
