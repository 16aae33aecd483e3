// One hive of the registry store: a SQLite database of keys and values.
//
// Contract: keys are addressed by id or by folded path (the folded names of
// the components from the hive's root, joined by "\"; "" is the root).
// Every operation is one atomic step and returns a Win32 error code, with
// the meanings registry.h gives them. The database is opened on first use
// and checked (quick_check) before anything is written to it; a file that
// is not a database or fails the check is reported once through DebugOutput
// and never touched again by this process. After a fork the child opens its
// own connection. Thread-safe: one connection per hive and process, used
// under the hive's mutex.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com.h"

class RegistryHive {
 public:
  // The process-wide hives (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER).
  static RegistryHive& Machine();
  static RegistryHive& User();

  // `file` is opened on first use; `defaultKeys` (case kept, "\"-separated
  // paths) are created then when missing.
  RegistryHive(std::string file, std::vector<std::string> defaultKeys);
  RegistryHive(const RegistryHive&) = delete;
  RegistryHive& operator=(const RegistryHive&) = delete;
  ~RegistryHive();

  // Case folding of a key or value name (Unicode simple upper case).
  static std::string Fold(const std::string& name);

  LONG RootId(int64_t& id);
  LONG FindKey(const std::string& foldedPath, int64_t& id);
  // ERROR_SUCCESS while the key exists, ERROR_KEY_DELETED once it is gone.
  LONG CheckKey(int64_t id);
  // Creates `names` (case kept) below key startId, whose folded path is
  // startPath, as far as they are missing.
  LONG CreateKey(int64_t startId, const std::string& startPath, const std::vector<std::string>& names,
                 int64_t& id, std::string& path, bool& created);
  // Deletes the key at path: with its whole subtree when `subtree`, else
  // only when it has no subkeys (ERROR_ACCESS_DENIED). keepKey: only its
  // subkeys and values go.
  LONG DeleteKey(const std::string& path, bool subtree, bool keepKey);

  // Values by folded name. Data is the stored form (see registry.cpp).
  LONG GetValue(int64_t keyId, const std::string& foldedName, DWORD& type, std::string& data);
  LONG GetValueAt(const std::string& keyPath, const std::string& foldedName, DWORD& type,
                  std::string& data);
  LONG SetValue(int64_t keyId, const std::string& name, DWORD type, const std::string& data);
  LONG DeleteValue(int64_t keyId, const std::string& foldedName);

  LONG EnumKey(int64_t keyId, DWORD index, std::string& name);
  LONG EnumValue(int64_t keyId, DWORD index, std::string& name, DWORD& type);

  const std::string& File() const { return file_; }

 private:
  enum Stmt {
    kFindKey, kCheckKey, kInsertKey, kHasSubkeys, kGetValue, kGetValueAt, kSetValue,
    kDeleteValue, kDeleteValuesOf, kDeleteTreeValues, kDeleteTreeKeys, kEnumKey, kEnumValue,
    kBegin, kCommit, kRollback, kStmtCount
  };
  class Query;

  // Opens the database when needed; the hive's state as an error code.
  LONG Ready();
  LONG Open();
  void Close();
  // A failed SQLite call as a Win32 code (damage marks the hive broken).
  LONG Fail(int rc, bool writing);
  void MarkBroken(LONG code, const std::string& why);
  LONG InTransaction(const std::function<LONG()>& body);
  LONG CheckKeyLocked(int64_t id);
  LONG CreateKeyLocked(int64_t startId, const std::string& startPath,
                       const std::vector<std::string>& names, int64_t& id, std::string& path,
                       bool& created);

  const std::string file_;
  const std::vector<std::string> defaultKeys_;
  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  pid_t pid_ = 0;
  LONG broken_ = 0;  // ERROR_BADDB or ERROR_REGISTRY_CORRUPT once found damaged
  bool reportedOpenFailure_ = false;
  int64_t rootId_ = 0;
  sqlite3_stmt* stmts_[kStmtCount] = {};
};
