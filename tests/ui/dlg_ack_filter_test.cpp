// The filter dialog: its form, what it opens with (the stored modes, dates,
// folder, the known and the stored areas), the enabling rule, the dragging
// date pickers, and what OK stores (Cancel: nothing).
#include <gtest/gtest.h>

#include <QDateEdit>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "ack_log_test_support.h"
#include "acklog/ack_log_settings.h"
#include "acklog/log_reader.h"
#include "ui/dialog_result.h"
#include "ui/dlg_ack_filter.h"

namespace {

using Filter = CDlgAckFilter;

class FilterTest : public AckLogUiTest {
 protected:
  // The log learns these areas as the viewer loads records of them.
  void KnowAreas(const std::vector<std::string>& areas) {
    std::vector<AckRecord> records;
    for (const std::string& area : areas) records.push_back(MakeRecord(area, Utc(2024, 5, 1)));
    WriteDay(remote_, "2024-05-01", records);
    std::vector<AckRecord> loaded;
    ComPtr<ProgressHandle> progress = ProgressHandle::Create();
    log_->LoadRecords(remote_, CDateTime(), CDateTime(), {}, loaded, *progress.Get());
  }

  QRadioButton& Radio(Filter& d, int id) { return *d.Control<QRadioButton>(id); }
  std::vector<int> CheckedRadios(Filter& d) {
    std::vector<int> checked;
    for (int id : {1015, 1016, 1017, 1011, 1012, 1013, 1018, 1019})
      if (Radio(d, id).isChecked()) checked.push_back(id);
    return checked;
  }
  std::vector<std::pair<std::string, bool>> Areas(Filter& d) {
    std::vector<std::pair<std::string, bool>> areas;
    auto* list = d.Control<QListWidget>(Filter::kAreaList);
    for (int i = 0; i < list->count(); ++i)
      areas.emplace_back(list->item(i)->text().toStdString(), list->item(i)->isSelected());
    return areas;
  }
  void SelectAreas(Filter& d, const std::set<std::string>& areas) {
    auto* list = d.Control<QListWidget>(Filter::kAreaList);
    for (int i = 0; i < list->count(); ++i)
      list->item(i)->setSelected(areas.count(list->item(i)->text().toStdString()) != 0);
  }
  bool Enabled(Filter& d, int id) { return d.Control<QWidget>(id)->isEnabled(); }
  QDateEdit& Picker(Filter& d, int id) { return *d.Control<QDateEdit>(id); }
  std::set<std::string> StoredAreas() {
    std::set<std::string> areas;
    GetFilterCustomAreas(areas);
    return areas;
  }
};

TEST_F(FilterTest, OpensWithTheStoredSettingsAsItsTemplateLaysItOut) {
  KnowAreas({"Plant/Tanks", "Plant/Boilers", ""});
  SetFilterDisplayLocation(2);
  SetFilterDisplayRange(2);
  SetFilterDisplayArea(1);
  SetFilterFromDate(Utc(2024, 5, 1));
  SetFilterToDate(Utc(2024, 5, 9));
  // "Old/Unit" is no area the log knows; it is listed all the same.
  SetFilterCustomAreas({"Plant/Tanks", "Old/Unit"});
  Filter dialog(nullptr);
  RunModal(dialog, [&] {
    ExpectLaidOutAsTemplate(dialog, 1003);
    EXPECT_EQ(CheckedRadios(dialog), (std::vector<int>{1017, 1013, 1019}));
    EXPECT_EQ(dialog.Control<QLineEdit>(Filter::kCustomFolderEdit)->text().toStdString(), custom_);
    EXPECT_EQ(Picker(dialog, 1010).date(), QDate(2024, 5, 1));
    EXPECT_EQ(Picker(dialog, 1014).date(), QDate(2024, 5, 9));
    EXPECT_EQ(Areas(dialog), (std::vector<std::pair<std::string, bool>>{
                                 {"Old/Unit", true}, {"Plant/Boilers", false}, {"Plant/Tanks", true}}))
        << "sorted, the empty area left out";
    for (int id : {1003, 1004, 1010, 1014, 1021}) EXPECT_TRUE(Enabled(dialog, id)) << id;
    SaveScreenshot(dialog, "dialog_1003");
    dialog.EndDialog(IDCANCEL);
  });
}

TEST_F(FilterTest, StoredValuesOutsideTheGroupsCheckNothing) {
  SetFilterDisplayLocation(3);
  SetFilterDisplayRange(uint32_t(-1));
  SetFilterDisplayArea(2);
  Filter dialog(nullptr);
  RunModal(dialog, [&] {
    EXPECT_TRUE(CheckedRadios(dialog).empty());
    for (int id : {1003, 1004, 1010, 1014, 1021}) EXPECT_FALSE(Enabled(dialog, id)) << id;
    // OK with no radio checked leaves the three modes as they were.
    dialog.Control<QPushButton>(IDOK)->click();
  });
  EXPECT_EQ(GetFilterDisplayLocation(), 3);
  EXPECT_EQ(GetFilterDisplayRange(), -1);
  EXPECT_EQ(GetFilterDisplayArea(), 2);
}

TEST_F(FilterTest, TheEnablingRuleFollowsEveryRadio) {
  Filter dialog(nullptr);
  RunModal(dialog, [&] {
    EXPECT_EQ(CheckedRadios(dialog), (std::vector<int>{1015, 1011, 1018})) << "the defaults";
    struct Step {
      int radio;
      bool folder, pickers, areas;
    };
    for (const Step& step :
         {Step{1017, true, false, false}, Step{1013, true, true, false}, Step{1019, true, true, true},
          Step{1016, false, true, true}, Step{1012, false, false, true}, Step{1018, false, false, false},
          Step{1015, false, false, false}, Step{1011, false, false, false}}) {
      SCOPED_TRACE(step.radio);
      Radio(dialog, step.radio).click();
      EXPECT_EQ(Enabled(dialog, 1003), step.folder);
      EXPECT_EQ(Enabled(dialog, 1004), step.folder);
      EXPECT_EQ(Enabled(dialog, 1010), step.pickers);
      EXPECT_EQ(Enabled(dialog, 1014), step.pickers);
      EXPECT_EQ(Enabled(dialog, 1021), step.areas);
    }
    dialog.EndDialog(IDCANCEL);
  });
}

TEST_F(FilterTest, EachDatePickerDragsTheOther) {
  SetFilterFromDate(Utc(2024, 5, 10));
  SetFilterToDate(Utc(2024, 5, 20));
  Filter dialog(nullptr);
  RunModal(dialog, [&] {
    QDateEdit& from = Picker(dialog, 1010);
    QDateEdit& to = Picker(dialog, 1014);
    from.setDate(QDate(2024, 5, 15));
    EXPECT_EQ(to.date(), QDate(2024, 5, 20)) << "still before: nothing moves";
    from.setDate(QDate(2024, 6, 1));
    EXPECT_EQ(to.date(), QDate(2024, 6, 1));
    to.setDate(QDate(2024, 4, 2));
    EXPECT_EQ(from.date(), QDate(2024, 4, 2));
    to.setDate(QDate(2024, 4, 30));
    EXPECT_EQ(from.date(), QDate(2024, 4, 2));
    dialog.Control<QPushButton>(IDOK)->click();
  });
  EXPECT_EQ(GetFilterFromDate().Format(false), "2024-04-02");
  EXPECT_EQ(GetFilterToDate().Format(false), "2024-04-30");
}

TEST_F(FilterTest, StoredDatesThatCrossAreShownAsTheyAre) {
  SetFilterFromDate(Utc(2024, 5, 20));
  SetFilterToDate(Utc(2024, 5, 10));
  Filter dialog(nullptr);
  RunModal(dialog, [&] {
    EXPECT_EQ(Picker(dialog, 1010).date(), QDate(2024, 5, 20));
    EXPECT_EQ(Picker(dialog, 1014).date(), QDate(2024, 5, 10));
    dialog.EndDialog(IDCANCEL);
  });
}

struct OkCase {
  const char* name;
  int location, range, area;  // radios to click (0: none)
  std::set<std::string> selected;
  int32_t storedLocation, storedRange, storedArea;
  std::set<std::string> storedAreas;
};

class FilterOkTest : public FilterTest, public testing::WithParamInterface<OkCase> {};

TEST_P(FilterOkTest, StoresTheCheckedModesAndTheSelectedAreas) {
  const OkCase& c = GetParam();
  KnowAreas({"A", "B", "C"});
  // Stored before: values no radio stands for, so that "left unchanged" shows.
  SetFilterDisplayLocation(7);
  SetFilterDisplayRange(7);
  SetFilterDisplayArea(7);
  SetFilterCustomAreas({"C"});
  Filter dialog(nullptr);
  EXPECT_EQ(RunModal(dialog,
                     [&] {
                       for (int radio : {c.location, c.range, c.area})
                         if (radio) Radio(dialog, radio).click();
                       SelectAreas(dialog, c.selected);
                       dialog.Control<QPushButton>(IDOK)->click();
                     }),
            IDOK);
  EXPECT_EQ(GetFilterDisplayLocation(), c.storedLocation);
  EXPECT_EQ(GetFilterDisplayRange(), c.storedRange);
  EXPECT_EQ(GetFilterDisplayArea(), c.storedArea);
  EXPECT_EQ(StoredAreas(), c.storedAreas);
  EXPECT_TRUE(boxes_.empty());
}

INSTANTIATE_TEST_SUITE_P(Choices, FilterOkTest,
                         testing::Values(OkCase{"RemoteTodayAll", 1015, 1011, 1018, {}, 0, 0, 0, {}},
                                         OkCase{"LocalAllCustom", 1016, 1012, 1019, {"A", "B"}, 1, 1, 1, {"A", "B"}},
                                         OkCase{"RangeCustomOne", 1015, 1013, 1019, {"C"}, 0, 2, 1, {"C"}},
                                         // Custom with no area selected shows every area.
                                         OkCase{"CustomAreasNoneSelected", 1016, 1011, 1019, {}, 1, 0, 0, {}},
                                         // All areas keeps no list, whatever was selected.
                                         OkCase{"AllWithSelection", 1016, 1011, 1018, {"A"}, 1, 0, 0, {"A"}},
                                         OkCase{"NoRadioChecked", 0, 0, 0, {"B"}, 7, 7, 7, {"B"}},
                                         OkCase{"NoRadioNothingSelected", 0, 0, 0, {}, 7, 7, 7, {}}),
                         [](const testing::TestParamInfo<OkCase>& info) { return std::string(info.param.name); });

TEST_F(FilterTest, AMissingCustomFolderIsQuestionedAndStoredOnlyAfterOK) {
  const std::string missing = custom_ + "/gone";
  Filter dialog(nullptr);
  answers_ = {IDCANCEL, IDOK};
  EXPECT_EQ(RunModal(dialog,
                     [&] {
                       Radio(dialog, 1017).click();
                       dialog.Control<QLineEdit>(Filter::kCustomFolderEdit)->setText(QString::fromStdString(missing));
                       dialog.Control<QPushButton>(IDOK)->click();
                       EXPECT_TRUE(dialog.isVisible()) << "Cancel keeps the dialog open";
                       EXPECT_EQ(GetFilterCustomPath(), custom_) << "and stores nothing";
                       dialog.Control<QPushButton>(IDOK)->click();
                     }),
            IDOK);
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[0].caption.toStdString(), "Invalid Directory");
  EXPECT_EQ(boxes_[0].text.toStdString(),
            "Directory does not exist: \"" + missing + "\"\nDo you want to save this value?");
  EXPECT_EQ(boxes_[0].buttons, CMessageBox::Buttons::OkCancel);
  EXPECT_EQ(GetFilterCustomPath(), missing);
  EXPECT_EQ(GetFilterDisplayLocation(), 2);
}

