// The transport in this process on a private bus, with clients of its own:
// a client that stops reading loses what passes its queue, counted, and
// holds no more than its share on the bus, while another reads on.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/class_factory.h"
#include "toolkit/cfg_db.h"
#include "toolkit/condition.h"
#include "toolkit/dbus/dbus_client.h"
#include "toolkit/dbus/dbus_transport.h"
#include "toolkit/server_interface.h"
#include "toolkit/source.h"
#include "toolkit/source_cache.h"

namespace {

constexpr char kProgId[] = "Test.FlowControl.1";
// {6B0E2F14-5C7A-4D38-9E21-C4A8B0D6F357}
constexpr CLSID kClsid{0x6B0E2F14, 0x5C7A, 0x4D38, {0x9E, 0x21, 0xC4, 0xA8, 0xB0, 0xD6, 0xF3, 0x57}};
constexpr int kSources = 10'000;
constexpr uint64_t kRound = kSources * 3;
constexpr uint64_t kRounds = CAEDBusTransport::kOutboxLimit / kRound + 2;

class FlowControlTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string runtime = std::getenv("XDG_RUNTIME_DIR");
    std::ofstream(runtime + "/bus.conf")
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
           "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>unix:dir=" << runtime << "</listen>"
        << "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    FILE* daemon = popen(("dbus-daemon --fork --print-address=1 --print-pid=1 --config-file=" + runtime + "/bus.conf")
                             .c_str(), "r");
    ASSERT_TRUE(daemon);
    char address[512] = {}, pid[32] = {};
    ASSERT_TRUE(fgets(address, sizeof address, daemon));
    ASSERT_TRUE(fgets(pid, sizeof pid, daemon));
    pclose(daemon);
    std::string a = address;
    a.erase(a.find_last_not_of("\n") + 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", a.c_str(), 1);
    busPid_ = std::atoi(pid);

    ASSERT_NE(g_ServerInterface.Initialize(nullptr, kClsid, "Test vendor", '/', 0), 0);
    g_CfgDb.Insert(AE_CFG_CATEGORIES, CAECfgRecCategory(1, "A", OPC_CONDITION_EVENT));
    g_CfgDb.Insert(AE_CFG_CONDITIONS, CAECfgRecCondition("Level", 1));
    for (int i = 0; i < kSources; ++i) {
      auto* source = new CAESource("Plant/Unit1/TIC" + std::to_string(i) + ".A", 1);
      CAECondition level(source, "Level", 1);
      level.AddSubcondition(CAESubcondition("Hi", "Level.Hi", 600, "high"));
      conditions_.push_back(source->AddCondition(level));
      g_SourceCache.AddSource(source);
    }
    std::string error;
    ASSERT_EQ(transport_.Start(kClsid, kProgId, AeDBusBus::kSession, &error), AeDBusStart::kStarted) << error;
  }
  void TearDown() override {
    transport_.Stop();
    g_ServerInterface.Uninitialize();
    g_SourceCache.Clear(1);
    g_CfgDb.ClearAll();
    if (busPid_ > 0) kill(busPid_, SIGTERM);
  }

  void Round() {
    for (CAECondition* c : conditions_) {
      c->Activate("Hi", "high", true, nullptr);
      c->Acknowledge("operator", "", nullptr);
      c->Deactivate("normal", true, nullptr);
    }
  }

  pid_t busPid_ = -1;
  std::vector<CAECondition*> conditions_;
  CAEDBusTransport transport_;
};

TEST_F(FlowControlTest, AClientThatStopsReadingLosesWhatPassesItsQueueAndOnlyThat) {
  std::string error;
  auto stalled = CAEDBusClient::Connect(kProgId, AeDBusBus::kSession, &error);
  auto reader = CAEDBusClient::Connect(kProgId, AeDBusBus::kSession, &error);
  ASSERT_TRUE(stalled && reader) << error;
  std::atomic<uint64_t> read{0};
  uint64_t stalledGot = 0;
  CAEDBusClient::Filter all;
  ASSERT_EQ(stalled->Subscribe(0, 0, all, [&](BOOL, BOOL, const auto& events) { stalledGot += events.size(); }), S_OK);
  ASSERT_EQ(reader->Subscribe(0, 0, all, [&](BOOL, BOOL, const auto& events) { read += events.size(); }), S_OK);
  std::atomic<bool> done{false};
  std::thread pump([&] {
    while (!done && reader->Pump(50)) {
    }
  });
  // In rounds that the reader keeps up with, so that only the stalled
  // client's queue overflows.
  bool kept = true;
  for (uint64_t r = 1; r <= kRounds && kept; ++r) {
    Round();
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (read < r * kRound && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kept = read >= r * kRound;
  }
  done = true;
  pump.join();
  const uint64_t total = kRounds * kRound;
  EXPECT_EQ(read, total) << "the reader lost events";

  CAEDBusTransport::Stats stats;
  uint64_t dropped = 0;
  ASSERT_EQ(stalled->GetTransportStatistics(&stats, &dropped), S_OK);
  EXPECT_GT(dropped, 0u) << "the bus took everything for the stalled client";
  EXPECT_EQ(stats.eventsDropped, dropped) << "dropped for the stalled client only";
  for (uint64_t seen = ~0ULL; seen != stalledGot;) {
    seen = stalledGot;
    ASSERT_TRUE(stalled->Pump(500));
  }
  EXPECT_EQ(stalledGot + dropped, total) << "every event came or was counted as dropped";
  EXPECT_LE(stalledGot, CAEDBusTransport::kOutboxLimit + CAEDBusTransport::kInFlightLimit);
}

}  // namespace
