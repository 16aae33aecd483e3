// Date parsing and the date-time value of the log, and the path helper.
#include <gtest/gtest.h>

#include "acklog/date_time.h"
#include "platform/path_text.h"

namespace {

constexpr const char* kFull = "%Y-%m-%d %H:%M:%S";

TEST(ParseDateTime, FullTextGivesThatDateAndTime) {
  CDateTime t;
  ASSERT_TRUE(ParseDateTime("2024-05-01 13:07:42", kFull, t));
  EXPECT_EQ(t, CDateTime::FromParts(2024, 5, 1, 13, 7, 42));
  EXPECT_EQ(t.Format(), "2024-05-01 13:07:42");
}

TEST(ParseDateTime, DateOnlyTextWithFullFormatGivesMidnight) {
  CDateTime t;
  ASSERT_TRUE(ParseDateTime("2024-05-01", kFull, t));
  EXPECT_EQ(t, CDateTime::FromParts(2024, 5, 1));
  ASSERT_TRUE(ParseDateTime("2024-05-01", "%Y-%m-%d", t));
  EXPECT_EQ(t.Format(false), "2024-05-01");
}

TEST(ParseDateTime, MismatchOrMissingDateFailsAndLeavesResult) {
  CDateTime t = CDateTime::FromParts(2000, 1, 1);
  EXPECT_FALSE(ParseDateTime("2024/05/01 13:07:42", kFull, t));
  EXPECT_FALSE(ParseDateTime("", kFull, t));
  EXPECT_FALSE(ParseDateTime("2024-05", kFull, t));
  EXPECT_FALSE(ParseDateTime("2024-05-01", "%Y-%m-%q", t));
  EXPECT_FALSE(ParseDateTime("2024-05-01x", "%Y-%m-%d%", t));
  EXPECT_TRUE(ParseDateTime("2024-05-01", "%Y-%m-%d%", t));  // the text ran out first
  t = CDateTime::FromParts(2000, 1, 1);
  EXPECT_FALSE(ParseDateTime("Invalid DateTime", "%Y-%m-%d", t));
  EXPECT_EQ(t, CDateTime::FromParts(2000, 1, 1));
}

TEST(ParseDateTime, OutOfRangeFieldsGiveInvalidButSucceed) {
  CDateTime t;
  ASSERT_TRUE(ParseDateTime("2024-13-01 00:00:00", kFull, t));
  EXPECT_EQ(t.GetStatus(), CDateTime::kInvalid);
  EXPECT_EQ(t.Format(), "Invalid DateTime");
  ASSERT_TRUE(ParseDateTime("2023-02-29", "%Y-%m-%d", t));
  EXPECT_EQ(t.GetStatus(), CDateTime::kInvalid);
}

TEST(ParseDateTime, DirectivesMoveByFixedWidthWhateverTheDigits) {
  // "%2d" reads "5-" as 5 and the text moves on two characters.
  CDateTime t;
  ASSERT_TRUE(ParseDateTime("2024-5-01", "%Y-%m%d", t));
  EXPECT_EQ(t, CDateTime::FromParts(2024, 5, 1));
}

TEST(CDateTime, StatusRulesOfFormatAndComparison) {
  CDateTime null;
  CDateTime invalid = CDateTime::FromParts(2024, 13, 1);
  CDateTime a = CDateTime::FromParts(2024, 5, 1), b = CDateTime::FromParts(2024, 5, 2);
  EXPECT_EQ(null.Format(), "");
  EXPECT_TRUE(b.IsAfter(a));
  EXPECT_TRUE(a.IsBefore(b));
  EXPECT_FALSE(a.IsAfter(a));
  EXPECT_FALSE(null.IsAfter(a));
  EXPECT_FALSE(a.IsAfter(null));
  EXPECT_FALSE(a.IsAfter(invalid));
  EXPECT_FALSE(invalid.IsBefore(a));
}

TEST(CDateTime, DaysAndDatePart) {
  CDateTime t = CDateTime::FromParts(2024, 2, 28, 23, 59, 59);
  EXPECT_EQ(t.DatePart().AddDays(2).Format(), "2024-03-01 00:00:00");
  EXPECT_EQ(CDateTime::FromParts(1969, 12, 31, 12).DatePart().Format(), "1969-12-31 00:00:00");
  EXPECT_EQ(CDateTime::FromParts(9999, 12, 31).AddDays(1).GetStatus(), CDateTime::kInvalid);
  EXPECT_EQ(CDateTime().AddDays(1).GetStatus(), CDateTime::kNull);
}

TEST(CDateTime, FileTimeRoundTripAndNullForNever) {
  SYSTEMTIME st{2024, 5, 0, 1, 13, 7, 42, 250};
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  CDateTime t = CDateTime::FromFileTime(ft);
  EXPECT_EQ(t, CDateTime::FromParts(2024, 5, 1, 13, 7, 42));
  FILETIME back;
  ASSERT_TRUE(t.ToFileTime(back));
  EXPECT_EQ(FileTimeToUint64(back), FileTimeToUint64(ft) - 2'500'000);
  EXPECT_EQ(CDateTime::FromFileTime(FILETIME{}).GetStatus(), CDateTime::kNull);
  EXPECT_FALSE(CDateTime::FromParts(1600, 1, 1).ToFileTime(back));
}

TEST(EnsureTrailingBackslash, AddsSeparatorOnlyWhereMissing) {
  EXPECT_EQ(EnsureTrailingBackslash(""), "");
  EXPECT_EQ(EnsureTrailingBackslash("/var/log"), "/var/log/");
  EXPECT_EQ(EnsureTrailingBackslash("/var/log/"), "/var/log/");
  EXPECT_EQ(EnsureTrailingBackslash("C:\\Logs\\"), "C:\\Logs\\");
}

}  // namespace
