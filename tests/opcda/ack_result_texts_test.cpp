// The write-back's outcome texts from the string table: their arguments,
// the operator's local date and time, and the times that have no text.
#include "opcda/ack_result_texts.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>

#include "alarmconfig/resource_string_table.h"

namespace {

class AckResultTextsTest : public testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);  // Central Europe, without tzdata
    tzset();
    CResourceStringTable strings;
    std::string error;
    ASSERT_TRUE(strings.Load(AE_STRINGS_XML, &error)) << error;
    previous_ = strings.Install();
  }
  void TearDown() override { SetResourceStringProvider(std::move(previous_)); }

  // 2024-06-03 10:00:00 UTC plus `seconds`.
  static FILETIME Time(int seconds) {
    return Uint64ToFileTime(133'618'824'000'000'000 + uint64_t(seconds) * kFileTimeTicksPerSecond);
  }

  ResourceStringProvider previous_;
};

TEST_F(AckResultTextsTest, TimeMismatchShowsBothTimesInLocalTime) {
  EXPECT_EQ(AckTimeMismatchText(Time(0), Time(65)),
            "Error: Existing activation time (06/03/24 12:00:00) does not match incoming time (06/03/24 12:01:05)");
  // No time yet: no text; one past what a calendar holds: "Invalid DateTime".
  EXPECT_EQ(AckTimeMismatchText(FILETIME{}, Time(0)),
            "Error: Existing activation time () does not match incoming time (06/03/24 12:00:00)");
  EXPECT_EQ(AckTimeMismatchText(Time(0), Uint64ToFileTime(~uint64_t{0})),
            "Error: Existing activation time (06/03/24 12:00:00) does not match incoming time (Invalid DateTime)");
}

TEST_F(AckResultTextsTest, TheOtherOutcomes) {
  EXPECT_EQ(AckNotConnectedText(), "Error: Not Connected to Ralto Stewardry Edition OPC Server");
  EXPECT_EQ(AckNoVariableText("N1.LS5.FC"), "Error: Couldn't find variable N1.LS5.FC");
  EXPECT_EQ(AckNoVariableText("N1.%2.FC"), "Error: Couldn't find variable N1.%2.FC");
  EXPECT_EQ(AckWriteResultText(S_OK, S_OK), "Success");
  EXPECT_EQ(AckWriteResultText(S_FALSE, static_cast<HRESULT>(0xC0040007)),
            "Error: OPC Write failed: Result 0x00000001, Error 0xC0040007");
  EXPECT_EQ(AckWriteResultText(E_FAIL, S_OK), "Error: OPC Write failed: Result 0x80004005, Error 0x00000000");
}

}  // namespace
