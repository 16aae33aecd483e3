// Reading an alarm variable's state array from the simulated controllers:
// decoding, event times, messages, coherence and the faults of the read.
#include <gtest/gtest.h>

#include "alarmconfig/tracked_mutex.h"
#include "alarmproc_fixture.h"
#include "platform/utf.h"

namespace {

class StateReaderTest : public AlarmProcTest {
 protected:
  void SetUp() override {
    AlarmProcTest::SetUp();
    if (HasFatalFailure()) return;
    ConnectPlant();
    syncIO_ = SyncIO();
    ASSERT_TRUE(syncIO_);
  }

  // ReadAlarmEvent of `itemId` as the processor runs it.
  int Read(const std::string& itemId, AlarmEvent& event, bool* completed = nullptr, CAlarmDumpFile* dump = nullptr) {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    bool done = false;
    int result = Reader(syncIO_.Get()).ReadAlarmEvent(Variable(itemId), event, done, dump);
    if (completed) *completed = done;
    return result;
  }

  ComPtr<IOPCSyncIO> syncIO_;
};

TEST_F(StateReaderTest, AnUnacknowledgedHiHiWithTheControllersTime) {
  SetAlarm("N1.LIC1.AS", 4, false, PlantTime(5));
  AlarmEvent event;
  ASSERT_EQ(Read("N1.LIC1.AS", event), CAlarmStateReader::kReadOk);
  EXPECT_EQ(event.kind, kAlarmLevel);
  EXPECT_EQ(event.state, 2);
  EXPECT_EQ(event.acknowledged, 0u);
  EXPECT_EQ(event.flags, 0x01);
  EXPECT_EQ(event.baseName, "Plant/Tanks/N1_LIC1");
  EXPECT_EQ(event.activationTime, PlantTime(5));  // back from the controller's summer time
  EXPECT_EQ(event.message, "Level 50.00 % HiHi, then %val %state");

  // The read leaves the whole array in the variables.
  EXPECT_EQ(Variable("N1.LIC1.AS").value.vt, VT_UI4);
  EXPECT_EQ(Variable("N1.LIC1.AS").value.ulVal & 0xFF, 0x04u);
  EXPECT_EQ(Variable("N1.LIC1.AS[1]").timestamp, Variable("N1.LIC1.AS").timestamp);
  EXPECT_EQ(Variable("N1.LIC1.AS[4]").value.vt, VT_UI4);
}

TEST_F(StateReaderTest, StatesOfEachKind) {
  // 132 = bit 2 and bit 7: HiHi, acknowledged; the flags byte passes unchanged.
  SetAlarm("N1.LIC1.AS", 4, true, PlantTime(1), PlantTime(2), FILETIME(), 0xA5);
  AlarmEvent event;
  ASSERT_EQ(Read("N1.LIC1.AS", event), 0);
  EXPECT_EQ(Variable("N1.LIC1.AS").value.ulVal & 0xFFFF, 0xA584u);
  EXPECT_EQ(event.state, 2);
  EXPECT_EQ(event.acknowledged, 1u);
  EXPECT_EQ(event.flags, 0xA5);

  const int32_t level[] = {0, -2, -1, 1, 2, 0, 0, 0};
  for (BYTE s = 0; s < 8; ++s) {
    SetAlarm("N1.LIC1.AS", s, false, PlantTime(10 + s));
    AlarmEvent e;
    ASSERT_EQ(Read("N1.LIC1.AS", e), 0);
    EXPECT_EQ(e.state, level[s]) << int(s);
  }
  const int32_t rate[] = {0, -2, 2, 0};
  for (BYTE s = 0; s < 4; ++s) {
    SetAlarm("N1.LIC1.RS", s, false, PlantTime(20 + s));
    AlarmEvent e;
    ASSERT_EQ(Read("N1.LIC1.RS", e), 0);
    EXPECT_EQ(e.kind, kAlarmRateOfChange);
    EXPECT_EQ(e.state, rate[s]) << int(s);
    EXPECT_EQ(e.baseName, "Plant/Tanks/N1_LIC1");
  }
  SetAlarm("N1.LS2.AS", 1, false, PlantTime(30));
  AlarmEvent bit;
  ASSERT_EQ(Read("N1.LS2.AS", bit), 0);
  EXPECT_EQ(bit.kind, kAlarmBit);
  EXPECT_EQ(bit.state, 3);
  EXPECT_EQ(bit.message, "Switch 0 is Alarmed");
  SetAlarm("N1.LS2.AS", 0, true, PlantTime(30));
  ASSERT_EQ(Read("N1.LS2.AS", bit), 0);
  EXPECT_EQ(bit.state, 0);
  EXPECT_EQ(bit.message, "Switch 0 is Normal");
}

TEST_F(StateReaderTest, EventTimes) {
  // Half a second is 32768/65536 s; the server adds the fraction / 100.
  SetAlarm("N1.LIC1.AS", 3, true, PlantTime(5, 500), PlantTime(7), PlantTime(9, 250));
  AlarmEvent event;
  ASSERT_EQ(Read("N1.LIC1.AS", event), 0);
  EXPECT_EQ(FileTimeToUint64(event.activationTime), FileTimeToUint64(PlantTime(5)) + 32768 / 100);

  CAlarmStateReader reader = Reader(syncIO_.Get());
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  FILETIME acked, normal;
  ASSERT_EQ(reader.ReadEventTime("N1.LIC1", kAlarmLevel, acked, 2, 3), CAlarmStateReader::kTimeOk);
  EXPECT_EQ(acked, PlantTime(7));
  ASSERT_EQ(reader.ReadEventTime("N1.LIC1", kAlarmLevel, normal, 2, 4), CAlarmStateReader::kTimeOk);
  EXPECT_EQ(FileTimeToUint64(normal), FileTimeToUint64(PlantTime(9)) + 16384 / 100);

  FILETIME unchanged = Uint64ToFileTime(42);
  EXPECT_EQ(reader.ReadEventTime("N1.LIC1", kAlarmFixedDeviation, unchanged, 0, 1), CAlarmStateReader::kTimeBadKind);
  EXPECT_EQ(reader.ReadEventTime("N1.NOPE", kAlarmLevel, unchanged, 0, 1), CAlarmStateReader::kTimeMissing);
  // The rate-of-change array was never read: its elements hold no value.
  EXPECT_EQ(reader.ReadEventTime("N1.LIC1", kAlarmRateOfChange, unchanged, 0, 1), CAlarmStateReader::kTimeMissing);
  EXPECT_EQ(FileTimeToUint64(unchanged), 42u);
}

TEST_F(StateReaderTest, NoActivationTimeLeavesItZero) {
  SetAlarm("N1.LIC1.AS", 4, false, FILETIME());
  AlarmEvent event;
  ASSERT_EQ(Read("N1.LIC1.AS", event), 0);
  EXPECT_EQ(Variable("N1.LIC1.AS[1]").value.ulVal, 0u);
  EXPECT_TRUE(IsNullFileTime(event.activationTime));
}

TEST_F(StateReaderTest, MessagesFromTheTemplates) {
  // The controller's value 2.5 (a LoLo at its scan), then Hi from the controller.
  ASSERT_EQ(control_->SetProcessValue("N2.TIC4", 2.5), S_OK);
  ASSERT_EQ(control_->AdvanceClock(1000), S_OK);
  SetAlarm("N2.TIC4.AS", 3, false, PlantTime(2));
  AlarmEvent level;
  ASSERT_EQ(Read("N2.TIC4.AS", level), 0);
  EXPECT_EQ(level.message, "Temp 2.50 Hi");
  EXPECT_EQ(level.baseName, "Plant/Heat/N2_TIC4");

  // Mixed case is found; a state without a word reads "Normal".
  SetAlarm("N1.LIC1.RS", 0, true, PlantTime(3));
  AlarmEvent rate;
  ASSERT_EQ(Read("N1.LIC1.RS", rate), 0);
  EXPECT_EQ(rate.message, "Level rate 50.00 %/s Normal");

  // No ".PI" item: the token stays.
  SetAlarm("N1.TI3.AS", 1, false, PlantTime(4));
  AlarmEvent noValue;
  ASSERT_EQ(Read("N1.TI3.AS", noValue), 0);
  EXPECT_EQ(noValue.message, "Temperature %VAL LoLo");

  // The input bit of a digital block.
  ASSERT_EQ(control_->SetProcessValue("N1.LS2", 1), S_OK);
  ASSERT_EQ(control_->AdvanceClock(1000), S_OK);
  AlarmEvent bit;
  ASSERT_EQ(Read("N1.LS2.AS", bit), 0);
  EXPECT_EQ(bit.state, 3);
  EXPECT_EQ(bit.message, "Switch 1 is Alarmed");
  EXPECT_EQ(bit.activationTime, PlantTime(2));
}

TEST_F(StateReaderTest, AnAlarmCompletedBetweenTwoReads) {
  AlarmEvent event;
  bool completed = true;
  ASSERT_EQ(Read("N1.LIC1.AS", event, &completed), 0);
  EXPECT_FALSE(completed);  // normal before and after, never any time
  // Came and went: normal again, but the controller recorded times.
  SetAlarm("N1.LIC1.AS", 0, false, PlantTime(1), FILETIME(), PlantTime(2));
  ASSERT_EQ(Read("N1.LIC1.AS", event, &completed), 0);
  EXPECT_FALSE(completed) << "no times were held before";
  SetAlarm("N1.LIC1.AS", 0, false, PlantTime(3), FILETIME(), PlantTime(4));
  ASSERT_EQ(Read("N1.LIC1.AS", event, &completed), 0);
  EXPECT_TRUE(completed);
  EXPECT_EQ(event.activationTime, PlantTime(3));
  ASSERT_EQ(Read("N1.LIC1.AS", event, &completed), 0);
  EXPECT_FALSE(completed) << "the same return-to-normal time again";
  // Still active between the reads: not completed.
  SetAlarm("N1.LIC1.AS", 2, false, PlantTime(5));
  ASSERT_EQ(Read("N1.LIC1.AS", event, &completed), 0);
  EXPECT_FALSE(completed);
}

TEST_F(StateReaderTest, AnIncoherentArrayIsReadAgain) {
  ASSERT_EQ(control_->SetIncoherentUpdates(true), S_OK);
  SetAlarm("N1.LIC1.AS", 4, false, PlantTime(5));
  int pauses = 0;
  // The controller's next update is coherent.
  CAlarmStateReader reader = Reader(syncIO_.Get(), [&](DWORD) {
    ++pauses;
    EXPECT_EQ(control_->SetIncoherentUpdates(false), S_OK);
    SetAlarm("N1.LIC1.AS", 4, false, PlantTime(5));
    return true;
  });
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  AlarmEvent event;
  bool completed = false;
  ASSERT_EQ(reader.ReadAlarmEvent(Variable("N1.LIC1.AS"), event, completed, nullptr), 0);
  EXPECT_EQ(pauses, 1);
  EXPECT_EQ(event.state, 2);
  EXPECT_EQ(event.activationTime, PlantTime(5));
}

TEST_F(StateReaderTest, AnArrayThatStaysIncoherentFailsWithItsDiagnostics) {
  // The controller's HiHi at its scan: the word now, the elements at the
  // next scan with a later time stamp.
  ASSERT_EQ(control_->SetIncoherentUpdates(true), S_OK);
  ASSERT_EQ(control_->SetProcessValue("N1.LIC1", 95), S_OK);
  ASSERT_EQ(control_->AdvanceClock(100), S_OK);
  ASSERT_EQ(control_->AdvanceClock(100), S_OK);
  std::string path = dir_ + "/dump.txt";
  CAlarmDumpFile dump;
  ASSERT_TRUE(dump.Open(path));
  int pauses = 0;
  CAlarmStateReader reader = Reader(syncIO_.Get(), [&](DWORD) { return ++pauses > 0; });
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    AlarmEvent event;
    bool completed = false;
    EXPECT_EQ(reader.ReadAlarmEvent(Variable("N1.LIC1.AS"), event, completed, &dump),
              CAlarmStateReader::kReadFailed);
  }
  dump.Close();
  EXPECT_EQ(pauses, 3);
  std::string text = Utf16LeToUtf8(ReadFileBytes(path));
  const AlarmVar& word = Variable("N1.LIC1.AS");
  const AlarmVar& first = Variable("N1.LIC1.AS[1]");
  std::string line = "N1.LIC1.AS, TimeStamp Read was Index= 1, dwHighDateTime= " +
                     std::to_string(first.timestamp.dwHighDateTime) +
                     ", dwLowDateTime= " + std::to_string(first.timestamp.dwLowDateTime) +
                     ", wQuality= " + std::to_string(first.quality) +
                     ", TimeStamp of Tag was dwHighDateTime= " + std::to_string(word.timestamp.dwHighDateTime) +
                     ", dwLowDateTime= " + std::to_string(word.timestamp.dwLowDateTime) + "\r\n";
  EXPECT_EQ(text.find(line), 0u) << text;
  size_t lines = 0;
  for (size_t at = text.find("TimeStamp Read was"); at != std::string::npos; at = text.find("TimeStamp Read was", at + 1))
    ++lines;
  EXPECT_EQ(lines, 16u);  // four elements, four attempts
  EXPECT_EQ(ReadFileBytes(path).substr(0, 2), std::string("N\0", 2)) << "UTF-16LE, no byte-order mark";
}

