// What the tests of the dialog layer share: the Qt application of the test
// process (offscreen), the built resource library loaded from the program
// folder, message boxes answered without a person, dialogs driven while
// they run modally, the check of a dialog against its template, and the
// screenshots (saved to $AE_SCREENSHOT_DIR when that is set, for a person
// to look at).
#pragma once

#include <gtest/gtest.h>

#include <QObject>
#include <QString>
#include <QUrl>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/message_box.h"

class QDialog;
class QWidget;
class CResourceDialog;

// The process's QApplication, made on first use and kept to the end, so
// that a worker thread still running at exit finds Qt as it left it.
void EnsureApplication();

class UiTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Message boxes asked for since SetUp, answered in turn from `answers_`
  // (IDOK once it is empty).
  std::vector<CMessageBox::Request> boxes_;
  std::deque<int> answers_;
};

// Runs the dialog modally; `whileOpen` runs once it shows. A dialog still
// open 10 s later is ended with kStuck and the test fails.
constexpr int kStuck = -99;
int RunModal(CResourceDialog& dialog, const std::function<void()>& whileOpen);

// Sends a key press (and release) to the widget that has the focus in the
// dialog, or to the dialog.
void PressKey(QDialog& dialog, int key);

// Processes events until `done` holds or `timeoutMs` passes; whether it held.
bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// The dialog as shown matches its template: size, fixed frame, and every
// control at its place.
void ExpectLaidOutAsTemplate(const QDialog& dialog, int dialogId);

void SaveScreenshot(QWidget& widget, const std::string& name);

// While it lives, takes the pages that the help would open in the
// desktop's browser.
class CHelpPageRecorder : public QObject {
  Q_OBJECT

 public:
  CHelpPageRecorder();
  ~CHelpPageRecorder() override;

  std::vector<QUrl> opened;

 public slots:
  void Open(const QUrl& url);
};
