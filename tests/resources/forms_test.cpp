// The dialog forms packed into the resource library: each loads with
// QUiLoader as the dialog template lays it out in dialog units (1.5 px per
// horizontal, 1.625 px per vertical unit, halves rounded up): caption, size,
// font, frame, and every control by its ID with its kind, text, place, style
// and tab order.
#include <gtest/gtest.h>

#include <QApplication>
#include <QButtonGroup>
#include <QBuffer>
#include <QDateEdit>
#include <QDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QUiLoader>

#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "dialog_templates.h"
#include "resource_library.h"

namespace {

using namespace dialog_templates;

class FormTest : public testing::TestWithParam<Form> {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "resources_test";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  static void TearDownTestSuite() { app_.reset(); }

  // The form loaded from the library; null (with a failure) when it does not load.
  std::unique_ptr<QWidget> Load(const Form& form) {
    QByteArray content = ReadResource(QStringLiteral(":/dialog_%1.ui").arg(form.id));
    QBuffer buffer(&content);
    buffer.open(QIODevice::ReadOnly);
    QUiLoader loader;
    std::unique_ptr<QWidget> widget(loader.load(&buffer));
    EXPECT_TRUE(widget) << loader.errorString().toStdString();
    return widget;
  }

  static std::unique_ptr<QApplication> app_;
};

std::unique_ptr<QApplication> FormTest::app_;

void ExpectAlignment(const QLabel& label, Qt::Alignment horizontal, Qt::Alignment vertical, const std::string& name) {
  EXPECT_EQ(label.alignment() & Qt::AlignHorizontal_Mask, horizontal) << name;
  EXPECT_EQ(label.alignment() & Qt::AlignVertical_Mask, vertical) << name;
  EXPECT_EQ(label.textFormat(), Qt::PlainText) << name;
}

// The kind, text and styles of one control; its place is checked by the caller.
void ExpectKind(QWidget& widget, const Control& c) {
  const std::string& name = c.name;
  auto* label = qobject_cast<QLabel*>(&widget);
  auto* button = qobject_cast<QPushButton*>(&widget);
  switch (c.kind) {
    case Kind::kIcon:
      ASSERT_TRUE(label) << name;
      EXPECT_TRUE(label->text().isEmpty()) << name;
      break;
    case Kind::kText:
    case Kind::kCentredText:
      ASSERT_TRUE(label) << name;
      EXPECT_EQ(label->text().toStdString(), c.text) << name;
      EXPECT_TRUE(label->wordWrap()) << name;
      ExpectAlignment(*label, c.kind == Kind::kText ? Qt::AlignLeft : Qt::AlignHCenter, Qt::AlignTop, name);
      break;
    case Kind::kVCentredText:
      ASSERT_TRUE(label) << name;
      EXPECT_EQ(label->text().toStdString(), c.text) << name;
      ExpectAlignment(*label, Qt::AlignLeft, Qt::AlignVCenter, name);
      break;
    case Kind::kEdit: {
      auto* edit = qobject_cast<QLineEdit*>(&widget);
      ASSERT_TRUE(edit) << name;
      EXPECT_TRUE(edit->text().isEmpty()) << name;
      EXPECT_TRUE(edit->hasFrame()) << name;
      EXPECT_FALSE(edit->isReadOnly()) << name;
      EXPECT_EQ(edit->echoMode(), QLineEdit::Normal) << name;
      break;
    }
    case Kind::kButton:
    case Kind::kDefaultButton:
      ASSERT_TRUE(button) << name;
      EXPECT_EQ(button->text().toStdString(), c.text) << name;
      EXPECT_EQ(button->isDefault(), c.kind == Kind::kDefaultButton) << name;
      break;
    case Kind::kGroupBox: {
      auto* group = qobject_cast<QGroupBox*>(&widget);
      ASSERT_TRUE(group) << name;
      EXPECT_EQ(group->title().toStdString(), c.text) << name;
      EXPECT_FALSE(group->isCheckable()) << name;
      break;
    }
    case Kind::kRadio: {
      auto* radio = qobject_cast<QRadioButton*>(&widget);
      ASSERT_TRUE(radio) << name;
      EXPECT_EQ(radio->text().toStdString(), c.text) << name;
      EXPECT_FALSE(radio->isChecked()) << name;
      ASSERT_TRUE(radio->group()) << name << " is in no button group";
      EXPECT_EQ(radio->group()->objectName().toStdString(), "radiogroup_" + c.radioGroup) << name;
      EXPECT_TRUE(radio->group()->exclusive()) << name;
      break;
    }
    case Kind::kReportList: {
      auto* list = qobject_cast<QTreeView*>(&widget);
      ASSERT_TRUE(list) << name;
      EXPECT_FALSE(qobject_cast<QTreeWidget*>(&widget)) << name << ": rows come from the dialog's model";
      EXPECT_FALSE(list->model()) << name << ": the dialog gives the model and its columns";
      EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection) << name;
      EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows) << name;
      EXPECT_FALSE(list->rootIsDecorated()) << name;
      EXPECT_FALSE(list->isSortingEnabled()) << name << ": the dialog sorts";
      EXPECT_FALSE(list->isHeaderHidden()) << name;
      EXPECT_FALSE(list->header()->stretchLastSection()) << name;
      EXPECT_NE(list->frameShape(), QFrame::NoFrame) << name;
      break;
    }
    case Kind::kProgressBar: {
      auto* bar = qobject_cast<QProgressBar*>(&widget);
      ASSERT_TRUE(bar) << name;
      EXPECT_EQ(bar->minimum(), 0) << name;
      EXPECT_EQ(bar->value(), 0) << name;
      EXPECT_FALSE(bar->isTextVisible()) << name;
      break;
    }
    case Kind::kDatePicker: {
      auto* picker = qobject_cast<QDateEdit*>(&widget);
      ASSERT_TRUE(picker) << name;
      EXPECT_TRUE(picker->calendarPopup()) << name;
      EXPECT_EQ(picker->displayedSections(),
                QDateTimeEdit::DaySection | QDateTimeEdit::MonthSection | QDateTimeEdit::YearSection)
          << name << ": a date only";
      break;
    }
    case Kind::kListBox: {
      auto* list = qobject_cast<QListWidget*>(&widget);
      ASSERT_TRUE(list) << name;
      EXPECT_TRUE(list->isSortingEnabled()) << name;
      EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection) << name;
      EXPECT_EQ(list->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff) << name;
      EXPECT_NE(list->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff) << name;
      EXPECT_NE(list->frameShape(), QFrame::NoFrame) << name;
      break;
    }
  }
}

