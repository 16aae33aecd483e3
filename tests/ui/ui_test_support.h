// What the dialog layer's tests share: the process's Qt application
// (offscreen), the built resource library loaded as the program loads it,
// message boxes answered without a person, dialogs driven while modal, the
// check of a dialog against its template, help pages caught before they
// reach a browser, and screenshots (to $AE_SCREENSHOT_DIR when set).
#pragma once

#include <gtest/gtest.h>

#include <QObject>
#include <QUrl>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/message_box.h"

class QDialog;
class CResourceDialog;

// Made on first use and kept to the end, so that a worker still running at
// exit finds Qt as it left it.
void EnsureApplication();

// The library loaded; message boxes recorded in boxes_ and answered from
// answers_ (IDOK once it is empty).
class UiTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::vector<CMessageBox::Request> boxes_;
  std::deque<int> answers_;
};

// Runs the dialog modally with `whileOpen` once it shows as the active
// modal window; a dialog still open after 10 s ends with kStuck and fails
// the test.
constexpr int kStuck = -99;
int RunModal(CResourceDialog& dialog, const std::function<void()>& whileOpen);
// Runs `act` once the active modal window is a T and shows (polled every
// 10 ms, from the event loop that is running then: a nested dialog's too).
void WhenModal(std::function<bool(QWidget&)> act);
template <class T>
void WhenModalIs(std::function<void(T&)> act) {
  WhenModal([act](QWidget& w) {
    T* t = dynamic_cast<T*>(&w);
    if (t) act(*t);
    return t != nullptr;
  });
}
// A key press and release at the dialog's focus widget (or the dialog).
void PressKey(QDialog& dialog, int key);
bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Size, fixed frame and every control of the template at its place.
void ExpectLaidOutAsTemplate(const QDialog& dialog, int dialogId);
void SaveScreenshot(QWidget& widget, const std::string& name);

// While it lives, takes the pages the help would open in a browser.
class CHelpPageRecorder : public QObject {
  Q_OBJECT

 public:
  CHelpPageRecorder();
  ~CHelpPageRecorder() override;
  std::vector<QUrl> opened;

 public slots:
  void Open(const QUrl& url) { opened.push_back(url); }
};
