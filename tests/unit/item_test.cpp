// Items: holder counts, shared short strings, number widths and the neutral getters.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "vm/arrays.h"
#include "vm/item.h"

namespace {

struct Item {
  VlItem v{};
  Item() { v.type = VL_IT_NIL; }
  ~Item() { vl_itemClear(&v); }
  VlItem* operator&() { return &v; }
  VlItem* operator->() { return &v; }
};

TEST(Item, StringCopiedTwiceIsFreedOnceWhenAllThreeAreCleared) {
  Item a, b, c;
  vl_itemPutC(&a, "shared text");
  vl_itemCopy(&b, &a);
  vl_itemCopy(&c, &b);
  ASSERT_NE(a->u.str.holders, nullptr);
  EXPECT_EQ(*a->u.str.holders, 3u);
  EXPECT_EQ(a->u.str.text, c->u.str.text);  // shared, not copied
  vl_itemClear(&a);
  vl_itemClear(&b);
  EXPECT_EQ(*c->u.str.holders, 1u);
  EXPECT_STREQ(c->u.str.text, "shared text");
  vl_itemClear(&c);  // the last holder frees the text; a second free would trip the sanitizer
  EXPECT_EQ(c->type, VL_IT_NIL);
}

TEST(Item, ForwardMovesWithoutTouchingHolders) {
  Item a, b;
  vl_itemPutC(&a, "moving");
  vl_itemForwardValue(&b, &a);
  EXPECT_EQ(a->type, VL_IT_NIL);
  EXPECT_EQ(*b->u.str.holders, 1u);
}

TEST(Item, ShortStringsAreStaticAndShared) {
  Item a, b, e;
  vl_itemPutCL(&a, "x", 1);
  vl_itemPutC(&b, "x");
  vl_itemPutC(&e, "");
  EXPECT_EQ(a->u.str.text, b->u.str.text);
  EXPECT_EQ(a->u.str.holders, nullptr);
  EXPECT_EQ(e->n32, 0u);
  char zero = '\0';
  Item z;
  vl_itemPutCL(&z, &zero, 1);
  EXPECT_EQ(z->n32, 1u);
  EXPECT_EQ(z->u.str.text[0], '\0');
}

TEST(Item, UnShareGivesAPrivateCopyKeepingTheMemoBit) {
  Item a, b;
  vl_itemPutC(&a, "memo text");
  vl_itemSetCMemo(&a);
  vl_itemCopy(&b, &a);
  char* text = vl_itemUnShareString(&b);
  text[0] = 'M';
  EXPECT_STREQ(a->u.str.text, "memo text");
  EXPECT_STREQ(b->u.str.text, "Memo text");
  EXPECT_STREQ(vl_itemTypeStr(&b), "M");
}

TEST(Item, EmbeddedZeroBytesCountInTheLength) {
  Item a;
  vl_itemPutCL(&a, "a\0b", 3);
  EXPECT_EQ(vl_itemGetCLen(&a), 3u);
  EXPECT_EQ(a->u.str.text[3], '\0');
}

TEST(Item, CopyOntoItselfIsInternalError9020) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        VlItem a;
        a.type = VL_IT_NIL;
        vl_itemPutNI(&a, 1);
        vl_itemCopy(&a, &a);
      },
      ::testing::ExitedWithCode(1), "Unrecoverable error 9020: An item was going to be copied to itself from vl_itemCopy");
}

TEST(Item, PrematureStringReleaseIsInternalError9027) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        VlItem a;
        a.type = VL_IT_NIL;
        vl_itemPutC(&a, "released too early");
        *a.u.str.holders = 0;
        vl_itemClear(&a);
      },
      ::testing::ExitedWithCode(1), "9027: Premature String Release detected: 'released too early'");
}

TEST(Item, PrematureArrayReleaseIsInternalError9027) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        VlItem a;
        a.type = VL_IT_NIL;
        vl_arrayNew(&a, 2);
        a.u.arr.base->holders = 0;
        vl_itemClear(&a);
      },
      ::testing::ExitedWithCode(1), "9027: Premature Array/Object Release detected");
}

struct WidthCase {
  const char* what;
  std::function<void(VlItem*)> put;
  VlType type;
  int width;
  int decimals;
};

