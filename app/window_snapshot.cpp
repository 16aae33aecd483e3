#include "app/window_snapshot.h"

#include <QPixmap>

#include <cstdio>

#include "app/frame_window_link.h"
#include "app/main_frame.h"
#include "app/tolk_ae_lum_server_view.h"
#include "opcda/connection_manager.h"
#include "toolkit/server_interface.h"

namespace {

constexpr int kPollMs = 200;
constexpr int kEventsGeneratedStatistic = 4;
// Long enough for the view's once-a-second timer to show the events.
constexpr int kSettleMs = 2500;

}  // namespace

CWindowSnapshot::CWindowSnapshot(CMainFrame& frame, CFrameWindowLink& link, QString file, int limitMs)
    : frame_(frame), link_(link), file_(std::move(file)), limitMs_(limitMs) {
  timer_.setInterval(kPollMs);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
  elapsed_.start();
  timer_.start();
}

void CWindowSnapshot::Poll() {
  ConnectionManager* manager = g_pConnectionManager;
  VARIANT generated;
  g_ServerInterface.GetStatistic(kEventsGeneratedStatistic, &generated);
  bool flowing = manager && manager->connectionState == ConnectionManager::kConnected && generated.lVal > 0;
  if (flowing && flowingSinceMs_ < 0) flowingSinceMs_ = elapsed_.elapsed();
  if (flowing && elapsed_.elapsed() - flowingSinceMs_ >= kSettleMs) {
    Take();
  } else if (elapsed_.elapsed() > limitMs_) {
    failed_ = true;
    std::fprintf(stderr, "aeserver: no events within %d ms; the picture shows the window as it is\n", limitMs_);
    Take();
  }
}

void CWindowSnapshot::Take() {
  timer_.stop();
  frame_.View()->OnStatisticsTimer();
  written_ = frame_.grab().save(file_, "PNG");
  if (!written_) std::fprintf(stderr, "aeserver: cannot write %s\n", file_.toLocal8Bit().constData());
  link_.PostCloseMessage();
}
