// Subscriptions: filters, grouping by max size, state and its limits,
// refresh and its cancelling, returned attributes, name validation,
// connection points and their enumeration, and clients that leave from
// inside OnEvent.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "tests/support/debug_capture.h"
#include "toolkit/engine.h"
#include "toolkit/server_callback.h"
#include "toolkit/subscription.h"
#include "toolkit_fixture.h"

namespace {

class SubscriptionTest : public ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    AddLevelSource("Plant/Unit1/TIC100.A");
    AddLevelSource("Plant/Unit2/PIC200.A");
    AddLevelSource("Yard/FIC300.A");
    server_ = Connect();
  }
  void TearDown() override {
    server_.Reset();
    ToolkitTest::TearDown();
  }

  static std::set<std::string> SourcesOf(RecordingEventSink* sink) {
    std::set<std::string> names;
    for (const auto& e : sink->Events()) names.insert(e.szSource);
    return names;
  }

  ComPtr<IOPCEventServer> server_;
};

TEST_F(SubscriptionTest, EventsReachOnlyMatchingSubscriptions) {
  struct Client {
    ComPtr<RecordingEventSink> sink = RecordingEventSink::Make();
    ComPtr<IOPCEventSubscriptionMgt> subscription;
  };
  Client all, unit1, pics, severe, bits, tracking, inactive;
  for (Client* c : {&all, &unit1, &pics, &severe, &bits, &tracking, &inactive}) {
    c->subscription = Subscribe(server_.Get(), c->sink.Get());
  }
  std::string area = "Plant/Unit1", pattern = "*/PIC*";
  DWORD bitCategory = kBitCategory;
  ASSERT_EQ(unit1.subscription->SetFilter(OPC_ALL_EVENTS, 0, nullptr, 1, 1000, 1, &area, 0, nullptr), S_OK);
  ASSERT_EQ(pics.subscription->SetFilter(OPC_ALL_EVENTS, 0, nullptr, 1, 1000, 0, nullptr, 1, &pattern), S_OK);
  ASSERT_EQ(severe.subscription->SetFilter(OPC_ALL_EVENTS, 0, nullptr, 800, 1000, 0, nullptr, 0, nullptr), S_OK);
  ASSERT_EQ(bits.subscription->SetFilter(OPC_ALL_EVENTS, 1, &bitCategory, 1, 1000, 0, nullptr, 0, nullptr), S_OK);
  ASSERT_EQ(tracking.subscription->SetFilter(OPC_TRACKING_EVENT, 0, nullptr, 1, 1000, 0, nullptr, 0, nullptr), S_OK);
  BOOL off = false;
  DWORD revisedBuffer, revisedMax;
  ASSERT_EQ(inactive.subscription->SetState(&off, nullptr, nullptr, 7, &revisedBuffer, &revisedMax), S_OK);

  Level("Plant/Unit1/TIC100.A")->Activate("Hi", "", true, nullptr);
  Level("Plant/Unit2/PIC200.A")->Activate("HiHi", "", true, nullptr);
  Level("Yard/FIC300.A")->Activate("Hi", "", true, nullptr);
  ASSERT_TRUE(all.sink->WaitForEvents(3));
  ASSERT_TRUE(unit1.sink->WaitForEvents(1));
  ASSERT_TRUE(pics.sink->WaitForEvents(1));
  ASSERT_TRUE(severe.sink->WaitForEvents(1));
  // A last event that everyone with a matching filter sees, so that nothing is still on its way.
  Level("Plant/Unit1/TIC100.A")->Activate("HiHi", "", true, nullptr);
  ASSERT_TRUE(unit1.sink->WaitForEvents(2));
  ASSERT_TRUE(severe.sink->WaitForEvents(2));

  EXPECT_EQ(SourcesOf(unit1.sink.Get()), std::set<std::string>{"Plant/Unit1/TIC100.A"});
  EXPECT_EQ(SourcesOf(pics.sink.Get()), std::set<std::string>{"Plant/Unit2/PIC200.A"});
  EXPECT_EQ(SourcesOf(severe.sink.Get()), (std::set<std::string>{"Plant/Unit1/TIC100.A", "Plant/Unit2/PIC200.A"}));
  EXPECT_TRUE(bits.sink->Events().empty());
  EXPECT_TRUE(tracking.sink->Events().empty());
  EXPECT_TRUE(inactive.sink->Events().empty());
}

