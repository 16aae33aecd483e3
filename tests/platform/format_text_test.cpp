// Numbered message arguments filled into string-table texts.
#include "platform/format_text.h"

#include <gtest/gtest.h>

namespace {

TEST(FormatText, FillsEveryNumberedArgumentInOnePass) {
  EXPECT_EQ(FormatText("Error: Existing activation time (%1) does not match incoming time (%2)", {"a", "b"}),
            "Error: Existing activation time (a) does not match incoming time (b)");
  // Out of order and repeated.
  EXPECT_EQ(FormatText("%2 before %1, %1 again", {"one", "two"}), "two before one, one again");
  EXPECT_EQ(FormatText("%1%1%1", {"x"}), "xxx");
  // An argument is never read for arguments of its own.
  EXPECT_EQ(FormatText("[%1] [%2]", {"%2", "%1"}), "[%2] [%1]");
  EXPECT_EQ(FormatText("%1", {"100 %1 %"}), "100 %1 %");
  // The parser's reason as the import shows it, newline and all.
  EXPECT_EQ(FormatText("summary:  \n%1", {"line 2: Opening and ending tag mismatch"}),
            "summary:  \nline 2: Opening and ending tag mismatch");
}

TEST(FormatText, LeavesWhatHasNoArgumentAsWritten) {
  EXPECT_EQ(FormatText("Couldn't find variable %1", {}), "Couldn't find variable %1");
  EXPECT_EQ(FormatText("%1 and %2", {"first"}), "first and %2");
  EXPECT_EQ(FormatText("%0 %a %% 50% %", {"x"}), "%0 %a %% 50% %");
  EXPECT_EQ(FormatText("Result 0x%08X", {"x"}), "Result 0x%08X");
  EXPECT_EQ(FormatText("", {"x"}), "");
  EXPECT_EQ(FormatText("%12", {"one"}), "one2");  // one digit per argument number
}

}  // namespace