TEST_F(StateReaderTest, APauseThatGivesUpAbandonsTheRead) {
  ASSERT_EQ(control_->SetIncoherentUpdates(true), S_OK);
  SetAlarm("N1.LIC1.AS", 4, false, PlantTime(5));
  CAlarmStateReader reader = Reader(syncIO_.Get(), [](DWORD) { return false; });
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  AlarmEvent event;
  bool completed = false;
  EXPECT_EQ(reader.ReadAlarmEvent(Variable("N1.LIC1.AS"), event, completed, nullptr),
            CAlarmStateReader::kReadAbandoned);
}

// The lock goes during the server's read: a reader that comes back to find
// the items gone or rebuilt (new server handles) stores nothing and asks
// for the variable to be read again; one told to give up abandons it.
TEST_F(StateReaderTest, ItemsThatChangedDuringTheReadMakeItStale) {
  SetAlarm("N1.LIC1.AS", 4, false, PlantTime(5));
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  AlarmVar& element = Variable("N1.LIC1.AS[2]");
  OPCHANDLE handle = element.serverHandle;
  VARIANT held = Variable("N1.LIC1.AS").value;
  AlarmEvent event;
  bool completed = false;
  CAlarmStateReader rebuilt(syncIO_.Get(), client(), 0, {}, [&](const std::function<void()>& call) {
    call();
    element.serverHandle = handle + 1000;
    return true;
  });
  EXPECT_EQ(rebuilt.ReadAlarmEvent(Variable("N1.LIC1.AS"), event, completed, nullptr), CAlarmStateReader::kReadStale);
  EXPECT_EQ(Variable("N1.LIC1.AS").value.vt, held.vt) << "nothing stored";
  element.serverHandle = handle;

  CAlarmStateReader givenUp(syncIO_.Get(), client(), 0, {}, [](const std::function<void()>& call) {
    call();
    return false;
  });
  EXPECT_EQ(givenUp.ReadAlarmEvent(Variable("N1.LIC1.AS"), event, completed, nullptr),
            CAlarmStateReader::kReadAbandoned);
  EXPECT_EQ(Read("N1.LIC1.AS", event), CAlarmStateReader::kReadOk);
  EXPECT_EQ(event.state, 2);
}

