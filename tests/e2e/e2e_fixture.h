// The alarm road end to end: the server core (toolkit, catalogue, server
// callback, connection manager, alarm processor) connected to the simulated
// Ralto OPC DA server serving a copy of the example plant, with a manual
// plant clock and manual update ticks, the acknowledgement log on, and one
// in-process OPC AE client whose subscription records every event.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "acklog/ack_record.h"
#include "acklog/alarm_log.h"
#include "callback/lum_ae_server_callback.h"
#include "platform/clock.h"
#include "ralto/opc_control.h"
#include "server/server_core.h"
#include "tests/support/event_sink.h"

// 2024-06-03 10:00:00 UTC plus `seconds`.
FILETIME PlantTime(int seconds);

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
  ComPtr<RecordingEventSink> events_ = RecordingEventSink::Make();

 private:
  ComPtr<IOPCServer> controlServer_;
};
