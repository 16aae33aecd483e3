#include "opcda/opc_da_client.h"

#include "alarmconfig/config_import.h"
#include "platform/registry.h"

IGlobalInterfaceTable* g_pGlobalInterfaceTable = nullptr;

namespace {

constexpr char kAlarmLogKey[] = "SOFTWARE\\Quillan\\Veltro QRX OPC AE\\AlarmLog";
// The server reads these paths into 255-byte buffers of two-byte characters.
constexpr size_t kMaxPathCharacters = 126;

size_t CharacterCount(const std::string& utf8) {
  size_t count = 0;
  for (unsigned char c : utf8) count += (c & 0xC0) != 0x80;
  return count;
}

std::string ReadPath(const char* value) {
  std::string path;
  if (RegGetString(HKEY_LOCAL_MACHINE, kAlarmLogKey, value, path) != ERROR_SUCCESS ||
      CharacterCount(path) > kMaxPathCharacters)
    return {};
  return path;
}

}  // namespace

C_OPC_DA_Client::C_OPC_DA_Client()
    : receiveFilePath(ReadPath("AlarmReceiveFile")), dumpFilePath(ReadPath("AlarmDumpFile")) {}

C_OPC_DA_Client::~C_OPC_DA_Client() = default;

HRESULT C_OPC_DA_Client::ConnectFresh_NOT_BUILT_YET() { return E_NOTIMPL; }

HRESULT C_OPC_DA_Client::ConnectFresh(const std::string& /*progId*/, DWORD /*updateRateMs*/) {
  return ConnectFresh_NOT_BUILT_YET();
}

HRESULT C_OPC_DA_Client::ConnectOrRefresh(const std::string& /*progId*/, DWORD /*updateRateMs*/) {
  return ConnectFresh_NOT_BUILT_YET();
}

HRESULT C_OPC_DA_Client::ImportConfiguration(bool incremental) {
  return ::ImportConfiguration(*this, incremental);
}

AlarmVar* C_OPC_DA_Client::FindVariableByHandle(OPCHANDLE clientHandle) const {
  auto it = handleMap.find(clientHandle);
  return it == handleMap.end() ? nullptr : it->second;
}

void C_OPC_DA_Client::RemoveServerItem(const AlarmVar& /*variable*/) {}
