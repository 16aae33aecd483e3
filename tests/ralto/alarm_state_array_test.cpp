// What the simulated controllers publish, decoded independently from the
// layout of the alarm state array (docs/ralto-opc-server.md):
//   word 0: bits 0..2 state, bit 7 acknowledged, bits 8..15 flags,
//           bits 16..31 fraction of the activation time
//   [1] activation seconds, [2] fractions of acknowledgement (low half) and
//   return to normal (high half), [3] acknowledgement seconds,
//   [4] return-to-normal seconds
// Seconds count from 1970 in the controller's local time, fractions in
// 1/65536 s. Also the controller model: scans, acknowledgement words,
// incoherent updates and the random plant.
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <map>
#include <thread>

#include "opc_server_fixture.h"
#include "platform/filetime.h"
#include "platform/registry.h"
#include "ralto/opc_server.h"

namespace {

enum class Kind { kLevel, kRateOfChange, kBit };

struct Decoded {
  int state = 0;  // -2 LoLo / RoCD, -1 Lo, 0 normal, +1 Hi, +2 HiHi / RoCU, 3 bit alarm
  bool acknowledged = false;
  unsigned flags = 0;
  FILETIME activation, acknowledgement, returnToNormal;
};

// Local wall-clock seconds since 1970 (+ fraction) to UTC, through mktime.
FILETIME LocalToUtc(uint32_t seconds, uint32_t fraction) {
  if (seconds == 0 && fraction == 0) return FILETIME{};
  time_t wall = seconds;
  tm fields;
  gmtime_r(&wall, &fields);
  fields.tm_isdst = -1;
  time_t utc = mktime(&fields);
  uint64_t ticks = uint64_t(utc) * 10'000'000 + 116'444'736'000'000'000ull + uint64_t(fraction) * 10'000'000 / 65536;
  return FILETIME{DWORD(ticks), DWORD(ticks >> 32)};
}

Decoded Decode(Kind kind, const std::vector<uint32_t>& w) {
  Decoded d;
  uint32_t word = w[0];
  if (kind == Kind::kLevel) {
    static const int kLevels[8] = {0, -2, -1, 1, 2, 0, 0, 0};
    d.state = kLevels[word & 7];
  } else if (kind == Kind::kRateOfChange) {
    static const int kRates[4] = {0, -2, 2, 0};
    d.state = kRates[word & 3];
  } else {
    d.state = (word & 1) ? 3 : 0;
  }
  d.acknowledged = (word & 0x80) != 0;
  d.flags = (word >> 8) & 0xFF;
  d.activation = LocalToUtc(w[1], word >> 16);
  d.acknowledgement = LocalToUtc(w[3], w[2] & 0xFFFF);
  d.returnToNormal = LocalToUtc(w[4], w[2] >> 16);
  return d;
}

class AlarmArrayTest : public RaltoOpcTest {
 protected:
  void SetUp() override {
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    RaltoOpcTest::SetUp();
    AddGroup();
    Activate(true);
  }

  OPCHANDLE Handle(const std::string& id) {
    auto [it, added] = handles_.emplace(id, 0);
    if (added) it->second = Item(id, OPCHANDLE(handles_.size()));
    return it->second;
  }

  // The state word and its four elements as read from the cache; *times
  // gets their time stamps.
  std::vector<uint32_t> ReadArray(const std::string& word, std::vector<FILETIME>* times = nullptr) {
    std::vector<OPCHANDLE> handles = {Handle(word)};
    for (int i = 1; i <= 4; ++i) handles.push_back(Handle(word + "[" + std::to_string(i) + "]"));
    std::vector<OPCITEMSTATE> states;
    std::vector<HRESULT> errors;
    EXPECT_EQ(Read(OPC_DS_CACHE, handles, &states, &errors), S_OK);
    std::vector<uint32_t> words;
    if (times) times->clear();
    for (const OPCITEMSTATE& state : states) {
      EXPECT_EQ(state.vDataValue.vt, VT_UI4);
      words.push_back(state.vDataValue.ulVal);
      if (times) times->push_back(state.ftTimeStamp);
    }
    return words;
  }

