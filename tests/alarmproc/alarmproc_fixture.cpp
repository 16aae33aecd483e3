#include "alarmproc_fixture.h"

#include <stdlib.h>

#include <ctime>

#include "alarmconfig/alarm_sources.h"
#include "alarmconfig/tracked_mutex.h"
#include "toolkit/source_cache.h"

FILETIME PlantTime(int seconds, int ms) {
  constexpr uint64_t kStart = 133'618'824'000'000'000;  // 2024-06-03 10:00:00 UTC
  return Uint64ToFileTime(kStart + uint64_t(seconds) * kFileTimeTicksPerSecond + uint64_t(ms) * 10'000);
}

namespace {

std::string Member(const std::string& name, const std::string& type, const std::string& init = "") {
  return "  <BlockSubElement Name=\"" + name + "\" BlockType=\"" + type + "\"" +
         (init.empty() ? "" : " InitValue=\"" + init + "\"") + "/>\n";
}

std::string Block(const std::string& name, const std::string& type, const std::vector<std::string>& members,
                  const std::string& area, const std::string& message, const std::string& rocMessage = "") {
  std::string text = "<BlockStructure Name=\"" + name + "\">\n";
  for (const std::string& m : members) text += Member(name + "." + m, type, m == "LP" ? "1,2,3,4,5,1" : "");
  text += "  <Area Data=\"" + plantdoc::Attr(area) + "\"/>\n";
  text += "  <Message Data=\"" + plantdoc::Attr(message) + "\" DataROC=\"" + plantdoc::Attr(rocMessage) + "\"/>\n";
  return text + "</BlockStructure>\n";
}

}  // namespace

void AlarmProcTest::SetUp() {
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);  // Central Europe, without tzdata
  tzset();
  OpcClientTest::SetUp();
  if (HasFatalFailure()) return;
  WriteAlarmPlant();
  ASSERT_EQ(control_->ReloadDocuments(), S_OK);
  ASSERT_EQ(control_->UseManualClock(PlantTime(0)), S_OK);
}

void AlarmProcTest::TearDown() {
  OpcClientTest::TearDown();
  g_SourceCache.Clear(1);
}

void AlarmProcTest::WriteAlarmPlant(const std::string& n1Secs, const std::string& n1Extra) {
  using namespace plantdoc;
  Write("ConfigurationSummary.xml", Summary({{"N1", "1"}, {"N2", "2"}}));
  Write("ProducedData_1.xml",
        ProducedData("N1", n1Secs, "0",
                     Block("LIC1", "O0C", {"AS", "RS", "LP", "FC", "PI"}, "Plant/Tanks",
                           "Level %VAL % %STATE, then %val %state", "Level rate %Val %/s %State") +
                         Block("LS2", "O0D", {"AS", "LP", "FC", "ST"}, "Plant/Tanks", "Switch %val is %STATE") +
                         Block("TI3", "O0C", {"AS", "LP", "FC"}, "Plant/Tanks", "Temperature %VAL %STATE") +
                         n1Extra));
  Write("ProducedData_2.xml",
        ProducedData("N2", "200", "0",
                     Block("TIC4", "O0C", {"AS", "RS", "LP", "FC", "PI"}, "Plant/Heat", "Temp %VAL %STATE",
                           "Temp rate %VAL %STATE")));
}

void AlarmProcTest::ConnectPlant() {
  ASSERT_EQ(ConnectFresh(), S_OK);
  ASSERT_EQ(BuildSourcesForVariable(kRaltoOpcProgId), 0);
  Activate();
}

void AlarmProcTest::SetAlarm(const std::string& stateWord, BYTE state, bool acknowledged, FILETIME activation,
                             FILETIME acknowledgement, FILETIME returnToNormal, BYTE flags) {
  RaltoAlarmSetting setting;
  setting.state = state;
  setting.acknowledged = acknowledged ? true : false;
  setting.flags = flags;
  setting.activation = activation;
  setting.acknowledgement = acknowledgement;
  setting.returnToNormal = returnToNormal;
  ASSERT_EQ(control_->SetAlarm(stateWord, setting), S_OK) << stateWord;
}

ComPtr<IOPCSyncIO> AlarmProcTest::SyncIO() { return FromTable<IOPCSyncIO>(client().syncIOCookie, IID_IOPCSyncIO); }

CAlarmStateReader AlarmProcTest::Reader(IOPCSyncIO* syncIO, CAlarmStateReader::Pause pause) {
  return CAlarmStateReader(syncIO, client(), 0, std::move(pause));
}

CAESourcePtr AlarmProcTest::Source(const std::string& name) {
  CAESourcePtr source = g_SourceCache.FindSource(name);
  EXPECT_TRUE(source) << name;
  return source;
}

CAECondition* AlarmProcTest::Condition(const std::string& source, const std::string& condition) {
  CAESource* s = g_SourceCache.GetSource(source);
  return s ? s->GetCondition(condition) : nullptr;
}
