// The data callback and the change queue: Callback on a client with
// hand-made handles (bad input, inactive and detached clients, the receive
// file), C_Alarm_Requests, and changes delivered by the simulated server.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include "alarmconfig/tracked_mutex.h"
#include "opc_client_fixture.h"
#include "opcda/alarm_requests.h"
#include "opcda/callback.h"
#include "platform/registry.h"
#include "platform/utf.h"

namespace {

constexpr char kAlarmLogKey[] = "SOFTWARE\\Quillan\\Veltro QRX OPC AE\\AlarmLog";
constexpr OPCHANDLE kGroup = 41;

// A client whose handles 1..3 map to three variables, and a callback on it.
class CallbackTest : public testing::Test {
 protected:
  void SetUp() override { Make(); }
  void TearDown() override {
    callback_->DetachClient();
    alarmRequests.Clear();
  }

  void Make() {
    callback_.Reset();
    client_ = std::make_unique<C_OPC_DA_Client>();
    const char* names[] = {"LIC1.AS", "LIC1.AS[1]", "LS2.AS"};
    for (OPCHANDLE h = 1; h <= 3; ++h) {
      bool added = false;
      std::string item = names[h - 1];
      AlarmVar& v = client_->FindOrAddVariable(MakeItemId("N1", item), "N1", item, added).second;
      client_->handleMap[h] = &v;
      client_->reverseHandleMap[&v] = h;
      vars_[h] = &v;
    }
    client_->serverGroup = kGroup;
    client_->active = 1;
    callback_ = ComPtr<Callback>::Attach(new Callback(client_.get()));
  }

  // OnDataChange with arrays for `handles`.
  HRESULT Deliver(std::vector<OPCHANDLE> handles, OPCHANDLE group = kGroup) {
    size_t n = handles.size();
    std::vector<VARIANT> values(n);
    std::vector<WORD> qualities(n, OPC_QUALITY_GOOD);
    std::vector<FILETIME> times(n);
    std::vector<HRESULT> errors(n, S_OK);
    return callback_->OnDataChange(0, group, S_OK, S_OK, static_cast<DWORD>(n), handles.data(), values.data(),
                                   qualities.data(), times.data(), errors.data());
  }
  std::vector<AlarmVar*> Take() {
    std::vector<AlarmVar*> taken;
    EXPECT_EQ(alarmRequests.TakeAll(&taken), 1);
    return taken;
  }

