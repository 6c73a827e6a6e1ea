// Statics: module slices of the one statics array, loads, stores and references through the
// running module's base, collector roots, and the anchor symbol given back at release.
#include <gtest/gtest.h>

#include "vars_util.h"
#include "vm/gc.h"
#include "vm/memvars.h"
#include "vm/stack.h"

using vt::Item;

namespace {

void initA() {}
void initB() {}

TEST(Statics, ModulesGetTheirOwnSlicesAndTheAnchorsAreGivenBackAtRelease) {
  VlSymbol anchorA = {"(_INITSTATICS)", VL_FS_INITEXIT, {initA}, nullptr};
  VlSymbol anchorB = {"(_INITSTATICS)", VL_FS_INITEXIT, {initB}, nullptr};
  int32_t savedBase = vl_stack.staticsBase;
  uint32_t before = vl_arrayLen(vl_staticsArray());

  vl_staticsReserve(&anchorA, 2);
  vl_staticsReserve(&anchorB, 3);
  EXPECT_EQ(anchorA.value.staticsBase, static_cast<intptr_t>(before));
  EXPECT_EQ(anchorB.value.staticsBase, static_cast<intptr_t>(before + 2));
  EXPECT_EQ(vl_arrayLen(vl_staticsArray()), before + 5);

  // Module A stores 10 into its static 2, module B 20 into its static 1.
  vl_staticsSetBase(&anchorA);
  vl_vmPushInteger(10);
  vl_staticsPop(2);
  vl_staticsSetBase(&anchorB);
  vl_vmPushInteger(20);
  vl_staticsPop(1);
  EXPECT_EQ(vl_arrayGetNI(vl_staticsArray(), before + 2), 10);
  EXPECT_EQ(vl_arrayGetNI(vl_staticsArray(), before + 3), 20);

  // A reference to B's static 1 writes into the statics array.
  vl_staticsPushRef(1);
  VlItem* ref = vl_stack.pos[-1];
  ASSERT_TRUE(VL_IS_BYREF(ref));
  vt::num(vl_itemUnRef(ref), 21);
  vl_stackPop();
  vl_staticsPush(1);
  EXPECT_EQ(vt::show(vl_stack.pos[-1]), "21");
  vl_stackPop();

  // Statics are roots: a cycle stored in one survives a collection.
  Item a;
  vl_arrayNew(&a, 1);
  vl_arraySet(&a, 1, &a);
  vl_vmPush(&a);
  vl_itemClear(&a);
  vl_staticsPop(3);
  size_t blocks = vl_gcBlockCount();
  vl_gcCollect(true);
  EXPECT_EQ(vl_gcBlockCount(), blocks);
  EXPECT_TRUE(VL_IS_ARRAY(vl_staticsItem(3)));

  vl_staticsRelease();
  EXPECT_EQ(anchorA.value.func, &initA) << "the static-initialisation procedure is callable again";
  EXPECT_EQ(anchorB.value.func, &initB);
  EXPECT_TRUE(VL_IS_NIL(vl_staticsArray()));
  vl_gcCollect(true);
  EXPECT_EQ(vl_gcBlockCount(), blocks - 2) << "the statics array and the cycle it held are gone";
  vl_staticsReset();
  vl_stack.staticsBase = savedBase;
}

TEST(StaticsDeathTest, AStaticOutsideTheArrayEndsTheProcess) {
  VlSymbol anchor = {"(_INITSTATICS)", VL_FS_INITEXIT, {initA}, nullptr};
  vl_staticsReserve(&anchor, 1);
  EXPECT_DEATH(vl_staticsPush(2), "Invalid static variable 2");
  vl_staticsRelease();
  vl_staticsReset();
}

}  // namespace
