// Time on the subscription's side, on a hand-driven clock: the keep-alive of
// a silent subscription, and the buffer time.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/clock.h"
#include "toolkit/subscription.h"
#include "toolkit_fixture.h"

namespace {

class KeepAliveTest : public ToolkitTest {
 protected:
  static constexpr uint64_t kStep = CAESubscription::kMinKeepAliveMs;

  void SetUp() override {
    ToolkitTest::SetUp();
    g_ServerInterface.SetClock(&clock_);
    AddLevelSource("Plant/Unit1/TIC100.A");
    server_ = Connect();
  }
  void TearDown() override {
    probe_.Reset();
    server_.Reset();
    ToolkitTest::TearDown();
    g_ServerInterface.SetClock(nullptr);
  }

  void Advance(uint64_t ms) {
    clock_.Advance(ms);
    g_ServerInterface.TimeChanged();
  }
  // A subscription delivering to `sink`, with its 1.10 interface.
  ComPtr<IOPCEventSubscriptionMgt2> Subscribe2(RecordingEventSink* sink, DWORD bufferTime = 0) {
    ComPtr<IOPCEventSubscriptionMgt2> s;
    EXPECT_EQ(Subscribe(server_.Get(), sink, bufferTime).As(IID_IOPCEventSubscriptionMgt2, s), S_OK);
    return s;
  }
  // Made after the subscriptions under test, so that it comes after them in
  // every pass of the delivery thread; it takes no events (there are no
  // simple events), only its keep-alives.
  void MakeProbe() {
    probeSink_ = RecordingEventSink::Make();
    probe_ = Subscribe2(probeSink_.Get());
    ASSERT_EQ(probe_->SetFilter(OPC_SIMPLE_EVENT, 0, nullptr, 1, 1000, 0, nullptr, 0, nullptr), S_OK);
  }
  // Moves the clock to `t` and returns once the delivery thread has made a
  // pass at that time: the probe's keep-alive falls due exactly then, and
  // the subscriptions before it were served in the same pass.
  void PassAt(uint64_t t) {
    ASSERT_GE(t, clock_.SteadyMs() + kStep);
    Advance(t - kStep - clock_.SteadyMs());
    DWORD revised = 0;
    ASSERT_EQ(probe_->SetKeepAlive(kStep, &revised), S_OK);
    size_t seen = probeSink_->Calls().size();
    Advance(kStep);
    ASSERT_TRUE(probeSink_->WaitUntil([&] { return probeSink_->CallsUnlocked().size() > seen; }));
    ASSERT_EQ(probe_->SetKeepAlive(0, &revised), S_OK);
  }
  static size_t KeepAlives(RecordingEventSink* sink) {
    size_t n = 0;
    for (const auto& c : sink->Calls()) n += c.count == 0 && !c.refresh;
    return n;
  }

