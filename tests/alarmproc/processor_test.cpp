// The alarm processor's thread: changes from the data callback reach the
// conditions, the dump of a pass, the reconnect check, a server that fails
// or hangs its reads, stopping (within the limit, and past it), and variables that
// leave while queued.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "alarmconfig/tracked_mutex.h"
#include "alarmproc/alarm_processor.h"
#include "alarmproc_fixture.h"
#include "opcda/alarm_requests.h"
#include "platform/registry.h"
#include "platform/utf.h"
#include "tests/support/debug_capture.h"
#include "tests/support/eventually.h"
#include "toolkit/source_cache.h"

namespace {

constexpr char kAlarmLogKey[] = "SOFTWARE\\Quillan\\Veltro QRX OPC AE\\AlarmLog";

class ProcessorTest : public AlarmProcTest {
 protected:
  void SetUp() override {
    AlarmProcTest::SetUp();
    if (HasFatalFailure()) return;
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    g_pConnectionManager = &manager_;
  }
  void TearDown() override {
    if (processor_) processor_->StopProcessor();
    processor_.reset();
    alarmRequests.Clear();
    AlarmProcTest::TearDown();
  }

  CAlarmProcessor& Processor(DWORD stopLimitMs = 5000, DWORD retrySleepMs = 10) {
    CAlarmProcessor::Timing timing;
    timing.waitMs = 20;
    timing.stopLimitMs = stopLimitMs;
    timing.retrySleepMs = retrySleepMs;
    processor_ = std::make_unique<CAlarmProcessor>(timing, clock_);
    return *processor_;
  }
  void Queue(std::initializer_list<const char*> itemIds) {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    for (const char* id : itemIds) alarmRequests.Add(&Variable(id));
    alarmRequests.Signal();
  }

  // The server answers again: the minute's check connects (the thread
  // must have seen the clock move), and the new group's first report shows
  // N1.LIC1's HiHi that came while the connection was gone.
  void ExpectTheReconnectShowsTheHiHi() {
    ASSERT_EQ(control_->ClearFailures(), S_OK);
    for (int i = 0; i < 3 && manager_.connectionState != ConnectionManager::kConnected; ++i) {
      clock_.Advance(61'000);
      Eventually([&] { return manager_.connectionState == ConnectionManager::kConnected; }, std::chrono::seconds(2));
    }
    ASSERT_EQ(manager_.connectionState, ConnectionManager::kConnected);
    ASSERT_EQ(control_->TickUpdates(), S_OK);
    CAECondition* level = Condition("Plant/Tanks/N1_LIC1.A", "Level");
    ASSERT_TRUE(Eventually([&] { return level->Active(); }));
    EXPECT_EQ(level->ActiveSubcondition(), "HiHi");
    EXPECT_EQ(level->Quality(), OPC_QUALITY_GOOD);
  }

  ae::ManualClock clock_;
  std::unique_ptr<CAlarmProcessor> processor_;
};

TEST_F(ProcessorTest, ConstructionSetsTheEnvironmentAndReadsTheDumpPath) {
  unsetenv("RaltoOpcDaCoherentReadEnabled");
  EXPECT_EQ(Processor().DumpPath(), "");
  EXPECT_STREQ(getenv("RaltoOpcDaCoherentReadEnabled"), "1");
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kAlarmLogKey, "AlarmSendOutFile", "/tmp/sent.txt"), ERROR_SUCCESS);
  EXPECT_EQ(Processor().DumpPath(), "/tmp/sent.txt");
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kAlarmLogKey, "AlarmSendOutFile", "/" + std::string(126, 'x')),
            ERROR_SUCCESS);
  EXPECT_EQ(Processor().DumpPath(), "") << "127 characters do not fit";
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kAlarmLogKey, "AlarmSendOutFile", 7), ERROR_SUCCESS);
  EXPECT_EQ(Processor().DumpPath(), "");
}

