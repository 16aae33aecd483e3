#include "platform/processes.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>

struct ModuleObject {};

struct ProcessObject {
  DWORD pid;
  DWORD access;
  std::string program;  // the path of its main program, when opened to read it
  ModuleObject mainModule;
};

namespace {

constexpr DWORD kModuleAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

std::mutex g_handlesMutex;
std::unordered_set<ProcessObject*> g_handles;

BOOL Fail(LONG code) {
  SetLastError(DWORD(code));
  return false;
}

bool Valid(HANDLE handle) {
  std::lock_guard lock(g_handlesMutex);
  return g_handles.count(handle) != 0;
}

bool AllDigits(const char* name) {
  if (!*name) return false;
  for (; *name; ++name)
    if (*name < '0' || *name > '9') return false;
  return true;
}

// ERROR_INVALID_PARAMETER for an ID without a process, else `otherwise`.
LONG Unavailable(DWORD pid, LONG otherwise) {
  struct stat st;
  std::string dir = "/proc/" + std::to_string(pid);
  return stat(dir.c_str(), &st) == 0 ? otherwise : ERROR_INVALID_PARAMETER;
}

}  // namespace

BOOL EnumProcesses(DWORD* processIds, DWORD cb, DWORD* bytesReturned) {
  if (!bytesReturned || (!processIds && cb > 0)) return Fail(ERROR_INVALID_PARAMETER);
  DIR* proc = opendir("/proc");
  if (!proc) return Fail(Win32ErrorFromErrno(errno));
  DWORD capacity = cb / sizeof(DWORD), count = 0;
  while (count < capacity) {
    errno = 0;
    dirent* entry = readdir(proc);
    if (!entry) {
      if (errno != 0) {
        LONG err = Win32ErrorFromErrno(errno);
        closedir(proc);
        return Fail(err);
      }
      break;
    }
    if (AllDigits(entry->d_name)) processIds[count++] = DWORD(std::strtoul(entry->d_name, nullptr, 10));
  }
  closedir(proc);
  *bytesReturned = count * DWORD(sizeof(DWORD));
  return true;
}

HANDLE OpenProcess(DWORD desiredAccess, BOOL /*inheritHandle*/, DWORD processId) {
  if (processId == 0) {  // the idle process, which nobody opens
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto process = new ProcessObject{processId, desiredAccess, {}, {}};
  if (desiredAccess & kModuleAccess) {
    std::string link = "/proc/" + std::to_string(processId) + "/exe";
    char target[4096];
    ssize_t n = readlink(link.c_str(), target, sizeof target);
    if (n < 0 || size_t(n) == sizeof target) {
      // No program to read: a kernel thread, or an ended process still to
      // be reaped; EACCES: another user's process.
      LONG err = Unavailable(processId, ERROR_ACCESS_DENIED);
      delete process;
      Fail(err);
      return nullptr;
    }
    process->program.assign(target, size_t(n));
    const std::string deleted = " (deleted)";
    if (process->program.ends_with(deleted)) process->program.resize(process->program.size() - deleted.size());
  } else if (LONG err = Unavailable(processId, ERROR_SUCCESS); err != ERROR_SUCCESS) {
    delete process;
    Fail(err);
    return nullptr;
  }
  std::lock_guard lock(g_handlesMutex);
  g_handles.insert(process);
  return process;
}

BOOL CloseHandle(HANDLE handle) {
  {
    std::lock_guard lock(g_handlesMutex);
    if (!g_handles.erase(handle)) return Fail(ERROR_INVALID_HANDLE);
  }
  delete handle;
  return true;
}

BOOL EnumProcessModules(HANDLE process, HMODULE* modules, DWORD cb, DWORD* bytesNeeded) {
  if (!Valid(process)) return Fail(ERROR_INVALID_HANDLE);
  if (!bytesNeeded || (!modules && cb > 0)) return Fail(ERROR_INVALID_PARAMETER);
  if ((process->access & kModuleAccess) != kModuleAccess) return Fail(ERROR_ACCESS_DENIED);
  if (cb >= sizeof(HMODULE)) modules[0] = &process->mainModule;
  *bytesNeeded = sizeof(HMODULE);
  return true;
}

DWORD GetModuleBaseName(HANDLE process, HMODULE module, char* baseName, DWORD size) {
  if (!Valid(process)) return Fail(ERROR_INVALID_HANDLE);
  if (!baseName || size == 0 || (module && module != &process->mainModule)) return Fail(ERROR_INVALID_PARAMETER);
  if ((process->access & kModuleAccess) != kModuleAccess) return Fail(ERROR_ACCESS_DENIED);
  std::string name = process->program.substr(process->program.rfind('/') + 1);
  DWORD length = std::min(DWORD(name.size()), size - 1);
  std::memcpy(baseName, name.data(), length);
  baseName[length] = '\0';
  return length;
}