  std::unique_ptr<C_OPC_DA_Client> client_;
  ComPtr<Callback> callback_;
  AlarmVar* vars_[4] = {};
};

TEST_F(CallbackTest, QueryInterfaceAnswersTheCallbackInterfaceOnly) {
  EXPECT_EQ(callback_->QueryInterface(IID_IOPCDataCallback, nullptr), E_INVALIDARG);
  for (const IID* iid : {&IID_IUnknown, &IID_IOPCDataCallback}) {
    void* object = nullptr;
    ASSERT_EQ(callback_->QueryInterface(*iid, &object), S_OK);
    EXPECT_EQ(object, static_cast<IOPCDataCallback*>(callback_.Get()));
    EXPECT_EQ(callback_->Release(), 1u);
  }
  void* object = &object;
  EXPECT_EQ(callback_->QueryInterface(IID_IOPCServer, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(callback_->AddRef(), 2u);
  EXPECT_EQ(callback_->Release(), 1u);
  EXPECT_EQ(callback_->OnReadComplete(0, kGroup, S_OK, S_OK, 0, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(callback_->OnWriteComplete(0, kGroup, S_OK, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(callback_->OnCancelComplete(0, kGroup), S_OK);
}

TEST_F(CallbackTest, ChangesAreQueuedInOrderWithDuplicatesAcrossCallbacks) {
  EXPECT_EQ(Deliver({2, 1}), S_OK);
  EXPECT_TRUE(alarmRequests.readyEvent.IsSet());
  EXPECT_EQ(Deliver({1, 3, 1}), S_OK);
  EXPECT_EQ(Take(), (std::vector<AlarmVar*>{vars_[2], vars_[1], vars_[1], vars_[3], vars_[1]}));
  EXPECT_FALSE(alarmRequests.readyEvent.IsSet());
  EXPECT_TRUE(Take().empty());
}

TEST_F(CallbackTest, UnknownHandlesAreSkippedAndAloneSignalNothing) {
  EXPECT_EQ(Deliver({7, 0, 99}), S_OK);
  EXPECT_FALSE(alarmRequests.readyEvent.IsSet());
  EXPECT_EQ(alarmRequests.PendingCount(), 0u);
  EXPECT_EQ(Deliver({7, 3, 99}), S_OK);
  EXPECT_EQ(Take(), std::vector<AlarmVar*>{vars_[3]});
}

TEST_F(CallbackTest, NullArraysAreRefusedUnlessThereIsNothingToDeliver) {
  OPCHANDLE h = 1;
  VARIANT v;
  WORD q = 0;
  FILETIME t;
  HRESULT e = S_OK;
  EXPECT_EQ(callback_->OnDataChange(0, kGroup, S_OK, S_OK, 0, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(callback_->OnDataChange(0, kGroup, S_OK, S_OK, 1, nullptr, &v, &q, &t, &e), E_POINTER);
  EXPECT_EQ(callback_->OnDataChange(0, kGroup, S_OK, S_OK, 1, &h, nullptr, &q, &t, &e), E_POINTER);
  EXPECT_EQ(callback_->OnDataChange(0, kGroup, S_OK, S_OK, 1, &h, &v, nullptr, &t, &e), E_POINTER);
  EXPECT_EQ(callback_->OnDataChange(0, kGroup, S_OK, S_OK, 1, &h, &v, &q, nullptr, &e), E_POINTER);
  EXPECT_EQ(callback_->OnDataChange(0, kGroup, S_OK, S_OK, 1, &h, &v, &q, &t, nullptr), E_POINTER);
  EXPECT_EQ(alarmRequests.PendingCount(), 0u);
}

TEST_F(CallbackTest, AnotherGroupIsReportedButItsChangesCount) {
  EXPECT_EQ(Deliver({1}, kGroup + 1), E_INVALIDARG);
  EXPECT_EQ(Take(), std::vector<AlarmVar*>{vars_[1]});
}

TEST_F(CallbackTest, InactiveOrDetachedClientChangesNothing) {
  client_->active = 0;
  EXPECT_EQ(Deliver({1, 2}, kGroup + 1), S_OK);
  EXPECT_EQ(alarmRequests.PendingCount(), 0u);
  EXPECT_FALSE(alarmRequests.readyEvent.IsSet());
  client_->active = 1;
  callback_->DetachClient();
  client_.reset();
  EXPECT_EQ(Deliver({1, 2}), S_OK);
  EXPECT_EQ(alarmRequests.PendingCount(), 0u);
}

TEST_F(CallbackTest, WithoutReceiveFileNothingIsWritten) {
  EXPECT_TRUE(client_->receiveFilePath.empty());
  EXPECT_EQ(Deliver({1}), S_OK);
  EXPECT_TRUE(std::filesystem::is_empty(std::filesystem::temp_directory_path()));
}

TEST_F(CallbackTest, ReceiveFileGetsAHeaderAndOneLinePerKnownVariable) {
  std::string path = (std::filesystem::temp_directory_path() / "received.txt").string();
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kAlarmLogKey, "AlarmReceiveFile", path), ERROR_SUCCESS);
  Make();
  ASSERT_EQ(client_->receiveFilePath, path);
  EXPECT_EQ(Deliver({1, 9, 3}), S_OK);
  EXPECT_EQ(Deliver({9}), S_OK);
  EXPECT_EQ(Deliver({2}), S_OK);

  std::string bytes = ReadFileBytes(path);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\r\0\n\0", 4)) << "no byte-order mark";
  // Local hour, minute and second without leading zeros.
  const std::string header = R"(\r\n \(Ralto INFORM TIME\) :  (0|[1-9]\d?) : (0|[1-9]\d?) : (0|[1-9]\d?)\r\n\r\n)";
  EXPECT_TRUE(std::regex_match(Utf16LeToUtf8(bytes),
                               std::regex(header + R"(N1_LIC1\.AS\r\nN1_LS2\.AS\r\n)" + header + header +
                                          R"(N1_LIC1\.AS\[1\]\r\n)")))
      << Utf16LeToUtf8(bytes);
}

TEST_F(CallbackTest, AReceiveFileThatCannotBeOpenedOnlySkipsTheLog) {
  std::string path = (std::filesystem::temp_directory_path() / "missing" / "received.txt").string();
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kAlarmLogKey, "AlarmReceiveFile", path), ERROR_SUCCESS);
  Make();
  EXPECT_EQ(Deliver({1}), S_OK);
  EXPECT_EQ(Take(), std::vector<AlarmVar*>{vars_[1]});
  EXPECT_FALSE(std::filesystem::exists(path));
}

// ---- C_Alarm_Requests -------------------------------------------------------

TEST(AlarmRequestsTest, QueueOperations) {
  C_Alarm_Requests requests;
  AlarmVar a, b;
  EXPECT_EQ(requests.TakeAll(nullptr), 0);
  requests.Signal();
  EXPECT_FALSE(requests.readyEvent.IsSet()) << "nothing queued";
  requests.Reserve(1000);
  EXPECT_EQ(requests.PendingCount(), 0u);
  requests.Add(&a);
  requests.Add(&b);
  requests.Add(&a);
  EXPECT_FALSE(requests.readyEvent.IsSet()) << "only Signal sets it";
  requests.Signal();
  EXPECT_TRUE(requests.readyEvent.IsSet());
  EXPECT_EQ(requests.TakeAll(nullptr), 0);
  EXPECT_EQ(requests.PendingCount(), 3u);
  EXPECT_TRUE(requests.readyEvent.IsSet());

  requests.Forget({&b});
  EXPECT_EQ(requests.PendingCount(), 2u);
  std::vector<AlarmVar*> taken{&b};
  EXPECT_EQ(requests.TakeAll(&taken), 1);
  EXPECT_EQ(taken, (std::vector<AlarmVar*>{&b, &a, &a})) << "appended to what the caller had";
  EXPECT_FALSE(requests.readyEvent.IsSet());

  requests.Add(&b);
  requests.Signal();
  requests.Clear();
  EXPECT_FALSE(requests.readyEvent.IsSet());
  EXPECT_EQ(requests.PendingCount(), 0u);
  requests.Add(&a);
  requests.Signal();
  requests.Forget({&a});
  EXPECT_FALSE(requests.readyEvent.IsSet()) << "nothing left to take";
}

TEST(AlarmRequestsTest, ProducersAndATakerMeetOnlyInTheQueue) {
  C_Alarm_Requests requests;
  constexpr int kPerThread = 20000;
  AlarmVar vars[2];
  std::atomic<bool> done{false};
  size_t takenCount = 0;
  std::thread taker([&] {
    std::vector<AlarmVar*> taken;
    while (!done || requests.PendingCount() != 0) {
      if (requests.readyEvent.Wait(10)) requests.TakeAll(&taken);
    }
    requests.TakeAll(&taken);
    takenCount = taken.size();
  });
  std::vector<std::thread> producers;
  for (int p = 0; p < 2; ++p) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < kPerThread; ++i) {
        requests.Reserve(1);
        requests.Add(&vars[p]);
        requests.Signal();
      }
    });
  }
  for (auto& t : producers) t.join();
  done = true;
  taker.join();
  EXPECT_EQ(takenCount, 2u * kPerThread);
}

// ---- Delivered by the simulated server --------------------------------------

using DeliveryTest = OpcClientTest;

TEST_F(DeliveryTest, ChangedAlarmReachesTheQueue) {
  ASSERT_EQ(ConnectFresh(), S_OK);
  Activate();
  // The first cycle of an active group sends every item once.
  ASSERT_EQ(control_->TickUpdates(), S_OK);
  EXPECT_EQ(alarmRequests.PendingCount(), kTestItems);
  alarmRequests.Clear();

  RaltoAlarmSetting alarm;
  alarm.state = 3;
  alarm.acknowledged = false;
  ASSERT_EQ(control_->SetAlarm("N1.LIC1.AS", alarm), S_OK);
  ASSERT_EQ(control_->TickUpdates(), S_OK);
  EXPECT_TRUE(alarmRequests.readyEvent.IsSet());
  std::vector<AlarmVar*> taken;
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    alarmRequests.TakeAll(&taken);
    std::set<std::string> ids;
    for (AlarmVar* v : taken) ids.insert(v->ItemId());
    EXPECT_TRUE(ids.count("N1.LIC1.AS")) << taken.size();
    for (const std::string& id : ids) EXPECT_EQ(id.rfind("N1.LIC1.AS", 0), 0u) << id;
  }
}

