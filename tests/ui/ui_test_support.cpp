#include "ui_test_support.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPixmap>
#include <QTimer>

#include <cstdlib>

#include "tests/resources/dialog_templates.h"
#include "ui/dialog_result.h"
#include "ui/resource_dialog.h"
#include "ui/resource_library.h"

using namespace dialog_templates;

void EnsureApplication() {
  static int argc = 1;
  static char name[] = "ui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  (void)app;
}

void UiTest::SetUp() {
  EnsureApplication();
  ASSERT_TRUE(CResourceLibrary::Load(QFileInfo(QStringLiteral(AE_RESOURCE_LIBRARY)).absolutePath()));
  CMessageBox::TEST_SetAnswerer([this](const CMessageBox::Request& request) {
    boxes_.push_back(request);
    if (answers_.empty()) return int{IDOK};
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
  });
}

void UiTest::TearDown() {
  CMessageBox::TEST_SetAnswerer({});
  CResourceLibrary::Free();
}

int RunModal(CResourceDialog& dialog, const std::function<void()>& whileOpen) {
  // The dialog may first run dialogs of its own as it opens (a viewer its
  // progress dialog): wait until it is the one that shows.
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, &dialog, [&dialog, &poll, whileOpen] {
    if (QApplication::activeModalWidget() != &dialog || !dialog.isVisible()) return;
    poll.stop();
    whileOpen();
  });
  poll.start();
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, &dialog, [&dialog] {
    ADD_FAILURE() << "dialog " << dialog.DialogId() << " still open";
    dialog.EndDialog(kStuck);
  });
  watchdog.start(10000);
  return dialog.DoModal();
}

void WhenModal(std::function<bool(QWidget&)> act) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    // Checked before acting: the act may run a nested loop of its own.
    poll->stop();
    if (act(*modal)) {
      poll->deleteLater();
    } else {
      poll->start();
    }
  });
  poll->start();
}

void PressKey(QDialog& dialog, int key) {
  QWidget* target = dialog.focusWidget() ? dialog.focusWidget() : &dialog;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
  QApplication::sendEvent(target, &release);
}

bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

void ExpectLaidOutAsTemplate(const QDialog& dialog, int dialogId) {
  SCOPED_TRACE("dialog " + std::to_string(dialogId));
  const Form& form = FormOf(dialogId);
  EXPECT_EQ(dialog.size(), Size(form));
  if (form.frame != Frame::kResizableWithMinMax) {
    EXPECT_EQ(dialog.minimumSize(), Size(form));
    EXPECT_EQ(dialog.maximumSize(), Size(form));
  }
  for (const Control& c : form.controls) {
    auto* control = dialog.findChild<QWidget*>(QString::fromStdString(c.name), Qt::FindDirectChildrenOnly);
    if (!control) {
      ADD_FAILURE() << "no control " << c.name;
      continue;
    }
    EXPECT_EQ(control->geometry(), Place(c)) << "control " << c.name;
  }
}

void SaveScreenshot(QWidget& widget, const std::string& name) {
  const char* folder = std::getenv("AE_SCREENSHOT_DIR");
  if (!folder || !*folder) return;
  const QDir dir(QString::fromLocal8Bit(folder));
  dir.mkpath(".");
  EXPECT_TRUE(widget.grab().save(dir.filePath(QString::fromStdString(name) + ".png"))) << name;
}

CHelpPageRecorder::CHelpPageRecorder() { QDesktopServices::setUrlHandler("file", this, "Open"); }

CHelpPageRecorder::~CHelpPageRecorder() { QDesktopServices::unsetUrlHandler("file"); }
