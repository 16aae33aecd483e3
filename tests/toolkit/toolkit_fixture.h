// Test support for the toolkit: a fixture that initializes the toolkit,
// declares a small catalogue and connects in-process clients through the
// class factory, delivering to the recording sink of tests/support.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/class_factory.h"
#include "tests/support/event_sink.h"
#include "tests/support/eventually.h"
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
  static ComPtr<IOPCEventSubscriptionMgt> Subscribe(IOPCEventServer* server, RecordingEventSink* sink, DWORD bufferTime = 0,
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
