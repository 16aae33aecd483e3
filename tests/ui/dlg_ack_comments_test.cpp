// The comments viewer: its form and its layout on every size, the columns
// and the status panes, sorting by header clicks with the markers, the
// days, areas and folders it loads, Filter on Selected Date/Area, the
// context menu through the installed command map, a cancelled load and the
// refresh right after it, the Filter... and Help buttons.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <set>
#include <string>
#include <vector>

#include "ack_log_test_support.h"
#include "acklog/ack_log_settings.h"
#include "acklog/log_document.h"
#include "platform/clock.h"
#include "tests/resources/dialog_templates.h"
#include "ui/command_map.h"
#include "ui/dialog_result.h"
#include "ui/dlg_ack_comments.h"
#include "ui/dlg_ack_filter.h"
#include "ui/dlg_progress.h"
#include "ui/html_help.h"

namespace {

using namespace dialog_templates;
using Model = CAckRecordModel;

FILETIME FileTimeOf(const CDateTime& time) {
  FILETIME ft;
  EXPECT_TRUE(time.ToFileTime(ft));
  return ft;
}

class ViewerTest : public AckLogUiTest {
 protected:
  void SetUp() override {
    AckLogUiTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(SetFilterDisplayRange(1), 0);  // every day, unless a test says otherwise
    clock_.SetUtc(FileTimeOf(Utc(2024, 5, 3, 12)));
    viewer_ = std::make_unique<CDlgAckComments>(clock_);
  }
  void TearDown() override {
    viewer_.reset();
    AckLogUiTest::TearDown();
  }

  std::vector<std::string> Shown(int column = Model::kOperator) {
    std::vector<std::string> texts;
    const Model& model = viewer_->Records();
    for (int row = 0; row < model.rowCount(); ++row)
      texts.push_back(model.data(model.index(row, column)).toString().toStdString());
    return texts;
  }
  std::string Header(int column) {
    return viewer_->Records().headerData(column, Qt::Horizontal).toString().toStdString();
  }
  std::string Pane(int id) {
    auto* pane = viewer_->StatusBar()->findChild<QLabel*>(QString::number(id));
    return pane ? pane->text().toStdString() : "<no pane " + std::to_string(id) + ">";
  }
  QTreeView& List() { return *viewer_->List().View(); }
  void ClickHeader(int column, Qt::MouseButton button = Qt::LeftButton) {
    QHeaderView* header = List().header();
    QTest::mouseClick(header->viewport(), button, {},
                      QPoint(header->sectionViewportPosition(column) + 10, header->height() / 2));
  }
  void SelectRow(int row) {
    List().selectionModel()->select(viewer_->Records().index(row, 0),
                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }

  // A right click in the list as the platform delivers it.
  void RightClick(QPoint pos) {
    QWidget* viewport = List().viewport();
    QTest::mousePress(viewport, Qt::RightButton, {}, pos);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, pos, viewport->mapToGlobal(pos));
    QApplication::sendEvent(viewport, &menu);
    QTest::mouseRelease(viewport, Qt::RightButton, {}, pos);
  }

