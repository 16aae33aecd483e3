// The dialog templates of the resource library as a table: every form with
// its caption, size in dialog units, frame, and every control with its ID
// (or kind_N name), kind, text, place in dialog units and radio group, in
// template order (the tab order); and the conversion of dialog units to
// pixels the forms use (1.5 px per horizontal, 1.625 px per vertical unit,
// halves rounded up). For the tests of the forms and of the dialogs built
// from them. Plain data: any thread.
#pragma once

#include <QRect>
#include <QSize>

#include <ostream>
#include <string>
#include <vector>

// Readable failures for the Qt geometry types.
void PrintTo(const QRect& r, std::ostream* out);
void PrintTo(const QSize& s, std::ostream* out);

namespace dialog_templates {

enum class Kind {
  kIcon,            // the program puts its icon there
  kText,            // static text, left-aligned
  kCentredText,     // static text, centred
  kVCentredText,    // static text, vertically centred
  kEdit,            // bordered, auto horizontal scroll
  kButton,
  kDefaultButton,
  kGroupBox,
  kRadio,           // automatic radio button, exclusive within its group
  kReportList,      // list view in report style, single selection
  kProgressBar,
  kDatePicker,      // short date with a drop-down calendar
  kListBox,         // sorted, extended selection
};

enum class Frame {
  kFixedWithSystemMenu,
  kFixedWithoutSystemMenu,
  kResizableWithMinMax,
};

struct Control {
  std::string name;  // the control ID, or kind_N for a control without one
  Kind kind;
  std::string text;
  int x, y, width, height;  // dialog units
  std::string radioGroup = {};  // the ID of the radio button that starts the group
};

struct Form {
  int id;
  std::string caption;
  int width, height;  // dialog units
  Frame frame;
  std::vector<Control> controls;  // in template order, which is the tab order
};

void PrintTo(const Form& form, std::ostream* out);

int Horizontal(int units);
int Vertical(int units);
// The control's geometry in pixels.
QRect Place(const Control& c);
// The form's size in pixels.
QSize Size(const Form& form);
// Whether the kind of control takes the focus with Tab.
bool TakesFocus(Kind kind);

// Every form of the library, in ID order.
const std::vector<Form>& Forms();
// The form of a dialog ID. REQUIRES: the ID is one of Forms().
const Form& FormOf(int id);

}  // namespace dialog_templates
