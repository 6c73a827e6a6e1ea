// Number text and numeric functions: STR widths and decimals, the 16-digit limit and rounding
// of doubles, VAL of odd texts and the widths it gives, ROUND at .5, and the math functions.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "rtl/numconv.h"
#include "rtl/set.h"
#include "rtl_call.h"

using namespace std::string_literals;

namespace {

TEST(NumberText, StrWidthsAndDecimals) {
  struct Case {
    const char* expected;
    void (*args)(Call&);
  } cases[] = {
      {" 12.50", [](Call& c) { c.d(12.5).n(6).n(2); }},
      {"***", [](Call& c) { c.n(1234).n(3); }},
      {" -5", [](Call& c) { c.n(-5).n(3); }},
      {"**", [](Call& c) { c.n(-50).n(2); }},  // no room for the sign
      {"    0.3333", [](Call& c) { c.d(1.0 / 3).n(10).n(4); }},
      {"         5", [](Call& c) { c.n(5); }},
      {"         0.33", [](Call& c) { c.d(1.0 / 3); }},  // width 10 of the integer part, 2 decimals
      {"         5", [](Call& c) { c.n(5).n(0); }},      // a width of 0 means 10
      {"5.00", [](Call& c) { c.n(5).n(4).n(2); }},
      {"****", [](Call& c) { c.n(50).n(4).n(2); }},
      {".50", [](Call& c) { c.d(0.5).n(3).n(2); }},       // no room for the 0
      {"-.50", [](Call& c) { c.d(-0.5).n(4).n(2); }},     // the sign keeps its place, the 0 goes
      {"-0.50", [](Call& c) { c.d(-0.5).n(5).n(2); }},
      {"***", [](Call& c) { c.d(-0.5).n(3).n(2); }},      // never a positive-looking text
      {"****", [](Call& c) { c.d(-5.5).n(4).n(2); }},
      {"  -0", [](Call& c) { c.d(-0.3).n(4); }},
      {"  0", [](Call& c) { c.d(0.3).n(3); }},
      {"  1", [](Call& c) { c.d(0.5).n(3); }},
      {"  3", [](Call& c) { c.d(2.5).n(3); }},
      {" -3", [](Call& c) { c.d(-2.5).n(3); }},
      {"  0.13", [](Call& c) { c.d(0.125).n(6).n(2); }},
      {"  1.01", [](Call& c) { c.d(1.005).n(6).n(2); }},  // 1.00499999... shows as the decimal 1.005 would
      {"  2.68", [](Call& c) { c.d(2.675).n(6).n(2); }},
      {"  0.15", [](Call& c) { c.d(0.145).n(6).n(2); }},
      {" -1.01", [](Call& c) { c.d(-1.005).n(6).n(2); }},
      {"  0.00", [](Call& c) { c.d(0.0045).n(6).n(2); }},  // 0.00449999...: the next digit is a 4
      {"0.0", [](Call& c) { c.d(0.04).n(3).n(1); }},
      {"10.0", [](Call& c) { c.d(9.96).n(4).n(1); }},
      {"****", [](Call& c) { c.d(99.96).n(4).n(1); }},
      {"  123456789012345700", [](Call& c) { c.d(123456789012345678.0).n(20); }},  // 16 digits
      {"-15454169734.140000", [](Call& c) { c.d(-15454169734.14).n(19).n(6); }},
      {"0.66666666666666660000", [](Call& c) { c.d(2.0 / 3).n(22).n(20); }},
      {"  123456789012345678", [](Call& c) { c.n(123456789012345678LL).n(20); }},
      {"0.33333333333333330000", [](Call& c) { c.d(1.0 / 3).n(22).n(20); }},
      {"-9223372036854775808", [](Call& c) { c.n(INT64_MIN).n(20); }},
      {"         1.0", [](Call& c) { c.d(1.0, 1); }},
      {"5", [](Call& c) { c.n(5).n(1).n(0); }},
      {"*", [](Call& c) { c.n(5).n(1).n(5); }},
  };
  for (const Case& c : cases) {
    Call call("STR");
    c.args(call);
    EXPECT_EQ(call.str(), c.expected);
  }
}

TEST(NumberText, StrWithTrimFlag) {
  EXPECT_EQ(Call("STR").n(-3).nil().nil().l(true).str(), "-3");
  EXPECT_EQ(Call("STR").d(2.5, 1).nil().nil().l(true).str(), "2.5");
  EXPECT_EQ(Call("STR").n(42).nil().nil().l(false).str(), "        42");
  EXPECT_EQ(Call("STR").d(12.345).n(8).n(1).l(true).str(), "12.3") << "width and decimals apply when given";
}

TEST(NumberText, NotFiniteAndOddWidths) {
  VlItem v;
  v.type = VL_IT_NIL;
  vl_itemPutNDLen(&v, INFINITY, 10, 2);
  EXPECT_EQ(shown(v), "*************");
  vl_itemPutNDLen(&v, NAN, 0, 2);
  EXPECT_EQ(shown(v).find_first_not_of('*'), std::string::npos);
  vl_itemPutNDLen(&v, 1.5, 99, 1);
  EXPECT_EQ(Call("STR").item(&v).n(5).n(1).str(), "*****") << "a stored width of 99 marks an overflow";
  char buf[4];
  vl_itemPutNI(&v, 12);
  EXPECT_TRUE(vl_itemStrBuf(buf, &v, 4, 1));
  EXPECT_EQ(std::string(buf, 4), "12.0");
  EXPECT_FALSE(vl_itemStrBuf(buf, &v, 2, 1));
  EXPECT_EQ(std::string(buf, 2), "**");
  vl_itemClear(&v);
}

TEST(NumberText, FixedSettingAppliesToDisplayNotToStr) {
  SetGuard fixed(VL_SET_FIXED), decimals(VL_SET_DECIMALS);
  VlItem v;
  v.type = VL_IT_NIL;
  vl_itemPutNI(&v, 5);
  Call("SET").n(VL_SET_FIXED).l(true).run();
  Call("SET").n(VL_SET_DECIMALS).n(3).run();
  EXPECT_EQ(shown(v), "         5.000");
  EXPECT_EQ(Call("STR").n(5).str(), "         5");
  vl_itemPutNDLen(&v, -2.5, 0, 1);
  EXPECT_EQ(shown(v), "        -2.500");
  EXPECT_EQ(Call("STR").item(&v).str(), "        -2.5") << "ten places for the integer part";
  Call("SET").n(VL_SET_FIXED).l(false).run();
  EXPECT_EQ(shown(v), "        -2.5");
  vl_itemClear(&v);
}

TEST(NumberText, ValOfOddTexts) {
  struct Case {
    std::string text;
    double value;
    bool isDouble;
    int width, decimals;
  } cases[] = {
      {"  12.50", 12.5, true, 4, 2},
      {"12ab.345", 12, true, 4, 3},
      {"abc", 0, false, 3, 0},
      {"", 0, false, 10, 0},  // a width of 0 falls back to the default
      {"  -12", -12, false, 5, 0},
      {"+7", 7, false, 2, 0},
      {"-5.5", -5.5, true, 2, 1},
      {".5", 0.5, true, 1, 1},
      {"-.25", -0.25, true, 1, 2},
      {"1e5", 1, false, 3, 0},
      {"12.", 12, false, 3, 0},
      {"1.2.3", 1.2, true, 1, 1},
      {"\t\r\n 3", 3, false, 5, 0},
      {"12\0" "34"s, 12, false, 5, 0},
      {"0x1F", 0, false, 4, 0},
      {"9223372036854775807", 9223372036854775807.0, false, 19, 0},
      {"99999999999999999999", 1e20, true, 20, 0},
      {"12345678901.5", 12345678901.5, true, 20, 1},
      {"        123.4", 123.4, true, 20, 1},  // the integer part spans more than 10 characters
      {"-999999999.5", -999999999.5, true, 20, 1},
  };
  for (const Case& c : cases) {
    Call call("VAL");
    const VlItem& r = call.s(c.text).run();
    ASSERT_TRUE(VL_IS_NUMERIC(&r)) << c.text;
    EXPECT_DOUBLE_EQ(vl_itemGetND(&r), c.value) << c.text;
    EXPECT_EQ(VL_IS_DOUBLE(&r), c.isDouble) << c.text;
    int w, d;
    vl_itemGetNLen(&r, &w, &d);
    EXPECT_EQ(w, c.width) << c.text;
    EXPECT_EQ(d, c.decimals) << c.text;
  }
  EXPECT_EQ(shown(Call("VAL").s("12ab.345").run()), "  12.000");
}

TEST(NumberText, MacroFormReadsHexadecimal) {
  int64_t i;
  double d;
  int dec, width;
  EXPECT_FALSE(vl_valStrnToNum("0x1F", 4, &i, &d, &dec, &width, true));
  EXPECT_EQ(i, 31);
  EXPECT_FALSE(vl_valStrnToNum("-0XfF", 5, &i, &d, &dec, &width, true));
  EXPECT_EQ(i, -255);
}

// STR and VAL invert each other for every value with two decimals.
TEST(NumberText, StrValRoundTrip) {
  std::mt19937_64 rng(42);
  std::uniform_int_distribution<int64_t> dist(-999999999999LL, 999999999999LL);
  for (int i = 0; i < 20000; ++i) {
    int64_t cents = dist(rng);
    double x = static_cast<double>(cents) / 100;
    Call str("STR");
    const VlItem& text = str.d(x).n(20).n(2).run();
    Call val("VAL");
    ASSERT_EQ(val.item(&text).num(), x) << vl_itemGetCPtr(&text);
  }
}

// Every value written with up to 15 significant digits and shown with at most 15 shows as that
// decimal would, rounded half away from zero, whatever its binary value: a model in integer
// arithmetic decides.
TEST(NumberText, DecimalsShowAsWritten) {
  std::mt19937_64 rng(7);
  int64_t pow10[19] = {1};
  for (int i = 1; i < 19; ++i) pow10[i] = pow10[i - 1] * 10;
  for (int i = 0; i < 50000; ++i) {
    int d = static_cast<int>(rng() % 7);                                  // decimals written
    int64_t k = static_cast<int64_t>(rng() % static_cast<uint64_t>(pow10[9 + rng() % 6]));  // up to 14 digits
    bool neg = rng() & 1;
    int dec = static_cast<int>(rng() % 9);                                // decimals shown
    // Within the 15 digits a double always carries; beyond them the 16-digit text may differ.
    if (static_cast<int>(std::to_string(k).size()) - d + dec > 15) continue;
    double x = static_cast<double>(neg ? -k : k) / static_cast<double>(pow10[d]);
    std::string digits;  // the value in units of 10^-dec
    if (dec >= d) {
      digits = std::to_string(k) + std::string(static_cast<size_t>(dec - d), '0');
    } else {
      int64_t unit = pow10[d - dec];
      digits = std::to_string(k / unit + (k % unit * 2 >= unit ? 1 : 0));
    }
    if (dec > 0) {
      if (digits.size() <= static_cast<size_t>(dec)) digits.insert(0, static_cast<size_t>(dec) + 1 - digits.size(), '0');
      digits.insert(digits.size() - static_cast<size_t>(dec), ".");
    }
    if (neg && k != 0) digits.insert(0, "-");  // a negative value keeps its sign at -0.00
    Call str("STR");
    std::string got = str.d(x).n(25).n(dec).l(true).str();
    ASSERT_EQ(got, digits) << (neg ? "-" : "") << k << "e-" << d << " with " << dec << " decimals";
  }
}

TEST(Rounding, HalfCasesAndDigits) {
  struct Case {
    double x;
    int n;
    double expected;
  } cases[] = {
      {2.5, 0, 3},     {-2.5, 0, -3},    {0.5, 0, 1},     {-0.5, 0, -1},   {1.5, 0, 2},
      {1234.5, -2, 1200}, {1250, -2, 1300}, {-1250, -2, -1300}, {1.005, 2, 1.01}, {2.675, 2, 2.68},
      {1.45, 1, 1.5},  {-1.45, 1, -1.5}, {0.285, 2, 0.29}, {1.4999999, 0, 1}, {123.456, 5, 123.456},
      {0, 3, 0},       {1e300, 10, 1e300}, {5.5, -400, 0}, {7.25, 400, 7.25},
  };
  for (const Case& c : cases) {
    Call call("ROUND");
    const VlItem& r = call.d(c.x).n(c.n).run();
    EXPECT_DOUBLE_EQ(vl_itemGetND(&r), c.expected) << c.x << " to " << c.n;
    EXPECT_TRUE(VL_IS_DOUBLE(&r));
    int w, d;
    vl_itemGetNLen(&r, &w, &d);
    EXPECT_EQ(d, c.n > 0 ? c.n : 0);
  }
  Call intRound("ROUND");
  EXPECT_TRUE(VL_IS_INTEGER(&intRound.n(7).n(0).run())) << "an integer with 0 decimals is unchanged";
  Call intRound2("ROUND");
  const VlItem& r2 = intRound2.n(7).n(2).run();
  EXPECT_TRUE(VL_IS_DOUBLE(&r2));
  EXPECT_EQ(shown(r2), "         7.00");
}

TEST(Rounding, IntAbsMaxMin) {
  EXPECT_EQ(Call("INT").d(-3.7).integer(), -3);
  EXPECT_EQ(Call("INT").d(3.7).integer(), 3);
  EXPECT_EQ(Call("INT").d(2.9999999999999996).integer(), 3);
  EXPECT_EQ(Call("INT").n(-8).integer(), -8);
  Call bigInt("INT");
  EXPECT_TRUE(VL_IS_DOUBLE(&bigInt.d(1e30).run())) << "beyond 64 bits INT stays a double";
  Call keepsWidth("INT");
  EXPECT_EQ(shown(keepsWidth.d(12.75, 2, 4).run()), "  12");

  Call absMin("ABS");
  const VlItem& a = absMin.n(INT32_MIN).run();
  EXPECT_TRUE(VL_IS_LONG(&a));
  EXPECT_EQ(vl_itemGetNLL(&a), 2147483648LL);
  Call absMin64("ABS");
  const VlItem& b = absMin64.n(INT64_MIN).run();
  EXPECT_TRUE(VL_IS_DOUBLE(&b));
  EXPECT_EQ(Call("ABS").d(-2.5).num(), 2.5);
  EXPECT_EQ(Call("ABS").n(-7).integer(), 7);

  EXPECT_EQ(Call("MAX").n(3).n(5).integer(), 5);
  EXPECT_EQ(Call("MIN").n(3).n(5).integer(), 3);
  Call mixed("MAX");
  const VlItem& m = mixed.n(3).d(2.5, 1).run();
  EXPECT_TRUE(VL_IS_DOUBLE(&m)) << "a double on either side makes a double";
  EXPECT_EQ(vl_itemGetND(&m), 3.0);
  EXPECT_EQ(shown(m), "         3");
  Call longs("MIN");
  EXPECT_TRUE(VL_IS_LONG(&longs.n(1).n(5000000000LL).run()));
  EXPECT_EQ(Call("MAX").date(2000, 1, 1).date(1999, 12, 31).day(), 2451545);
  EXPECT_EQ(Call("MIN").date(2000, 1, 1).date(1999, 12, 31).day(), 2451544);
  EXPECT_TRUE(Call("MAX").l(false).l(true).logical());
  EXPECT_FALSE(Call("MIN").l(false).l(true).logical());
}

TEST(MathFunctions, ResultsAndMathErrors) {
  EXPECT_DOUBLE_EQ(Call("SQRT").n(16).num(), 4.0);
  EXPECT_DOUBLE_EQ(Call("EXP").n(0).num(), 1.0);
  EXPECT_DOUBLE_EQ(Call("LOG").d(std::exp(2.0)).num(), 2.0);

  EXPECT_EQ(Call("SQRT").n(-1).num(), 0.0);
  EXPECT_EQ(vl_mathLastError()->type, VL_MATH_ERR_DOMAIN);
  EXPECT_STREQ(vl_mathLastError()->function, "SQRT");
  EXPECT_STREQ(vl_mathLastError()->text, "Argument not in domain of function");
  EXPECT_EQ(Call("LOG").n(0).num(), -INFINITY);
  EXPECT_EQ(vl_mathLastError()->type, VL_MATH_ERR_SING);
  EXPECT_EQ(Call("LOG").n(-1).num(), -INFINITY);
  EXPECT_EQ(Call("EXP").n(1000).num(), INFINITY);
  EXPECT_EQ(vl_mathLastError()->type, VL_MATH_ERR_OVERFLOW);
  EXPECT_EQ(Call("EXP").n(-1000).num(), 0.0);
  EXPECT_EQ(vl_mathLastError()->type, VL_MATH_ERR_UNDERFLOW);
  EXPECT_EQ(shown(Call("EXP").n(1000).run()).find_first_not_of('*'), std::string::npos);

  // A native handler in the user mode may supply the result; in the default mode it is only told.
  static int s_calls;
  auto handler = [](VlMathError* e) {
    ++s_calls;
    e->retval = 42;
    e->handled = true;
  };
  VlMathHandler previous = vl_mathSetHandler(handler);
  EXPECT_EQ(Call("SQRT").n(-4).num(), 0.0);
  EXPECT_EQ(s_calls, 1);
  int mode = vl_mathSetErrMode(VL_MATH_ERRMODE_USER);
  EXPECT_EQ(Call("SQRT").n(-4).num(), 42.0);
  EXPECT_EQ(s_calls, 2);
  vl_mathSetErrMode(mode);
  vl_mathSetHandler(previous);
}

TEST(MathFunctions, BitsAndHex) {
  EXPECT_EQ(Call("VL_BITAND").n(12).n(10).integer(), 8);
  Call wide("VL_BITAND");
  const VlItem& w = wide.n(0x300000000LL).n(-1).run();
  EXPECT_TRUE(VL_IS_LONG(&w));
  EXPECT_EQ(vl_itemGetNLL(&w), 0x300000000LL);
  EXPECT_EQ(Call("VL_NUMTOHEX").n(255).str(), "FF");
  EXPECT_EQ(Call("VL_NUMTOHEX").n(-1).str(), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(Call("VL_NUMTOHEX").n(0).str(), "");
  EXPECT_EQ(Call("VL_NUMTOHEX").d(16.9).str(), "10");
  EXPECT_EQ(Call("VL_HEXTONUM").s("ff").integer(), 255);
  EXPECT_EQ(Call("VL_HEXTONUM").s("7FFFFFFFFFFFFFFF").integer(), INT64_MAX);
  EXPECT_EQ(Call("VL_HEXTONUM").s("1 ").integer(), 0);
  EXPECT_EQ(Call("VL_HEXTONUM").s("").integer(), 0);
}

TEST(Numbers, WrongArgumentTypes) {
  struct Case {
    const char* fn;
    void (*args)(Call&);
    const char* error;
  } cases[] = {
      {"STR", [](Call& c) { c.n(5).nil(); }, "BASE 1/1099 STR [int:5:w10,NIL]"},
      {"STR", [](Call& c) { c.s("5"); }, "BASE 1/1099 STR [str:\"5\"]"},
      {"STR", [](Call& c) { c.n(5).n(3000000000LL); }, "BASE 3/1234 STR [int:5:w10,long:3000000000:w10]"},
      {"VAL", [](Call& c) { c.n(5); }, "BASE 1/1098 VAL [int:5:w10]"},
      {"INT", [](Call& c) { c.s("5"); }, "BASE 1/1090 INT [str:\"5\"]"},
      {"ROUND", [](Call& c) { c.d(2.5); }, "BASE 1/1094 ROUND [dbl:2.5:w10:d2]"},
      {"ABS", [](Call& c) { c.date(2000, 1, 1); }, "BASE 1/1089 ABS [date:20000101]"},
      {"MAX", [](Call& c) { c.date(2000, 1, 1).n(1); }, "BASE 1/1093 MAX [date:20000101,int:1:w10]"},
      {"MIN", [](Call& c) { c.s("a").s("b"); }, "BASE 1/1092 MIN [str:\"a\",str:\"b\"]"},
      {"EXP", [](Call& c) { c.nil(); }, "BASE 1/1096 EXP [NIL]"},
      {"LOG", [](Call& c) { c.s("1"); }, "BASE 1/1095 LOG [str:\"1\"]"},
      {"SQRT", [](Call& c) { c.l(true); }, "BASE 1/1097 SQRT [.T.]"},
      {"VL_BITAND", [](Call& c) { c.d(1.0).n(1); },
       "BASE 1/1089 VL_BITAND [dbl:1:w10:d2,int:1:w10] (Non-integer parameters)"},
      {"VL_NUMTOHEX", [](Call& c) { c.s("1"); }, "BASE 1/3012 VL_NUMTOHEX [str:\"1\"]"},
      {"VL_HEXTONUM", [](Call& c) { c.n(1); }, "BASE 1/3012 VL_HEXTONUM [int:1:w10]"},
  };
  for (const Case& c : cases) {
    Call call(c.fn);
    c.args(call);
    EXPECT_EQ(errorOf(call), c.error);
  }
}

}  // namespace
