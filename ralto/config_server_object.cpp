#include "ralto/config_server_object.h"

#include "ralto/config_document_store.h"
#include "ralto/config_failure_table.h"

HRESULT CRaltoConfigServer::QueryInterface(const IID& iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IRaltoConfigServer) {
    *object = static_cast<IRaltoConfigServer*>(this);
  } else if (iid == IID_IRaltoConfigServerControl) {
    *object = static_cast<IRaltoConfigServerControl*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG CRaltoConfigServer::AddRef() { return refs_.Increment(); }

ULONG CRaltoConfigServer::Release() {
  ULONG left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

HRESULT CRaltoConfigServer::GetConfigDocument(LONG kind, LONG id, LONG reserved1, LONG reserved2,
                                              BSTR* document) {
  if (!document) return E_POINTER;
  document->clear();
  bool known = (kind == RALTO_DOC_CONFIGURATION_SUMMARY && id == RALTO_SUMMARY_ID) ||
               kind == RALTO_DOC_PRODUCED_DATA;
  if (!known || reserved1 != 0 || reserved2 != 0) return E_INVALIDARG;
  HRESULT hr = CConfigFailureTable::Instance().Find(kind, id);
  if (FAILED(hr)) return hr;
  std::string directory;
  hr = CurrentDirectory(directory);
  if (FAILED(hr)) return hr;
  return CConfigDocumentStore(directory).Read(kind, id, *document);
}

HRESULT CRaltoConfigServer::FailDocument(LONG kind, LONG id, HRESULT result) {
  if (SUCCEEDED(result)) return E_INVALIDARG;
  CConfigFailureTable::Instance().Set(kind, id, result);
  return S_OK;
}

HRESULT CRaltoConfigServer::ClearFailures() {
  CConfigFailureTable::Instance().Clear();
  return S_OK;
}

HRESULT CRaltoConfigServer::SetDocumentDirectory(const std::string& directory) {
  std::lock_guard lock(mutex_);
  directory_ = directory;
  return S_OK;
}

HRESULT CRaltoConfigServer::GetDocumentDirectory(BSTR* directory) {
  if (!directory) return E_POINTER;
  return CurrentDirectory(*directory);
}

HRESULT CRaltoConfigServer::CurrentDirectory(std::string& directory) const {
  {
    std::lock_guard lock(mutex_);
    directory = directory_;
  }
  if (!directory.empty()) return S_OK;
  return CConfigDocumentStore::DirectoryFromRegistry(directory);
}
