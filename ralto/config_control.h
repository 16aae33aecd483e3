// Control of the configuration server stand-in, for tests, benchmarks and
// the tools: QueryInterface any RaltoConfigServer object (ralto/config_server.h)
// for IRaltoConfigServerControl. The server program never uses it.
//
// Contract: failures are process-wide: they hold for every object of the
// class in this process, including objects created later (a client creates
// its own), until cleared. The document directory is per object. Results:
// S_OK; E_INVALIDARG for a success code given as failure; E_POINTER for a
// null out pointer; REGDB_E_READREGDB when GetDocumentDirectory cannot read
// the registry store. Any thread may call.
#pragma once

#include <string>

#include "platform/com.h"
#include "ralto/config_server.h"

// {0BB1C7EE-60E2-481E-83D6-6BF6E440D2A4}
constexpr IID IID_IRaltoConfigServerControl{
    0x0BB1C7EE, 0x60E2, 0x481E, {0x83, 0xD6, 0x6B, 0xF6, 0xE4, 0x40, 0xD2, 0xA4}};

class IRaltoConfigServerControl : public IUnknown {
 public:
  // From now on GetConfigDocument(kind, id, ...) fails with `result`.
  // E_INVALIDARG when `result` is not a failure code.
  virtual HRESULT FailDocument(LONG kind, LONG id, HRESULT result) = 0;
  virtual HRESULT ClearFailures() = 0;
  // Serves this object from `directory`; "" returns to the registry setting.
  virtual HRESULT SetDocumentDirectory(const std::string& directory) = 0;
  // The directory that this object serves from now (its own, the registry
  // setting or the bundled plant). REQUIRES: directory != nullptr.
  virtual HRESULT GetDocumentDirectory(BSTR* directory) = 0;

 protected:
  ~IRaltoConfigServerControl() = default;
};
