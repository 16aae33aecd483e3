// CAlarmLog: what an acknowledgement writes, where, and how the copy
// thread moves it to the remote and backup files; loading for the viewer;
// destruction while a pass hangs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <condition_variable>
#include <mutex>
#include <set>

#include "acklog/ack_log_settings.h"
#include "acklog/alarm_log.h"
#include "acklog/log_append.h"
#include "acklog/log_layout.h"
#include "acklog_test_support.h"
#include "alarmconfig/derived_source.h"
#include "platform/sysinfo.h"
#include "tests/support/debug_capture.h"
#include "toolkit/source_ptr.h"

namespace {

FILETIME Utc(int day, int hour = 13, int minute = 7, int second = 42) {
  SYSTEMTIME st{2024, 5, 0, WORD(day), WORD(hour), WORD(minute), WORD(second), 0};
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  return ft;
}

// A source with one "Level" condition, acknowledged by a client.
class Alarm {
 public:
  explicit Alarm(CAESource* source) : source_(CAESourcePtr::Adopt(source)) {
    CAECondition level(source, "Level", 1);
    level.AddSubcondition(CAESubcondition("Hi", "NOT IMPL", 600, ""));
    condition_ = source->AddCondition(level);
  }
  CAECondition& Acknowledged(const std::string& comment, const FILETIME& when = Utc(1)) {
    FILETIME active = Utc(1, 12);
    condition_->Activate("Hi", "LIC100 high", true, &active);
    condition_->Acknowledge("jdoe", comment, &when);
    return *condition_;
  }
  CAECondition& Condition() { return *condition_; }
  CAESource& Source() { return *source_.Get(); }

 private:
  CAESourcePtr source_;
  CAECondition* condition_;
};

class AlarmLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    local_ = TestFolder("local") + "/AlarmLog";  // the first record creates it
    remote_ = TestFolder("remote");
    SetLocalPath(local_);
    SetLoggingEnabled(true);
    variable_.area = "Plant/Unit1";
    variable_.nodeName = "N1";
    variable_.itemName = "LIC100.AS";
  }

  CAlarmLog::Options Fast() {
    CAlarmLog::Options options;
    options.retryMs = 50;
    options.stopTimeoutMs = 300;
    options.clock = clock_;
    return options;
  }
  Alarm DerivedAlarm() {
    return Alarm(new CDerivedSource("Plant/Unit1/N1_LIC100.A", kAlarmLevel, 0, 0, &variable_));
  }
  bool Log(CAlarmLog& log, Alarm& alarm, const std::string& comment, const std::string& result = "Success") {
    CAECondition& condition = alarm.Acknowledged(comment);
    CAlarmLog::VariableNames names;
    {
      TrackedMutexGuard config(g_ConfigMutex, AE_SITE);
      names = CAlarmLog::CopyVariableNames(alarm.Source());
    }
    TrackedMutexGuard guard(log.Mutex(), AE_SITE);
    return log.LogAcknowledgement(condition, alarm.Source(), result, names);
  }
  std::string Cache(int n) { return local_ + "/AESERVLOG_CACHE_" + std::to_string(n) + ".xml"; }
  std::string RemoteDaily(const std::string& date) { return remote_ + "/AESERVLOG_" + date + ".xml"; }
  std::string Backup(const std::string& date) {
    return local_ + "/AESERVLOG_" + date + "_" + GetComputerName() + ".xml";
  }
  // The records of one file (0 when it is missing).
  static size_t CountIn(const std::string& path) {
    std::string folder = TestFolder("count");
    std::error_code ec;
    std::filesystem::copy_file(path, folder + "/AESERVLOG_one.xml", ec);
    return ec ? 0 : RecordsIn(folder).size();
  }
  // True once `n` records are in the remote daily file and the backup of
  // `date` (the backup is saved after the remote file).
  bool Copied(const std::string& date, size_t n) {
    return CountIn(RemoteDaily(date)) == n && CountIn(Backup(date)) == n;
  }
  static ino_t Inode(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
  }
  bool Emptied(const std::string& path) {
    return ReadBytes(path) == std::string(kLogHead) + std::string(kLogTail);
  }

  std::string local_, remote_;
  AlarmVar variable_;
  std::shared_ptr<ae::ManualClock> clock_ = std::make_shared<ae::ManualClock>(Utc(1, 20));
  ScopedDebugCapture debug_;
};

