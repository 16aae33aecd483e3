// The server callback on its own: client counting and the shutdown with the
// last client, the acknowledgement road without an OPC DA connection,
// attribute values and TranslateToItemIDs, called as the toolkit calls them.
#include <atomic>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "acklog/alarm_log.h"
#include "alarmconfig/config.h"
#include "alarmconfig/derived_source.h"
#include "alarmconfig/tracked_cache_lock.h"
#include "alarmconfig/tracked_mutex.h"
#include "callback/alarm_log_instance.h"
#include "callback_test_support.h"
#include "opcda/connection_manager.h"
#include "platform/class_factory.h"
#include "toolkit/cfg_db.h"
#include "toolkit/condition.h"
#include "toolkit/server_interface.h"
#include "toolkit/source_cache.h"

class CLumAEServerCallbackTestPeer {
 public:
  static void SetAllocator(CLumAEServerCallback& callback, void* (*allocate)(size_t)) {
    callback.allocate_ = allocate;
  }
};

namespace {

// {6B2D8E14-0C5A-4F3B-9D71-8A4E2C6F1B95}
constexpr CLSID kToolkitClsid{0x6B2D8E14, 0x0C5A, 0x4F3B, {0x9D, 0x71, 0x8A, 0x4E, 0x2C, 0x6F, 0x1B, 0x95}};
constexpr char kSource[] = "Plant/Tanks/N1_LIC1.A";
constexpr char kNotConnected[] = "Error: Not Connected to Ralto Stewardry Edition OPC Server";
constexpr DWORD kLevelCategory = 1;
const FILETIME kActivation = Uint64ToFileTime(133'618'392'000'000'000);

// The task allocator, failing the allocation numbered g_failAt (from 1).
std::atomic<int> g_allocations{0};
int g_failAt = 0;
void* FailingAllocator(size_t bytes) {
  return ++g_allocations == g_failAt ? nullptr : CoTaskMemAlloc(bytes);
}

// True when another thread can take g_ConfigMutex, the cache lock and the
// lock of `source` within a few seconds (so no call left one held).
bool LocksAreFree(CAESource* source) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> taken = done->get_future();
  std::thread taker([done, source] {
    {
      TrackedMutexGuard config(g_ConfigMutex, AE_SITE);
      TrackedCacheGuard cache(g_CacheLock, AE_SITE);
      if (source) std::lock_guard lock(*source);
    }
    done->set_value();
  });
  // Joined when it got them, so that it is done with the locks before they
  // are destroyed at exit; left waiting when it did not.
  bool free = taken.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  free ? taker.join() : taker.detach();
  return free;
}

class CallbackTest : public testing::Test {
 protected:
  void SetUp() override {
    InstallStrings();
    InitEventConfiguration();
    logFolder_ = UseLogFolder(true);
    log_ = std::make_unique<CAlarmLog>();
    g_pAlarmLog = log_.get();
    variable_.area = "Plant/Tanks";
    variable_.nodeName = "N1";
    variable_.itemName = "LIC1.AS";
  }
  void TearDown() override {
    g_pAlarmLog = nullptr;
    log_.reset();
    manager_.reset();
    g_SourceCache.Clear(1);
    g_CfgDb.ClearAll();
  }

  // A connection manager that is not connected, as g_pConnectionManager.
  void UseConnectionManager() {
    manager_ = std::make_unique<ConnectionManager>();
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    g_pConnectionManager = manager_.get();
  }

  // A level alarm source in the cache, with its "Level" condition.
  CDerivedSource* AddLevelSource(const std::string& name = kSource) {
    auto* source = new CDerivedSource(name, kAlarmLevel, 0, 0, &variable_);
    CAECondition level(source, "Level", kLevelCategory);
    level.AddSubcondition(CAESubcondition("Hi", "NOT IMPL", 600, ""));
    level.AddSubcondition(CAESubcondition("HiHi", "NOT IMPL", 400, ""));
    source->AddCondition(level);
    EXPECT_NE(g_SourceCache.AddSource(source), 0);
    return source;
  }

  // The source's condition, active in "Hi" and acknowledged by a client.
  CAECondition* ClientAcknowledged(CDerivedSource* source) {
    CAECondition* condition = source->GetCondition("Level");
    EXPECT_EQ(condition->Activate("Hi", "LIC1 high", true, &kActivation), S_OK);
    source->SetLastActiveTime(kActivation);
    EXPECT_EQ(condition->AcknowledgeByClient("operator1", "tank checked", kActivation, condition->Cookie()), S_OK);
    return condition;
  }

