// Test helper: logs acknowledgements through CAlarmLog as the server does
// and prints the tag of each one that was durably written, one per line,
// flushed at once, so a test that kills this process knows what was
// reported as written.
//   acklog_writer TAG COUNT [COMMENT_BYTES]
// Record i carries the comment "TAG-i" (padded with blanks to about
// COMMENT_BYTES); COUNT 0 means without end. The log folder and switch come
// from the registry store. Exit status: 0 all logged, 1 a record was not
// written, 2 bad arguments.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "acklog/alarm_log.h"
#include "alarmconfig/derived_source.h"
#include "platform/debug.h"
#include "toolkit/source_ptr.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::string tag = argv[1];
  long count = std::atol(argv[2]);
  size_t padding = argc > 3 ? size_t(std::atol(argv[3])) : 0;

  AlarmVar variable;
  variable.area = "Area " + tag;
  variable.nodeName = "N1";
  variable.itemName = "LIC100.AS";
  CAESourcePtr source = CAESourcePtr::Adopt(new CDerivedSource("N1_LIC100.A", kAlarmLevel, 0, 0, &variable));
  CAECondition level(source.Get(), "Level", 1);
  level.AddSubcondition(CAESubcondition("Hi", "NOT IMPL", 600, ""));
  CAECondition* condition = source->AddCondition(level);

  // The copy thread's notes (no remote folder here) would only be noise.
  SetDebugOutputSink([](const std::string&) {});
  CAlarmLog log;
  CAlarmLog::VariableNames names;
  {
    TrackedMutexGuard config(g_ConfigMutex, AE_SITE);
    names = CAlarmLog::CopyVariableNames(*source.Get());
  }
  for (long i = 0; count == 0 || i < count; ++i) {
    std::string id = tag + "-" + std::to_string(i);
    FILETIME now = GetSystemTimeAsFileTime();
    condition->Activate("Hi", "LIC100 high", true, &now);
    condition->Acknowledge("writer", id + std::string(padding > id.size() ? padding - id.size() : 0, ' '), &now);
    TrackedMutexGuard guard(log.Mutex(), AE_SITE);
    if (!log.LogAcknowledgement(*condition, *source.Get(), "Success", names)) return 1;
    std::printf("%s\n", id.c_str());
    std::fflush(stdout);
  }
  return 0;
}