  ae::ManualClock clock_;
  std::unique_ptr<CDlgAckComments> viewer_;
};

TEST_F(ViewerTest, RegistersItselfForItsLifetime) {
  EXPECT_EQ(g_pAckCommentsDlg, viewer_.get());
  {
    CDlgAckComments second;
    EXPECT_EQ(g_pAckCommentsDlg, &second);
  }
  EXPECT_EQ(g_pAckCommentsDlg, nullptr);
  EXPECT_FALSE(viewer_->parentWidget());
}

TEST_F(ViewerTest, OpensAsTheFormThenLaysItselfOutOnEverySize) {
  const Form& form = FormOf(1000);
  {
    CDlgAckComments asLoaded;
    asLoaded.show();
    ExpectLaidOutAsTemplate(asLoaded, 1000);
  }
  WriteDay(remote_, "2024-05-01",
           {MakeRecord("Plant/Tanks", Utc(2024, 5, 1, 8, 15), "1"),
            MakeRecord("Plant/Boilers", Utc(2024, 5, 1, 9, 40, 12), "2")});
  auto expectLayout = [&](QSize size) {
    SCOPED_TRACE(testing::PrintToString(size));
    ProcessEventsUntil([&] { return viewer_->size() == size; });
    ASSERT_EQ(viewer_->size(), size);
    QStatusBar* bar = viewer_->StatusBar();
    ASSERT_TRUE(bar);
    const int barHeight = bar->height();
    EXPECT_GT(barHeight, 10);
    EXPECT_EQ(bar->geometry(), QRect(0, size.height() - barHeight, size.width(), barHeight));
    // The buttons keep the form's sizes; Filter... keeps its place across.
    const int top = size.height() - barHeight - 7 - Vertical(14);
    auto button = [&](int id) { return viewer_->Control<QPushButton>(id)->geometry(); };
    const QSize buttonSize(Horizontal(40), Vertical(14));
    EXPECT_EQ(button(1006), QRect(QPoint(Horizontal(5), top), buttonSize));
    EXPECT_EQ(button(1007), QRect(QPoint(Horizontal(5) + Horizontal(40) + 7, top), buttonSize));
    EXPECT_EQ(button(1009), QRect(QPoint(size.width() - 7 - Horizontal(40), top), buttonSize));
    EXPECT_EQ(button(1008), QRect(QPoint(size.width() - 7 - Horizontal(40) - 7 - Horizontal(40), top), buttonSize));
    EXPECT_EQ(List().geometry(), QRect(7, 7, size.width() - 14, top - 14));
  };
  EXPECT_EQ(RunModal(*viewer_,
                     [&] {
                       EXPECT_EQ(viewer_->minimumSize(), Size(form)) << "no smaller than it opens";
                       expectLayout(Size(form));
                       SaveScreenshot(*viewer_, "dialog_1000");
                       viewer_->resize(1100, 640);
                       expectLayout(QSize(1100, 640));
                       viewer_->resize(300, 200);
                       expectLayout(Size(form));
                       viewer_->Control<QPushButton>(1008)->click();
                     }),
            IDCANCEL);
}

TEST_F(ViewerTest, ShowsNineColumnsWithTheirWidthsAndEachRecordOnOneLine) {
  AckRecord multiline = MakeRecord("Plant/Tanks", Utc(2024, 5, 1, 8, 15), "1");
  multiline.comment = "reset\r\nby hand\tafter\rthe\ncheck";
  WriteDay(remote_, "2024-05-01", {multiline});
  RunModal(*viewer_, [&] {
    EXPECT_EQ(List().header()->count(), 9);
    for (int column = 0; column < 9; ++column)
      EXPECT_EQ(List().columnWidth(column), CDlgAckComments::kColumnWidths[column]) << column;
    EXPECT_EQ(std::vector<int>(std::begin(CDlgAckComments::kColumnWidths), std::end(CDlgAckComments::kColumnWidths)),
              (std::vector<int>{140, 80, 80, 80, 80, 80, 80, 100, 100}));
    ASSERT_EQ(Shown(Model::kComment), (std::vector<std::string>{"reset by hand after the check"}));
    EXPECT_EQ(Shown(Model::kTimestamp), (std::vector<std::string>{"1 May 2024 08:15:00"}));
    EXPECT_EQ(Header(0), "Timestamp  v") << "sorted after the load";
    viewer_->EndDialog(IDCANCEL);
  });
}

TEST_F(ViewerTest, HeaderClicksSortAndMarkTheColumn) {
  WriteDay(remote_, "2024-05-01",
           {MakeRecord("b", Utc(2024, 5, 1, 9), "mid"), MakeRecord("C", Utc(2024, 5, 1, 7), "old")});
  WriteDay(remote_, "2024-05-02", {MakeRecord("a", Utc(2024, 5, 2, 9), "new")});
  RunModal(*viewer_, [&] {
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-old", "op-mid", "op-new"}));
    ClickHeader(Model::kTimestamp);
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-new", "op-mid", "op-old"})) << "newest first";
    EXPECT_EQ(Header(0), "Timestamp  ^");
    ClickHeader(Model::kTimestamp);
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-old", "op-mid", "op-new"}));
    EXPECT_EQ(Header(0), "Timestamp  v");

    ClickHeader(Model::kArea);
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-new", "op-mid", "op-old"})) << "a, b, C";
    EXPECT_EQ(Header(Model::kArea), "Area  v");
    EXPECT_EQ(Header(0), "Timestamp");
    ClickHeader(Model::kArea);
    EXPECT_EQ(Header(Model::kArea), "Area  ^");
    ClickHeader(Model::kTimestamp, Qt::MiddleButton);
    ClickHeader(Model::kTimestamp, Qt::RightButton);
    EXPECT_EQ(viewer_->SortColumn(), int(Model::kArea)) << "only the left button sorts";
    EXPECT_FALSE(viewer_->SortAscending());

    // A reload keeps the sort.
    viewer_->Refresh();
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-old", "op-mid", "op-new"}));
    EXPECT_EQ(Header(Model::kArea), "Area  ^");
    viewer_->EndDialog(IDCANCEL);
  });
}

struct PaneCase {
  const char* name;
  int32_t location, range, area;
  CDateTime from, to;
  std::set<std::string> areas;
  std::string locationPane, datePane, areaPane;  // "<remote>" ...: the fixture's folders
};

class ViewerPaneTest : public ViewerTest, public testing::WithParamInterface<PaneCase> {};

TEST_P(ViewerPaneTest, StatusPanesShowTheSettings) {
  const PaneCase& c = GetParam();
  SetFilterDisplayLocation(DWORD(c.location));
  SetFilterDisplayRange(DWORD(c.range));
  SetFilterDisplayArea(DWORD(c.area));
  SetFilterFromDate(c.from);
  SetFilterToDate(c.to);
  SetFilterCustomAreas(c.areas);
  auto folder = [this](std::string text) {
    if (text == "<remote>") return remote_;
    if (text == "<local>") return local_;
    if (text == "<custom>") return custom_;
    return text;
  };
  RunModal(*viewer_, [&] {
    EXPECT_EQ(Pane(1030), folder(c.locationPane));
    EXPECT_EQ(Pane(1031), c.datePane);
    EXPECT_EQ(Pane(1032), c.areaPane);
    viewer_->EndDialog(IDCANCEL);
  });
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Settings, ViewerPaneTest,
    testing::Values(
        PaneCase{"Defaults", 0, 0, 0, Utc(2024, 5, 1), Utc(2024, 5, 1), {}, "<remote>", "Date Filter: Today",
                 "Area Filter: All"},
        PaneCase{"LocalAll", 1, 1, 0, Utc(2024, 5, 1), Utc(2024, 5, 1), {}, "<local>", "Date Filter: All",
                 "Area Filter: All"},
        PaneCase{"CustomOneDay", 2, 2, 1, Utc(2024, 5, 1), Utc(2024, 5, 1), {"Plant/Tanks"}, "<custom>",
                 "Date Filter: 1 May 2024", "Area Filter: Plant/Tanks"},
        PaneCase{"Range", 0, 2, 1, Utc(2024, 5, 1), Utc(2024, 6, 30), {"B", "A", "C"}, "<remote>",
                 "Date Filter: 1 May 2024 to 30 Jun 2024", "Area Filter: A, B, C"},
        // Values outside the known ones count as the defaults.
        PaneCase{"Unknown", 9, 7, 5, Utc(2024, 5, 1), Utc(2024, 5, 1), {"A"}, "<remote>", "Date Filter: Today",
                 "Area Filter: All"}),
    [](const testing::TestParamInfo<PaneCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(ViewerTest, TheAreaPaneTakesAreasUntilItsListPassesCharacter999) {
  std::set<std::string> areas;
  for (int i = 0; i < 50; ++i)
    areas.insert("area-" + std::string(2 - std::to_string(i).size() + 1, '0') + std::to_string(i) +
                 std::string(22, 'x'));
  ASSERT_EQ(areas.begin()->size(), 30u);
  SetFilterDisplayArea(1);
  SetFilterCustomAreas(areas);
  RunModal(*viewer_, [&] {
    // 31 areas with their separators make 990 characters, so a 32nd follows;
    // with it the list holds 1022, and no more are taken.
    std::string shown = Pane(1032);
    const std::string prefix = "Area Filter: ";
    ASSERT_EQ(shown.substr(0, prefix.size()), prefix);
    shown = shown.substr(prefix.size());
    EXPECT_EQ(shown.size(), 32u * 30 + 31 * 2);
    EXPECT_EQ(shown.substr(shown.size() - 30), *std::next(areas.begin(), 31));
    EXPECT_EQ(viewer_->size(), Size(FormOf(1000))) << "a long pane does not widen the window";
    EXPECT_LE(viewer_->StatusBar()->width(), viewer_->width());

    // A list of exactly 999 characters still takes the next area; 1000 does not.
    SetFilterCustomAreas({std::string(999, 'a'), "b"});
    viewer_->Refresh();
    EXPECT_EQ(Pane(1032), prefix + std::string(999, 'a') + ", b");
    SetFilterCustomAreas({std::string(1000, 'a'), "b"});
    viewer_->Refresh();
    EXPECT_EQ(Pane(1032), prefix + std::string(1000, 'a'));
    viewer_->EndDialog(IDCANCEL);
  });
}

TEST_F(ViewerTest, TheFirstPanesAreAsWideAsTheirTexts) {
  RunModal(*viewer_, [&] {
    for (int id : {1030, 1031}) {
      auto* pane = viewer_->StatusBar()->findChild<QLabel*>(QString::number(id));
      ASSERT_TRUE(pane);
      EXPECT_GE(pane->width(), pane->fontMetrics().horizontalAdvance(pane->text())) << id;
      EXPECT_LE(pane->width(), pane->fontMetrics().horizontalAdvance(pane->text()) + 12) << id;
    }
    viewer_->EndDialog(IDCANCEL);
  });
}

TEST_F(ViewerTest, LoadsTheChosenFolderAndAreas) {
  WriteDay(remote_, "2024-05-01",
           {MakeRecord("A", Utc(2024, 5, 1, 8), "remote-a"), MakeRecord("B", Utc(2024, 5, 1, 9), "remote-b")});
  WriteDay(local_, "CACHE_0", {MakeRecord("A", Utc(2024, 5, 1, 8), "local")});
  WriteDay(custom_, "2023-01-01", {MakeRecord("C", Utc(2023, 1, 1, 8), "custom")});
  RunModal(*viewer_, [&] {
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-remote-a", "op-remote-b"}));
    SetFilterDisplayLocation(1);
    viewer_->Refresh();
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-local"}));
    SetFilterDisplayLocation(2);
    viewer_->Refresh();
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-custom"}));
    SetFilterDisplayLocation(0);
    SetFilterDisplayArea(1);
    SetFilterCustomAreas({"B"});
    viewer_->Refresh();
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-remote-b"}));
    // Custom areas with an empty list restrict nothing.
    SetFilterCustomAreas({});
    viewer_->Refresh();
    EXPECT_EQ(Shown().size(), 2u);
    viewer_->EndDialog(IDCANCEL);
  });
}

// The operator's local days, two hours ahead of UTC here.
TEST_F(ViewerTest, TodayAndACustomDayAreWholeLocalDays) {
  SetTimeZone("XST-2");
  // 00:30 on 2 May, local time.
  clock_.SetUtc(FileTimeOf(Utc(2024, 5, 1, 22, 30)));
  WriteDay(remote_, "2024-05-01",
           {MakeRecord("A", Utc(2024, 5, 1, 21, 59, 59), "1-may-last"),
            MakeRecord("A", Utc(2024, 5, 1, 22, 0, 0), "2-may-first"),
            MakeRecord("A", Utc(2024, 5, 2, 21, 59, 59), "2-may-last"),
            MakeRecord("A", Utc(2024, 5, 2, 22, 0, 1), "3-may")});
  SetFilterDisplayRange(0);
  RunModal(*viewer_, [&] {
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-2-may-first", "op-2-may-last"}));
    EXPECT_EQ(Shown(Model::kTimestamp), (std::vector<std::string>{"2 May 2024 00:00:00", "2 May 2024 23:59:59"}));

    SetFilterDisplayRange(2);
    SetFilterFromDate(Utc(2024, 5, 3));
    SetFilterToDate(Utc(2024, 5, 3));
    viewer_->Refresh();
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-3-may"}));
    EXPECT_EQ(Pane(1031), "Date Filter: 3 May 2024");
    SetFilterFromDate(Utc(2024, 5, 1));
    SetFilterToDate(Utc(2024, 5, 2));
    viewer_->Refresh();
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-1-may-last", "op-2-may-first", "op-2-may-last"}));
    viewer_->EndDialog(IDCANCEL);
  });
}

TEST_F(ViewerTest, FilterOnSelectedDateAndAreaTakeTheSelectedRowOrNothing) {
  SetTimeZone("XST-2");
  WriteDay(remote_, "2024-05-02",
           {MakeRecord("A", Utc(2024, 5, 2, 8), "a"), MakeRecord("B", Utc(2024, 5, 2, 23, 30), "b-late"),
            MakeRecord("B", Utc(2024, 5, 3, 8), "b")});
  SetFilterFromDate(Utc(2024, 4, 1));
  SetFilterToDate(Utc(2024, 4, 2));
  SetFilterCustomAreas({"Z"});
  RunModal(*viewer_, [&] {
    viewer_->FilterOnSelectedDate();
    viewer_->FilterOnSelectedArea();
    EXPECT_EQ(GetFilterFromDate().Format(false), "2024-04-01") << "no row selected";
    EXPECT_EQ(GetFilterToDate().Format(false), "2024-04-02");
    std::set<std::string> areas;
    GetFilterCustomAreas(areas);
    EXPECT_EQ(areas, (std::set<std::string>{"Z"}));

    // 23:30 UTC on 2 May is 01:30 on 3 May here: the viewer's day.
    SelectRow(1);
    viewer_->FilterOnSelectedDate();
    EXPECT_EQ(GetFilterFromDate().Format(false), "2024-05-03");
    EXPECT_EQ(GetFilterToDate().Format(false), "2024-05-03");
    SetFilterDisplayRange(2);
    viewer_->Refresh();
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-b-late", "op-b"})) << "the selected row stays in view";

    SelectRow(0);
    viewer_->FilterOnSelectedArea();
    areas.clear();
    GetFilterCustomAreas(areas);
    EXPECT_EQ(areas, (std::set<std::string>{"B"}));
    viewer_->EndDialog(IDCANCEL);
  });
}

// A command map standing for the main window's: it records what it runs.
struct MenuCommands {
  CCommandMap map;
  std::vector<uint32_t> ran;
  MenuCommands() {
    for (uint32_t id = 32800; id <= 32810; ++id) {
      if (id == 32804) continue;
      map.On(
          id, [this, id] { ran.push_back(id); }, [id](CCmdUI& ui) { ui.SetCheck(id == 32802 || id == 32809); });
    }
    CDlgAckComments::SetMenuCommands(&map);
  }
  ~MenuCommands() { CDlgAckComments::SetMenuCommands(nullptr); }
};

struct MenuItem {
  std::string path;
  bool enabled, checked;
};

std::vector<MenuItem> Items(QMenu& menu, const std::string& prefix = "") {
  std::vector<MenuItem> items;
  for (QAction* action : menu.actions()) {
    const std::string path = prefix + action->text().toStdString();
    if (action->menu()) {
      for (const MenuItem& item : Items(*action->menu(), path + "/")) items.push_back(item);
    } else {
      items.push_back({path, action->isEnabled(), action->isChecked()});
    }
  }
  return items;
}

TEST_F(ViewerTest, ARightClickShowsMenu1003AndItsChoiceGoesToTheCommandMap) {
  MenuCommands commands;
  WriteDay(remote_, "2024-05-01", {MakeRecord("A", Utc(2024, 5, 1, 8), "a"), MakeRecord("B", Utc(2024, 5, 1, 9), "b")});
  std::vector<MenuItem> shown;
  RunModal(*viewer_, [&] {
    // Date Filter, All: down to the second popup, into it, down to its second item.
    QTimer::singleShot(50, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_TRUE(menu);
      shown = Items(*menu);
      SaveScreenshot(*menu, "menu_1003");
      for (Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Right}) QTest::keyClick(menu, key);
      QTimer::singleShot(50, [] {
        QWidget* popup = QApplication::activePopupWidget();
        ASSERT_TRUE(popup);
        QTest::keyClick(popup, Qt::Key_Down);
        QTest::keyClick(popup, Qt::Key_Return);
      });
    });
    RightClick(List().visualRect(viewer_->Records().index(1, 2)).center());
    EXPECT_EQ(List().selectionModel()->selectedRows().size(), 1);
    viewer_->EndDialog(IDCANCEL);
  });
  const std::vector<std::string> paths = {"&Location/&Remote",
                                          "&Location/&Local",
                                          "&Location/&Custom",
                                          "&Date Filter/&Today",
                                          "&Date Filter/&All",
                                          "&Date Filter/&Custom",
                                          "&Date Filter/&Filter on Selected Date",
                                          "&Area Filter/&All",
                                          "&Area Filter/&Custom",
                                          "&Area Filter/&Filter on Selected Area"};
  ASSERT_EQ(shown.size(), paths.size());
  for (size_t i = 0; i < shown.size(); ++i) {
    EXPECT_EQ(shown[i].path, paths[i]);
    EXPECT_TRUE(shown[i].enabled) << paths[i];
    EXPECT_EQ(shown[i].checked, paths[i] == "&Date Filter/&All" || paths[i] == "&Location/&Local") << paths[i];
  }
  EXPECT_EQ(commands.ran, (std::vector<uint32_t>{32802}));
}

TEST_F(ViewerTest, WithoutACommandMapTheMenuRunsNothing) {
  RunModal(*viewer_, [&] {
    // Location, Remote.
    QTimer::singleShot(50, [] {
      QWidget* menu = QApplication::activePopupWidget();
      ASSERT_TRUE(menu);
      QTest::keyClick(menu, Qt::Key_Down);
      QTest::keyClick(menu, Qt::Key_Right);
      QTimer::singleShot(50, [] {
        QWidget* popup = QApplication::activePopupWidget();
        ASSERT_TRUE(popup);
        QTest::keyClick(popup, Qt::Key_Return);
      });
    });
    viewer_->OnContextMenu(viewer_->mapToGlobal(QPoint(50, 50)));
    EXPECT_FALSE(QApplication::activePopupWidget());
    viewer_->EndDialog(IDCANCEL);
  });
}

// A log file that blocks its reader until the test writes it.
class BlockingLogFile {
 public:
  explicit BlockingLogFile(std::string path) : path_(std::move(path)) { EXPECT_EQ(mkfifo(path_.c_str(), 0600), 0); }
  ~BlockingLogFile() { Release(); }
  enum class Reader { kExpected, kMayNotCome };
  // Lets the reader go on, with one record of area "late". A load cancelled
  // before it came to the file never opens it: kMayNotCome.
  void Release(Reader reader = Reader::kExpected) {
    if (released_) return;
    released_ = true;
    std::unique_ptr<CLogDocument> doc = CLogDocument::CreateEmpty();
    AppendRecord(*doc, MakeRecord("late", Utc(2024, 5, 1), "late"));
    const std::string bytes = doc->Serialize();
    // Opens once the reader is there (it may still be on its way).
    int fd = -1;
    for (int i = 0; i < 500 && fd < 0; ++i) {
      fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) usleep(10000);
    }
    if (fd < 0 && reader == Reader::kMayNotCome) return;
    ASSERT_GE(fd, 0) << "nobody reads " << path_;
    // The reader may give up on the file before it reads (a FIFO takes no
    // lock): a write that finds it gone is no failure.
    signal(SIGPIPE, SIG_IGN);
    [[maybe_unused]] ssize_t written = write(fd, bytes.data(), bytes.size());
    close(fd);
  }