  CLumAEServerCallback callback_{50};
  RecordingWindow window_;
  AlarmVar variable_;
  std::string logFolder_;
  std::unique_ptr<CAlarmLog> log_;
  std::unique_ptr<ConnectionManager> manager_;
};

// ---- Clients and the shutdown with the last one ----

class ShutdownTest : public CallbackTest {
 protected:
  void SetUp() override {
    CallbackTest::SetUp();
    // A client of the toolkit's own callback, to receive the shutdown request.
    ASSERT_NE(g_ServerInterface.Initialize(nullptr, kToolkitClsid, "Test vendor", '/', 0), 0);
    ASSERT_EQ(CoCreateInstance(kToolkitClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer,
                               server_.PutVoid()),
              S_OK);
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(server_.As(IID_IConnectionPointContainer, container), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCShutdown, point.Put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(static_cast<IOPCShutdown*>(sink_.Get()), &cookie), S_OK);
    UseConnectionManager();
  }
  void TearDown() override {
    server_.Reset();
    g_ServerInterface.Uninitialize();
    CallbackTest::TearDown();
  }

  ComPtr<RecordingEventSink> sink_ = RecordingEventSink::Make();
  ComPtr<IOPCEventServer> server_;
};

TEST_F(ShutdownTest, TwoClientsShutDownOnceAtTheSecondDisconnectInOrder) {
  bool stopSetBeforeClose = false;
  size_t requestsBeforeClose = 0;
  window_.onClose = [&] {
    stopSetBeforeClose = manager_->bindingStopEvent.IsSet();
    requestsBeforeClose = sink_->ShutdownReasons().size();
  };
  callback_.SetMainWindowLink(&window_);

  EXPECT_EQ(callback_.OnClientConnect(), 0);
  EXPECT_EQ(callback_.OnClientConnect(), 0);
  callback_.OnClientDisconnect();
  EXPECT_EQ(callback_.ClientCount(), 1);
  EXPECT_EQ(window_.closeMessages, 0);
  EXPECT_TRUE(sink_->ShutdownReasons().empty());
  EXPECT_FALSE(manager_->bindingStopEvent.IsSet());

  callback_.OnClientDisconnect();
  EXPECT_EQ(callback_.ClientCount(), 0);
  EXPECT_EQ(window_.closeMessages, 1);
  EXPECT_EQ(sink_->ShutdownReasons(), std::vector<std::string>{"Shutdown with no clients"});
  EXPECT_TRUE(stopSetBeforeClose);
  EXPECT_EQ(requestsBeforeClose, 1u);
}

TEST_F(ShutdownTest, DisconnectsBeforeTheMainWindowExistsOnlyCount) {
  callback_.OnClientConnect();
  callback_.OnClientDisconnect();
  window_.exists = false;
  callback_.SetMainWindowLink(&window_);
  callback_.OnClientConnect();
  callback_.OnClientDisconnect();
  EXPECT_EQ(callback_.ClientCount(), 0);
  EXPECT_EQ(window_.closeMessages, 0);
  EXPECT_TRUE(sink_->ShutdownReasons().empty());
  EXPECT_FALSE(manager_->bindingStopEvent.IsSet());

  // Counted right all along: the next last client shuts down.
  window_.exists = true;
  callback_.OnClientConnect();
  callback_.OnClientDisconnect();
  EXPECT_EQ(window_.closeMessages, 1);
  EXPECT_EQ(sink_->ShutdownReasons().size(), 1u);
}

TEST_F(ShutdownTest, ABindingThreadThatDoesNotEndDelaysButDoesNotStopTheShutdown) {
  manager_->bindingDoneEvent.Reset();  // as while a binding tick runs
  callback_.SetMainWindowLink(&window_);
  callback_.OnClientConnect();
  callback_.OnClientDisconnect();
  EXPECT_EQ(window_.closeMessages, 1);
  EXPECT_EQ(sink_->ShutdownReasons().size(), 1u);
}

TEST_F(CallbackTest, WithoutAConnectionManagerTheShutdownStillClosesTheWindow) {
  callback_.SetMainWindowLink(&window_);
  callback_.OnClientConnect();
  callback_.OnClientDisconnect();
  EXPECT_EQ(window_.closeMessages, 1);
}

TEST_F(CallbackTest, OverlappingConnectsAndDisconnectsLoseNoUpdate) {
  callback_.SetMainWindowLink(&window_);
  callback_.OnClientConnect();  // one client stays throughout
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this] {
      for (int i = 0; i < 20000; ++i) {
        callback_.OnClientConnect();
        callback_.OnClientDisconnect();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(callback_.ClientCount(), 1);
  EXPECT_EQ(window_.closeMessages, 0);
  callback_.OnClientDisconnect();
  EXPECT_EQ(window_.closeMessages, 1);
}

// ---- The acknowledgement road without a connection ----

TEST_F(CallbackTest, AnAcknowledgementWhileNotConnectedIsLoggedWithThatOutcome) {
  UseConnectionManager();
  CDerivedSource* source = AddLevelSource();
  callback_.OnConditionAcknowledged(ClientAcknowledged(source));

  std::vector<AckRecord> records = LogRecords(logFolder_);
  ASSERT_EQ(records.size(), 1u);
  const AckRecord& r = records[0];
  EXPECT_EQ(r.result, kNotConnected);
  EXPECT_EQ(r.condition, "Level");
  EXPECT_EQ(r.subcondition, "Hi");
  EXPECT_EQ(r.operatorName, "operator1");
  EXPECT_EQ(r.comment, "tank checked");
  EXPECT_EQ(r.message, "LIC1 high");
  EXPECT_EQ(r.area, "Plant/Tanks");
  EXPECT_EQ(r.target, "N1");
  EXPECT_EQ(r.variable, "LIC1.AS");
  EXPECT_TRUE(LocksAreFree(source));
}

// The controller raised the alarm again between a client's acknowledgement
// and its record: the record still tells what the client acknowledged.
TEST_F(CallbackTest, AnAlarmRaisedAgainBeforeTheRecordKeepsWhatWasAcknowledged) {
  UseConnectionManager();
  CDerivedSource* source = AddLevelSource();
  CAECondition* condition = ClientAcknowledged(source);
  FILETIME later = kActivation;
  later.dwLowDateTime += 10'000'000;
  ASSERT_EQ(condition->Activate("HiHi", "LIC1 very high", true, &later), S_OK);
  ASSERT_FALSE(condition->Acked());
  callback_.OnConditionAcknowledged(condition);

  std::vector<AckRecord> records = LogRecords(logFolder_);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].subcondition, "Hi");
  EXPECT_EQ(records[0].message, "LIC1 high");
  EXPECT_EQ(records[0].operatorName, "operator1");
  EXPECT_EQ(records[0].comment, "tank checked");
}

