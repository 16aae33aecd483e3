// The simulated OPC DA server fails or hangs its reads for a while, driven
// from outside with ralto-sim as an engineer would: the window's status and
// the clients see what the server can no longer tell, the server carries
// on with what does not need the failing call (an acknowledgement during a
// hang), and once the server answers again every alarm is as the
// controllers have it.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <sstream>

#include "alarm_views.h"
#include "event_recorder.h"
#include "platform/opcda.h"
#include "process_fixture.h"
#include "tests/support/eventually.h"

namespace {

using namespace std::chrono_literals;

constexpr char kLic101[] = "Tank_Farm/T-101/TANKFARM_LIC101.A";
constexpr char kLic102[] = "_Tank_Farm/T-102/TANKFARM_LIC102.A";

bool Active(const ONEVENTSTRUCT& e) { return (e.wNewState & OPC_CONDITION_ACTIVE) != 0; }

std::string Describe(const std::map<std::string, std::string>& alarms) {
  std::ostringstream text;
  for (const auto& [source, sub] : alarms) text << " " << source << "=" << sub;
  return text.str();
}

class OpcFaultTest : public ProcessTest {
 protected:
  void SetUp() override {
    ProcessTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(StartServer());
    recorder_ = std::make_unique<CEventRecorder>();
    ASSERT_TRUE(recorder_->WaitSubscribed()) << recorder_->Error();
  }
  void TearDown() override {
    ProcessTest::TearDown();
    recorder_.reset();
  }

  static std::string Sim(std::vector<std::string> args) {
    ProgramResult r = Tool("ralto-sim", std::move(args));
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    return r.out;
  }
  // Every alarm the plant has up, the server serves as active, and no other.
  void ExpectNoStuckAlarm() {
    std::map<std::string, std::string> plant, served;
    std::string error;
    bool same = Eventually(
        [&] {
          std::vector<ONEVENTSTRUCT> events;
          if (!PlantActiveAlarms(plant, &error) || !RefreshEvents(events, &error)) return false;
          served = ActiveAlarms(events);
          return served == plant;
        },
        20s);
    EXPECT_TRUE(same) << error << "\nplant:" << Describe(plant) << "\nserved:" << Describe(served);
  }

  std::unique_ptr<CEventRecorder> recorder_;
};

TEST_F(OpcFaultTest, FailingReadsShowAsNotConnectedAndBadQualityAndTheConnectionComesBackWithWhatCameMeanwhile) {
  size_t from = recorder_->Count();
  Sim({"fail", "read", "0x80004005"});
  Sim({"set", "TANKFARM.LIC101", "hihi"});
  // The server cannot read the alarm: the window says so, and the clients
  // see every source's quality go bad.
  ASSERT_TRUE(AwaitStatus(kNotConnectedText, 30s)) << server_->OutputSinceStart();
  EXPECT_TRUE(recorder_->Await([](const ONEVENTSTRUCT& e) { return e.szSource == kLic101 && e.wQuality == OPC_QUALITY_BAD; },
                               from));
  EXPECT_NE(server_->Errors().find("OPC DA server failed a read: disconnecting"), std::string::npos);

  // Answering again, it is connected again by itself (within the minute of
  // the reconnect check) and shows the alarm that came meanwhile.
  size_t mark = server_->OutputSinceStart().size();
  from = recorder_->Count();
  Sim({"clear-faults"});
  ASSERT_TRUE(AwaitStatus(kConnectedText, 90s, mark)) << server_->OutputSinceStart().substr(mark);
  ONEVENTSTRUCT hihi;
  ASSERT_TRUE(recorder_->Await(
      [](const ONEVENTSTRUCT& e) { return e.szSource == kLic101 && Active(e) && e.szSubconditionName == "HiHi"; }, from,
      &hihi));
  EXPECT_EQ(hihi.wQuality, OPC_QUALITY_GOOD);
  ExpectNoStuckAlarm();
}

TEST_F(OpcFaultTest, AHungReadHoldsUpNeitherTheWindowNorAnAcknowledgementAndCostsTheConnectionUntilItIsAnswered) {
  size_t from = recorder_->Count();
  Sim({"set", "TANKFARM.LIC101", "hihi"});
  ONEVENTSTRUCT hihi;
  ASSERT_TRUE(recorder_->Await([](const ONEVENTSTRUCT& e) { return e.szSource == kLic101 && Active(e); }, from, &hihi));

  Sim({"hang", "read"});
  Sim({"set", "TANKFARM.LIC102", "hi"});
  ASSERT_TRUE(Eventually([] { return Sim({"hung"}) != "0\n"; }, 20s)) << "the processor's read never hung";
  // An operator's acknowledgement needs no read: written to the controller
  // while the read hangs (within the server's limit of 10 s for a read).
  std::unique_ptr<CAEDBusClient> client = Client();
  ASSERT_TRUE(client);
  HRESULT element = E_FAIL;
  ASSERT_EQ(client->AckCondition("operator", "during the hang", kLic101, "Level", hihi.ftActiveTime, hihi.dwCookie,
                                 &element),
            S_OK)
      << client->LastError();
  EXPECT_EQ(element, S_OK);
  EXPECT_NE(Sim({"fc-writes"}).find("TANKFARM.LIC101.FC 257"), std::string::npos);

  // Past the limit the read counts as hung: the window says not connected,
  // and the clients see every source's quality go bad.
  from = recorder_->Count();
  ASSERT_TRUE(AwaitStatus(kNotConnectedText, 30s)) << server_->OutputSinceStart();
  EXPECT_TRUE(recorder_->Await([](const ONEVENTSTRUCT& e) { return e.szSource == kLic101 && e.wQuality == OPC_QUALITY_BAD; },
                               from));
  EXPECT_NE(server_->Errors().find("OPC DA server does not answer a read: disconnecting"), std::string::npos);

  // Answered again, it connects by itself and shows what came meanwhile.
  size_t mark = server_->OutputSinceStart().size();
  from = recorder_->Count();
  Sim({"clear-faults"});
  ASSERT_TRUE(AwaitStatus(kConnectedText, 90s, mark)) << server_->OutputSinceStart().substr(mark);
  EXPECT_TRUE(recorder_->Await(
      [](const ONEVENTSTRUCT& e) { return e.szSource == kLic102 && Active(e) && e.szSubconditionName == "Hi"; }, from));
  ExpectNoStuckAlarm();
  OPCCONDITIONSTATE level;
  ASSERT_EQ(client->GetConditionState(kLic101, "Level", &level), S_OK);
  EXPECT_TRUE(level.wState & OPC_CONDITION_ACKED);
  EXPECT_EQ(level.wQuality, OPC_QUALITY_GOOD);
}

}  // namespace