TEST(Item, WidthRules) {
  const WidthCase cases[] = {
      {"integer -999,999,999", [](VlItem* i) { vl_itemPutNI(i, -999999999); }, VL_IT_INTEGER, 10, 0},
      {"integer -1,000,000,000", [](VlItem* i) { vl_itemPutNI(i, -1000000000); }, VL_IT_INTEGER, 20, 0},
      {"integer 2,147,483,647", [](VlItem* i) { vl_itemPutNI(i, 2147483647); }, VL_IT_INTEGER, 10, 0},
      {"long 9,999,999,999", [](VlItem* i) { vl_itemPutNLL(i, 9999999999LL); }, VL_IT_LONG, 10, 0},
      {"long 10,000,000,000", [](VlItem* i) { vl_itemPutNLL(i, 10000000000LL); }, VL_IT_LONG, 20, 0},
      {"double 10,000,000,000", [](VlItem* i) { vl_itemPutND(i, 10000000000.0); }, VL_IT_DOUBLE, 20, 2},
      {"double 9,999,999,999.5", [](VlItem* i) { vl_itemPutND(i, 9999999999.5); }, VL_IT_DOUBLE, 10, 2},
      {"double -999,999,999", [](VlItem* i) { vl_itemPutND(i, -999999999.0); }, VL_IT_DOUBLE, 20, 2},
      {"double NaN", [](VlItem* i) { vl_itemPutND(i, std::nan("")); }, VL_IT_DOUBLE, 20, 2},
      {"PutNLen 5.0 dec 0", [](VlItem* i) { vl_itemPutNLen(i, 5.0, 0, 0); }, VL_IT_INTEGER, 10, 0},
      {"PutNLen 3e9 dec 0", [](VlItem* i) { vl_itemPutNLen(i, 3000000000.0, 0, 0); }, VL_IT_LONG, 10, 0},
      {"PutNLen 1e20 dec 0", [](VlItem* i) { vl_itemPutNLen(i, 1e20, 0, 0); }, VL_IT_DOUBLE, 20, 0},
      {"PutNLen -999,999,999 width 0", [](VlItem* i) { vl_itemPutNLen(i, -999999999.0, 0, 0); }, VL_IT_INTEGER, 20, 0},
      {"explicit width 5", [](VlItem* i) { vl_itemPutNILen(i, 7, 5); }, VL_IT_INTEGER, 5, 0},
      {"width 0 means default", [](VlItem* i) { vl_itemPutNILen(i, 7, 0); }, VL_IT_INTEGER, 10, 0},
      {"width 100 means default", [](VlItem* i) { vl_itemPutNILen(i, 7, 100); }, VL_IT_INTEGER, 10, 0},
      {"negative decimals mean SET_DECIMALS", [](VlItem* i) { vl_itemPutNDLen(i, 1.5, 6, -1); }, VL_IT_DOUBLE, 6, 2},
  };
  for (const WidthCase& c : cases) {
    Item it;
    c.put(&it);
    int w, d;
    vl_itemGetNLen(&it, &w, &d);
    EXPECT_EQ(it->type, c.type) << c.what;
    EXPECT_EQ(w, c.width) << c.what;
    EXPECT_EQ(d, c.decimals) << c.what;
  }
}

TEST(Item, NeutralGettersAndLogicalConversion) {
  Item y, yes, num, date, nil;
  vl_itemPutC(&y, "Y");
  vl_itemPutC(&yes, "YES");
  vl_itemPutND(&num, 2.75);
  EXPECT_TRUE(vl_itemGetL(&y));
  EXPECT_FALSE(vl_itemGetL(&yes));
  EXPECT_TRUE(vl_itemGetL(&num));
  EXPECT_EQ(vl_itemGetNI(&num), 2);  // truncated toward zero
  EXPECT_EQ(vl_itemGetND(&y), 'Y');
  EXPECT_EQ(vl_itemGetNI(&nil), 0);
  EXPECT_STREQ(vl_itemGetCPtr(&num), "");
  EXPECT_EQ(vl_itemGetCLen(nullptr), 0u);
  EXPECT_EQ(vl_itemGetPtr(&y), nullptr);
  vl_itemPutD(&date, 2001, 2, 29);
  EXPECT_EQ(vl_itemGetDL(&date), 0) << "2001-02-29 is not a date";
  vl_itemPutD(&date, 2000, 2, 29);
  char ds[9];
  EXPECT_STREQ(vl_itemGetDS(&date, ds), "20000229");
  EXPECT_STREQ(vl_itemGetDS(&nil, ds), "        ");
}

TEST(Item, TypeLetters) {
  Item arr, obj, memo, str, blockless;
  vl_arrayNew(&arr, 0);
  vl_arrayNew(&obj, 0);
  obj->u.arr.base->classH = 1;
  vl_itemPutC(&memo, "m");
  vl_itemSetCMemo(&memo);
  vl_itemPutC(&str, "s");
  EXPECT_STREQ(vl_itemTypeStr(&arr), "A");
  EXPECT_STREQ(vl_itemTypeStr(&obj), "O");
  obj->u.arr.base->classH = 0;
  EXPECT_STREQ(vl_itemTypeStr(&memo), "M");
  EXPECT_STREQ(vl_itemTypeStr(&str), "C");
  EXPECT_STREQ(vl_itemTypeStr(&blockless), "U");
}

TEST(Item, ElementReferenceHoldsTheArrayAndReadsThrough) {
  Item arr, ref, value;
  vl_arrayNew(&arr, 3);
  vl_itemPutNI(&value, 42);
  vl_arraySet(&arr, 2, &value);
  ASSERT_TRUE(vl_arrayGetRef(&arr, 2, &ref));
  EXPECT_EQ(arr->u.arr.base->holders, 2u);
  EXPECT_EQ(vl_itemGetNI(vl_itemUnRef(&ref)), 42);
  vl_itemClear(&arr);  // the reference keeps the base alive
  EXPECT_EQ(vl_itemGetNI(vl_itemUnRef(&ref)), 42);
}

}  // namespace