// The binding thread's import rewrites the variable's names under
// g_ConfigMutex alone while acknowledgements are recorded: each record
// holds one whole set of names (the race itself shows under tsan).
TEST_F(CallbackTest, RecordsTakeTheNamesWhileTheImportRewritesThem) {
  UseConnectionManager();
  CDerivedSource* source = AddLevelSource();
  CAECondition* condition = ClientAcknowledged(source);
  const std::string areas[2] = {"Plant/Tanks", std::string(200, 'x') + "/Farm"};
  std::atomic<bool> done{false};
  std::thread import([&] {
    for (int i = 0; !done; ++i) {
      TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
      variable_.area = areas[i % 2];
      variable_.itemName = i % 2 ? "LIC1.AS" : std::string(100, 'y') + ".AS";
    }
  });
  constexpr int kRecords = 40;
  for (int i = 0; i < kRecords; ++i) callback_.OnConditionAcknowledged(condition);
  done = true;
  import.join();

  std::vector<AckRecord> records = LogRecords(logFolder_);
  ASSERT_EQ(records.size(), size_t(kRecords));
  for (const AckRecord& r : records) {
    EXPECT_TRUE(r.area == areas[0] || r.area == areas[1]) << r.area;
    EXPECT_TRUE(r.variable == "LIC1.AS" || r.variable == std::string(100, 'y') + ".AS") << r.variable;
  }
}

TEST_F(CallbackTest, TheServersOwnAcknowledgementIsNeitherWrittenNorLogged) {
  UseConnectionManager();
  CDerivedSource* source = AddLevelSource();
  CAECondition* condition = ClientAcknowledged(source);
  source->SetAckInProgress(true);
  callback_.OnConditionAcknowledged(condition);
  EXPECT_TRUE(LogRecords(logFolder_).empty());
}

