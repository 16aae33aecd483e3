// The server killed (SIGKILL) at random moments while an operator's client
// acknowledges alarms over the bus at a steady rate, and started again, a
// few hundred times: the acknowledgement log stays readable and whole, and
// the controllers' record of acknowledgement writes (the plant's journal of
// ".FC" writes, which outlives the process as a controller does) differs
// from the log only by what was in flight at each kill.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "acking_client.h"
#include "log_folder_check.h"
#include "process_fixture.h"
#include "tests/support/eventually.h"

namespace {

constexpr int kDefaultKills = 200;
// A sanitizer build may ask for fewer (AE_E2E_KILLS): its start-up alone
// takes seconds.
int KillCount() {
  const char* text = std::getenv("AE_E2E_KILLS");
  int kills = text ? std::atoi(text) : kDefaultKills;
  return kills > 0 ? kills : kDefaultKills;
}

constexpr std::chrono::milliseconds kAckPeriod(5);
// The kill comes this long at most after the client has subscribed.
constexpr int kMaxKillDelayMs = 250;
constexpr char kSuccess[] = "Success";

// One line of the plant's journal: "<ticks> <item> <value>".
struct FcWrite {
  std::string item;
  long value = 0;
};

// The journal's lines from byte `offset` on; `offset` moves past them.
std::vector<FcWrite> ReadJournal(const std::string& path, size_t& offset) {
  std::ifstream file(path, std::ios::binary);
  std::vector<FcWrite> writes;
  if (!file) return writes;
  file.seekg(std::streamoff(offset));
  for (std::string line; std::getline(file, line);) {
    if (file.eof()) break;  // a line without its end: not written whole (never seen)
    offset += line.size() + 1;
    std::istringstream fields(line);
    uint64_t ticks = 0;
    FcWrite w;
    fields >> ticks >> w.item >> w.value;
    writes.push_back(w);
  }
  return writes;
}

// The ".FC" item that a record's acknowledgement was written to.
std::string FcItemOf(const AckRecord& r) {
  return r.target + "." + r.variable.substr(0, r.variable.rfind('.')) + ".FC";
}

std::string RunTag(int run) { return "run " + std::to_string(run); }

class KillTest : public ProcessTest {
 protected:
  void SetUp() override {
    ProcessTest::SetUp();
    ServerSettings settings;
    settings.updateRateMs = 20;
    settings.randomChangesPerSecond = 1000;
    Configure(settings);
  }

  struct Totals {
    int kills = 0, restarts = 0;
    size_t confirmed = 0, refused = 0, inFlight = 0, fcWrites = 0, missingFromLog = 0, killsWithMissing = 0;
  };

  // After run `run` has ended: the log against what the client was told and
  // against the plant's journal, where at most `mayMiss` writes (those in
  // flight when the server went) have no record.
  void CheckAfterEnd(int run, const CAckingClient::Outcome& outcome, size_t mayMiss, Totals& totals) {
    LogFolderContent log = ReadLogFolder(logDir_);
    for (const std::string& problem : log.problems) ADD_FAILURE() << "after run " << run << ": " << problem;

    std::map<std::string, int> seen;
    for (const LogRecordInFile& r : log.records) {
      if (++seen[r.record.comment] == 2) ADD_FAILURE() << "after run " << run << ": doubled: " << r.record.comment;
      // Here every acknowledgement meets a connected server: its outcome is known.
      if (r.record.result.empty()) ADD_FAILURE() << "after run " << run << ": no result: " << r.record.comment;
    }
    for (const std::string& comment : logged_) {
      if (!seen.count(comment)) ADD_FAILURE() << "after run " << run << ": lost: " << comment;
    }
    for (const std::string& comment : outcome.confirmed) {
      if (!seen.count(comment)) ADD_FAILURE() << "after run " << run << ": accepted but not logged: " << comment;
    }
    for (const auto& [comment, n] : seen) logged_.insert(comment);

    // The run's writes against the run's records that report one.
    std::vector<FcWrite> writes = ReadJournal(journalPath_, journalOffset_);
    std::vector<const AckRecord*> written;
    const std::string tag = RunTag(run) + " ";
    for (const LogRecordInFile& r : log.records) {
      if (r.record.comment.rfind(tag, 0) == 0 && r.record.result == kSuccess) written.push_back(&r.record);
    }
    ASSERT_GE(writes.size(), written.size()) << "run " << run << ": records of writes the controllers never saw";
    for (size_t i = 0; i < written.size(); ++i) {
      EXPECT_EQ(writes[i].item, FcItemOf(*written[i])) << "run " << run << ", write " << i;
    }
    size_t missing = writes.size() - written.size();
    EXPECT_LE(missing, mayMiss) << "run " << run << ": writes without a record beyond those in flight";
    totals.fcWrites += writes.size();
    totals.missingFromLog += missing;
    totals.killsWithMissing += missing > 0;
    totals.confirmed += outcome.confirmed.size();
    totals.refused += outcome.refused;
    totals.inFlight += outcome.inFlight;
  }

