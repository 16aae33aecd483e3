#include "alarmconfig/area_path.h"

#include <gtest/gtest.h>

namespace {

TEST(NormalizeAreaPath, BlanksStraySlashesAndDoubledSlashes) {
  const std::pair<const char*, const char*> cases[] = {
      {"abcdefg hijklmonp/", "abcdefg_hijklmonp_"},
      {"abcdefg/hijklmonp", "abcdefg/hijklmonp"},
      {"/abcdefghijklmonp", "_abcdefghijklmonp"},
      {"abcdefghijklm//onp", "abcdefghijklm/onp"},
      {"//abcdefghijklmonp", "_/abcdefghijklmonp"},
      {"abcdefghijklmonp//", "abcdefghijklmonp/_"},
      {"abcd///efghijklmonp", "abcd/efghijklmonp"},
      {"///abcdefg hijklmonp/", "_/abcdefg_hijklmonp_"},
      {"abcde///", "abcde/_"},
      {"//", "__"},
      {"/", "_"},
      {"%bcdefg", "%bcdefg"},
      {"", ""},
      // The documented examples of the configuration format.
      {"Tank Farm/T-101", "Tank_Farm/T-101"},
      {"Reactor Area/R-301 ", "Reactor_Area/R-301_"},
      {"Utilities / Cooling Water", "Utilities_/_Cooling_Water"},
      {"Pump Station/", "Pump_Station_"},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(NormalizeAreaPath(input), expected) << input;
}

}  // namespace