TEST_F(ProcessorTest, ControllerChangesReachTheConditions) {
  ConnectPlant();
  CAlarmProcessor& processor = Processor();
  EXPECT_FALSE(processor.IsRunning());
  EXPECT_TRUE(processor.StartProcessor(client().syncIOCookie));
  EXPECT_TRUE(processor.StartProcessor(client().syncIOCookie));  // only the cookie again
  EXPECT_TRUE(processor.IsRunning());

  SetAlarm("N1.LIC1.AS", 4, false, PlantTime(5));
  SetAlarm("N1.LS2.AS", 1, false, PlantTime(6));
  ASSERT_EQ(control_->TickUpdates(), S_OK);
  CAECondition* level = Condition("Plant/Tanks/N1_LIC1.A", "Level");
  CAECondition* bit = Condition("Plant/Tanks/N1_LS2.Bit", "Bit");
  ASSERT_TRUE(Eventually([&] { return level->Active() && bit->Active(); }));
  EXPECT_EQ(level->ActiveSubcondition(), "HiHi");
  EXPECT_EQ(level->SubconditionLastActiveTime(), PlantTime(5));

  SetAlarm("N1.LIC1.AS", 0, true, PlantTime(5), PlantTime(7), PlantTime(8));
  ASSERT_EQ(control_->TickUpdates(), S_OK);
  ASSERT_TRUE(Eventually([&] { return !level->Active(); }));
  EXPECT_TRUE(level->Acked());
  EXPECT_EQ(level->ConditionLastInactiveTime(), PlantTime(8));

  processor.StopProcessor();
  EXPECT_FALSE(processor.IsRunning());
  // A new start after a stop runs a new thread.
  EXPECT_TRUE(processor.StartProcessor(client().syncIOCookie));
  SetAlarm("N1.LIC1.AS", 2, false, PlantTime(9));
  ASSERT_EQ(control_->TickUpdates(), S_OK);
  ASSERT_TRUE(Eventually([&] { return level->Active(); }));
}

TEST_F(ProcessorTest, APassWrittenToTheDumpFile) {
  std::string path = dir_ + "/sent.txt";
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kAlarmLogKey, "AlarmSendOutFile", path), ERROR_SUCCESS);
  ConnectPlant();
  SetAlarm("N1.LIC1.AS", 4, false, PlantTime(5));
  SetAlarm("N1.LS2.AS", 1, false, PlantTime(6));
  ASSERT_NE(g_SourceCache.RemoveSource("Plant/Tanks/N1_TI3.A"), 0);
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    Variable("N2.TIC4.AS").serverHandle = 0;  // cannot be read
  }
  Queue({"N1.LIC1.AS", "N1.TI3.AS", "N2.TIC4.AS", "N1.LS2.AS"});
  Processor().StartProcessor(client().syncIOCookie);

  std::string text;
  ASSERT_TRUE(Eventually([&] {
    text = Utf16LeToUtf8(ReadFileBytes(path));
    return text.find("N1_LS2") != std::string::npos;
  }));
  const std::string header = "\r\n (ALARM SEND OUT TIME) :  ";
  ASSERT_EQ(text.substr(0, header.size()), header);
  size_t body = text.find("\r\n\r\n", header.size());
  ASSERT_NE(body, std::string::npos);
  EXPECT_EQ(text.substr(body + 4),
            "Plant/Tanks/N1_LIC1 (CONDITION) : Level (ON) : HiHi (TRIGGER TIME) : 12 : 0 : 5 : ListSize= 4 : "
            "EmptyPSources= 0\r\n"
            "N2 TIC4.AS , could not read value of this tag \r\n"
            "Plant/Tanks/N1_LS2 (CONDITION) : Bit (ON) : Bit (TRIGGER TIME) : 12 : 0 : 6 : ListSize= 4 : "
            "EmptyPSources= 1\r\n");
}

