// The report list: its callbacks (unset ones answer 0; header clicks with
// their button and the model's column wherever the operator dragged it;
// right clicks after the row is selected, taken or passed to the parent),
// the selection mark, and the folder picker.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <filesystem>
#include <string>
#include <vector>

#include "ack_log_test_support.h"
#include "ui/ack_record_model.h"
#include "ui/list_ctrl_ex.h"

namespace {

// A parent that counts the context-menu requests that reach it.
class Parent : public QWidget {
 public:
  int menus = 0;

 protected:
  void contextMenuEvent(QContextMenuEvent*) override { ++menus; }
};

struct Seen {
  std::vector<CListCtrlEx::HeaderNotification> headers;
  std::vector<CListCtrlEx::ClickNotification> clicks;
  CListCtrlEx::Result answer = 0;
};

void OnHeader(const CListCtrlEx::HeaderNotification& n, CListCtrlEx::Result* result, void* context) {
  auto* seen = static_cast<Seen*>(context);
  EXPECT_EQ(*result, 0);
  seen->headers.push_back(n);
  *result = seen->answer;
}

void OnRightClick(const CListCtrlEx::ClickNotification& n, CListCtrlEx::Result* result, void* context) {
  auto* seen = static_cast<Seen*>(context);
  EXPECT_EQ(*result, 0);
  seen->clicks.push_back(n);
  *result = seen->answer;
}

class ListCtrlTest : public AckLogUiTest {
 protected:
  void SetUp() override {
    AckLogUiTest::SetUp();
    if (HasFatalFailure()) return;
    parent_ = std::make_unique<Parent>();
    parent_->resize(600, 300);
    view_ = new QTreeView(parent_.get());
    view_->setGeometry(0, 0, 600, 300);
    model_.SetRecords({MakeRecord("A", Utc(2024, 5, 1), "0"), MakeRecord("B", Utc(2024, 5, 2), "1"),
                       MakeRecord("C", Utc(2024, 5, 3), "2")});
    ASSERT_TRUE(list_.Attach(view_, &model_));
    for (int column = 0; column < CAckRecordModel::kColumnCount; ++column) list_.SetColumnWidth(column, 60);
    parent_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(parent_.get()));
  }

  QPoint HeaderPoint(int visual) {
    QHeaderView* header = view_->header();
    return QPoint(header->sectionViewportPosition(header->logicalIndex(visual)) + 20, header->height() / 2);
  }
  QPoint RowPoint(int row) { return view_->visualRect(model_.index(row, 1)).center(); }
  // A right click as the platform delivers it: the press, then the
  // context-menu request, then the release.
  void RightClick(QPoint pos) {
    QWidget* viewport = view_->viewport();
    QTest::mousePress(viewport, Qt::RightButton, {}, pos);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, pos, viewport->mapToGlobal(pos));
    QApplication::sendEvent(viewport, &menu);
    QTest::mouseRelease(viewport, Qt::RightButton, {}, pos);
  }

  // The list goes before the view it is attached to.
  std::unique_ptr<Parent> parent_;
  QTreeView* view_ = nullptr;
  CAckRecordModel model_;
  CListCtrlEx list_;
  Seen seen_;
};

