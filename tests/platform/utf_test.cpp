#include "platform/utf.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf, RoundTripThroughUtf16LeKeepsEveryPlane) {
  const std::string text = "Tank \xC3\xBC" "ber 80 \xE2\x82\xAC \xF0\x9F\x94\xA5 done";  // ü, €, an emoji
  std::string wide = Utf8ToUtf16Le(text);
  // The emoji is a surrogate pair: 4 bytes; no byte-order mark in front.
  EXPECT_EQ(wide.size(), 2u * 20 + 4);
  EXPECT_EQ(wide.substr(0, 2), std::string("T\0", 2));
  EXPECT_EQ(Utf16LeToUtf8(wide), text);
}

TEST(Utf, MalformedInputBecomesReplacementCharacters) {
  const std::string replacement = "\xEF\xBF\xBD";
  // A stray continuation byte, an overlong '/', an encoded surrogate.
  EXPECT_EQ(Utf16LeToUtf8(Utf8ToUtf16Le("a\x80" "b")), "a" + replacement + "b");
  EXPECT_EQ(Utf16LeToUtf8(Utf8ToUtf16Le("\xC0\xAF")), replacement + replacement);
  EXPECT_EQ(Utf16LeToUtf8(Utf8ToUtf16Le("\xED\xA0\x80")), replacement + replacement + replacement);
  // A lone high surrogate, a lone low surrogate, an odd trailing byte.
  EXPECT_EQ(Utf16LeToUtf8(std::string("\x00\xD8" "A\0", 4)), replacement + "A");
  EXPECT_EQ(Utf16LeToUtf8(std::string("\x00\xDC", 2)), replacement);
  EXPECT_EQ(Utf16LeToUtf8(std::string("A\0B", 3)), "A");
}

TEST(Utf, DecodeLeavesThePositionAloneOnFailure) {
  size_t i = 1;
  char32_t c = 0;
  EXPECT_FALSE(DecodeUtf8("a\xE2\x82", i, c));  // truncated
  EXPECT_EQ(i, 1u);
  EXPECT_TRUE(DecodeUtf8("a\xE2\x82\xAC", i, c));
  EXPECT_EQ(c, U'\u20AC');
  EXPECT_EQ(i, 4u);
  EXPECT_FALSE(DecodeUtf8("a", i, c));  // past the end
}

TEST(Utf, FoldCaseIgnoresCaseBeyondAscii) {
  EXPECT_EQ(FoldCase("Größe.exe"), FoldCase("GRÖßE.EXE"));
  EXPECT_EQ(FoldCase("déjà-vu"), "DÉJÀ-VU");
  EXPECT_NE(FoldCase("a.exe"), FoldCase("b.exe"));
  // Bytes that are not UTF-8 are compared as they are.
  EXPECT_EQ(FoldCase("x\xE9y"), "X\xE9Y");
}

}  // namespace
