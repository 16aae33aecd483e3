// The connection dialog: it opens with the stored connection, refuses this
// server's own ProgID, an empty name, a rate outside 100..100000 and a name
// over 254 characters (each with its message, storing nothing), stores a
// valid entry, and its Help button opens context 2000.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

#include <string>

#include "opcda/connection_manager.h"
#include "platform/registry.h"
#include "ui/dialog_result.h"
#include "ui/dlg_edit_da_connection.h"
#include "ui/html_help.h"
#include "ui_test_support.h"

namespace {

const char* const kRangeMessage = "Please enter an integer between 100 and 100000.";

struct Stored {
  std::string name;
  DWORD rate = 0;
};

Stored StoredConnection() {
  Stored s;
  ConnectionManager::ReadSettings(s.name, s.rate);
  return s;
}

class EditConnectionTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    ASSERT_TRUE(ConnectionManager::WriteSettings("Brixham.RaltoOPC", 1000));
  }

  // Enters the texts, presses OK and returns the result; a dialog that
  // stays open is then cancelled (and the result is IDCANCEL).
  int Enter(CDlgEditDAConnection& dialog, const QString& name, const QString& rate, bool* stayedOpen = nullptr,
            QWidget** focus = nullptr) {
    return RunModal(dialog, [&] {
      dialog.Control<QLineEdit>(1000)->setText(name);
      dialog.Control<QLineEdit>(1001)->setText(rate);
      dialog.Control<QPushButton>(IDOK)->click();
      if (stayedOpen) *stayedOpen = dialog.isVisible();
      if (focus) *focus = dialog.focusWidget();
      if (dialog.isVisible()) dialog.Control<QPushButton>(IDCANCEL)->click();
    });
  }

  void ExpectNothingStored() {
    const Stored s = StoredConnection();
    EXPECT_EQ(s.name, "Brixham.RaltoOPC");
    EXPECT_EQ(s.rate, 1000u);
  }
};

TEST_F(EditConnectionTest, RendersAsItsTemplateWithTheStoredConnection) {
  ASSERT_TRUE(ConnectionManager::WriteSettings("Brixham.RaltoOPC.2", 2500));
  CDlgEditDAConnection dialog(nullptr);
  EXPECT_EQ(dialog.m_serverName, "Brixham.RaltoOPC.2");
  EXPECT_EQ(dialog.m_updateRateMs, 2500u);
  QString name, rate;
  QWidget* focus = nullptr;
  EXPECT_EQ(RunModal(dialog,
                     [&] {
                       ExpectLaidOutAsTemplate(dialog, 143);
                       name = dialog.Control<QLineEdit>(1000)->text();
                       rate = dialog.Control<QLineEdit>(1001)->text();
                       focus = dialog.focusWidget();
                       EXPECT_EQ(dialog.Control<QLineEdit>(1000)->maxLength(), 254);
                       SaveScreenshot(dialog, "dialog_143");
                       dialog.Control<QPushButton>(IDCANCEL)->click();
                     }),
            IDCANCEL);
  EXPECT_EQ(name.toStdString(), "Brixham.RaltoOPC.2");
  EXPECT_EQ(rate.toStdString(), "2500");
  EXPECT_EQ(focus, dialog.Control<QLineEdit>(1000));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(EditConnectionTest, WithoutStoredSettingsOffersTheDefaults) {
  ASSERT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillan"), ERROR_SUCCESS);
  CDlgEditDAConnection dialog(nullptr);
  EXPECT_EQ(dialog.m_serverName, "Brixham.RaltoOPC");
  EXPECT_EQ(dialog.m_updateRateMs, 1000u);
}

TEST_F(EditConnectionTest, RefusesThisServersOwnProgIdInAnyCase) {
  for (const char* own : {"corvane.OPCAEServer.1", "CORVANE.OPCAESERVER.1", "Corvane.OpcAeServer.1"}) {
    SCOPED_TRACE(own);
    boxes_.clear();
    CDlgEditDAConnection dialog(nullptr);
    bool stayedOpen = false;
    EXPECT_EQ(Enter(dialog, own, "1000", &stayedOpen), IDCANCEL);
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text.toStdString(), "Invalid server, please enter a valid server name.");
    EXPECT_EQ(boxes_[0].caption, QCoreApplication::applicationName());
    EXPECT_EQ(boxes_[0].buttons, CMessageBox::Buttons::Ok);
    EXPECT_EQ(boxes_[0].icon, CMessageBox::Icon::NoIcon);
    ExpectNothingStored();
  }
  // Only the whole name is refused.
  CDlgEditDAConnection dialog(nullptr);
  boxes_.clear();
  EXPECT_EQ(Enter(dialog, "corvane.OPCAEServer.10", "1000"), IDOK);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(EditConnectionTest, RefusesAnEmptyName) {
  CDlgEditDAConnection dialog(nullptr);
  bool stayedOpen = false;
  EXPECT_EQ(Enter(dialog, "", "1000", &stayedOpen), IDCANCEL);
  EXPECT_TRUE(stayedOpen);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text.toStdString(), "The 'Server' field must be filled in!");
  EXPECT_EQ(boxes_[0].buttons, CMessageBox::Buttons::Ok);
  EXPECT_EQ(boxes_[0].icon, CMessageBox::Icon::NoIcon);
  ExpectNothingStored();
}