TEST_F(AlarmLogTest, NothingWrittenWithoutAckOrWhileDisabled) {
  CAlarmLog log(Fast());
  Alarm alarm = DerivedAlarm();
  {
    TrackedMutexGuard guard(log.Mutex(), AE_SITE);
    FILETIME active = Utc(1, 12);
    alarm.Condition().Activate("Hi", "LIC100 high", true, &active);
    EXPECT_FALSE(log.LogAcknowledgement(alarm.Condition(), alarm.Source(), "Success", {}));
  }
  SetLoggingEnabled(false);
  EXPECT_FALSE(Log(log, alarm, "c"));
  auto lines = debug_.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Alarm log ignoring condition without ack"), 2);
  EXPECT_FALSE(std::filesystem::exists(local_));
}

TEST_F(AlarmLogTest, FirstRecordCreatesLocalFolderAndCacheFileFromAlarmVariable) {
  CAlarmLog log(Fast());
  Alarm alarm = DerivedAlarm();
  ASSERT_TRUE(Log(log, alarm, "checked on site", "Error: Couldn't find variable N1.LIC100.FC"));
  std::vector<AckRecord> records = RecordsIn(local_);
  ASSERT_EQ(records.size(), 1u);
  const AckRecord& r = records[0];
  EXPECT_TRUE(std::filesystem::exists(Cache(0)));
  EXPECT_EQ(r.ackTime, CDateTime::FromFileTime(Utc(1)));
  EXPECT_EQ(r.area, "Plant/Unit1");
  EXPECT_EQ(r.target, "N1");
  EXPECT_EQ(r.variable, "LIC100.AS");
  EXPECT_EQ(r.operatorName, "jdoe");
  EXPECT_EQ(r.comment, "checked on site");
  EXPECT_EQ(r.message, "LIC100 high");
  EXPECT_EQ(r.condition, "Level");
  EXPECT_EQ(r.subcondition, "Hi");
  EXPECT_EQ(r.server, GetComputerName());
  EXPECT_EQ(r.result, "Error: Couldn't find variable N1.LIC100.FC");
  std::set<std::string> areas = {"stale"};
  log.GetKnownAreas(areas);
  EXPECT_EQ(areas, (std::set<std::string>{"Plant/Unit1"}));
}

TEST_F(AlarmLogTest, SourceWithoutAlarmVariableFallsBackOnItsName) {
  CAlarmLog log(Fast());
  Alarm plain(new CAESource("Plant/N1_LIC100.A", 1));
  Alarm noSlash(new CAESource("N1_LIC100.A", 1));
  Alarm noDot(new CAESource("Plant/N1_LIC100", 1));
  Alarm detached(new CDerivedSource("Area/N2_X.Bit", kAlarmBit, 0, 0, nullptr));
  for (Alarm* a : {&plain, &noSlash, &noDot, &detached}) ASSERT_TRUE(Log(log, *a, "c"));
  EXPECT_TRUE(debug_.Contains(
      "Couldn't find pAlarmVar, falling back on legacy code to find area, target, variable"));
  std::vector<AckRecord> r = RecordsIn(local_);
  ASSERT_EQ(r.size(), 4u);
  auto names = [](const AckRecord& x) { return x.area + "|" + x.target + "|" + x.variable; };
  EXPECT_EQ(names(r[0]), "Plant|N1_LIC100|A");
  EXPECT_EQ(names(r[1]), "|N1_LIC100|A");
  EXPECT_EQ(names(r[2]), "Plant|N1_LIC100|");
  EXPECT_EQ(names(r[3]), "Area|N2_X|Bit");
}