TEST_F(SubscriptionTest, FilterIsValidatedAndReportedBack) {
  auto sink = RecordingEventSink::Make();
  auto subscription = Subscribe(server_.Get(), sink.Get());
  DWORD unknownCategory = 2;
  std::string badPattern = "Plant/[Z-A]", unknownSource = "Plant/Unit9/X.A", unknownArea = "Plant/Unit9";
  EXPECT_EQ(subscription->SetFilter(0, 0, nullptr, 1, 1000, 0, nullptr, 0, nullptr), E_INVALIDARG);
  EXPECT_EQ(subscription->SetFilter(OPC_ALL_EVENTS, 0, nullptr, 0, 1000, 0, nullptr, 0, nullptr), E_INVALIDARG);
  EXPECT_EQ(subscription->SetFilter(OPC_ALL_EVENTS, 0, nullptr, 600, 500, 0, nullptr, 0, nullptr), E_INVALIDARG);
  EXPECT_EQ(subscription->SetFilter(OPC_ALL_EVENTS, 1, &unknownCategory, 1, 1000, 0, nullptr, 0, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(subscription->SetFilter(OPC_ALL_EVENTS, 0, nullptr, 1, 1000, 1, &badPattern, 0, nullptr), E_INVALIDARG);

  // Names are taken as given until validation is switched on.
  EXPECT_EQ(subscription->SetFilter(OPC_ALL_EVENTS, 0, nullptr, 1, 1000, 1, &unknownArea, 1, &unknownSource), S_OK);
  g_ServerInterface.ValidateSourcesInSetFilter(true);
  g_ServerInterface.ValidateAreasInSetFilter(true);
  EXPECT_EQ(subscription->SetFilter(OPC_ALL_EVENTS, 0, nullptr, 1, 1000, 0, nullptr, 1, &unknownSource), E_INVALIDARG);
  EXPECT_EQ(subscription->SetFilter(OPC_ALL_EVENTS, 0, nullptr, 1, 1000, 1, &unknownArea, 0, nullptr), E_INVALIDARG);
  std::string area = "Plant/Unit2", source = "Yard/*";
  DWORD category = kLevelCategory;
  ASSERT_EQ(subscription->SetFilter(OPC_CONDITION_EVENT, 1, &category, 100, 900, 1, &area, 1, &source), S_OK);

  DWORD type, low, high;
  std::vector<DWORD> categories;
  std::vector<std::string> areas, sources;
  ASSERT_EQ(subscription->GetFilter(&type, &categories, &low, &high, &areas, &sources), S_OK);
  EXPECT_EQ(type, OPC_CONDITION_EVENT);
  EXPECT_EQ(categories, std::vector<DWORD>{kLevelCategory});
  EXPECT_EQ(low, 100u);
  EXPECT_EQ(high, 900u);
  EXPECT_EQ(areas, std::vector<std::string>{"Plant/Unit2"});
  EXPECT_EQ(sources, std::vector<std::string>{"Yard/*"});
}

TEST_F(SubscriptionTest, MaxSizeGroupsAndOrderIsKept) {
  auto sink = RecordingEventSink::Make();
  // A long buffer time: only the max size makes the second callback happen.
  auto subscription = Subscribe(server_.Get(), sink.Get(), 60000, 3);
  CAECondition* level = Level("Plant/Unit1/TIC100.A");
  level->Activate("Hi", "m0", true, nullptr);
  ASSERT_TRUE(sink->WaitForEvents(1));
  for (int i = 1; i <= 3; ++i) level->Activate("Hi", "m" + std::to_string(i), true, nullptr);
  ASSERT_TRUE(sink->WaitForEvents(4));
  level->Activate("Hi", "m4", true, nullptr);
  DWORD zero = 0, revisedBuffer, revisedMax;
  ASSERT_EQ(subscription->SetState(nullptr, &zero, nullptr, 9, &revisedBuffer, &revisedMax), S_OK);
  EXPECT_EQ(revisedBuffer, 0u);
  EXPECT_EQ(revisedMax, 3u);
  ASSERT_TRUE(sink->WaitForEvents(5));

  auto calls = sink->Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].count, 1u);
  EXPECT_EQ(calls[1].count, 3u);
  EXPECT_EQ(calls[2].count, 1u);
  EXPECT_EQ(calls[1].handle, 7u);
  EXPECT_EQ(calls[2].handle, 9u);
  auto events = sink->Events();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(events[i].szMessage, "m" + std::to_string(i));

  BOOL active;
  DWORD bufferTime, maxSize;
  OPCHANDLE handle;
  ASSERT_EQ(subscription->GetState(&active, &bufferTime, &maxSize, &handle), S_OK);
  EXPECT_TRUE(active);
  EXPECT_EQ(bufferTime, 0u);
  EXPECT_EQ(maxSize, 3u);
  EXPECT_EQ(handle, 9u);
}