  ae::ManualClock clock_;
  ComPtr<IOPCEventServer> server_;
  ComPtr<RecordingEventSink> probeSink_;
  ComPtr<IOPCEventSubscriptionMgt2> probe_;
};

TEST_F(KeepAliveTest, TheTimeIsRevisedToTheServersLimit) {
  auto sink = RecordingEventSink::Make();
  auto subscription = Subscribe2(sink.Get());
  DWORD revised = 7, used = 7;
  ASSERT_EQ(subscription->GetKeepAlive(&used), S_OK);
  EXPECT_EQ(used, 0u) << "none until asked for";
  EXPECT_EQ(subscription->SetKeepAlive(kStep / 2, &revised), OPC_S_INVALIDKEEPALIVETIME);
  EXPECT_EQ(revised, kStep);
  ASSERT_EQ(subscription->GetKeepAlive(&used), S_OK);
  EXPECT_EQ(used, kStep);
  EXPECT_EQ(subscription->SetKeepAlive(2500, &revised), S_OK);
  EXPECT_EQ(revised, 2500u);
  EXPECT_EQ(subscription->SetKeepAlive(0, &revised), S_OK);
  EXPECT_EQ(revised, 0u);
  EXPECT_EQ(subscription->SetKeepAlive(1000, nullptr), E_POINTER);
  EXPECT_EQ(subscription->GetKeepAlive(nullptr), E_POINTER);
}

TEST_F(KeepAliveTest, ASilentSubscriptionGetsAnEmptyCallbackOncePerKeepAliveTime) {
  auto sink = RecordingEventSink::Make();
  auto subscription = Subscribe2(sink.Get());
  DWORD revised = 0;
  ASSERT_EQ(subscription->SetKeepAlive(1000, &revised), S_OK);
  MakeProbe();
  VARIANT before;
  ASSERT_EQ(g_ServerInterface.GetStatistic(5, &before), S_OK);

  PassAt(900);
  EXPECT_TRUE(sink->Calls().empty());
  PassAt(1000);
  auto calls = sink->Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].count, 0u);
  EXPECT_FALSE(calls[0].refresh);
  EXPECT_FALSE(calls[0].lastRefresh);
  EXPECT_EQ(calls[0].handle, 7u);
  PassAt(1900);
  EXPECT_EQ(sink->Calls().size(), 1u) << "the keep-alive restarted the time";
  PassAt(2000);
  EXPECT_EQ(KeepAlives(sink.Get()), 2u);

  // Keep-alives are callbacks, but no notification of events.
  VARIANT after;
  ASSERT_EQ(g_ServerInterface.GetStatistic(5, &after), S_OK);
  EXPECT_GE(after.lVal - before.lVal, 2);
  OPCEVENTSERVERSTATUS status;
  ASSERT_EQ(server_->GetStatus(&status), S_OK);
  EXPECT_EQ(FileTimeToUint64(status.ftLastUpdateTime), 0u);

  ASSERT_EQ(subscription->SetKeepAlive(0, &revised), S_OK);
  PassAt(4000);
  EXPECT_EQ(KeepAlives(sink.Get()), 2u) << "switched off";
}

TEST_F(KeepAliveTest, EventsAndRefreshesRestartTheTime) {
  auto sink = RecordingEventSink::Make();
  DWORD cookie = 0;
  ComPtr<IOPCEventSubscriptionMgt2> subscription;
  ASSERT_EQ(Subscribe(server_.Get(), sink.Get(), 0, 0, 7, &cookie).As(IID_IOPCEventSubscriptionMgt2, subscription),
            S_OK);
  DWORD revised = 0;
  ASSERT_EQ(subscription->SetKeepAlive(1000, &revised), S_OK);
  MakeProbe();

  Advance(600);
  Level("Plant/Unit1/TIC100.A")->Activate("Hi", "high", true, nullptr);
  ASSERT_TRUE(sink->WaitForEvents(1));
  PassAt(1500);
  EXPECT_EQ(KeepAlives(sink.Get()), 0u);
  PassAt(1600);
  EXPECT_EQ(KeepAlives(sink.Get()), 1u);

  Advance(300);  // 1900
  ASSERT_EQ(subscription->Refresh(cookie), S_OK);
  ASSERT_TRUE(sink->WaitUntil([&] { return !sink->CallsUnlocked().empty() && sink->CallsUnlocked().back().lastRefresh; }));
  PassAt(2800);
  EXPECT_EQ(KeepAlives(sink.Get()), 1u);
  PassAt(2900);
  EXPECT_EQ(KeepAlives(sink.Get()), 2u);
}

