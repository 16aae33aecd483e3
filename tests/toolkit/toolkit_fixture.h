// Test support for the toolkit: a client sink that records what the
// toolkit delivers, and a fixture that initializes the toolkit, declares a
// small catalogue and connects in-process clients through the class factory.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/class_factory.h"
#include "toolkit/cfg_db.h"
#include "toolkit/condition.h"
#include "toolkit/opcae.h"
#include "toolkit/server_interface.h"
#include "toolkit/source.h"
#include "toolkit/source_cache.h"

// {5D1C0E2A-8B3F-4C61-9A7E-2F4B6D8C1A30}
constexpr CLSID kTestClsid{0x5D1C0E2A, 0x8B3F, 0x4C61, {0x9A, 0x7E, 0x2F, 0x4B, 0x6D, 0x8C, 0x1A, 0x30}};
constexpr DWORD kLevelCategory = 1;
constexpr DWORD kBitCategory = 3;
constexpr DWORD kCommentAttribute = 0;
constexpr DWORD kUserAttribute = 1;

// Polls `done` until it holds (true) or a generous bound passes (false).
inline bool Eventually(const std::function<bool()>& done) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Records OnEvent calls and shutdown requests. Heap-allocated, reference counted.
class TestSink final : public IOPCEventSink, public IOPCShutdown {
 public:
  struct Call {
    BOOL refresh;
    BOOL lastRefresh;
    DWORD count;
    OPCHANDLE handle;
  };

  static ComPtr<TestSink> Make() { return ComPtr<TestSink>::Attach(new TestSink()); }

  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IOPCEventSink) {
      *object = static_cast<IOPCEventSink*>(this);
    } else if (iid == IID_IOPCShutdown) {
      *object = static_cast<IOPCShutdown*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override {
    ULONG left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }

  HRESULT OnEvent(OPCHANDLE handle, BOOL refresh, BOOL lastRefresh, DWORD count,
                  const ONEVENTSTRUCT* events) override {
    std::function<void(const ONEVENTSTRUCT&)> hook;
    {
      std::lock_guard lock(mutex_);
      calls_.push_back({refresh, lastRefresh, count, handle});
      for (DWORD i = 0; i < count; ++i) events_.push_back(events[i]);
      hook = hook_;
    }
    if (hook) {
      for (DWORD i = 0; i < count; ++i) hook(events[i]);
    }
    cv_.notify_all();
    return S_OK;
  }
  HRESULT ShutdownRequest(const std::string& reason) override {
    {
      std::lock_guard lock(mutex_);
      shutdownReasons_.push_back(reason);
    }
    cv_.notify_all();
    return S_OK;
  }

  // Runs on the delivery thread for every event received.
  void SetHook(std::function<void(const ONEVENTSTRUCT&)> hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
  }
  // Waits (up to a generous bound) until `count` events arrived.
  bool WaitForEvents(size_t count) {
    return WaitUntil([&] { return events_.size() >= count; });
  }
  // `done` runs under the sink's lock, after each delivery.
  bool WaitUntil(const std::function<bool()>& done) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(10), done);
  }
  std::vector<ONEVENTSTRUCT> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  // For WaitUntil predicates, which run under the sink's lock.
  const std::vector<ONEVENTSTRUCT>& EventsUnlocked() const { return events_; }
  std::vector<Call> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::vector<std::string> ShutdownReasons() {
    std::lock_guard lock(mutex_);
    return shutdownReasons_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
    calls_.clear();
  }

 private:
  TestSink() = default;
  ~TestSink() = default;

  ComRefCount refs_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Call> calls_;
  std::vector<ONEVENTSTRUCT> events_;
  std::vector<std::string> shutdownReasons_;
  std::function<void(const ONEVENTSTRUCT&)> hook_;
};

class ToolkitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(g_ServerInterface.Initialize(nullptr, kTestClsid, "Test vendor", '/', 0), 0);
    g_CfgDb.Insert(AE_CFG_CATEGORIES, CAECfgRecCategory(kLevelCategory, "A", OPC_CONDITION_EVENT));
    g_CfgDb.Insert(AE_CFG_CATEGORIES, CAECfgRecCategory(kBitCategory, "Bit", OPC_CONDITION_EVENT));
    g_CfgDb.Insert(AE_CFG_ATTRIBUTES, CAECfgRecAttribute(kCommentAttribute, "Ack_Comment", VT_BSTR, kLevelCategory));
    g_CfgDb.Insert(AE_CFG_ATTRIBUTES, CAECfgRecAttribute(kUserAttribute, "Ack_By_FullName", VT_BSTR, kLevelCategory));
    g_CfgDb.Insert(AE_CFG_CONDITIONS, CAECfgRecCondition("Level", kLevelCategory));
    g_CfgDb.Insert(AE_CFG_CONDITIONS, CAECfgRecCondition("Bit", kBitCategory));
    g_CfgDb.Insert(AE_CFG_SUBCONDITIONS, CAECfgRecSubcondition("Hi", "Level.Hi", "Level"));
    g_CfgDb.Insert(AE_CFG_SUBCONDITIONS, CAECfgRecSubcondition("HiHi", "Level.HiHi", "Level"));
  }
  void TearDown() override {
    g_ServerInterface.Uninitialize();
    g_ServerInterface.SetCallbackObject(nullptr);
    g_SourceCache.Clear(1);
    g_CfgDb.ClearAll();
  }

  static ComPtr<IOPCEventServer> Connect() {
    ComPtr<IOPCEventServer> server;
    EXPECT_EQ(CoCreateInstance(kTestClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer, server.PutVoid()),
              S_OK);
    return server;
  }

  // An active subscription delivering to `sink`; *cookie gets the Advise cookie.
  static ComPtr<IOPCEventSubscriptionMgt> Subscribe(IOPCEventServer* server, TestSink* sink, DWORD bufferTime = 0,
                                                    DWORD maxSize = 0, OPCHANDLE handle = 7,
                                                    DWORD* cookie = nullptr) {
    ComPtr<IUnknown> unknown;
    DWORD revisedBuffer = 0, revisedMax = 0;
    EXPECT_EQ(server->CreateEventSubscription(true, bufferTime, maxSize, handle, IID_IOPCEventSubscriptionMgt,
                                              unknown.Put(), &revisedBuffer, &revisedMax),
              S_OK);
    ComPtr<IOPCEventSubscriptionMgt> subscription;
    unknown.As(IID_IOPCEventSubscriptionMgt, subscription);
    Advise(subscription.Get(), IID_IOPCEventSink, static_cast<IOPCEventSink*>(sink), cookie);
    return subscription;
  }

  static void Advise(IUnknown* object, const IID& iid, IUnknown* sink, DWORD* cookie = nullptr) {
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(object->QueryInterface(IID_IConnectionPointContainer, container.PutVoid()), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(iid, point.Put()), S_OK);
    DWORD c = 0;
    ASSERT_EQ(point->Advise(sink, &c), S_OK);
    if (cookie) *cookie = c;
  }

  // A source in the cache with a "Level" condition (Hi 600, HiHi 900); the
  // cache owns it.
  static CAESource* AddLevelSource(const std::string& name) {
    auto* source = new CAESource(name, 1);
    CAECondition level(source, "Level", kLevelCategory);
    level.AddSubcondition(CAESubcondition("Hi", "NOT IMPL", 600, "high"));
    level.AddSubcondition(CAESubcondition("HiHi", "NOT IMPL", 900, "very high"));
    source->AddCondition(level);
    EXPECT_NE(g_SourceCache.AddSource(source), 0);
    return source;
  }
  static CAECondition* Level(const std::string& source) {
    CAESource* s = g_SourceCache.GetSource(source);
    return s ? s->GetCondition("Level") : nullptr;
  }
  static FILETIME Time(uint64_t ticks) { return Uint64ToFileTime(ticks); }
};
