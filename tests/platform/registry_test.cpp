#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "tests/support/debug_capture.h"

namespace {

const std::string kApp = "SOFTWARE\\Brixham\\AlarmServer";

std::vector<std::string> SubKeys(HKEY key) {
  std::vector<std::string> names;
  std::string name;
  for (DWORD i = 0; RegEnumKeyEx(key, i, name) == ERROR_SUCCESS; ++i) names.push_back(name);
  return names;
}

std::vector<std::string> ValueNames(HKEY key) {
  std::vector<std::string> names;
  std::string name;
  for (DWORD i = 0; RegEnumValue(key, i, name, nullptr) == ERROR_SUCCESS; ++i) names.push_back(name);
  return names;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Registry, NamesAreCaseInsensitiveAndKeepTheirCase) {
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kApp + "\\Settings", "PollRate", 500), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kApp + "\\Über", "Größe", "x"), ERROR_SUCCESS);

  DWORD rate = 0;
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, "software\\BRIXHAM\\alarmserver\\SETTINGS", "pollrate", rate),
            ERROR_SUCCESS);
  EXPECT_EQ(rate, 500u);
  std::string text;
  EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, kApp + "\\üBER", "GRÖSSE", text), ERROR_FILE_NOT_FOUND)
      << "ß has no simple upper case; it must not match SS";
  EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, kApp + "\\üBER", "GRÖßE", text), ERROR_SUCCESS);
  EXPECT_EQ(text, "x");

  // Writing through another spelling updates the same value and keeps its name.
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kApp + "\\settings", "POLLRATE", 750), ERROR_SUCCESS);
  HKEY key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kApp, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(key), (std::vector<std::string>{"Settings", "Über"}));
  HKEY settings;
  ASSERT_EQ(RegOpenKeyEx(key, "SETTINGS", KEY_READ, &settings), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(settings), std::vector<std::string>{"PollRate"});
  EXPECT_EQ(RegGetDword(settings, "", "PollRate", rate), ERROR_SUCCESS);
  EXPECT_EQ(rate, 750u);
  EXPECT_EQ(RegCloseKey(settings), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST(Registry, EnumeratesKeysByNameAndValuesInCreationOrder) {
  for (const char* name : {"delta", "Alpha", "charlie", "Bravo"})
    ASSERT_EQ(RegSetDword(HKEY_CURRENT_USER, std::string("Software\\Order\\") + name, "", 1), ERROR_SUCCESS);
  for (const char* name : {"zeta", "Eta", "", "theta"})
    ASSERT_EQ(RegSetString(HKEY_CURRENT_USER, "Software\\Order", name, "v"), ERROR_SUCCESS);
  HKEY key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Order", KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(key), (std::vector<std::string>{"Alpha", "Bravo", "charlie", "delta"}));
  EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"zeta", "Eta", "", "theta"}));
  std::string name;
  DWORD type = 0;
  EXPECT_EQ(RegEnumValue(key, 4, name, &type), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumValue(key, 0, name, &type), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  RegCloseKey(key);
}