TEST_F(KeepAliveTest, AKeepAliveDueBeforeTheAdviseComesAtTheAdvise) {
  // No statistics roll to wake the delivery thread meanwhile.
  g_ServerInterface.SetStatsSamplePeriod(600'000);
  ComPtr<IUnknown> unknown;
  DWORD revisedBuffer = 0, revisedMax = 0, revised = 0;
  ASSERT_EQ(server_->CreateEventSubscription(true, 0, 0, 7, IID_IOPCEventSubscriptionMgt2, unknown.Put(),
                                             &revisedBuffer, &revisedMax),
            S_OK);
  ComPtr<IOPCEventSubscriptionMgt2> subscription;
  ASSERT_EQ(unknown.As(IID_IOPCEventSubscriptionMgt2, subscription), S_OK);
  ASSERT_EQ(subscription->SetKeepAlive(1000, &revised), S_OK);
  Advance(1500);

  // The sink is advised from inside another subscription's callback, in a
  // pass that has served this subscription already and after which the
  // delivery thread has nothing timed to wait for: only the Advise can make
  // it look again.
  auto sink = RecordingEventSink::Make();
  auto probeSink = RecordingEventSink::Make();
  ComPtr<IConnectionPoint> point;
  {
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(subscription.As(IID_IConnectionPointContainer, container), S_OK);
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCEventSink, point.Put()), S_OK);
  }
  std::atomic<bool> tried{false};
  std::atomic<HRESULT> advised{E_FAIL};
  probeSink->SetHook([&](const ONEVENTSTRUCT&) {
    DWORD cookie = 0;
    if (!tried.exchange(true)) advised = point->Advise(static_cast<IOPCEventSink*>(sink.Get()), &cookie);
  });
  auto probe = Subscribe(server_.Get(), probeSink.Get());
  Level("Plant/Unit1/TIC100.A")->Activate("Hi", "high", true, nullptr);
  ASSERT_TRUE(probeSink->WaitForEvents(1));
  ASSERT_TRUE(sink->WaitUntil([&] { return !sink->CallsUnlocked().empty(); }))
      << "the keep-alive, due since 1000, waited for another wake";
  EXPECT_EQ(advised.load(), S_OK);
  auto calls = sink->Calls();
  EXPECT_EQ(calls[0].count, 0u);
  EXPECT_EQ(calls[0].handle, 7u);
  point.Reset();
  probe.Reset();
}

TEST_F(KeepAliveTest, AnInactiveSubscriptionKeepsSilent) {
  auto sink = RecordingEventSink::Make();
  auto subscription = Subscribe2(sink.Get());
  DWORD revised = 0, buffer, maxSize;
  ASSERT_EQ(subscription->SetKeepAlive(1000, &revised), S_OK);
  BOOL off = false, on = true;
  ASSERT_EQ(subscription->SetState(&off, nullptr, nullptr, 7, &buffer, &maxSize), S_OK);
  MakeProbe();
  PassAt(2500);
  EXPECT_TRUE(sink->Calls().empty());

  // Activation starts the time again.
  ASSERT_EQ(subscription->SetState(&on, nullptr, nullptr, 7, &buffer, &maxSize), S_OK);
  PassAt(3400);
  EXPECT_TRUE(sink->Calls().empty());
  PassAt(3500);
  EXPECT_EQ(KeepAlives(sink.Get()), 1u);
}

TEST_F(KeepAliveTest, BufferedEventsGoOutWithinTheKeepAliveTime) {
  auto sink = RecordingEventSink::Make();
  auto subscription = Subscribe2(sink.Get(), 5000);
  DWORD revised = 0;
  ASSERT_EQ(subscription->SetKeepAlive(1000, &revised), S_OK);
  MakeProbe();
  CAECondition* level = Level("Plant/Unit1/TIC100.A");
  level->Activate("Hi", "first", true, nullptr);
  ASSERT_TRUE(sink->WaitForEvents(1)) << "the first events wait for nothing";
  Advance(100);
  level->Activate("HiHi", "second", true, nullptr);
  PassAt(900);
  EXPECT_EQ(sink->Count(), 1u) << "held by the buffer time";
  PassAt(1000);
  auto calls = sink->Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].count, 1u) << "the events themselves, not an empty callback";
  EXPECT_EQ(sink->Events()[1].szMessage, "second");
}

TEST_F(KeepAliveTest, TheBufferTimeIsTheLeastTimeBetweenCallbacks) {
  auto sink = RecordingEventSink::Make();
  auto subscription = Subscribe2(sink.Get(), 1000);
  MakeProbe();
  CAECondition* level = Level("Plant/Unit1/TIC100.A");
  level->Activate("Hi", "m0", true, nullptr);
  ASSERT_TRUE(sink->WaitForEvents(1));
  Advance(100);
  level->Activate("Hi", "m1", true, nullptr);
  Advance(100);
  level->Activate("Hi", "m2", true, nullptr);
  PassAt(900);
  EXPECT_EQ(sink->Calls().size(), 1u);
  PassAt(1000);
  auto calls = sink->Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].count, 2u);
  PassAt(1500);
  level->Activate("Hi", "m3", true, nullptr);
  PassAt(1900);
  EXPECT_EQ(sink->Calls().size(), 2u) << "one buffer time after the last callback";
  PassAt(2000);
  EXPECT_EQ(sink->Count(), 4u);
}

}  // namespace
