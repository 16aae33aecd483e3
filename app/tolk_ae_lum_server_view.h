// CTolkAELumServerView: the main window's one view. The connection list in
// the top quarter (connection status and OPC DA server name), the toolkit's
// seven running statistics below it. The statistics are polled every second
// (timer 101), the connection state every 100 ms (timer 102), and the
// status cell is rewritten only when the state changed.
//
// Contract: main thread only. OnInitialUpdate builds the lists once, after
// the view is placed in its frame; before that the view is empty. The
// connection state is read from g_pConnectionManager (Not Connected while
// there is none).
#pragma once

#include <QTimer>
#include <QWidget>

#include <cstdint>

class QTreeWidget;

class CTolkAELumServerView : public QWidget {
 public:
  static constexpr int kStatisticsTimerMs = 1000;
  static constexpr int kConnectionTimerMs = 100;
  static constexpr int kStatisticCount = 7;

  explicit CTolkAELumServerView(QWidget* parent);
  ~CTolkAELumServerView() override;

  void OnInitialUpdate();
  // Rewrites the status and the server name (after Edit Connection); the
  // state last shown stays as it was.
  void RefreshConnectionRow();

  // The status text of a connection state ("" for an unknown state).
  static QString ConnStatusText(int32_t state);

  // Null before OnInitialUpdate.
  QTreeWidget* StatisticsList() const { return statistics_; }
  QTreeWidget* ConnectionList() const { return connection_; }

  // The timer handlers, run by the timers.
  void OnStatisticsTimer();
  void OnConnectionTimer();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PlaceLists();
  void RedrawNow();

  QTreeWidget* statistics_ = nullptr;
  QTreeWidget* connection_ = nullptr;
  QTimer statisticsTimer_;
  QTimer connectionTimer_;
  int32_t m_lastConnState = 2;
};
