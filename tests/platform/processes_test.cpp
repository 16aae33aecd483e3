// Process enumeration with the Win32 contract, and process identities.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <vector>

#include "platform/process_identity.h"
#include "platform/processes.h"

namespace {

std::vector<DWORD> AllProcesses() {
  std::vector<DWORD> ids(64);
  DWORD bytes = 0;
  for (;;) {
    EXPECT_TRUE(EnumProcesses(ids.data(), DWORD(ids.size() * sizeof(DWORD)), &bytes));
    if (bytes < ids.size() * sizeof(DWORD)) break;
    ids.resize(ids.size() * 2);
  }
  ids.resize(bytes / sizeof(DWORD));
  return ids;
}

std::string BaseNameOf(DWORD pid, DWORD size = MAX_PATH) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, false, pid);
  if (!process) return "error " + std::to_string(GetLastError());
  HMODULE module = nullptr;
  DWORD needed = 0;
  std::string name(size, '\0');
  EXPECT_TRUE(EnumProcessModules(process, &module, sizeof module, &needed));
  EXPECT_EQ(needed, sizeof(HMODULE));
  DWORD length = GetModuleBaseName(process, module, name.data(), size);
  CloseHandle(process);
  return name.substr(0, length);
}

TEST(Processes, EnumerationFillsTheCallersBuffer) {
  std::vector<DWORD> all = AllProcesses();
  EXPECT_NE(std::find(all.begin(), all.end(), DWORD(getpid())), all.end());
  EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
  // A full buffer says so: the bytes returned are all it had.
  DWORD one = 0, bytes = 0;
  ASSERT_TRUE(EnumProcesses(&one, sizeof one, &bytes));
  EXPECT_EQ(bytes, sizeof one);
  EXPECT_EQ(one, all[0]);
  ASSERT_TRUE(EnumProcesses(nullptr, 0, &bytes));
  EXPECT_EQ(bytes, 0u);
  EXPECT_FALSE(EnumProcesses(&one, sizeof one, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(Processes, TheFirstModuleNamesTheProgram) {
  const std::string self = ::testing::internal::GetArgvs()[0];
  const std::string base = self.substr(self.rfind('/') + 1);
  EXPECT_EQ(BaseNameOf(DWORD(getpid())), base);
  EXPECT_EQ(BaseNameOf(DWORD(getpid()), 5), base.substr(0, 4));  // cut, and terminated

  HANDLE limited = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, false, DWORD(getpid()));
  ASSERT_NE(limited, nullptr);
  HMODULE module;
  DWORD needed;
  EXPECT_FALSE(EnumProcessModules(limited, &module, sizeof module, &needed));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(CloseHandle(limited));
  EXPECT_FALSE(CloseHandle(limited));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));

  EXPECT_EQ(OpenProcess(PROCESS_QUERY_INFORMATION, false, 0), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  std::vector<DWORD> all = AllProcesses();
  // Well past the newest process: the kernel hands out the numbers right
  // after it next, to whatever a parallel test starts meanwhile.
  DWORD unused = *std::max_element(all.begin(), all.end()) + 1000;
  while (std::find(all.begin(), all.end(), unused) != all.end()) ++unused;
  EXPECT_EQ(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, false, unused), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

// A process that has ended but is not reaped yet is no running program and
// has no identity; its ID may come back, but not its identity.
TEST(Processes, AnEndedProcessIsNoLongerThere) {
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  std::string identity;
  for (int i = 0; i < 500 && !(identity = ProcessIdentity(child)).empty(); ++i) usleep(2000);
  EXPECT_EQ(identity, "");
  EXPECT_EQ(ProcessAgeMs(child), 0u);
  EXPECT_EQ(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, false, DWORD(child)), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  waitpid(child, nullptr, 0);

  const std::string self = ProcessIdentity(getpid());
  EXPECT_FALSE(self.empty());
  EXPECT_EQ(ProcessIdentity(getpid()), self);
  EXPECT_FALSE(SignalProcess(getpid(), self + "1", SIGTERM));  // another process's identity: nothing sent
  EXPECT_TRUE(SignalProcess(getpid(), self, 0));
}

}  // namespace
