#include "platform/registry_hive.h"

#include <unistd.h>

#include <filesystem>

#include "platform/debug.h"
#include "platform/registry.h"
#include "platform/utf.h"
#include "platform/win32_error.h"

namespace {

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"  // never reused: a stale handle stays stale
    "  parent INTEGER NOT NULL,"
    "  path TEXT NOT NULL UNIQUE,"  // folded names from the root, joined by '\'
    "  name TEXT NOT NULL);"        // the last name, case kept
    "CREATE INDEX IF NOT EXISTS keys_parent ON keys(parent, path);"
    "CREATE TABLE IF NOT EXISTS vals("
    "  key INTEGER NOT NULL,"
    "  fold TEXT NOT NULL,"
    "  name TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, fold));"
    "INSERT OR IGNORE INTO keys(parent, path, name) VALUES(0, '', '');";

// Indexed by RegistryHive::Stmt. Subtree bounds: every descendant path of
// p lies strictly between p + "\" and p + "]" (']' follows '\').
const char* const kStatements[] = {
    "SELECT id FROM keys WHERE path = ?1",
    "SELECT 1 FROM keys WHERE id = ?1",
    "INSERT INTO keys(parent, path, name) VALUES(?1, ?2, ?3)",
    "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1",
    "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2",
    "SELECT v.type, v.data FROM keys k JOIN vals v ON v.key = k.id WHERE k.path = ?1 AND v.fold = ?2",
    "INSERT INTO vals(key, fold, name, type, data) SELECT ?1, ?2, ?3, ?4, ?5"
    "  WHERE EXISTS(SELECT 1 FROM keys WHERE id = ?1)"
    "  ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data",
    "DELETE FROM vals WHERE key = ?1 AND fold = ?2",
    "DELETE FROM vals WHERE key = ?1",
    "DELETE FROM vals WHERE key IN"
    "  (SELECT id FROM keys WHERE path = ?1 OR (path > ?2 AND path < ?3))",
    "DELETE FROM keys WHERE path = ?1 OR (path > ?2 AND path < ?3)",
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY path LIMIT 1 OFFSET ?2",
    "SELECT name, type FROM vals WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
};

std::string JoinPath(const std::string& parent, const std::string& child) {
  return parent.empty() ? child : parent + "\\" + child;
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

}  // namespace

// A prepared statement in use: reset when the scope ends, so it is ready
// for the next call and holds no read snapshot.
class RegistryHive::Query {
 public:
  explicit Query(sqlite3_stmt* s) : s_(s) {}
  ~Query() {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
  }
  Query& Bind(int i, int64_t v) {
    sqlite3_bind_int64(s_, i, v);
    return *this;
  }
  Query& Bind(int i, const std::string& text) {
    sqlite3_bind_text(s_, i, text.data(), int(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Query& BindBlob(int i, const std::string& data) {
    sqlite3_bind_blob(s_, i, data.empty() ? "" : data.data(), int(data.size()), SQLITE_TRANSIENT);
    return *this;
  }
  int Step() { return sqlite3_step(s_) & 0xFF; }
  int64_t Int(int col) { return sqlite3_column_int64(s_, col); }
  std::string Text(int col) {
    const void* p = sqlite3_column_blob(s_, col);
    return p ? std::string(static_cast<const char*>(p), size_t(sqlite3_column_bytes(s_, col)))
             : std::string();
  }

 private:
  sqlite3_stmt* s_;
};

RegistryHive& RegistryHive::Machine() {
  // Never destroyed: workers still running at exit may read settings.
  static RegistryHive* hive =
      new RegistryHive(RegistryDirectory() + "/machine.db", {"SOFTWARE\\Classes"});
  return *hive;
}

RegistryHive& RegistryHive::User() {
  static RegistryHive* hive = new RegistryHive(RegistryDirectory() + "/user.db", {"Software"});
  return *hive;
}

RegistryHive::RegistryHive(std::string file, std::vector<std::string> defaultKeys)
    : file_(std::move(file)), defaultKeys_(std::move(defaultKeys)) {}

RegistryHive::~RegistryHive() {
  std::lock_guard lock(mutex_);
  Close();
}

std::string RegistryHive::Fold(const std::string& name) { return FoldCase(name); }

LONG RegistryHive::Ready() {
  if (broken_) {
    Close();
    return broken_;
  }
  if (db_ && pid_ == getpid()) return ERROR_SUCCESS;
  if (db_) {
    // A forked child must not use its parent's connection; it is dropped
    // without closing, which would touch the parent's locks.
    db_ = nullptr;
    for (sqlite3_stmt*& s : stmts_) s = nullptr;
  }
  LONG rc = Open();
  if (rc != ERROR_SUCCESS) Close();
  return rc;
}

LONG RegistryHive::Open() {
  auto cannotOpen = [&](const std::string& why) {
    if (!reportedOpenFailure_)
      DebugOutput("Registry: cannot open " + file_ + ": " + why + "\n");
    reportedOpenFailure_ = true;
    return ERROR_CANTOPEN;
  };
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(file_).parent_path(), ec);
  if (ec) return cannotOpen(ec.message());
  int rc = sqlite3_open_v2(file_.c_str(), &db_,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) return cannotOpen(db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
  pid_ = getpid();
  sqlite3_busy_timeout(db_, 10000);

  // Checked before anything could write to the file.
  sqlite3_stmt* check = nullptr;
  rc = sqlite3_prepare_v2(db_, "PRAGMA quick_check", -1, &check, nullptr);
  std::string verdict;
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(check);
    if (rc == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(check, 0);
      verdict = text ? reinterpret_cast<const char*>(text) : "";
      rc = SQLITE_OK;
    }
  }
  sqlite3_finalize(check);
  if ((rc & 0xFF) == SQLITE_NOTADB) {
    MarkBroken(ERROR_BADDB, "not a registry database");
    return broken_;
  }
  if ((rc & 0xFF) == SQLITE_CORRUPT || (rc == SQLITE_OK && verdict != "ok")) {
    MarkBroken(ERROR_REGISTRY_CORRUPT, "damaged (" + (verdict.empty() ? "corrupt" : verdict) + ")");
    return broken_;
  }
  if (rc != SQLITE_OK) return Fail(rc, false);

  rc = sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr,
                    nullptr);
  if (rc != SQLITE_OK) return Fail(rc, true);
  std::string schema = std::string("BEGIN IMMEDIATE;") + kSchema + "COMMIT;";
  rc = sqlite3_exec(db_, schema.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return Fail(rc, true);
  }
  for (int i = 0; i < kStmtCount; ++i) {
    rc = sqlite3_prepare_v3(db_, kStatements[i], -1, SQLITE_PREPARE_PERSISTENT, &stmts_[i], nullptr);
    if (rc != SQLITE_OK) return Fail(rc, false);
  }
  {
    Query q(stmts_[kFindKey]);
    q.Bind(1, std::string());
    if (q.Step() != SQLITE_ROW) return ERROR_REGISTRY_CORRUPT;
    rootId_ = q.Int(0);
  }
  for (const std::string& key : defaultKeys_) {
    int64_t id;
    std::string path;
    bool created;
    LONG err = InTransaction([&] { return CreateKeyLocked(rootId_, "", SplitPath(key), id, path, created); });
    if (err != ERROR_SUCCESS) return err;
  }
  reportedOpenFailure_ = false;
  return ERROR_SUCCESS;
}

void RegistryHive::Close() {
  for (sqlite3_stmt*& s : stmts_) {
    sqlite3_finalize(s);
    s = nullptr;
  }
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

void RegistryHive::MarkBroken(LONG code, const std::string& why) {
  broken_ = code;
  DebugOutput("Registry: " + file_ + " is " + why + "; it is left as it is and not used.\n");
  // Closed by the next Ready(): statements may still be in use now.
}

LONG RegistryHive::Fail(int rc, bool writing) {
  switch (rc & 0xFF) {
    case SQLITE_NOTADB:
      MarkBroken(ERROR_BADDB, "not a registry database");
      return broken_;
    case SQLITE_CORRUPT:
      MarkBroken(ERROR_REGISTRY_CORRUPT, "damaged");
      return broken_;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
  }
}

LONG RegistryHive::InTransaction(const std::function<LONG()>& body) {
  {
    Query begin(stmts_[kBegin]);
    int rc = begin.Step();
    if (rc != SQLITE_DONE) return Fail(rc, true);
  }
  LONG err = body();
  if (err == ERROR_SUCCESS) {
    Query commit(stmts_[kCommit]);
    int rc = commit.Step();
    if (rc == SQLITE_DONE) return ERROR_SUCCESS;
    err = Fail(rc, true);
  }
  if (db_ && !sqlite3_get_autocommit(db_)) {
    Query rollback(stmts_[kRollback]);
    rollback.Step();
  }
  return err;
}

LONG RegistryHive::CheckKeyLocked(int64_t id) {
  Query q(stmts_[kCheckKey]);
  q.Bind(1, id);
  int rc = q.Step();
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  return rc == SQLITE_DONE ? ERROR_KEY_DELETED : Fail(rc, false);
}

LONG RegistryHive::CreateKeyLocked(int64_t startId, const std::string& startPath,
                                   const std::vector<std::string>& names, int64_t& id,
                                   std::string& path, bool& created) {
  LONG err = CheckKeyLocked(startId);
  if (err != ERROR_SUCCESS) return err;
  id = startId;
  path = startPath;
  created = false;
  for (const std::string& name : names) {
    std::string child = JoinPath(path, Fold(name));
    Query find(stmts_[kFindKey]);
    find.Bind(1, child);
    int rc = find.Step();
    if (rc == SQLITE_ROW) {
      id = find.Int(0);
      created = false;
    } else if (rc == SQLITE_DONE) {
      Query insert(stmts_[kInsertKey]);
      insert.Bind(1, id).Bind(2, child).Bind(3, name);
      rc = insert.Step();
      if (rc != SQLITE_DONE) return Fail(rc, true);
      id = sqlite3_last_insert_rowid(db_);
      created = true;
    } else {
      return Fail(rc, false);
    }
    path = child;
  }
  return ERROR_SUCCESS;
}

LONG RegistryHive::RootId(int64_t& id) {
  std::lock_guard lock(mutex_);
  LONG err = Ready();
  if (err == ERROR_SUCCESS) id = rootId_;
  return err;
}

LONG RegistryHive::FindKey(const std::string& foldedPath, int64_t& id) {
  std::lock_guard lock(mutex_);
  LONG err = Ready();
  if (err != ERROR_SUCCESS) return err;
  Query q(stmts_[kFindKey]);
  q.Bind(1, foldedPath);
  int rc = q.Step();
  if (rc == SQLITE_ROW) {
    id = q.Int(0);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Fail(rc, false);
}

LONG RegistryHive::CheckKey(int64_t id) {
  std::lock_guard lock(mutex_);
  LONG err = Ready();
  return err != ERROR_SUCCESS ? err : CheckKeyLocked(id);
}

LONG RegistryHive::CreateKey(int64_t startId, const std::string& startPath,
                             const std::vector<std::string>& names, int64_t& id, std::string& path,
                             bool& created) {
  std::lock_guard lock(mutex_);
  LONG err = Ready();
  if (err != ERROR_SUCCESS) return err;
  return InTransaction([&] { return CreateKeyLocked(startId, startPath, names, id, path, created); });
}

LONG RegistryHive::DeleteKey(const std::string& path, bool subtree, bool keepKey) {
  std::lock_guard lock(mutex_);
  LONG err = Ready();
  if (err != ERROR_SUCCESS) return err;
  if (path.empty() && !keepKey) return ERROR_ACCESS_DENIED;  // a hive's root stays
  return InTransaction([&]() -> LONG {
    Query find(stmts_[kFindKey]);
    find.Bind(1, path);
    int rc = find.Step();
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Fail(rc, false);
    int64_t id = find.Int(0);
    if (!subtree) {
      Query sub(stmts_[kHasSubkeys]);
      sub.Bind(1, id);
      rc = sub.Step();
      if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
      if (rc != SQLITE_DONE) return Fail(rc, false);
    }
    if (keepKey) {
      Query values(stmts_[kDeleteValuesOf]);
      values.Bind(1, id);
      rc = values.Step();
      if (rc != SQLITE_DONE) return Fail(rc, true);
    }
    // Bounds that match no path when only the key itself goes.
    std::string low = subtree ? (path.empty() ? "" : path + "\\") : "";
    std::string high = subtree ? (path.empty() ? "\xFF" : path + "]") : "";
    for (Stmt s : {kDeleteTreeValues, kDeleteTreeKeys}) {
      Query del(stmts_[s]);
      if (!keepKey) del.Bind(1, path);  // unbound: NULL, matching nothing
      del.Bind(2, low).Bind(3, high);
      rc = del.Step();
      if (rc != SQLITE_DONE) return Fail(rc, true);
    }
    return ERROR_SUCCESS;
  });
}

LONG RegistryHive::GetValue(int64_t keyId, const std::string& foldedName, DWORD& type,
                            std::string& data) {
  std::lock_guard lock(mutex_);
  LONG err = Ready();
  if (err != ERROR_SUCCESS) return err;
  Query q(stmts_[kGetValue]);
  q.Bind(1, keyId).Bind(2, foldedName);
  int rc = q.Step();
  if (rc == SQLITE_ROW) {
    type = DWORD(q.Int(0));
    data = q.Text(1);
    return ERROR_SUCCESS;
  }
  if (rc != SQLITE_DONE) return Fail(rc, false);
  err = CheckKeyLocked(keyId);
  return err == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : err;
}

LONG RegistryHive::GetValueAt(const std::string& keyPath, const std::string& foldedName,
                              DWORD& type, std::string& data) {
  std::lock_guard lock(mutex_);
  LONG err = Ready();
  if (err != ERROR_SUCCESS) return err;
  Query q(stmts_[kGetValueAt]);
  q.Bind(1, keyPath).Bind(2, foldedName);
  int rc = q.Step();
  if (rc == SQLITE_ROW) {
    type = DWORD(q.Int(0));
    data = q.Text(1);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Fail(rc, false);
}

LONG RegistryHive::SetValue(int64_t keyId, const std::string& name, DWORD type,
                            const std::string& data) {
  std::lock_guard lock(mutex_);
  LONG err = Ready();
  if (err != ERROR_SUCCESS) return err;
  Query q(stmts_[kSetValue]);
  q.Bind(1, keyId).Bind(2, Fold(name)).Bind(3, name).Bind(4, int64_t(type)).BindBlob(5, data);
  int rc = q.Step();
  if (rc != SQLITE_DONE) return Fail(rc, true);
  return sqlite3_changes(db_) > 0 ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LONG RegistryHive::DeleteValue(int64_t keyId, const std::string& foldedName) {
  std::lock_guard lock(mutex_);
  LONG err = Ready();
  if (err != ERROR_SUCCESS) return err;
  Query q(stmts_[kDeleteValue]);
  q.Bind(1, keyId).Bind(2, foldedName);
  int rc = q.Step();
  if (rc != SQLITE_DONE) return Fail(rc, true);
  if (sqlite3_changes(db_) > 0) return ERROR_SUCCESS;
  err = CheckKeyLocked(keyId);
  return err == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : err;
}

LONG RegistryHive::EnumKey(int64_t keyId, DWORD index, std::string& name) {
  std::lock_guard lock(mutex_);
  LONG err = Ready();
  if (err != ERROR_SUCCESS) return err;
  Query q(stmts_[kEnumKey]);
  q.Bind(1, keyId).Bind(2, int64_t(index));
  int rc = q.Step();
  if (rc == SQLITE_ROW) {
    name = q.Text(0);
    return ERROR_SUCCESS;
  }
  if (rc != SQLITE_DONE) return Fail(rc, false);
  err = CheckKeyLocked(keyId);
  return err == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : err;
}

LONG RegistryHive::EnumValue(int64_t keyId, DWORD index, std::string& name, DWORD& type) {
  std::lock_guard lock(mutex_);
  LONG err = Ready();
  if (err != ERROR_SUCCESS) return err;
  Query q(stmts_[kEnumValue]);
  q.Bind(1, keyId).Bind(2, int64_t(index));
  int rc = q.Step();
  if (rc == SQLITE_ROW) {
    name = q.Text(0);
    type = DWORD(q.Int(1));
    return ERROR_SUCCESS;
  }
  if (rc != SQLITE_DONE) return Fail(rc, false);
  err = CheckKeyLocked(keyId);
  return err == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : err;
}