TEST_F(AlarmLogTest, WriterMovesOnPastHeldAndDamagedCacheFiles) {
  CAlarmLog log(Fast());
  Alarm alarm = DerivedAlarm();
  std::filesystem::create_directories(local_);
  CLogFile held;
  ASSERT_TRUE(held.Open(Cache(0), true));
  WriteBytes(Cache(1), "not a log");
  ASSERT_TRUE(Log(log, alarm, "c"));
  EXPECT_EQ(ReadBytes(Cache(1)), "not a log");
  EXPECT_EQ(CountIn(Cache(2)), 1u);
  EXPECT_TRUE(debug_.Contains("Log file does not parse, left untouched: " + Cache(1)));
}

TEST_F(AlarmLogTest, NoCacheFileOpensAndTheRecordIsReported) {
  CAlarmLog log(Fast());
  Alarm alarm = DerivedAlarm();
  std::filesystem::create_directories(std::filesystem::path(local_).parent_path());
  WriteBytes(local_, "a file where the folder should be");
  EXPECT_FALSE(Log(log, alarm, "c"));
  EXPECT_TRUE(debug_.Contains("Failed to open local document to add comment: " + Cache(999)));
}

TEST_F(AlarmLogTest, FullDiskLeavesCacheFileAsItWas) {
  CAlarmLog log(Fast());
  Alarm alarm = DerivedAlarm();
  ASSERT_TRUE(Log(log, alarm, "first"));
  std::string before = ReadBytes(Cache(0));
  signal(SIGXFSZ, SIG_IGN);
  rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit tight = old;
  tight.rlim_cur = before.size() + 40;
  setrlimit(RLIMIT_FSIZE, &tight);
  bool logged = Log(log, alarm, std::string(2000, 'z'));
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(logged);
  EXPECT_TRUE(debug_.Contains("Failed to add comment to local file: " + Cache(0)));
  EXPECT_EQ(ReadBytes(Cache(0)), before);
  EXPECT_TRUE(Log(log, alarm, "after"));
  EXPECT_EQ(CountIn(Cache(0)), 2u);
}

TEST_F(AlarmLogTest, EmptyRemotePathKeepsRecordsAndRetriesFailedPasses) {
  CAlarmLog log(Fast());
  Alarm alarm = DerivedAlarm();
  ASSERT_TRUE(Log(log, alarm, "c"));
  ASSERT_TRUE(Eventually([&] {
    auto lines = debug_.Lines();
    return std::count(lines.begin(), lines.end(), "Failed to copy Alarm Logs remotely") >= 3;
  }));
  EXPECT_EQ(CountIn(Cache(0)), 1u);
}

TEST_F(AlarmLogTest, RecordReachesRemoteAndBackupAndLeavesCacheEmpty) {
  SetRemotePath(remote_);
  CAlarmLog log(Fast());
  Alarm alarm = DerivedAlarm();
  ASSERT_TRUE(Log(log, alarm, "c"));
  ASSERT_TRUE(Eventually([&] { return Emptied(Cache(0)); }));
  EXPECT_TRUE(Copied("2024-05-01", 1));
  EXPECT_EQ(RecordsIn(remote_)[0].area, "Plant/Unit1");
}

TEST_F(AlarmLogTest, TwoCopyDatesGiveTwoDailyFiles) {
  SetRemotePath(remote_);
  CAlarmLog log(Fast());
  Alarm alarm = DerivedAlarm();
  ASSERT_TRUE(Log(log, alarm, "first"));
  ASSERT_TRUE(Eventually([&] { return Copied("2024-05-01", 1); }));
  clock_->SetUtc(Utc(2, 0, 0, 1));
  ASSERT_TRUE(Log(log, alarm, "second"));
  ASSERT_TRUE(Eventually([&] { return Copied("2024-05-02", 1); }));
  EXPECT_TRUE(Copied("2024-05-01", 1));
  EXPECT_EQ(RecordsIn(remote_).size(), 2u);
}

