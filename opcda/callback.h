// Callback: the client's IOPCDataCallback sink. OnDataChange only maps the
// changed client handles to alarm variables, queues them in alarmRequests
// and signals it; the alarm processor reads the values itself. When the
// client has a receive file, each callback appends a header and one line
// per known variable to it (UTF-16LE, no byte-order mark).
//
// Contract: created with one reference, owned through COM references (the
// client and the server's connection point hold one each). Any thread may
// call any method. OnDataChange: S_OK for a count of 0; E_POINTER when an
// array is null; S_OK without effect while the client is detached or not
// active; otherwise S_OK when the group handle is the client's serverGroup,
// else E_INVALIDARG (the changes are queued all the same). DetachClient
// waits for a callback in progress, so that after it returns the client may
// go.
#pragma once

#include <mutex>

#include "platform/com.h"
#include "platform/opcda.h"

class C_OPC_DA_Client;

class Callback final : public IOPCDataCallback {
 public:
  // REQUIRES: client outlives the object or is detached first.
  explicit Callback(C_OPC_DA_Client* client);
  Callback(const Callback&) = delete;
  Callback& operator=(const Callback&) = delete;

  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                       HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                       VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                       HRESULT* pErrors) override;
  HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                         HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                         VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                         HRESULT* pErrors) override;
  HRESULT OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                          OPCHANDLE* pClienthandles, HRESULT* pErrors) override;
  HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override;

  // Clears the client reference; later callbacks change nothing.
  void DetachClient();

 private:
  ~Callback();

  ComRefCount refCount_;
  // Held throughout a callback's use of the client.
  std::mutex clientLock_;
  C_OPC_DA_Client* client_;
};
