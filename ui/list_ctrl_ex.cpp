#include "ui/list_ctrl_ex.h"

#include <QContextMenuEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QTreeView>

CListCtrlEx::~CListCtrlEx() {
  if (!view_) return;
  view_->viewport()->removeEventFilter(this);
  view_->header()->viewport()->removeEventFilter(this);
}

bool CListCtrlEx::Attach(QTreeView* view, QAbstractItemModel* model) {
  if (!view || !model || view_) return false;
  view_ = view;
  view->setModel(model);
  view->setRootIsDecorated(false);
  view->setItemsExpandable(false);
  view->setUniformRowHeights(true);
  view->setAllColumnsShowFocus(true);
  view->setSortingEnabled(false);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  QHeaderView* header = view->header();
  header->setSectionsMovable(true);
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  header->setSectionResizeMode(QHeaderView::Interactive);
  // A left click: the header tells it apart from the start of a drag.
  connect(header, &QHeaderView::sectionClicked, this, [this](int column) {
    NotifyHeaderClick({column, Qt::LeftButton});
  });
  header->viewport()->installEventFilter(this);
  view->viewport()->installEventFilter(this);
  return true;
}

QTreeView* CListCtrlEx::View() const { return view_; }

void CListCtrlEx::SetColumnWidth(int column, int width) {
  if (view_) view_->setColumnWidth(column, width);
}

int CListCtrlEx::ColumnWidth(int column) const { return view_ ? view_->columnWidth(column) : 0; }

int CListCtrlEx::GetSelectionMark() const {
  if (!view_ || !view_->selectionModel()) return -1;
  const QModelIndexList rows = view_->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void CListCtrlEx::SetHeaderClickCallback(HeaderClickCallback callback, void* context) {
  headerClick_ = callback;
  headerClickContext_ = context;
}

void CListCtrlEx::SetRightClickCallback(RightClickCallback callback, void* context) {
  rightClick_ = callback;
  rightClickContext_ = context;
}

CListCtrlEx::Result CListCtrlEx::NotifyHeaderClick(const HeaderNotification& notification) {
  Result result = 0;
  if (headerClick_) headerClick_(notification, &result, headerClickContext_);
  return result;
}

CListCtrlEx::Result CListCtrlEx::NotifyRightClick(const ClickNotification& notification) {
  Result result = 0;
  if (rightClick_) rightClick_(notification, &result, rightClickContext_);
  return result;
}

bool CListCtrlEx::eventFilter(QObject* watched, QEvent* event) {
  if (!view_) return false;
  QHeaderView* header = view_->header();
  if (watched == header->viewport()) {
    // Clicks with the other buttons: pressed and released on one header.
    const bool press = event->type() == QEvent::MouseButtonPress;
    if (!press && event->type() != QEvent::MouseButtonRelease) return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton) return false;
    const int section = header->logicalIndexAt(mouse->position().toPoint());
    if (press) {
      pressedSection_ = section;
    } else {
      if (section >= 0 && section == pressedSection_) NotifyHeaderClick({section, mouse->button()});
      pressedSection_ = -1;
    }
    return false;
  }
  if (watched == view_->viewport() && event->type() == QEvent::ContextMenu) {
    auto* menu = static_cast<QContextMenuEvent*>(event);
    if (menu->reason() != QContextMenuEvent::Mouse) return false;
    const int row = view_->indexAt(menu->pos()).row();
    return NotifyRightClick({row, menu->globalPos()}) != 0;
  }
  return false;
}

bool CListCtrlEx::BrowseForFolder(const std::string& initialFolder, const QString& title, std::string& folder) {
  QFileDialog picker(nullptr, title);
  picker.setFileMode(QFileDialog::Directory);
  picker.setOption(QFileDialog::ShowDirsOnly);
  picker.setDirectory(QString::fromStdString(initialFolder).left(kMaxInitialFolderChars));
  if (picker.exec() != QDialog::Accepted) return false;
  const QStringList chosen = picker.selectedFiles();
  if (chosen.isEmpty() || chosen.first().isEmpty()) return false;
  folder = chosen.first().toStdString();
  return true;
}
