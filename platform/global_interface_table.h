// The Global Interface Table: interface pointers kept under a cookie, so
// that another thread (or later code) can get them back.
//
// Contract: one process-wide table, reached through
// CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr,
// CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable, ...). Registering AddRefs
// the interface and gives a non-zero cookie; every Get hands out a new
// reference (QueryInterface for the asked IID) that the caller releases;
// Revoke releases the table's reference. An unknown cookie or a null
// argument: E_INVALIDARG. The table itself is never destroyed. Every
// method is thread-safe, and no interface is called under the table's lock.
#pragma once

#include "platform/com.h"

// {00000146-0000-0000-C000-000000000046}
constexpr IID IID_IGlobalInterfaceTable{0x00000146, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {00000323-0000-0000-C000-000000000046}
constexpr CLSID CLSID_StdGlobalInterfaceTable{0x00000323, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class IGlobalInterfaceTable : public IUnknown {
 public:
  virtual HRESULT RegisterInterfaceInGlobal(IUnknown* object, const IID& iid, DWORD* cookie) = 0;
  virtual HRESULT RevokeInterfaceFromGlobal(DWORD cookie) = 0;
  virtual HRESULT GetInterfaceFromGlobal(DWORD cookie, const IID& iid, void** object) = 0;

 protected:
  ~IGlobalInterfaceTable() = default;
};

// The table's class object, queried for `iid`: CoGetClassObject serves
// CLSID_StdGlobalInterfaceTable with it.
HRESULT GetGlobalInterfaceTableClassObject(const IID& iid, void** object);
