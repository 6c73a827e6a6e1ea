// Arrays: the language-level functions and their edge cases, the internal walking operations,
// clone sharing, and the sort against a model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../../source/rtl/set.h"
#include "vars_util.h"
#include "vmtest.h"
#include "vm/vm.h"
#include "vm/gc.h"
#include "vm/stack.h"

using vt::Item;

namespace {

// Parses the compact notation of vt::show back into a value: numbers, "strings", .T./.F., NIL,
// {nested}.
const char* parse(const char* p, VlItem* out) {
  while (*p == ' ' || *p == ',') ++p;
  if (*p == '{') {
    vl_arrayNew(out, 0);
    ++p;
    while (*p != '}') {
      Item e;
      p = parse(p, &e);
      vl_arrayAddForward(out, &e);
      while (*p == ' ' || *p == ',') ++p;
    }
    return p + 1;
  }
  if (*p == '"') {
    const char* end = std::strchr(p + 1, '"');
    vl_itemPutCL(out, p + 1, static_cast<size_t>(end - p - 1));
    return end + 1;
  }
  if (!std::strncmp(p, "NIL", 3)) {
    vl_itemClear(out);
    return p + 3;
  }
  if (!std::strncmp(p, ".T.", 3) || !std::strncmp(p, ".F.", 3)) {
    vl_itemPutL(out, p[1] == 'T');
    return p + 3;
  }
  char* end;
  long long v = std::strtoll(p, &end, 10);
  vl_itemPutNInt(out, v);
  return end;
}

void val(VlItem* out, const char* text) { parse(text, out); }

// Calls fn with arguments written in the compact notation ("-" passes NIL) and shows both the
// result and the first argument afterwards.
std::string run(const char* fn, std::initializer_list<const char*> args, std::string* firstAfter = nullptr) {
  std::vector<Item> items(args.size());
  std::vector<const VlItem*> ptrs;
  size_t i = 0;
  for (const char* a : args) {
    if (std::strcmp(a, "-") != 0) val(&items[i], a);
    ptrs.push_back(&items[i].v);
    ++i;
  }
  Item r;
  VlDynSym* d = vl_dynsymFindName(fn);
  vl_vmPushSymbol(d->symbol);
  vl_vmPushNil();
  for (const VlItem* p : ptrs) vl_vmPush(p);
  vl_vmDo(static_cast<uint16_t>(ptrs.size()));
  vl_itemForwardValue(&r, &vl_stack.ret);
  if (firstAfter && !items.empty()) *firstAfter = vt::show(&items[0].v);
  return vt::show(&r);
}

TEST(Arrays, LanguageFunctionEdgeCases) {
  struct Case {
    const char* fn;
    std::initializer_list<const char*> args;
    const char* result;
    const char* arrayAfter;  // null: not checked
  };
  const Case cases[] = {
      {"ASIZE", {"{1, 2, 3}", "-5"}, "{}", "{}"},
      {"ASIZE", {"{1}", "3"}, "{1, NIL, NIL}", nullptr},
      {"AINS", {"{1, 2, 3}", "0"}, "{1, 2, 3}", "{1, 2, 3}"},
      {"AINS", {"{1, 2, 3}", "2", "\"x\""}, "{1, \"x\", 2}", nullptr},
      {"AINS", {"{1, 2, 3}", "2", "\"x\"", ".T."}, "{1, \"x\", 2, 3}", nullptr},
      {"AINS", {"{1, 2, 3}", "2"}, "{1, NIL, 2}", nullptr},
      {"AINS", {"{1, 2, 3}", "9"}, "{1, 2, 3}", nullptr},
      {"AINS", {"5", "1"}, "NIL", nullptr},
      {"ADEL", {"{1, 2, 3}", "0"}, "{2, 3, NIL}", nullptr},
      {"ADEL", {"{1, 2, 3}"}, "{2, 3, NIL}", nullptr},
      {"ADEL", {"{1, 2, 3}", "2", ".T."}, "{1, 3}", nullptr},
      {"ADEL", {"{1, 2, 3}", "5", ".T."}, "{1, 2}", nullptr},
      {"ADEL", {"{}", "1", ".T."}, "{}", nullptr},
      {"ADEL", {"{1, 2}", "-1"}, "{1, 2}", nullptr},
      {"ADEL", {"\"a\"", "1"}, "NIL", nullptr},
      {"ASCAN", {"{1, 2, 3}", "2", "1", "0"}, "0", nullptr},
      {"ASCAN", {"{1, 2, 3}", "3", "2"}, "3", nullptr},
      {"ASCAN", {"{1, 2, 3}", "1", "2"}, "0", nullptr},
      {"ASCAN", {"{1, 2, 3}", "3", "9"}, "0", nullptr},
      {"ASCAN", {"{1, 2}", "\"A\""}, "0", nullptr},
      {"ASCAN", {"{65}", "\"A\"", "-", "-", "-", ".T."}, "1", nullptr},
      {"ASCAN", {"{\"A\"}", "65"}, "0", nullptr},
      {"ASCAN", {"{\"A\"}", "65", "-", "-", "-", ".T."}, "1", nullptr},
      {"ASCAN", {"{1, NIL, .T.}", "NIL"}, "2", nullptr},
      {"ASCAN", {"{1, NIL, .F., .T.}", ".T."}, "4", nullptr},
      {"ASCAN", {"{\"ABC\", \"AB\"}", "\"AB\""}, "1", nullptr},   // SET EXACT off: "ABC" = "AB"
      {"ASCAN", {"{\"ABC\", \"AB\"}", "\"AB\"", "-", "-", ".T."}, "2", nullptr},
      {"ASCAN", {"{1, 2}"}, "0", nullptr},
      {"ACOPY", {"{1, 2, 3}", "{}"}, "{}", nullptr},
      {"ACOPY", {"{1, 2, 3}", "{7, 8, 9}", "1", "3", "10"}, "{7, 8, 1}", nullptr},
      {"ACOPY", {"{1, 2, 3}", "{7, 8, 9, 10}", "2"}, "{2, 3, 9, 10}", nullptr},
      {"ACOPY", {"{1, 2, 3}", "{7, 8, 9}", "1", "0"}, "{7, 8, 9}", nullptr},
      {"ACOPY", {"{1, 2, 3}", "{7, 8}", "5"}, "{7, 8}", nullptr},
      {"ACOPY", {"{1}", "5"}, "NIL", nullptr},
      {"ASORT", {"{3, 1, 2}", "1", "0"}, "{1, 2, 3}", nullptr},
      {"ASORT", {"{3, 1, 2, 0}", "2", "2"}, "{3, 1, 2, 0}", nullptr},
      {"ASORT", {"{3, 2, 1, 0}", "2", "2"}, "{3, 1, 2, 0}", nullptr},
      {"ASORT", {"{\"bb\", 2, .T., NIL, {}}"}, "{{}, \"bb\", .T., 2, NIL}", nullptr},
      {"ASORT", {"{\"b\", 2}"}, "{2, \"b\"}", nullptr},
      {"ASORT", {"{.T., .F., .T.}"}, "{.F., .T., .T.}", nullptr},
      {"ASORT", {"{3, 1}", "5"}, "{3, 1}", nullptr},
      {"ASORT", {"7"}, "NIL", nullptr},
      {"ARRAY", {"2", "0"}, "{{}, {}}", nullptr},
      {"ARRAY", {"2", "3"}, "{{NIL, NIL, NIL}, {NIL, NIL, NIL}}", nullptr},
      {"ARRAY", {"\"xy\""}, "NIL", nullptr},
      {"ARRAY", {}, "NIL", nullptr},
      {"ARRAY", {"2", "\"xy\""}, "NIL", nullptr},
      {"AADD", {"{1}", "{2}"}, "{2}", "{1, {2}}"},
      {"VL_ATOKENS", {"\",a,,b,\"", "\",\""}, "{\"\", \"a\", \"\", \"b\"}", nullptr},
      {"VL_ATOKENS", {"\"\""}, "{}", nullptr},
      {"VL_ATOKENS", {"\"a b\""}, "{\"a\", \"b\"}", nullptr},
      {"VL_ATOKENS", {"\"one;two\"", "\";x\""}, "{\"one\", \"two\"}", nullptr},
  };
  for (const Case& c : cases) {
    std::string after;
    EXPECT_EQ(run(c.fn, c.args, &after), c.result) << c.fn;
    if (c.arrayAfter) EXPECT_EQ(after, c.arrayAfter) << c.fn;
  }
}

TEST(Arrays, AsizeTakesACharacterCodeAndArrayTakesOneCharacterStrings) {
  Item a, n, r;
  vl_arrayNew(&a, 0);
  vt::str(&n, "A");
  vt::call(&r, "ASIZE", {&a, &n});
  EXPECT_EQ(vl_arrayLen(&a), 65u);
  EXPECT_EQ(r->u.arr.base, a->u.arr.base) << "the very array passed is returned";
  vt::str(&n, "x");
  vt::call(&r, "ARRAY", {&n});
  EXPECT_EQ(vl_arrayLen(&r), 120u);
}

TEST(Arrays, QuotedTokensAreNotSplit) {
  Item s, d, q, dq, r;
  vt::str(&s, "a,\"b,c\",'d,e'");
  vt::str(&d, ",");
  vl_itemPutL(&q, true);
  vt::call(&r, "VL_ATOKENS", {&s, &d, &q});
  EXPECT_EQ(vt::show(&r), "{\"a\", \"\"b,c\"\", \"'d,e'\"}");
  vl_itemPutL(&dq, true);
  vt::call(&r, "VL_ATOKENS", {&s, &d, &q, &dq});
  EXPECT_EQ(vt::show(&r), "{\"a\", \"\"b,c\"\", \"'d\", \"e'\"}");
}

TEST(Arrays, ScanFindsASubArrayOnlyWhenExact) {
  Item outer, inner, r, one, t;
  vl_arrayNew(&inner, 0);
  vl_arrayNew(&outer, 0);
  vt::num(&one, 1);
  vl_arrayAdd(&outer, &one);
  vl_arrayAdd(&outer, &inner);
  vt::call(&r, "ASCAN", {&outer, &inner});
  EXPECT_EQ(vt::show(&r), "0");
  vl_itemPutL(&t, true);
  vt::call(&r, "ASCAN", {&outer, &inner, nullptr, nullptr, &t});
  EXPECT_EQ(vt::show(&r), "2");
}

TEST(Arrays, ScanHonoursSetExactForNonExactMode) {
  Item a, v;
  val(&a, "{\"AB \", \"AB\"}");
  val(&v, "\"AB\"");
  bool saved = vl_set.exact;
  vl_set.exact = true;  // trailing blanks are ignored, so "AB " equals "AB"
  EXPECT_EQ(vl_arrayScan(&a, &v, nullptr, nullptr, false, false), 1u);
  EXPECT_EQ(vl_arrayScan(&a, &v, nullptr, nullptr, true, false), 2u);
  vl_set.exact = saved;
}

TEST(Arrays, CloneSharesRepeatedSubArraysAndKeepsCycles) {
  Item x, a, c, one;
  vl_arrayNew(&x, 0);
  vt::num(&one, 1);
  vl_arrayAdd(&x, &one);
  vl_arrayNew(&a, 0);
  vl_arrayAdd(&a, &x);
  vl_arrayAdd(&a, &x);
  vl_arrayAdd(&a, &a);  // a contains itself
  vl_arrayCloneTo(&c, &a);
  ASSERT_EQ(vl_arrayLen(&c), 3u);
  const VlItem* e1 = vl_arrayGetItemPtr(&c, 1);
  const VlItem* e2 = vl_arrayGetItemPtr(&c, 2);
  const VlItem* e3 = vl_arrayGetItemPtr(&c, 3);
  EXPECT_EQ(e1->u.arr.base, e2->u.arr.base) << "both occurrences point at one clone";
  EXPECT_NE(e1->u.arr.base, x->u.arr.base) << "which is new";
  EXPECT_EQ(e3->u.arr.base, c->u.arr.base) << "the cycle leads back to the clone";
  EXPECT_EQ(e1->u.arr.base->holders, 2u);
  vl_arraySize(&a, 0);  // break the cycles so holder counting frees everything
  vl_arraySize(&c, 0);
  Item n, r;
  vt::num(&n, 5);
  vl_arrayCloneTo(&r, &n);
  EXPECT_TRUE(VL_IS_NIL(&r));
}

TEST(Arrays, CopyWithinOneArrayAndFillThroughReferences) {
  Item a, ref, holder, v;
  val(&a, "{1, 2, 3}");
  uint32_t start = 1, target = 1;
  EXPECT_TRUE(vl_arrayCopy(&a, &a, &start, nullptr, &target));  // onto itself: no self-copy error
  EXPECT_EQ(vt::show(&a), "{1, 2, 3}");
  val(&holder, "{0}");
  vl_arrayGetRef(&holder, 1, &ref);
  vl_arraySet(&a, 2, &ref);  // element 2 now holds a reference (as a by-reference argument does)
  vt::num(&v, 9);
  vl_arrayFill(&a, &v, 2, 5);
  EXPECT_EQ(vt::show(&holder), "{9}") << "fill writes through a reference";
  EXPECT_EQ(vt::show(&a), "{1, 9, 9}");
  vl_arrayFill(&a, &v, 4, 1);  // start beyond the end: nothing
  EXPECT_EQ(vl_arrayLen(&a), 3u);
}

TEST(Arrays, InternalOperationsFailOnNonArraysAndBadIndexes) {
  Item n, out, a;
  vt::num(&n, 1);
  val(&a, "{1}");
  EXPECT_FALSE(vl_arraySize(&n, 3));
  EXPECT_FALSE(vl_arrayAdd(&n, &n));
  EXPECT_FALSE(vl_arraySet(&a, 0, &n));
  EXPECT_FALSE(vl_arraySet(&a, 2, &n));
  EXPECT_FALSE(vl_arrayGet(&a, 2, &out));
  EXPECT_TRUE(VL_IS_NIL(&out));
  EXPECT_EQ(vl_arrayGetItemPtr(&a, 0), nullptr);
  EXPECT_EQ(vl_arrayScan(&n, &n, nullptr, nullptr, false, false), 0u);
  EXPECT_FALSE(vl_arraySort(&n, nullptr, nullptr, nullptr));
  EXPECT_EQ(vl_arrayGetNI(&a, 5), 0);
  EXPECT_STREQ(vl_arrayGetCPtr(&a, 1), "");
  char buf[9];
  EXPECT_STREQ(vl_arrayGetDS(&a, 1, buf), "        ");
  Item str;
  vt::str(&str, "abc");
  EXPECT_TRUE(vl_arrayGetRef(&str, 2, &out));
  EXPECT_EQ(vt::show(&out), "\"b\"");
}

TEST(Arrays, SortAgreesWithAModelOnRandomAndAdversarialInputs) {
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    size_t n = round < 20 ? rng() % 50 : 2000 + rng() % 3000;
    std::vector<int64_t> model(n);
    for (auto& v : model) v = static_cast<int64_t>(rng() % (round % 3 == 0 ? 5 : 100000));
    if (round % 5 == 1) std::sort(model.begin(), model.end());
    if (round % 5 == 2) std::sort(model.rbegin(), model.rend());
    Item a;
    vl_arrayNew(&a, 0);
    for (int64_t v : model) {
      Item e;
      // Mix integers, doubles and dates of the same values: they compare as numbers.
      if (v % 3 == 0) vl_itemPutNDLen(&e, static_cast<double>(v), 10, 1);
      else vl_itemPutNInt(&e, v);
      vl_arrayAddForward(&a, &e);
    }
    vl_arraySort(&a, nullptr, nullptr, nullptr);
    std::sort(model.begin(), model.end());
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(vl_arrayGetNLL(&a, static_cast<uint32_t>(i + 1)), model[i]);
  }
}

