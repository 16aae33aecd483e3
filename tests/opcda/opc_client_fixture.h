// Test helpers for the OPC DA client against the simulated Ralto OPC DA
// server: both Ralto libraries registered in the test's private registry,
// the process's global interface table, a control object of the simulated
// server (manual update ticks), and a small plant that both servers serve:
//
//   N1 (producer 1): LIC1 analog (.AS .RS .LP .FC), LS2 digital (.AS .LP .FC)
//   N2 (producer 2): TIC3 analog
//
// 31 alarm variables, 28 of them OPC items (".LP" never is one).
#pragma once

#include <string>
#include <vector>

#include "import_fixture.h"
#include "opcda/connection_manager.h"
#include "ralto/opc_control.h"

constexpr size_t kTestVariables = 31;
constexpr size_t kTestItems = 28;

// The file's bytes; "" when it does not exist.
std::string ReadFileBytes(const std::string& path);

class OpcClientTest : public ImportTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The plant above; producer 1's ConfigTimeSecs is `n1Secs`, and
  // `n1Extra` adds blocks to it.
  void WritePlant(const std::string& n1Secs = "100", const std::string& n1Extra = "");

  // A new client in manager_, and its ConnectFresh / ConnectOrRefresh,
  // under g_ConfigMutex as the connection manager runs them.
  HRESULT ConnectFresh(const std::string& progId = "Brixham.RaltoOPC");
  HRESULT ConnectOrRefresh();
  // What the connection manager does after a connect: the group active and
  // the client's `active` flag set.
  void Activate();
  // Destroys the client as the connection manager's Disconnect does.
  void Disconnect();

  C_OPC_DA_Client& client() { return *manager_.client; }
  AlarmVar& Variable(const std::string& itemId);
  // An interface of the client's group from the global interface table.
  template <class T>
  ComPtr<T> FromTable(DWORD cookie, const IID& iid) {
    ComPtr<T> out;
    EXPECT_EQ(g_pGlobalInterfaceTable->GetInterfaceFromGlobal(cookie, iid, out.PutVoid()), S_OK);
    return out;
  }
  // The group's active flag, through the client's cookie.
  bool GroupIsActive();
  // The number of groups on the client's server object.
  DWORD GroupCount();

  ConnectionManager manager_;
  ComPtr<IRaltoOpcControl> control_;

 private:
  ComPtr<IOPCServer> controlServer_;
};
