// Test helper for the Ralto OPC DA server: registers the real library
// (DllRegisterServer), writes a small plant into the test's own document
// directory, creates servers by ProgID as a client does, and records
// OnDataChange calls.
//
// The test plant (node.block, members):
//   NODE1.LIC1   O0C  .AS .RS .LP .FC .PI   (12 items)
//   NODE1.TI2    O0C  .AS .LP .FC .PI       (7 items)
//   NODE1.LS3    O0D  .AS .LP .FC .ST       (7 items)
//   NODE1.FV4    O0A  .PV                   (no items: not an alarm block)
//   NODE2.P1.MTR O0D  .AS .FC .ST           (7 items)
// HMI has no ProducedData. 33 items in all.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/opcda.h"
#include "ralto/opc_control.h"

constexpr DWORD kTestPlantItems = 33;

// One OnDataChange call, copied.
struct RecordedChange {
  OPCHANDLE client;
  VARIANT value;
  WORD quality;
  FILETIME time;
  HRESULT error;
};
struct RecordedCall {
  DWORD transid;
  OPCHANDLE group;
  HRESULT masterQuality;
  HRESULT masterError;
  std::vector<RecordedChange> changes;
};

class CRecordingSink final : public IOPCDataCallback {
 public:
  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override;
  HRESULT OnDataChange(DWORD transid, OPCHANDLE group, HRESULT masterQuality, HRESULT masterError,
                       DWORD count, OPCHANDLE* clients, VARIANT* values, WORD* qualities,
                       FILETIME* times, HRESULT* errors) override;
  HRESULT OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                         FILETIME*, HRESULT*) override {
    return S_OK;
  }
  HRESULT OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override { return S_OK; }
  HRESULT OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

  std::vector<RecordedCall> Calls();
  // The changes of all calls, by client handle (the last one wins).
  std::vector<RecordedChange> TakeChanges();
  // Runs inside every OnDataChange after recording (for call-backs into the server).
  std::function<void()> onCall;

 private:
  ~CRecordingSink() = default;
  ComRefCount refs_;
  std::mutex mutex_;
  std::vector<RecordedCall> calls_;
};

class RaltoOpcTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The test plant's documents: summary and producers 1 and 2.
  static std::string Summary();
  static std::string Producer1(const std::string& extraBlocks = "");
  static std::string Producer2();
  void WriteDocument(const std::string& name, const std::string& text);

  ComPtr<IOPCServer> CreateServer();
  ComPtr<IRaltoOpcControl> Control(const ComPtr<IOPCServer>& server);
  // An inactive group (rate 1000) of server_, with its interfaces.
  void AddGroup();
  // AddItems of one item: the result; *handle gets the server handle.
  HRESULT AddItem(const std::string& id, OPCHANDLE client, OPCHANDLE* handle,
                  VARTYPE requested = VT_EMPTY);
  // Adds and returns the server handle (fails the test when not added).
  OPCHANDLE Item(const std::string& id, OPCHANDLE client);
  HRESULT Read(OPCDATASOURCE source, const std::vector<OPCHANDLE>& handles,
               std::vector<OPCITEMSTATE>* states, std::vector<HRESULT>* errors);
  HRESULT WriteI4(OPCHANDLE handle, LONG value, HRESULT* error);
  void Activate(bool active);
  void Advise();
  // Every item id that a flat browse lists.
  std::vector<std::string> Browse(const char* filter = "", VARTYPE type = VT_EMPTY, DWORD rights = 0,
                                  HRESULT* result = nullptr);

  void* library_ = nullptr;
  std::string plantDir_;
  ComPtr<IOPCServer> server_;
  ComPtr<IRaltoOpcControl> control_;
  OPCHANDLE groupHandle_ = 0;
  ComPtr<IOPCItemMgt> items_;
  ComPtr<IOPCGroupStateMgt> state_;
  ComPtr<IOPCSyncIO> io_;
  ComPtr<IConnectionPoint> point_;
  ComPtr<CRecordingSink> sink_;
  DWORD cookie_ = 0;
};

// Fixed instants for the manual plant clock (UTC).
FILETIME TestTime(int year, int month, int day, int hour, int minute, int second, int ms = 0);
