// The server program's handle on the toolkit: start-up, COM registration
// entries in the registry store, the trace file and its cap.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/registry.h"
#include "toolkit_fixture.h"

namespace {

const CAEServerRegistration kRegistration{"Corvane.OPCAEqrxServer.1", "Corvane.OPCAEqrxServer",
                                          "Veltrocorp Corvane Plantwise - OPC AE Server", "/opt/aeserver/aeserver",
                                          "Interactive User"};

std::string Value(const std::string& key, const std::string& name = "") {
  std::string value;
  LONG e = RegGetString(HKEY_CLASSES_ROOT, key, name, value);
  return e == ERROR_SUCCESS ? value : "<" + std::to_string(e) + ">";
}

bool KeyExists(const std::string& key) {
  HKEY h = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

class ServerInterfaceTest : public ::testing::Test {
 protected:
  void TearDown() override { g_ServerInterface.Uninitialize(); }
};

TEST_F(ServerInterfaceTest, InitializeOnceUntilUninitialized) {
  EXPECT_EQ(g_ServerInterface.Initialize(nullptr, kTestClsid, "V", '\0', 0), 0);
  ASSERT_NE(g_ServerInterface.Initialize(nullptr, kTestClsid, "V", '/', 0), 0);
  EXPECT_EQ(g_ServerInterface.Initialize(nullptr, kTestClsid, "V", '/', 0), 0);
  g_ServerInterface.Uninitialize();
  g_ServerInterface.Uninitialize();
  ComPtr<IOPCEventServer> server;
  EXPECT_EQ(CoCreateInstance(kTestClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer, server.PutVoid()),
            REGDB_E_CLASSNOTREG);
  ASSERT_NE(g_ServerInterface.Initialize(nullptr, kTestClsid, "V", '/', 0), 0);
  EXPECT_EQ(CoCreateInstance(kTestClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer, server.PutVoid()), S_OK);
}

TEST_F(ServerInterfaceTest, RegisterWritesExactlyTheServerEntries) {
  ASSERT_NE(g_ServerInterface.Initialize(nullptr, kTestClsid, "Veltrocorp", '/', 0, &kRegistration), 0);
  // Left-overs of an earlier registration go; neighbours stay.
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "CLSID\\" + GuidToString(kTestClsid) + "\\InprocServer32", "", "old.so"),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "CLSID\\{00000000-0000-0000-0000-000000000001}", "", "other"),
            ERROR_SUCCESS);
  ASSERT_EQ(g_ServerInterface.RegisterServer(), S_OK);

  const std::string guid = GuidToString(kTestClsid);
  const std::string clsidKey = "CLSID\\" + guid;
  EXPECT_EQ(Value("Corvane.OPCAEqrxServer.1"), kRegistration.description);
  EXPECT_EQ(Value("Corvane.OPCAEqrxServer.1\\CLSID"), guid);
  EXPECT_EQ(Value("Corvane.OPCAEqrxServer"), kRegistration.description);
  EXPECT_EQ(Value("Corvane.OPCAEqrxServer\\CLSID"), guid);
  EXPECT_EQ(Value(clsidKey), kRegistration.description);
  EXPECT_EQ(Value(clsidKey, "AppId"), guid);
  // The OPC AE 1.0 server category, by which server browsers find the class.
  const std::string categories = clsidKey + "\\Implemented Categories";
  EXPECT_TRUE(KeyExists(categories + "\\{58E13251-AC87-11d1-84D5-00608CB8A7E9}"));
  HKEY categoriesKey = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, categories, KEY_READ, &categoriesKey), ERROR_SUCCESS);
  std::string name;
  EXPECT_EQ(RegEnumKeyEx(categoriesKey, 1, name), ERROR_NO_MORE_ITEMS) << "no other category";
  RegCloseKey(categoriesKey);
  EXPECT_EQ(Value(clsidKey + "\\ProgID"), "Corvane.OPCAEqrxServer.1");
  EXPECT_EQ(Value(clsidKey + "\\VersionIndependentProgID"), "Corvane.OPCAEqrxServer");
  EXPECT_EQ(Value(clsidKey + "\\LocalServer32"), "/opt/aeserver/aeserver");
  EXPECT_FALSE(KeyExists(clsidKey + "\\InprocServer32"));
  EXPECT_EQ(Value("AppID\\" + guid), kRegistration.description);
  EXPECT_EQ(Value("AppID\\" + guid, "RunAs"), "Interactive User");
  CLSID resolved;
  ASSERT_EQ(CLSIDFromProgID("Corvane.OPCAEqrxServer.1", &resolved), S_OK);
  EXPECT_EQ(resolved, kTestClsid);

  ASSERT_EQ(g_ServerInterface.UnregisterServer(), S_OK);
  EXPECT_FALSE(KeyExists("Corvane.OPCAEqrxServer.1"));
  EXPECT_FALSE(KeyExists("Corvane.OPCAEqrxServer"));
  EXPECT_FALSE(KeyExists(clsidKey));
  EXPECT_FALSE(KeyExists("AppID\\" + guid));
  EXPECT_TRUE(KeyExists("CLSID"));
  EXPECT_TRUE(KeyExists("AppID"));
  EXPECT_TRUE(KeyExists("CLSID\\{00000000-0000-0000-0000-000000000001}"));
  EXPECT_EQ(g_ServerInterface.UnregisterServer(), S_OK) << "nothing left to remove is no error";
}

