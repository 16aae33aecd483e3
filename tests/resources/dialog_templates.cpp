#include "dialog_templates.h"

#include <stdexcept>

void PrintTo(const QRect& r, std::ostream* out) {
  *out << "(" << r.x() << ", " << r.y() << ", " << r.width() << ", " << r.height() << ")";
}
void PrintTo(const QSize& s, std::ostream* out) { *out << s.width() << " x " << s.height(); }

namespace dialog_templates {

void PrintTo(const Form& form, std::ostream* out) { *out << "dialog " << form.id; }

int Horizontal(int units) { return (3 * units + 1) / 2; }
int Vertical(int units) { return (13 * units + 4) / 8; }
QRect Place(const Control& c) {
  return QRect(Horizontal(c.x), Vertical(c.y), Horizontal(c.width), Vertical(c.height));
}

bool TakesFocus(Kind kind) {
  switch (kind) {
    case Kind::kIcon:
    case Kind::kText:
    case Kind::kCentredText:
    case Kind::kVCentredText:
    case Kind::kGroupBox:
    case Kind::kProgressBar:
      return false;
    default:
      return true;
  }
}

QSize Size(const Form& form) { return QSize(Horizontal(form.width), Vertical(form.height)); }

const std::vector<Form>& Forms() {
  static const std::vector<Form> forms = {
      {100, "About Corvane Plantwise OPC AE Server", 217, 74, Frame::kFixedWithSystemMenu,
       {
           {"icon_1", Kind::kIcon, "", 7, 7, 20, 20},
           {"static_1", Kind::kText, "Plantwise OPC AE Server", 36, 10, 141, 8},
           {"1", Kind::kDefaultButton, "OK", 178, 7, 32, 14},
           {"1017", Kind::kText, "", 36, 58, 141, 8},
           {"1018", Kind::kText, "", 36, 22, 141, 8},
           {"1020", Kind::kText, "", 36, 34, 141, 8},
           {"1021", Kind::kText, "", 36, 46, 141, 8},
       }},
      {134, "Set Statistics Sample Period", 187, 85, Frame::kFixedWithSystemMenu,
       {
           {"static_1", Kind::kCentredText, "Enter Statistics Sample Period (milliseconds):", 7, 16, 173, 14},
           {"1000", Kind::kEdit, "", 58, 35, 68, 13},
           {"1", Kind::kDefaultButton, "&OK", 11, 62, 50, 14},
           {"2", Kind::kButton, "&Cancel", 69, 62, 50, 14},
           {"1024", Kind::kButton, "&Help", 126, 62, 50, 14},
       }},
      {143, "Edit Ralto Stewardry Edition OPC Server Connection", 267, 86, Frame::kFixedWithSystemMenu,
       {
           {"group_1", Kind::kGroupBox, "Connection Information", 7, 6, 252, 51},
           {"static_1", Kind::kVCentredText, "Server", 13, 20, 52, 12},
           {"1000", Kind::kEdit, "", 82, 20, 171, 12},
           {"static_2", Kind::kVCentredText, "Update Rate (ms)", 13, 38, 68, 12},
           {"1001", Kind::kEdit, "", 81, 38, 40, 12},
           {"1", Kind::kDefaultButton, "&OK", 42, 68, 50, 14},
           {"2", Kind::kButton, "&Cancel", 105, 68, 50, 14},
           {"1018", Kind::kButton, "&Help", 169, 68, 50, 14},
       }},
      {1000, "Alarm Acknowledgement Comments", 518, 274, Frame::kResizableWithMinMax,
       {
           {"1002", Kind::kReportList, "", 0, 0, 518, 148},
           {"1006", Kind::kButton, "&Filter...", 5, 160, 40, 14},
           {"1007", Kind::kButton, "&Refresh", 51, 160, 40, 14},
           {"1008", Kind::kButton, "&Close", 436, 259, 40, 14},
           {"1009", Kind::kButton, "&Help", 477, 259, 40, 14},
       }},
      {1001, "Loading Data...", 186, 47, Frame::kFixedWithSystemMenu,
       {
           {"1007", Kind::kProgressBar, "", 7, 7, 172, 9},
           {"2", Kind::kButton, "Cancel", 62, 23, 50, 14},
       }},
      {1002, "Acknowledgement Comments Log", 316, 74, Frame::kFixedWithoutSystemMenu,
       {
           {"static_1", Kind::kText, "Local Path:", 7, 11, 48, 12},
           {"1008", Kind::kEdit, "", 59, 7, 230, 15},
           {"1009", Kind::kButton, "...", 293, 7, 16, 14},
           {"static_2", Kind::kText, "Remote Path:", 7, 31, 48, 12},
           {"1005", Kind::kEdit, "", 59, 28, 230, 15},
           {"1006", Kind::kButton, "...", 293, 29, 16, 14},
           {"1", Kind::kDefaultButton, "OK", 105, 53, 50, 14},
           {"2", Kind::kButton, "Cancel", 163, 53, 50, 14},
       }},
      {1003, "Filter settings", 339, 306, Frame::kFixedWithoutSystemMenu,
       {
           {"group_1", Kind::kGroupBox, "Log files location", 7, 7, 325, 63},
           {"1015", Kind::kRadio, "&Remote log directory", 22, 21, 81, 10, "1015"},
           {"1016", Kind::kRadio, "&Local log directory", 22, 35, 73, 10, "1015"},
           {"1017", Kind::kRadio, "&Custom:", 22, 49, 41, 10, "1015"},
           {"1003", Kind::kEdit, "", 67, 48, 237, 15},
           {"1004", Kind::kButton, "...", 309, 48, 16, 14},
           {"group_2", Kind::kGroupBox, "Date filter", 7, 78, 325, 63},
           {"1011", Kind::kRadio, "&Today", 22, 91, 36, 10, "1011"},
           {"1012", Kind::kRadio, "&All", 22, 105, 23, 10, "1011"},
           {"1013", Kind::kRadio, "Ran&ge:", 22, 119, 39, 10, "1011"},
           {"1010", Kind::kDatePicker, "", 67, 118, 96, 14},
           {"static_1", Kind::kText, "to", 169, 119, 10, 10},
           {"1014", Kind::kDatePicker, "", 183, 118, 96, 14},
           {"group_3", Kind::kGroupBox, "Area filter", 7, 149, 325, 124},
           {"1018", Kind::kRadio, "A&ll", 22, 162, 23, 10, "1018"},
           {"1019", Kind::kRadio, "Custo&m", 22, 176, 39, 10, "1018"},
           {"1021", Kind::kListBox, "", 65, 177, 257, 87},
           {"1", Kind::kDefaultButton, "OK", 119, 285, 50, 14},
           {"2", Kind::kButton, "Cancel", 176, 285, 50, 14},
       }},
  };
  return forms;
}

const Form& FormOf(int id) {
  for (const Form& form : Forms())
    if (form.id == id) return form;
  throw std::out_of_range("no dialog template " + std::to_string(id));
}

}  // namespace dialog_templates
