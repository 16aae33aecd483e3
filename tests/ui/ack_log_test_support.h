// What the tests of the acknowledgement log's dialogs share: records made
// to order, log files written with them, and a fixture with the log object
// (g_pAlarmLog), a remote, a local and a custom folder that the settings
// name, the time zone (UTC) and the locale of the texts pinned (Qt's "C"
// locale: "1 May 2024 15:04:05").
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "acklog/ack_record.h"
#include "acklog/alarm_log.h"
#include "ui_test_support.h"

// A record of `area` at the UTC time given; the other texts are made from
// `tag` so that rows can be told apart.
AckRecord MakeRecord(const std::string& area, const CDateTime& utc, const std::string& tag = "r");
CDateTime Utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
// Writes a log file of these records, as the log writes its daily files.
void WriteLogFile(const std::string& path, const std::vector<AckRecord>& records);
// Sets TZ (a POSIX zone such as "UTC0" or "XST-2") for the C library.
void SetTimeZone(const char* zone);

class AckLogUiTest : public UiTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A daily file AESERVLOG_<name>.xml in `folder`.
  void WriteDay(const std::string& folder, const std::string& name, const std::vector<AckRecord>& records);

  std::string remote_, local_, custom_;
  std::unique_ptr<CAlarmLog> log_;
};
