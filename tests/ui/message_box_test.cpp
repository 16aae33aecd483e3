// Message boxes: while a test's answerer is set it takes every request and
// no box appears; without one the box shows the caption, text, icon and
// buttons asked for and answers by button as the framework's boxes do.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

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

TEST_F(MessageBoxTest, AnswererTakesEveryRequestAndNoBoxAppears) {
  std::vector<CMessageBox::Request> requests;
  bool boxShown = false;
  CMessageBox::TEST_SetAnswerer([&](const CMessageBox::Request& request) {
    requests.push_back(request);
    for (QWidget* w : QApplication::topLevelWidgets()) boxShown |= qobject_cast<QMessageBox*>(w) && w->isVisible();
    return requests.size() == 1 ? int{IDNO} : int{IDCANCEL};
  });
  EXPECT_EQ(CMessageBox::Show(nullptr, "Disconnect?", Buttons::YesNo, Icon::Question), IDNO);
  EXPECT_EQ(CMessageBox::Show(nullptr, "Invalid Directory", "Missing", Buttons::OkCancel, Icon::NoIcon), IDCANCEL);
  EXPECT_FALSE(boxShown);
  ASSERT_EQ(requests.size(), 2u);
  // The framework's caption is the program's base name.
  EXPECT_EQ(requests[0].caption.toStdString(), "ui_test");
  EXPECT_EQ(requests[0].caption, QCoreApplication::applicationName());
  EXPECT_EQ(requests[0].text.toStdString(), "Disconnect?");
  EXPECT_EQ(requests[0].buttons, Buttons::YesNo);
  EXPECT_EQ(requests[0].icon, Icon::Question);
  EXPECT_EQ(requests[1].caption.toStdString(), "Invalid Directory");
  EXPECT_EQ(requests[1].text.toStdString(), "Missing");
  EXPECT_EQ(requests[1].buttons, Buttons::OkCancel);
  EXPECT_EQ(requests[1].icon, Icon::NoIcon);
}

struct BoxCase {
  const char* name;
  Buttons buttons;
  Icon icon;
  int press;  // 0 first button, 1 second button, -1 Escape
  int expected;
};

class MessageBoxShownTest : public MessageBoxTest, public testing::WithParamInterface<BoxCase> {};

TEST_P(MessageBoxShownTest, ShowsWhatWasAskedAndAnswersByButton) {
  const BoxCase& c = GetParam();
  // Set and cleared: the box is real again.
  CMessageBox::TEST_SetAnswerer([](const CMessageBox::Request&) { return int{IDNO}; });
  CMessageBox::TEST_SetAnswerer({});
  const std::vector<QMessageBox::StandardButton> buttons =
      c.buttons == Buttons::Ok         ? std::vector{QMessageBox::Ok}
      : c.buttons == Buttons::OkCancel ? std::vector{QMessageBox::Ok, QMessageBox::Cancel}
                                       : std::vector{QMessageBox::Yes, QMessageBox::No};
  bool inspected = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_TRUE(box) << "no message box shown";
    inspected = true;
    EXPECT_EQ(box->windowTitle().toStdString(), "Caption");
    EXPECT_EQ(box->text().toStdString(), "Shutting down server will close all client connections.");
    EXPECT_EQ(box->icon(), c.icon == Icon::Exclamation ? QMessageBox::Warning
                           : c.icon == Icon::Question  ? QMessageBox::Question
                                                       : QMessageBox::NoIcon);
    std::set<QMessageBox::StandardButton> shown;
    for (QAbstractButton* b : box->buttons()) shown.insert(box->standardButton(b));
    EXPECT_EQ(shown, std::set(buttons.begin(), buttons.end()));
    EXPECT_EQ(box->defaultButton(), box->button(buttons.front())) << "the first button is the default";
    if (c.icon == Icon::Exclamation) SaveScreenshot(*box, "message_box");
    if (c.press >= 0) {
      box->button(buttons[c.press])->click();
    } else {
      QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(box, &escape);
    }
  });
  EXPECT_EQ(CMessageBox::Show(nullptr, "Caption", "Shutting down server will close all client connections.",
                              c.buttons, c.icon),
            c.expected);
  EXPECT_TRUE(inspected);
}

INSTANTIATE_TEST_SUITE_P(Boxes, MessageBoxShownTest,
                         testing::Values(BoxCase{"OkEscape", Buttons::Ok, Icon::NoIcon, -1, IDOK},
                                         BoxCase{"OkCancelOk", Buttons::OkCancel, Icon::Exclamation, 0, IDOK},
                                         BoxCase{"OkCancelCancel", Buttons::OkCancel, Icon::NoIcon, 1, IDCANCEL},
                                         BoxCase{"OkCancelEscape", Buttons::OkCancel, Icon::NoIcon, -1, IDCANCEL},
                                         BoxCase{"YesNoYes", Buttons::YesNo, Icon::Question, 0, IDYES},
                                         BoxCase{"YesNoNo", Buttons::YesNo, Icon::Question, 1, IDNO},
                                         BoxCase{"YesNoEscape", Buttons::YesNo, Icon::Question, -1, IDNO}),
                         [](const testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

}  // namespace
