// Message boxes: a test's answerer takes every request and no box appears;
// without one, the box shows the caption, text, icon and buttons asked for,
// and its buttons and Escape give the window framework's answers.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <set>

#include "ui/dialog_result.h"
#include "ui/message_box.h"
#include "ui_test_support.h"

namespace {

using Buttons = CMessageBox::Buttons;
using Icon = CMessageBox::Icon;

class MessageBoxTest : public testing::Test {
 protected:
  void SetUp() override { EnsureApplication(); }
  void TearDown() override { CMessageBox::TEST_SetAnswerer({}); }
};

bool AnyBoxVisible() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<QMessageBox*>(w) && w->isVisible()) return true;
  return false;
}

TEST_F(MessageBoxTest, AnswererTakesEveryRequestAndNoBoxAppears) {
  std::vector<CMessageBox::Request> requests;
  bool boxSeen = false;
  CMessageBox::TEST_SetAnswerer([&](const CMessageBox::Request& request) {
    requests.push_back(request);
    boxSeen = boxSeen || AnyBoxVisible();
    return requests.size() == 1 ? int{IDNO} : int{IDCANCEL};
  });
  EXPECT_EQ(CMessageBox::Show(nullptr, "Disconnect?", Buttons::YesNo, Icon::Question), IDNO);
  EXPECT_EQ(CMessageBox::Show(nullptr, "Invalid Directory", "Directory does not exist", Buttons::OkCancel,
                              Icon::NoIcon),
            IDCANCEL);
  EXPECT_FALSE(boxSeen);
  ASSERT_EQ(requests.size(), 2u);
  // The framework's caption is the program's base name.
  EXPECT_EQ(requests[0].caption, QCoreApplication::applicationName());
  EXPECT_EQ(requests[0].caption.toStdString(), "ui_test");
  EXPECT_EQ(requests[0].text.toStdString(), "Disconnect?");
  EXPECT_EQ(requests[0].buttons, Buttons::YesNo);
  EXPECT_EQ(requests[0].icon, Icon::Question);
  EXPECT_EQ(requests[1].caption.toStdString(), "Invalid Directory");
  EXPECT_EQ(requests[1].text.toStdString(), "Directory does not exist");
  EXPECT_EQ(requests[1].buttons, Buttons::OkCancel);
  EXPECT_EQ(requests[1].icon, Icon::NoIcon);
}

enum class Press { kFirst, kSecond, kEscape };

struct BoxCase {
  const char* name;
  Buttons buttons;
  Icon icon;
  Press press;
  int expected;
};

void PrintTo(const BoxCase& c, std::ostream* out) { *out << c.name; }

class MessageBoxShownTest : public MessageBoxTest, public testing::WithParamInterface<BoxCase> {};

TEST_P(MessageBoxShownTest, ShowsWhatWasAskedAndAnswersByButton) {
  const BoxCase& c = GetParam();
  // Set and cleared: the box is real again.
  CMessageBox::TEST_SetAnswerer([](const CMessageBox::Request&) { return int{IDNO}; });
  CMessageBox::TEST_SetAnswerer({});

  bool inspected = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_TRUE(box) << "no message box shown";
    inspected = true;
    EXPECT_EQ(box->windowTitle().toStdString(), "Caption");
    EXPECT_EQ(box->text().toStdString(), "Shutting down server will close all client connections.");
    const QMessageBox::Icon icon = c.icon == Icon::Exclamation ? QMessageBox::Warning
                                   : c.icon == Icon::Question  ? QMessageBox::Question
                                                               : QMessageBox::NoIcon;
    EXPECT_EQ(box->icon(), icon);
    std::vector<QMessageBox::StandardButton> expected;
    switch (c.buttons) {
      case Buttons::Ok: expected = {QMessageBox::Ok}; break;
      case Buttons::OkCancel: expected = {QMessageBox::Ok, QMessageBox::Cancel}; break;
      case Buttons::YesNo: expected = {QMessageBox::Yes, QMessageBox::No}; break;
    }
    std::set<QMessageBox::StandardButton> shown;
    for (QAbstractButton* b : box->buttons()) shown.insert(box->standardButton(b));
    EXPECT_EQ(shown, std::set<QMessageBox::StandardButton>(expected.begin(), expected.end()));
    EXPECT_EQ(box->defaultButton(), box->button(expected.front())) << "the first button is the default";
    if (c.buttons == Buttons::OkCancel && c.icon == Icon::Exclamation) SaveScreenshot(*box, "message_box");
    switch (c.press) {
      case Press::kFirst: box->button(expected.front())->click(); break;
      case Press::kSecond: box->button(expected.back())->click(); break;
      case Press::kEscape: {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(box, &escape);
        break;
      }
    }
  });
  const int answer = CMessageBox::Show(nullptr, "Caption", "Shutting down server will close all client connections.",
                                       c.buttons, c.icon);
  EXPECT_TRUE(inspected);
  EXPECT_EQ(answer, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, MessageBoxShownTest,
    testing::Values(BoxCase{"Ok", Buttons::Ok, Icon::NoIcon, Press::kFirst, IDOK},
                    BoxCase{"OkEscape", Buttons::Ok, Icon::Exclamation, Press::kEscape, IDOK},
                    BoxCase{"OkCancelOk", Buttons::OkCancel, Icon::Exclamation, Press::kFirst, IDOK},
                    BoxCase{"OkCancelCancel", Buttons::OkCancel, Icon::Exclamation, Press::kSecond, IDCANCEL},
                    BoxCase{"OkCancelEscape", Buttons::OkCancel, Icon::NoIcon, Press::kEscape, IDCANCEL},
                    BoxCase{"YesNoYes", Buttons::YesNo, Icon::Question, Press::kFirst, IDYES},
                    BoxCase{"YesNoNo", Buttons::YesNo, Icon::Question, Press::kSecond, IDNO},
                    BoxCase{"YesNoEscape", Buttons::YesNo, Icon::Question, Press::kEscape, IDNO}),
    [](const testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

}  // namespace