TEST_F(CallbackTest, WithLoggingDisabledNothingIsRecorded) {
  UseConnectionManager();
  ASSERT_EQ(SetLoggingEnabled(false), ERROR_SUCCESS);
  callback_.OnConditionAcknowledged(ClientAcknowledged(AddLevelSource()));
  EXPECT_TRUE(LogRecords(logFolder_).empty());
}

TEST_F(CallbackTest, WithoutAConnectionManagerTheRecordHasAnEmptyOutcome) {
  callback_.OnConditionAcknowledged(ClientAcknowledged(AddLevelSource()));
  std::vector<AckRecord> records = LogRecords(logFolder_);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].result, "");
  EXPECT_EQ(records[0].operatorName, "operator1");
}

TEST_F(CallbackTest, ConditionsOfOtherSourcesNullAndAMissingLogAreIgnored) {
  UseConnectionManager();
  auto* plain = new CAESource("Plant/Other", 1);
  CAECondition level(plain, "Level", kLevelCategory);
  level.AddSubcondition(CAESubcondition("Hi", "NOT IMPL", 600, ""));
  CAECondition* condition = plain->AddCondition(level);
  ASSERT_NE(g_SourceCache.AddSource(plain), 0);
  ASSERT_EQ(condition->Activate("Hi", "", true, &kActivation), S_OK);
  ASSERT_EQ(condition->AcknowledgeByClient("operator1", "", kActivation, condition->Cookie()), S_OK);
  callback_.OnConditionAcknowledged(condition);
  callback_.OnConditionAcknowledged(nullptr);
  EXPECT_TRUE(LogRecords(logFolder_).empty());

  g_pAlarmLog = nullptr;
  callback_.OnConditionAcknowledged(ClientAcknowledged(AddLevelSource()));
  EXPECT_TRUE(LogRecords(logFolder_).empty());
}

// ---- Attribute values ----

TEST_F(CallbackTest, AttributeValuesAreCopiedInOrderUntilAnUnknownId) {
  CDerivedSource* source = AddLevelSource();
  ASSERT_TRUE(source->SetAttributeValue(0, VARIANT::Bstr("comment")));
  ASSERT_TRUE(source->SetAttributeValue(1, VARIANT::Bstr("Jo Operator")));
  CAECondition* condition = source->GetCondition("Level");

  const DWORD both[] = {1, 0};
  VARIANT values[3];
  EXPECT_EQ(callback_.GetConditionAttributeValues(7, 2, both, condition, values), true);
  EXPECT_EQ(values[0], VARIANT::Bstr("Jo Operator"));
  EXPECT_EQ(values[1], VARIANT::Bstr("comment"));

  const DWORD oneUnknown[] = {0, 4, 1};
  for (VARIANT& v : values) v = VARIANT::I4(99);
  EXPECT_EQ(callback_.GetConditionAttributeValues(0, 3, oneUnknown, condition, values), false);
  EXPECT_EQ(values[0], VARIANT::Bstr("comment"));
  EXPECT_EQ(values[1], VARIANT::I4(99));
  EXPECT_EQ(values[2], VARIANT::I4(99));
}

TEST_F(CallbackTest, AttributeValuesOfNullOrForeignConditions) {
  const DWORD ids[] = {0};
  VARIANT value = VARIANT::I4(5);
  EXPECT_EQ(callback_.GetConditionAttributeValues(0, 1, ids, nullptr, &value), true);
  EXPECT_EQ(value, VARIANT::I4(5));

  auto* plain = new CAESource("Plant/Other", 1);
  CAECondition* condition = plain->AddCondition(CAECondition(plain, "Level", kLevelCategory));
  ASSERT_NE(g_SourceCache.AddSource(plain), 0);
  EXPECT_EQ(callback_.GetConditionAttributeValues(0, 1, ids, condition, &value), false);
  EXPECT_EQ(callback_.GetConditionAttributeValues(0, 0, ids, condition, &value), true);
  EXPECT_EQ(callback_.GetConditionAttributeValues(0, 1, nullptr, condition, &value), false);
}

// ---- TranslateToItemIDs ----

class TranslateTest : public CallbackTest {
 protected:
  HRESULT Translate(const std::string& source, DWORD category, const std::string& condition,
                    const std::string& subcondition, std::vector<DWORD> ids) {
    items_ = nodes_ = reinterpret_cast<char**>(1);
    clsids_ = reinterpret_cast<CLSID*>(1);
    return callback_.TranslateToItemIDs(source, category, condition, subcondition, static_cast<DWORD>(ids.size()),
                                        ids.empty() ? nullptr : ids.data(), &items_, &nodes_, &clsids_);
  }
  bool OutsAreNull() const { return !items_ && !nodes_ && !clsids_; }
  void FreeOuts(DWORD count) {
    for (DWORD i = 0; i < count; ++i) {
      CoTaskMemFree(items_[i]);
      CoTaskMemFree(nodes_[i]);
    }
    CoTaskMemFree(items_);
    CoTaskMemFree(nodes_);
    CoTaskMemFree(clsids_);
  }