TEST_F(ServerInterfaceTest, RegistrationNeedsItsData) {
  EXPECT_EQ(g_ServerInterface.RegisterServer(), E_UNEXPECTED);
  ASSERT_NE(g_ServerInterface.Initialize(nullptr, kTestClsid, "V", '/', 0), 0);
  EXPECT_EQ(g_ServerInterface.RegisterServer(), E_UNEXPECTED);
  g_ServerInterface.Uninitialize();
  CAEServerRegistration incomplete;
  incomplete.description = "no ProgID";
  ASSERT_NE(g_ServerInterface.Initialize(nullptr, kTestClsid, "V", '/', 0, &incomplete), 0);
  EXPECT_EQ(g_ServerInterface.RegisterServer(), E_INVALIDARG);
}

TEST_F(ServerInterfaceTest, TraceFileStaysBelowItsCap) {
  ASSERT_NE(g_ServerInterface.Initialize(nullptr, kTestClsid, "V", '/', 0), 0);
  std::string file = std::filesystem::temp_directory_path().string() + "/AETrace.txt";
  EXPECT_EQ(g_ServerInterface.SetTraceInfo(6, 1, file, 1000), E_INVALIDARG);
  EXPECT_EQ(g_ServerInterface.SetTraceInfo(1, 1, "", 1000), E_INVALIDARG);
  std::string notADirectory = std::filesystem::temp_directory_path().string() + "/plain";
  std::ofstream(notADirectory) << "x";
  EXPECT_EQ(g_ServerInterface.SetTraceInfo(1, 1, notADirectory + "/AETrace.txt", 1000), E_FAIL);
  ASSERT_EQ(g_ServerInterface.SetTraceInfo(2, 1, file, 2000), S_OK);
  g_ServerInterface.EnableCOMCallTracing(true);

  ComPtr<IOPCEventServer> server;
  ASSERT_EQ(CoCreateInstance(kTestClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer, server.PutVoid()), S_OK);
  for (int i = 0; i < 200; ++i) {
    DWORD mask;
    server->QueryAvailableFilters(&mask);
  }
  std::ifstream in(file);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_LE(content.size(), 2000u);
  EXPECT_NE(content.find("IOPCEventServer::QueryAvailableFilters -> 0x00000000"), std::string::npos);
  EXPECT_EQ(std::filesystem::file_size(file), content.size());

  ASSERT_EQ(g_ServerInterface.SetTraceInfo(0, 1, file, 2000), S_OK);
  auto size = std::filesystem::file_size(file);
  DWORD mask;
  server->QueryAvailableFilters(&mask);
  EXPECT_EQ(std::filesystem::file_size(file), size) << "level 0 traces nothing";
}

}  // namespace