// A day's files take each pass at their end: what they held stays, byte
// for byte, in the same file. (Rewriting them whole at every pass cost time
// and memory in proportion to the day's records: at 10 acknowledgements a
// second the server's CPU and memory grew by the minute.)
TEST_F(AlarmLogTest, DailyFilesTakeEachPassAtTheirEndWithoutBeingRewritten) {
  SetRemotePath(remote_);
  std::filesystem::create_directories(local_);
  std::vector<AckRecord> day;
  for (int i = 0; i < 500; ++i) day.push_back(SampleRecord(i));
  const std::vector<std::string> daily = {RemoteDaily("2024-05-01"), Backup("2024-05-01")};
  std::vector<std::string> before;
  std::vector<ino_t> inodes;
  for (const std::string& path : daily) {
    CLogFile file;
    ASSERT_TRUE(file.Open(path, true));
    CLogAppender appender(file);
    ASSERT_EQ(appender.Prepare(), CLogAppender::Check::kReady);
    ASSERT_TRUE(appender.Append(day));
    before.push_back(ReadBytes(path));
    inodes.push_back(Inode(path));
  }
  CAlarmLog log(Fast());
  Alarm alarm = DerivedAlarm();
  ASSERT_TRUE(Log(log, alarm, "late"));
  ASSERT_TRUE(Eventually([&] { return Emptied(Cache(0)); }));
  EXPECT_TRUE(Copied("2024-05-01", day.size() + 1));
  for (size_t i = 0; i < daily.size(); ++i) {
    std::string bytes = ReadBytes(daily[i]);
    size_t kept = before[i].size() - kLogTail.size();
    EXPECT_EQ(Inode(daily[i]), inodes[i]) << daily[i] << " was replaced";
    EXPECT_EQ(bytes.substr(0, kept), before[i].substr(0, kept)) << daily[i];
    EXPECT_TRUE(bytes.ends_with(kLogTail)) << daily[i];
  }
  EXPECT_EQ(RecordsIn(remote_).back().comment, "late");
}

// A daily file written elsewhere, in a layout of its own, still takes the
// records, through its document.
TEST_F(AlarmLogTest, DailyFileInAnotherLayoutTakesRecordsThroughItsDocument) {
  SetRemotePath(remote_);
  WriteBytes(RemoteDaily("2024-05-01"),
             "<?xml version=\"1.0\"?>\r\n<AlarmFile Version=\"1\"><AlarmRecord><AckTimeStamp TimeZone=\"UTC\">"
             "2024-05-01 08:00:00</AckTimeStamp><Area>Plant/Unit2</Area><AcknowledgeComment>by hand"
             "</AcknowledgeComment></AlarmRecord></AlarmFile>");
  CAlarmLog log(Fast());
  Alarm alarm = DerivedAlarm();
  ASSERT_TRUE(Log(log, alarm, "late"));
  ASSERT_TRUE(Eventually([&] { return Emptied(Cache(0)); }));
  std::vector<AckRecord> remote = RecordsIn(remote_);
  ASSERT_EQ(remote.size(), 2u);
  EXPECT_EQ(remote[0].comment, "by hand");
  EXPECT_EQ(remote[1].comment, "late");
  EXPECT_EQ(RecordsIn(local_).size(), 1u);
}

