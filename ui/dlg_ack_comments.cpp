#include "ui/dlg_ack_comments.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QStatusBar>
#include <QTreeView>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "acklog/ack_log_settings.h"
#include "callback/alarm_log_instance.h"
#include "ui/command_map.h"
#include "ui/dialog_result.h"
#include "ui/dlg_ack_filter.h"
#include "ui/dlg_progress.h"
#include "ui/html_help.h"
#include "ui/local_time.h"
#include "ui/menu_resource.h"
#include "ui/resource_library.h"
#include "ui/string_ids.h"

CDlgAckComments* g_pAckCommentsDlg = nullptr;

namespace {

enum Location : int32_t { kRemote = 0, kLocal = 1, kCustomFolder = 2 };
enum Range : int32_t { kToday = 0, kAllDates = 1, kCustomRange = 2 };
enum AreaMode : int32_t { kAllAreas = 0, kCustomAreas = 1 };

// Main thread only, as the viewer is.
const CCommandMap* g_menuCommands = nullptr;

std::string LocationFolder() {
  switch (GetFilterDisplayLocation()) {
    case kLocal:
      return GetLocalPath();
    case kCustomFolder:
      return GetFilterCustomPath();
    default:
      return GetRemotePath();
  }
}

// One load: what it reads and the records it found. The viewer and the
// load's worker share it, so that a worker left running after a cancel
// fills a container that nobody shows any more.
struct LoadJob {
  std::string folder;
  CDateTime from, to;  // UTC
  std::set<std::string> areas;
  std::vector<AckRecord> records;
};

std::shared_ptr<LoadJob> MakeLoadJob(const ae::Clock& clock) {
  auto job = std::make_shared<LoadJob>();
  job->folder = LocationFolder();
  CDateTime from, to;
  switch (GetFilterDisplayRange()) {
    case kAllDates:
      from = CDateTime::FromParts(1900, 1, 1);
      to = CDateTime::FromParts(2200, 1, 1);
      break;
    case kCustomRange:
      from = GetFilterFromDate(clock);
      to = GetFilterToDate(clock);
      break;
    default:
      from = to = UtcToLocal(CDateTime::FromFileTime(clock.NowUtc())).DatePart();
      break;
  }
  // The window ends where the day after `to` begins.
  job->from = LocalToUtc(from);
  job->to = LocalToUtc(to.AddDays(1));
  if (GetFilterDisplayArea() == kCustomAreas) GetFilterCustomAreas(job->areas);
  return job;
}

// The progress dialog's work: `parameter` is a heap copy of the job's
// shared pointer, which the work owns from here on.
void LoadWork(void* parameter, ComPtr<ProgressHandle> progress) {
  std::unique_ptr<std::shared_ptr<LoadJob>> owned(static_cast<std::shared_ptr<LoadJob>*>(parameter));
  LoadJob& job = **owned;
  if (CAlarmLog* log = g_pAlarmLog)
    log->LoadRecords(job.folder, job.from, job.to, job.areas, job.records, *progress.Get());
}

QString DatePaneText(const ae::Clock& clock) {
  switch (GetFilterDisplayRange()) {
    case kAllDates:
      return CResourceLibrary::String(kStringDateAllPane);
    case kCustomRange: {
      const CDateTime from = GetFilterFromDate(clock);
      const CDateTime to = GetFilterToDate(clock);
      if (from == to) return CResourceLibrary::Format(kStringDateDayPane, {FormatDateText(from)});
      return CResourceLibrary::Format(kStringDateRangePane, {FormatDateText(from), FormatDateText(to)});
    }
    default:
      return CResourceLibrary::String(kStringDateTodayPane);
  }
}

QString AreaPaneText() {
  if (GetFilterDisplayArea() != kCustomAreas) return CResourceLibrary::String(kStringAreaAllPane);
  std::set<std::string> areas;
  GetFilterCustomAreas(areas);
  QString list;
  for (const std::string& area : areas) {
    if (list.size() > CDlgAckComments::kAreaPaneChars) break;
    if (!list.isEmpty()) list += QLatin1String(", ");
    list += QString::fromStdString(area);
  }
  return CResourceLibrary::Format(kStringAreaListPane, {list});
}

// The wait cursor for as long as it lives.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

CDlgAckComments::CDlgAckComments(const ae::Clock& clock) : CResourceDialog(kDialogId, nullptr), clock_(clock) {
  g_pAckCommentsDlg = this;
}

CDlgAckComments::~CDlgAckComments() {
  if (g_pAckCommentsDlg == this) g_pAckCommentsDlg = nullptr;
}

void CDlgAckComments::SetMenuCommands(const CCommandMap* commands) { g_menuCommands = commands; }

bool CDlgAckComments::OnInitDialog() {
  setMinimumSize(size());
  CreateStatusBar();

  m_filterButton = Control<QPushButton>(kFilterButton);
  m_refreshButton = Control<QPushButton>(kRefreshButton);
  m_closeButton = Control<QPushButton>(kCloseButton);
  m_helpButton = Control<QPushButton>(kHelpButton);
  if (m_filterButton) {
    connect(m_filterButton, &QPushButton::clicked, this, [this] {
      CDlgAckFilter filter(this);
      if (filter.DoModal() == IDOK) Refresh();
    });
  }
  if (m_refreshButton) connect(m_refreshButton, &QPushButton::clicked, this, [this] { Refresh(); });
  if (m_closeButton) connect(m_closeButton, &QPushButton::clicked, this, [this] { EndDialog(IDCANCEL); });
  if (m_helpButton) {
    connect(m_helpButton, &QPushButton::clicked, this,
            [] { HtmlHelpW(HelpFilePath(), HH_HELP_CONTEXT, kHelpContext); });
  }

  m_list.Attach(Control<QTreeView>(kList), &m_records);
  for (int column = 0; column < CAckRecordModel::kColumnCount; ++column)
    m_list.SetColumnWidth(column, kColumnWidths[column]);
  m_list.SetHeaderClickCallback(
      [](const CListCtrlEx::HeaderNotification& notification, CListCtrlEx::Result*, void* context) {
        static_cast<CDlgAckComments*>(context)->OnHeaderClick(notification);
      },
      this);
  m_list.SetRightClickCallback(
      [](const CListCtrlEx::ClickNotification& notification, CListCtrlEx::Result* result, void* context) {
        static_cast<CDlgAckComments*>(context)->OnContextMenu(notification.globalPos);
        *result = 1;
      },
      this);

  Layout(width(), height());
  Refresh();
  m_initialised = true;
  return true;
}

void CDlgAckComments::CreateStatusBar() {
  m_statusBar = new QStatusBar(this);
  m_statusBar->setObjectName(QString::number(kStatusBarId));
  m_statusBar->setSizeGripEnabled(true);
  const int ids[3] = {kLocationPane, kDatePane, kAreaPane};
  for (int i = 0; i < 3; ++i) {
    auto* pane = new QLabel(CResourceLibrary::String(kStringLocationIndicator + static_cast<uint32_t>(i)));
    pane->setObjectName(QString::number(ids[i]));
    pane->setTextFormat(Qt::PlainText);
    m_panes[i] = pane;
  }
  // The last pane takes what is left and cuts a long text at the edge.
  m_panes[2]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  m_statusBar->addWidget(m_panes[0]);
  m_statusBar->addWidget(m_panes[1]);
  m_statusBar->addWidget(m_panes[2], 1);
  m_statusBar->show();
}

void CDlgAckComments::resizeEvent(QResizeEvent* event) {
  CResourceDialog::resizeEvent(event);
  if (m_initialised) Layout(event->size().width(), event->size().height());
}

void CDlgAckComments::Layout(int cx, int cy) {
  const int barHeight = m_statusBar ? m_statusBar->sizeHint().height() : 0;
  if (m_statusBar) m_statusBar->setGeometry(0, cy - barHeight, cx, barHeight);
  if (!m_filterButton) return;
  const int bottom = cy - barHeight - kMargin;
  const int height = m_filterButton->height();
  const int top = bottom - height;
  m_filterButton->setGeometry(m_filterButton->x(), top, m_filterButton->width(), height);
  if (m_refreshButton) {
    m_refreshButton->setGeometry(m_filterButton->x() + m_filterButton->width() + kMargin, top, m_refreshButton->width(),
                                 height);
  }
  int closeRight = cx - kMargin;
  if (m_helpButton) {
    m_helpButton->setGeometry(cx - kMargin - m_helpButton->width(), top, m_helpButton->width(), height);
    closeRight = m_helpButton->x() - kMargin;
  }
  if (m_closeButton)
    m_closeButton->setGeometry(closeRight - m_closeButton->width(), top, m_closeButton->width(), height);
  if (QTreeView* list = m_list.View()) list->setGeometry(kMargin, kMargin, cx - 2 * kMargin, top - 2 * kMargin);
  update();
}

void CDlgAckComments::Refresh() {
  m_records.Clear();
  std::shared_ptr<LoadJob> job = MakeLoadJob(clock_);
  auto* parameter = new std::shared_ptr<LoadJob>(job);
  CDlgProgress progress(&LoadWork, parameter);
  const int ended = progress.DoModal();
  // Without its form the progress dialog starts no work to take it over.
  if (ended == CResourceDialog::kNoForm) delete parameter;

  WaitCursor wait;
  if (ended == IDOK) {
    std::optional<TrackedMutexGuard> guard;
    if (CAlarmLog* log = g_pAlarmLog) guard.emplace(log->Mutex(), AE_SITE);
    m_records.SetRecords(std::move(job->records));
    SortRows();
  }
  ShowStatusPanes();
}

void CDlgAckComments::ShowStatusPanes() {
  if (!m_statusBar) return;
  const QString texts[3] = {CResourceLibrary::Format(kStringLocationPane, {QString::fromStdString(LocationFolder())}),
                            DatePaneText(clock_), AreaPaneText()};
  const QFontMetrics metrics = m_statusBar->fontMetrics();
  for (int i = 0; i < 3; ++i) {
    m_panes[i]->setText(texts[i]);
    if (i < 2) {
      const int margins = m_panes[i]->contentsMargins().left() + m_panes[i]->contentsMargins().right();
      m_panes[i]->setFixedWidth(metrics.horizontalAdvance(texts[i]) + margins + 2 * m_panes[i]->margin());
    }
  }
}

void CDlgAckComments::OnHeaderClick(const CListCtrlEx::HeaderNotification& notification) {
  if (notification.button != Qt::LeftButton) return;
  m_sortAscending = notification.column == m_sortColumn ? !m_sortAscending : true;
  m_sortColumn = notification.column;
  SortRows();
}

void CDlgAckComments::SortRows() { m_records.Sort(m_sortColumn, m_sortAscending); }

void CDlgAckComments::OnContextMenu(const QPoint& globalPos) {
  std::unique_ptr<QMenu> menu(CMenuResource::LoadPopup(kContextMenu, this));
  if (!menu) return;
  const CCommandMap* commands = g_menuCommands;
  if (commands) CMenuResource::UpdateFromCommands(*menu, *commands);
  QAction* chosen = menu->exec(globalPos);
  // The command runs once the menu has gone; it may refresh this viewer.
  if (chosen && commands) commands->Execute(CMenuResource::CommandId(*chosen));
}

void CDlgAckComments::FilterOnSelectedDate() {
  const AckRecord* record = m_records.RecordAt(m_list.GetSelectionMark());
  if (!record) return;
  const CDateTime day = UtcToLocal(record->ackTime).DatePart();
  if (!day.IsValid()) return;
  SetFilterFromDate(day);
  SetFilterToDate(day);
}

void CDlgAckComments::FilterOnSelectedArea() {
  const AckRecord* record = m_records.RecordAt(m_list.GetSelectionMark());
  if (!record) return;
  SetFilterCustomAreas({record->area});
}
