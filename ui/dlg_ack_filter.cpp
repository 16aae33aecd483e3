#include "ui/dlg_ack_filter.h"

#include <QDateEdit>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <system_error>

#include "acklog/ack_log_settings.h"
#include "callback/alarm_log_instance.h"
#include "ui/dialog_result.h"
#include "ui/list_ctrl_ex.h"
#include "ui/local_time.h"
#include "ui/message_box.h"
#include "ui/resource_library.h"
#include "ui/string_ids.h"

namespace {

// The radio buttons of each group, in the order of the values they stand for.
constexpr int kLocationRadios[] = {CDlgAckFilter::kRemoteRadio, CDlgAckFilter::kLocalRadio,
                                   CDlgAckFilter::kCustomFolderRadio};
constexpr int kRangeRadios[] = {CDlgAckFilter::kTodayRadio, CDlgAckFilter::kAllDatesRadio, CDlgAckFilter::kRangeRadio};
constexpr int kAreaRadios[] = {CDlgAckFilter::kAllAreasRadio, CDlgAckFilter::kCustomAreasRadio};

// The first year of the log's dates.
constexpr int kFirstYear = 100;

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

}  // namespace

CDlgAckFilter::CDlgAckFilter(QWidget* parent, const ae::Clock& clock)
    : CResourceDialog(kDialogId, parent), clock_(clock) {
  if (auto* browse = Control<QPushButton>(kBrowseButton)) {
    connect(browse, &QPushButton::clicked, this, [this] {
      auto* edit = Control<QLineEdit>(kCustomFolderEdit);
      if (!edit) return;
      std::string folder;
      if (CListCtrlEx::BrowseForFolder(edit->text().toStdString(), CResourceLibrary::String(kStringChooseCustomFolder),
                                       folder)) {
        edit->setText(QString::fromStdString(folder));
      }
    });
  }
  for (int id : {kRemoteRadio, kLocalRadio, kCustomFolderRadio, kTodayRadio, kAllDatesRadio, kRangeRadio,
                 kAllAreasRadio, kCustomAreasRadio}) {
    if (auto* radio = Control<QRadioButton>(id))
      connect(radio, &QRadioButton::toggled, this, [this] { ApplyEnablingRule(); });
  }
  auto* from = Control<QDateEdit>(kFromPicker);
  auto* to = Control<QDateEdit>(kToPicker);
  if (from && to) {
    from->setMinimumDate(QDate(kFirstYear, 1, 1));
    to->setMinimumDate(QDate(kFirstYear, 1, 1));
    connect(from, &QDateEdit::dateChanged, this, [to](QDate date) {
      if (date > to->date()) to->setDate(date);
    });
    connect(to, &QDateEdit::dateChanged, this, [from](QDate date) {
      if (date < from->date()) from->setDate(date);
    });
  }
}

bool CDlgAckFilter::Checked(int radio) const {
  auto* button = Control<QRadioButton>(radio);
  return button && button->isChecked();
}

bool CDlgAckFilter::OnInitDialog() {
  auto check = [this](const auto& radios, int32_t value) {
    const int count = static_cast<int>(std::size(radios));
    if (value < 0 || value >= count) return;
    if (auto* radio = Control<QRadioButton>(radios[value])) radio->setChecked(true);
  };
  check(kLocationRadios, GetFilterDisplayLocation());
  check(kRangeRadios, GetFilterDisplayRange());
  check(kAreaRadios, GetFilterDisplayArea());

  auto* from = Control<QDateEdit>(kFromPicker);
  auto* to = Control<QDateEdit>(kToPicker);
  // The stored dates go in as they are: only the operator's changes drag.
  if (from) {
    QSignalBlocker quiet(from);
    from->setDate(ToQDate(GetFilterFromDate(clock_)));
  }
  if (to) {
    QSignalBlocker quiet(to);
    to->setDate(ToQDate(GetFilterToDate(clock_)));
  }
  if (auto* edit = Control<QLineEdit>(kCustomFolderEdit)) edit->setText(QString::fromStdString(GetFilterCustomPath()));

  std::set<std::string> stored;
  GetFilterCustomAreas(stored);
  std::set<std::string> areas;
  if (CAlarmLog* log = g_pAlarmLog) log->GetKnownAreas(areas);
  areas.insert(stored.begin(), stored.end());
  if (auto* list = Control<QListWidget>(kAreaList)) {
    list->clear();
    for (const std::string& area : areas) {
      if (area.empty()) continue;
      auto* item = new QListWidgetItem(QString::fromStdString(area), list);
      item->setSelected(stored.count(area) != 0);
    }
  }

  ApplyEnablingRule();
  return true;
}

void CDlgAckFilter::ApplyEnablingRule() {
  const bool customFolder = Checked(kCustomFolderRadio);
  const bool range = Checked(kRangeRadio);
  const bool customAreas = Checked(kCustomAreasRadio);
  for (int id : {kCustomFolderEdit, kBrowseButton})
    if (auto* control = Control<QWidget>(id)) control->setEnabled(customFolder);
  for (int id : {kFromPicker, kToPicker})
    if (auto* control = Control<QWidget>(id)) control->setEnabled(range);
  if (auto* list = Control<QWidget>(kAreaList)) list->setEnabled(customAreas);
}

void CDlgAckFilter::OnOK() {
  auto* edit = Control<QLineEdit>(kCustomFolderEdit);
  const std::string folder = edit ? edit->text().toStdString() : std::string();
  if (Checked(kCustomFolderRadio) && !IsDirectory(folder) &&
      CMessageBox::Show(this, CResourceLibrary::String(kStringInvalidDirectory),
                        CResourceLibrary::Format(kStringNoSuchDirectory, {QString::fromStdString(folder)}),
                        CMessageBox::Buttons::OkCancel, CMessageBox::Icon::NoIcon) != IDOK) {
    return;
  }
  SetFilterCustomPath(folder);

  auto store = [this](const auto& radios, LONG (*set)(DWORD)) {
    for (DWORD value = 0; value < std::size(radios); ++value) {
      if (Checked(radios[value])) {
        set(value);
        return;
      }
    }
  };
  store(kLocationRadios, SetFilterDisplayLocation);
  store(kRangeRadios, SetFilterDisplayRange);

  std::set<std::string> selected;
  if (auto* list = Control<QListWidget>(kAreaList)) {
    for (QListWidgetItem* item : list->selectedItems()) selected.insert(item->text().toStdString());
  }
  enum AreaMode : DWORD { kAllAreas = 0, kCustomAreas = 1 };
  if (Checked(kAllAreasRadio)) {
    SetFilterDisplayArea(kAllAreas);
  } else if (Checked(kCustomAreasRadio)) {
    // Custom with nothing chosen shows everything, and says so.
    SetFilterDisplayArea(selected.empty() ? kAllAreas : kCustomAreas);
  }

  if (auto* from = Control<QDateEdit>(kFromPicker)) SetFilterFromDate(FromQDate(from->date()));
  if (auto* to = Control<QDateEdit>(kToPicker)) SetFilterToDate(FromQDate(to->date()));
  SetFilterCustomAreas(selected);
  EndDialog(IDOK);
}
