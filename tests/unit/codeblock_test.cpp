// Codeblock creation: detached locals shared between the creator and its blocks and surviving
// the creator's return, vectors shared with a running block, the object a block holds, owned
// p-code of macro blocks, and VL_SAVEBLOCK.
#include <gtest/gtest.h>

#include "vars_util.h"
#include "vm/codeblock.h"
#include "vm/gc.h"
#include "vm/memvars.h"
#include "vm/stack.h"

using vt::Item;

namespace {

const uint8_t s_code[] = {0x11, 0x22, 0x33, 0x06};
const uint8_t s_localOne[] = {1, 0};
const uint8_t s_localsTwoOne[] = {2, 0, 1, 0};

VlItem* s_first;
VlItem* s_second;
std::string s_seenInside;

VlItem* detached(VlItem* block, int n) { return vl_itemUnRef(vl_codeblockGetVar(block, -n)); }

// A procedure with one parameter and one local (slot 2): it makes two blocks over its local 1,
// then changes the local, and the blocks must see the change.
void makeBlocks() {
  vl_vmPushNil();  // local 2
  vl_codeblockNew(s_first, s_code, sizeof s_code, 1, s_localOne, 1, nullptr, nullptr);
  vl_codeblockNew(s_second, s_code, sizeof s_code, 0, s_localsTwoOne, 2, nullptr, nullptr);
  vt::num(vl_itemUnRef(vl_stackLocalVariable(1)), 10);
  vt::str(vl_itemUnRef(vl_stackLocalVariable(2)), "two");
  s_seenInside = vt::show(detached(s_first, 1)) + " " + vt::show(detached(s_second, 2)) + " " +
                 vt::show(detached(s_second, 1));
}

VlSymbol s_module[] = {{"VLT_MAKEBLOCKS", VL_FS_PUBLIC, {makeBlocks}, VL_SYM_DEFINED}};
struct Register {
  Register() { vl_vmProcessSymbols(s_module, 1, "codeblock_test.cpp", VL_PCODE_VERSION); }
} s_register;

TEST(Codeblock, BlocksShareTheirCreatorsLocalsAndKeepThemAfterItReturns) {
  s_first = vl_itemNew(nullptr);
  s_second = vl_itemNew(nullptr);
  Item arg, r;
  vt::num(&arg, 1);
  vt::call(&r, "VLT_MAKEBLOCKS", {&arg});
  EXPECT_EQ(s_seenInside, "10 10 \"two\"") << "assignments by the creator are seen by both blocks";
  ASSERT_TRUE(VL_IS_BLOCK(s_first));
  EXPECT_EQ(s_first->n16, 1) << "parameter count";
  EXPECT_EQ(std::string(s_first->u.blk.base->procname), "VLT_MAKEBLOCKS");

  // The creator's frame is gone; the detached value lives on in the blocks.
  EXPECT_EQ(vt::show(detached(s_first, 1)), "10");
  vt::num(detached(s_first, 1), 11);
  EXPECT_EQ(vt::show(detached(s_second, 2)), "11") << "two blocks share one detached local";

  uint32_t handle = static_cast<uint32_t>(vl_codeblockGetVar(s_first, -1)->u.ref.index);
  EXPECT_EQ(vl_memvarValueHolders(handle), 2u);
  Item ref;
  vl_codeblockGetRef(&ref, s_first, -1);
  EXPECT_EQ(vl_memvarValueHolders(handle), 3u);
  vt::num(vl_itemUnRef(&ref), 12);
  EXPECT_EQ(vt::show(detached(s_second, 2)), "12");
  vl_itemClear(&ref);
  vl_itemRelease(s_first);
  EXPECT_EQ(vl_memvarValueHolders(handle), 1u);
  vl_itemRelease(s_second);
  EXPECT_EQ(vl_memvarValueHolders(handle), 0u) << "the last block frees the detached value";

  // Out-of-range local numbers read as NIL instead of reaching outside the vector.
  Item block;
  vl_codeblockMacroNew(&block, s_code, sizeof s_code, 0);
  EXPECT_TRUE(VL_IS_NIL(vl_codeblockGetVar(&block, -1)));
}

// Opens a frame whose self is `self`, as the call protocol does, runs fn, closes it.
template <typename Fn>
void inFrameWithSelf(const VlItem* self, Fn fn) {
  VlItem** savedBase = vl_stack.base;
  vl_vmPushSymbol(vl_dynsymGet("VLT_FRAME")->symbol);
  vl_vmPush(self);
  VlItem** symSlot = vl_stack.pos - 2;
  (*symSlot)->u.sym.paramCnt = 0;
  (*symSlot)->u.sym.prevFrame = static_cast<int32_t>(savedBase - vl_stack.items);
  vl_stack.base = symSlot;
  fn();
  vl_stack.base = savedBase;
  vl_stackPop();
  vl_stackPop();
}

TEST(Codeblock, ABlockMadeInsideARunningBlockSharesItsVector) {
  Item outer, inner, none;
  // The outer block detaches local 1 of a creator frame.
  inFrameWithSelf(&none, [&] {
    VlItem* slot = vl_stackAllocItem();
    vt::num(slot, 3);
    vl_codeblockNew(&outer, s_code, sizeof s_code, 0, s_localOne, 1, nullptr, nullptr);
    vl_stackPop();
  });
  VlItem* vector = outer->u.blk.base->locals;
  inFrameWithSelf(&outer, [&] { vl_codeblockNew(&inner, s_code, sizeof s_code, 0, nullptr, 0, nullptr, nullptr); });
  EXPECT_EQ(inner->u.blk.base->locals, vector);
  EXPECT_EQ(vector[0].u.i64, 2);
  EXPECT_EQ(std::string(inner->u.blk.base->procname), "VLT_FRAME") << "named after the outer block's creator";
  vt::num(detached(&inner, 1), 8);
  EXPECT_EQ(vt::show(detached(&outer, 1)), "8");
  vl_itemClear(&outer);
  EXPECT_EQ(vt::show(detached(&inner, 1)), "8") << "the vector outlives the block that made it";
}

TEST(Codeblock, ABlockMadeInAMethodHoldsTheObject) {
  Item object, block;
  vl_arrayNew(&object, 2);
  object->u.arr.base->classH = 1;  // marks it as an object; no class system is needed here
  uint32_t before = object->u.arr.base->holders;
  inFrameWithSelf(&object, [&] { vl_codeblockNew(&block, s_code, sizeof s_code, 0, nullptr, 0, nullptr, nullptr); });
  EXPECT_EQ(block->u.blk.base->object, object->u.arr.base);
  EXPECT_EQ(object->u.arr.base->holders, before + 1);
  vl_itemClear(&block);
  EXPECT_EQ(object->u.arr.base->holders, before);
  object->u.arr.base->classH = 0;
}

TEST(Codeblock, MacroBlocksOwnACopyOfTheirCodeAndSaveBlockDescribesABlock) {
  uint8_t code[] = {1, 2, 3};
  Item block, saved, r;
  vl_codeblockMacroNew(&block, code, sizeof code, 2);
  code[0] = 9;  // the block must not see later changes of the caller's buffer
  vt::call(&saved, "VL_SAVEBLOCK", {&block});
  EXPECT_EQ(vt::show(&saved), std::string("{\"\", \"") + std::string("\x01\x02\x03", 3) + "\", 2}");
  Item notBlock;
  vt::num(&notBlock, 1);
  vt::call(&r, "VL_SAVEBLOCK", {&notBlock});
  EXPECT_TRUE(VL_IS_NIL(&r));
}

TEST(Codeblock, ACycleThroughADetachedLocalIsReclaimed) {
  vl_gcCollect(true);
  size_t blocks = vl_gcBlockCount();
  {
    Item local, block;
    inFrameWithSelf(&local, [&] {
      VlItem* slot = vl_stackAllocItem();
      vl_codeblockNew(&block, s_code, sizeof s_code, 0, s_localOne, 1, nullptr, nullptr);
      vl_itemCopy(vl_itemUnRef(slot), &block);  // the block's own detached local holds it
      vl_stackPop();
    });
  }
  EXPECT_EQ(vl_gcBlockCount(), blocks + 1);
  vl_gcCollect(true);
  EXPECT_EQ(vl_gcBlockCount(), blocks);
}

TEST(Codeblock, AnArrayReachedOnlyThroughAReferenceInADetachedLocalSurvivesACollection) {
  vl_gcCollect(true);
  size_t blocks = vl_gcBlockCount();
  VlItem* block = vl_stackAllocItem();  // the block is a root; the array is reachable only through it
  {
    Item array, none;
    vl_arrayNew(&array, 2);
    vt::num(vl_arrayGetItemPtr(&array, 2), 77);
    inFrameWithSelf(&none, [&] {
      VlItem* slot = vl_stackAllocItem();
      vl_arrayGetRef(&array, 2, slot);  // a by-reference argument @array[2] in local 1
      vl_codeblockNew(block, s_code, sizeof s_code, 0, s_localOne, 1, nullptr, nullptr);
      vl_stackPop();
    });
  }
  vl_gcCollect(true);
  EXPECT_EQ(vl_gcBlockCount(), blocks + 2);
  EXPECT_EQ(vt::show(detached(block, 1)), "77");
  vl_stackPop();
  EXPECT_EQ(vl_gcBlockCount(), blocks);
}

using CodeblockDeathTest = ::testing::Test;

TEST_F(CodeblockDeathTest, EvaluatingSomethingElseIsInternalError9017) {
  Item notBlock;
  EXPECT_DEATH(inFrameWithSelf(&notBlock, [] { vl_codeblockEvaluate(); }), "9017.*Codeblock expected from vl_vmDoBlock");
}

}  // namespace
