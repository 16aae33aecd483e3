// The event server object: client acknowledgement and its callback, client
// life, shutdown requests, statistics, queries and condition state with the
// attributes of the latest notification.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "toolkit/server_callback.h"
#include "toolkit_fixture.h"

namespace {

using namespace std::chrono_literals;

class RecordingCallback : public CAEServerCallback {
 public:
  std::atomic<int> connects{0};
  std::atomic<int> disconnects{0};
  std::atomic<int> acknowledged{0};
  std::atomic<bool> ackedWhenCalled{false};
  std::string acknowledger;
  std::function<void(CAECondition*)> onAck;

  LONG OnClientConnect() override {
    ++connects;
    return 0;
  }
  void OnClientDisconnect() override { ++disconnects; }
  void OnConditionAcknowledged(CAECondition* condition) override {
    ackedWhenCalled = condition->Acked();
    acknowledger = condition->AcknowledgerID();
    ++acknowledged;
    if (onAck) onAck(condition);
  }
};

class EventServerTest : public ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    g_ServerInterface.SetCallbackObject(&callback_);
    AddLevelSource("Plant/Unit1/TIC100.A");
  }
  RecordingCallback callback_;
};

TEST_F(EventServerTest, AcknowledgementRulesAndCodes) {
  ComPtr<IOPCEventServer> server = Connect();
  auto sink = RecordingEventSink::Make();
  auto subscription = Subscribe(server.Get(), sink.Get());
  CAECondition* level = Level("Plant/Unit1/TIC100.A");
  FILETIME t1 = Time(1000);
  level->Activate("Hi", "high", true, &t1);
  DWORD cookie = level->Cookie();

  std::vector<std::string> sources{"Plant/Unit1/TIC100.A", "Plant/Unit1/Nope.A", "Plant/Unit1/TIC100.A",
                                   "Plant/Unit1/TIC100.A", "Plant/Unit1/TIC100.A"};
  std::vector<std::string> conditions{"Level", "Level", "Bit", "Level", "Level"};
  std::vector<FILETIME> times{Time(999), t1, t1, t1, t1};
  std::vector<DWORD> cookies{cookie, cookie, cookie, cookie + 1, cookie};
  std::vector<HRESULT> errors;

  EXPECT_EQ(server->AckCondition(1, "", "c", sources.data(), conditions.data(), times.data(), cookies.data(), &errors),
            E_INVALIDARG);
  EXPECT_FALSE(level->Acked());

  FILETIME before = GetSystemTimeAsFileTime();
  EXPECT_EQ(server->AckCondition(5, "operator1", "checked", sources.data(), conditions.data(), times.data(),
                                 cookies.data(), &errors),
            S_FALSE);
  EXPECT_EQ(errors, (std::vector<HRESULT>{OPC_E_INVALIDTIME, E_INVALIDARG, E_INVALIDARG, E_INVALIDARG, S_OK}));
  EXPECT_TRUE(level->Acked());
  EXPECT_EQ(level->AcknowledgerID(), "operator1");
  EXPECT_EQ(level->Comment(), "checked");
  EXPECT_GE(FileTimeToUint64(level->LastAckTime()), FileTimeToUint64(before));
  EXPECT_EQ(callback_.acknowledged, 1);
  EXPECT_TRUE(callback_.ackedWhenCalled);
  EXPECT_EQ(callback_.acknowledger, "operator1");

  EXPECT_EQ(server->AckCondition(1, "operator2", "", &sources[4], &conditions[4], &times[4], &cookies[4], &errors),
            S_FALSE);
  EXPECT_EQ(errors, std::vector<HRESULT>{OPC_S_ALREADYACKED});
  EXPECT_EQ(callback_.acknowledged, 1);

  ASSERT_TRUE(sink->WaitForEvents(2));
  ONEVENTSTRUCT ack = sink->Events()[1];
  EXPECT_EQ(ack.wChangeMask, OPC_CHANGE_ACK_STATE);
  EXPECT_EQ(ack.szActorID, "operator1");
  EXPECT_EQ(ack.dwCookie, cookie);
}

