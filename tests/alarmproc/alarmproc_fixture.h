// Test helpers for the alarm processor: the OPC DA client connected to the
// simulated Ralto OPC DA server (manual plant clock, manual update ticks)
// serving a small plant whose blocks carry the message members, the plant
// clock in a zone with summer time, and the alarm sources built.
//
//   N1 (producer 1): LIC1 analog (.AS .RS .LP .FC .PI), LS2 digital
//                    (.AS .LP .FC .ST), TI3 analog without .PI
//   N2 (producer 2): TIC4 analog (.AS .RS .LP .FC .PI), area "Plant/Heat"
#pragma once

#include <string>

#include "alarmproc/alarm_state_reader.h"
#include "opc_client_fixture.h"
#include "toolkit/condition.h"
#include "toolkit/source_ptr.h"

// 2024-06-03 10:00:00 UTC (summer time in the plant's zone) plus `seconds`.
FILETIME PlantTime(int seconds, int ms = 0);

class AlarmProcTest : public OpcClientTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The plant above, with `n1Extra` blocks added to N1 at configuration time `n1Secs`.
  void WriteAlarmPlant(const std::string& n1Secs = "100", const std::string& n1Extra = "");
  // ConnectFresh, the sources built, the group active: the connect thread's work.
  void ConnectPlant();
  // The controller's alarm of a state word item ("N1.LIC1.AS").
  void SetAlarm(const std::string& stateWord, BYTE state, bool acknowledged, FILETIME activation,
                FILETIME acknowledgement = FILETIME(), FILETIME returnToNormal = FILETIME(), BYTE flags = 0x01);
  ComPtr<IOPCSyncIO> SyncIO();
  // A reader over the client's variables, without pauses between attempts
  // unless `pause` is given.
  CAlarmStateReader Reader(IOPCSyncIO* syncIO, CAlarmStateReader::Pause pause = [](DWORD) { return true; });

  CAESourcePtr Source(const std::string& name);
  CAECondition* Condition(const std::string& source, const std::string& condition);
};
