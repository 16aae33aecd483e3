#include "app/tolk_ae_lum_server_view.h"

#include <QHeaderView>
#include <QResizeEvent>
#include <QTreeWidget>

#include "alarmconfig/string_ids.h"
#include "app/string_ids.h"
#include "opcda/connection_manager.h"
#include "toolkit/server_interface.h"
#include "ui/resource_library.h"

namespace {

constexpr char kListId[] = "1000";
// Margins the window framework adds around a column's header text and
// around a cell's text.
constexpr int kHeaderMargin = 15;
constexpr int kCellMargin = 40;

int32_t CurrentState() {
  ConnectionManager* manager = g_pConnectionManager;
  return manager ? manager->connectionState.load() : ConnectionManager::kNotConnected;
}

QString ServerName() {
  std::string name;
  DWORD rate = 0;
  ConnectionManager::ReadSettings(name, rate);
  return QString::fromStdString(name);
}

QTreeWidget* MakeReportList(QWidget* parent) {
  auto* list = new QTreeWidget(parent);
  list->setObjectName(kListId);
  list->setRootIsDecorated(false);
  list->setSortingEnabled(false);
  list->setItemsExpandable(false);
  list->header()->setSectionsClickable(false);
  list->header()->setStretchLastSection(false);
  list->header()->setSectionResizeMode(QHeaderView::Interactive);
  list->setColumnCount(2);
  return list;
}

int TextWidth(const QWidget& widget, const QString& text) { return widget.fontMetrics().horizontalAdvance(text); }

// Inserts the two left-aligned columns, each as wide as its header + 15.
void InsertColumns(QTreeWidget& list, const QString& first, const QString& second) {
  list.setHeaderLabels({first, second});
  for (int column = 0; column < 2; ++column) {
    list.headerItem()->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
    list.setColumnWidth(column, TextWidth(list, list.headerItem()->text(column)) + kHeaderMargin);
  }
}

void WidenTo(QTreeWidget& list, int column, const QString& text) {
  int width = TextWidth(list, text) + kCellMargin;
  if (width > list.columnWidth(column)) list.setColumnWidth(column, width);
}

}  // namespace

CTolkAELumServerView::CTolkAELumServerView(QWidget* parent) : QWidget(parent) {
  statisticsTimer_.setInterval(kStatisticsTimerMs);
  connectionTimer_.setInterval(kConnectionTimerMs);
  QObject::connect(&statisticsTimer_, &QTimer::timeout, this, [this] { OnStatisticsTimer(); });
  QObject::connect(&connectionTimer_, &QTimer::timeout, this, [this] { OnConnectionTimer(); });
}

CTolkAELumServerView::~CTolkAELumServerView() { statisticsTimer_.stop(); }

QString CTolkAELumServerView::ConnStatusText(int32_t state) {
  switch (state) {
    case ConnectionManager::kConnected:
      return CResourceLibrary::String(kStringConnected);
    case ConnectionManager::kNotConnected:
      return CResourceLibrary::String(kStringNotConnected);
    case ConnectionManager::kInvalidServer:
      return CResourceLibrary::String(kStringInvalidServer);
    case ConnectionManager::kConnecting:
      return CResourceLibrary::String(kStringConnecting);
    default:
      return {};
  }
}

void CTolkAELumServerView::OnInitialUpdate() {
  if (statistics_) return;
  statistics_ = MakeReportList(this);
  InsertColumns(*statistics_, CResourceLibrary::String(kStringStatisticColumn) + QString(5, QLatin1Char(' ')),
                CResourceLibrary::String(kStringValueColumn) + QString(9, QLatin1Char(' ')));
  for (uint32_t i = 0; i < kStatisticCount; ++i) {
    QString text = CResourceLibrary::String(kStringFirstStatisticLabel + i);
    WidenTo(*statistics_, 0, text);
    new QTreeWidgetItem(statistics_, {text, QStringLiteral("0")});
  }

  connection_ = MakeReportList(this);
  connection_->setSelectionMode(QAbstractItemView::SingleSelection);
  connection_->setSelectionBehavior(QAbstractItemView::SelectRows);
  InsertColumns(*connection_, CResourceLibrary::String(kStringStatusColumn) + QString(8, QLatin1Char(' ')),
                CResourceLibrary::String(kStringServerNameColumn) + QString(2, QLatin1Char(' ')));
  for (int column = 0; column < 2; ++column) WidenTo(*connection_, column, connection_->headerItem()->text(column));
  WidenTo(*connection_, 0, CResourceLibrary::String(kStringNotConnected));
  QString name = ServerName();
  WidenTo(*connection_, 1, name);
  auto* row = new QTreeWidgetItem(connection_, {ConnStatusText(CurrentState()), name});
  connection_->setCurrentItem(row, 0, QItemSelectionModel::NoUpdate);

  PlaceLists();
  statistics_->show();
  connection_->show();
  statisticsTimer_.start();
  connectionTimer_.start();
}

void CTolkAELumServerView::PlaceLists() {
  QRect client = rect();
  int quarter = (client.bottom() + 1) / 4;
  if (statistics_) statistics_->setGeometry(QRect(QPoint(client.left(), quarter), client.bottomRight()));
  if (connection_) connection_->setGeometry(QRect(client.topLeft(), QPoint(client.right(), quarter - 1)));
}

void CTolkAELumServerView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceLists();
  update();
}

void CTolkAELumServerView::OnStatisticsTimer() {
  if (!statistics_) return;
  for (int i = 0; i < kStatisticCount; ++i) {
    VARIANT value;
    g_ServerInterface.GetStatistic(i, &value);
    statistics_->topLevelItem(i)->setText(1, QString::number(value.lVal));
  }
}

void CTolkAELumServerView::OnConnectionTimer() {
  if (!connection_) return;
  int32_t state = CurrentState();
  if (state == m_lastConnState) return;
  m_lastConnState = state;
  connection_->topLevelItem(0)->setText(0, ConnStatusText(state));
  RedrawNow();
}

void CTolkAELumServerView::RefreshConnectionRow() {
  if (!connection_) return;
  QString name = ServerName();
  QTreeWidgetItem* row = connection_->topLevelItem(0);
  row->setText(0, ConnStatusText(CurrentState()));
  WidenTo(*connection_, 1, name);
  row->setText(1, name);
  RedrawNow();
}

void CTolkAELumServerView::RedrawNow() {
  update();
  if (connection_) connection_->viewport()->repaint();
}