TEST_F(SubscriptionTest, RefreshResendsConditionsThatNeedAttention) {
  auto sink = RecordingEventSink::Make();
  DWORD cookie = 0;
  auto subscription = Subscribe(server_.Get(), sink.Get(), 0, 0, 7, &cookie);
  BOOL off = false;
  DWORD revisedBuffer, revisedMax;
  ASSERT_EQ(subscription->SetState(&off, nullptr, nullptr, 7, &revisedBuffer, &revisedMax), S_OK);
  AddLevelSource("Yard/Quiet.A");
  Level("Plant/Unit1/TIC100.A")->Activate("Hi", "active unacked", true, nullptr);
  Level("Plant/Unit2/PIC200.A")->Activate("Hi", "active acked", false, nullptr);
  Level("Yard/FIC300.A")->Activate("Hi", "", true, nullptr);
  Level("Yard/FIC300.A")->Deactivate("back, unacked", true, nullptr);

  EXPECT_EQ(subscription->Refresh(cookie + 1), E_INVALIDARG);
  EXPECT_EQ(subscription->CancelRefresh(cookie), E_FAIL);
  ASSERT_EQ(subscription->Refresh(cookie), S_OK) << "refresh works while inactive";
  ASSERT_TRUE(Eventually([&] {
    auto calls = sink->Calls();
    return !calls.empty() && calls.back().lastRefresh;
  }));
  EXPECT_EQ(SourcesOf(sink.Get()),
            (std::set<std::string>{"Plant/Unit1/TIC100.A", "Plant/Unit2/PIC200.A", "Yard/FIC300.A"}));
  for (const auto& call : sink->Calls()) EXPECT_TRUE(call.refresh);
}