TEST_P(FormTest, LoadsAsTheTemplateLaysItOut) {
  ASSERT_TRUE(RegisterResourceLibrary());
  const Form& form = GetParam();
  std::unique_ptr<QWidget> widget = Load(form);
  ASSERT_TRUE(widget);
  auto* dialog = qobject_cast<QDialog*>(widget.get());
  ASSERT_TRUE(dialog) << "the form is a " << widget->metaObject()->className();

  EXPECT_EQ(dialog->objectName().toStdString(), "dialog_" + std::to_string(form.id));
  EXPECT_EQ(dialog->windowTitle().toStdString(), form.caption);
  const QSize size(Horizontal(form.width), Vertical(form.height));
  EXPECT_EQ(dialog->size(), size);
  EXPECT_EQ(dialog->font().family().toStdString(), "MS Sans Serif");
  EXPECT_EQ(dialog->font().pointSize(), 8);
  EXPECT_FALSE(dialog->isSizeGripEnabled());

  const bool resizable = form.frame == Frame::kResizableWithMinMax;
  if (resizable) {
    EXPECT_EQ(dialog->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
  } else {
    EXPECT_EQ(dialog->minimumSize(), size);
    EXPECT_EQ(dialog->maximumSize(), size);
  }
  const QVariant systemMenu = dialog->property("systemMenu");
  const QVariant minMaxButtons = dialog->property("minMaxButtons");
  ASSERT_TRUE(systemMenu.isValid() && minMaxButtons.isValid());
  EXPECT_EQ(systemMenu.toBool(), form.frame != Frame::kFixedWithoutSystemMenu);
  EXPECT_EQ(minMaxButtons.toBool(), resizable);

  // Every control of the template and nothing else, each a direct child.
  const QList<QWidget*> children = dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  EXPECT_EQ(children.size(), static_cast<qsizetype>(form.controls.size()));
  std::vector<std::string> tabOrder;
  std::set<std::string> groups;
  for (const Control& c : form.controls) {
    SCOPED_TRACE("control " + c.name);
    QWidget* control = dialog->findChild<QWidget*>(QString::fromStdString(c.name), Qt::FindDirectChildrenOnly);
    if (!control) {
      ADD_FAILURE() << "no control " << c.name;
      continue;
    }
    EXPECT_EQ(control->geometry(), Place(c));
    EXPECT_TRUE(control->isEnabled());
    ExpectKind(*control, c);
    EXPECT_EQ(bool(control->focusPolicy() & Qt::TabFocus), TakesFocus(c.kind));
    if (TakesFocus(c.kind)) tabOrder.push_back(c.name);
    if (!c.radioGroup.empty()) groups.insert("radiogroup_" + c.radioGroup);
  }

  // Each radio group holds the buttons that the template groups with the one starting it.
  const QList<QButtonGroup*> buttonGroups = dialog->findChildren<QButtonGroup*>();
  EXPECT_EQ(buttonGroups.size(), static_cast<qsizetype>(groups.size()));
  for (QButtonGroup* group : buttonGroups) {
    std::set<std::string> members, expected;
    for (QAbstractButton* b : group->buttons()) members.insert(b->objectName().toStdString());
    for (const Control& c : form.controls)
      if ("radiogroup_" + c.radioGroup == group->objectName().toStdString()) expected.insert(c.name);
    EXPECT_EQ(members, expected) << group->objectName().toStdString();
  }

  // Tab moves through the controls in template order and round again.
  std::vector<std::string> chain;
  std::set<std::string> known(tabOrder.begin(), tabOrder.end());
  for (QWidget* w = dialog->nextInFocusChain(); w != dialog; w = w->nextInFocusChain()) {
    std::string name = w->objectName().toStdString();
    if (w->parentWidget() == dialog && known.count(name)) chain.push_back(name);
  }
  EXPECT_EQ(chain, tabOrder);
}

std::string FormName(const testing::TestParamInfo<Form>& info) { return "Dialog" + std::to_string(info.param.id); }

INSTANTIATE_TEST_SUITE_P(Library, FormTest, testing::ValuesIn(Forms()), FormName);

}  // namespace