  Decoded ReadDecoded(const std::string& word, Kind kind) { return Decode(kind, ReadArray(word)); }

  static bool Coherent(const std::vector<FILETIME>& times) {
    for (const FILETIME& t : times) {
      if (t != times[0]) return false;
    }
    return true;
  }

  std::map<std::string, OPCHANDLE> handles_;
};

TEST_F(AlarmArrayTest, StatesAcknowledgedBitAndFlagsDecodeAsPublished) {
  const int levels[8] = {0, -2, -1, 1, 2, 0, 0, 0};
  for (BYTE s = 0; s <= 7; ++s) {
    RaltoAlarmSetting alarm;
    alarm.state = s;
    alarm.acknowledged = s % 2 ? true : false;
    alarm.flags = BYTE(0x10 + s);
    ASSERT_EQ(control_->SetAlarm("NODE1.LIC1.AS", alarm), S_OK);
    Decoded d = ReadDecoded("NODE1.LIC1.AS", Kind::kLevel);
    EXPECT_EQ(d.state, levels[s]) << int(s);
    EXPECT_EQ(d.acknowledged, s % 2 == 1);
    EXPECT_EQ(d.flags, 0x10u + s);
  }
  const int rates[4] = {0, -2, 2, 0};
  for (BYTE s = 0; s <= 3; ++s) {
    RaltoAlarmSetting alarm;
    alarm.state = s;
    ASSERT_EQ(control_->SetAlarm("NODE1.LIC1.RS", alarm), S_OK);
    EXPECT_EQ(ReadDecoded("NODE1.LIC1.RS", Kind::kRateOfChange).state, rates[s]) << int(s);
  }
  RaltoAlarmSetting bit;
  bit.state = 1;
  bit.acknowledged = false;
  bit.flags = 0xFF;
  ASSERT_EQ(control_->SetAlarm("NODE2.P1.MTR.AS", bit), S_OK);
  Decoded d = ReadDecoded("NODE2.P1.MTR.AS", Kind::kBit);
  EXPECT_EQ(d.state, 3);
  EXPECT_FALSE(d.acknowledged);
  EXPECT_EQ(d.flags, 0xFFu);

  // Word 132 (HiHi, acknowledged) comes out as it should.
  RaltoAlarmSetting hihi;
  hihi.state = 4;
  hihi.acknowledged = true;
  ASSERT_EQ(control_->SetAlarm("NODE1.TI2.AS", hihi), S_OK);
  EXPECT_EQ(ReadArray("NODE1.TI2.AS")[0] & 0xFF, 132u);

  RaltoAlarmSetting bad;
  bad.state = 8;
  EXPECT_EQ(control_->SetAlarm("NODE1.LIC1.AS", bad), E_INVALIDARG);
  bad.state = 4;
  EXPECT_EQ(control_->SetAlarm("NODE1.LIC1.RS", bad), E_INVALIDARG);
  bad.state = 2;
  EXPECT_EQ(control_->SetAlarm("NODE1.LS3.AS", bad), E_INVALIDARG);
  EXPECT_EQ(control_->SetAlarm("NODE1.LIC1.FC", hihi), E_INVALIDARG) << "not a state word";
  EXPECT_EQ(control_->SetAlarm("NODE1.NONE.AS", hihi), OPC_E_UNKNOWNITEMID);
}

TEST_F(AlarmArrayTest, TheThreeTimesAreControllerLocalSecondsWithFractions) {
  for (int month : {7, 1}) {  // summer time (UTC+2) and winter time (UTC+1)
    RaltoAlarmSetting alarm;
    alarm.state = 3;
    alarm.acknowledged = true;
    alarm.activation = TestTime(2024, month, 10, 10, 15, 30, 250);
    alarm.acknowledgement = TestTime(2024, month, 10, 10, 16, 0, 500);
    alarm.returnToNormal = TestTime(2024, month, 10, 10, 20, 5, 750);
    ASSERT_EQ(control_->SetAlarm("NODE1.LIC1.AS", alarm), S_OK);
    std::vector<FILETIME> times;
    std::vector<uint32_t> words = ReadArray("NODE1.LIC1.AS", &times);
    EXPECT_TRUE(Coherent(times));

    uint32_t offset = month == 7 ? 7200 : 3600;
    EXPECT_EQ(words[1], uint32_t(FileTimeToTimeT(alarm.activation)) + offset) << "local seconds";
    EXPECT_EQ(words[0] >> 16, 16384u) << "a quarter second";
    EXPECT_EQ(words[2] & 0xFFFF, 32768u);
    EXPECT_EQ(words[2] >> 16, 49152u);

    Decoded d = Decode(Kind::kLevel, words);
    EXPECT_EQ(d.activation, alarm.activation);
    EXPECT_EQ(d.acknowledgement, alarm.acknowledgement);
    EXPECT_EQ(d.returnToNormal, alarm.returnToNormal);

    // aeserver adds a fraction as value / 100 ticks: its times land in the controller's second.
    uint64_t local = uint64_t(words[1]) * 10'000'000 + 116'444'736'000'000'000ull + (words[0] >> 16) / 100;
    FILETIME localTime = Uint64ToFileTime(local), utc;
    ASSERT_TRUE(LocalFileTimeToFileTime(&localTime, &utc));
    EXPECT_EQ(FileTimeToTimeT(utc), FileTimeToTimeT(alarm.activation));
  }

  RaltoAlarmSetting none;
  none.state = 1;
  ASSERT_EQ(control_->SetAlarm("NODE1.LIC1.AS", none), S_OK);
  std::vector<uint32_t> words = ReadArray("NODE1.LIC1.AS");
  EXPECT_EQ(words[0] >> 16, 0u);
  EXPECT_EQ(words[1], 0u);
  EXPECT_EQ(words[2], 0u);
  EXPECT_EQ(words[3], 0u);
  EXPECT_EQ(words[4], 0u);
}

TEST_F(AlarmArrayTest, TheControllerRaisesAndClearsAlarmsAtItsScans) {
  const FILETIME t0 = TestTime(2024, 5, 2, 6, 0, 0);
  ASSERT_EQ(control_->UseManualClock(t0), S_OK);
  ASSERT_EQ(control_->SetProcessValue("NODE1.LIC1", 95), S_OK);
  EXPECT_EQ(ReadDecoded("NODE1.LIC1.AS", Kind::kLevel).state, 0) << "not before the scan";

  ASSERT_EQ(control_->AdvanceClock(1000), S_OK);
  const FILETIME t1 = TestTime(2024, 5, 2, 6, 0, 1);
  Decoded level = ReadDecoded("NODE1.LIC1.AS", Kind::kLevel);
  EXPECT_EQ(level.state, 2) << "HiHi";
  EXPECT_FALSE(level.acknowledged);
  EXPECT_EQ(level.flags, 0x01u);
  EXPECT_EQ(level.activation, t1);
  EXPECT_EQ(level.acknowledgement, FILETIME{});
  Decoded rate = ReadDecoded("NODE1.LIC1.RS", Kind::kRateOfChange);
  EXPECT_EQ(rate.state, 2) << "RoCU: 45 per second";
  EXPECT_EQ(rate.activation, t1);

  ASSERT_EQ(control_->AdvanceClock(1000), S_OK);
  const FILETIME t2 = TestTime(2024, 5, 2, 6, 0, 2);
  rate = ReadDecoded("NODE1.LIC1.RS", Kind::kRateOfChange);
  EXPECT_EQ(rate.state, 0) << "a quiet scan ends the rate-of-change alarm";
  EXPECT_EQ(rate.activation, t1);
  EXPECT_EQ(rate.returnToNormal, t2);
  EXPECT_FALSE(rate.acknowledged) << "returned, still to be acknowledged";
  EXPECT_EQ(ReadDecoded("NODE1.LIC1.AS", Kind::kLevel).state, 2);

  ASSERT_EQ(control_->SetProcessValue("NODE1.LIC1", 15), S_OK);
  ASSERT_EQ(control_->AdvanceClock(2000), S_OK);
  level = ReadDecoded("NODE1.LIC1.AS", Kind::kLevel);
  EXPECT_EQ(level.state, -1) << "Lo: a new activation";
  EXPECT_EQ(level.activation, TestTime(2024, 5, 2, 6, 0, 4));
  EXPECT_EQ(ReadDecoded("NODE1.LIC1.RS", Kind::kRateOfChange).state, -2) << "RoCD: 40 over 2 s";

  ASSERT_EQ(control_->SetProcessValue("NODE1.LIC1", 50), S_OK);
  ASSERT_EQ(control_->AdvanceClock(1000), S_OK);
  level = ReadDecoded("NODE1.LIC1.AS", Kind::kLevel);
  EXPECT_EQ(level.state, 0);
  EXPECT_EQ(level.activation, TestTime(2024, 5, 2, 6, 0, 4)) << "kept at the return";
  EXPECT_EQ(level.returnToNormal, TestTime(2024, 5, 2, 6, 0, 5));

  ASSERT_EQ(control_->SetProcessValue("NODE1.LS3", 1), S_OK);
  ASSERT_EQ(control_->AdvanceClock(500), S_OK);
  EXPECT_EQ(ReadDecoded("NODE1.LS3.AS", Kind::kBit).state, 3);
  std::vector<OPCITEMSTATE> states;
  std::vector<HRESULT> errors;
  ASSERT_EQ(Read(OPC_DS_CACHE, {Handle("NODE1.LS3.ST")}, &states, &errors), S_OK);
  EXPECT_EQ(states[0].vDataValue.uiVal & 0x2, 0x2) << "bit 1: the input";

  EXPECT_EQ(control_->SetProcessValue("NODE1.NONE", 1), OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(control_->SetProcessValue("NODE1.LIC1", std::nan("")), E_INVALIDARG);
}

TEST_F(AlarmArrayTest, AnAcknowledgementWordSetsBit7AndTheAcknowledgementTime) {
  ASSERT_EQ(control_->UseManualClock(TestTime(2024, 8, 1, 12, 0, 0)), S_OK);
  control_->SetProcessValue("NODE1.LIC1", 5);
  control_->AdvanceClock(1000);  // LoLo and RoCD, both unacknowledged
  ASSERT_FALSE(ReadDecoded("NODE1.LIC1.AS", Kind::kLevel).acknowledged);
  control_->AdvanceClock(1250);  // RoCD returns
  OPCHANDLE fc = Handle("NODE1.LIC1.FC");

  HRESULT error;
  ASSERT_EQ(WriteI4(fc, (0x01 << 8) + 1, &error), S_OK);
  Decoded level = ReadDecoded("NODE1.LIC1.AS", Kind::kLevel);
  EXPECT_TRUE(level.acknowledged);
  EXPECT_EQ(level.state, -2) << "still LoLo";
  EXPECT_EQ(level.flags, 0x01u);
  EXPECT_EQ(level.acknowledgement, TestTime(2024, 8, 1, 12, 0, 2, 250));
  EXPECT_FALSE(ReadDecoded("NODE1.LIC1.RS", Kind::kRateOfChange).acknowledged) << "+1 is the level alarm";

  control_->AdvanceClock(1000);
  ASSERT_EQ(WriteI4(fc, (0x01 << 8) + 2, &error), S_OK);
  Decoded rate = ReadDecoded("NODE1.LIC1.RS", Kind::kRateOfChange);
  EXPECT_TRUE(rate.acknowledged);
  EXPECT_EQ(rate.acknowledgement, TestTime(2024, 8, 1, 12, 0, 3, 250));

  // Acknowledging again changes nothing, not even the time stamps.
  std::vector<FILETIME> before, after;
  ReadArray("NODE1.LIC1.AS", &before);
  control_->AdvanceClock(1000);
  ASSERT_EQ(WriteI4(fc, (0x01 << 8) + 1, &error), S_OK);
  EXPECT_EQ(ReadDecoded("NODE1.LIC1.AS", Kind::kLevel).acknowledgement, level.acknowledgement);
  ReadArray("NODE1.LIC1.AS", &after);
  EXPECT_EQ(before, after);

  std::vector<RaltoFcWrite> log;
  ASSERT_EQ(control_->GetFcWrites(&log), S_OK);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].itemId, "NODE1.LIC1.FC");
  EXPECT_EQ(log[0].value, 0x0101);
  EXPECT_EQ(log[1].value, 0x0102);
  EXPECT_EQ(log[1].time, TestTime(2024, 8, 1, 12, 0, 3, 250));
}

