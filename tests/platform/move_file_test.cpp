// MoveFileEx now and at the next boot: the pending operations in the
// Session Manager's value, and what a boot makes of them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/debug_capture.h"
#include "platform/move_file.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;

class MoveFile : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path().string() + "/files";
    fs::create_directories(dir_);
  }
  std::string Make(const std::string& name, const std::string& content) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path) << content;
    return path;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The pending operations, every string of the value, empty ones included.
  static std::vector<std::string> Pending() {
    HKEY key;
    std::vector<std::string> out;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kSessionManagerKey, KEY_READ, &key) != ERROR_SUCCESS) return out;
    std::string data(4096, '\0');
    DWORD type = 0, size = DWORD(data.size());
    LONG err = RegQueryValueEx(key, kPendingFileRenameOperations, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    if (err != ERROR_SUCCESS) return out;
    EXPECT_EQ(type, REG_MULTI_SZ);
    data.resize(size);
    EXPECT_TRUE(data.ends_with(std::string("\0\0", 2)));
    data.pop_back();
    for (size_t pos = 0; pos < data.size(); pos = data.find('\0', pos) + 1) out.push_back(data.c_str() + pos);
    return out;
  }

  std::string dir_;
};

TEST_F(MoveFile, DelayedOperationsWaitForTheBootInTheWindowsLayout) {
  std::string old = Make("old.dll", "old"), fresh = Make("new.dll", "new"), other = Make("other", "x");
  ASSERT_TRUE(MoveFileEx(old.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(MoveFileEx(fresh.c_str(), old.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(MoveFileEx(other.c_str(), (dir_ + "/sub/../kept").c_str(),
                         MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(Pending(), (std::vector<std::string>{"\\??\\" + old, "", "\\??\\" + fresh, "\\??\\" + old,
                                                 "\\??\\" + other, "!\\??\\" + dir_ + "/kept"}));
  EXPECT_EQ(Read(old), "old");  // nothing happens before the boot
  EXPECT_EQ(Read(fresh), "new");

  ASSERT_EQ(ProcessPendingFileRenames(), ERROR_SUCCESS);
  EXPECT_EQ(Read(old), "new");
  EXPECT_FALSE(fs::exists(fresh));
  EXPECT_EQ(Read(dir_ + "/kept"), "x");
  HKEY key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kSessionManagerKey, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueEx(key, kPendingFileRenameOperations, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(MoveFile, RelativePathsAreRecordedInFullAndEarlierEntriesStay) {
  // A deletion that someone recorded before: a pair with an empty target.
  const std::string earlier("\\??\\/var/tmp/stale\0\0\0", 21);
  HKEY key;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kSessionManagerKey, KEY_ALL_ACCESS, &key, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(key, kPendingFileRenameOperations, REG_MULTI_SZ,
                          reinterpret_cast<const BYTE*>(earlier.data()), DWORD(earlier.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
  fs::path before = fs::current_path();
  fs::current_path(dir_);
  EXPECT_TRUE(MoveFileEx("a.txt", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  fs::current_path(before);
  EXPECT_EQ(Pending(), (std::vector<std::string>{"\\??\\/var/tmp/stale", "", "\\??\\" + dir_ + "/a.txt", ""}));
}

TEST_F(MoveFile, ABootDropsWhatFailsAndReportsIt) {
  std::string source = Make("source", "s"), target = Make("target", "t");
  ASSERT_TRUE(MoveFileEx(source.c_str(), target.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(MoveFileEx((dir_ + "/missing").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  ScopedDebugCapture debug;
  ASSERT_EQ(ProcessPendingFileRenames(), ERROR_SUCCESS);
  EXPECT_EQ(Read(target), "t");  // not replaced: recorded without "!"
  EXPECT_EQ(Read(source), "s");
  ASSERT_EQ(debug.Lines().size(), 2u);
  EXPECT_EQ(debug.Lines()[0], "PendingFileRenameOperations: \\??\\" + source + " -> \\??\\" + target +
                                  ": Cannot create a file when that file already exists.");
  EXPECT_TRUE(debug.Contains("The system cannot find the file specified."));
  EXPECT_TRUE(Pending().empty());
  EXPECT_EQ(ProcessPendingFileRenames(), ERROR_SUCCESS);  // nothing pending: nothing to do
}

TEST_F(MoveFile, BadRequestsAndImmediateMoves) {
  std::string a = Make("a", "a"), b = Make("b", "b");
  EXPECT_FALSE(MoveFileEx(a.c_str(), b.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_COPY_ALLOWED));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(MoveFileEx(nullptr, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(MoveFileEx(a.c_str(), nullptr, 0));  // deleting needs the boot
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(Pending().empty());

  EXPECT_FALSE(MoveFileEx(a.c_str(), b.c_str(), 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(Read(b), "b");
  EXPECT_TRUE(MoveFileEx(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(Read(b), "a");
  EXPECT_FALSE(fs::exists(a));
  EXPECT_TRUE(MoveFileEx(b.c_str(), a.c_str(), 0));
  EXPECT_EQ(Read(a), "a");
  EXPECT_FALSE(MoveFileEx(b.c_str(), a.c_str(), 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

}  // namespace
