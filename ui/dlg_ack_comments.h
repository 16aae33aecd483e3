// CDlgAckComments: the acknowledgement comments viewer (form 1000), a
// resizable modal dialog that lists the acknowledgement log's records as
// the filter settings (acklog/ack_log_settings.h) choose them: one row per
// record in a CListCtrlEx over a CAckRecordModel, a status bar with the
// location, date and area filters, and the buttons Filter... (1006, the
// filter dialog, then Refresh after OK), Refresh (1007), Close (1008) and
// Help (1009, help context 3100).
//
// Set-up (DoModal): the opening size becomes the smallest the window can
// be made; the controls are laid out (below) and Refresh runs. Layout, on
// set-up and on every resize: the status bar along the bottom; the buttons
// in one row 7 px above it, Filter... where the form puts it across,
// Refresh 7 px right of it, Help 7 px from the right edge, Close 7 px left
// of Help; the list fills the rest with a 7 px margin.
//
// Refresh: empties the list; loads on the progress dialog's worker, into a
// container of that load's own (a cancelled worker that runs on writes
// only there and is forgotten), the records of the chosen folder, day
// window and areas; after OK shows them, sorted, while holding the log's
// mutex; after Cancel the list stays empty. The status panes show the
// settings either way. Days are the operator's local days: Today is the
// local date of the clock's current UTC time, a custom range runs from the
// local midnight starting "Filter From Date" to the one ending "Filter To
// Date", and the window goes to the log in UTC. A location, range or area
// mode outside the known values counts as the default (remote, today,
// all). Without g_pAlarmLog nothing is loaded.
//
// Sorting: rows follow m_sortColumn and m_sortAscending (Timestamp,
// ascending, at construction). A left click on a header sorts by that
// column, ascending, or reverses the order when it is the sort column
// already; the header shows "  v" or "  ^". Other buttons do nothing.
//
// Context menu: a right click in the list shows the first popup of menu
// 1003 with the check marks of the command map installed by SetMenuCommands
// (the main window's), and the chosen command goes to that map, whose
// handlers change the settings and call FilterOnSelectedDate/Area and
// Refresh through g_pAckCommentsDlg. Without a map no command runs.
//
// FilterOnSelectedDate stores the local date of the selected row's time as
// "Filter From Date" and "Filter To Date"; FilterOnSelectedArea stores its
// area alone as "Filter Custom Areas". Without a selected row, or for a
// time that is not valid, they store nothing.
//
// g_pAckCommentsDlg is the viewer while one exists (it registers itself
// for its lifetime); at most one exists at a time.
//
// Threads: main thread only. `clock` must outlive the viewer. REQUIRES:
// DoModal at most once per viewer (the frame makes one for each opening).
#pragma once

#include <QPoint>

#include <cstdint>

#include "platform/clock.h"
#include "ui/ack_record_model.h"
#include "ui/list_ctrl_ex.h"
#include "ui/resource_dialog.h"

class CCommandMap;
class QLabel;
class QPushButton;
class QResizeEvent;
class QStatusBar;

class CDlgAckComments : public CResourceDialog {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 1000;
  static constexpr int kList = 1002;
  static constexpr int kFilterButton = 1006;
  static constexpr int kRefreshButton = 1007;
  static constexpr int kCloseButton = 1008;
  static constexpr int kHelpButton = 1009;
  static constexpr uint32_t kHelpContext = 3100;
  static constexpr uint32_t kContextMenu = 1003;
  // The framework's status bar ID, and the panes' indicator IDs (their
  // labels' object names).
  static constexpr int kStatusBarId = 0xE801;
  static constexpr int kLocationPane = 1030;
  static constexpr int kDatePane = 1031;
  static constexpr int kAreaPane = 1032;
  static constexpr int kMargin = 7;
  // The area pane takes areas until its list holds more than this.
  static constexpr int kAreaPaneChars = 999;
  static constexpr int kColumnWidths[CAckRecordModel::kColumnCount] = {140, 80, 80, 80, 80, 80, 80, 100, 100};

  explicit CDlgAckComments(const ae::Clock& clock = ae::Clock::System());
  ~CDlgAckComments() override;

  void Refresh();
  void FilterOnSelectedDate();
  void FilterOnSelectedArea();

  // The command map that executes the context menu's commands (null: none).
  static void SetMenuCommands(const CCommandMap* commands);

  // What a header click and a right click in the list do.
  void OnHeaderClick(const CListCtrlEx::HeaderNotification& notification);
  void OnContextMenu(const QPoint& globalPos);

  CListCtrlEx& List() { return m_list; }
  const CAckRecordModel& Records() const { return m_records; }
  QStatusBar* StatusBar() const { return m_statusBar; }
  int SortColumn() const { return m_sortColumn; }
  bool SortAscending() const { return m_sortAscending; }

 protected:
  bool OnInitDialog() override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void CreateStatusBar();
  void Layout(int cx, int cy);
  void SortRows();
  void ShowStatusPanes();

  const ae::Clock& clock_;
  CAckRecordModel m_records;
  CListCtrlEx m_list;
  QPushButton* m_filterButton = nullptr;
  QPushButton* m_refreshButton = nullptr;
  QPushButton* m_closeButton = nullptr;
  QPushButton* m_helpButton = nullptr;
  QStatusBar* m_statusBar = nullptr;
  QLabel* m_panes[3] = {};
  bool m_initialised = false;
  int m_sortColumn = 0;
  bool m_sortAscending = true;
};

extern CDlgAckComments* g_pAckCommentsDlg;
