// The acknowledgement log's remote folder vanishes and comes back (a
// network share that drops and returns) while an operator acknowledges
// alarms: the records wait in the local cache files meanwhile and then
// reach the remote daily file and the local backup, none lost, none twice.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>

#include "acking_client.h"
#include "acklog/ack_log_settings.h"
#include "log_folder_check.h"
#include "platform/win32_error.h"
#include "process_fixture.h"
#include "tests/support/eventually.h"

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kAckPeriod(20);
constexpr char kCachePrefix[] = "AESERVLOG_CACHE_";

bool IsCacheFile(const std::string& name) { return name.rfind(kCachePrefix, 0) == 0; }

// How often each comment is in `content`, counting the files that `pick` accepts.
std::map<std::string, int> Comments(const LogFolderContent& content, bool (*pick)(const std::string&)) {
  std::map<std::string, int> counts;
  for (const LogRecordInFile& r : content.records) {
    if (pick(r.file)) ++counts[r.record.comment];
  }
  return counts;
}

class RemoteLogTest : public ProcessTest {
 protected:
  void SetUp() override {
    ProcessTest::SetUp();
    remoteDir_ = std::filesystem::path(logDir_).parent_path() / "remote";
    std::filesystem::create_directories(remoteDir_);
    ASSERT_EQ(SetRemotePath(remoteDir_.string()), ERROR_SUCCESS);
    ServerSettings settings;
    settings.randomChangesPerSecond = 100;
    Configure(settings);
  }

  // The records in the files that `pick` accepts; none while a file is
  // held by the server (the copy thread holds a cache file during a pass).
  std::optional<size_t> RecordsIn(const std::filesystem::path& folder, bool (*pick)(const std::string&)) {
    LogFolderContent content = ReadLogFolder(folder.string());
    if (!content.problems.empty()) return std::nullopt;
    size_t n = 0;
    for (const auto& [comment, count] : Comments(content, pick)) n += size_t(count);
    return n;
  }

  std::filesystem::path remoteDir_;
};

TEST_F(RemoteLogTest, RecordsWaitWhileTheRemoteFolderIsGoneAndArriveOnceEachWhenItIsBack) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  CAckingClient operatorStation("remote", kAckPeriod);
  auto anyFile = [](const std::string&) { return true; };
  auto cacheFile = [](const std::string& name) { return IsCacheFile(name); };

  // Records reach the remote folder.
  ASSERT_TRUE(Eventually([&] { return RecordsIn(remoteDir_, anyFile).value_or(0) >= 5; }, 60s)) << server_->Errors();

  // The folder goes and comes back, three times: meanwhile acknowledgements
  // go on and are kept in the cache; once it is back the next ones take the
  // waiting records along.
  const std::filesystem::path away = remoteDir_.string() + ".away";
  for (int outage = 0; outage < 3; ++outage) {
    std::filesystem::rename(remoteDir_, away);
    size_t accepted = operatorStation.Result().confirmed.size();
    ASSERT_TRUE(Eventually([&] { return operatorStation.Result().confirmed.size() >= accepted + 10; }, 60s));
    EXPECT_TRUE(Eventually([&] { return RecordsIn(logDir_, cacheFile).value_or(0) >= 10; }))
        << "outage " << outage << ": no records cached";
    std::filesystem::rename(away, remoteDir_);
    accepted = operatorStation.Result().confirmed.size();
    ASSERT_TRUE(Eventually([&] { return operatorStation.Result().confirmed.size() >= accepted + 5; }, 60s));
  }
  EXPECT_NE(server_->Errors().find("Failed to open remote file: " + remoteDir_.string()), std::string::npos);
  EXPECT_NE(server_->Errors().find("Failed to copy Alarm Logs remotely"), std::string::npos);
  operatorStation.Stop();
  CAckingClient::Outcome outcome = operatorStation.Result();
  ASSERT_TRUE(Eventually([&] { return RecordsIn(logDir_, cacheFile) == size_t(0); }, 60s)) << "records left in the cache";
  ASSERT_TRUE(server_->Stop(20s));

  LogFolderContent remote = ReadLogFolder(remoteDir_.string());
  LogFolderContent local = ReadLogFolder(logDir_);
  for (const std::string& problem : remote.problems) ADD_FAILURE() << "remote " << problem;
  for (const std::string& problem : local.problems) ADD_FAILURE() << "local " << problem;
  std::map<std::string, int> sent = Comments(remote, anyFile);
  std::map<std::string, int> backup = Comments(local, [](const std::string& name) { return !IsCacheFile(name); });
  for (const std::string& comment : outcome.confirmed) {
    EXPECT_EQ(sent[comment], 1) << "remote: " << comment;
    EXPECT_EQ(backup[comment], 1) << "backup: " << comment;
  }
  for (const auto& [comment, count] : sent) EXPECT_EQ(count, 1) << "remote: " << comment;
  EXPECT_EQ(sent.size(), backup.size());
  std::printf("acknowledgements %zu (refused %zu), remote records %zu, backup records %zu\n", outcome.confirmed.size(),
              outcome.refused, sent.size(), backup.size());
}

// The default: no remote folder at all. Every record stays in the cache,
// and each copy pass that finds nothing to copy to says so on the debugger
// output (as documented), which is all that happens.
TEST_F(RemoteLogTest, WithoutARemoteFolderTheRecordsStayInTheCache) {
  ASSERT_EQ(SetRemotePath(""), ERROR_SUCCESS);
  ASSERT_NO_FATAL_FAILURE(StartServer());
  CAckingClient operatorStation("local", kAckPeriod);
  ASSERT_TRUE(Eventually([&] { return operatorStation.Result().confirmed.size() >= 10; }, 60s));
  operatorStation.Stop();
  ASSERT_TRUE(server_->Stop(20s));
  LogFolderContent local = ReadLogFolder(logDir_);
  EXPECT_TRUE(local.problems.empty());
  std::map<std::string, int> cached = Comments(local, [](const std::string& name) { return IsCacheFile(name); });
  for (const std::string& comment : operatorStation.Result().confirmed) EXPECT_EQ(cached[comment], 1) << comment;
  EXPECT_EQ(cached.size(), local.records.size()) << "nothing but cache files";
  EXPECT_NE(server_->Errors().find("Failed to copy Alarm Logs remotely"), std::string::npos);
  EXPECT_EQ(server_->Errors().find("Failed to open remote file"), std::string::npos);
}

}  // namespace
