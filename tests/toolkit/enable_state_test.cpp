// Enabling and disabling conditions by area and by source: the hierarchy,
// settings that outlast the sources they name, the 1.10 per-item methods,
// the ENABLE_STATE events, and what a disabled condition refuses.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "toolkit/server_callback.h"
#include "toolkit_fixture.h"

namespace {

// An out array from the task allocator, freed at the end of the scope.
template <class T>
class TaskMem {
 public:
  TaskMem() = default;
  TaskMem(const TaskMem&) = delete;
  TaskMem& operator=(const TaskMem&) = delete;
  ~TaskMem() { CoTaskMemFree(p_); }
  T** Put() {
    CoTaskMemFree(p_);
    p_ = nullptr;
    return &p_;
  }
  T* Get() const { return p_; }
  std::vector<T> Values(size_t n) const { return p_ ? std::vector<T>(p_, p_ + n) : std::vector<T>(); }

 private:
  T* p_ = nullptr;
};

class EnableStateTest : public ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    for (const char* name : kSources) AddLevelSource(name);
    ComPtr<IOPCEventServer> server = Connect();
    ASSERT_EQ(server.As(IID_IOPCEventServer2, server_), S_OK);
    sink_ = RecordingEventSink::Make();
    subscription_ = Subscribe(server_.Get(), sink_.Get());
  }
  void TearDown() override {
    g_ServerInterface.SetCallbackObject(nullptr);
    subscription_.Reset();
    server_.Reset();
    ToolkitTest::TearDown();
  }

  // Own and effective setting of one area or source, as a client reads them.
  std::pair<BOOL, BOOL> State(const std::string& name, bool isArea) {
    TaskMem<BOOL> enabled, effective;
    TaskMem<HRESULT> errors;
    HRESULT hr = isArea ? server_->GetEnableStateByArea(1, &name, enabled.Put(), effective.Put(), errors.Put())
                        : server_->GetEnableStateBySource(1, &name, enabled.Put(), effective.Put(), errors.Put());
    EXPECT_EQ(hr, S_OK) << name;
    if (hr != S_OK) return {false, false};
    return {enabled.Get()[0], effective.Get()[0]};
  }
  HRESULT Change(const std::string& name, bool isArea, bool enable) {
    return isArea ? (enable ? server_->EnableConditionByArea(1, &name) : server_->DisableConditionByArea(1, &name))
                  : (enable ? server_->EnableConditionBySource(1, &name)
                            : server_->DisableConditionBySource(1, &name));
  }
  // The ENABLE_STATE events sent since the last call, by source; a quality
  // change of the marker source closes the batch, so that "none" can be
  // told from "not yet delivered".
  std::multiset<std::string> EnableEvents() {
    marker_ = marker_ == 192 ? 0 : 192;
    Level("Marker")->Quality(marker_);
    ++markers_;
    EXPECT_TRUE(sink_->WaitUntil([&] {
      size_t n = 0;
      for (const auto& e : sink_->EventsUnlocked()) n += e.szSource == "Marker";
      return n == markers_;
    }));
    std::multiset<std::string> sources;
    auto events = sink_->Events();
    for (size_t i = seen_; i < events.size(); ++i) {
      if (events[i].wChangeMask == OPC_CHANGE_ENABLE_STATE) sources.insert(events[i].szSource);
    }
    seen_ = events.size();
    return sources;
  }

  static constexpr const char* kSources[] = {"Plant/Unit1/TIC100.A", "Plant/Unit1/TIC101.A",
                                             "Plant/Unit2/PIC200.A", "Plant/Unit2/Deep/LIC300.A",
                                             "Yard/FIC400.A", "Marker"};
  ComPtr<IOPCEventServer2> server_;
  ComPtr<RecordingEventSink> sink_;
  ComPtr<IOPCEventSubscriptionMgt> subscription_;
  WORD marker_ = 192;
  size_t markers_ = 0;
  size_t seen_ = 0;
};

