// The OPC DA client's data model and import, and the connection manager's
// alarm entries and variable look-up, end to end with the configuration
// server and the source builder.
#include <gtest/gtest.h>

#include <set>

#include "alarmconfig/alarm_sources.h"
#include "alarmconfig/derived_source.h"
#include "alarmconfig/source_name.h"
#include "alarmconfig/tracked_mutex.h"
#include "import_fixture.h"
#include "opcda/connection_manager.h"
#include "platform/registry.h"
#include "toolkit/source_cache.h"

namespace {

constexpr char kAlarmLogKey[] = "SOFTWARE\\Quillan\\Veltro QRX OPC AE\\AlarmLog";

class ClientTest : public ImportTest {
 protected:
  // A fresh connection's import and source build, as the connect thread runs them.
  HRESULT Connect() {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    manager_.client = std::make_unique<C_OPC_DA_Client>();
    HRESULT hr = manager_.client->ImportConfiguration(false);
    if (hr == S_OK) manager_.lastSourceBuildResult = BuildSourcesForVariable("Brixham.RaltoOPC");
    return hr;
  }
  HRESULT Refresh() {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    return manager_.client->ImportConfiguration(true);
  }
  std::set<std::string> AlarmItemIds() {
    std::set<std::string> ids;
    for (const auto& [id, v] : manager_.client->itemMap)
      if (v.KindSuffix() == ".AS" || v.KindSuffix() == ".RS") ids.insert(id);
    return ids;
  }

  ConnectionManager manager_;
};

TEST_F(ClientTest, TheManagerIsTheEntrySupplyWhileItLives) {
  EXPECT_EQ(g_pAlarmEntrySupply.load(), &manager_);
  {
    ConnectionManager other;
    EXPECT_EQ(g_pAlarmEntrySupply.load(), &other);
  }
  EXPECT_EQ(g_pAlarmEntrySupply.load(), nullptr);
  g_pAlarmEntrySupply = &manager_;
}

TEST_F(ClientTest, ConstructionReadsTheDiagnosticFilePaths) {
  {
    C_OPC_DA_Client client;
    EXPECT_EQ(client.dumpFilePath, "");
    EXPECT_EQ(client.receiveFilePath, "");
    EXPECT_EQ(client.active, 0);
    EXPECT_EQ(client.serverGroup, 0u);
  }
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kAlarmLogKey, "AlarmDumpFile", "/var/log/aeserver/blocks.txt"),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kAlarmLogKey, "AlarmReceiveFile", "/tmp/" + std::string(122, 'r')),
            ERROR_SUCCESS);
  {
    C_OPC_DA_Client client;
    EXPECT_EQ(client.dumpFilePath, "/var/log/aeserver/blocks.txt");
    EXPECT_EQ(client.receiveFilePath, "");  // 127 characters do not fit
  }
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kAlarmLogKey, "AlarmReceiveFile", "/tmp/" + std::string(121, 'r')),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kAlarmLogKey, "AlarmDumpFile", 1), ERROR_SUCCESS);
  C_OPC_DA_Client client;
  EXPECT_EQ(client.receiveFilePath.size(), 126u);
  EXPECT_EQ(client.dumpFilePath, "");  // not a string
}

TEST_F(ClientTest, FreshConnectionOfTheExamplePlant) {
  CopyDocuments(AE_EXAMPLE_PLANT_DIR);
  ASSERT_EQ(Connect(), S_OK);
  EXPECT_EQ(manager_.lastSourceBuildResult, kSourceBuildOk);

  AlarmConditionEntries entries;
  ASSERT_EQ(manager_.GetConditionEntries("Brixham.RaltoOPC", entries), 0);
  std::set<std::string> ids;
  std::set<std::string> sources;
  for (const auto& e : entries) {
    ASSERT_TRUE(e);
    ASSERT_NE(e->variable, nullptr);
    EXPECT_FALSE(e->sourceName.empty());
    EXPECT_EQ(e->nodeName, e->variable->nodeName);
    EXPECT_TRUE(ids.insert(e->variable->ItemId()).second);
    sources.insert(BuildSourceName(e->sourceName, e->kind));
  }
  EXPECT_EQ(ids, AlarmItemIds());
  std::set<std::string> cached;
  for (const CAESourcePtr& s : g_SourceCache.Snapshot()) cached.insert(s->Name());
  EXPECT_EQ(cached, sources);

  AlarmConditionEntries node;
  ASSERT_EQ(manager_.GetNodeConditionEntries("UTILITY", node), 0);
  EXPECT_FALSE(node.empty());
  for (const auto& e : node) EXPECT_EQ(e->nodeName, "UTILITY");

  AlarmVar* fc = manager_.FindVariable("TANKFARM.LIC101.FC");
  ASSERT_NE(fc, nullptr);
  EXPECT_EQ(fc->itemName, "LIC101.FC");
  EXPECT_EQ(manager_.FindVariable("TANKFARM.NOSUCH.FC"), nullptr);
}

