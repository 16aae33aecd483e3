#include "opcda/opc_da_client.h"

#include "alarmconfig/config_import.h"
#include "platform/registry.h"

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

HRESULT C_OPC_DA_Client::ImportConfiguration(bool incremental) {
  return ::ImportConfiguration(*this, incremental);
}

void C_OPC_DA_Client::RemoveServerItem(const AlarmVar& /*variable*/) {
  // IOPCItemMgt::RemoveItems goes through the interface registered under
  // itemMgtCookie. The client registers it when it adds its group on a
  // server; until then it holds no cookie and none of its items exists on a
  // server, so there is nothing to remove.
}
