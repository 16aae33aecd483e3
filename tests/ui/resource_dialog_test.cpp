// Dialogs built from the library's forms: each form becomes a dialog laid
// out as its template with the frame it asks for; a missing form shows
// nothing; commands reach OnOK and OnCancel as in the window framework.
#include <gtest/gtest.h>

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
  std::vector<int> commands;  // IDOK for OnOK, IDCANCEL for OnCancel

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
  EXPECT_EQ(dialog.objectName().toStdString(), "dialog_" + std::to_string(form.id));
  EXPECT_EQ(dialog.windowTitle().toStdString(), form.caption);
  EXPECT_EQ(dialog.font().family().toStdString(), "MS Sans Serif");

  const Qt::WindowFlags flags = dialog.windowFlags();
  EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
  EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
  const bool systemMenu = form.frame != Frame::kFixedWithoutSystemMenu;
  EXPECT_EQ(bool(flags & Qt::WindowCloseButtonHint), systemMenu);
  EXPECT_EQ(bool(flags & Qt::WindowSystemMenuHint), systemMenu);
  const bool resizable = form.frame == Frame::kResizableWithMinMax;
  EXPECT_EQ(bool(flags & Qt::WindowMinimizeButtonHint), resizable);
  EXPECT_EQ(bool(flags & Qt::WindowMaximizeButtonHint), resizable);

  for (const Control& c : form.controls) {
    bool isId = false;
    const int id = QString::fromStdString(c.name).toInt(&isId);
    if (isId) {
      EXPECT_TRUE(dialog.Control<QWidget>(id)) << c.name;
    }
  }
  EXPECT_FALSE(dialog.Control<QWidget>(4242));

  dialog.show();
  ASSERT_TRUE(ProcessEventsUntil([&] { return dialog.isVisible(); }));
  ExpectLaidOutAsTemplate(dialog, form.id);
  if (!resizable) {
    dialog.resize(dialog.width() + 40, dialog.height() + 40);
    EXPECT_EQ(dialog.size(), Size(form)) << "a fixed frame gave way";
  }
  SaveScreenshot(dialog, "form_" + std::to_string(form.id));
}

INSTANTIATE_TEST_SUITE_P(Library, FormDialogTest, testing::ValuesIn(Forms()),
                         [](const testing::TestParamInfo<Form>& info) { return "Dialog" + std::to_string(info.param.id); });

class ResourceDialogTest : public UiTest {};

TEST_F(ResourceDialogTest, WithoutItsFormShowsNothing) {
  CRecordingDialog missing(4242, nullptr);
  EXPECT_FALSE(missing.IsFormLoaded());
  EXPECT_EQ(missing.DoModal(), CResourceDialog::kNoForm);
  CResourceLibrary::Free();
  CRecordingDialog unloaded(143, nullptr);
  EXPECT_FALSE(unloaded.IsFormLoaded());
  EXPECT_EQ(unloaded.DoModal(), CResourceDialog::kNoForm);
  EXPECT_EQ(missing.initCalls + unloaded.initCalls, 0);
  EXPECT_FALSE(missing.isVisible() || unloaded.isVisible());
}

TEST_F(ResourceDialogTest, InitialisesEachRunBeforeShowingWithTheFocusOnTheFirstControl) {
  CRecordingDialog dialog(143, nullptr);
  EXPECT_FALSE(dialog.Control<QPushButton>(1000)) << "1000 is an edit";
  EXPECT_FALSE(dialog.Control<QProgressBar>(IDOK));
  QWidget* focus = nullptr;
  EXPECT_EQ(RunModal(dialog, [&] {
              focus = dialog.focusWidget();
              dialog.EndDialog(IDOK);
            }),
            IDOK);
  EXPECT_EQ(dialog.initCalls, 1);
  EXPECT_FALSE(dialog.visibleAtInit);
  EXPECT_EQ(focus, dialog.Control<QLineEdit>(1000));
  EXPECT_EQ(RunModal(dialog, [&] { dialog.EndDialog(IDCANCEL); }), IDCANCEL);
  EXPECT_EQ(dialog.initCalls, 2);
}

struct Command {
  const char* name;
  int dialogId;
  std::function<void(CRecordingDialog&)> act;
  std::vector<int> reached;  // the calls of OnOK/OnCancel
  int result;
};

class CommandRoutingTest : public UiTest, public testing::WithParamInterface<Command> {};

TEST_P(CommandRoutingTest, ReachesOnOKOrOnCancel) {
  CRecordingDialog dialog(GetParam().dialogId, nullptr);
  int helpClicks = 0;
  if (auto* help = dialog.Control<QPushButton>(1018)) QObject::connect(help, &QPushButton::clicked, [&] { ++helpClicks; });
  EXPECT_EQ(RunModal(dialog,
                     [&] {
                       GetParam().act(dialog);
                       if (dialog.isVisible()) dialog.EndDialog(kStuck + 1);
                     }),
            GetParam().result);
  EXPECT_EQ(dialog.commands, GetParam().reached);
  EXPECT_EQ(helpClicks, GetParam().result == kStuck + 1 ? 1 : 0);
}

void Click(CRecordingDialog& d, int id) { d.Control<QPushButton>(id)->click(); }
void EnterAt(CRecordingDialog& d, int id) {
  d.Control<QWidget>(id)->setFocus();
  PressKey(d, Qt::Key_Return);
}

INSTANTIATE_TEST_SUITE_P(
    Framework, CommandRoutingTest,
    testing::Values(
        Command{"ButtonOne", 143, [](CRecordingDialog& d) { Click(d, IDOK); }, {IDOK}, IDOK},
        Command{"ButtonTwo", 143, [](CRecordingDialog& d) { Click(d, IDCANCEL); }, {IDCANCEL}, IDCANCEL},
        Command{"EnterInAnEditPressesTheDefault", 143, [](CRecordingDialog& d) { EnterAt(d, 1001); }, {IDOK}, IDOK},
        Command{"KeypadEnter", 134, [](CRecordingDialog& d) { PressKey(d, Qt::Key_Enter); }, {IDOK}, IDOK},
        Command{"EnterOnFocusedCancel", 143, [](CRecordingDialog& d) { EnterAt(d, IDCANCEL); }, {IDCANCEL}, IDCANCEL},
        Command{"EnterOnFocusedHelp", 143, [](CRecordingDialog& d) { EnterAt(d, 1018); }, {}, kStuck + 1},
        Command{"EnterWithNothingToPressIsOK", 1001,
                [](CRecordingDialog& d) {
                  d.Control<QPushButton>(IDCANCEL)->setEnabled(false);
                  PressKey(d, Qt::Key_Return);
                },
                {IDOK}, IDOK},
        Command{"Escape", 143, [](CRecordingDialog& d) { PressKey(d, Qt::Key_Escape); }, {IDCANCEL}, IDCANCEL},
        Command{"CloseBox", 143, [](CRecordingDialog& d) { d.close(); }, {IDCANCEL}, IDCANCEL}),
    [](const testing::TestParamInfo<Command>& info) { return std::string(info.param.name); });

}  // namespace
