// The exports: each takes its parameter block apart and hands over to the
// runtime's service, registry and INI helpers.
#include "setup/rtsvcsetup/rtsvcsetup.h"

#include <cstring>
#include <string>

#include "platform/move_file.h"
#include "setup/export_support.h"
#include "setup/rtsvcsetup/ini_cleanup.h"
#include "setup/rtsvcsetup/runtime_registry.h"
#include "setup/rtsvcsetup/runtime_service.h"

#ifndef AE_REMOVE_STOP_LIMIT_MS
#define AE_REMOVE_STOP_LIMIT_MS 30000
#endif

namespace {

constexpr DWORD kRemoveStopLimitMs = AE_REMOVE_STOP_LIMIT_MS;
constexpr uint32_t kStartAfterInstall = 1;

// The block's entry `index` as T*, or null (no block, or no entry).
template <class T>
T* Entry(void** block, int index) {
  return block ? static_cast<T*>(block[index]) : nullptr;
}

// The result, also written to the error output when there is one.
uint32_t Report(uint32_t* error, uint32_t result) {
  if (error) *error = result;
  return result;
}

uint32_t SetBool(int32_t* out, bool value) {
  if (!out) return 0;
  *out = value;
  return uint32_t(value);
}

uint32_t AddRuntimeService(const char* programPath, uint32_t* error, uint32_t start) {
  if (!programPath) return Report(error, ERROR_INVALID_PARAMETER);
  if (strlen(programPath) > rtsvc::kMaxProgramPath) return Report(error, ERROR_FILENAME_EXCED_RANGE);
  const std::string path = programPath;
  if (DWORD err = rtsvc::CreateRuntimeService(path); err != ERROR_SUCCESS) return Report(error, err);
  rtsvc::AdmitRuntimePipe();
  if (DWORD err = rtsvc::RegisterEventSource(path); err != ERROR_SUCCESS) return Report(error, err);
  if (DWORD err = rtsvc::WriteRuntimeConfiguration(path); err != ERROR_SUCCESS) return Report(error, err);
  return start == kStartAfterInstall ? Report(error, rtsvc::StartRuntime()) : ERROR_SUCCESS;
}

uint32_t RemoveRuntimeService(uint32_t* error) {
  if (DWORD err = rtsvc::RemoveRuntime(kRemoveStopLimitMs); err != ERROR_SUCCESS) return Report(error, err);
  return Report(error, rtsvc::DeleteEventSource());
}

uint32_t ReplaceAtReboot(const char* newFile, const char* target, uint32_t* error) {
  if (!newFile) return Report(error, ERROR_INVALID_PARAMETER);
  if (target && !*target) target = nullptr;
  if (!MoveFileEx(target, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ||
      !MoveFileEx(newFile, target, MOVEFILE_DELAY_UNTIL_REBOOT))
    return Report(error, GetLastError());
  return Report(error, ERROR_SUCCESS);
}

}  // namespace

uint32_t isBrannockService(void** block) {
  return CallExport([&] { return SetBool(Entry<int32_t>(block, 0), rtsvc::RuntimeServiceExists()); }, 0);
}

uint32_t hasAdminRights(void** block) {
  return CallExport([&] { return SetBool(Entry<int32_t>(block, 0), rtsvc::CanCreateServices()); }, 0);
}

uint32_t addBrannockService(void** block, uint32_t start) {
  return CallExport([&] { return AddRuntimeService(Entry<const char>(block, 0), Entry<uint32_t>(block, 1), start); });
}

uint32_t startBrannockService(void** block) {
  if (!block) return ERROR_INVALID_PARAMETER;
  return CallExport([&] { return Report(Entry<uint32_t>(block, 0), rtsvc::StartRuntime()); });
}

uint32_t stopBrannockService(void** block) {
  if (!block) return ERROR_INVALID_PARAMETER;
  return CallExport([&] { return Report(Entry<uint32_t>(block, 0), rtsvc::StopRuntime()); });
}

uint32_t removeBrannockService(void** block) {
  if (!block) return ERROR_INVALID_PARAMETER;
  return CallExport([&] { return RemoveRuntimeService(Entry<uint32_t>(block, 0)); });
}

uint32_t cleanUpCalderINI(void** block) {
  CallExport([&] {
    if (const char* path = Entry<const char>(block, 0)) rtsvc::CleanUpCalderIni(path);
    return 0u;
  });
  return ERROR_SUCCESS;
}

uint32_t replaceFileAtReboot(void** block) {
  return CallExport([&] {
    return ReplaceAtReboot(Entry<const char>(block, 0), Entry<const char>(block, 1), Entry<uint32_t>(block, 2));
  });
}