TEST_F(EnableStateTest, AConditionIsEnabledOnlyWhenItsSourceAndEveryAreaAboveAre) {
  ASSERT_EQ(Change("Plant", true, false), S_OK);
  EXPECT_EQ(State("Plant", true), std::make_pair(BOOL{false}, BOOL{false}));
  EXPECT_EQ(State("Plant/Unit2", true), std::make_pair(BOOL{true}, BOOL{false})) << "own setting kept";
  EXPECT_EQ(State("Plant/Unit2/Deep/LIC300.A", false), std::make_pair(BOOL{true}, BOOL{false}));
  EXPECT_EQ(State("Yard/FIC400.A", false), std::make_pair(BOOL{true}, BOOL{true}));
  EXPECT_EQ(EnableEvents(), (std::multiset<std::string>{"Plant/Unit1/TIC100.A", "Plant/Unit1/TIC101.A",
                                                         "Plant/Unit2/PIC200.A", "Plant/Unit2/Deep/LIC300.A"}));

  // Enabling a source or a sub-area inside the disabled area changes its own
  // setting only.
  ASSERT_EQ(Change("Plant/Unit2/PIC200.A", false, true), S_OK);
  ASSERT_EQ(Change("Plant/Unit2", true, true), S_OK);
  EXPECT_EQ(State("Plant/Unit2/PIC200.A", false), std::make_pair(BOOL{true}, BOOL{false}));
  EXPECT_FALSE(Level("Plant/Unit2/PIC200.A")->Enabled());
  EXPECT_TRUE(EnableEvents().empty());

  // A disabled sub-area and a disabled source stay so when the area above
  // comes back.
  ASSERT_EQ(Change("Plant/Unit2/Deep", true, false), S_OK);
  ASSERT_EQ(Change("Plant/Unit1/TIC101.A", false, false), S_OK);
  EXPECT_TRUE(EnableEvents().empty()) << "nothing changed effectively";
  ASSERT_EQ(Change("Plant", true, true), S_OK);
  EXPECT_EQ(EnableEvents(), (std::multiset<std::string>{"Plant/Unit1/TIC100.A", "Plant/Unit2/PIC200.A"}));
  EXPECT_TRUE(Level("Plant/Unit1/TIC100.A")->Enabled());
  EXPECT_FALSE(Level("Plant/Unit1/TIC101.A")->Enabled());
  EXPECT_FALSE(Level("Plant/Unit2/Deep/LIC300.A")->Enabled());
  EXPECT_EQ(State("Plant/Unit2/Deep/LIC300.A", false), std::make_pair(BOOL{true}, BOOL{false}));

  // The root area covers every source (the marker's too, so the events are
  // counted here).
  size_t before = sink_->Count();
  ASSERT_EQ(Change("", true, false), S_OK);
  ASSERT_TRUE(sink_->WaitForEvents(before + 4));
  std::multiset<std::string> sources;
  for (const auto& e : sink_->Events()) {
    if (e.wChangeMask == OPC_CHANGE_ENABLE_STATE && !(e.wNewState & OPC_CONDITION_ENABLED)) sources.insert(e.szSource);
  }
  EXPECT_EQ(sources.count("Plant/Unit1/TIC100.A"), 2u);
  EXPECT_EQ(sources.count("Yard/FIC400.A"), 1u);
  EXPECT_EQ(sources.count("Marker"), 1u);
  EXPECT_FALSE(Level("Yard/FIC400.A")->Enabled());
}