TEST_F(ProcessorTest, EveryMinuteItAsksTheManagerToConnect) {
  CAlarmProcessor& processor = Processor();
  manager_.SetProcessorStarter([&](DWORD cookie) { return processor.StartProcessor(cookie); });
  processor.StartProcessor(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the thread has read the clock
  clock_.Advance(30'000);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(manager_.connectionState, ConnectionManager::kNotConnected);
  // Past the minute (counted from when the thread first read the clock).
  for (int i = 0; i < 3 && manager_.connectionState != ConnectionManager::kConnected; ++i) {
    clock_.Advance(31'000);
    Eventually([&] { return manager_.connectionState == ConnectionManager::kConnected; }, std::chrono::seconds(2));
  }
  ASSERT_EQ(manager_.connectionState, ConnectionManager::kConnected);
  EXPECT_NE(Source("Plant/Tanks/N1_LIC1.A").Get(), nullptr);

  // The connection reached the processor: the controller's alarm shows.
  SetAlarm("N1.LIC1.AS", 4, false, PlantTime(5));
  ASSERT_EQ(control_->TickUpdates(), S_OK);
  CAECondition* level = Condition("Plant/Tanks/N1_LIC1.A", "Level");
  ASSERT_TRUE(Eventually([&] { return level->Active(); }));
  manager_.SetProcessorStarter({});
}

// The OPC DA server fails its reads: the change cannot be read, so the
// connection goes (bad quality for every source) instead of the alarm
// staying as it was; once the server answers again, the minute's check
// connects and the alarm that came meanwhile shows without another change.
TEST_F(ProcessorTest, AReadTheServerFailsLosesTheConnectionAndTheReconnectReadsTheAlarm) {
  ConnectPlant();
  CAlarmProcessor& processor = Processor();
  manager_.SetProcessorStarter([&](DWORD cookie) { return processor.StartProcessor(cookie); });
  processor.StartProcessor(client().syncIOCookie);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the thread has read the clock
  ScopedDebugCapture debug;
  ASSERT_EQ(control_->FailCall(RALTO_CALL_READ, E_FAIL, 0, 0), S_OK);
  SetAlarm("N1.LIC1.AS", 4, false, PlantTime(5));
  ASSERT_EQ(control_->TickUpdates(), S_OK);
  // Seen under the lock, which the disconnect holds to its end.
  ASSERT_TRUE(Eventually([&] {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    return manager_.client == nullptr;
  }));
  EXPECT_EQ(manager_.connectionState, ConnectionManager::kNotConnected);
  EXPECT_EQ(Condition("Plant/Tanks/N1_LS2.Bit", "Bit")->Quality(), OPC_QUALITY_BAD);
  EXPECT_FALSE(Condition("Plant/Tanks/N1_LIC1.A", "Level")->Active());
  EXPECT_EQ(debug.Lines(), std::vector<std::string>{"OPC DA server failed a read: disconnecting"});

  ExpectTheReconnectShowsTheHiHi();
  manager_.SetProcessorStarter({});
}

TEST_F(ProcessorTest, AStopRequestEndsAPassBetweenTwoReads) {
  ConnectPlant();
  // Arrays that stay incoherent: each variable waits between its attempts.
  ASSERT_EQ(control_->SetIncoherentUpdates(true), S_OK);
  ASSERT_EQ(control_->SetProcessValue("N1.LIC1", 95), S_OK);
  ASSERT_EQ(control_->AdvanceClock(100), S_OK);
  ASSERT_EQ(control_->AdvanceClock(100), S_OK);
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    for (int i = 0; i < 50; ++i) alarmRequests.Add(&Variable("N1.LIC1.AS"));
    alarmRequests.Signal();
  }
  ScopedDebugCapture debug;
  CAlarmProcessor& processor = Processor(5000, 200);  // a pass of 30 s
  processor.StartProcessor(client().syncIOCookie);
  ASSERT_TRUE(Eventually([] { return alarmRequests.PendingCount() == 0; }));
  processor.StopProcessor();
  EXPECT_FALSE(debug.Contains("Terminating AlarmProcessor"));
  EXPECT_FALSE(processor.IsRunning());
}

TEST_F(ProcessorTest, AThreadThatDoesNotEndInTimeIsLeftBehind) {
  ConnectPlant();
  // The processor's next text blocks until released.
  ae::Event entered(ae::Event::kManualReset);
  ae::Event release(ae::Event::kManualReset);
  ResourceStringProvider previous = SetResourceStringProvider([&](uint32_t) {
    entered.Set();
    release.Wait();
    return std::string("Unknown User");
  });
  SetAlarm("N1.LIC1.AS", 4, false, PlantTime(5));
  Queue({"N1.LIC1.AS"});
  ScopedDebugCapture debug;
  CAlarmProcessor& processor = Processor(50);
  processor.StartProcessor(client().syncIOCookie);
  ASSERT_TRUE(entered.Wait(20'000));

  processor.StopProcessor();
  EXPECT_EQ(debug.Lines(), std::vector<std::string>{"Terminating AlarmProcessor"});
  EXPECT_FALSE(processor.IsRunning());
  EXPECT_FALSE(processor.TEST_WaitForAbandonedThread(0));
  release.Set();
  EXPECT_TRUE(processor.TEST_WaitForAbandonedThread(20'000));
  SetResourceStringProvider(std::move(previous));
  EXPECT_TRUE(Condition("Plant/Tanks/N1_LIC1.A", "Level")->Active()) << "the pass ran to the variable's end";
}

// The OPC DA server stops answering reads: the processor waits for it with
// g_ConfigMutex let go, so a disconnect (as at exit) goes through, and the
// stop ends within its limit and leaves the thread behind.
TEST_F(ProcessorTest, AHungServerReadHoldsUpNeitherTheDisconnectNorTheStop) {
  ConnectPlant();
  SetAlarm("N1.LIC1.AS", 4, false, PlantTime(5));
  ASSERT_EQ(control_->HangCall(RALTO_CALL_READ), S_OK);
  ScopedDebugCapture debug;
  CAlarmProcessor& processor = Processor(50);
  processor.StartProcessor(client().syncIOCookie);
  Queue({"N1.LIC1.AS"});
  DWORD hung = 0;
  ASSERT_TRUE(Eventually([&] { return SUCCEEDED(control_->GetHungCallers(&hung)) && hung == 1; }));

  auto disconnected = std::async(std::launch::async, [&] { manager_.Disconnect(); });
  bool done = disconnected.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  if (!done) control_->ClearFailures();
  ASSERT_TRUE(done) << "the disconnect waited for the hung read";
  EXPECT_EQ(manager_.client, nullptr);

  processor.StopProcessor();
  EXPECT_EQ(debug.Lines(), std::vector<std::string>{"Terminating AlarmProcessor"});
  ASSERT_EQ(control_->ClearFailures(), S_OK);
  EXPECT_TRUE(processor.TEST_WaitForAbandonedThread(20'000));
  EXPECT_FALSE(Condition("Plant/Tanks/N1_LIC1.A", "Level")->Active()) << "nothing read, nothing applied";
}

// A read that the server does not answer within the limit costs the
// connection once (bad quality for every source), however long it hangs;
// when the server answers again the minute's check connects and the alarm
// shows.
TEST_F(ProcessorTest, AReadHungPastTheLimitLosesTheConnectionOnceAndTheReconnectReadsTheAlarm) {
  ConnectPlant();
  CAlarmProcessor& processor = Processor();
  manager_.SetProcessorStarter([&](DWORD cookie) { return processor.StartProcessor(cookie); });
  processor.StartProcessor(client().syncIOCookie);
  SetAlarm("N1.LIC1.AS", 4, false, PlantTime(5));
  ASSERT_EQ(control_->HangCall(RALTO_CALL_READ), S_OK);
  ScopedDebugCapture debug;
  Queue({"N1.LIC1.AS"});
  DWORD hung = 0;
  ASSERT_TRUE(Eventually([&] { return SUCCEEDED(control_->GetHungCallers(&hung)) && hung == 1; }));
  clock_.Advance(9'000);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the watch has looked
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    EXPECT_NE(manager_.client, nullptr) << "not hung yet";
  }
  EXPECT_TRUE(debug.Lines().empty());

  clock_.Advance(1'001);
  ASSERT_TRUE(Eventually([&] {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    return manager_.client == nullptr;
  }));
  EXPECT_EQ(manager_.connectionState, ConnectionManager::kNotConnected);
  EXPECT_EQ(Condition("Plant/Tanks/N1_LS2.Bit", "Bit")->Quality(), OPC_QUALITY_BAD);
  clock_.Advance(30'000);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(debug.Lines(), std::vector<std::string>{"OPC DA server does not answer a read: disconnecting"});

  ExpectTheReconnectShowsTheHiHi();
  manager_.SetProcessorStarter({});
}

TEST_F(ProcessorTest, AVariableThatLeftWhileQueuedIsSkipped) {
  ConnectPlant();
  CAlarmProcessor& processor = Processor();
  processor.StartProcessor(client().syncIOCookie);
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    alarmRequests.Add(&Variable("N1.LIC1.AS"));
    alarmRequests.Signal();
    ASSERT_TRUE(Eventually([] { return alarmRequests.PendingCount() == 0; }));
    // Taken, and now waiting for the lock: the client goes meanwhile.
    client().active = 0;
    manager_.client.reset();
  }
  ConnectPlant();
  processor.StartProcessor(client().syncIOCookie);
  SetAlarm("N1.LS2.AS", 1, false, PlantTime(6));
  Queue({"N1.LS2.AS"});
  ASSERT_TRUE(Eventually([&] { return Condition("Plant/Tanks/N1_LS2.Bit", "Bit")->Active(); }));
}

}  // namespace
