#include "platform/debug.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/debug_capture.h"

namespace {

TEST(DebugOutput, SinkReceivesTextAsGivenAndIsRestored) {
  std::vector<std::string> outer;
  DebugOutputSink previous = SetDebugOutputSink([&](const std::string& t) { outer.push_back(t); });
  EXPECT_FALSE(previous) << "the default sink is reported as empty";
  {
    ScopedDebugCapture capture;
    DebugOutput("first\n");
    DebugOutput("no newline");
    EXPECT_EQ(capture.Lines(), (std::vector<std::string>{"first", "no newline"}));
    EXPECT_TRUE(capture.Contains("newl"));
  }
  DebugOutput("after\n");
  EXPECT_EQ(outer, std::vector<std::string>{"after\n"});
  SetDebugOutputSink(nullptr);
}

TEST(DebugOutput, DefaultSinkWritesToStderr) {
  testing::internal::CaptureStderr();
  DebugOutput("to stderr\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "to stderr\n");
}

TEST(DebugOutput, SinkMayWriteItselfAndThreadsMayRace) {
  std::vector<std::string> seen;
  SetDebugOutputSink([&](const std::string& t) {
    seen.push_back(t);
    if (t == "outer") DebugOutput("inner");
  });
  DebugOutput("outer");
  EXPECT_EQ(seen, (std::vector<std::string>{"outer", "inner"}));
  SetDebugOutputSink(nullptr);

  ScopedDebugCapture capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 250; ++i) DebugOutput("line\n");
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(capture.Lines().size(), 1000u);
}

}  // namespace