TEST(Registry, QueryValueReportsTheNeededSize) {
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kApp, "Vendor", "Brixham"), ERROR_SUCCESS);
  HKEY key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kApp, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);

  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueEx(key, "vendor", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 8u);  // with the terminating NUL

  BYTE small[4];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueEx(key, "Vendor", &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 8u);

  BYTE exact[8];
  size = sizeof exact;
  ASSERT_EQ(RegQueryValueEx(key, "Vendor", &type, exact, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(std::memcmp(exact, "Brixham", 8), 0);
  EXPECT_EQ(RegQueryValueEx(key, "Vendor", &type, exact, nullptr), ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST(Registry, MultiStringsRoundTrip) {
  const std::vector<std::string> list{"Alpha", "B", "Größe"};
  ASSERT_EQ(RegSetMultiString(HKEY_LOCAL_MACHINE, kApp, "Servers", list), ERROR_SUCCESS);
  std::vector<std::string> back;
  ASSERT_EQ(RegGetMultiString(HKEY_LOCAL_MACHINE, kApp, "SERVERS", back), ERROR_SUCCESS);
  EXPECT_EQ(back, list);

  HKEY key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kApp, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  const std::string windowsForm("Alpha\0B\0Größe\0\0", 17);
  std::string buffer(64, 'x');
  DWORD type = 0, size = DWORD(buffer.size());
  ASSERT_EQ(RegQueryValueEx(key, "Servers", &type, reinterpret_cast<BYTE*>(buffer.data()), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_MULTI_SZ);
  EXPECT_EQ(buffer.substr(0, size), windowsForm);

  // Raw writes without the closing NUL, and the empty list.
  const char raw[] = {'x', '\0', 'y', 'z'};
  ASSERT_EQ(RegSetValueEx(key, "Raw", REG_MULTI_SZ, reinterpret_cast<const BYTE*>(raw), 4), ERROR_SUCCESS);
  ASSERT_EQ(RegGetMultiString(key, "", "Raw", back), ERROR_SUCCESS);
  EXPECT_EQ(back, (std::vector<std::string>{"x", "yz"}));
  ASSERT_EQ(RegSetMultiString(key, "", "Empty", {}), ERROR_SUCCESS);
  ASSERT_EQ(RegGetMultiString(key, "", "Empty", back), ERROR_SUCCESS);
  EXPECT_TRUE(back.empty());
  EXPECT_EQ(RegSetMultiString(key, "", "Hole", {"a", "", "b"}), ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

// The Session Manager's pending renames are pairs with an empty second
// string for a deletion: a multi-string keeps every empty string inside
// it, while list readers still stop at the first.
TEST(Registry, MultiStringsKeepEmptyStringsInside) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kApp, KEY_ALL_ACCESS, &key, nullptr), ERROR_SUCCESS);
  auto roundTrip = [&](const std::string& written) {
    EXPECT_EQ(RegSetValueEx(key, "Pairs", REG_MULTI_SZ, reinterpret_cast<const BYTE*>(written.data()),
                            DWORD(written.size())),
              ERROR_SUCCESS);
    std::string buffer(64, 'x');
    DWORD size = DWORD(buffer.size());
    EXPECT_EQ(RegQueryValueEx(key, "Pairs", nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size),
              ERROR_SUCCESS);
    return buffer.substr(0, size);
  };
  const std::string pairs("a\0\0b\0c\0d\0\0\0", 11);  // (a, ""), (b, c), (d, "")
  EXPECT_EQ(roundTrip(pairs), pairs);
  // Without the closing NUL, or without any terminator at all.
  EXPECT_EQ(roundTrip(std::string("a\0\0b\0", 5)), std::string("a\0\0b\0\0", 6));
  EXPECT_EQ(roundTrip(std::string("a\0\0b", 4)), std::string("a\0\0b\0\0", 6));
  EXPECT_EQ(roundTrip(std::string(1, '\0')), std::string(2, '\0'));

  roundTrip(pairs);
  std::vector<std::string> list;
  ASSERT_EQ(RegGetMultiString(key, "", "Pairs", list), ERROR_SUCCESS);
  EXPECT_EQ(list, std::vector<std::string>{"a"});
  RegCloseKey(key);
}

TEST(Registry, ValuesKeepTheirTypes) {
  ASSERT_EQ(RegSetBinary(HKEY_LOCAL_MACHINE, kApp, "Blob", {0, 1, 0xFF}), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kApp, "Path", "%HOME%/x", REG_EXPAND_SZ), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kApp, "", "the default"), ERROR_SUCCESS);

  std::vector<BYTE> blob;
  EXPECT_EQ(RegGetBinary(HKEY_LOCAL_MACHINE, kApp, "Blob", blob), ERROR_SUCCESS);
  EXPECT_EQ(blob, (std::vector<BYTE>{0, 1, 0xFF}));
  std::string text;
  EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, kApp, "Path", text), ERROR_SUCCESS);
  EXPECT_EQ(text, "%HOME%/x");  // not expanded
  EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, kApp, "", text), ERROR_SUCCESS);
  EXPECT_EQ(text, "the default");

  DWORD dword = 42;
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, kApp, "Path", dword), ERROR_UNSUPPORTED_TYPE);
  EXPECT_EQ(dword, 42u);
  EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, kApp, "Blob", text), ERROR_UNSUPPORTED_TYPE);
  std::vector<std::string> list;
  EXPECT_EQ(RegGetMultiString(HKEY_LOCAL_MACHINE, kApp, "Path", list), ERROR_UNSUPPORTED_TYPE);

  HKEY key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kApp, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  const BYTE two[2] = {1, 2};
  EXPECT_EQ(RegSetValueEx(key, "Short", REG_DWORD, two, 2), ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST(Registry, MissingThingsAnswerWindowsCodes) {
  DWORD dword;
  std::string text;
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nowhere", "x", dword), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kApp, "Here", 1), ERROR_SUCCESS);
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, kApp, "Elsewhere", dword), ERROR_FILE_NOT_FOUND);

  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nowhere", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nowhere"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nowhere"), ERROR_FILE_NOT_FOUND);

  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kApp, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValue(key, "Elsewhere"), ERROR_FILE_NOT_FOUND);
  std::string name;
  EXPECT_EQ(RegEnumKeyEx(key, 0, name), ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);

  HKEY bogus = reinterpret_cast<HKEY>(uintptr_t{0x1234});
  EXPECT_EQ(RegQueryValueEx(bogus, "x", nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyEx(bogus, "x", KEY_READ, &key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegGetDword(bogus, "", "x", dword), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, std::string(300, 'k'), KEY_READ, &key), ERROR_INVALID_PARAMETER);
}

