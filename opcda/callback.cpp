#include "opcda/callback.h"

#include <cstdio>
#include <ctime>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "opcda/alarm_requests.h"
#include "opcda/opc_da_client.h"
#include "platform/utf.h"

namespace {

// The receive file of one callback: opened for appending, written as
// UTF-16LE without a byte-order mark, closed at the end of the callback.
class ReceiveFile {
 public:
  explicit ReceiveFile(const std::string& path)
      : file_(path.empty() ? nullptr : std::fopen(path.c_str(), "ab")) {}
  ReceiveFile(const ReceiveFile&) = delete;
  ReceiveFile& operator=(const ReceiveFile&) = delete;
  ~ReceiveFile() {
    if (!file_) return;
    std::string bytes = Utf8ToUtf16Le(text_);
    std::fwrite(bytes.data(), 1, bytes.size(), file_);
    std::fclose(file_);
  }

  bool IsOpen() const { return file_ != nullptr; }
  void WriteHeader() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    text_ += "\r\n (Ralto INFORM TIME) :  " + std::to_string(local.tm_hour) + " : " +
             std::to_string(local.tm_min) + " : " + std::to_string(local.tm_sec) + "\r\n\r\n";
  }
  void WriteVariable(const AlarmVar& variable) {
    text_ += variable.nodeName;
    text_ += '_';
    text_ += variable.itemName;
    text_ += "\r\n";
  }

 private:
  std::FILE* file_;
  std::string text_;
};

}  // namespace

Callback::Callback(C_OPC_DA_Client* client) : client_(client) {}

Callback::~Callback() = default;

HRESULT Callback::QueryInterface(const IID& iid, void** object) {
  if (!object) return E_INVALIDARG;
  if (iid == IID_IUnknown || iid == IID_IOPCDataCallback) {
    *object = static_cast<IOPCDataCallback*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG Callback::AddRef() { return refCount_.Increment(); }

ULONG Callback::Release() {
  ULONG count = refCount_.Decrement();
  if (count == 0) delete this;
  return count;
}

void Callback::DetachClient() {
  std::lock_guard guard(clientLock_);
  client_ = nullptr;
}

HRESULT Callback::OnDataChange(DWORD /*dwTransid*/, OPCHANDLE hGroup, HRESULT /*hrMasterquality*/,
                               HRESULT /*hrMastererror*/, DWORD dwCount, OPCHANDLE* phClientItems,
                               VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                               HRESULT* pErrors) {
  if (dwCount == 0) return S_OK;
  if (!phClientItems || !pvValues || !pwQualities || !pftTimeStamps || !pErrors) return E_POINTER;
  // Held to the end, so that the client cannot go while its handles are used.
  std::lock_guard guard(clientLock_);
  if (!client_ || client_->active == 0) return S_OK;
  std::shared_lock handles(client_->handleLock);

  alarmRequests.Reserve(dwCount);
  bool queued = false;
  {
    ReceiveFile file(client_->receiveFilePath);
    if (file.IsOpen()) file.WriteHeader();
    for (DWORD i = 0; i < dwCount; ++i) {
      AlarmVar* variable = client_->FindVariableByHandle(phClientItems[i]);
      if (!variable) continue;
      alarmRequests.Add(variable);
      queued = true;
      if (file.IsOpen()) file.WriteVariable(*variable);
    }
  }
  if (queued) alarmRequests.Signal();
  return hGroup == client_->serverGroup ? S_OK : E_INVALIDARG;
}

HRESULT Callback::OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                                 FILETIME*, HRESULT*) {
  return S_OK;
}

HRESULT Callback::OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) { return S_OK; }

HRESULT Callback::OnCancelComplete(DWORD, OPCHANDLE) { return S_OK; }
