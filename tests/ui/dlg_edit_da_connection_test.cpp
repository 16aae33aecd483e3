// The connection dialog: it opens with the stored connection (or the
// defaults), refuses each bad entry with its message in the framework's
// order and stores nothing, stores a valid entry, and Help opens context
// 2000.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>

#include <string>

#include "opcda/connection_manager.h"
#include "platform/registry.h"
#include "ui/dialog_result.h"
#include "ui/dlg_edit_da_connection.h"
#include "ui/html_help.h"
#include "ui_test_support.h"

namespace {

std::pair<std::string, DWORD> Stored() {
  std::pair<std::string, DWORD> s;
  ConnectionManager::ReadSettings(s.first, s.second);
  return s;
}

class EditConnectionTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    ASSERT_TRUE(ConnectionManager::WriteSettings("Brixham.RaltoOPC", 1000));
  }
};

TEST_F(EditConnectionTest, RendersAsItsTemplateWithTheStoredConnection) {
  ASSERT_TRUE(ConnectionManager::WriteSettings("Brixham.RaltoOPC.2", 2500));
  CDlgEditDAConnection dialog(nullptr);
  EXPECT_EQ(dialog.m_serverName, "Brixham.RaltoOPC.2");
  EXPECT_EQ(dialog.m_updateRateMs, 2500u);
  EXPECT_EQ(RunModal(dialog,
                     [&] {
                       ExpectLaidOutAsTemplate(dialog, 143);
                       EXPECT_EQ(dialog.Control<QLineEdit>(1000)->text().toStdString(), "Brixham.RaltoOPC.2");
                       EXPECT_EQ(dialog.Control<QLineEdit>(1001)->text().toStdString(), "2500");
                       EXPECT_EQ(dialog.Control<QLineEdit>(1000)->maxLength(), 254);
                       EXPECT_EQ(dialog.focusWidget(), dialog.Control<QLineEdit>(1000));
                       SaveScreenshot(dialog, "dialog_143");
                       dialog.Control<QLineEdit>(1000)->setText("Brixham.RaltoOPC.9");
                       PressKey(dialog, Qt::Key_Escape);
                     }),
            IDCANCEL);
  EXPECT_EQ(Stored().first, "Brixham.RaltoOPC.2") << "Cancel stored the name";
  EXPECT_TRUE(boxes_.empty());

  ASSERT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillan"), ERROR_SUCCESS);
  CDlgEditDAConnection defaults(nullptr);
  EXPECT_EQ(defaults.m_serverName, "Brixham.RaltoOPC");
  EXPECT_EQ(defaults.m_updateRateMs, 1000u);
}

struct Refusal {
  std::string name, rate;
  std::string message;
  CMessageBox::Icon icon;
  int focus;  // the edit that gets the focus back, or 0
};

TEST_F(EditConnectionTest, RefusesEachBadEntryWithItsMessageAndStoresNothing) {
  const std::string range = "Please enter an integer between 100 and 100000.";
  const std::string own = "Invalid server, please enter a valid server name.";
  const auto kWarn = CMessageBox::Icon::Exclamation;
  const auto kNone = CMessageBox::Icon::NoIcon;
  const std::vector<Refusal> refusals = {
      {"corvane.OPCAEServer.1", "1000", own, kNone, 0},
      {"CORVANE.OPCAESERVER.1", "1000", own, kNone, 0},
      {"Corvane.OpcAeServer.1", "1000", own, kNone, 0},
      {"", "1000", "The 'Server' field must be filled in!", kNone, 0},
      // The range comes before the name: an empty name gives no second message.
      {"", "99", range, kWarn, 1001},
      {"corvane.OPCAEServer.1", "100001", range, kWarn, 1001},
      {"Brixham.RaltoOPC.3", "0", range, kWarn, 1001},
      {"Brixham.RaltoOPC.3", "-100", range, kWarn, 1001},
      {"Brixham.RaltoOPC.3", "abc", range, kWarn, 1001},
      {"Brixham.RaltoOPC.3", "", range, kWarn, 1001},
      {"Brixham.RaltoOPC.3", "1 000", range, kWarn, 1001},
      {"Brixham.RaltoOPC.3", "4294968296", range, kWarn, 1001},
      // Longer than typing allows: a name given by the member is shown whole and refused.
      {"Brixham." + std::string(300, 'n'), "1000", "Please enter no more than 254 characters.", kWarn, 1000},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.name.substr(0, 24) + " / " + r.rate);
    boxes_.clear();
    CDlgEditDAConnection dialog(nullptr);
    dialog.m_serverName = r.name;
    EXPECT_EQ(RunModal(dialog,
                       [&] {
                         EXPECT_EQ(dialog.Control<QLineEdit>(1000)->text().toStdString(), r.name);
                         dialog.Control<QLineEdit>(1001)->setText(QString::fromStdString(r.rate));
                         dialog.Control<QPushButton>(IDOK)->click();
                         EXPECT_TRUE(dialog.isVisible());
                         if (r.focus) {
                           auto* edit = dialog.Control<QLineEdit>(r.focus);
                           EXPECT_EQ(dialog.focusWidget(), edit);
                           EXPECT_EQ(edit->selectedText(), edit->text());
                         }
                         dialog.Control<QPushButton>(IDCANCEL)->click();
                       }),
              IDCANCEL);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text.toStdString(), r.message);
    EXPECT_EQ(boxes_[0].caption, QCoreApplication::applicationName());
    EXPECT_EQ(boxes_[0].buttons, CMessageBox::Buttons::Ok);
    EXPECT_EQ(boxes_[0].icon, r.icon);
    EXPECT_EQ(Stored(), std::make_pair(std::string("Brixham.RaltoOPC"), DWORD{1000}));
  }
}

TEST_F(EditConnectionTest, StoresAValidEntry) {
  const std::vector<std::tuple<std::string, std::string, DWORD>> entries = {
      {"Brixham.RaltoOPC.3", "100", 100},
      {"Brixham.RaltoOPC.4", "100000", 100000},
      {"Brixham.RaltoOPC.5", " 250 ", 250},
      {"corvane.OPCAEServer.10", "1000", 1000},  // only the whole own ProgID is refused
      {std::string(254, 'n'), "1000", 1000},
  };
  for (const auto& [name, rate, stored] : entries) {
    SCOPED_TRACE(name);
    CDlgEditDAConnection dialog(nullptr);
    EXPECT_EQ(RunModal(dialog,
                       [&] {
                         dialog.Control<QLineEdit>(1000)->setText(QString::fromStdString(name));
                         dialog.Control<QLineEdit>(1001)->setText(QString::fromStdString(rate));
                         PressKey(dialog, Qt::Key_Return);
                       }),
              IDOK);
    EXPECT_EQ(dialog.m_serverName, name);
    EXPECT_EQ(dialog.m_updateRateMs, stored);
    EXPECT_EQ(Stored(), std::make_pair(name, stored));
  }
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(EditConnectionTest, HelpOpensContext2000) {
  CHelpPageRecorder recorder;
  CDlgEditDAConnection dialog(nullptr);
  EXPECT_EQ(RunModal(dialog,
                     [&] {
                       dialog.Control<QPushButton>(1018)->click();
                       EXPECT_TRUE(dialog.isVisible());
                       dialog.Control<QPushButton>(IDCANCEL)->click();
                     }),
            IDCANCEL);
  EXPECT_EQ(recorder.opened, std::vector{QUrl::fromLocalFile(QString::fromStdString(HelpFolder() + "/context-2000.html"))});
}

}  // namespace
