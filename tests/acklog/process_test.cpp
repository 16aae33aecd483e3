// Several writer processes on one log folder, and writers killed at random
// moments: every record reported as written is there, none twice.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <random>

#include "acklog/ack_log_settings.h"
#include "acklog/log_append.h"
#include "acklog/log_document.h"
#include "acklog_test_support.h"

extern char** environ;

namespace {

// One acklog_writer process and the tags it reported as written.
class Writer {
 public:
  Writer(const std::string& tag, long count, size_t commentBytes) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::string countText = std::to_string(count), bytesText = std::to_string(commentBytes);
    const char* argv[] = {ACKLOG_WRITER_PATH, tag.c_str(), countText.c_str(), bytesText.c_str(), nullptr};
    EXPECT_EQ(posix_spawn(&pid_, ACKLOG_WRITER_PATH, &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
  }
  ~Writer() {
    if (pid_ > 0) Kill();
    close(out_);
  }

  // Reads what arrives within `ms`; false at the end of the output.
  bool Read(int ms) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return true;
    char buffer[4096];
    ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    pending_.append(buffer, size_t(n));
    for (size_t end; (end = pending_.find('\n')) != std::string::npos; pending_.erase(0, end + 1))
      acked_.push_back(pending_.substr(0, end));
    return true;
  }
  void ReadToEnd() {
    while (Read(10000)) {
    }
  }
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Kill() {
    kill(pid_, SIGKILL);
    Wait();
  }
  const std::vector<std::string>& Acked() const { return acked_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
  std::vector<std::string> acked_;
};

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    local_ = TestFolder("local");
    SetLocalPath(local_);
    SetLoggingEnabled(true);
  }
  // How often each logged tag is in the folder (the comment up to a blank).
  std::map<std::string, int> Logged() {
    std::map<std::string, int> seen;
    for (const AckRecord& r : RecordsIn(local_)) ++seen[r.comment.substr(0, r.comment.find(' '))];
    return seen;
  }

  std::string local_;
};

TEST_F(ProcessTest, TwoProcessesAppendingAtOnceLoseAndDoubleNothing) {
  constexpr long kEach = 150;
  Writer a("A", kEach, 0), b("B", kEach, 0);
  a.ReadToEnd();
  b.ReadToEnd();
  EXPECT_EQ(a.Wait(), 0);
  EXPECT_EQ(b.Wait(), 0);
  ASSERT_EQ(a.Acked().size(), size_t(kEach));
  ASSERT_EQ(b.Acked().size(), size_t(kEach));
  std::map<std::string, int> seen = Logged();
  EXPECT_EQ(seen.size(), size_t(2 * kEach));
  for (const auto& writer : {&a, &b})
    for (const std::string& tag : writer->Acked()) EXPECT_EQ(seen[tag], 1) << tag;
}

TEST_F(ProcessTest, WriterKilledAtRandomMomentsKeepsEveryAcknowledgedRecord) {
  std::random_device device;
  unsigned seed = device();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::vector<std::string> acked;
  for (int round = 0; round < 12; ++round) {
    // Large comments make writes span pages, where a kill can cut them.
    Writer writer("R" + std::to_string(round), 0, std::uniform_int_distribution<size_t>(0, 12000)(random));
    int lifetimeMs = std::uniform_int_distribution<int>(1, 60)(random);
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(lifetimeMs);
    while (std::chrono::steady_clock::now() < end && writer.Read(1)) {
    }
    writer.Kill();
    writer.ReadToEnd();
    acked.insert(acked.end(), writer.Acked().begin(), writer.Acked().end());

    std::map<std::string, int> seen = Logged();
    for (const std::string& tag : acked) ASSERT_EQ(seen[tag], 1) << tag << " in round " << round;
    for (const auto& [tag, times] : seen) ASSERT_EQ(times, 1) << tag;
    for (const std::string& path : ListLogFiles(local_, "AESERVLOG_*.xml")) {
      CLogFile file;
      ASSERT_TRUE(OpenLogDocument(path, false, false, file) || std::filesystem::file_size(path) == 0) << path;
    }
  }
  for (const std::string& path : ListLogFiles(local_, "AESERVLOG_*.xml")) {
    CLogFile file;
    ASSERT_TRUE(file.Open(path, true));
    EXPECT_EQ(AppendRecordToLogFile(file, SampleRecord(1)), AppendOutcome::kSaved) << path;
  }
}

}  // namespace