TEST_F(EnableStateTest, DisabledConditionsSendNothingAndAreNotRefreshed) {
  ASSERT_EQ(Change("Plant/Unit1", true, false), S_OK);
  EnableEvents();
  FILETIME t = Time(1000);
  ASSERT_EQ(Level("Plant/Unit1/TIC100.A")->Activate("Hi", "high", true, &t), S_OK);
  ASSERT_EQ(Level("Yard/FIC400.A")->Activate("Hi", "high", true, &t), S_OK);
  EnableEvents();
  std::multiset<std::string> sources;
  for (const auto& e : sink_->Events()) sources.insert(e.szSource);
  EXPECT_EQ(sources.count("Plant/Unit1/TIC100.A"), 1u) << "only its disabling event";
  EXPECT_EQ(sources.count("Yard/FIC400.A"), 1u);

  OPCCONDITIONSTATE state;
  ASSERT_EQ(server_->GetConditionState("Plant/Unit1/TIC100.A", "Level", 0, nullptr, &state), S_OK);
  EXPECT_EQ(state.wState, OPC_CONDITION_ACTIVE) << "active and unacknowledged, but not enabled";

  auto refreshSink = RecordingEventSink::Make();
  DWORD cookie = 0;
  auto refreshing = Subscribe(server_.Get(), refreshSink.Get(), 0, 0, 8, &cookie);
  ASSERT_EQ(refreshing->Refresh(cookie), S_OK);
  ASSERT_TRUE(Eventually([&] {
    auto calls = refreshSink->Calls();
    return !calls.empty() && calls.back().lastRefresh;
  }));
  std::set<std::string> refreshed;
  for (const auto& e : refreshSink->Events()) refreshed.insert(e.szSource);
  EXPECT_EQ(refreshed, std::set<std::string>{"Yard/FIC400.A"});

  // Enabled again: the event carries the state it kept.
  ASSERT_EQ(Change("Plant/Unit1", true, true), S_OK);
  ONEVENTSTRUCT back;
  ASSERT_TRUE(sink_->WaitFor("Plant/Unit1/TIC100.A", [](const ONEVENTSTRUCT& e) {
    return e.wChangeMask == OPC_CHANGE_ENABLE_STATE && (e.wNewState & OPC_CONDITION_ENABLED);
  }, back));
  EXPECT_EQ(back.wNewState, OPC_CONDITION_ENABLED | OPC_CONDITION_ACTIVE);
  EXPECT_EQ(back.szSubconditionName, "Hi");
}

TEST_F(EnableStateTest, SettingsOutlastTheSourcesTheyName) {
  ASSERT_EQ(Change("Plant/Unit2", true, false), S_OK);
  ASSERT_EQ(Change("Yard/FIC400.A", false, false), S_OK);
  EnableEvents();

  // A re-import: the sources go and come back under the same names, the
  // area even vanishing for a while.
  ASSERT_NE(g_SourceCache.RemoveSource("Plant/Unit2/PIC200.A"), 0);
  ASSERT_NE(g_SourceCache.RemoveSource("Plant/Unit2/Deep/LIC300.A"), 0);
  ASSERT_NE(g_SourceCache.RemoveSource("Yard/FIC400.A"), 0);
  EXPECT_FALSE(g_SourceCache.HasArea("Plant/Unit2"));
  AddLevelSource("Plant/Unit2/PIC200.A");
  AddLevelSource("Yard/FIC400.A");
  AddLevelSource("Plant/Unit2/PIC201.A");  // new, in the disabled area
  EXPECT_FALSE(Level("Plant/Unit2/PIC200.A")->Enabled());
  EXPECT_FALSE(Level("Plant/Unit2/PIC201.A")->Enabled());
  EXPECT_FALSE(Level("Yard/FIC400.A")->Enabled());
  EXPECT_EQ(State("Plant/Unit2", true), std::make_pair(BOOL{false}, BOOL{false}));
  EXPECT_EQ(State("Yard/FIC400.A", false), std::make_pair(BOOL{false}, BOOL{false}));
  EXPECT_TRUE(EnableEvents().empty()) << "a source built disabled sends no event";

  size_t from = sink_->Count();
  Level("Plant/Unit2/PIC200.A")->Activate("HiHi", "", true, nullptr);
  Level("Yard/FIC400.A")->Activate("HiHi", "", true, nullptr);
  EnableEvents();
  auto events = sink_->Events();
  for (size_t i = from; i < events.size(); ++i) EXPECT_EQ(events[i].szSource, "Marker");

  ASSERT_EQ(Change("Plant/Unit2", true, true), S_OK);
  EXPECT_EQ(EnableEvents(), (std::multiset<std::string>{"Plant/Unit2/PIC200.A", "Plant/Unit2/PIC201.A"}));
  EXPECT_TRUE(Level("Plant/Unit2/PIC200.A")->Active());
}