// Both daily files are checked before either takes a record: a damaged
// backup leaves the remote file without the records, which wait in the
// cache and arrive once, when the backup is mended.
TEST_F(AlarmLogTest, DamagedBackupFileHoldsTheRecordsBackFromBothFiles) {
  SetRemotePath(remote_);
  std::filesystem::create_directories(local_);
  WriteBytes(Backup("2024-05-01"), "<broken");
  CAlarmLog log(Fast());
  Alarm alarm = DerivedAlarm();
  ASSERT_TRUE(Log(log, alarm, "c"));
  ASSERT_TRUE(Eventually([&] { return debug_.Contains("Failed to open local backup file: " + Backup("2024-05-01")); }));
  EXPECT_EQ(CountIn(RemoteDaily("2024-05-01")), 0u);
  EXPECT_EQ(ReadBytes(Backup("2024-05-01")), "<broken");
  std::filesystem::remove(Backup("2024-05-01"));
  ASSERT_TRUE(Eventually([&] { return Emptied(Cache(0)); }));
  EXPECT_TRUE(Copied("2024-05-01", 1));
}

TEST_F(AlarmLogTest, FailingCacheFileDoesNotStopTheOthers) {
  SetRemotePath(remote_);
  std::filesystem::create_directories(local_);
  WriteBytes(Cache(0), "<broken");
  for (int n : {1, 2}) {
    CLogFile file;
    ASSERT_TRUE(file.Open(Cache(n), true));
    ASSERT_EQ(AppendRecordToLogFile(file, SampleRecord(n)), AppendOutcome::kSaved);
  }
  CAlarmLog log(Fast());  // the first pass comes with the first time-out
  ASSERT_TRUE(Eventually([&] { return Emptied(Cache(1)) && Emptied(Cache(2)); }));
  EXPECT_EQ(CountIn(RemoteDaily("2024-05-01")), 2u);
  ASSERT_TRUE(Eventually([&] { return debug_.Contains("Failed to copy Alarm Logs remotely"); }));
  EXPECT_TRUE(debug_.Contains("Failed to open local cache file: " + Cache(0)));
  EXPECT_EQ(ReadBytes(Cache(0)), "<broken");
}

TEST_F(AlarmLogTest, RemoteFolderThatVanishesAndComesBackGetsEveryRecordOnce) {
  SetRemotePath(remote_);
  std::filesystem::remove_all(remote_);
  CAlarmLog log(Fast());
  Alarm alarm = DerivedAlarm();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Log(log, alarm, "while away " + std::to_string(i)));
  ASSERT_TRUE(Eventually([&] { return debug_.Contains("Failed to open remote file: " + RemoteDaily("2024-05-01")); }));
  // A retried pass may hold a cache file just then, and a reader skips it.
  EXPECT_TRUE(Eventually([&] { return RecordsIn(local_).size() == 3u; })) << RecordsIn(local_).size();
  std::filesystem::create_directories(remote_);
  ASSERT_TRUE(Eventually([&] { return Copied("2024-05-01", 3); }));
  // Retried passes hold the cache file now and then, so a record may have
  // gone to a second cache file: compare without order.
  std::multiset<std::string> comments;
  for (const AckRecord& r : RecordsIn(remote_)) comments.insert(r.comment);
  EXPECT_EQ(comments, (std::multiset<std::string>{"while away 0", "while away 1", "while away 2"}));
}

// A remote folder that takes files but cannot be synced (as some network
// folders): each copy has happened, so the cache lets its records go and
// no later pass copies them again.
TEST_F(AlarmLogTest, RemoteFolderThatCannotBeSyncedGetsEveryRecordOnce) {
  ASSERT_TRUE(ObeyFolderPermissions());  // before the copy thread starts: it inherits the rule
  SetRemotePath(remote_);
  namespace fs = std::filesystem;
  fs::permissions(remote_, fs::perms::owner_write | fs::perms::owner_exec);
  CAlarmLog log(Fast());
  Alarm alarm = DerivedAlarm();
  ASSERT_TRUE(Log(log, alarm, "c"));
  bool emptied = Eventually([&] { return Emptied(Cache(0)); }, std::chrono::milliseconds(3000));
  fs::permissions(remote_, fs::perms::owner_all);
  EXPECT_TRUE(emptied);
  EXPECT_TRUE(Copied("2024-05-01", 1));
  EXPECT_FALSE(debug_.Contains("Failed to write to remote file: "));
  EXPECT_TRUE(debug_.Contains("Couldn't sync the folder of replaced file: " + RemoteDaily("2024-05-01")));
}

