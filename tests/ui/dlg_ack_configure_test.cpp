// The log configuration dialog: its form and what it opens with, the
// same-directory test (names, symbolic links, a bind mount where the
// machine allows one), and OK's questions and refusals; Cancel stores
// nothing.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>

#include <filesystem>
#include <string>
#include <vector>

#include "ack_log_test_support.h"
#include "acklog/ack_log_settings.h"
#include "platform/registry.h"
#include "ui/dialog_result.h"
#include "ui/dlg_ack_configure.h"

namespace {

using Configure = CDlgAckConfigure;

class ConfigureTest : public AckLogUiTest {
 protected:
  QLineEdit& Edit(Configure& d, int id) { return *d.Control<QLineEdit>(id); }
  // Enters the two texts and presses OK; true when the dialog ended.
  bool Enter(Configure& d, const std::string& local, const std::string& remote) {
    Edit(d, Configure::kLocalEdit).setText(QString::fromStdString(local));
    Edit(d, Configure::kRemoteEdit).setText(QString::fromStdString(remote));
    d.Control<QPushButton>(IDOK)->click();
    return !d.isVisible();
  }
};

TEST_F(ConfigureTest, OpensWithTheStoredFoldersAsItsTemplateLaysItOut) {
  Configure dialog(nullptr);
  RunModal(dialog, [&] {
    ExpectLaidOutAsTemplate(dialog, 1002);
    EXPECT_EQ(Edit(dialog, 1008).text().toStdString(), local_);
    EXPECT_EQ(Edit(dialog, 1005).text().toStdString(), remote_);
    SaveScreenshot(dialog, "dialog_1002");
    dialog.EndDialog(IDCANCEL);
  });
  // Nothing stored: the default local folder, no remote one.
  ASSERT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillan"), ERROR_SUCCESS);
  Configure defaults(nullptr);
  RunModal(defaults, [&] {
    EXPECT_EQ(Edit(defaults, 1008).text().toStdString(), DefaultLocalPath());
    EXPECT_EQ(Edit(defaults, 1005).text().toStdString(), "");
    defaults.EndDialog(IDCANCEL);
  });
}

TEST_F(ConfigureTest, NamesOfOneDirectoryAreTheSameDirectory) {
  namespace fs = std::filesystem;
  const std::string a = local_ + "/logs";
  fs::create_directories(a + "/sub");
  fs::create_directories(local_ + "/Logs");
  fs::create_symlink(a, local_ + "/link");
  fs::create_directory_symlink("logs", local_ + "/relative-link");
  const std::string cwd = fs::current_path().string();
  fs::current_path(local_);
  struct Case {
    std::string first, second;
    bool same;
  };
  const std::vector<Case> cases = {
      {a, a, true},
      {a, a + "/", true},
      {a, local_ + "//logs//", true},
      {a, local_ + "/./logs/sub/..", true},
      {a, local_ + "/link", true},
      {a, local_ + "/relative-link/", true},
      {a, "logs", true},
      {a, local_ + "/Logs", false},        // another directory that differs in case
      {a, local_ + "/LOGS", false},        // no such directory: the names differ
      {a + "/gone", a + "//gone/", true},  // neither exists: the names agree
      {a + "/gone", local_ + "/link/gone", true},
      {a + "/gone", a + "/Gone", false},
      {a, a + "/sub", false},
      {a, "", false},
      {"", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Configure::SameDirectory(c.first, c.second), c.same) << c.first << " | " << c.second;
    EXPECT_EQ(Configure::SameDirectory(c.second, c.first), c.same) << c.second << " | " << c.first;
  }
  fs::current_path(cwd);
}

// A directory and a bind mount of it, in a mount namespace of a child
// process of our own (a user namespace lends it the right to mount).
TEST(SameDirectoryTest, ABindMountIsTheDirectoryItShows) {
  const std::string root = std::filesystem::temp_directory_path().string() + "/bind";
  const std::string source = root + "/share", target = root + "/mapped";
  std::filesystem::create_directories(source);
  std::filesystem::create_directories(target);
  enum : int { kSame = 0, kDifferent = 1, kCannotMount = 77 };
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      _exit(kCannotMount);
    }
    bool ok = Configure::SameDirectory(source, target) && Configure::SameDirectory(source + "/", target + "//") &&
              !Configure::SameDirectory(root, target);
    _exit(ok ? kSame : kDifferent);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kCannotMount) GTEST_SKIP() << "this machine allows no bind mount here";
  EXPECT_EQ(WEXITSTATUS(status), kSame);
  EXPECT_FALSE(Configure::SameDirectory(source, target)) << "without the mount, two directories";
}

TEST_F(ConfigureTest, StoresTwoDifferentFoldersTrimmed) {
  const std::string remote = remote_ + "/daily";
  std::filesystem::create_directories(remote);
  Configure dialog(nullptr);
  EXPECT_EQ(RunModal(dialog, [&] { EXPECT_TRUE(Enter(dialog, "  " + local_ + "\t", " " + remote + " ")); }), IDOK);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(GetLocalPath(), local_);
  EXPECT_EQ(GetRemotePath(), remote);
}

