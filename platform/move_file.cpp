#include "platform/move_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/debug.h"
#include "platform/registry.h"
#include "platform/store_lock.h"

namespace {

constexpr const char* kLockName = "pending-renames";
constexpr const char* kNtPrefix = "\\??\\";
constexpr char kReplaceMark = '!';

BOOL Fail(LONG code) {
  SetLastError(DWORD(code));
  return false;
}

// rename() that refuses to replace an existing target unless told.
LONG Rename(const std::string& source, const std::string& target, bool replace) {
  if (replace) return rename(source.c_str(), target.c_str()) == 0 ? ERROR_SUCCESS : Win32ErrorFromErrno(errno);
  if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return ERROR_SUCCESS;
  if (errno != EINVAL && errno != ENOSYS) return Win32ErrorFromErrno(errno);
  // A file system without the flag.
  if (access(target.c_str(), F_OK) == 0) return ERROR_ALREADY_EXISTS;
  return rename(source.c_str(), target.c_str()) == 0 ? ERROR_SUCCESS : Win32ErrorFromErrno(errno);
}

LONG CopyThenDelete(const std::string& source, const std::string& target, bool replace) {
  std::error_code ec;
  auto options = replace ? std::filesystem::copy_options::overwrite_existing : std::filesystem::copy_options::none;
  if (!std::filesystem::copy_file(source, target, options, ec)) return Win32ErrorFromErrno(ec ? ec.value() : EEXIST);
  if (!std::filesystem::remove(source, ec)) return Win32ErrorFromErrno(ec.value());
  return ERROR_SUCCESS;
}

std::string Absolute(const char* path) {
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(path, ec);
  return (ec ? std::filesystem::path(path) : full).lexically_normal().string();
}

// The strings of the list, empty ones included.
LONG ReadOperations(HKEY key, std::vector<std::string>& strings) {
  strings.clear();
  DWORD type = 0, size = 0;
  LONG err = RegQueryValueEx(key, kPendingFileRenameOperations, &type, nullptr, &size);
  if (err == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (err != ERROR_SUCCESS) return err;
  if (type != REG_MULTI_SZ) return ERROR_UNSUPPORTED_TYPE;
  std::string data(size, '\0');
  err = RegQueryValueEx(key, kPendingFileRenameOperations, &type, reinterpret_cast<BYTE*>(data.data()), &size);
  if (err != ERROR_SUCCESS) return err;
  data.resize(size);
  // Each string ends with a NUL; one more ends the list.
  if (!data.empty()) data.pop_back();
  if (data == std::string(1, '\0')) data.clear();
  for (size_t pos = 0; pos < data.size();) {
    size_t end = data.find('\0', pos);
    if (end == std::string::npos) end = data.size();
    strings.push_back(data.substr(pos, end - pos));
    pos = end + 1;
  }
  return ERROR_SUCCESS;
}

LONG WriteOperations(HKEY key, const std::vector<std::string>& strings) {
  std::string data;
  for (const std::string& s : strings) data += s + '\0';
  data += '\0';
  return RegSetValueEx(key, kPendingFileRenameOperations, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                       DWORD(data.size()));
}

std::string WithoutPrefix(std::string path) {
  if (path.starts_with(kNtPrefix)) path.erase(0, std::string(kNtPrefix).size());
  return path;
}

LONG CarryOut(const std::string& sourceEntry, const std::string& targetEntry) {
  std::string source = WithoutPrefix(sourceEntry);
  if (targetEntry.empty()) return remove(source.c_str()) == 0 ? ERROR_SUCCESS : Win32ErrorFromErrno(errno);
  bool replace = targetEntry[0] == kReplaceMark;
  return Rename(source, WithoutPrefix(targetEntry.substr(replace ? 1 : 0)), replace);
}

}  // namespace

BOOL MoveFileEx(const char* existingFileName, const char* newFileName, DWORD flags) {
  if (!existingFileName || !*existingFileName) return Fail(ERROR_INVALID_PARAMETER);
  if (newFileName && !*newFileName) return Fail(ERROR_PATH_NOT_FOUND);
  bool replace = flags & MOVEFILE_REPLACE_EXISTING;
  if (!(flags & MOVEFILE_DELAY_UNTIL_REBOOT)) {
    if (!newFileName) return Fail(ERROR_INVALID_PARAMETER);
    LONG err = Rename(existingFileName, newFileName, replace);
    if (err == ERROR_NOT_SAME_DEVICE && (flags & MOVEFILE_COPY_ALLOWED))
      err = CopyThenDelete(existingFileName, newFileName, replace);
    return err == ERROR_SUCCESS ? true : Fail(err);
  }
  if (flags & MOVEFILE_COPY_ALLOWED) return Fail(ERROR_INVALID_PARAMETER);
  std::string source = kNtPrefix + Absolute(existingFileName);
  std::string target = newFileName ? (replace ? std::string(1, kReplaceMark) : "") + kNtPrefix + Absolute(newFileName) : "";

  StoreLock lock(kLockName);
  HKEY key;
  LONG err = RegCreateKeyEx(HKEY_LOCAL_MACHINE, kSessionManagerKey, KEY_QUERY_VALUE | KEY_SET_VALUE, &key, nullptr);
  if (err != ERROR_SUCCESS) return Fail(err);
  std::vector<std::string> operations;
  err = ReadOperations(key, operations);
  if (err == ERROR_SUCCESS) {
    operations.push_back(source);
    operations.push_back(target);
    err = WriteOperations(key, operations);
  }
  RegCloseKey(key);
  return err == ERROR_SUCCESS ? true : Fail(err);
}

LONG ProcessPendingFileRenames() {
  StoreLock lock(kLockName);
  HKEY key;
  LONG err = RegOpenKeyEx(HKEY_LOCAL_MACHINE, kSessionManagerKey, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
  if (err == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (err != ERROR_SUCCESS) return err;
  std::vector<std::string> operations;
  err = ReadOperations(key, operations);
  if (err == ERROR_SUCCESS) {
    for (size_t i = 0; i + 1 < operations.size(); i += 2) {
      if (LONG failed = CarryOut(operations[i], operations[i + 1]); failed != ERROR_SUCCESS)
        DebugOutput("PendingFileRenameOperations: " + operations[i] + " -> " + operations[i + 1] + ": " +
                    Win32ErrorText(failed) + "\n");
    }
    err = RegDeleteValue(key, kPendingFileRenameOperations);
    if (err == ERROR_FILE_NOT_FOUND) err = ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return err;
}