  char** items_ = nullptr;
  char** nodes_ = nullptr;
  CLSID* clsids_ = nullptr;
};

TEST_F(TranslateTest, EveryItemIsEmptyWithTheClsidOfTheFixedProgId) {
  RegisterItemIdClass();
  AddLevelSource();
  for (const char* subcondition : {"Hi", ""}) {
    ASSERT_EQ(Translate(kSource, kLevelCategory, "Level", subcondition, {0, 1, 0}), S_OK) << subcondition;
    for (DWORD i = 0; i < 3; ++i) {
      EXPECT_STREQ(items_[i], "");
      EXPECT_STREQ(nodes_[i], "");
      EXPECT_EQ(clsids_[i], kItemIdClsid);
    }
    FreeOuts(3);
  }
}

TEST_F(TranslateTest, BadArgumentsFailInOrderWithNullOutsAndNoLockHeld) {
  CDerivedSource* source = AddLevelSource();
  // Checked first: the registration of the fixed ProgID.
  EXPECT_EQ(Translate(kSource, kLevelCategory, "Level", "Hi", {0}), E_FAIL);
  EXPECT_TRUE(OutsAreNull());
  EXPECT_EQ(Translate(kSource, 99, "Level", "Hi", {}), E_FAIL);
  EXPECT_TRUE(OutsAreNull());

  RegisterItemIdClass();
  struct Case {
    const char* what;
    std::string source;
    DWORD category;
    std::string condition;
    std::string subcondition;
    std::vector<DWORD> ids;
  };
  const Case cases[] = {
      {"unknown category", kSource, 99, "Level", "Hi", {0}},
      {"count 0, all names valid", kSource, kLevelCategory, "Level", "Hi", {}},
      {"unknown source", "Plant/Tanks/N9_X.A", kLevelCategory, "Level", "Hi", {0}},
      {"unknown condition", kSource, kLevelCategory, "RoC", "", {0}},
      {"unknown subcondition", kSource, kLevelCategory, "Level", "LoLo", {0}},
      {"unknown attribute", kSource, kLevelCategory, "Level", "Hi", {0, 77}},
      {"attribute of another category", kSource, kLevelCategory, "Level", "Hi", {0, 2}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Translate(c.source, c.category, c.condition, c.subcondition, c.ids), E_INVALIDARG) << c.what;
    EXPECT_TRUE(OutsAreNull()) << c.what;
    EXPECT_TRUE(LocksAreFree(source)) << c.what;
  }
  EXPECT_EQ(callback_.TranslateToItemIDs(kSource, kLevelCategory, "Level", "Hi", 1, nullptr, &items_, &nodes_,
                                         &clsids_),
            E_INVALIDARG);
  const DWORD id = 0;
  EXPECT_EQ(callback_.TranslateToItemIDs(kSource, kLevelCategory, "Level", "Hi", 1, &id, &items_, nullptr, &clsids_),
            E_POINTER);
}

TEST_F(TranslateTest, OutOfMemoryAtAnyAllocationFreesEverythingAndNullsTheOuts) {
  RegisterItemIdClass();
  CDerivedSource* source = AddLevelSource();
  CLumAEServerCallbackTestPeer::SetAllocator(callback_, FailingAllocator);
  // Three arrays and two texts per item.
  constexpr int kAllocations = 3 + 2 * 3;
  for (g_failAt = 1; g_failAt <= kAllocations; ++g_failAt) {
    g_allocations = 0;
    EXPECT_EQ(Translate(kSource, kLevelCategory, "Level", "Hi", {0, 1, 1}), E_OUTOFMEMORY) << g_failAt;
    EXPECT_TRUE(OutsAreNull()) << g_failAt;
  }
  g_allocations = 0;
  ASSERT_EQ(Translate(kSource, kLevelCategory, "Level", "Hi", {0, 1, 1}), S_OK);
  EXPECT_EQ(g_allocations, kAllocations);
  FreeOuts(3);
  EXPECT_TRUE(LocksAreFree(source));
}

}  // namespace
