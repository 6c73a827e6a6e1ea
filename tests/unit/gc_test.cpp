// The collector: cycles reclaimed only by a collection, the allocation threshold of unforced
// requests, held items as roots, re-entry, and structures nested too deep for host recursion.
#include <gtest/gtest.h>

#include "vars_util.h"
#include "vm/gc.h"
#include "vm/stack.h"

using vt::Item;

namespace {

// A collectable block that counts how often its release routine runs.
int s_released;
int s_nestedCollections;
void countRelease(void*) { ++s_released; }
void collectFromRelease(void*) {
  ++s_released;
  size_t before = vl_gcBlockCount();
  vl_gcCollect(true);  // a collection requested while one runs does nothing
  if (vl_gcBlockCount() == before) ++s_nestedCollections;
}

// Two arrays holding each other, the first also holding a counting block. Returns nothing: the
// caller's items are gone, so only the cycle keeps them.
void makeCycle(VlGcReleaseFn release) {
  Item a, b, p;
  vl_arrayNew(&a, 0);
  vl_arrayNew(&b, 0);
  vl_arrayAdd(&a, &b);
  vl_arrayAdd(&b, &a);
  vl_itemPutPtrGC(&p, vl_gcAlloc(16, release));
  vl_arrayAdd(&a, &p);
}

TEST(Gc, ACycleOfArraysIsReclaimedByAForcedCollectionAndNotBefore) {
  vl_gcCollect(true);
  size_t blocks = vl_gcBlockCount();
  s_released = 0;
  makeCycle(countRelease);
  EXPECT_EQ(vl_gcBlockCount(), blocks + 3) << "plain holder counting cannot free a cycle";
  vl_gcCollect(false);  // only three allocations since the last collection
  EXPECT_EQ(s_released, 0);
  EXPECT_EQ(vl_gcBlockCount(), blocks + 3);
  vl_gcCollect(true);
  EXPECT_EQ(s_released, 1) << "the release routine runs exactly once";
  EXPECT_EQ(vl_gcBlockCount(), blocks);
}

TEST(Gc, AnUnforcedRequestRunsAfterSixtyFourAllocations) {
  vl_gcCollect(true);
  size_t blocks = vl_gcBlockCount();
  s_released = 0;
  makeCycle(countRelease);
  VlItem* keep = vl_stackAllocItem();  // a root; a C++ local would not be one
  vl_arrayNew(keep, 0);
  for (int i = 0; i < 64; ++i) {
    Item e;
    vl_arrayNew(&e, 1);
    vl_arrayAddForward(keep, &e);
  }
  vl_gcCollect(false);
  EXPECT_EQ(s_released, 1);
  EXPECT_EQ(vl_gcBlockCount(), blocks + 65) << "only the cycle went; what the stack slot holds stays";
  EXPECT_EQ(vl_gcAllocCount(), 0u);
  vl_stackPop();
}

TEST(Gc, AValueHeldByAFreeStandingItemSurvivesUntilTheItemIsReleased) {
  vl_gcCollect(true);
  size_t blocks = vl_gcBlockCount();
  VlItem* held = vl_itemNew(nullptr);
  vl_arrayNew(held, 1);
  vl_arraySet(held, 1, held);  // self-cycle
  vl_gcCollect(true);
  EXPECT_EQ(vl_gcBlockCount(), blocks + 2);  // the held item and the array
  EXPECT_EQ(vl_arrayGetItemPtr(held, 1)->u.arr.base, held->u.arr.base);
  vl_itemRelease(held);
  vl_gcCollect(true);
  EXPECT_EQ(vl_gcBlockCount(), blocks);
}

TEST(Gc, ACollectionRequestedWhileOneRunsDoesNothing) {
  vl_gcCollect(true);
  s_released = s_nestedCollections = 0;
  makeCycle(collectFromRelease);
  vl_gcCollect(true);
  EXPECT_EQ(s_released, 1);
  EXPECT_EQ(s_nestedCollections, 1);
}

TEST(Gc, ValuesOnTheStackAndInTheReturnValueAreRoots) {
  vl_gcCollect(true);
  size_t blocks = vl_gcBlockCount();
  VlItem* slot = vl_stackAllocItem();
  vl_arrayNew(slot, 1);
  vl_arraySet(slot, 1, slot);
  vl_arrayNew(&vl_stack.ret, 1);
  vl_arraySet(&vl_stack.ret, 1, &vl_stack.ret);
  vl_gcCollect(true);
  EXPECT_EQ(vl_gcBlockCount(), blocks + 2);
  vl_stackPop();
  vl_itemClear(&vl_stack.ret);
  vl_gcCollect(true);
  EXPECT_EQ(vl_gcBlockCount(), blocks);
}

TEST(Gc, DeeplyNestedArraysAreMarkedAndReleasedWithoutRecursingOnTheHostStack) {
  vl_gcCollect(true);
  size_t blocks = vl_gcBlockCount();
  constexpr int depth = 300000;
  VlItem* root = vl_stackAllocItem();
  vl_arrayNew(root, 1);
  VlItem* cur = root;
  for (int i = 1; i < depth; ++i) {
    VlItem* slot = vl_arrayGetItemPtr(cur, 1);
    vl_arrayNew(slot, 1);
    cur = slot;
  }
  vl_arraySet(cur, 1, root);  // and the innermost closes a cycle back to the outermost
  vl_gcCollect(true);
  EXPECT_EQ(vl_gcBlockCount(), blocks + depth) << "everything reachable survived";
  vl_stackPop();
  vl_gcCollect(true);
  EXPECT_EQ(vl_gcBlockCount(), blocks);

  // Without the cycle the chain goes by holder counts alone, one release inside the next.
  root = vl_stackAllocItem();
  vl_arrayNew(root, 1);
  cur = root;
  for (int i = 1; i < depth; ++i) {
    VlItem* slot = vl_arrayGetItemPtr(cur, 1);
    vl_arrayNew(slot, 1);
    cur = slot;
  }
  vl_stackPop();
  EXPECT_EQ(vl_gcBlockCount(), blocks);
}

TEST(Gc, VlGcAllCollectsOnRequest) {
  vl_gcCollect(true);
  size_t blocks = vl_gcBlockCount();
  s_released = 0;
  makeCycle(countRelease);
  Item r, f;
  vl_itemPutL(&f, false);
  vt::call(&r, "VL_GCALL", {&f});  // unforced: too few allocations
  EXPECT_EQ(s_released, 0);
  vt::call(&r, "VL_GCALL", {});
  EXPECT_EQ(s_released, 1);
  EXPECT_EQ(vl_gcBlockCount(), blocks);
}

}  // namespace
