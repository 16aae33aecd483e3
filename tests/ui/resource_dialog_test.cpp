// Dialogs built from the library's forms: every form becomes a dialog laid
// out as its template with the frame it asks for; a missing form shows
// nothing; commands reach OnOK and OnCancel as in the window framework.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <vector>

#include "tests/resources/dialog_templates.h"
#include "ui/dialog_result.h"
#include "ui/resource_dialog.h"
#include "ui/resource_library.h"
#include "ui_test_support.h"

namespace {

using namespace dialog_templates;

// Records what the framework calls, and when.
class CRecordingDialog : public CResourceDialog {
 public:
  using CResourceDialog::CResourceDialog;

  int initCalls = 0;
  bool visibleAtInit = false;
  std::vector<int> commands;  // IDOK, IDCANCEL as they come

 protected:
  bool OnInitDialog() override {
    ++initCalls;
    visibleAtInit = isVisible();
    return CResourceDialog::OnInitDialog();
  }
  void OnOK() override {
    commands.push_back(IDOK);
    CResourceDialog::OnOK();
  }
  void OnCancel() override {
    commands.push_back(IDCANCEL);
    CResourceDialog::OnCancel();
  }
};

class FormDialogTest : public UiTest, public testing::WithParamInterface<Form> {};

TEST_P(FormDialogTest, BuildsAsTheTemplateWithItsFrame) {
  const Form& form = GetParam();
  CResourceDialog dialog(form.id, nullptr);
  ASSERT_TRUE(dialog.IsFormLoaded());
  EXPECT_EQ(dialog.DialogId(), form.id);
  EXPECT_EQ(dialog.objectName().toStdString(), "dialog_" + std::to_string(form.id));
  EXPECT_EQ(dialog.windowTitle().toStdString(), form.caption);
  EXPECT_EQ(dialog.font().family().toStdString(), "MS Sans Serif");

  const Qt::WindowFlags flags = dialog.windowFlags();
  EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
  EXPECT_TRUE(flags & Qt::WindowTitleHint);
  EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
  const bool systemMenu = form.frame != Frame::kFixedWithoutSystemMenu;
  EXPECT_EQ(bool(flags & Qt::WindowCloseButtonHint), systemMenu);
  EXPECT_EQ(bool(flags & Qt::WindowSystemMenuHint), systemMenu);
  const bool resizable = form.frame == Frame::kResizableWithMinMax;
  EXPECT_EQ(bool(flags & Qt::WindowMinimizeButtonHint), resizable);
  EXPECT_EQ(bool(flags & Qt::WindowMaximizeButtonHint), resizable);

  // Each control is found by its ID, and nothing else answers to one.
  for (const Control& c : form.controls) {
    bool numeric = false;
    const int id = QString::fromStdString(c.name).toInt(&numeric);
    if (numeric) {
      EXPECT_TRUE(dialog.Control<QWidget>(id)) << c.name;
    }
  }
  EXPECT_FALSE(dialog.Control<QWidget>(4242));

  dialog.show();
  ASSERT_TRUE(ProcessEventsUntil([&] { return dialog.isVisible(); }));
  ExpectLaidOutAsTemplate(dialog, form.id);
  if (!resizable) {
    // A fixed frame does not give way to a resize.
    dialog.resize(dialog.width() + 40, dialog.height() + 40);
    EXPECT_EQ(dialog.size(), Size(form));
  }
  SaveScreenshot(dialog, "form_" + std::to_string(form.id));
  dialog.hide();
}

std::string FormName(const testing::TestParamInfo<Form>& info) { return "Dialog" + std::to_string(info.param.id); }

INSTANTIATE_TEST_SUITE_P(Library, FormDialogTest, testing::ValuesIn(Forms()), FormName);

class ResourceDialogTest : public UiTest {};

TEST_F(ResourceDialogTest, MissingFormShowsNothing) {
  CRecordingDialog dialog(4242, nullptr);
  EXPECT_FALSE(dialog.IsFormLoaded());
  EXPECT_EQ(dialog.DoModal(), CResourceDialog::kNoForm);
  EXPECT_EQ(dialog.initCalls, 0);
  EXPECT_FALSE(dialog.isVisible());

  // Without the library no form is found either.
  CResourceLibrary::Free();
  CRecordingDialog unloaded(143, nullptr);
  EXPECT_FALSE(unloaded.IsFormLoaded());
  EXPECT_EQ(unloaded.DoModal(), CResourceDialog::kNoForm);
  EXPECT_EQ(unloaded.initCalls, 0);
}

TEST_F(ResourceDialogTest, ControlAnswersOnlyForItsKind) {
  CResourceDialog dialog(143, nullptr);
  EXPECT_TRUE(dialog.Control<QLineEdit>(1000));
  EXPECT_FALSE(dialog.Control<QPushButton>(1000));
  EXPECT_TRUE(dialog.Control<QPushButton>(IDOK));
  EXPECT_FALSE(dialog.Control<QProgressBar>(IDOK));
}

TEST_F(ResourceDialogTest, InitialisesOnceBeforeShowingWithTheFocusOnTheFirstControl) {
  CRecordingDialog dialog(143, nullptr);
  QWidget* focus = nullptr;
  EXPECT_EQ(RunModal(dialog, [&] {
              focus = dialog.focusWidget();
              dialog.EndDialog(IDOK);
            }),
            IDOK);
  EXPECT_EQ(dialog.initCalls, 1);
  EXPECT_FALSE(dialog.visibleAtInit);
  EXPECT_EQ(focus, dialog.Control<QLineEdit>(1000));

  // Each run initialises afresh, as each run of the framework's dialog does.
  EXPECT_EQ(RunModal(dialog, [&] { dialog.EndDialog(IDCANCEL); }), IDCANCEL);
  EXPECT_EQ(dialog.initCalls, 2);
}

struct Command {
  const char* name;
  int dialogId;
  std::function<void(CRecordingDialog&)> act;
  int expectedCommand;  // what reaches the dialog
};

void PrintTo(const Command& c, std::ostream* out) { *out << c.name; }

class CommandRoutingTest : public UiTest, public testing::WithParamInterface<Command> {};

TEST_P(CommandRoutingTest, ReachesOnOKOrOnCancel) {
  const Command& command = GetParam();
  CRecordingDialog dialog(command.dialogId, nullptr);
  const int result = RunModal(dialog, [&] { command.act(dialog); });
  EXPECT_EQ(dialog.commands, std::vector<int>{command.expectedCommand});
  EXPECT_EQ(result, command.expectedCommand);
  EXPECT_FALSE(dialog.isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Framework, CommandRoutingTest,
    testing::Values(
        Command{"ButtonOne", 143, [](CRecordingDialog& d) { d.Control<QPushButton>(IDOK)->click(); }, IDOK},
        Command{"ButtonTwo", 143, [](CRecordingDialog& d) { d.Control<QPushButton>(IDCANCEL)->click(); },
                IDCANCEL},
        Command{"EnterInAnEditPressesTheDefaultButton", 143,
                [](CRecordingDialog& d) {
                  d.Control<QLineEdit>(1001)->setFocus();
                  PressKey(d, Qt::Key_Return);
                },
                IDOK},
        Command{"KeypadEnter", 134, [](CRecordingDialog& d) { PressKey(d, Qt::Key_Enter); }, IDOK},
        Command{"EnterWithoutAButtonToPressIsOK", 1001,
                [](CRecordingDialog& d) {
                  d.Control<QPushButton>(IDCANCEL)->setEnabled(false);
                  PressKey(d, Qt::Key_Return);
                },
                IDOK},
        Command{"EnterOnTheFocusedCancelButton", 143,
                [](CRecordingDialog& d) {
                  d.Control<QPushButton>(IDCANCEL)->setFocus();
                  PressKey(d, Qt::Key_Return);
                },
                IDCANCEL},
        Command{"Escape", 143, [](CRecordingDialog& d) { PressKey(d, Qt::Key_Escape); }, IDCANCEL},
        Command{"CloseBox", 143, [](CRecordingDialog& d) { d.close(); }, IDCANCEL}),
    [](const testing::TestParamInfo<Command>& info) { return std::string(info.param.name); });

TEST_F(ResourceDialogTest, EnterOnAnotherFocusedButtonPressesThatButton) {
  CRecordingDialog dialog(143, nullptr);
  int helpClicks = 0;
  QObject::connect(dialog.Control<QPushButton>(1018), &QPushButton::clicked, [&] { ++helpClicks; });
  EXPECT_EQ(RunModal(dialog, [&] {
              dialog.Control<QPushButton>(1018)->setFocus();
              PressKey(dialog, Qt::Key_Return);
              EXPECT_TRUE(dialog.isVisible());
              dialog.EndDialog(IDCANCEL);
            }),
            IDCANCEL);
  EXPECT_EQ(helpClicks, 1);
  EXPECT_TRUE(dialog.commands.empty());
}

}  // namespace