TEST_F(ClientTest, WithoutAClientThereIsNothingToSupply) {
  AlarmConditionEntries entries;
  EXPECT_EQ(manager_.GetConditionEntries("x", entries), 0);
  EXPECT_EQ(manager_.GetNodeConditionEntries("x", entries), 0);
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(manager_.FindVariable("TANKFARM.LIC101.FC"), nullptr);
  EXPECT_EQ(BuildSourcesForVariable("Brixham.RaltoOPC"), 2);
}

TEST_F(ClientTest, AFreshImportAfterAnEmptyBuildMarksNoInitialRead) {
  CopyDocuments(AE_EXAMPLE_PLANT_DIR);
  manager_.lastSourceBuildResult = kSourceBuildNoEntries;
  ASSERT_EQ(Connect(), S_OK);
  EXPECT_FALSE(manager_.FindVariable("TANKFARM.LIC101.AS")->initialPending);
}

TEST_F(ClientTest, BindingTickImportsTheEditedProducerOnly) {
  ASSERT_TRUE(Plantgen("--producers 2 --blocks 40 --seed 5"));
  ASSERT_EQ(Connect(), S_OK);
  ASSERT_TRUE(Plantgen("--edit --producer 1 --add-blocks 3 --remove-blocks 2"));
  ASSERT_EQ(Refresh(), S_OK);
  const C_OPC_DA_Client& client = *manager_.client;
  ASSERT_FALSE(client.pendingMap.empty());
  for (const auto& [id, v] : client.pendingMap) {
    EXPECT_EQ(v, client.FindVariable(id));
    EXPECT_FALSE(v->initialPending);
    EXPECT_EQ(v->nodeName, "TANKFARM1");
  }
  AlarmConditionEntries entries;
  ASSERT_EQ(manager_.GetConditionEntries("", entries), 0);
  EXPECT_EQ(static_cast<int>(entries.size()), g_SourceCache.NumberOfSources());
}

// The client's end leaves no source pointing at its variables; the next
// connection's source build points them at the new client's.
TEST_F(ClientTest, DisconnectAndReconnect) {
  CopyDocuments(AE_EXAMPLE_PLANT_DIR);
  ASSERT_EQ(Connect(), S_OK);
  CAESourcePtr source = g_SourceCache.FindSource("Tank_Farm/T-101/TANKFARM_LIC101.A");
  ASSERT_TRUE(source);
  auto* derived = static_cast<CDerivedSource*>(source.Get());
  EXPECT_EQ(derived->Variable(), manager_.FindVariable("TANKFARM.LIC101.AS"));
  int sources = g_SourceCache.NumberOfSources();

  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    manager_.client.reset();
  }
  EXPECT_EQ(derived->Variable(), nullptr);
  for (const CAESourcePtr& s : g_SourceCache.Snapshot())
    EXPECT_EQ(static_cast<CDerivedSource*>(s.Get())->Variable(), nullptr) << s->Name();

  ASSERT_EQ(Connect(), S_OK);
  EXPECT_EQ(manager_.lastSourceBuildResult, kSourceBuildOk);
  EXPECT_EQ(g_SourceCache.NumberOfSources(), sources);
  EXPECT_EQ(g_SourceCache.GetSource("Tank_Farm/T-101/TANKFARM_LIC101.A"), source.Get());
  EXPECT_EQ(derived->Variable(), manager_.FindVariable("TANKFARM.LIC101.AS"));
}

}  // namespace
