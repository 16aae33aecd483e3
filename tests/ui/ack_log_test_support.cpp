#include "ack_log_test_support.h"

#include <QLocale>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "acklog/ack_log_settings.h"
#include "acklog/log_document.h"
#include "callback/alarm_log_instance.h"
#include "platform/registry.h"

AckRecord MakeRecord(const std::string& area, const CDateTime& utc, const std::string& tag) {
  AckRecord record;
  record.ackTime = utc;
  record.area = area;
  record.target = "N1";
  record.variable = "LIC" + tag + ".AS";
  record.operatorName = "op-" + tag;
  record.comment = "comment " + tag;
  record.message = "message " + tag;
  record.condition = "Level";
  record.subcondition = "Hi";
  record.server = "PLANTPC1";
  record.result = "Success";
  return record;
}

CDateTime Utc(int year, int month, int day, int hour, int minute, int second) {
  return CDateTime::FromParts(year, month, day, hour, minute, second);
}

void WriteLogFile(const std::string& path, const std::vector<AckRecord>& records) {
  std::unique_ptr<CLogDocument> doc = CLogDocument::CreateEmpty();
  for (const AckRecord& record : records) ASSERT_TRUE(AppendRecord(*doc, record));
  std::ofstream(path, std::ios::binary | std::ios::trunc) << doc->Serialize();
}

void SetTimeZone(const char* zone) {
  setenv("TZ", zone, 1);
  tzset();
}

void AckLogUiTest::SetUp() {
  UiTest::SetUp();
  if (HasFatalFailure()) return;
  // Settings of this test's own, also when tests share a process.
  RegDeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillan");
  SetTimeZone("UTC0");
  QLocale::setDefault(QLocale::c());
  // Folders of this test's own, also when tests share a process.
  std::string root = std::filesystem::temp_directory_path().string() + "/acklog.XXXXXX";
  ASSERT_TRUE(mkdtemp(root.data()));
  remote_ = root + "/remote";
  local_ = root + "/local";
  custom_ = root + "/custom";
  for (const std::string& folder : {remote_, local_, custom_}) std::filesystem::create_directories(folder);
  ASSERT_EQ(SetRemotePath(remote_), 0);
  ASSERT_EQ(SetLocalPath(local_), 0);
  ASSERT_EQ(SetFilterCustomPath(custom_), 0);
  log_ = std::make_unique<CAlarmLog>();
  g_pAlarmLog = log_.get();
}

void AckLogUiTest::TearDown() {
  g_pAlarmLog = nullptr;
  log_.reset();
  UiTest::TearDown();
}

void AckLogUiTest::WriteDay(const std::string& folder, const std::string& name, const std::vector<AckRecord>& records) {
  WriteLogFile(folder + "/AESERVLOG_" + name + ".xml", records);
}