TEST_F(AlarmArrayTest, IncoherentUpdatesGiveTheElementsOtherTimeStamps) {
  ASSERT_EQ(control_->UseManualClock(TestTime(2024, 9, 9, 9, 0, 0)), S_OK);
  ASSERT_EQ(control_->SetIncoherentUpdates(true), S_OK);
  RaltoAlarmSetting alarm;
  alarm.state = 3;
  alarm.acknowledged = false;
  alarm.activation = TestTime(2024, 9, 9, 8, 59, 0);
  ASSERT_EQ(control_->SetAlarm("NODE1.LIC1.AS", alarm), S_OK);
  std::vector<FILETIME> times;
  std::vector<uint32_t> words = ReadArray("NODE1.LIC1.AS", &times);
  EXPECT_EQ(words[0] & 7, 3u) << "the word at once";
  EXPECT_EQ(words[1], 0u) << "its elements not yet";
  EXPECT_FALSE(Coherent(times));

  control_->AdvanceClock(500);
  words = ReadArray("NODE1.LIC1.AS", &times);
  EXPECT_NE(words[1], 0u) << "the elements follow at the next scan";
  EXPECT_FALSE(Coherent(times)) << "with a later time stamp";
  EXPECT_EQ(times[1], TestTime(2024, 9, 9, 9, 0, 0, 500));

  ASSERT_EQ(control_->SetIncoherentUpdates(false), S_OK);
  alarm.state = 4;
  ASSERT_EQ(control_->SetAlarm("NODE1.LIC1.AS", alarm), S_OK);
  ReadArray("NODE1.LIC1.AS", &times);
  EXPECT_TRUE(Coherent(times));
}