TEST_F(EnableStateTest, PerItemMethodsAnswerForEachName) {
  struct Refusing : CAEServerCallback {
    std::vector<std::string> changed;
    BOOL AllowChangeConditionEnabled(const std::string& name, BOOL, BOOL) override { return name != "Yard"; }
    void OnChangeConditionEnabled(const std::string& name, BOOL, BOOL) override { changed.push_back(name); }
  } callback;
  g_ServerInterface.SetCallbackObject(&callback);

  std::vector<std::string> areas{"Plant/Unit1", "Nowhere", "Yard", "Plant/Unit2/Deep"};
  TaskMem<HRESULT> errors;
  EXPECT_EQ(server_->DisableConditionByArea2(4, areas.data(), errors.Put()), S_FALSE);
  EXPECT_EQ(errors.Values(4), (std::vector<HRESULT>{S_OK, E_INVALIDARG, E_ACCESSDENIED, S_OK}));
  EXPECT_EQ(callback.changed, (std::vector<std::string>{"Plant/Unit1", "Plant/Unit2/Deep"}));
  EXPECT_FALSE(Level("Plant/Unit1/TIC100.A")->Enabled());
  EXPECT_FALSE(Level("Plant/Unit2/Deep/LIC300.A")->Enabled());
  EXPECT_TRUE(Level("Yard/FIC400.A")->Enabled());

  // The 1.0 method refuses the whole list for one unknown name.
  EXPECT_EQ(server_->EnableConditionByArea(4, areas.data()), E_INVALIDARG);
  EXPECT_FALSE(Level("Plant/Unit1/TIC100.A")->Enabled());

  std::vector<std::string> sources{"Plant/Unit1/TIC100.A", "TIC100.A", "Yard/FIC400.A"};
  EXPECT_EQ(server_->DisableConditionBySource2(3, sources.data(), errors.Put()), S_FALSE);
  EXPECT_EQ(errors.Values(3), (std::vector<HRESULT>{S_OK, E_INVALIDARG, S_OK}));
  EXPECT_EQ(server_->EnableConditionBySource2(1, sources.data(), errors.Put()), S_OK);
  EXPECT_EQ(errors.Values(1), std::vector<HRESULT>{S_OK});
  EXPECT_EQ(server_->EnableConditionByArea2(1, areas.data(), errors.Put()), S_OK);
  EXPECT_TRUE(Level("Plant/Unit1/TIC100.A")->Enabled());

  TaskMem<BOOL> enabled, effective;
  EXPECT_EQ(server_->GetEnableStateBySource(3, sources.data(), enabled.Put(), effective.Put(), errors.Put()),
            S_FALSE);
  EXPECT_EQ(errors.Values(3), (std::vector<HRESULT>{S_OK, E_INVALIDARG, S_OK}));
  EXPECT_EQ(enabled.Values(3), (std::vector<BOOL>{true, false, false}));
  EXPECT_EQ(effective.Values(3), (std::vector<BOOL>{true, false, false}));
  EXPECT_EQ(server_->GetEnableStateByArea(4, areas.data(), enabled.Put(), effective.Put(), errors.Put()), S_FALSE);
  EXPECT_EQ(errors.Values(4), (std::vector<HRESULT>{S_OK, E_INVALIDARG, S_OK, S_OK}));
  EXPECT_EQ(enabled.Values(4), (std::vector<BOOL>{true, false, true, false}));

  // Bad calls: no arrays handed out.
  EXPECT_EQ(server_->EnableConditionByArea2(1, areas.data(), nullptr), E_POINTER);
  EXPECT_EQ(server_->EnableConditionByArea2(2, nullptr, errors.Put()), E_INVALIDARG);
  EXPECT_EQ(errors.Get(), nullptr);
  EXPECT_EQ(server_->GetEnableStateByArea(1, areas.data(), enabled.Put(), nullptr, errors.Put()), E_POINTER);
  EXPECT_EQ(server_->GetEnableStateByArea(0, nullptr, enabled.Put(), effective.Put(), errors.Put()), S_OK);
  EXPECT_EQ(enabled.Get(), nullptr);
  EXPECT_EQ(errors.Get(), nullptr);
}

