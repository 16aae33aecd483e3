// The RaltoConfigServer class: serves the configuration documents from its
// document directory (CConfigDocumentStore) and takes the test controls.
//
// Contract: see IRaltoConfigServer (config_server.h) and
// IRaltoConfigServerControl (config_control.h). Created by its class
// factory with one reference; deleted by its last Release. Any thread may
// call any method.
#pragma once

#include <mutex>
#include <string>

#include "platform/com.h"
#include "ralto/config_control.h"
#include "ralto/config_server.h"

class CRaltoConfigServer final : public IRaltoConfigServer, public IRaltoConfigServerControl {
 public:
  CRaltoConfigServer() = default;

  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetConfigDocument(LONG kind, LONG id, LONG reserved1, LONG reserved2,
                            BSTR* document) override;

  HRESULT FailDocument(LONG kind, LONG id, HRESULT result) override;
  HRESULT ClearFailures() override;
  HRESULT SetDocumentDirectory(const std::string& directory) override;
  HRESULT GetDocumentDirectory(BSTR* directory) override;

 private:
  ~CRaltoConfigServer() = default;

  // This object's directory, else the registry's, else the default.
  HRESULT CurrentDirectory(std::string& directory) const;

  ComRefCount refs_;
  mutable std::mutex mutex_;
  std::string directory_;  // "" = from the registry
};