TEST_F(ConfigureTest, TheSameFolderTwiceIsRefusedAndNothingStored) {
  std::filesystem::create_symlink(local_, remote_ + "/to-local");
  Configure dialog(nullptr);
  RunModal(dialog, [&] {
    for (const std::string& remote : {local_, local_ + "/", local_ + "//", remote_ + "/to-local"}) {
      EXPECT_FALSE(Enter(dialog, local_, remote)) << remote;
    }
    dialog.EndDialog(IDCANCEL);
  });
  ASSERT_EQ(boxes_.size(), 4u);
  for (const CMessageBox::Request& box : boxes_) {
    EXPECT_EQ(box.caption.toStdString(), "Invalid Directory");
    EXPECT_EQ(box.text.toStdString(), "The Local and Remote Paths must be set to different values.");
    EXPECT_EQ(box.buttons, CMessageBox::Buttons::Ok);
  }
  EXPECT_EQ(GetRemotePath(), remote_);
}

TEST_F(ConfigureTest, AMissingFolderIsQuestionedAndKeptAfterOK) {
  const std::string missingLocal = local_ + "/new", missingRemote = remote_ + "/new";
  Configure dialog(nullptr);
  // Cancel at the local question; then OK to it and Cancel at the remote
  // one; then OK to both.
  answers_ = {IDCANCEL, IDOK, IDCANCEL, IDOK, IDOK};
  EXPECT_EQ(RunModal(dialog,
                     [&] {
                       EXPECT_FALSE(Enter(dialog, missingLocal, missingRemote));
                       EXPECT_FALSE(Enter(dialog, missingLocal, missingRemote));
                       EXPECT_EQ(GetLocalPath(), local_) << "nothing stored yet";
                       EXPECT_TRUE(Enter(dialog, missingLocal, missingRemote));
                     }),
            IDOK);
  ASSERT_EQ(boxes_.size(), 5u);
  const std::vector<std::string> asked = {missingLocal, missingLocal, missingRemote, missingLocal, missingRemote};
  for (size_t i = 0; i < boxes_.size(); ++i) {
    EXPECT_EQ(boxes_[i].caption.toStdString(), "Invalid Directory");
    EXPECT_EQ(boxes_[i].text.toStdString(),
              "Directory does not exist: \"" + asked[i] + "\"\nDo you want to save this value?");
    EXPECT_EQ(boxes_[i].buttons, CMessageBox::Buttons::OkCancel);
  }
  EXPECT_EQ(GetLocalPath(), missingLocal);
  EXPECT_EQ(GetRemotePath(), missingRemote);
}

TEST_F(ConfigureTest, AnEmptyLocalFolderBecomesTheDefaultAndAnEmptyRemoteOneNone) {
  Configure dialog(nullptr);
  EXPECT_EQ(RunModal(dialog, [&] { EXPECT_TRUE(Enter(dialog, "   ", "")); }), IDOK);
  EXPECT_TRUE(boxes_.empty()) << "empty texts are no missing folders";
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kAckLogKey, KEY_READ, &key), ERROR_SUCCESS);
  char stored[600] = {};
  DWORD size = sizeof stored;
  ASSERT_EQ(RegQueryValueEx(key, "Local Path", nullptr, reinterpret_cast<BYTE*>(stored), &size), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(std::string(stored), DefaultLocalPath()) << "stored as the default folder";
  EXPECT_EQ(GetRemotePath(), "");

  // The default folder is compared too (whether or not it exists yet: a
  // remote folder that does not is questioned first, and kept).
  boxes_.clear();
  Configure again(nullptr);
  RunModal(again, [&] {
    EXPECT_FALSE(Enter(again, "", DefaultLocalPath() + "/"));
    again.EndDialog(IDCANCEL);
  });
  ASSERT_FALSE(boxes_.empty());
  EXPECT_EQ(boxes_.back().text.toStdString(), "The Local and Remote Paths must be set to different values.");
  EXPECT_EQ(GetRemotePath(), "");
}

TEST_F(ConfigureTest, CancelStoresNothing) {
  Configure dialog(nullptr);
  EXPECT_EQ(RunModal(dialog,
                     [&] {
                       Edit(dialog, 1008).setText("/elsewhere/local");
                       Edit(dialog, 1005).setText("/elsewhere/remote");
                       dialog.Control<QPushButton>(IDCANCEL)->click();
                     }),
            IDCANCEL);
  EXPECT_EQ(GetLocalPath(), local_);
  EXPECT_EQ(GetRemotePath(), remote_);
}

TEST_F(ConfigureTest, EachBrowseButtonPicksItsFolder) {
  const std::string chosen = remote_ + "/picked";
  std::filesystem::create_directories(chosen);
  Configure dialog(nullptr);
  std::vector<std::pair<std::string, std::string>> pickers;  // title, folder it opened at
  RunModal(dialog, [&] {
    for (int button : {Configure::kBrowseLocalButton, Configure::kBrowseRemoteButton}) {
      WhenModalIs<QFileDialog>([&](QFileDialog& picker) {
        pickers.emplace_back(picker.windowTitle().toStdString(), picker.directory().absolutePath().toStdString());
        if (button == Configure::kBrowseLocalButton) {
          picker.reject();
          return;
        }
        picker.setDirectory(QString::fromStdString(chosen));
        QMetaObject::invokeMethod(&picker, "accept");
      });
      dialog.Control<QPushButton>(button)->click();
    }
    EXPECT_EQ(Edit(dialog, 1008).text().toStdString(), local_) << "a cancelled pick changes nothing";
    EXPECT_EQ(Edit(dialog, 1005).text().toStdString(), chosen);
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_EQ(pickers, (std::vector<std::pair<std::string, std::string>>{{"Choose a local log directory", local_},
                                                                       {"Choose a remote log directory", remote_}}));
}

}  // namespace