TEST_F(EnableStateTest, EventsOfANeverActiveConditionNameIt) {
  ASSERT_EQ(Change("Plant/Unit1/TIC100.A", false, false), S_OK);
  ASSERT_EQ(Change("Plant/Unit1/TIC100.A", false, true), S_OK);
  ASSERT_EQ(Level("Plant/Unit1/TIC101.A")->Quality(WORD{0x18}), S_OK);
  EnableEvents();
  std::vector<ONEVENTSTRUCT> events;
  for (const auto& e : sink_->Events()) {
    if (e.szSource != "Marker") events.push_back(e);
  }
  ASSERT_EQ(events.size(), 3u);
  for (const auto& e : events) {
    EXPECT_EQ(e.szConditionName, "Level");
    EXPECT_EQ(e.szSubconditionName, "Level") << "no subcondition entered yet";
  }
  EXPECT_EQ(events[0].wNewState, OPC_CONDITION_ACKED);
  EXPECT_EQ(events[1].wNewState, OPC_CONDITION_ENABLED | OPC_CONDITION_ACKED);
  EXPECT_EQ(events[2].wChangeMask, OPC_CHANGE_QUALITY);

  OPCCONDITIONSTATE state;
  ASSERT_EQ(server_->GetConditionState("Plant/Unit1/TIC101.A", "Level", 0, nullptr, &state), S_OK);
  EXPECT_EQ(state.szActiveSubCondition, "") << "inactive: no active subcondition";
}

TEST_F(EnableStateTest, ADisabledConditionCannotBeAcknowledgedByAClient) {
  struct Acks : CAEServerCallback {
    std::atomic<int> acknowledged{0};
    void OnConditionAcknowledged(CAECondition*) override { ++acknowledged; }
  } callback;
  g_ServerInterface.SetCallbackObject(&callback);
  CAECondition* level = Level("Plant/Unit1/TIC100.A");
  FILETIME t = Time(5000);
  level->Activate("Hi", "high", true, &t);
  DWORD cookie = level->Cookie();
  ASSERT_EQ(Change("Plant", true, false), S_OK);

  std::string source = "Plant/Unit1/TIC100.A", condition = "Level";
  std::vector<HRESULT> errors;
  EXPECT_EQ(server_->AckCondition(1, "op", "", &source, &condition, &t, &cookie, &errors), S_FALSE);
  EXPECT_EQ(errors, std::vector<HRESULT>{E_INVALIDARG});
  EXPECT_FALSE(level->Acked());
  EXPECT_EQ(level->AcknowledgerID(), "");
  EXPECT_EQ(callback.acknowledged, 0) << "no write-back, no log";

  // The server's own acknowledgement (from the controller) is still taken.
  FILETIME tAck = Time(6000);
  EXPECT_EQ(level->Acknowledge("controller", "", &tAck), S_OK);
  EXPECT_TRUE(level->Acked());

  level->Activate("HiHi", "higher", true, &t);
  cookie = level->Cookie();
  ASSERT_EQ(Change("Plant", true, true), S_OK);
  EXPECT_EQ(server_->AckCondition(1, "op", "", &source, &condition, &t, &cookie, &errors), S_OK);
  EXPECT_EQ(callback.acknowledged, 1);
}

TEST_F(EnableStateTest, ChangesRacingTheAlarmRoadAndAReimportEndAsTheSettingsSay) {
  std::atomic<bool> stop{false};
  std::thread road([&] {
    for (int i = 0; !stop; ++i) {
      for (const char* name : kSources) {
        CAESourcePtr s = g_SourceCache.FindSource(name);
        if (s) s->GetCondition("Level")->Activate(i % 2 ? "Hi" : "HiHi", "", true, nullptr);
      }
    }
  });
  std::thread reimport([&] {
    for (int i = 0; i < 200; ++i) {
      g_SourceCache.RemoveSource("Plant/Unit2/PIC200.A");
      AddLevelSource("Plant/Unit2/PIC200.A");
    }
  });
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(Change("Plant", true, i % 2 == 1), S_OK);
    EXPECT_EQ(Change("Plant/Unit1/TIC101.A", false, i % 3 == 0), S_OK);
    EXPECT_EQ(Change("Plant/Unit2", true, i % 5 != 0), S_OK);
  }
  reimport.join();
  stop = true;
  road.join();
  // As the last round left them: Plant and Unit2 on, TIC101 off; the source
  // built again and again has no setting of its own.
  EXPECT_EQ(State("Plant", true), std::make_pair(BOOL{true}, BOOL{true}));
  EXPECT_FALSE(Level("Plant/Unit1/TIC101.A")->Enabled());
  EXPECT_TRUE(Level("Plant/Unit1/TIC100.A")->Enabled());
  EXPECT_TRUE(Level("Plant/Unit2/PIC200.A")->Enabled());
  EXPECT_TRUE(Level("Plant/Unit2/Deep/LIC300.A")->Enabled());
}

}  // namespace