TEST(Registry, KeyOpenedForReadingRefusesWrites) {
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kApp, "Rate", 5), ERROR_SUCCESS);
  HKEY key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kApp, KEY_READ, &key), ERROR_SUCCESS);
  DWORD v = 6;
  EXPECT_EQ(RegSetValueEx(key, "Rate", REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValue(key, "Rate"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegSetDword(key, "", "Rate", 7), ERROR_ACCESS_DENIED);
  HKEY child;
  EXPECT_EQ(RegCreateKeyEx(key, "NewChild", KEY_ALL_ACCESS, &child, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteTree(key, ""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegGetDword(key, "", "Rate", v), ERROR_SUCCESS);
  EXPECT_EQ(v, 5u);
  RegCloseKey(key);

  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kApp, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueEx(key, "Rate", nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  RegCloseKey(key);
}

TEST(Registry, DeletesKeysAndSubtrees) {
  for (const char* k : {"\\Plant\\Area1\\Unit1", "\\Plant\\Area1\\Unit2", "\\Plant\\Area10", "\\Plant2"})
    ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kApp + k, "v", 1), ERROR_SUCCESS);

  DWORD disposition = 0;
  HKEY key;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kApp + "\\Plant", KEY_ALL_ACCESS, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(RegDeleteKey(key, "Area1"), ERROR_ACCESS_DENIED) << "a key with subkeys stays";
  EXPECT_EQ(RegDeleteKey(key, "area1\\unit2"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTree(key, "AREA1"), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(key), std::vector<std::string>{"Area10"}) << "a sibling sharing the prefix stays";

  DWORD v;
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, kApp + "\\Plant\\Area1\\Unit1", "v", v), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, kApp + "\\Plant2", "v", v), ERROR_SUCCESS);

  // A tree emptied in place keeps its key.
  ASSERT_EQ(RegSetDword(key, "", "own", 3), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTree(key, ""), ERROR_SUCCESS);
  EXPECT_TRUE(SubKeys(key).empty());
  EXPECT_TRUE(ValueNames(key).empty());
  EXPECT_EQ(RegSetDword(key, "", "again", 4), ERROR_SUCCESS);

  // Recreating a key makes a new one: old handles do not follow it.
  ASSERT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, kApp + "\\Plant"), ERROR_SUCCESS);
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kApp + "\\Plant", KEY_ALL_ACCESS, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
  HKEY fresh;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kApp + "\\Plant", KEY_ALL_ACCESS, &fresh, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_EQ(RegSetDword(key, "", "x", 1), ERROR_KEY_DELETED);
  EXPECT_EQ(RegQueryValueEx(key, "again", nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  std::string name;
  EXPECT_EQ(RegEnumKeyEx(key, 0, name), ERROR_KEY_DELETED);
  HKEY again;
  EXPECT_EQ(RegOpenKeyEx(key, "", KEY_READ, &again), ERROR_KEY_DELETED);
  RegCloseKey(key);
  RegCloseKey(fresh);

  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
}

TEST(Registry, ClassesRootIsTheMachineClassesKey) {
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Brixham.Test\\CLSID", "", "{guid}"), ERROR_SUCCESS);
  std::string text;
  EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, "Software\\Classes\\brixham.test\\clsid", "", text), ERROR_SUCCESS);
  EXPECT_EQ(text, "{guid}");

  // Even after the classes key is gone, creating below HKCR brings it back.
  ASSERT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"), ERROR_SUCCESS);
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, "Brixham.Test\\CLSID", "", text), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Other", "", "o"), ERROR_SUCCESS);
  EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\Other", "", text), ERROR_SUCCESS);
}

TEST(Registry, StoreLivesInTheRegistryDirectory) {
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kApp, "m", 1), ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(HKEY_CURRENT_USER, "Software\\X", "u", 1), ERROR_SUCCESS);
  EXPECT_EQ(RegistryDirectory(), getenv("AE_REGISTRY_DIR"));
  EXPECT_TRUE(std::filesystem::exists(RegistryDirectory() + "/machine.db"));
  EXPECT_TRUE(std::filesystem::exists(RegistryDirectory() + "/user.db"));
  DWORD v;
  EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, kApp, "m", v), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, WithoutRegistryDirectoryUsesXdgDataHome) {
  unsetenv("AE_REGISTRY_DIR");  // read once, at first use
  ASSERT_EQ(RegSetDword(HKEY_CURRENT_USER, "Software\\X", "u", 1), ERROR_SUCCESS);
  std::string expected = std::string(getenv("XDG_DATA_HOME")) + "/aeserver/registry";
  EXPECT_EQ(RegistryDirectory(), expected);
  EXPECT_TRUE(std::filesystem::exists(expected + "/user.db"));
}