TEST_F(AlarmLogTest, NonAsciiCommentsSurviveManyAppendAndCopyCycles) {
  SetRemotePath(remote_);
  CAlarmLog log(Fast());
  Alarm alarm = DerivedAlarm();
  std::vector<std::string> comments;
  for (int i = 0; i < 25; ++i) {
    comments.push_back("Ventil geprüft – 温度正常 ✓ 😀 #" + std::to_string(i) + "\r\n\tnächste Zeile");
    ASSERT_TRUE(Log(log, alarm, comments.back()));
    if (i % 5 == 4) {
      ASSERT_TRUE(Eventually([&] { return Copied("2024-05-01", size_t(i + 1)); }));
    }
  }
  // The pass saves the cache files last: once they are empty it has let go
  // of the backup, which a reader would otherwise find held and skip.
  ASSERT_TRUE(Eventually([&] {
    if (!Copied("2024-05-01", comments.size())) return false;
    for (const std::string& cache : ListLogFiles(local_, "AESERVLOG_CACHE*.xml"))
      if (!Emptied(cache)) return false;
    return true;
  }));
  std::vector<AckRecord> remote = RecordsIn(remote_);
  std::vector<AckRecord> backup = RecordsIn(local_);
  ASSERT_EQ(remote.size(), comments.size());
  ASSERT_EQ(backup.size(), comments.size());
  std::multiset<std::string> expected(comments.begin(), comments.end()), inRemote, inBackup;
  for (size_t i = 0; i < comments.size(); ++i) {
    inRemote.insert(remote[i].comment);
    inBackup.insert(backup[i].comment);
  }
  EXPECT_EQ(inRemote, expected);
  EXPECT_EQ(inBackup, expected);
}

// A clock that blocks the pass asking it for today's date until released:
// a pass stuck as on a hung network folder.
class BlockingClock final : public ae::Clock {
 public:
  FILETIME NowUtc() const override {
    std::unique_lock lock(mutex_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_; });
    return Utc(1, 20);
  }
  uint64_t SteadyMs() const override { return 0; }
  bool WaitEntered() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return entered_; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  mutable bool entered_ = false;
  bool released_ = false;
};

TEST_F(AlarmLogTest, DestructionEndsWithinTheLimitWhileAPassHangs) {
  SetRemotePath(remote_ + "/gone");
  auto clock = std::make_shared<BlockingClock>();
  CAlarmLog::Options options = Fast();
  options.clock = clock;
  auto log = std::make_unique<CAlarmLog>(options);
  Alarm alarm = DerivedAlarm();
  ASSERT_TRUE(Log(*log, alarm, "c"));
  ASSERT_TRUE(clock->WaitEntered());
  log.reset();
  EXPECT_TRUE(debug_.Contains("Terminating Remote Alarm Log Thread"));
  // The thread left behind still has its state: released, it ends its pass.
  clock->Release();
  EXPECT_TRUE(Eventually([&] { return debug_.Contains("Failed to open remote file: " + remote_ + "/gone/"); }));
}