 private:
  std::string path_;
  bool released_ = false;
};

TEST_F(ViewerTest, ACancelledLoadLeavesTheListEmptyAndTheNextLoadItsOwn) {
  WriteDay(local_, "2024-05-01", {MakeRecord("A", Utc(2024, 5, 1, 8), "local")});
  SetFilterDisplayLocation(1);
  BlockingLogFile blocking(remote_ + "/AESERVLOG_2024-05-02.xml");
  RunModal(*viewer_, [&] {
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-local"}));
    SetFilterDisplayLocation(0);
    bool cancelled = false;
    WhenModalIs<CDlgProgress>([&](CDlgProgress& progress) {
      cancelled = true;
      progress.Control<QPushButton>(IDCANCEL)->click();
    });
    viewer_->Refresh();
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(viewer_->Records().rowCount(), 0) << "a cancelled load shows nothing";
    EXPECT_EQ(Pane(1030), remote_) << "the panes still show the settings";
    EXPECT_EQ(Pane(1031), "Date Filter: All");

    // At once the next load, while the cancelled one still waits on its file.
    SetFilterDisplayLocation(1);
    viewer_->Refresh();
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-local"}));
    blocking.Release();
    // The cancelled worker reads its file and stops without a trace here.
    QTest::qWait(200);
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-local"}));
    viewer_->EndDialog(IDCANCEL);
  });
}

