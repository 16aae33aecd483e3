#include "app/viewer_snapshot.h"

#include <QApplication>
#include <QPixmap>

#include <cstdio>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/frame_window_link.h"
#include "app/main_frame.h"
#include "opcda/connection_manager.h"
#include "platform/class_factory.h"
#include "platform/connection_point.h"
#include "server/server_core.h"
#include "toolkit/opcae.h"
#include "toolkit/server_interface.h"
#include "ui/dialog_result.h"
#include "ui/dlg_ack_comments.h"

namespace {

constexpr int kPollMs = 200;
constexpr int kEventsGeneratedStatistic = 4;
constexpr uint32_t kViewCommand = 32779;
// Long enough for the last acknowledgement to reach the log.
constexpr int kSettleMs = 1000;

// Who acknowledges, and what they write.
struct Acknowledgement {
  const char* operatorName;
  const char* comment;
};
constexpr Acknowledgement kAcknowledgements[] = {
    {"J. Hale", "Level checked on site, valve reset"},
    {"R. Ortiz", "Pump restarted\r\nwatching the trend"},
    {"J. Hale", "Known fault, work order raised"},
    {"M. Berg", "Sensor cleaned"},
    {"R. Ortiz", "Operator on the way"},
    {"M. Berg", "Acknowledged from the control room"},
};
constexpr size_t kAcknowledgementCount = std::size(kAcknowledgements);

// The client's event sink: the latest unacknowledged activation of each
// source, taken by the main thread.
class AlarmSink final : public IOPCEventSink {
 public:
  static ComPtr<AlarmSink> Make() { return ComPtr<AlarmSink>::Attach(new AlarmSink()); }

  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (iid != IID_IUnknown && iid != IID_IOPCEventSink) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IOPCEventSink*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override {
    ULONG left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }

  HRESULT OnEvent(OPCHANDLE, BOOL, BOOL, DWORD count, const ONEVENTSTRUCT* events) override {
    std::lock_guard lock(mutex_);
    for (DWORD i = 0; i < count; ++i) {
      const ONEVENTSTRUCT& e = events[i];
      if (e.dwEventType != OPC_CONDITION_EVENT) continue;
      if ((e.wNewState & OPC_CONDITION_ACTIVE) && !(e.wNewState & OPC_CONDITION_ACKED) && e.bAckRequired) {
        waiting_[e.szSource] = e;
      } else {
        waiting_.erase(e.szSource);
      }
    }
    return S_OK;
  }

  std::vector<ONEVENTSTRUCT> Take() {
    std::lock_guard lock(mutex_);
    std::vector<ONEVENTSTRUCT> taken;
    for (auto& [source, event] : waiting_) taken.push_back(std::move(event));
    waiting_.clear();
    return taken;
  }

 private:
  AlarmSink() = default;
  ~AlarmSink() = default;

  ComRefCount refs_;
  std::mutex mutex_;
  std::map<std::string, ONEVENTSTRUCT> waiting_;
};

}  // namespace

// The snapshot's own OPC AE client: an event server object of this server
// with one subscription.
struct CViewerSnapshot::Client {
  ComPtr<IOPCEventServer> server;
  ComPtr<IOPCEventSubscriptionMgt> subscription;
  ComPtr<IConnectionPoint> point;
  ComPtr<AlarmSink> sink = AlarmSink::Make();
  DWORD cookie = 0;
  size_t acknowledged = 0;

  ~Client() {
    if (point) point->Unadvise(cookie);
  }

  bool Connect() {
    ComPtr<IUnknown> created;
    DWORD bufferTime = 0, maxSize = 0;
    ComPtr<IConnectionPointContainer> container;
    return CoCreateInstance(kServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer, server.PutVoid()) ==
               S_OK &&
           server->CreateEventSubscription(true, 0, 0, 1, IID_IOPCEventSubscriptionMgt, created.Put(), &bufferTime,
                                           &maxSize) == S_OK &&
           created.As(IID_IOPCEventSubscriptionMgt, subscription) == S_OK &&
           subscription.As(IID_IConnectionPointContainer, container) == S_OK &&
           container->FindConnectionPoint(IID_IOPCEventSink, point.Put()) == S_OK &&
           point->Advise(static_cast<IOPCEventSink*>(sink.Get()), &cookie) == S_OK &&
           subscription->Refresh(cookie) == S_OK;
  }

  // Acknowledges what waits, up to the acknowledgements still to give.
  void AcknowledgeWaiting() {
    for (const ONEVENTSTRUCT& event : sink->Take()) {
      if (acknowledged >= kAcknowledgementCount) return;
      const Acknowledgement& ack = kAcknowledgements[acknowledged];
      std::vector<HRESULT> errors;
      // One an operator at the panel acknowledged first is refused; the next one then.
      if (server->AckCondition(1, ack.operatorName, ack.comment, &event.szSource, &event.szConditionName,
                               &event.ftActiveTime, &event.dwCookie, &errors) == S_OK &&
          errors.size() == 1 && errors[0] == S_OK) {
        ++acknowledged;
      }
    }
  }
};

CViewerSnapshot::CViewerSnapshot(CMainFrame& frame, CFrameWindowLink& link, QString file, int limitMs)
    : frame_(frame), link_(link), file_(std::move(file)), limitMs_(limitMs) {
  timer_.setInterval(kPollMs);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
  viewerWatch_.setInterval(kPollMs);
  QObject::connect(&viewerWatch_, &QTimer::timeout, [this] { TakeViewer(); });
  elapsed_.start();
  timer_.start();
}

CViewerSnapshot::~CViewerSnapshot() = default;

void CViewerSnapshot::Poll() {
  if (!client_) {
    ConnectionManager* manager = g_pConnectionManager;
    VARIANT generated;
    g_ServerInterface.GetStatistic(kEventsGeneratedStatistic, &generated);
    if (manager && manager->connectionState == ConnectionManager::kConnected && generated.lVal > 0) {
      client_ = std::make_unique<Client>();
      if (!client_->Connect()) std::fprintf(stderr, "aeserver: the snapshot's client could not subscribe\n");
    }
  } else {
    client_->AcknowledgeWaiting();
  }
  const bool done = client_ && client_->acknowledged >= kAcknowledgementCount;
  if (!done && elapsed_.elapsed() <= limitMs_) return;
  if (!done) {
    failed_ = true;
    std::fprintf(stderr, "aeserver: %zu of %zu alarms acknowledged within %d ms; the viewer shows what there is\n",
                 client_ ? client_->acknowledged : 0, kAcknowledgementCount, limitMs_);
  }
  timer_.stop();
  QTimer::singleShot(kSettleMs, [this] { OpenViewer(); });
}

void CViewerSnapshot::OpenViewer() {
  viewerWatch_.start();
  // Modal: returns once the picture is taken and the viewer closed.
  frame_.ExecuteCommand(kViewCommand);
  viewerWatch_.stop();
  client_.reset();
  link_.PostCloseMessage();
}

void CViewerSnapshot::TakeViewer() {
  CDlgAckComments* viewer = g_pAckCommentsDlg;
  if (!viewer || QApplication::activeModalWidget() != viewer || !viewer->isVisible()) return;
  viewerWatch_.stop();
  written_ = viewer->grab().save(file_, "PNG");
  if (!written_) std::fprintf(stderr, "aeserver: cannot write %s\n", file_.toLocal8Bit().constData());
  viewer->EndDialog(IDCANCEL);
}