TEST_F(StateReaderTest, MissingItemsAndFailingReads) {
  SetAlarm("N1.LIC1.AS", 4, true, PlantTime(5), PlantTime(6));
  AlarmEvent event;
  {
    // An element without an OPC item ends the array there.
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    Variable("N1.LIC1.AS[3]").serverHandle = 0;
  }
  ASSERT_EQ(Read("N1.LIC1.AS", event), 0);
  EXPECT_EQ(event.activationTime, PlantTime(5));
  EXPECT_EQ(Variable("N1.LIC1.AS[3]").value.vt, VT_EMPTY);
  {
    CAlarmStateReader reader = Reader(syncIO_.Get());
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    FILETIME acked;
    EXPECT_EQ(reader.ReadEventTime("N1.LIC1", kAlarmLevel, acked, 2, 3), CAlarmStateReader::kTimeMissing);
    // The activation time's element missing fails the whole read.
    Variable("N1.LIC1.AS[1]").serverHandle = 0;
    Variable("N1.LIC1.AS[1]").value.Clear();
  }
  EXPECT_EQ(Read("N1.LIC1.AS", event), CAlarmStateReader::kReadFailed);
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    Variable("N1.TI3.AS").serverHandle = 0;
  }
  EXPECT_EQ(Read("N1.TI3.AS", event), CAlarmStateReader::kReadFailed);

  // The server failing the call itself is told apart from a missing item.
  ASSERT_EQ(control_->FailCall(RALTO_CALL_READ, E_FAIL, 0, 0), S_OK);
  EXPECT_EQ(Read("N2.TIC4.AS", event), CAlarmStateReader::kReadServerFailed);
  ASSERT_EQ(control_->ClearFailures(), S_OK);
  EXPECT_EQ(Read("N2.TIC4.AS", event), 0);

  // Without the read interface (no server call: no server failure), or for
  // a block of another type.
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  bool completed = false;
  EXPECT_EQ(Reader(nullptr).ReadAlarmEvent(Variable("N2.TIC4.AS"), event, completed, nullptr),
            CAlarmStateReader::kReadFailed);
  Variable("N2.TIC4.AS").blockType = "O0A";
  EXPECT_EQ(Reader(syncIO_.Get()).ReadAlarmEvent(Variable("N2.TIC4.AS"), event, completed, nullptr),
            CAlarmStateReader::kReadFailed);
  // A member that is no state word gives an empty event.
  AlarmEvent empty;
  EXPECT_EQ(Reader(syncIO_.Get()).ReadAlarmEvent(Variable("N1.LIC1.FC"), empty, completed, nullptr), 0);
  EXPECT_TRUE(empty.baseName.empty());
}

}  // namespace
