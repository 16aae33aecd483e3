// The alarm road end to end: the server core (toolkit, catalogue, server
// callback, connection manager, alarm processor) connected to the simulated
// Ralto OPC DA server serving a copy of the example plant, with a manual
// plant clock and manual update ticks, the acknowledgement log on, and one
// in-process OPC AE client whose subscription records every event.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "acklog/ack_record.h"
#include "acklog/alarm_log.h"
#include "callback/lum_ae_server_callback.h"
#include "platform/clock.h"
#include "ralto/opc_control.h"
#include "server/server_core.h"
#include "toolkit/opcae.h"

// 2024-06-03 10:00:00 UTC plus `seconds`.
FILETIME PlantTime(int seconds);

// Records every event delivered to it. Heap-allocated, reference counted.
class EventRecorder final : public IOPCEventSink {
 public:
  static ComPtr<EventRecorder> Make() { return ComPtr<EventRecorder>::Attach(new EventRecorder()); }
  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override;
  HRESULT OnEvent(OPCHANDLE, BOOL, BOOL, DWORD count, const ONEVENTSTRUCT* events) override;

  // Waits (up to 20 s) for an event of `source` for which `match` holds,
  // received after the first `from` events; true with it in `out`.
  bool WaitFor(const std::string& source, const std::function<bool(const ONEVENTSTRUCT&)>& match,
               ONEVENTSTRUCT& out, size_t from = 0);
  // Waits until events of `count` different sources have come.
  bool WaitForSources(size_t count);
  size_t Count();

 private:
  EventRecorder() = default;
  ~EventRecorder() = default;
  ComRefCount refs_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<ONEVENTSTRUCT> events_;
};

// The server callback, with a hook that runs before it handles a client's
// acknowledgement.
class HookedCallback : public CLumAEServerCallback {
 public:
  HookedCallback() : CLumAEServerCallback(50) {}
  void OnConditionAcknowledged(CAECondition* condition) override;
  std::function<void()> beforeAcknowledgement;
};

class EndToEndTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Runs once the simulated server's control exists, before the server starts.
  virtual void BeforeStart() {}

  // One update cycle of the simulated server: the changes reach the server.
  void Tick();
  // A scan of the plant `ms` later, then an update cycle.
  void Scan(DWORD ms);
  // The client's acknowledgement of the condition of `event`.
  HRESULT Acknowledge(const ONEVENTSTRUCT& event, const std::string& who);
  OPCCONDITIONSTATE State(const std::string& source, const std::string& condition);
  std::vector<RaltoFcWrite> FcWrites();
  // The acknowledgement log's records so far.
  std::vector<AckRecord> LogRecords();
  // Replaces `from` by `to` in the plant's document `name`.
  void EditDocument(const std::string& name, const std::string& from, const std::string& to);
  // The latest event of `source` with `match`, after the first `from` events; fails the test if none comes.
  ONEVENTSTRUCT Event(const std::string& source, const std::function<bool(const ONEVENTSTRUCT&)>& match,
                      size_t from = 0);

  std::string plantDir_;
  std::string logDir_;
  ae::ManualClock processorClock_;
  HookedCallback callback_;
  std::unique_ptr<CServerCore> core_;
  std::unique_ptr<CAlarmLog> log_;
  ComPtr<IRaltoOpcControl> control_;
  ComPtr<IOPCEventServer> server_;
  ComPtr<IOPCEventSubscriptionMgt> subscription_;
  ComPtr<EventRecorder> events_ = EventRecorder::Make();

 private:
  ComPtr<IOPCServer> controlServer_;
};