TEST(Arrays, SortedStringsFollowTheNonExactComparison) {
  Item a;
  val(&a, "{\"b\", \"ab\", \"a\", \"abc\", \"\", \"B\"}");
  vl_arraySort(&a, nullptr, nullptr, nullptr);
  EXPECT_EQ(vt::show(&a), "{\"\", \"B\", \"a\", \"ab\", \"abc\", \"b\"}");
}

TEST(Arrays, ParamsOfTheCallerAsAnArray) {
  static std::string s_params;
  static VlSymbol s_mod[] = {{"VLT_PARAMS",
                              VL_FS_PUBLIC,
                              {[] {
                                Item r;
                                vt::call(&r, "VL_APARAMS", {});
                                s_params = vt::show(&r);
                              }},
                              VL_SYM_DEFINED}};
  static bool registered = (vl_vmProcessSymbols(s_mod, 1, "arrays_test.cpp", VL_PCODE_VERSION), true);
  (void)registered;
  Item a, b, r;
  vt::num(&a, 1);
  vt::str(&b, "two");
  vt::call(&r, "VLT_PARAMS", {&a, &b});
  EXPECT_EQ(s_params, "{1, \"two\"}");
}

TEST(Arrays, ArgumentErrorsAreRaisedWithTheirCodesAndArguments) {
  struct Case {
    const char* fn;
    std::initializer_list<const char*> args;
    const char* error;
    const char* result;
  } cases[] = {
      {"AADD", {"5"}, "BASE 1/1123 AADD [int:5:w10]", "\"sub\""},
      {"AADD", {"{}"}, "BASE 2/1187 AADD [array[0]]", nullptr},
      {"ASIZE", {"5"}, "BASE 1/2023 ASIZE [int:5:w10,NIL]", "NIL"},
      {"ASIZE", {"{}", "\"xy\""}, "BASE 1/2023 ASIZE [array[0],str:\"xy\"]", "NIL"},
      {"AEVAL", {"5", "6", "7"}, "BASE 1/2017 AEVAL [NIL,NIL,int:7:w10,NIL]", "NIL"},
      {"VL_ATOKENS", {"5"}, "BASE 1/1123 VL_ATOKENS [int:5:w10,NIL,NIL]", "\"sub\""},
      {"ARRAY", {"3", "-1"}, "BASE 2/1131 array dimension [int:3:w10]", "NIL"},
  };
  for (const Case& c : cases) {
    ErrorCatcher errors;
    errors.substitute = Val::s("sub");
    std::vector<Val> args;
    for (const char* a : c.args) {
      Item v;
      val(&v, a);
      args.push_back(Val::from(&v.v));
    }
    Val r = vt::guarded(c.fn, args);
    std::string result = vt::show(&r.it);
    ASSERT_EQ(errors.errors.size(), 1u) << c.fn;
    EXPECT_EQ(errors.errors[0], c.error);
    if (c.result) EXPECT_EQ(result, c.result) << c.fn;
  }
}

}  // namespace
