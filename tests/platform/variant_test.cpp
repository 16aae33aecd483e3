#include "platform/variant.h"

#include <gtest/gtest.h>

namespace {

VARIANT Converted(VARIANT v, VARTYPE to, HRESULT expected = S_OK) {
  VARIANT before = v;
  EXPECT_EQ(v.ChangeType(to), expected) << "from vt " << before.vt << " to " << to;
  if (FAILED(expected)) {
    EXPECT_TRUE(v == before) << "a failed conversion leaves the value alone";
  }
  return v;
}

TEST(Variant, TypedReadsRefuseOtherTypes) {
  VARIANT v = VARIANT::I4(7);
  uint32_t u = 99;
  EXPECT_EQ(v.GetUI4(u), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(u, 99u);
  int32_t i = 0;
  EXPECT_EQ(v.GetI4(i), S_OK);
  EXPECT_EQ(i, 7);
  std::string s = "kept";
  EXPECT_EQ(VARIANT::R8(1.5).GetBstr(s), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(s, "kept");
}

TEST(Variant, NumbersConvertWithRoundingAndRangeChecks) {
  EXPECT_TRUE(Converted(VARIANT::R8(2.5), VT_I4) == VARIANT::I4(2)) << "half to even";
  EXPECT_TRUE(Converted(VARIANT::R8(3.5), VT_I4) == VARIANT::I4(4));
  EXPECT_TRUE(Converted(VARIANT::R8(-1.6), VT_I2) == VARIANT::I2(-2));
  EXPECT_TRUE(Converted(VARIANT::I4(65535), VT_UI2) == VARIANT::UI2(65535));
  Converted(VARIANT::I4(65536), VT_UI2, DISP_E_OVERFLOW);
  Converted(VARIANT::I4(-1), VT_UI4, DISP_E_OVERFLOW);
  Converted(VARIANT::R8(1e300), VT_R4, DISP_E_OVERFLOW);
  Converted(VARIANT::R8(3e9), VT_I4, DISP_E_OVERFLOW);
  EXPECT_TRUE(Converted(VARIANT::UI4(4000000000u), VT_R8) == VARIANT::R8(4e9));
  EXPECT_TRUE(Converted(VARIANT::R4(0.5f), VT_DATE) == VARIANT::Date(0.5));
  EXPECT_TRUE(Converted(VARIANT(), VT_I4) == VARIANT::I4(0)) << "empty is zero";
}

TEST(Variant, BoolConvertsAsOleDoes) {
  EXPECT_TRUE(Converted(VARIANT::Boolean(true), VT_I4) == VARIANT::I4(-1));
  EXPECT_TRUE(Converted(VARIANT::Boolean(true), VT_UI2) == VARIANT::UI2(0xFFFF));
  EXPECT_TRUE(Converted(VARIANT::I2(5), VT_BOOL) == VARIANT::Boolean(true));
  EXPECT_TRUE(Converted(VARIANT::R8(0.0), VT_BOOL) == VARIANT::Boolean(false));
  EXPECT_TRUE(Converted(VARIANT::Bstr(" True "), VT_BOOL) == VARIANT::Boolean(true));
  EXPECT_TRUE(Converted(VARIANT::Bstr("0"), VT_BOOL) == VARIANT::Boolean(false));
  EXPECT_TRUE(Converted(VARIANT::Boolean(true), VT_BSTR) == VARIANT::Bstr("-1"));
  Converted(VARIANT::Bstr("maybe"), VT_BOOL, DISP_E_TYPEMISMATCH);
}

TEST(Variant, TextConvertsBothWays) {
  EXPECT_TRUE(Converted(VARIANT::Bstr(" 42 "), VT_I4) == VARIANT::I4(42));
  EXPECT_TRUE(Converted(VARIANT::Bstr("2.5e1"), VT_R8) == VARIANT::R8(25));
  Converted(VARIANT::Bstr("12abc"), VT_I4, DISP_E_TYPEMISMATCH);
  Converted(VARIANT::Bstr(""), VT_I4, DISP_E_TYPEMISMATCH);
  Converted(VARIANT::Bstr("70000"), VT_I2, DISP_E_OVERFLOW);
  EXPECT_TRUE(Converted(VARIANT::I4(-17), VT_BSTR) == VARIANT::Bstr("-17"));
  EXPECT_TRUE(Converted(VARIANT::R8(0.1), VT_BSTR) == VARIANT::Bstr("0.1"));
  EXPECT_TRUE(Converted(VARIANT::R4(1.5f), VT_BSTR) == VARIANT::Bstr("1.5"));
  EXPECT_TRUE(Converted(VARIANT(), VT_BSTR) == VARIANT::Bstr(""));
  Converted(VARIANT::Date(45000.5), VT_BSTR, DISP_E_TYPEMISMATCH);
}

TEST(Variant, UnconvertibleAndUnknownTypes) {
  VARIANT null;
  null.vt = VT_NULL;
  Converted(null, VT_I4, DISP_E_TYPEMISMATCH);
  Converted(VARIANT::I4(1), VT_EMPTY, DISP_E_TYPEMISMATCH);
  Converted(VARIANT::I4(1), 99, DISP_E_BADVARTYPE);
  EXPECT_TRUE(Converted(VARIANT::I4(1), VT_I4) == VARIANT::I4(1));
}

TEST(Variant, EqualityNeedsTypeAndValue) {
  EXPECT_TRUE(VARIANT::Bstr("a") == VARIANT::Bstr("a"));
  EXPECT_FALSE(VARIANT::Bstr("a") == VARIANT::Bstr("A"));
  EXPECT_FALSE(VARIANT::I4(1) == VARIANT::UI4(1));
  EXPECT_TRUE(VARIANT() == VARIANT());
  VARIANT v = VARIANT::Bstr("x");
  VariantClear(&v);
  EXPECT_TRUE(v == VARIANT());
}

}  // namespace
