// String functions: windows and counts at their edges, embedded zero bytes, the code page's case
// rules, very long strings and results that would exceed the longest string.
#include <gtest/gtest.h>

#include <string>

#include "rtl/set.h"
#include "rtl_call.h"
#include "vm/arrays.h"

using namespace std::string_literals;

namespace {

TEST(Strings, AtWindows) {
  struct Case {
    std::string search, target;
    int argc;  // 2, 3 or 4
    int64_t start, end;
    int64_t expected;
  } cases[] = {
      {"b", "abcb", 2, 0, 0, 2},
      {"b", "abcb", 3, 3, 0, 4},
      {"b", "abcb", 3, -1, 0, 4},
      {"b", "abcb", 3, -100, 0, 2},  // counts from the end, not below the start
      {"b", "abcb", 3, 0, 0, 2},      // 0 is the first byte
      {"b", "abcb", 3, 5, 0, 0},
      {"", "abc", 2, 0, 0, 0},
      {"b", "abc", 4, 3, 2, 0},
      {"cb", "abcb", 4, 1, 3, 0},   // the match must end inside the window
      {"cb", "abcb", 4, 1, 4, 3},
      {"cb", "abcb", 4, 1, -1, 3},  // -1 is the end of the target
      {"b", "abcb", 4, 1, -2, 2},
      {"b", "abcb", 4, 1, 100, 2},
      {"aa", "aaaa", 3, 2, 0, 2},
      {"\0b"s, "a\0\0b"s, 2, 0, 0, 3},
      {"abcd", "abc", 2, 0, 0, 0},
  };
  for (const Case& c : cases) {
    Call call("AT");
    call.s(c.search).s(c.target);
    if (c.argc >= 3) call.n(c.start);
    if (c.argc >= 4) call.n(c.end);
    EXPECT_EQ(call.integer(), c.expected) << c.search << " in " << c.target << " from " << c.start << " to " << c.end;
  }
  EXPECT_EQ(Call("AT").s("c").s("abc").nil().nil().integer(), 3) << "NIL start and end take the defaults";
}

TEST(Strings, SubstrLeftRight) {
  EXPECT_EQ(Call("SUBSTR").s("hello").n(2).n(3).str(), "ell");
  EXPECT_EQ(Call("SUBSTR").s("hello").n(-3).str(), "llo");
  EXPECT_EQ(Call("SUBSTR").s("hello").n(-30).n(2).str(), "he");
  EXPECT_EQ(Call("SUBSTR").s("hello").n(0).n(2).str(), "he");
  EXPECT_EQ(Call("SUBSTR").s("hello").n(6).str(), "");
  EXPECT_EQ(Call("SUBSTR").s("hello").n(5).n(100).str(), "o");
  EXPECT_EQ(Call("SUBSTR").s("hello").n(2).n(-1).str(), "");
  EXPECT_EQ(Call("SUBSTR").s("hello").d(2.9).d(2.9).str(), "el") << "doubles are truncated";
  EXPECT_EQ(Call("SUBSTR").s("a\0b\0c"s).n(2).n(3).str(), "\0b\0"s);
  EXPECT_EQ(Call("SUBSTR").memo("memo text").n(1).type(), "C") << "a part of a memo is a plain string";

  EXPECT_EQ(Call("LEFT").s("hello").n(2).str(), "he");
  EXPECT_EQ(Call("LEFT").s("hello").n(0).str(), "");
  EXPECT_EQ(Call("LEFT").s("hello").n(-5).str(), "");
  EXPECT_EQ(Call("LEFT").s("hello").n(50).str(), "hello");
  EXPECT_EQ(Call("LEFT").s("\0\0x"s).n(2).str(), "\0\0"s);

  EXPECT_EQ(Call("RIGHT").s("hello").n(3).str(), "llo");
  EXPECT_EQ(Call("RIGHT").s("hello").n(9).str(), "hello");
  EXPECT_EQ(Call("RIGHT").s("hello").n(0).str(), "");
  EXPECT_EQ(Call("RIGHT").n(5).n(3).str(), "") << "unsuitable arguments give an empty string";
}

TEST(Strings, CaseFollowsAsciiRulesOnly) {
  EXPECT_EQ(Call("UPPER").s("Ab1\xe4z\x84").str(), "AB1\xe4Z\x84");
  EXPECT_EQ(Call("LOWER").s("Ab1\xc4Z\x8e").str(), "ab1\xc4z\x8e");
  EXPECT_EQ(Call("UPPER").s("a\0b"s).str(), "A\0B"s);
  EXPECT_EQ(Call("UPPER").s("").str(), "");
  EXPECT_EQ(Call("LOWER").s("Q").str(), "q");
  EXPECT_TRUE(Call("ISALPHA").s("z1").logical());
  EXPECT_FALSE(Call("ISALPHA").s("\xe4").logical());
  EXPECT_FALSE(Call("ISALPHA").s("").logical());
  EXPECT_FALSE(Call("ISALPHA").n(65).logical());
  EXPECT_TRUE(Call("ISDIGIT").s("7a").logical());
  EXPECT_FALSE(Call("ISDIGIT").s("a7").logical());
  EXPECT_FALSE(Call("ISDIGIT").nil().logical());
}

TEST(Strings, Padding) {
  struct Case {
    const char* fn;
    std::string expected;
    void (*args)(Call&);
  } cases[] = {
      {"PADL", "   5", [](Call& c) { c.n(5).n(4); }},
      {"PADR", "5   ", [](Call& c) { c.n(5).n(4); }},
      {"PADL", "  1.50", [](Call& c) { c.d(1.5, 2).n(6); }},
      {"PADR", "abc", [](Call& c) { c.s("abcdef").n(3); }},
      {"PADL", "abc", [](Call& c) { c.s("abcdef").n(3); }},
      {"PADC", "abc", [](Call& c) { c.s("abcdef").n(3); }},
      {"PADC", "*ab**", [](Call& c) { c.s("ab").n(5).s("*"); }},
      {"PADC", "-ab-", [](Call& c) { c.s("ab").n(4).s("-="); }},
      {"PADR", "ab\0\0"s, [](Call& c) { c.s("ab").n(4).s(""); }},
      {"PADR", "ab  ", [](Call& c) { c.s("ab").n(4).n(7); }},
      {"PADR", "", [](Call& c) { c.l(true).n(3); }},
      {"PADR", "", [](Call& c) { c.s("ab").s("4"); }},
      {"PADR", "", [](Call& c) { c.s("ab").n(-4); }},
      {"PADR", "", [](Call& c) { c.s("ab").n(0); }},
      {"PADR", "03/09/05  ", [](Call& c) { c.date(2005, 3, 9).n(10); }},
  };
  for (const Case& c : cases) {
    Call call(c.fn);
    c.args(call);
    EXPECT_EQ(call.str(), c.expected) << c.fn;
  }
}

TEST(Strings, Trimming) {
  EXPECT_EQ(Call("ALLTRIM").s("\tx ").str(), "x");
  EXPECT_EQ(Call("ALLTRIM").s(" x\t").str(), "x\t");
  EXPECT_EQ(Call("ALLTRIM").s(" x\t").l(true).str(), "x");
  EXPECT_EQ(Call("ALLTRIM").s(" \r\n ").str(), "");
  EXPECT_EQ(Call("RTRIM").s("x\t").str(), "x\t");
  EXPECT_EQ(Call("RTRIM").s("x\t \r\n").l(true).str(), "x");
  EXPECT_EQ(Call("TRIM").s("x  ").str(), "x");
  EXPECT_EQ(Call("LTRIM").s("\r\n\t x ").str(), "x ");
  EXPECT_EQ(Call("LTRIM").s(" \0x"s).str(), "\0x"s) << "a zero byte is not a blank";
  EXPECT_EQ(Call("RTRIM").s("x\0 "s).str(), "x\0"s);
  EXPECT_EQ(Call("LTRIM").memo("  m").type(), "M") << "a memo stays a memo";
  EXPECT_EQ(Call("RTRIM").memo("m  ").type(), "M");
  EXPECT_EQ(Call("LTRIM").s("  m").type(), "C");
}

TEST(Strings, Strtran) {
  struct Case {
    std::string expected;
    void (*args)(Call&);
  } cases[] = {
      {"abcaXc", [](Call& c) { c.s("abcabc").s("b").s("X").n(2); }},
      {"aXcaXc", [](Call& c) { c.s("abcabc").s("b").s("X"); }},
      {"acac", [](Call& c) { c.s("abcabc").s("b"); }},
      {"abc", [](Call& c) { c.s("abc").s("b").s("X").n(1).n(0); }},
      {"", [](Call& c) { c.s("abc").s("b").s("X").n(0); }},
      {"ab", [](Call& c) { c.s("aaa").s("aa").s("b").n(2); }},
      {"aXcabc", [](Call& c) { c.s("abcabc").s("b").s("X").n(1).n(1); }},
      {"abc", [](Call& c) { c.s("abc").s("").s("X"); }},
      {"ab", [](Call& c) { c.s("ab").s("abc").s("X"); }},
      {"abc", [](Call& c) { c.s("abc").s("z").s("X"); }},
      {"a--b--"s, [](Call& c) { c.s("a\0b\0"s).s("\0"s).s("--"); }},
      {"xyxyxy", [](Call& c) { c.s("aaa").s("a").s("xy"); }},
  };
  for (const Case& c : cases) {
    Call call("STRTRAN");
    c.args(call);
    EXPECT_EQ(call.str(), c.expected);
  }
}

TEST(Strings, StuffStrdelReplicateSpace) {
  EXPECT_EQ(Call("STUFF").s("abcdef").n(2).n(3).s("XY").str(), "aXYef");
  EXPECT_EQ(Call("STUFF").s("abcdef").n(0).n(1).s("X").str(), "Xbcdef");
  EXPECT_EQ(Call("STUFF").s("abc").n(-1).n(2).s("X").str(), "abcX") << "a negative start is the end";
  EXPECT_EQ(Call("STUFF").s("abc").n(2).n(-1).s("X").str(), "aX") << "a negative count deletes the rest";
  EXPECT_EQ(Call("STUFF").s("abc").n(9).n(9).s("X").str(), "abcX");
  EXPECT_EQ(Call("STUFF").s("abc").n(1).n(3).s("").str(), "");
  EXPECT_EQ(Call("STUFF").s("abc").n(1).n(1).str(), "") << "the insert string is required";

  EXPECT_EQ(Call("STRDEL").s("abcdef").s(" x x").str(), "acef");
  EXPECT_EQ(Call("STRDEL").s("abc").s("").str(), "abc");
  EXPECT_EQ(Call("STRDEL").s("abc").s("xxx").str(), "");
  EXPECT_EQ(Call("STRDEL").s("abc").n(1).str(), "");

  EXPECT_EQ(Call("REPLICATE").s("ab").n(0).str(), "");
  EXPECT_EQ(Call("REPLICATE").s("ab").n(3).str(), "ababab");
  EXPECT_EQ(Call("REPLICATE").s("\0"s).n(3).str(), "\0\0\0"s);
  EXPECT_EQ(Call("REPLICATE").s("").n(1000000000).str(), "");
  EXPECT_EQ(Call("SPACE").n(3).str(), "   ");
  EXPECT_EQ(Call("SPACE").n(-3).str(), "");
  EXPECT_EQ(Call("SPACE").d(2.7).str(), "  ");
}

TEST(Strings, CharactersAndCodes) {
  EXPECT_EQ(Call("CHR").n(65).str(), "A");
  EXPECT_EQ(Call("CHR").d(65.9).str(), "A");
  EXPECT_EQ(Call("CHR").n(256).str(), "\0"s);
  EXPECT_EQ(Call("CHR").n(-1).str(), "\xff");
  EXPECT_EQ(Call("CHR").n(321).str(), "A");
  EXPECT_EQ(Call("ASC").s("A").integer(), 65);
  EXPECT_EQ(Call("ASC").s("\xff").integer(), 255);
  EXPECT_EQ(Call("ASC").s("").integer(), 0);
  EXPECT_EQ(Call("ASC").s("\0a"s).integer(), 0);
}

TEST(Strings, EmptyAndTypes) {
  VlItem arr, blk;
  arr.type = blk.type = VL_IT_NIL;
  vl_arrayNew(&arr, 0);
  EXPECT_TRUE(Call("EMPTY").s("  \t\r\n").logical());
  EXPECT_FALSE(Call("EMPTY").s(" \0"s).logical());
  EXPECT_TRUE(Call("EMPTY").n(0).logical());
  EXPECT_TRUE(Call("EMPTY").d(0.0).logical());
  EXPECT_FALSE(Call("EMPTY").d(0.001).logical());
  EXPECT_TRUE(Call("EMPTY").item(&arr).logical());
  EXPECT_TRUE(Call("EMPTY").nil().logical());
  EXPECT_TRUE(Call("EMPTY").logical());
  EXPECT_TRUE(Call("EMPTY").julian(0).logical());
  EXPECT_FALSE(Call("EMPTY").date(2000, 1, 1).logical());
  EXPECT_TRUE(Call("EMPTY").l(false).logical());

  EXPECT_EQ(Call("VALTYPE").s("x").str(), "C");
  EXPECT_EQ(Call("VALTYPE").memo("x").str(), "M");
  EXPECT_EQ(Call("VALTYPE").d(1.5).str(), "N");
  EXPECT_EQ(Call("VALTYPE").item(&arr).str(), "A");
  EXPECT_EQ(Call("VALTYPE").str(), "U");
  EXPECT_EQ(Call("LEN").item(&arr).integer(), 0);
  EXPECT_EQ(Call("LEN").s("a\0b"s).integer(), 3);
  EXPECT_TRUE(Call("VL_ISNULL").s("").logical());
  EXPECT_FALSE(Call("VL_ISNULL").s(" ").logical());
  EXPECT_TRUE(Call("VL_ISNULL").item(&arr).logical());

  struct Probe {
    const char* fn;
    bool str, memo, number, none;
  } probes[] = {
      {"VL_ISNIL", false, false, false, true},       {"VL_ISSTRING", true, false, false, false},
      {"VL_ISNUMERIC", false, false, true, false},   {"VL_ISLOGICAL", false, false, false, false},
      {"VL_ISARRAY", false, false, false, false},    {"VL_ISOBJECT", false, false, false, false},
      {"VL_ISBLOCK", false, false, false, false},    {"VL_ISPOINTER", false, false, false, false},
  };
  for (const Probe& p : probes) {
    EXPECT_EQ(Call(p.fn).s("x").logical(), p.str) << p.fn;
    EXPECT_EQ(Call(p.fn).memo("x").logical(), p.memo) << p.fn;
    EXPECT_EQ(Call(p.fn).n(1).logical(), p.number) << p.fn;
    EXPECT_EQ(Call(p.fn).logical(), p.none) << p.fn;
  }
  EXPECT_TRUE(Call("VL_ISARRAY").item(&arr).logical());
  EXPECT_TRUE(Call("VL_ISLOGICAL").l(false).logical());
  EXPECT_EQ(Call("WORD").d(70000.9).integer(), 70000);
  vl_itemClear(&arr);
}

// Strings beyond 16 MiB go through every function without a length being truncated.
TEST(Strings, VeryLongStrings) {
  const int64_t n = 9 * 1024 * 1024;  // 18 MiB of "ab"
  Call big("REPLICATE");
  const VlItem& s = big.s("ab").n(n).run();
  ASSERT_EQ(vl_itemGetCLen(&s), static_cast<size_t>(2 * n));
  EXPECT_EQ(Call("LEN").item(&s).integer(), 2 * n);
  EXPECT_EQ(Call("SUBSTR").item(&s).n(2 * n - 1).str(), "ab");
  EXPECT_EQ(Call("RIGHT").item(&s).n(3).str(), "bab");
  EXPECT_EQ(Call("AT").s("ba").item(&s).n(-3).integer(), 2 * n - 2);
  EXPECT_EQ(Call("AT").s("abc").item(&s).integer(), 0);
  Call upper("UPPER");
  const VlItem& u = upper.item(&s).run();
  EXPECT_EQ(std::string(vl_itemGetCPtr(&u) + 2 * n - 4, 4), "ABAB");
  Call tr("STRTRAN");
  const VlItem& t = tr.item(&s).s("b").s("xyz").run();
  EXPECT_EQ(vl_itemGetCLen(&t), static_cast<size_t>(4 * n));
  EXPECT_EQ(std::string(vl_itemGetCPtr(&t) + 4 * n - 8, 8), "axyzaxyz");
  Call padded("PADL");
  const VlItem& p = padded.item(&s).n(2 * n + 3).s("*").run();
  EXPECT_EQ(std::string(vl_itemGetCPtr(&p), 5), "***ab");
  Call spaces("SPACE");
  EXPECT_EQ(vl_itemGetCLen(&spaces.n(17 * 1024 * 1024).run()), 17u * 1024 * 1024);
}

// Counts near the 32-bit limit are refused before anything is allocated.
TEST(Strings, ResultsBeyondTheLongestString) {
  EXPECT_EQ(errorOf(Call("REPLICATE").s("ab").n(2147483648LL)), "BASE 3/1234 REPLICATE [str:\"ab\",long:2147483648:w10]");
  EXPECT_EQ(errorOf(Call("REPLICATE").s("x").d(1e20)), "BASE 3/1234 REPLICATE [str:\"x\",dbl:1e+20:w20:d2]");
  EXPECT_EQ(errorOf(Call("SPACE").n(5000000000LL)), "BASE 3/1234 SPACE [long:5000000000:w10]");
  EXPECT_EQ(errorOf(Call("PADR").s("x").n(4294967295LL)), "BASE 3/1234 PADR [str:\"x\",long:4294967295:w10]");
  // 17 MiB with every byte replaced by 300 bytes would be over 5 GB.
  Call big("SPACE");
  const VlItem& s = big.n(17 * 1024 * 1024).run();
  EXPECT_EQ(errorOf(Call("STRTRAN").item(&s).s(" ").s(std::string(300, 'x'))).rfind("BASE 3/1234 STRTRAN [str:\"  ", 0), 0u);
}

TEST(Strings, WrongArgumentTypes) {
  struct Case {
    const char* fn;
    void (*args)(Call&);
    const char* error;
  } cases[] = {
      {"LEN", [](Call& c) { c.n(5); }, "BASE 1/1111 LEN [int:5:w10]"},
      {"AT", [](Call& c) { c.n(1).s("a"); }, "BASE 1/1108 AT [int:1:w10,str:\"a\"]"},
      {"SUBSTR", [](Call& c) { c.s("hello").n(2).nil(); }, "BASE 1/1110 SUBSTR [str:\"hello\",int:2:w10,NIL]"},
      {"SUBSTR", [](Call& c) { c.s("hello").s("A"); }, "BASE 1/1110 SUBSTR [str:\"hello\",str:\"A\"]"},
      {"LEFT", [](Call& c) { c.s("hello"); }, "BASE 1/1124 LEFT [str:\"hello\"]"},
      {"UPPER", [](Call& c) { c.n(1); }, "BASE 1/1102 UPPER [int:1:w10]"},
      {"LOWER", [](Call& c) { c.nil(); }, "BASE 1/1103 LOWER [NIL]"},
      {"LTRIM", [](Call& c) { c.date(2000, 1, 1); }, "BASE 1/1101 LTRIM [date:20000101]"},
      {"RTRIM", [](Call& c) { c.n(5); }, "BASE 1/1100 RTRIM [int:5:w10]"},
      {"TRIM", [](Call& c) { c.l(true); }, "BASE 1/1100 TRIM [.T.]"},
      {"ALLTRIM", [](Call& c) { c.nil(); }, "BASE 1/2022 ALLTRIM [NIL]"},
      {"STRTRAN", [](Call& c) { c.s("a").n(1); }, "BASE 1/1126 STRTRAN [str:\"a\",int:1:w10]"},
      {"REPLICATE", [](Call& c) { c.s("a").s("3"); }, "BASE 1/1106 REPLICATE [str:\"a\",str:\"3\"]"},
      {"SPACE", [](Call& c) { c.s("3"); }, "BASE 1/1105 SPACE [str:\"3\"]"},
      {"CHR", [](Call& c) { c.s("A"); }, "BASE 1/1104 CHR [str:\"A\"]"},
      {"ASC", [](Call& c) { c.n(65); }, "BASE 1/1107 ASC [int:65:w10]"},
      {"VL_ISNULL", [](Call& c) { c.n(0); }, "BASE 1/1111 VL_ISNULL [int:0:w10]"},
      {"WORD", [](Call& c) { c.s("1"); }, "BASE 1/1091 WORD [str:\"1\"] nosub"},
  };
  for (const Case& c : cases) {
    Call call(c.fn);
    c.args(call);
    EXPECT_EQ(errorOf(call), c.error);
  }
}

}  // namespace