TEST_F(ListCtrlTest, AttachMakesAReportListOnTheModel) {
  EXPECT_EQ(view_->model(), &model_);
  EXPECT_EQ(list_.View(), view_);
  EXPECT_EQ(view_->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(view_->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_TRUE(view_->header()->sectionsMovable()) << "columns can be dragged";
  EXPECT_FALSE(view_->isSortingEnabled()) << "the owner sorts";
  EXPECT_EQ(list_.ColumnWidth(3), 60);
  EXPECT_FALSE(list_.Attach(view_, &model_)) << "attached once";
  CListCtrlEx other;
  EXPECT_FALSE(other.Attach(nullptr, &model_));
  EXPECT_EQ(other.GetSelectionMark(), -1);
}

TEST_F(ListCtrlTest, UnsetCallbacksAnswerZeroAndSetOnesGetTheirContext) {
  EXPECT_EQ(list_.NotifyHeaderClick({2, Qt::LeftButton}), 0);
  EXPECT_EQ(list_.NotifyRightClick({1, QPoint(5, 5)}), 0);
  list_.SetHeaderClickCallback(&OnHeader, &seen_);
  list_.SetRightClickCallback(&OnRightClick, &seen_);
  seen_.answer = 7;
  EXPECT_EQ(list_.NotifyHeaderClick({2, Qt::LeftButton}), 7);
  EXPECT_EQ(list_.NotifyRightClick({1, QPoint(5, 5)}), 7);
  ASSERT_EQ(seen_.headers.size(), 1u);
  EXPECT_EQ(seen_.headers[0].column, 2);
  ASSERT_EQ(seen_.clicks.size(), 1u);
  EXPECT_EQ(seen_.clicks[0].row, 1);
}

TEST_F(ListCtrlTest, HeaderClicksNameTheButtonAndTheModelsColumn) {
  list_.SetHeaderClickCallback(&OnHeader, &seen_);
  QWidget* header = view_->header()->viewport();
  QTest::mouseClick(header, Qt::LeftButton, {}, HeaderPoint(1));
  QTest::mouseClick(header, Qt::MiddleButton, {}, HeaderPoint(2));
  // The operator drags Target in front of Timestamp: a click there is on Target.
  view_->header()->moveSection(2, 0);
  QTest::mouseClick(header, Qt::LeftButton, {}, HeaderPoint(0));
  ASSERT_EQ(seen_.headers.size(), 3u);
  EXPECT_EQ(seen_.headers[0].column, 1);
  EXPECT_EQ(seen_.headers[0].button, Qt::LeftButton);
  EXPECT_EQ(seen_.headers[1].column, 2);
  EXPECT_EQ(seen_.headers[1].button, Qt::MiddleButton);
  EXPECT_EQ(seen_.headers[2].column, 2);
  // A press on one header and a release on another is no click.
  QTest::mousePress(header, Qt::MiddleButton, {}, HeaderPoint(3));
  QTest::mouseRelease(header, Qt::MiddleButton, {}, HeaderPoint(5));
  EXPECT_EQ(seen_.headers.size(), 3u);
}

TEST_F(ListCtrlTest, ARightClickSelectsTheRowAndIsTakenOrPassedOn) {
  list_.SetRightClickCallback(&OnRightClick, &seen_);
  EXPECT_EQ(list_.GetSelectionMark(), -1);
  // Answered 0: the parent gets the context-menu request as well.
  RightClick(RowPoint(2));
  ASSERT_EQ(seen_.clicks.size(), 1u);
  EXPECT_EQ(seen_.clicks[0].row, 2);
  EXPECT_EQ(seen_.clicks[0].globalPos, view_->viewport()->mapToGlobal(RowPoint(2)));
  EXPECT_EQ(list_.GetSelectionMark(), 2) << "the row under the mouse is selected first";
  EXPECT_EQ(parent_->menus, 1);

  seen_.answer = 1;
  RightClick(QPoint(10, view_->viewport()->height() - 5));
  ASSERT_EQ(seen_.clicks.size(), 2u);
  EXPECT_EQ(seen_.clicks[1].row, -1) << "below the rows";
  EXPECT_EQ(parent_->menus, 1) << "a taken click goes no further";

  // The menu key is no click.
  QContextMenuEvent key(QContextMenuEvent::Keyboard, RowPoint(0), view_->viewport()->mapToGlobal(RowPoint(0)));
  QApplication::sendEvent(view_->viewport(), &key);
  EXPECT_EQ(seen_.clicks.size(), 2u);
}

// Runs `act` on the folder picker once it shows.
void WhilePickerOpen(std::function<void(QFileDialog&)> act) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    auto* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!picker || !picker->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    act(*picker);
  });
  poll->start();
}

TEST_F(ListCtrlTest, TheFolderPickerOpensAtTheInitialFolderAndAnswersTheChoice) {
  const std::string chosen = custom_ + "/archive";
  std::filesystem::create_directories(chosen);
  std::string folder = "unchanged";
  QString title, opened;
  bool owned = true;
  WhilePickerOpen([&](QFileDialog& picker) {
    title = picker.windowTitle();
    opened = picker.directory().absolutePath();
    owned = picker.parentWidget() != nullptr;
    // Opened at the folder rather than selected in its parent, whose
    // listing the picker loads in the background.
    picker.setDirectory(QString::fromStdString(chosen));
    QMetaObject::invokeMethod(&picker, "accept");
  });
  EXPECT_TRUE(CListCtrlEx::BrowseForFolder(remote_, "Choose a remote log directory", folder));
  EXPECT_EQ(title, "Choose a remote log directory");
  EXPECT_EQ(opened.toStdString(), remote_);
  EXPECT_FALSE(owned);
  EXPECT_EQ(folder, chosen);

  WhilePickerOpen([&](QFileDialog& picker) { picker.reject(); });
  folder = "unchanged";
  EXPECT_FALSE(CListCtrlEx::BrowseForFolder(remote_, "t", folder));
  EXPECT_EQ(folder, "unchanged");

  // Only the first 260 characters of the initial folder count.
  std::string deep = local_;
  while (deep.size() < 260) deep += "/deeper";
  std::filesystem::create_directories(deep);
  std::string cut = deep.substr(0, 260);
  std::filesystem::create_directories(cut);
  while (cut.back() == '/') cut.pop_back();
  WhilePickerOpen([&](QFileDialog& picker) {
    opened = picker.directory().absolutePath();
    picker.reject();
  });
  CListCtrlEx::BrowseForFolder(deep + "/and/more", "t", folder);
  EXPECT_EQ(opened.toStdString(), cut);
}

}  // namespace