TEST_F(FilterTest, TheCustomFolderIsStoredWhateverLocationIsCheckedWithoutAQuestion) {
  const std::string missing = custom_ + "/gone";
  Filter dialog(nullptr);
  RunModal(dialog, [&] {
    dialog.Control<QLineEdit>(Filter::kCustomFolderEdit)->setText(QString::fromStdString(missing));
    dialog.Control<QPushButton>(IDOK)->click();
  });
  EXPECT_TRUE(boxes_.empty()) << "Remote is checked: the folder is not looked at";
  EXPECT_EQ(GetFilterCustomPath(), missing);
}

TEST_F(FilterTest, CancelStoresNothing) {
  KnowAreas({"A"});
  Filter dialog(nullptr);
  EXPECT_EQ(RunModal(dialog,
                     [&] {
                       Radio(dialog, 1016).click();
                       Radio(dialog, 1012).click();
                       Radio(dialog, 1019).click();
                       SelectAreas(dialog, {"A"});
                       Picker(dialog, 1010).setDate(QDate(2020, 1, 1));
                       dialog.Control<QLineEdit>(Filter::kCustomFolderEdit)->setText("/elsewhere");
                       dialog.Control<QPushButton>(IDCANCEL)->click();
                     }),
            IDCANCEL);
  EXPECT_EQ(GetFilterDisplayLocation(), 0);
  EXPECT_EQ(GetFilterDisplayRange(), 0);
  EXPECT_EQ(GetFilterDisplayArea(), 0);
  EXPECT_TRUE(StoredAreas().empty());
  EXPECT_EQ(GetFilterCustomPath(), custom_);
  EXPECT_NE(GetFilterFromDate().Format(false), "2020-01-01");
}

TEST_F(FilterTest, BrowsePicksTheCustomFolder) {
  const std::string chosen = custom_ + "/archive";
  std::filesystem::create_directories(chosen);
  Filter dialog(nullptr);
  QString title, opened;
  RunModal(dialog, [&] {
    Radio(dialog, 1017).click();
    WhenModalIs<QFileDialog>([&](QFileDialog& picker) {
      title = picker.windowTitle();
      opened = picker.directory().absolutePath();
      // Opened at the folder rather than selected in its parent, whose
      // listing the picker loads in the background.
      picker.setDirectory(QString::fromStdString(chosen));
      QMetaObject::invokeMethod(&picker, "accept");
    });
    dialog.Control<QPushButton>(Filter::kBrowseButton)->click();
    EXPECT_EQ(dialog.Control<QLineEdit>(Filter::kCustomFolderEdit)->text().toStdString(), chosen);
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_EQ(title, "Choose a custom log directory");
  EXPECT_EQ(opened.toStdString(), custom_);
}

}  // namespace