  std::set<std::string> logged_;
  size_t journalOffset_ = 0;
};

TEST_F(KillTest, KilledAtRandomMomentsWhileAcknowledgementsFlowTheLogLosesOnlyWhatWasInFlight) {
  const int kills = KillCount();
  std::mt19937 random(20240601);
  std::uniform_int_distribution<int> delay(0, kMaxKillDelayMs);
  Totals totals;
  auto begin = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration starting{};

  for (int run = 0; run < kills; ++run) {
    auto startAt = std::chrono::steady_clock::now();
    ASSERT_NO_FATAL_FAILURE(StartServer()) << "start " << run;
    starting += std::chrono::steady_clock::now() - startAt;
    if (run > 0) ++totals.restarts;
    CAckingClient client(RunTag(run), kAckPeriod);
    // It serves again: a client gets its objects and its subscription.
    ASSERT_TRUE(Eventually([&] { return client.Result().subscribed || !client.Result().lastError.empty(); }))
        << "run " << run;
    ASSERT_TRUE(client.Result().subscribed) << "run " << run << ": " << client.Result().lastError;
    // The random moment of the kill (not a wait for anything).
    std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
    server_->Kill();
    ++totals.kills;
    client.Stop();
    ASSERT_NO_FATAL_FAILURE(CheckAfterEnd(run, client.Result(), client.Result().inFlight, totals));
    if (HasFailure()) break;
  }

  // The last start serves as a whole: an acknowledgement is accepted,
  // written to the controller and logged after everything before it.
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ++totals.restarts;
  CAckingClient last(RunTag(kills), kAckPeriod);
  ASSERT_TRUE(Eventually([&] { return !last.Result().confirmed.empty() || !last.Result().lastError.empty(); }))
      << "no acknowledgement after the last start";
  ASSERT_TRUE(server_->Stop(std::chrono::seconds(20)));
  last.Stop();
  CheckAfterEnd(kills, last.Result(), 0, totals);

  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  std::printf(
      "kills %d, restarts %d, acknowledgements accepted %zu (refused %zu, in flight at a kill %zu), log records %zu, "
      ".FC writes %zu, writes missing from the log %zu (at %zu kills), %.1f s in all, %.0f ms a start on average\n",
      totals.kills, totals.restarts, totals.confirmed, totals.refused, totals.inFlight, logged_.size(),
      totals.fcWrites, totals.missingFromLog, totals.killsWithMissing, seconds,
      std::chrono::duration<double, std::milli>(starting).count() / std::max(totals.restarts, 1));
  EXPECT_EQ(totals.kills, kills);
  EXPECT_GT(totals.confirmed, size_t(kills)) << "too few acknowledgements to tell anything";
}

// Stopped (SIGTERM, as a service manager stops it) while acknowledgements
// flow: the stop lets the acknowledgement in hand finish, so every write
// the controllers took has its record, with its outcome.
TEST_F(KillTest, StoppedWhileAcknowledgementsFlowEveryWriteHasItsRecord) {
  constexpr int kStops = 30;
  std::mt19937 random(20240602);
  std::uniform_int_distribution<int> delay(0, kMaxKillDelayMs);
  Totals totals;
  for (int run = 0; run < kStops; ++run) {
    ASSERT_NO_FATAL_FAILURE(StartServer()) << "start " << run;
    CAckingClient client(RunTag(run), kAckPeriod);
    ASSERT_TRUE(Eventually([&] { return client.Result().subscribed || !client.Result().lastError.empty(); }));
    ASSERT_TRUE(client.Result().subscribed) << "run " << run << ": " << client.Result().lastError;
    std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));  // the moment of the stop
    ASSERT_TRUE(server_->Stop(std::chrono::seconds(20))) << "run " << run;
    client.Stop();
    ASSERT_NO_FATAL_FAILURE(CheckAfterEnd(run, client.Result(), 0, totals));
    if (HasFailure()) break;
  }
  std::printf("stops %d, acknowledgements accepted %zu, .FC writes %zu, log records %zu\n", kStops, totals.confirmed,
              totals.fcWrites, logged_.size());
}

}  // namespace
