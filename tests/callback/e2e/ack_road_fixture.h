// The acknowledgement road end to end: the server core started with the
// server callback, connected to the simulated Ralto OPC DA server (manual
// update ticks, manual plant clock) over a small plant, the acknowledgement
// log as g_pAlarmLog, and one in-process OPC AE client with a subscription
// that records every event.
//
//   N1 (producer 1): LIC1 analog (.AS .RS .LP .FC), LS2 digital (.AS .LP .FC),
//                    both in area "Plant/Tanks"
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "acklog/alarm_log.h"
#include "alarmconfig/derived_source.h"
#include "callback/lum_ae_server_callback.h"
#include "callback_test_support.h"
#include "platform/clock.h"
#include "ralto/opc_control.h"
#include "server/server_core.h"
#include "toolkit/opcae.h"

constexpr char kLevelSource[] = "Plant/Tanks/N1_LIC1.A";
constexpr char kRocSource[] = "Plant/Tanks/N1_LIC1.ROC";

// 2024-06-03 10:00:00 UTC plus `seconds`.
FILETIME PlantTime(int seconds);

class AckRoadTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The controller raises the alarm of `stateWord` ("N1.LIC1.AS") into
  // `state`, unacknowledged, with `flags` in bits 8..15; the update cycle
  // carries it to the server. Returns the client's event of the activation.
  ONEVENTSTRUCT RaiseAlarm(const std::string& stateWord, const std::string& source, BYTE state, BYTE flags,
                           FILETIME activation);
  // The client acknowledges the condition of `event`; the per-condition result.
  HRESULT Acknowledge(const ONEVENTSTRUCT& event, const std::string& operatorName, const std::string& comment);
  // Every word written to an ".FC" item so far.
  std::vector<RaltoFcWrite> FcWrites();
  CDerivedSource* Source(const std::string& name);

  CLumAEServerCallback callback_{50};
  ae::ManualClock processorClock_;
  std::unique_ptr<CServerCore> core_;
  std::unique_ptr<CAlarmLog> log_;
  std::string logFolder_;
  ComPtr<IRaltoOpcControl> control_;
  ComPtr<IOPCEventServer> server_;
  ComPtr<IOPCEventSubscriptionMgt> subscription_;
  ComPtr<RecordingEventSink> sink_ = RecordingEventSink::Make();

 private:
  void WritePlant(const std::string& folder);
  ComPtr<IOPCServer> controlServer_;
};