TEST_F(EventServerTest, AcknowledgementOfAnOlderActivationIsRefused) {
  ComPtr<IOPCEventServer> server = Connect();
  CAECondition* level = Level("Plant/Unit1/TIC100.A");
  FILETIME t1 = Time(1000), t2 = Time(2000);
  level->Activate("Hi", "high", true, &t1);
  DWORD oldCookie = level->Cookie();
  level->Activate("HiHi", "higher", true, &t2);

  std::string source = "Plant/Unit1/TIC100.A", condition = "Level";
  std::vector<HRESULT> errors;
  EXPECT_EQ(server->AckCondition(1, "op", "", &source, &condition, &t1, &oldCookie, &errors), S_FALSE);
  EXPECT_EQ(errors[0], OPC_E_INVALIDTIME);
  DWORD cookie = level->Cookie();
  EXPECT_EQ(server->AckCondition(1, "op", "", &source, &condition, &t2, &cookie, &errors), S_OK);
  EXPECT_EQ(errors[0], S_OK);
}

TEST_F(EventServerTest, AcknowledgedCallbackRunsWithoutToolkitLocks) {
  ComPtr<IOPCEventServer> server = Connect();
  CAECondition* level = Level("Plant/Unit1/TIC100.A");
  level->Activate("Hi", "high", true, nullptr);

  // The server's write-back takes its cache and source locks from its own
  // threads; it must get them while the callback runs.
  std::atomic<bool> gotLocks{false};
  std::thread other;
  callback_.onAck = [&](CAECondition* condition) {
    CAESource* source = condition->Parent();
    other = std::thread([&, source] {
      g_SourceCache.Lock();
      source->Lock();
      gotLocks = true;
      source->Unlock();
      g_SourceCache.Unlock();
    });
    for (int i = 0; i < 500 && !gotLocks; ++i) std::this_thread::sleep_for(10ms);
  };
  std::string source = "Plant/Unit1/TIC100.A", condition = "Level";
  FILETIME t = level->SubconditionLastActiveTime();
  DWORD cookie = level->Cookie();
  std::vector<HRESULT> errors;
  EXPECT_EQ(server->AckCondition(1, "op", "", &source, &condition, &t, &cookie, &errors), S_OK);
  other.join();
  EXPECT_TRUE(gotLocks);
}

TEST_F(EventServerTest, AcknowledgementFromInsideOnEvent) {
  ComPtr<IOPCEventServer> server = Connect();
  auto sink = RecordingEventSink::Make();
  IOPCEventServer* raw = server.Get();
  std::atomic<HRESULT> result{E_FAIL};
  sink->SetHook([&](const ONEVENTSTRUCT& e) {
    if (!e.bAckRequired) return;
    std::vector<HRESULT> errors;
    result = raw->AckCondition(1, "from sink", "", &e.szSource, &e.szConditionName, &e.ftActiveTime, &e.dwCookie,
                               &errors);
  });
  auto subscription = Subscribe(server.Get(), sink.Get());
  Level("Plant/Unit1/TIC100.A")->Activate("Hi", "high", true, nullptr);

  ASSERT_TRUE(sink->WaitForEvents(2));
  EXPECT_EQ(result, S_OK);
  auto events = sink->Events();
  EXPECT_EQ(events[1].wChangeMask, OPC_CHANGE_ACK_STATE);
  EXPECT_EQ(events[1].szActorID, "from sink");
  EXPECT_EQ(callback_.acknowledged, 1);
}