TEST_F(DeliveryTest, AfterTheClientWentInactiveNothingIsQueued) {
  ASSERT_EQ(ConnectFresh(), S_OK);
  Activate();
  client().active = 0;
  ASSERT_EQ(control_->TickUpdates(), S_OK);
  EXPECT_EQ(alarmRequests.PendingCount(), 0u);
  EXPECT_FALSE(alarmRequests.readyEvent.IsSet());
}

TEST_F(DeliveryTest, TheClientCanGoWhileTheServerDelivers) {
  ASSERT_EQ(ConnectFresh(), S_OK);
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    auto groupState = FromTable<IOPCGroupStateMgt>(client().groupStateCookie, IID_IOPCGroupStateMgt);
    DWORD rate = 10, revised = 0;
    groupState->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  Activate();
  ASSERT_EQ(control_->RunRandomPlant(5000, 7), S_OK);
  ASSERT_EQ(control_->SetManualUpdates(false), S_OK);
  std::atomic<bool> stop{false};
  std::atomic<int> batches{0};
  std::thread processor([&] {
    std::vector<AlarmVar*> taken;
    while (!stop) {
      if (!alarmRequests.readyEvent.Wait(5)) continue;
      TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
      taken.clear();
      alarmRequests.TakeAll(&taken);
      for (AlarmVar* v : taken) EXPECT_FALSE(v->nodeName.empty());
      ++batches;
    }
  });
  // A few update cycles, then the client goes while the server goes on.
  for (int i = 0; i < 200 && batches < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GE(batches, 3);
  Disconnect();
  alarmRequests.Clear();
  stop = true;
  processor.join();
  control_->RunRandomPlant(0, 0);
  EXPECT_EQ(alarmRequests.PendingCount(), 0u);
}

}  // namespace