TEST_F(ViewerTest, AViewerClosedDuringALoadLeavesTheWorkerWhatItUses) {
  BlockingLogFile blocking(remote_ + "/AESERVLOG_2024-05-02.xml");
  auto viewer = std::make_unique<CDlgAckComments>(clock_);
  WhenModalIs<CDlgProgress>([&](CDlgProgress& progress) { progress.Control<QPushButton>(IDCANCEL)->click(); });
  RunModal(*viewer, [&] { viewer->EndDialog(IDCANCEL); });
  viewer.reset();
  blocking.Release(BlockingLogFile::Reader::kMayNotCome);
  QTest::qWait(200);
}

TEST_F(ViewerTest, FilterOpensTheFilterDialogAndReloadsAfterOK) {
  WriteDay(remote_, "2024-05-01", {MakeRecord("A", Utc(2024, 5, 1, 8), "a"), MakeRecord("B", Utc(2024, 5, 1, 9), "b")});
  RunModal(*viewer_, [&] {
    EXPECT_EQ(Shown().size(), 2u);
    SetFilterDisplayArea(1);
    SetFilterCustomAreas({"A"});
    WhenModalIs<CDlgAckFilter>([](CDlgAckFilter& filter) { filter.EndDialog(IDCANCEL); });
    viewer_->Control<QPushButton>(1006)->click();
    EXPECT_EQ(Shown().size(), 2u) << "no reload after Cancel";
    WhenModalIs<CDlgAckFilter>([](CDlgAckFilter& filter) { filter.Control<QPushButton>(IDOK)->click(); });
    viewer_->Control<QPushButton>(1006)->click();
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-a"}));
    viewer_->Control<QPushButton>(1007)->click();
    EXPECT_EQ(Shown(), (std::vector<std::string>{"op-a"}));
    viewer_->EndDialog(IDCANCEL);
  });
}

TEST_F(ViewerTest, HelpOpensContext3100) {
  CHelpPageRecorder pages;
  RunModal(*viewer_, [&] {
    viewer_->Control<QPushButton>(1009)->click();
    viewer_->EndDialog(IDCANCEL);
  });
  ASSERT_EQ(pages.opened.size(), 1u);
  EXPECT_TRUE(pages.opened[0].toLocalFile().endsWith("/context-3100.html")) << pages.opened[0].toString().toStdString();
}

}  // namespace