TEST_F(EventServerTest, ClientCallbacksFollowObjectLife) {
  EXPECT_FALSE(g_ServerInterface.IsServerInUse());
  ComPtr<IOPCEventServer> server = Connect();
  EXPECT_EQ(callback_.connects, 1);
  EXPECT_TRUE(g_ServerInterface.IsServerInUse());
  auto sink = RecordingEventSink::Make();
  auto subscription = Subscribe(server.Get(), sink.Get());

  server.Reset();
  EXPECT_EQ(callback_.disconnects, 0) << "the subscription still uses its server";
  EXPECT_TRUE(g_ServerInterface.IsServerInUse());
  subscription.Reset();
  EXPECT_EQ(callback_.disconnects, 1);
  EXPECT_FALSE(g_ServerInterface.IsServerInUse());

  // A failed creation connects and disconnects again.
  ComPtr<IUnknown> none;
  EXPECT_EQ(CoCreateInstance(kTestClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventSink, none.PutVoid()),
            E_NOINTERFACE);
  EXPECT_EQ(callback_.connects, 2);
  EXPECT_EQ(callback_.disconnects, 2);
}

TEST_F(EventServerTest, RequestDisconnectReachesEveryClient) {
  ComPtr<IOPCEventServer> first = Connect(), second = Connect();
  auto sink1 = RecordingEventSink::Make(), sink2 = RecordingEventSink::Make();
  Advise(first.Get(), IID_IOPCShutdown, static_cast<IOPCShutdown*>(sink1.Get()));
  Advise(second.Get(), IID_IOPCShutdown, static_cast<IOPCShutdown*>(sink2.Get()));
  EXPECT_EQ(g_ServerInterface.RequestDisconnect("Shutdown by user request"), S_OK);
  EXPECT_EQ(sink1->ShutdownReasons(), std::vector<std::string>{"Shutdown by user request"});
  EXPECT_EQ(sink2->ShutdownReasons(), std::vector<std::string>{"Shutdown by user request"});
}