TEST_F(AlarmArrayTest, OnTheSystemClockHeldBackElementsFollowWithinAScan) {
  ASSERT_EQ(control_->SetIncoherentUpdates(true), S_OK);
  RaltoAlarmSetting alarm;
  alarm.state = 1;
  alarm.acknowledged = false;
  alarm.activation = TestTime(2024, 2, 2, 2, 2, 2);
  ASSERT_EQ(control_->SetAlarm("NODE1.TI2.AS", alarm), S_OK);
  std::vector<FILETIME> times;
  std::vector<uint32_t> words;
  for (int i = 0; i < 200; ++i) {
    words = ReadArray("NODE1.TI2.AS", &times);
    if (words[1] != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_NE(words[1], 0u);
  EXPECT_GT(CompareFileTime(times[1], times[0]), 0);
}

TEST_F(AlarmArrayTest, TheRandomPlantChangesValuesAndKeepsArraysCoherent) {
  Advise();
  for (const char* id : {"NODE1.LIC1.PI", "NODE1.TI2.PI", "NODE1.LS3.ST"}) Handle(id);
  control_->TickUpdates();
  sink_->TakeChanges();
  ASSERT_EQ(control_->UseManualClock(TestTime(2024, 10, 1, 0, 0, 0)), S_OK);
  ASSERT_EQ(control_->RunRandomPlant(40, 7), S_OK);
  size_t changes = 0;
  for (int step = 0; step < 10; ++step) {
    ASSERT_EQ(control_->AdvanceClock(500), S_OK);
    control_->TickUpdates();
    changes += sink_->TakeChanges().size();
    std::vector<FILETIME> times;
    for (const char* word : {"NODE1.LIC1.AS", "NODE1.LIC1.RS", "NODE1.TI2.AS", "NODE1.LS3.AS"}) {
      ReadArray(word, &times);
      EXPECT_TRUE(Coherent(times)) << word << " at step " << step;
    }
  }
  EXPECT_GT(changes, 20u) << "200 block changes among 4 blocks";
  ASSERT_EQ(control_->RunRandomPlant(0, 0), S_OK);
  control_->AdvanceClock(1000);  // ends any rate-of-change alarm
  control_->TickUpdates();
  sink_->TakeChanges();
  control_->AdvanceClock(1000);
  control_->TickUpdates();
  EXPECT_TRUE(sink_->TakeChanges().empty()) << "a still plant";
}

}  // namespace

// Operators at the controllers' panels: every alarm that is up gets its
// acknowledged bit, and nothing else about it changes.
class PanelAcknowledgementTest : public AlarmArrayTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kRaltoOpcServerKey, kRaltoOpcRandomAckRateValue, 1000), ERROR_SUCCESS);
    AlarmArrayTest::SetUp();
  }
};

