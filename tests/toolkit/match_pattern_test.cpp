// The filter-string syntax of area and source filters.
#include <gtest/gtest.h>

#include "toolkit/match_pattern.h"

namespace {

TEST(MatchPatternTest, WildcardElements) {
  EXPECT_TRUE(MatchPattern("Plant/Unit1/TIC100.A", "Plant/*"));
  EXPECT_TRUE(MatchPattern("Plant/Unit1", "Plant/Unit?"));
  EXPECT_FALSE(MatchPattern("Plant/Unit12", "Plant/Unit?"));
  EXPECT_TRUE(MatchPattern("Unit7", "Unit#"));
  EXPECT_FALSE(MatchPattern("UnitX", "Unit#"));
  EXPECT_TRUE(MatchPattern("", "*"));
  EXPECT_TRUE(MatchPattern("abc", "a*c"));
  EXPECT_TRUE(MatchPattern("abcbc", "*bc"));
  EXPECT_TRUE(MatchPattern("aXbXc", "a*b*c"));
  EXPECT_FALSE(MatchPattern("abcd", "a*c"));
  EXPECT_FALSE(MatchPattern("Plant", "Plan"));
  EXPECT_FALSE(MatchPattern("Plan", "Plant"));
}

TEST(MatchPatternTest, CharacterLists) {
  EXPECT_TRUE(MatchPattern("B", "[A-C]"));
  EXPECT_FALSE(MatchPattern("D", "[A-C]"));
  EXPECT_TRUE(MatchPattern("Y", "[A-CX-Z]"));
  EXPECT_TRUE(MatchPattern("D", "[!A-C]"));
  EXPECT_FALSE(MatchPattern("B", "[!A-C]"));
  EXPECT_TRUE(MatchPattern("-", "[-A]"));
  EXPECT_TRUE(MatchPattern("-", "[A-]"));
  EXPECT_TRUE(MatchPattern("*", "[*]"));
  EXPECT_FALSE(MatchPattern("x", "[*]"));
  EXPECT_TRUE(MatchPattern("a[b", "a[[]b"));
  EXPECT_TRUE(MatchPattern("a]", "a]"));
}

TEST(MatchPatternTest, MalformedPatternsMatchNothing) {
  EXPECT_FALSE(IsValidPattern("[A-C"));
  EXPECT_FALSE(IsValidPattern("[Z-A]"));
  EXPECT_FALSE(IsValidPattern("[]"));
  EXPECT_FALSE(MatchPattern("B", "[A-C"));
  EXPECT_FALSE(MatchPattern("B", "[Z-A]"));
  EXPECT_TRUE(IsValidPattern("Plant/*/T[!0-9]?#"));
  EXPECT_TRUE(IsValidPattern(""));
}

TEST(MatchPatternTest, CaseAndUtf8) {
  EXPECT_FALSE(MatchPattern("plant", "PLANT"));
  EXPECT_TRUE(MatchPattern("plant", "PLANT", false));
  EXPECT_TRUE(MatchPattern("b", "[A-C]", false));
  EXPECT_TRUE(MatchPattern("Kühler", "K?hler"));
  EXPECT_TRUE(MatchPattern("ü", "[ä-ü]"));
  // Overlong spellings are bytes of their own: no wildcard, no range, and
  // not the character they spell.
  EXPECT_FALSE(MatchPattern("x", "\xC0\xBF"));
  EXPECT_TRUE(MatchPattern("\xC0\xBF", "\xC0\xBF"));
  EXPECT_TRUE(IsValidPattern("[\xA2\xC0\xADR]"));
  EXPECT_FALSE(MatchPattern("-", "[\xA2\xC0\xADR]"));
  EXPECT_TRUE(MatchPattern("R", "[\xA2\xC0\xADR]"));
  // A surrogate is three characters of a byte each.
  EXPECT_FALSE(MatchPattern("\xED\xA0\x80", "?"));
  EXPECT_TRUE(MatchPattern("\xED\xA0\x80", "\xED?\x80"));
  EXPECT_TRUE(HasWildcards("A*"));
  EXPECT_FALSE(HasWildcards("Plant/Unit1"));
}

}  // namespace