TEST_F(EditConnectionTest, RefusesRatesOutsideTheRangeBeforeLookingAtTheName) {
  for (const char* rate : {"99", "100001", "0", "-100", "abc", "", "4294968296", "1 000"}) {
    SCOPED_TRACE(rate);
    boxes_.clear();
    CDlgEditDAConnection dialog(nullptr);
    bool stayedOpen = false;
    QWidget* focus = nullptr;
    // An empty name too: the range comes first, so its message is the only one.
    EXPECT_EQ(Enter(dialog, "", rate, &stayedOpen, &focus), IDCANCEL);
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text.toStdString(), kRangeMessage);
    EXPECT_EQ(boxes_[0].icon, CMessageBox::Icon::Exclamation);
    EXPECT_EQ(boxes_[0].buttons, CMessageBox::Buttons::Ok);
    EXPECT_EQ(focus, dialog.Control<QLineEdit>(1001));
    EXPECT_EQ(dialog.Control<QLineEdit>(1001)->selectedText(), dialog.Control<QLineEdit>(1001)->text());
    ExpectNothingStored();
  }
}

TEST_F(EditConnectionTest, RefusesANameOverTheLimitWithoutCuttingIt) {
  // A name longer than the edit takes by typing, given by its member.
  const std::string longName = "Brixham." + std::string(300, 'n');
  CDlgEditDAConnection dialog(nullptr);
  dialog.m_serverName = longName;
  QString shown;
  bool stayedOpen = false;
  QWidget* focus = nullptr;
  EXPECT_EQ(RunModal(dialog,
                     [&] {
                       shown = dialog.Control<QLineEdit>(1000)->text();
                       dialog.Control<QPushButton>(IDOK)->click();
                       stayedOpen = dialog.isVisible();
                       focus = dialog.focusWidget();
                       dialog.Control<QPushButton>(IDCANCEL)->click();
                     }),
            IDCANCEL);
  EXPECT_EQ(shown.toStdString(), longName);
  EXPECT_TRUE(stayedOpen);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text.toStdString(), "Please enter no more than 254 characters.");
  EXPECT_EQ(boxes_[0].icon, CMessageBox::Icon::Exclamation);
  EXPECT_EQ(focus, dialog.Control<QLineEdit>(1000));
  ExpectNothingStored();

  // 254 characters are taken whole.
  const std::string longest(254, 'n');
  CDlgEditDAConnection again(nullptr);
  boxes_.clear();
  EXPECT_EQ(Enter(again, QString::fromStdString(longest), "1000"), IDOK);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(StoredConnection().name, longest);
}

TEST_F(EditConnectionTest, StoresAValidEntry) {
  struct Entry {
    const char* name;
    const char* rate;
    DWORD stored;
  };
  for (const Entry& e : {Entry{"Brixham.RaltoOPC.3", "100", 100}, Entry{"Brixham.RaltoOPC.4", "100000", 100000},
                         Entry{"Brixham.RaltoOPC.5", " 250 ", 250}}) {
    SCOPED_TRACE(e.name);
    CDlgEditDAConnection dialog(nullptr);
    EXPECT_EQ(Enter(dialog, e.name, e.rate), IDOK);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(dialog.m_serverName, e.name);
    EXPECT_EQ(dialog.m_updateRateMs, e.stored);
    const Stored s = StoredConnection();
    EXPECT_EQ(s.name, e.name);
    EXPECT_EQ(s.rate, e.stored);
  }
}

TEST_F(EditConnectionTest, CancelStoresNothing) {
  CDlgEditDAConnection dialog(nullptr);
  EXPECT_EQ(RunModal(dialog,
                     [&] {
                       dialog.Control<QLineEdit>(1000)->setText("Brixham.RaltoOPC.9");
                       PressKey(dialog, Qt::Key_Escape);
                     }),
            IDCANCEL);
  ExpectNothingStored();
}

TEST_F(EditConnectionTest, HelpOpensContext2000) {
  CHelpPageRecorder recorder;
  CDlgEditDAConnection dialog(nullptr);
  bool stayedOpen = false;
  EXPECT_EQ(RunModal(dialog,
                     [&] {
                       dialog.Control<QPushButton>(1018)->click();
                       stayedOpen = dialog.isVisible();
                       dialog.Control<QPushButton>(IDCANCEL)->click();
                     }),
            IDCANCEL);
  EXPECT_TRUE(stayedOpen);
  ASSERT_EQ(recorder.opened.size(), 1u);
  EXPECT_EQ(recorder.opened[0], QUrl::fromLocalFile(QString::fromStdString(HelpFolder() + "/context-2000.html")));
}

}  // namespace
