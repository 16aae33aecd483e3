#include "app/status_printer.h"

#include "app/string_ids.h"
#include "app/tolk_ae_lum_server_view.h"
#include "opcda/connection_manager.h"
#include "toolkit/server_interface.h"
#include "ui/resource_library.h"

namespace {

constexpr int kStateWatchMs = 10;

int32_t CurrentState() {
  ConnectionManager* manager = g_pConnectionManager;
  return manager ? manager->connectionState.load() : ConnectionManager::kNotConnected;
}

}  // namespace

CStatusPrinter::CStatusPrinter(FILE* out) : out_(out) {
  lineTimer_.setInterval(CTolkAELumServerView::kStatisticsTimerMs);
  QObject::connect(&lineTimer_, &QTimer::timeout, [this] { Print(); });
  stateTimer_.setInterval(kStateWatchMs);
  QObject::connect(&stateTimer_, &QTimer::timeout, [this] { WatchState(); });
  lineTimer_.start();
  stateTimer_.start();
  WatchState();
}

void CStatusPrinter::Print() {
  lastState_ = CurrentState();
  std::fprintf(out_, "%s\n", StatusLine().c_str());
  std::fflush(out_);
}

void CStatusPrinter::WatchState() {
  if (CurrentState() == lastState_) return;
  Print();
  if (lastState_ == ConnectionManager::kConnected) stateTimer_.stop();
}

std::string CStatusPrinter::StatusLine() {
  std::string line = CTolkAELumServerView::ConnStatusText(CurrentState()).toStdString();
  for (int i = 0; i < CTolkAELumServerView::kStatisticCount; ++i) {
    VARIANT value;
    g_ServerInterface.GetStatistic(i, &value);
    line += " | " + CResourceLibrary::String(kStringFirstStatisticLabel + i).toStdString() + " " +
            std::to_string(value.lVal);
  }
  return line;
}
