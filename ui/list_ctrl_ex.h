// CListCtrlEx: a report list on a model and a view: the QTreeView of a
// dialog's form, attached with the table model that holds the rows (so no
// widget item exists per cell), with two callbacks that its owner installs,
// each a plain function with a context value:
//
//   header click: a click on a column header, with the button that made it
//                 (a left click that drags the column elsewhere is no click);
//   right click:  a right click in the list, after the view has selected the
//                 row under the mouse (row -1: none there).
//
// Both start unset. A notification passes a result slot set to 0, which an
// unset callback leaves at 0; the notification's answer is that slot. A
// right click answered nonzero is taken; answered 0 it goes on to the
// list's parent as a context-menu request.
//
// Attach makes the list a report list with full-row single selection whose
// columns the operator may drag into another order; the column widths are
// the owner's. BrowseForFolder is the platform's folder picker.
//
// Threads: main thread only. REQUIRES: the view and the model outlive the
// list, or the list is destroyed first.
#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <string>

class QAbstractItemModel;
class QTreeView;

class CListCtrlEx : public QObject {
  Q_OBJECT

 public:
  using Result = intptr_t;

  struct HeaderNotification {
    int column;  // the model's column, wherever the operator dragged it
    Qt::MouseButton button;
  };
  struct ClickNotification {
    int row;           // the row under the mouse, or -1
    QPoint globalPos;  // where the mouse is, in screen coordinates
  };
  using HeaderClickCallback = void (*)(const HeaderNotification&, Result* result, void* context);
  using RightClickCallback = void (*)(const ClickNotification&, Result* result, void* context);

  CListCtrlEx() = default;
  ~CListCtrlEx() override;

  // False (nothing changed) when `view` or `model` is null or a list is
  // already attached.
  bool Attach(QTreeView* view, QAbstractItemModel* model);
  QTreeView* View() const;

  void SetColumnWidth(int column, int width);
  int ColumnWidth(int column) const;
  // The selected row, or -1.
  int GetSelectionMark() const;

  void SetHeaderClickCallback(HeaderClickCallback callback, void* context);
  void SetRightClickCallback(RightClickCallback callback, void* context);

  // The notifications as the view sends them; each returns its answer.
  Result NotifyHeaderClick(const HeaderNotification& notification);
  Result NotifyRightClick(const ClickNotification& notification);

  // The folder picker: no owner, the title `title`, opening at
  // `initialFolder` (its first 260 characters). True, with `folder` the
  // chosen folder's path, when the operator chose a folder; false (folder
  // untouched) when the picker was cancelled.
  static bool BrowseForFolder(const std::string& initialFolder, const QString& title, std::string& folder);
  static constexpr int kMaxInitialFolderChars = 260;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QTreeView> view_;
  int pressedSection_ = -1;  // where another button than the left went down
  HeaderClickCallback headerClick_ = nullptr;
  void* headerClickContext_ = nullptr;
  RightClickCallback rightClick_ = nullptr;
  void* rightClickContext_ = nullptr;
};