class LoadRecordsTest : public AlarmLogTest {
 protected:
  void SetUp() override {
    AlarmLogTest::SetUp();
    folder_ = TestFolder("view");
    auto add = [&](const std::string& name, AckRecord r) {
      CLogFile file;
      ASSERT_TRUE(file.Open(folder_ + "/" + name, true));
      ASSERT_EQ(AppendRecordToLogFile(file, r), AppendOutcome::kSaved);
    };
    add("AESERVLOG_2024-05-01.xml", Record("North", 1, 8));
    add("AESERVLOG_2024-05-01.xml", Record("South", 1, 23));
    add("AESERVLOG_CACHE_0.xml", Record("North", 2, 0));
    add("AESERVLOG_2024-04-30_PC2.xml", Record("East", 0, 0));
    add("AESERVLOG_2024-04-30_PC2.xml", Record("North", 3, 12));
    add("other.xml", Record("North", 1, 9));
    std::filesystem::create_directories(folder_ + "/AESERVLOG_folder.xml");
    // A record whose time does not parse passes any date window.
    WriteBytes(folder_ + "/AESERVLOG_odd.xml",
               "<AlarmFile Version=\"1\"><AlarmRecord><AckTimeStamp>soon</AckTimeStamp>"
               "<Area>West</Area></AlarmRecord></AlarmFile>");
  }
  static AckRecord Record(const std::string& area, int day, int hour) {
    AckRecord r = SampleRecord(day * 100 + hour);
    r.area = area;
    r.ackTime = day == 0 ? CDateTime::FromParts(2024, 4, 30, hour) : CDateTime::FromParts(2024, 5, day, hour);
    return r;
  }
  std::vector<std::string> Load(const CDateTime& from, const CDateTime& to, const std::set<std::string>& areas,
                                ProgressHandle& progress) {
    CAlarmLog log(Fast());
    std::vector<AckRecord> records;
    log.LoadRecords(folder_, from, to, areas, records, progress);
    std::vector<std::string> keys;
    for (const AckRecord& r : records) keys.push_back(r.area + "@" + r.ackTime.Format());
    std::sort(keys.begin(), keys.end());
    log.GetKnownAreas(known_);
    return keys;
  }

  std::string folder_;
  std::set<std::string> known_;
};

TEST_F(LoadRecordsTest, DateWindowAndAreasFilterAndEveryAreaIsRemembered) {
  ComPtr<ProgressHandle> progress = ProgressHandle::Create();
  auto keys = Load(CDateTime::FromParts(2024, 5, 1), CDateTime::FromParts(2024, 5, 2), {"North", "West"}, *progress.Get());
  EXPECT_EQ(keys, (std::vector<std::string>{"North@2024-05-01 08:00:00", "North@2024-05-02 00:00:00", "West@"}));
  EXPECT_EQ(known_, (std::set<std::string>{"East", "North", "South", "West"}));
  EXPECT_EQ(progress->Range(), 100u * 4 + 100);
  EXPECT_EQ(progress->Position(), 100u * 4 + 100);
}

TEST_F(LoadRecordsTest, NullBoundsAndNoAreasKeepEverything) {
  ComPtr<ProgressHandle> progress = ProgressHandle::Create();
  EXPECT_EQ(Load(CDateTime(), CDateTime(), {}, *progress.Get()).size(), 6u);
}

TEST_F(LoadRecordsTest, CancelledLoadStopsBeforeTheFirstFile) {
  ComPtr<ProgressHandle> progress = ProgressHandle::Create();
  progress->Cancel();
  EXPECT_TRUE(Load(CDateTime(), CDateTime(), {}, *progress.Get()).empty());
  EXPECT_EQ(progress->Range(), 500u);
  EXPECT_EQ(progress->Position(), 100u);
}

TEST(ProgressHandle, CountsReferencesTheComWay) {
  ComPtr<ProgressHandle> handle = ProgressHandle::Create();
  EXPECT_EQ(handle->AddRef(), 2u);
  EXPECT_EQ(handle->Release(), 1u);
  void* out = &out;
  EXPECT_EQ(handle->QueryInterface(IID_IUnknown, &out), E_NOTIMPL);
  EXPECT_TRUE(handle->KeepGoing());
  EXPECT_FALSE(handle->Done());
  ComPtr<ProgressHandle> copy = handle;
  handle.Reset();
  copy->SetDone();
  EXPECT_TRUE(copy->Done());
}

}  // namespace