TEST_F(PanelAcknowledgementTest, OperatorsAtThePanelsAcknowledgeWhatIsUp) {
  Advise();
  ASSERT_EQ(control_->UseManualClock(TestTime(2024, 10, 1, 0, 0, 0)), S_OK);
  RaltoAlarmSetting alarm;
  alarm.state = 4;  // HiHi
  alarm.acknowledged = false;
  alarm.flags = 0x01;
  ASSERT_EQ(control_->SetAlarm("NODE1.LIC1.AS", alarm), S_OK);
  ASSERT_FALSE(ReadDecoded("NODE1.LIC1.AS", Kind::kLevel).acknowledged);
  for (int step = 0; step < 20 && !ReadDecoded("NODE1.LIC1.AS", Kind::kLevel).acknowledged; ++step) {
    ASSERT_EQ(control_->AdvanceClock(100), S_OK);
  }
  Decoded d = ReadDecoded("NODE1.LIC1.AS", Kind::kLevel);
  EXPECT_TRUE(d.acknowledged);
  EXPECT_EQ(d.state, 2) << "still HiHi";
}

// The journal of ".FC" writes: what the controllers took, appended to a
// file that outlives the process.
class FcJournalTest : public AlarmArrayTest {
 protected:
  void SetUp() override {
    journal_ = std::string(getenv("TMPDIR")) + "/fc.journal";
    std::ofstream(journal_) << "1 EARLIER.LINE.FC 1\n";
    ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kRaltoOpcServerKey, kRaltoOpcFcJournalValue, journal_), ERROR_SUCCESS);
    AlarmArrayTest::SetUp();
  }
  std::string journal_;
};

TEST_F(FcJournalTest, EveryWriteTheControllerTookIsAppendedAsOneLine) {
  ASSERT_EQ(control_->UseManualClock(TestTime(2024, 8, 1, 12, 0, 0)), S_OK);
  OPCHANDLE fc = Handle("NODE1.LIC1.FC");
  OPCHANDLE value = Handle("NODE1.LIC1.PI");
  HRESULT error;
  ASSERT_EQ(WriteI4(fc, 0x0101, &error), S_OK);
  EXPECT_NE(WriteI4(value, 1, &error), S_OK) << "not writable: not taken, not journaled";
  control_->AdvanceClock(1000);
  ASSERT_EQ(WriteI4(fc, 0x0102, &error), S_OK);

  std::ifstream file(journal_);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  uint64_t first = FileTimeToUint64(TestTime(2024, 8, 1, 12, 0, 0));
  uint64_t second = FileTimeToUint64(TestTime(2024, 8, 1, 12, 0, 1));
  EXPECT_EQ(lines, (std::vector<std::string>{"1 EARLIER.LINE.FC 1", std::to_string(first) + " NODE1.LIC1.FC 257",
                                             std::to_string(second) + " NODE1.LIC1.FC 258"}));
}
