// COM basics, system information and the timer period stand-in.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/com.h"
#include "platform/mmtimer.h"
#include "platform/sysinfo.h"

namespace {

TEST(Guid, TextRoundTripsAndRejectsMalformedText) {
  const GUID g{0x00112233, 0x4455, 0x6677, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};
  EXPECT_EQ(GuidToString(g), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
  GUID back;
  ASSERT_TRUE(GuidFromString("{00112233-4455-6677-8899-aabbccddeeff}", back));
  EXPECT_EQ(back, g);
  ASSERT_TRUE(GuidFromString("00112233-4455-6677-8899-AABBCCDDEEFF", back));
  EXPECT_EQ(back, g);
  GUID untouched = GUID_NULL;
  for (const char* bad : {"", "{00112233-4455-6677-8899-AABBCCDDEEFF", "{00112233-4455-6677-8899AABBCCDDEEFF0}",
                          "{0011223G-4455-6677-8899-AABBCCDDEEFF}", "(00112233-4455-6677-8899-AABBCCDDEEFF)"})
    EXPECT_FALSE(GuidFromString(bad, untouched)) << bad;
  EXPECT_EQ(untouched, GUID_NULL);
}

TEST(TaskAllocator, DuplicatesStrings) {
  char* copy = CoTaskMemStrDup("alarm");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "alarm");
  CoTaskMemFree(copy);
  CoTaskMemFree(nullptr);
  EXPECT_EQ(HRESULT_FROM_WIN32(2), static_cast<HRESULT>(0x80070002));
  EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
}

TEST(SysInfo, NamesThisMachineAndProgram) {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_EQ(GetComputerName(), host);
  std::string program = GetProgramPath();
  EXPECT_TRUE(std::filesystem::equivalent(program, "/proc/self/exe"));
  std::string folder = GetProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(program.rfind(folder, 0), 0u);
}

TEST(MultimediaTimer, PeriodsBalance) {
  TIMECAPS caps{};
  ASSERT_EQ(timeGetDevCaps(&caps, sizeof caps), TIMERR_NOERROR);
  EXPECT_EQ(caps.wPeriodMin, 1u);
  EXPECT_EQ(caps.wPeriodMax, 1000000u);
  EXPECT_EQ(timeGetDevCaps(nullptr, sizeof caps), TIMERR_NOCANDO);
  EXPECT_EQ(timeGetDevCaps(&caps, 3), TIMERR_NOCANDO);

  EXPECT_EQ(timeBeginPeriod(0), TIMERR_NOCANDO);
  EXPECT_EQ(timeBeginPeriod(1000001), TIMERR_NOCANDO);
  EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(TEST_TimerPeriodUses(1), 2u);
  EXPECT_EQ(timeEndPeriod(5), TIMERR_NOCANDO) << "never begun";
  EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(timeEndPeriod(1), TIMERR_NOCANDO) << "more ends than begins";
  EXPECT_EQ(TEST_TimerPeriodUses(1), 0u);
}

}  // namespace
