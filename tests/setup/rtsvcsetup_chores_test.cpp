// librtsvcsetup's small chores: the rights test, the INI clean-up and the
// file replacement at the next boot.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/move_file.h"
#include "rtsvcsetup_fixture.h"

namespace {

class Chores : public RuntimeSetup {
 protected:
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string dir_ = std::filesystem::temp_directory_path().string();
};

TEST_F(Chores, TheBoolExportsAnswerBothWays) {
  int32_t answer = -1;
  void* block[] = {&answer};
  EXPECT_EQ(hasAdmin(block), 1u);  // the tests own their store
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(isService(block), 0u);
  EXPECT_EQ(answer, 0);
  ASSERT_EQ(InstallTestService("BrannockRuntime"), 0u);
  EXPECT_EQ(isService(block), 1u);
  EXPECT_EQ(answer, 1);
  void* empty[] = {nullptr};
  EXPECT_EQ(isService(empty), 0u);
  EXPECT_EQ(hasAdmin(nullptr), 0u);
}

TEST_F(Chores, CleanUpDeletesTheOldProtocolsAndKeepsTheRest) {
  const std::string ini = dir_ + "/calder.ini";
  std::ofstream(ini) << "; written by the programming software\n"
                        "[Drivers]\n"
                        "Simulated I/O=sim.drv\n"
                        "Modbus=mb.drv\n"
                        "Modbus=mb2.drv\n"
                        "[PROTOCOLS]\n"
                        "Serial=1\n"
                        "[ImportFilters]\n"
                        "; the filters\n"
                        "quillan tessmark=qt.flt\n"
                        "Other Filter=of.flt\n"
                        "[General]\n"
                        "KeyOnly\n";
  void* block[] = {const_cast<char*>(ini.c_str())};
  EXPECT_EQ(cleanUp(block), 0u);
  // Rewritten with blank lines of its own between the sections; a
  // comment goes with the key it stood before.
  std::string text = Read(ini);
  std::erase(text, '\r');
  while (text.find("\n\n") != std::string::npos) text.replace(text.find("\n\n"), 2, "\n");
  EXPECT_EQ(text, "; written by the programming software\n"
                  "[Drivers]\n"
                  "Modbus=mb.drv\n"
                  "Modbus=mb2.drv\n"
                  "[ImportFilters]\n"
                  "Other Filter=of.flt\n"
                  "[General]\n"
                  "KeyOnly\n");
  // Nothing left to delete: the file stays as it is; a missing file stays missing.
  const std::string kept = dir_ + "/kept.ini";
  std::ofstream(kept) << "[drivers]\nModbus = mb.drv\n";
  void* keptBlock[] = {const_cast<char*>(kept.c_str())};
  EXPECT_EQ(cleanUp(keptBlock), 0u);
  EXPECT_EQ(Read(kept), "[drivers]\nModbus = mb.drv\n");
  const std::string missing = dir_ + "/missing.ini";
  void* missingBlock[] = {const_cast<char*>(missing.c_str())};
  EXPECT_EQ(cleanUp(missingBlock), 0u);
  EXPECT_FALSE(std::filesystem::exists(missing));
  void* noPath[] = {nullptr};
  EXPECT_EQ(cleanUp(noPath), 0u);
}

TEST_F(Chores, ReplaceAtRebootDeletesTheTargetThenMovesTheNewFile) {
  const std::string fresh = dir_ + "/runtime.new", target = dir_ + "/runtime";
  std::ofstream(fresh) << "new";
  std::ofstream(target) << "old";
  uint32_t error = 0xDEADBEEF;
  void* block[] = {const_cast<char*>(fresh.c_str()), const_cast<char*>(target.c_str()), &error};
  EXPECT_EQ(replaceAtReboot(block), 0u);
  EXPECT_EQ(error, 0u);
  const std::string pending = "\\??\\" + target + std::string(1, '\0') + std::string(1, '\0') + "\\??\\" + fresh +
                              std::string(1, '\0') + "\\??\\" + target + std::string(2, '\0');
  EXPECT_EQ(KeyValues(kSessionManagerKey)[kPendingFileRenameOperations], (StoredValue{REG_MULTI_SZ, pending}));
  EXPECT_EQ(Read(target), "old");
  ASSERT_EQ(ProcessPendingFileRenames(), ERROR_SUCCESS);
  EXPECT_EQ(Read(target), "new");
  EXPECT_FALSE(std::filesystem::exists(fresh));

  // No target: there is nothing to delete, and that fails first.
  void* noTarget[] = {const_cast<char*>(fresh.c_str()), const_cast<char*>(""), &error};
  EXPECT_EQ(replaceAtReboot(noTarget), uint32_t(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(error, uint32_t(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(KeyExists(std::string(kSessionManagerKey)) &&
               KeyValues(kSessionManagerKey).count(kPendingFileRenameOperations));
}

}  // namespace
