// Code pages: the comparison the relational operators use (SET_EXACT and ==), and a page with
// letters of its own (weights, accents, case tables, translation between pages).
#include <gtest/gtest.h>

#include <string>

#include "rtl/cdp.h"
#include "rtl/set.h"
#include "rtl_call.h"

using namespace std::string_literals;

namespace {

int cmp(const std::string& a, const std::string& b, bool forceExact) {
  return vl_cdpStrCmp(a.data(), a.size(), b.data(), b.size(), forceExact);
}

TEST(Collation, OperatorComparisonUnderSetExact) {
  SetGuard guard(VL_SET_EXACT);
  struct Case {
    std::string a, b;
    int inexact, exact, forced;  // SET_EXACT off, SET_EXACT on, ==
  } cases[] = {
      {"ABC", "AB", 0, 1, 1},
      {"AB", "ABC", -1, -1, -1},
      {"AB", "", 0, 1, 1},
      {"", "AB", -1, -1, -1},
      {"", "", 0, 0, 0},
      {"ABC ", "ABC", 0, 0, 1},
      {"ABC", "ABC  ", -1, 0, -1},
      {"   ", "", 0, 1, 1},  // blanks are trimmed down to the first character only
      {"ABD", "ABC", 1, 1, 1},
      {"a", "B", 1, 1, 1},
      {"\x80", "a", 1, 1, 1},  // bytes compare unsigned
      {"a\0b"s, "a\0c"s, -1, -1, -1},
      {"a\0"s, "a"s, 0, 1, 1},
  };
  for (const Case& c : cases) {
    Call("SET").n(VL_SET_EXACT).l(false).run();
    EXPECT_EQ(cmp(c.a, c.b, false), c.inexact) << "'" << c.a << "' = '" << c.b << "'";
    EXPECT_EQ(cmp(c.a, c.b, true), c.forced) << "'" << c.a << "' == '" << c.b << "'";
    Call("SET").n(VL_SET_EXACT).l(true).run();
    EXPECT_EQ(cmp(c.a, c.b, false), c.exact) << "'" << c.a << "' = '" << c.b << "' exact";
    EXPECT_EQ(cmp(c.a, c.b, true), c.forced) << "'" << c.a << "' == '" << c.b << "' exact";
  }
}

// A page with its own letters: A-Z with an accented A (byte 0x8E) after A, and the lower-case
// partners; a second page with the same count of letters in other bytes.
TEST(Collation, PageWithLetters) {
  static VlCodePage s_page{"T1", "test", "A~\x8e" "BCDEFGHIJKLMNOPQRSTUVWXYZ", "a~\x84" "bcdefghijklmnopqrstuvwxyz", 0, {}, {}, {}, {}, {}};
  static VlCodePage s_other{"T2", "test2", "A~\xc4" "BCDEFGHIJKLMNOPQRSTUVWXYZ", "a~\xe4" "bcdefghijklmnopqrstuvwxyz", 0, {}, {}, {}, {}, {}};
  static VlCodePage s_bad{"T3", "bad", "AB", "a", 0, {}, {}, {}, {}, {}};
  ASSERT_TRUE(vl_cdpRegister(&s_page));
  ASSERT_TRUE(vl_cdpRegister(&s_other));
  EXPECT_FALSE(vl_cdpRegister(&s_bad)) << "letters that do not pair up";
  EXPECT_EQ(vl_cdpFind("T1"), &s_page);
  EXPECT_EQ(s_page.letters, 27);

  EXPECT_LT(vl_cdpCmpN(&s_page, "\x8e", "B", 1), 0) << "the accented A sorts with A, before B";
  EXPECT_GT(vl_cdpCmpN(&s_page, "\x8e", "A", 1), 0) << "and after A when nothing else differs";
  EXPECT_LT(vl_cdpCmpN(&s_page, "\x8e" "A", "AB", 2), 0) << "a later letter decides before the accent";
  EXPECT_LT(vl_cdpCmpN(&s_page, "Z", "a", 1), 0) << "upper-case letters before lower-case ones";
  EXPECT_LT(vl_cdpCmpN(&s_page, "A", "[", 1), 0) << "a byte that is no letter compares by value";
  EXPECT_EQ(vl_cdpCmpN(vl_cdpFind("EN"), "\x8e", "B", 1), 1) << "English compares bytes";

  const VlCodePage* previous = vl_cdpSelect(&s_page);
  EXPECT_EQ(Call("UPPER").s("a\x84z").str(), "A\x8eZ");
  EXPECT_EQ(Call("LOWER").s("\x8e").str(), "\x84");
  EXPECT_TRUE(Call("ISALPHA").s("\x84").logical());
  EXPECT_EQ(cmp("\x8e" "X", "AX", false), 1);
  vl_cdpSelect(previous);
  EXPECT_EQ(Call("UPPER").s("\x84").str(), "\x84");

  std::string text = "A\x8e\x84 z";
  vl_cdpTranslate(text.data(), text.size(), &s_page, &s_other);
  EXPECT_EQ(text, "A\xc4\xe4 z");
  vl_cdpTranslate(text.data(), text.size(), &s_other, vl_cdpFind("EN"));
  EXPECT_EQ(text, "A\xc4\xe4 z") << "pages with different numbers of letters: nothing happens";
}

}  // namespace