TEST(Registry, ProcessesWritingAtOnceLoseNothing) {
  // The parent uses the store first, so the children also show that a
  // forked process does not share its parent's connection.
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kApp, "parent", 1), ERROR_SUCCESS);
  constexpr int kChildren = 3, kWrites = 150;
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int i = 0; i < kWrites; ++i) {
        std::string key = kApp + "\\Shared\\K" + std::to_string(i % 7);
        failures += RegSetDword(HKEY_LOCAL_MACHINE, key, "c" + std::to_string(c) + "_" + std::to_string(i),
                                DWORD(i)) != ERROR_SUCCESS;
        if (i % 50 == 0) failures += RegDeleteTree(HKEY_LOCAL_MACHINE, kApp + "\\Scratch" + std::to_string(c)) > 2;
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  int total = 0;
  for (int k = 0; k < 7; ++k) {
    HKEY key;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kApp + "\\Shared\\K" + std::to_string(k), KEY_READ, &key),
              ERROR_SUCCESS);
    total += int(ValueNames(key).size());
    RegCloseKey(key);
  }
  EXPECT_EQ(total, kChildren * kWrites);
  DWORD v = 0;
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, kApp + "\\Shared\\K3", "c2_143", v), ERROR_SUCCESS);
  EXPECT_EQ(v, 143u);
}

TEST(Registry, ThreadsShareTheStore) {
  constexpr int kThreads = 4, kRounds = 100;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string key = kApp + "\\Thread" + std::to_string(t);
      for (int i = 0; i < kRounds; ++i) {
        DWORD v = 0;
        HKEY handle;
        failures += RegSetDword(HKEY_LOCAL_MACHINE, key, "v" + std::to_string(i), DWORD(i)) != ERROR_SUCCESS;
        failures += RegGetDword(HKEY_LOCAL_MACHINE, key, "v" + std::to_string(i), v) != ERROR_SUCCESS || v != DWORD(i);
        failures += RegOpenKeyEx(HKEY_LOCAL_MACHINE, kApp, KEY_READ, &handle) != ERROR_SUCCESS;
        SubKeys(handle);
        RegCloseKey(handle);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  HKEY key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kApp + "\\Thread3", KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(key).size(), size_t(kRounds));
  RegCloseKey(key);
}

TEST(Registry, FileThatIsNoDatabaseIsReportedAndLeftAlone) {
  const std::string file = RegistryDirectory() + "/machine.db";
  std::filesystem::create_directories(RegistryDirectory());
  const std::string junk = "this is not a database, and it must survive\n" + std::string(4000, 'j');
  std::ofstream(file, std::ios::binary) << junk;

  ScopedDebugCapture capture;
  DWORD v;
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, kApp, "x", v), ERROR_BADDB);
  EXPECT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kApp, "x", 1), ERROR_BADDB);
  EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "Anything"), ERROR_BADDB);
  EXPECT_TRUE(capture.Contains(file));
  EXPECT_EQ(capture.Lines().size(), 1u) << "reported once";
  EXPECT_EQ(ReadFile(file), junk);
  EXPECT_FALSE(std::filesystem::exists(file + "-wal"));

  // The other hive is unaffected.
  EXPECT_EQ(RegSetDword(HKEY_CURRENT_USER, "Software\\X", "x", 1), ERROR_SUCCESS);
}

TEST(Registry, DamagedDatabaseIsReportedAndLeftAlone) {
  const std::string file = RegistryDirectory() + "/user.db";
  std::filesystem::create_directories(RegistryDirectory());
  {
    // A valid database with a table spread over several pages...
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE t(x TEXT);"
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400)"
                           "INSERT INTO t SELECT printf('%0200d', i) FROM n;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  // ...whose table root page gets scribbled over.
  std::string bytes = ReadFile(file);
  ASSERT_GT(bytes.size(), 3 * 4096u);
  std::memset(bytes.data() + 4096, 0x5A, 64);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;

  ScopedDebugCapture capture;
  std::string text;
  EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "Software", "x", text), ERROR_REGISTRY_CORRUPT);
  HKEY key;
  EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\New", KEY_ALL_ACCESS, &key, nullptr),
            ERROR_REGISTRY_CORRUPT);
  EXPECT_TRUE(capture.Contains(file));
  EXPECT_EQ(ReadFile(file), bytes);
}

}  // namespace