TEST_F(EventServerTest, StatisticsMove) {
  auto stat = [](int index) {
    VARIANT v;
    EXPECT_EQ(g_ServerInterface.GetStatistic(index, &v), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    return v.lVal;
  };
  VARIANT v;
  EXPECT_EQ(g_ServerInterface.GetStatistic(7, &v), E_INVALIDARG);
  EXPECT_EQ(g_ServerInterface.GetStatistic(-1, &v), E_INVALIDARG);
  EXPECT_EQ(stat(0), 3000);

  ComPtr<IOPCEventServer> server = Connect();
  auto sink = RecordingEventSink::Make();
  auto subscription = Subscribe(server.Get(), sink.Get());
  ComPtr<IUnknown> browser;
  ASSERT_EQ(server->CreateAreaBrowser(IID_IOPCEventAreaBrowser, browser.Put()), S_OK);
  EXPECT_EQ(stat(1), 1);
  EXPECT_EQ(stat(2), 1);
  EXPECT_EQ(stat(3), 1);

  g_ServerInterface.SetStatsSamplePeriod(20);
  EXPECT_EQ(stat(0), 20);
  int32_t generated = stat(4), notifications = stat(5);
  CAECondition* level = Level("Plant/Unit1/TIC100.A");
  level->Activate("Hi", "high", true, nullptr);
  level->Acknowledge("op", "", nullptr);
  level->Deactivate("", false, nullptr);
  ASSERT_TRUE(sink->WaitForEvents(3));
  EXPECT_EQ(stat(4) - generated, 3);
  EXPECT_GE(stat(5) - notifications, 1);
  EXPECT_LE(stat(5) - notifications, 3);
  // A period with events is reported, then a quiet one.
  auto lastPeriod = [] {
    VARIANT p;
    g_ServerInterface.GetStatistic(6, &p);
    return p.lVal;
  };
  EXPECT_TRUE(Eventually([&] { return lastPeriod() > 0; }));
  EXPECT_TRUE(Eventually([&] { return lastPeriod() == 0; }));

  browser.Reset();
  subscription.Reset();
  server.Reset();
  EXPECT_EQ(stat(1), 0);
  EXPECT_EQ(stat(2), 0);
  EXPECT_EQ(stat(3), 0);
}

TEST_F(EventServerTest, StatusAndQueries) {
  ComPtr<IOPCEventServer> server = Connect();
  g_ServerInterface.SetStatus(OPCAE_STATUS_SUSPENDED);
  OPCEVENTSERVERSTATUS status;
  ASSERT_EQ(server->GetStatus(&status), S_OK);
  EXPECT_EQ(status.dwServerState, OPCAE_STATUS_SUSPENDED);
  EXPECT_EQ(status.szVendorInfo, "Test vendor");
  EXPECT_GE(FileTimeToUint64(status.ftCurrentTime), FileTimeToUint64(status.ftStartTime));

  DWORD filters = 0;
  ASSERT_EQ(server->QueryAvailableFilters(&filters), S_OK);
  EXPECT_EQ(filters, 0x1Fu);

  std::vector<DWORD> ids;
  std::vector<std::string> texts;
  ASSERT_EQ(server->QueryEventCategories(OPC_CONDITION_EVENT, &ids, &texts), S_OK);
  EXPECT_EQ(ids, (std::vector<DWORD>{kLevelCategory, kBitCategory}));
  EXPECT_EQ(texts, (std::vector<std::string>{"A", "Bit"}));
  EXPECT_EQ(server->QueryEventCategories(OPC_SIMPLE_EVENT, &ids, &texts), S_OK);
  EXPECT_TRUE(ids.empty());
  EXPECT_EQ(server->QueryEventCategories(0, &ids, &texts), E_INVALIDARG);

  std::vector<std::string> names;
  ASSERT_EQ(server->QueryConditionNames(kLevelCategory, &names), S_OK);
  EXPECT_EQ(names, std::vector<std::string>{"Level"});
  EXPECT_EQ(server->QueryConditionNames(2, &names), E_INVALIDARG);
  ASSERT_EQ(server->QuerySubConditionNames("Level", &names), S_OK);
  EXPECT_EQ(names, (std::vector<std::string>{"Hi", "HiHi"}));
  ASSERT_EQ(server->QuerySubConditionNames("Bit", &names), S_OK);
  EXPECT_EQ(names, std::vector<std::string>{"Bit"});
  EXPECT_EQ(server->QuerySubConditionNames("Nope", &names), E_INVALIDARG);
  ASSERT_EQ(server->QuerySourceConditions("Plant/Unit1/TIC100.A", &names), S_OK);
  EXPECT_EQ(names, std::vector<std::string>{"Level"});
  EXPECT_EQ(server->QuerySourceConditions("TIC100.A", &names), E_INVALIDARG);

  std::vector<VARTYPE> types;
  ASSERT_EQ(server->QueryEventAttributes(kLevelCategory, &ids, &texts, &types), S_OK);
  EXPECT_EQ(ids, (std::vector<DWORD>{kCommentAttribute, kUserAttribute}));
  EXPECT_EQ(types, (std::vector<VARTYPE>{VT_BSTR, VT_BSTR}));
  EXPECT_EQ(server->QueryEventAttributes(9, &ids, &texts, &types), E_INVALIDARG);

  std::vector<std::string> items, nodes;
  std::vector<CLSID> classes;
  DWORD attribute = kCommentAttribute;
  EXPECT_EQ(server->TranslateToItemIDs("Plant/Unit1/TIC100.A", kLevelCategory, "Level", "", 1, &attribute, &items,
                                       &nodes, &classes),
            E_NOTIMPL);

  ComPtr<IOPCCommon> common;
  ASSERT_EQ(server.As(IID_IOPCCommon, common), S_OK);
  std::string text;
  ASSERT_EQ(common->GetErrorString(OPC_E_INVALIDTIME, &text), S_OK);
  EXPECT_EQ(text, "The time does not match the latest active time.");
  EXPECT_EQ(common->SetLocaleID(0x0407), E_INVALIDARG);
  EXPECT_EQ(common->SetLocaleID(0x0409), S_OK);
}

TEST_F(EventServerTest, ConditionStateWithAttributes) {
  struct Attributes : RecordingCallback {
    BOOL GetConditionAttributeValues(LONG, DWORD count, const DWORD* ids, CAECondition*, VARIANT* values) override {
      for (DWORD i = 0; i < count; ++i) values[i] = VARIANT::Bstr("value" + std::to_string(ids[i]));
      return true;
    }
  } attributes;
  g_ServerInterface.SetCallbackObject(&attributes);
  ComPtr<IOPCEventServer> server = Connect();
  CAECondition* level = Level("Plant/Unit1/TIC100.A");
  FILETIME t1 = Time(1000);
  level->Activate("HiHi", "very high", true, &t1);

  OPCCONDITIONSTATE state;
  DWORD ids[] = {kUserAttribute, 77};
  ASSERT_EQ(server->GetConditionState("Plant/Unit1/TIC100.A", "Level", 2, ids, &state), S_OK);
  EXPECT_EQ(state.wState, OPC_CONDITION_ENABLED | OPC_CONDITION_ACTIVE);
  EXPECT_EQ(state.szActiveSubCondition, "HiHi");
  EXPECT_EQ(state.dwASCSeverity, 900u);
  EXPECT_EQ(state.szASCDescription, "very high");
  EXPECT_EQ(state.ftSubCondLastActive, t1);
  EXPECT_EQ(state.pszSCNames, (std::vector<std::string>{"Hi", "HiHi"}));
  EXPECT_EQ(state.pdwSCSeverities, (std::vector<DWORD>{600, 900}));
  EXPECT_EQ(state.pErrors, (std::vector<HRESULT>{S_OK, E_FAIL}));
  ASSERT_EQ(state.pEventAttributes.size(), 2u);
  EXPECT_EQ(state.pEventAttributes[0].bstrVal, "value1");
  EXPECT_EQ(state.pEventAttributes[1].vt, VT_EMPTY);

  level->Deactivate("", false, nullptr);
  ASSERT_EQ(server->GetConditionState("Plant/Unit1/TIC100.A", "Level", 0, nullptr, &state), S_OK);
  EXPECT_EQ(state.szActiveSubCondition, "");
  EXPECT_EQ(state.dwASCSeverity, 1u);
  EXPECT_EQ(server->GetConditionState("Plant/Unit1/TIC100.A", "Bit", 0, nullptr, &state), E_INVALIDARG);
  EXPECT_EQ(server->GetConditionState("Nope", "Level", 0, nullptr, &state), E_INVALIDARG);
  g_ServerInterface.SetCallbackObject(&callback_);
}

TEST_F(EventServerTest, StateEventsAndRefreshCarryTheLatestNotificationsAttributes) {
  // The server's attribute slots, which may change between notifications.
  struct Slots : RecordingCallback {
    std::mutex mutex;
    std::string text = "c0";
    BOOL GetConditionAttributeValues(LONG, DWORD count, const DWORD* ids, CAECondition*, VARIANT* values) override {
      std::lock_guard lock(mutex);
      for (DWORD i = 0; i < count; ++i) values[i] = VARIANT::Bstr(text + "#" + std::to_string(ids[i]));
      return true;
    }
    void Set(const std::string& t) {
      std::lock_guard lock(mutex);
      text = t;
    }
  } slots;
  g_ServerInterface.SetCallbackObject(&slots);
  ComPtr<IOPCEventServer> server = Connect();
  auto sink = RecordingEventSink::Make();
  DWORD cookie = 0;
  auto subscription = Subscribe(server.Get(), sink.Get(), 0, 0, 7, &cookie);
  DWORD comment = kCommentAttribute;
  ASSERT_EQ(subscription->SelectReturnedAttributes(kLevelCategory, 1, &comment), S_OK);
  CAECondition* level = Level("Plant/Unit1/TIC100.A");
  level->Activate("Hi", "high", true, nullptr);
  ASSERT_TRUE(sink->WaitForEvents(1));
  slots.Set("c1");  // no notification yet

  const DWORD ids[] = {kUserAttribute, kCommentAttribute};
  OPCCONDITIONSTATE state;
  ASSERT_EQ(server->GetConditionState("Plant/Unit1/TIC100.A", "Level", 2, ids, &state), S_OK);
  EXPECT_EQ(state.pEventAttributes, (std::vector<VARIANT>{VARIANT::Bstr("c0#1"), VARIANT::Bstr("c0#0")}));
  ASSERT_EQ(subscription->Refresh(cookie), S_OK);
  ASSERT_TRUE(sink->WaitForEvents(2));
  auto events = sink->Events();
  EXPECT_EQ(events[0].pEventAttributes, std::vector<VARIANT>{VARIANT::Bstr("c0#0")});
  EXPECT_EQ(events[1].pEventAttributes, std::vector<VARIANT>{VARIANT::Bstr("c0#0")}) << "the refresh too";

  level->Quality(WORD{0x18});
  ASSERT_TRUE(sink->WaitForEvents(3));
  EXPECT_EQ(sink->Events()[2].pEventAttributes, std::vector<VARIANT>{VARIANT::Bstr("c1#0")});
  ASSERT_EQ(server->GetConditionState("Plant/Unit1/TIC100.A", "Level", 2, ids, &state), S_OK);
  EXPECT_EQ(state.pEventAttributes, (std::vector<VARIANT>{VARIANT::Bstr("c1#1"), VARIANT::Bstr("c1#0")}));
  g_ServerInterface.SetCallbackObject(&callback_);
}

TEST_F(EventServerTest, ConcurrentAlarmRoadAndClientsKeepOrder) {
  const int kSources = 16, kRounds = 100;
  for (int i = 0; i < kSources; ++i) AddLevelSource("Plant/Unit" + std::to_string(i % 2) + "/S" + std::to_string(i));
  ComPtr<IOPCEventServer> server = Connect();
  IOPCEventServer* raw = server.Get();
  auto sink = RecordingEventSink::Make();
  sink->SetHook([raw](const ONEVENTSTRUCT& e) {
    if (!e.bAckRequired || !(e.wNewState & OPC_CONDITION_ACTIVE)) return;
    std::vector<HRESULT> errors;
    raw->AckCondition(1, "sink", "", &e.szSource, &e.szConditionName, &e.ftActiveTime, &e.dwCookie, &errors);
  });
  auto subscription = Subscribe(server.Get(), sink.Get());

  auto produce = [&](int first) {
    for (int round = 1; round <= kRounds; ++round) {
      for (int i = first; i < kSources; i += 2) {
        CAECondition* level = Level("Plant/Unit" + std::to_string(i % 2) + "/S" + std::to_string(i));
        FILETIME on = Time(round * 10), off = Time(round * 10 + 5);
        level->Activate(round % 2 ? "Hi" : "HiHi", "on", true, &on);
        level->Deactivate("off", true, &off);
      }
    }
  };
  std::thread a(produce, 0), b(produce, 1);
  std::thread churn([&] {
    for (int i = 0; i < 30; ++i) {
      auto other = RecordingEventSink::Make();
      DWORD cookie = 0;
      auto extra = Subscribe(server.Get(), other.Get(), 0, 5, 100 + i, &cookie);
      std::string area = "Plant/Unit1";
      extra->SetFilter(OPC_CONDITION_EVENT, 0, nullptr, 1, 1000, 1, &area, 0, nullptr);
      extra->Refresh(cookie);
    }
  });
  a.join();
  b.join();
  churn.join();

  // Every activation and return to normal reached the client, in order per condition.
  ASSERT_TRUE(Eventually([&] {
    size_t changes = 0;
    for (const auto& e : sink->Events()) changes += (e.wChangeMask & OPC_CHANGE_ACTIVE_STATE) != 0;
    return changes == size_t(kSources) * kRounds * 2;
  }));
  std::map<std::string, uint64_t> last;
  for (const auto& e : sink->Events()) {
    uint64_t t = FileTimeToUint64(e.ftTime);
    if (e.wChangeMask & OPC_CHANGE_ACK_STATE && e.szActorID == "sink") continue;  // acks carry the time of now
    EXPECT_GE(t, last[e.szSource]) << e.szSource;
    last[e.szSource] = t;
  }
}

}  // namespace
