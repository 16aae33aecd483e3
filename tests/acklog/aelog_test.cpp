// aelog list: the viewer's filters from the command line, one line per record.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "acklog/log_append.h"
#include "acklog_test_support.h"

namespace {

struct AelogRun {
  int status;
  std::vector<std::string> lines;
};

AelogRun Aelog(const std::string& arguments) {
  AelogRun run{-1, {}};
  FILE* out = popen((std::string(AELOG_PATH) + " " + arguments + " 2>/dev/null").c_str(), "r");
  if (!out) return run;
  std::string text;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
  int status = pclose(out);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    run.lines.push_back(text.substr(start, end - start));
  return run;
}

class AelogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = TestFolder("logs");
    Add("AESERVLOG_2024-05-02.xml", "North", CDateTime::FromParts(2024, 5, 2, 0, 0, 0), "late\r\nsecond\tline");
    Add("AESERVLOG_2024-05-02.xml", "South", CDateTime::FromParts(2024, 5, 1, 9, 30, 0), "early");
    Add("AESERVLOG_CACHE_0.xml", "North", CDateTime::FromParts(2024, 4, 30, 23, 59, 59), "before");
    Add("AESERVLOG_CACHE_0.xml", "West", CDateTime(), "no time");
  }
  void Add(const std::string& name, const std::string& area, const CDateTime& time, const std::string& comment) {
    AckRecord r = SampleRecord(1);
    r.area = area;
    r.ackTime = time;
    r.comment = comment;
    CLogFile file;
    ASSERT_TRUE(file.Open(folder_ + "/" + name, true));
    ASSERT_EQ(AppendRecordToLogFile(file, r), AppendOutcome::kSaved);
  }
  std::string folder_;
};

TEST_F(AelogTest, ListsEveryRecordOldestFirstOneTabSeparatedLineEach) {
  AelogRun run = Aelog("list '" + folder_ + "'");
  ASSERT_EQ(run.status, 0);
  ASSERT_EQ(run.lines.size(), 4u);
  EXPECT_EQ(run.lines[0], "\tWest\tN1\tLIC1.AS\tLevel\tHi\toperator\tno time\tSuccess\tLIC1 high\tPLANTPC1");
  EXPECT_EQ(run.lines[1].substr(0, 26), "2024-04-30 23:59:59\tNorth\t");
  EXPECT_EQ(run.lines[2].substr(0, 26), "2024-05-01 09:30:00\tSouth\t");
  EXPECT_EQ(run.lines[3],
            "2024-05-02 00:00:00\tNorth\tN1\tLIC1.AS\tLevel\tHi\toperator\tlate second line\tSuccess\tLIC1 high\tPLANTPC1");
}

TEST_F(AelogTest, DateWindowCoversWholeDaysAndKeepsRecordsWithoutTime) {
  // [from, to + 1 day): 00:00:00 of the next day is outside, 23:59:59 inside.
  AelogRun run = Aelog("list '" + folder_ + "' --from 2024-05-01 --to 2024-05-01");
  ASSERT_EQ(run.status, 0);
  ASSERT_EQ(run.lines.size(), 2u);
  EXPECT_EQ(run.lines[0].substr(0, 6), "\tWest\t");
  EXPECT_EQ(run.lines[1].substr(0, 19), "2024-05-01 09:30:00");
  AelogRun last = Aelog("list '" + folder_ + "' --to 2024-04-30");
  ASSERT_EQ(last.status, 0);
  ASSERT_EQ(last.lines.size(), 2u);
  EXPECT_EQ(last.lines[1].substr(0, 19), "2024-04-30 23:59:59");
  AelogRun next = Aelog("list '" + folder_ + "' --from 2024-05-02 --to 2024-05-02");
  ASSERT_EQ(next.lines.size(), 2u);
  EXPECT_EQ(next.lines[1].substr(0, 19), "2024-05-02 00:00:00");
}

TEST_F(AelogTest, AreasMatchExactlyAndMayRepeat) {
  AelogRun run = Aelog("list '" + folder_ + "' --area North --area West --area Sou");
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(run.lines.size(), 3u);
}

TEST_F(AelogTest, BadArgumentsAndMissingFolderGiveTheirExitCodes) {
  EXPECT_EQ(Aelog("").status, 2);
  EXPECT_EQ(Aelog("show '" + folder_ + "'").status, 2);
  EXPECT_EQ(Aelog("list '" + folder_ + "' --from 2024-13-01").status, 2);
  EXPECT_EQ(Aelog("list '" + folder_ + "' --from 01.05.2024").status, 2);
  EXPECT_EQ(Aelog("list '" + folder_ + "' --area").status, 2);
  EXPECT_EQ(Aelog("list '" + folder_ + "' --since 2024-05-01").status, 2);
  EXPECT_EQ(Aelog("list '" + folder_ + "/missing'").status, 1);
  EXPECT_EQ(Aelog("--help").status, 0);
}

}  // namespace
