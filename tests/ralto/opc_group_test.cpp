// Groups of the Ralto OPC DA server: items, handle lists, synchronous reads
// and writes, the connection point and OnDataChange.
#include <atomic>
#include <chrono>
#include <thread>

#include "opc_server_fixture.h"

namespace {

using GroupTest = RaltoOpcTest;

struct Def {
  Def(std::string i, std::string p = "", VARTYPE t = VT_EMPTY) : id(std::move(i)), path(std::move(p)), type(t) {}
  std::string id;
  std::string path;
  VARTYPE type;
};

// AddItems (or ValidateItems) of several definitions at once.
HRESULT AddMany(IOPCItemMgt* items, const std::vector<Def>& defs, bool validate,
                std::vector<OPCITEMRESULT>* results, std::vector<HRESULT>* errors) {
  std::vector<Def> copy = defs;
  std::vector<OPCITEMDEF> array(defs.size());
  for (size_t i = 0; i < defs.size(); ++i) {
    array[i].szItemID = copy[i].id == "<null>" ? nullptr : copy[i].id.data();
    array[i].szAccessPath = copy[i].path.data();
    array[i].hClient = OPCHANDLE(100 + i);
    array[i].bActive = true;
    array[i].vtRequestedDataType = copy[i].type;
  }
  auto count = static_cast<DWORD>(defs.size());
  COpcTaskArray<OPCITEMRESULT> out(count);
  COpcTaskArray<HRESULT> codes(count);
  HRESULT hr = validate ? items->ValidateItems(count, array.data(), false, out.Put(), codes.Put())
                        : items->AddItems(count, array.data(), out.Put(), codes.Put());
  results->assign(out.Get(), out.Get() + (out ? count : 0));
  errors->assign(codes.Get(), codes.Get() + (codes ? count : 0));
  return hr;
}

TEST_F(GroupTest, AddItemsGivesHandlesTypesAndRights) {
  AddGroup();
  std::vector<OPCITEMRESULT> results;
  std::vector<HRESULT> errors;
  ASSERT_EQ(AddMany(items_.Get(),
                    {{"NODE1.LIC1.AS"}, {"NODE1.LIC1.AS[3]"}, {"NODE1.LIC1.FC"}, {"NODE1.LIC1.PI"},
                     {"NODE1.LS3.ST"}, {"NODE1.LIC1.AS", "", VT_BSTR}},
                    false, &results, &errors),
            S_OK);
  EXPECT_EQ(results[0].vtCanonicalDataType, VT_UI4);
  EXPECT_EQ(results[0].dwAccessRights, OPC_READABLE);
  EXPECT_EQ(results[1].vtCanonicalDataType, VT_UI4);
  EXPECT_EQ(results[2].vtCanonicalDataType, VT_I4);
  EXPECT_EQ(results[2].dwAccessRights, OPC_READABLE | OPC_WRITEABLE);
  EXPECT_EQ(results[3].vtCanonicalDataType, VT_R4);
  EXPECT_EQ(results[4].vtCanonicalDataType, VT_UI2);
  EXPECT_EQ(results[5].hServer, 6u) << "the same item twice gets two handles";
  for (size_t i = 0; i < results.size(); ++i) {
    EXPECT_EQ(results[i].hServer, OPCHANDLE(i + 1));
    EXPECT_EQ(results[i].dwBlobSize, 0u);
  }

  ASSERT_EQ(AddMany(items_.Get(),
                    {{"NODE1.NOPE.AS"}, {""}, {"<null>"}, {"NODE1.LIC1.AS", "path"},
                     {"NODE1.LIC1.AS", "", VARTYPE(9)}, {"NODE1.LIC1.LP"}, {"NODE1.TI2.AS"}},
                    false, &results, &errors),
            S_FALSE);
  EXPECT_EQ(errors[0], OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(errors[1], OPC_E_INVALIDITEMID);
  EXPECT_EQ(errors[2], OPC_E_INVALIDITEMID);
  EXPECT_EQ(errors[3], OPC_E_UNKNOWNPATH);
  EXPECT_EQ(errors[4], OPC_E_BADTYPE);
  EXPECT_EQ(errors[5], OPC_E_UNKNOWNITEMID) << ".LP is never an item";
  EXPECT_EQ(errors[6], S_OK);
  EXPECT_EQ(results[0].hServer, 0u);
  EXPECT_EQ(results[6].hServer, 7u);

  OPCITEMDEF def;
  OPCITEMRESULT* out = nullptr;
  HRESULT* codes = nullptr;
  EXPECT_EQ(items_->AddItems(0, &def, &out, &codes), E_INVALIDARG);
  EXPECT_EQ(items_->AddItems(1, nullptr, &out, &codes), E_INVALIDARG);
  EXPECT_EQ(items_->AddItems(1, &def, nullptr, &codes), E_INVALIDARG);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(codes, nullptr);
}

TEST_F(GroupTest, ValidateItemsChecksWithoutAdding) {
  AddGroup();
  std::vector<OPCITEMRESULT> results;
  std::vector<HRESULT> errors;
  ASSERT_EQ(AddMany(items_.Get(), {{"NODE1.TI2.PI"}, {"NODE9.X.AS"}}, true, &results, &errors), S_FALSE);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(results[0].vtCanonicalDataType, VT_R4);
  EXPECT_EQ(results[0].hServer, 0u);
  EXPECT_EQ(errors[1], OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(Item("NODE1.TI2.PI", 1), 1u) << "nothing was added before";
}

TEST_F(GroupTest, HandleListMethodsAnswerPerHandle) {
  AddGroup();
  OPCHANDLE a = Item("NODE1.LIC1.AS", 10);
  OPCHANDLE b = Item("NODE1.LIC1.PI", 11);
  OPCHANDLE handles[] = {a, 999, 0};
  COpcTaskArray<HRESULT> errors(3);
  EXPECT_EQ(items_->RemoveItems(3, handles, errors.Put()), S_FALSE);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(errors[2], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(items_->RemoveItems(1, handles, errors.Put()), S_FALSE) << "removed already";
  EXPECT_EQ(errors[0], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(items_->RemoveItems(0, handles, errors.Put()), E_INVALIDARG);
  EXPECT_FALSE(errors);

  OPCHANDLE clients[] = {42};
  EXPECT_EQ(items_->SetClientHandles(1, &b, clients, errors.Put()), S_OK);
  VARTYPE types[] = {VT_R8};
  EXPECT_EQ(items_->SetDatatypes(1, &b, types, errors.Put()), S_OK);
  std::vector<OPCITEMSTATE> states;
  std::vector<HRESULT> codes;
  Activate(true);
  ASSERT_EQ(Read(OPC_DS_CACHE, {b}, &states, &codes), S_OK);
  EXPECT_EQ(states[0].hClient, 42u);
  EXPECT_EQ(states[0].vDataValue.vt, VT_R8);
  EXPECT_EQ(states[0].vDataValue.dblVal, 50.0);
  types[0] = VARTYPE(9);
  EXPECT_EQ(items_->SetDatatypes(1, &b, types, errors.Put()), S_FALSE);
  EXPECT_EQ(errors[0], OPC_E_BADTYPE);

  EXPECT_EQ(items_->SetActiveState(1, &b, false, errors.Put()), S_OK);
  ASSERT_EQ(Read(OPC_DS_CACHE, {b}, &states, &codes), S_OK);
  EXPECT_EQ(states[0].wQuality, OPC_QUALITY_OUT_OF_SERVICE) << "an inactive item's cache";
  ASSERT_EQ(Read(OPC_DS_DEVICE, {b}, &states, &codes), S_OK);
  EXPECT_EQ(states[0].wQuality, OPC_QUALITY_GOOD) << "the device is read whatever the state";

  ComPtr<IUnknown> enumerator;
  EXPECT_EQ(items_->CreateEnumerator(IID_IEnumOPCItemAttributes, enumerator.Put()), E_NOTIMPL);
}

TEST_F(GroupTest, ReadsGiveTheControllersValuesWithOneTimeStampPerArray) {
  AddGroup();
  std::vector<OPCHANDLE> handles = {Item("NODE1.LIC1.AS", 1),    Item("NODE1.LIC1.AS[1]", 2),
                                    Item("NODE1.LIC1.AS[2]", 3), Item("NODE1.LIC1.AS[3]", 4),
                                    Item("NODE1.LIC1.AS[4]", 5)};
  OPCHANDLE pi = Item("NODE1.LIC1.PI", 6);
  OPCHANDLE st = Item("NODE1.LS3.ST", 7);
  OPCHANDLE fc = Item("NODE1.LIC1.FC", 8);
  Activate(true);
  std::vector<OPCITEMSTATE> states;
  std::vector<HRESULT> errors;
  ASSERT_EQ(Read(OPC_DS_CACHE, handles, &states, &errors), S_OK);
  // Normal, nothing to acknowledge, flags 0x01 (alarm enabled), no times.
  EXPECT_EQ(states[0].vDataValue.vt, VT_UI4);
  EXPECT_EQ(states[0].vDataValue.ulVal, 0x0180u);
  for (size_t i = 0; i < states.size(); ++i) {
    EXPECT_EQ(states[i].hClient, OPCHANDLE(i + 1));
    EXPECT_EQ(states[i].wQuality, OPC_QUALITY_GOOD);
    EXPECT_EQ(states[i].ftTimeStamp, states[0].ftTimeStamp);
    if (i > 0) {
      EXPECT_EQ(states[i].vDataValue.ulVal, 0u);
    }
  }
  ASSERT_EQ(Read(OPC_DS_CACHE, {pi, st, fc}, &states, &errors), S_OK);
  EXPECT_EQ(states[0].vDataValue.vt, VT_R4);
  EXPECT_EQ(states[0].vDataValue.fltVal, 50.0f);
  EXPECT_EQ(states[1].vDataValue.vt, VT_UI2);
  EXPECT_EQ(states[2].vDataValue.vt, VT_I4);

  ASSERT_EQ(Read(OPC_DS_CACHE, {pi, 555}, &states, &errors), S_FALSE);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(Read(static_cast<OPCDATASOURCE>(3), {pi}, &states, &errors), E_INVALIDARG);
  OPCITEMSTATE* out = nullptr;
  HRESULT* codes = nullptr;
  EXPECT_EQ(io_->Read(OPC_DS_CACHE, 0, &pi, &out, &codes), E_INVALIDARG);
  EXPECT_EQ(io_->Read(OPC_DS_CACHE, 1, nullptr, &out, &codes), E_INVALIDARG);

  Activate(false);
  ASSERT_EQ(Read(OPC_DS_CACHE, {pi}, &states, &errors), S_OK);
  EXPECT_EQ(states[0].wQuality, OPC_QUALITY_OUT_OF_SERVICE) << "an inactive group's cache";
}

TEST_F(GroupTest, OnlyTheFcItemTakesWrites) {
  AddGroup();
  OPCHANDLE fc = Item("NODE1.TI2.FC", 1);
  OPCHANDLE as = Item("NODE1.TI2.AS", 2);
  HRESULT error;
  EXPECT_EQ(WriteI4(fc, 0x0105, &error), S_OK);
  EXPECT_EQ(error, S_OK);
  std::vector<OPCITEMSTATE> states;
  std::vector<HRESULT> errors;
  ASSERT_EQ(Read(OPC_DS_DEVICE, {fc}, &states, &errors), S_OK);
  EXPECT_EQ(states[0].vDataValue.lVal, 0x0105);

  EXPECT_EQ(WriteI4(as, 1, &error), S_FALSE);
  EXPECT_EQ(error, OPC_E_BADRIGHTS);
  EXPECT_EQ(WriteI4(77, 1, &error), S_FALSE);
  EXPECT_EQ(error, OPC_E_INVALIDHANDLE);

  OPCHANDLE handles[] = {fc, fc, fc};
  VARIANT values[] = {VARIANT::Bstr("abc"), VARIANT::R8(1e20), VARIANT::Bstr("258")};
  COpcTaskArray<HRESULT> codes(3);
  EXPECT_EQ(io_->Write(3, handles, values, codes.Put()), S_FALSE);
  EXPECT_EQ(codes[0], OPC_E_BADTYPE);
  EXPECT_EQ(codes[1], OPC_E_RANGE);
  EXPECT_EQ(codes[2], S_OK) << "converted to the canonical type";
  EXPECT_EQ(io_->Write(1, handles, nullptr, codes.Put()), E_INVALIDARG);

  std::vector<RaltoFcWrite> log;
  ASSERT_EQ(control_->GetFcWrites(&log), S_OK);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].itemId, "NODE1.TI2.FC");
  EXPECT_EQ(log[0].value, 0x0105);
  EXPECT_EQ(log[1].value, 258);
}

// An object that is not an IOPCDataCallback.
class CPlainObject final : public IUnknown {
 public:
  HRESULT QueryInterface(const IID& iid, void** object) override {
    *object = iid == IID_IUnknown ? this : nullptr;
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override {
    ULONG left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }

 private:
  ComRefCount refs_;
};

TEST_F(GroupTest, TheConnectionPointTakesOneDataCallbackSink) {
  AddGroup();
  IID iid;
  ASSERT_EQ(point_->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, IID_IOPCDataCallback);
  ComPtr<IConnectionPointContainer> container, again;
  ASSERT_EQ(point_->GetConnectionPointContainer(container.Put()), S_OK);
  ASSERT_EQ(items_.As(IID_IConnectionPointContainer, again), S_OK);
  EXPECT_EQ(container.Get(), again.Get());
  ComPtr<IConnectionPoint> other;
  EXPECT_EQ(container->FindConnectionPoint(IID_IOPCSyncIO, other.Put()), CONNECT_E_NOCONNECTION);

  auto plain = ComPtr<IUnknown>::Attach(new CPlainObject);
  DWORD cookie = 5;
  EXPECT_EQ(point_->Advise(plain.Get(), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(point_->Advise(nullptr, &cookie), E_POINTER);
  Advise();
  auto second = ComPtr<CRecordingSink>::Attach(new CRecordingSink);
  EXPECT_EQ(point_->Advise(second.Get(), &cookie), CONNECT_E_ADVISELIMIT);
  EXPECT_EQ(point_->Unadvise(cookie_ + 1), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point_->Unadvise(cookie_), S_OK);
  EXPECT_EQ(point_->Unadvise(cookie_), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point_->Advise(second.Get(), &cookie_), S_OK) << "free again";
}

TEST_F(GroupTest, OnDataChangeReportsChangedActiveItemsOfActiveGroups) {
  ASSERT_EQ(control_->UseManualClock(TestTime(2024, 3, 1, 8, 0, 0)), S_OK);
  AddGroup();
  Advise();
  Item("NODE1.LIC1.PI", 1);
  Item("NODE1.LIC1.AS", 2);
  OPCHANDLE ti = Item("NODE1.TI2.PI", 3);
  ASSERT_EQ(control_->TickUpdates(), S_OK);
  EXPECT_TRUE(sink_->Calls().empty()) << "an inactive group reports nothing";

  Activate(true);
  ASSERT_EQ(control_->TickUpdates(), S_OK);
  std::vector<RecordedCall> calls = sink_->Calls();
  ASSERT_EQ(calls.size(), 1u) << "all changes in one call";
  EXPECT_EQ(calls[0].transid, 0u);
  EXPECT_EQ(calls[0].group, 77u);
  EXPECT_EQ(calls[0].masterQuality, S_OK);
  EXPECT_EQ(calls[0].masterError, S_OK);
  ASSERT_EQ(calls[0].changes.size(), 3u) << "the first cycle reports every active item";
  sink_->TakeChanges();
  control_->TickUpdates();
  EXPECT_TRUE(sink_->TakeChanges().empty()) << "nothing changed";

  ASSERT_EQ(control_->SetProcessValue("NODE1.TI2", 60), S_OK);
  ASSERT_EQ(control_->AdvanceClock(1000), S_OK);
  control_->TickUpdates();
  std::vector<RecordedChange> changes = sink_->TakeChanges();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].client, 3u);
  EXPECT_EQ(changes[0].value.fltVal, 60.0f);
  EXPECT_EQ(changes[0].time, TestTime(2024, 3, 1, 8, 0, 1));

  COpcTaskArray<HRESULT> errors(1);
  ASSERT_EQ(items_->SetActiveState(1, &ti, false, errors.Put()), S_OK);
  control_->SetProcessValue("NODE1.TI2", 61);
  control_->AdvanceClock(1000);
  control_->TickUpdates();
  EXPECT_TRUE(sink_->TakeChanges().empty()) << "an inactive item is not reported";
  ASSERT_EQ(items_->SetActiveState(1, &ti, true, errors.Put()), S_OK);
  control_->TickUpdates();
  changes = sink_->TakeChanges();
  ASSERT_EQ(changes.size(), 1u) << "an item made active reports its value";
  EXPECT_EQ(changes[0].value.fltVal, 61.0f);

  // The level alarm: the state word and its value change in one cycle.
  control_->SetProcessValue("NODE1.LIC1", 85);
  control_->AdvanceClock(1000);
  control_->TickUpdates();
  EXPECT_EQ(sink_->TakeChanges().size(), 2u);

  Activate(false);
  control_->SetProcessValue("NODE1.LIC1", 50);
  control_->AdvanceClock(1000);
  control_->TickUpdates();
  EXPECT_TRUE(sink_->TakeChanges().empty());
  Activate(true);
  control_->TickUpdates();
  EXPECT_EQ(sink_->TakeChanges().size(), 3u) << "a group made active reports every active item";

  ASSERT_EQ(server_->RemoveGroup(groupHandle_, false), OPC_S_INUSE);
  groupHandle_ = 0;
  control_->SetProcessValue("NODE1.LIC1", 40);
  control_->AdvanceClock(1000);
  control_->TickUpdates();
  EXPECT_TRUE(sink_->TakeChanges().empty()) << "a removed group reports nothing";
}

TEST_F(GroupTest, TheUpdateThreadCallsAtTheRateAndTheSinkMayCallBack) {
  ASSERT_EQ(control_->SetManualUpdates(false), S_OK);
  AddGroup();
  Advise();
  OPCHANDLE pi = Item("NODE1.LIC1.PI", 1);
  std::atomic<int> reads{0};
  std::atomic<HRESULT> removed{E_FAIL};
  IOPCSyncIO* io = io_.Get();
  IOPCServer* server = server_.Get();
  OPCHANDLE group = groupHandle_;
  sink_->onCall = [&] {
    // Back into the server from inside the callback: a read, then the group's removal.
    COpcTaskArray<OPCITEMSTATE> values(1);
    COpcTaskArray<HRESULT> errors(1);
    OPCHANDLE handle = pi;
    if (io->Read(OPC_DS_CACHE, 1, &handle, values.Put(), errors.Put()) == S_OK) ++reads;
    if (reads == 2) removed = server->RemoveGroup(group, false);
  };
  DWORD rate = 10, revised = 0;
  BOOL active = true;
  ASSERT_EQ(state_->SetState(&rate, &revised, &active, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(revised, 10u);
  for (int i = 0; i < 500 && reads < 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_GE(reads.load(), 1);
  ASSERT_EQ(control_->SetProcessValue("NODE1.LIC1", 55), S_OK);  // scanned by the plant within 100 ms
  for (int i = 0; i < 500 && removed == E_FAIL; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(removed.load(), OPC_S_INUSE);
  groupHandle_ = 0;
  size_t calls = sink_->Calls().size();
  control_->SetProcessValue("NODE1.LIC1", 45);
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(sink_->Calls().size(), calls) << "no call after the removal";
}

}  // namespace