TEST_F(SubscriptionTest, RefreshIsBusyUntilDeliveredAndCanBeCancelled) {
  auto sink = RecordingEventSink::Make();
  DWORD cookie = 0;
  auto subscription = Subscribe(server_.Get(), sink.Get(), 0, 1, 7, &cookie);
  Level("Plant/Unit1/TIC100.A")->Activate("Hi", "", true, nullptr);
  Level("Plant/Unit2/PIC200.A")->Activate("Hi", "", true, nullptr);
  ASSERT_TRUE(sink->WaitForEvents(2));
  sink->Clear();

  // The sink holds the first refresh callback until the test has tried again.
  std::atomic<bool> inRefresh{false}, release{false};
  sink->SetHook([&](const ONEVENTSTRUCT&) {
    inRefresh = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  ASSERT_EQ(subscription->Refresh(cookie), S_OK);
  ASSERT_TRUE(Eventually([&] { return inRefresh.load(); }));
  EXPECT_EQ(subscription->Refresh(cookie), OPC_E_BUSY);
  EXPECT_EQ(subscription->CancelRefresh(cookie), S_OK);
  sink->SetHook(nullptr);
  release = true;
  // The cancelled refresh ends with one empty last callback; a new one runs
  // to its end.
  ASSERT_TRUE(Eventually([&] { return subscription->Refresh(cookie) == S_OK; }));
  ASSERT_TRUE(Eventually([&] {
    auto calls = sink->Calls();
    return calls.size() >= 4 && calls.back().lastRefresh;
  }));
  auto calls = sink->Calls();
  ASSERT_EQ(calls.size(), 4u) << "one held call, the cancelled refresh's end, then the new refresh's two";
  EXPECT_FALSE(calls[0].lastRefresh);
  EXPECT_TRUE(calls[1].refresh);
  EXPECT_TRUE(calls[1].lastRefresh);
  EXPECT_EQ(calls[1].count, 0u);
  EXPECT_EQ(calls[2].count, 1u);
  EXPECT_FALSE(calls[2].lastRefresh);
}

TEST_F(SubscriptionTest, ACancelledRefreshEndsWithOneEmptyLastCallback) {
  auto sink = RecordingEventSink::Make();
  DWORD cookie = 0;
  auto subscription = Subscribe(server_.Get(), sink.Get(), 0, 0, 7, &cookie);
  std::string ours[] = {"Plant/Unit1/TIC100.A", "Plant/Unit2/PIC200.A"};
  ASSERT_EQ(subscription->SetFilter(OPC_ALL_EVENTS, 0, nullptr, 1, 1000, 0, nullptr, 2, ours), S_OK);
  Level(ours[0])->Activate("Hi", "", true, nullptr);
  Level(ours[1])->Activate("Hi", "", true, nullptr);
  ASSERT_TRUE(sink->WaitForEvents(2));
  sink->Clear();

  // Another client's sink holds the delivery thread, so the refresh is
  // ready but not on its way when it is cancelled.
  auto blockerSink = RecordingEventSink::Make();
  auto blocker = Subscribe(server_.Get(), blockerSink.Get());
  std::string yard = "Yard/FIC300.A";
  ASSERT_EQ(blocker->SetFilter(OPC_ALL_EVENTS, 0, nullptr, 1, 1000, 0, nullptr, 1, &yard), S_OK);
  std::atomic<bool> inside{false}, release{false};
  blockerSink->SetHook([&](const ONEVENTSTRUCT&) {
    inside = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  Level(yard)->Activate("Hi", "", true, nullptr);
  ASSERT_TRUE(Eventually([&] { return inside.load(); }));

  ASSERT_EQ(subscription->Refresh(cookie), S_OK);
  EXPECT_EQ(subscription->Refresh(cookie), OPC_E_BUSY);
  EXPECT_EQ(subscription->CancelRefresh(cookie + 1), E_INVALIDARG);
  EXPECT_EQ(subscription->CancelRefresh(cookie), S_OK);
  EXPECT_EQ(subscription->CancelRefresh(cookie), E_FAIL) << "cancelled already";
  EXPECT_EQ(subscription->Refresh(cookie), OPC_E_BUSY) << "until its last callback is made";
  blockerSink->SetHook(nullptr);
  release = true;

  ASSERT_TRUE(Eventually([&] { return subscription->Refresh(cookie) == S_OK; }));
  ASSERT_TRUE(Eventually([&] {
    auto calls = sink->Calls();
    return calls.size() >= 2 && calls.back().lastRefresh;
  }));
  auto calls = sink->Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(calls[0].refresh);
  EXPECT_TRUE(calls[0].lastRefresh);
  EXPECT_EQ(calls[0].count, 0u) << "nothing of the cancelled refresh";
  EXPECT_EQ(calls[1].count, 2u) << "the next one in full";
}

TEST_F(SubscriptionTest, RequestsBeyondTheServersLimitsAreRevised) {
  const DWORD maxBuffer = CAESubscription::kMaxBufferTimeMs;
  const DWORD maxSize = static_cast<DWORD>(CAESubscription::kQueueLimit);
  ComPtr<IUnknown> unknown;
  DWORD buffer = 0, size = 0;
  EXPECT_EQ(server_->CreateEventSubscription(true, maxBuffer + 1, 10, 1, IID_IOPCEventSubscriptionMgt, unknown.Put(),
                                             &buffer, &size),
            OPC_S_INVALIDBUFFERTIME);
  EXPECT_EQ(buffer, maxBuffer);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(server_->CreateEventSubscription(true, 100, maxSize + 1, 1, IID_IOPCEventSubscriptionMgt, unknown.Put(),
                                             &buffer, &size),
            OPC_S_INVALIDMAXSIZE);
  EXPECT_EQ(buffer, 100u);
  EXPECT_EQ(size, maxSize);
  EXPECT_EQ(server_->CreateEventSubscription(true, UINT32_MAX, UINT32_MAX, 1, IID_IOPCEventSubscriptionMgt,
                                             unknown.Put(), &buffer, &size),
            OPC_S_INVALIDMAXSIZE)
      << "the max size's code when both are revised";
  EXPECT_EQ(buffer, maxBuffer);
  EXPECT_EQ(size, maxSize);

  ComPtr<IOPCEventSubscriptionMgt> subscription;
  ASSERT_EQ(unknown.As(IID_IOPCEventSubscriptionMgt, subscription), S_OK);
  BOOL active;
  DWORD stateBuffer, stateSize;
  OPCHANDLE handle;
  ASSERT_EQ(subscription->GetState(&active, &stateBuffer, &stateSize, &handle), S_OK);
  EXPECT_EQ(stateBuffer, maxBuffer) << "the revised values are the ones in use";
  EXPECT_EQ(stateSize, maxSize);

  DWORD wantBuffer = maxBuffer + 5, wantSize = 0, zero = 0;
  EXPECT_EQ(subscription->SetState(nullptr, &wantBuffer, &wantSize, 1, &buffer, &size), OPC_S_INVALIDBUFFERTIME);
  EXPECT_EQ(buffer, maxBuffer);
  EXPECT_EQ(size, 0u) << "0 stays no limit";
  wantSize = maxSize + 5;
  EXPECT_EQ(subscription->SetState(nullptr, &zero, &wantSize, 1, &buffer, &size), OPC_S_INVALIDMAXSIZE);
  EXPECT_EQ(buffer, 0u);
  EXPECT_EQ(size, maxSize);
  EXPECT_EQ(subscription->SetState(nullptr, nullptr, nullptr, 1, &buffer, &size), S_OK);
  EXPECT_EQ(server_->CreateEventSubscription(true, 0, 0, 1, IID_IOPCEventSubscriptionMgt, unknown.Put(), &buffer,
                                             &size),
            S_OK);
}

TEST_F(SubscriptionTest, ConnectionPointsAndConnectionsAreEnumerated) {
  // The event server's one point, IOPCShutdown.
  ComPtr<IConnectionPointContainer> serverPoints;
  ASSERT_EQ(server_.As(IID_IConnectionPointContainer, serverPoints), S_OK);
  ComPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(serverPoints->EnumConnectionPoints(points.Put()), S_OK);
  IConnectionPoint* got[2] = {nullptr, nullptr};
  ULONG fetched = 9;
  EXPECT_EQ(points->Next(2, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  IID iid;
  ASSERT_EQ(got[0]->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, IID_IOPCShutdown);
  got[0]->Release();
  EXPECT_EQ(points->Next(1, got, nullptr), S_FALSE) << "at the end";
  EXPECT_EQ(points->Next(2, got, nullptr), E_POINTER);
  ASSERT_EQ(points->Reset(), S_OK);
  EXPECT_EQ(points->Skip(1), S_OK);
  EXPECT_EQ(points->Skip(1), S_FALSE);
  ASSERT_EQ(points->Reset(), S_OK);
  ComPtr<IEnumConnectionPoints> clone;
  ASSERT_EQ(points->Clone(clone.Put()), S_OK);
  ASSERT_EQ(points->Next(1, got, nullptr), S_OK);
  got[0]->Release();
  ASSERT_EQ(clone->Next(1, got, &fetched), S_OK) << "a clone keeps its own position";
  got[0]->Release();
  ComPtr<IEnumConnections> wrong;
  EXPECT_EQ(points.As(IID_IEnumConnections, wrong), E_NOINTERFACE);

  // Its connections, in the order they were advised.
  auto first = RecordingEventSink::Make(), second = RecordingEventSink::Make();
  DWORD firstCookie = 0, secondCookie = 0;
  Advise(server_.Get(), IID_IOPCShutdown, static_cast<IOPCShutdown*>(first.Get()), &firstCookie);
  Advise(server_.Get(), IID_IOPCShutdown, static_cast<IOPCShutdown*>(second.Get()), &secondCookie);
  ComPtr<IConnectionPoint> shutdown;
  ASSERT_EQ(serverPoints->FindConnectionPoint(IID_IOPCShutdown, shutdown.Put()), S_OK);
  ComPtr<IEnumConnections> connections;
  ASSERT_EQ(shutdown->EnumConnections(connections.Put()), S_OK);
  ASSERT_EQ(shutdown->Unadvise(firstCookie), S_OK);
  CONNECTDATA data[3];
  EXPECT_EQ(connections->Next(3, data, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u) << "the connections at the time of the call";
  EXPECT_EQ(data[0].dwCookie, firstCookie);
  EXPECT_EQ(data[0].pUnk, static_cast<IUnknown*>(static_cast<IOPCShutdown*>(first.Get())));
  EXPECT_EQ(data[1].dwCookie, secondCookie);
  for (ULONG i = 0; i < fetched; ++i) data[i].pUnk->Release();

  // The subscription's one point, IOPCEventSink, outliving the client's
  // references to the subscription.
  auto sink = RecordingEventSink::Make();
  DWORD cookie = 0;
  auto subscription = Subscribe(server_.Get(), sink.Get(), 0, 0, 7, &cookie);
  ComPtr<IConnectionPointContainer> subscriptionPoints;
  ASSERT_EQ(subscription.As(IID_IConnectionPointContainer, subscriptionPoints), S_OK);
  ASSERT_EQ(subscriptionPoints->EnumConnectionPoints(points.Put()), S_OK);
  subscription.Reset();
  subscriptionPoints.Reset();
  ASSERT_EQ(points->Next(1, got, nullptr), S_OK);
  ComPtr<IConnectionPoint> sinkPoint = ComPtr<IConnectionPoint>::Attach(got[0]);
  points.Reset();
  ASSERT_EQ(sinkPoint->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, IID_IOPCEventSink);
  ASSERT_EQ(sinkPoint->EnumConnections(connections.Put()), S_OK);
  ASSERT_EQ(connections->Next(1, data, nullptr), S_OK);
  EXPECT_EQ(data[0].dwCookie, cookie);
  EXPECT_EQ(data[0].pUnk, static_cast<IUnknown*>(static_cast<IOPCEventSink*>(sink.Get())));
  data[0].pUnk->Release();
}

TEST_F(SubscriptionTest, ReturnedAttributesAreFilledWhenTheEventIsMade) {
  struct Attributes : CAEServerCallback {
    BOOL GetConditionAttributeValues(LONG, DWORD count, const DWORD* ids, CAECondition* condition,
                                     VARIANT* values) override {
      for (DWORD i = 0; i < count; ++i) values[i] = VARIANT::Bstr(condition->Message() + "#" + std::to_string(ids[i]));
      return true;
    }
  } attributes;
  g_ServerInterface.SetCallbackObject(&attributes);
  auto sink = RecordingEventSink::Make();
  auto subscription = Subscribe(server_.Get(), sink.Get());
  DWORD ids[] = {kUserAttribute, kCommentAttribute};
  DWORD foreign = 5;
  EXPECT_EQ(subscription->SelectReturnedAttributes(kLevelCategory, 1, &foreign), E_INVALIDARG);
  EXPECT_EQ(subscription->SelectReturnedAttributes(2, 0, nullptr), E_INVALIDARG);
  ASSERT_EQ(subscription->SelectReturnedAttributes(kLevelCategory, 2, ids), S_OK);
  std::vector<DWORD> selected;
  ASSERT_EQ(subscription->GetReturnedAttributes(kLevelCategory, &selected), S_OK);
  EXPECT_EQ(selected, (std::vector<DWORD>{kUserAttribute, kCommentAttribute}));

  Level("Plant/Unit1/TIC100.A")->Activate("Hi", "first", true, nullptr);
  Level("Plant/Unit1/TIC100.A")->Activate("Hi", "second", true, nullptr);
  ASSERT_TRUE(sink->WaitForEvents(2));
  auto events = sink->Events();
  ASSERT_EQ(events[0].pEventAttributes.size(), 2u);
  EXPECT_EQ(events[0].pEventAttributes[0].bstrVal, "first#1");
  EXPECT_EQ(events[0].pEventAttributes[1].bstrVal, "first#0");
  EXPECT_EQ(events[1].pEventAttributes[0].bstrVal, "second#1");
  g_ServerInterface.SetCallbackObject(nullptr);
}

TEST_F(SubscriptionTest, ConnectionPointRules) {
  ComPtr<IUnknown> unknown;
  DWORD revisedBuffer, revisedMax;
  ASSERT_EQ(server_->CreateEventSubscription(true, 0, 0, 1, IID_IConnectionPointContainer, unknown.Put(),
                                             &revisedBuffer, &revisedMax),
            S_OK);
  ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(unknown.As(IID_IConnectionPointContainer, container), S_OK);
  ComPtr<IConnectionPoint> point;
  EXPECT_EQ(container->FindConnectionPoint(IID_IOPCShutdown, point.Put()), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(container->FindConnectionPoint(IID_IOPCEventSink, point.Put()), S_OK);
  IID iid;
  ASSERT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, IID_IOPCEventSink);

  auto sink = RecordingEventSink::Make(), second = RecordingEventSink::Make();
  DWORD cookie = 0, other = 0;
  ASSERT_EQ(point->Advise(static_cast<IOPCEventSink*>(sink.Get()), &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  EXPECT_EQ(point->Advise(static_cast<IOPCEventSink*>(second.Get()), &other), CONNECT_E_ADVISELIMIT);
  EXPECT_EQ(point->Unadvise(cookie + 1), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point->Unadvise(cookie), S_OK);

  ComPtr<IUnknown> notASink;
  ASSERT_EQ(server_->CreateAreaBrowser(IID_IUnknown, notASink.Put()), S_OK);
  EXPECT_EQ(point->Advise(notASink.Get(), &other), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(server_->CreateEventSubscription(true, 0, 0, 1, IID_IOPCEventSink, unknown.Put(), &revisedBuffer,
                                             &revisedMax),
            E_NOINTERFACE);
}

TEST_F(SubscriptionTest, ClientMayLeaveFromInsideOnEvent) {
  auto sink = RecordingEventSink::Make();
  auto subscription = Subscribe(server_.Get(), sink.Get());
  IOPCEventSubscriptionMgt* raw = subscription.Detach();
  std::atomic<bool> released{false};
  sink->SetHook([&](const ONEVENTSTRUCT&) {
    if (!released.exchange(true)) raw->Release();
  });
  CAECondition* level = Level("Plant/Unit1/TIC100.A");
  level->Activate("Hi", "", true, nullptr);
  ASSERT_TRUE(Eventually([&] { return released.load(); }));
  level->Activate("HiHi", "", true, nullptr);
  VARIANT subscriptions;
  ASSERT_TRUE(Eventually([&] {
    g_ServerInterface.GetStatistic(2, &subscriptions);
    return subscriptions.lVal == 0;
  }));
}

TEST_F(SubscriptionTest, StoppingDoesNotWaitForeverForAStuckSink) {
  auto sink = RecordingEventSink::Make();
  std::atomic<bool> inside{false}, release{false};
  sink->SetHook([&](const ONEVENTSTRUCT&) {
    inside = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  auto subscription = Subscribe(server_.Get(), sink.Get());
  Level("Plant/Unit1/TIC100.A")->Activate("Hi", "", true, nullptr);
  ASSERT_TRUE(Eventually([&] { return inside.load(); }));

  ScopedDebugCapture debug;
  CAEEventDispatcher& dispatcher = CAEEngine::Instance().Dispatcher();
  dispatcher.Stop(20);
  EXPECT_TRUE(debug.Contains("delivery thread is held"));
  // The alarm road goes on; a new delivery thread takes over once the sink returns.
  Level("Plant/Unit1/TIC100.A")->Activate("HiHi", "", true, nullptr);
  dispatcher.Start();
  sink->SetHook(nullptr);
  release = true;
  ASSERT_TRUE(sink->WaitForEvents(2));
  EXPECT_EQ(sink->Events()[1].szSubconditionName, "HiHi");
}

}  // namespace
