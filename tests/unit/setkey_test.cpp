// Hot keys: SETKEY, __SETHELPK and __XHELP.
#include <gtest/gtest.h>

#include <cstring>

#include "rtl/inkey.h"
#include "term_support.h"
#include "vm/codeblock.h"
#include "vm/extend.h"
#include "vm/gc.h"
#include "vm/pcodes.h"
#include "vm/vmcall.h"
#include "vm/xmem.h"

namespace {

// A codeblock over `code`, as run-time blocks are made.
VlItem makeBlock(const uint8_t* code, uint32_t len, uint16_t params) {
  VlItem item;
  item.type = VL_IT_NIL;
  vl_codeblockMacroNew(&item, code, len, params);
  return item;
}

VlItem trueBlock() {
  static const uint8_t code[] = {VL_P_PUTTRUE, VL_P_BLOCKEXIT};
  return makeBlock(code, sizeof code, 0);
}

int s_helpArgs = -1;
void fakeHelp() {
  s_helpArgs = vl_pcount();
  vl_retni(vl_parni(1) + vl_parni(2) + vl_parni(3));
}
VlSymbol s_helpModule[] = {{"HELP", VL_FS_PUBLIC, {fakeHelp}, VL_SYM_DEFINED}};
struct Register {
  Register() { vl_vmProcessSymbols(s_helpModule, 1, "setkey_test.cpp", VL_PCODE_VERSION); }
} s_register;

class SetKey : public ::testing::Test {
 protected:
  void SetUp() override { vl_setkeyInit(); }
  void TearDown() override { vl_setkeyInit(); }
};

TEST_F(SetKey, BindQueryReplaceRemove) {
  VlItem a = trueBlock(), b = trueBlock();
  Arg key(-1), nil;
  {
    VlResult r = vlCall("SETKEY", {&key, &a});
    EXPECT_TRUE(VL_IS_NIL(&r.item)) << "first binding returns no previous action";
  }
  {
    VlResult r = vlCall("SETKEY", {&key});
    ASSERT_TRUE(VL_IS_BLOCK(&r.item));
    EXPECT_EQ(r->u.blk.base, a.u.blk.base);
  }
  {
    VlResult r = vlCall("SETKEY", {&key, &b});
    ASSERT_TRUE(VL_IS_BLOCK(&r.item)) << "rebinding returns the previous action";
    EXPECT_EQ(r->u.blk.base, a.u.blk.base);
  }
  {
    VlResult r = vlCall("SETKEY", {&key, &nil});
    ASSERT_TRUE(VL_IS_BLOCK(&r.item));
    EXPECT_EQ(r->u.blk.base, b.u.blk.base);
  }
  {
    VlResult r = vlCall("SETKEY", {&key});
    EXPECT_TRUE(VL_IS_NIL(&r.item)) << "a non-block action removes the binding";
  }

  // The table held its own copies: the blocks survive until we let go of them.
  EXPECT_EQ(a.u.blk.base->holders, 1);
  EXPECT_EQ(b.u.blk.base->holders, 1);
  vl_itemClear(&a);
  vl_itemClear(&b);
}

TEST_F(SetKey, KeyZeroAndUnboundKeys) {
  VlItem a = trueBlock();
  Arg zero(0), other(500), text("not a block");
  vlCall("SETKEY", {&zero, &a});
  EXPECT_TRUE(VL_IS_NIL(vlCall("SETKEY", {&zero}).operator->()));
  EXPECT_TRUE(VL_IS_NIL(vlCall("SETKEY", {&other, &text}).operator->())) << "a non-block for an unbound key binds nothing";
  EXPECT_TRUE(VL_IS_NIL(vlCall("SETKEY", {&other}).operator->()));
  EXPECT_EQ(a.u.blk.base->holders, 1);
  vl_itemClear(&a);
}

TEST_F(SetKey, AConditionThatAnswersFalseHidesTheAction) {
  static const uint8_t refuse[] = {VL_P_PUTFALSE, VL_P_BLOCKEXIT};
  // {|k| k == 28}: the condition gets the key code.
  static const uint8_t is28[] = {VL_P_LOADLOCAL1, 1, VL_P_PUTINT8, 28, VL_P_EQ, VL_P_BLOCKEXIT};
  VlItem action = trueBlock(), no = makeBlock(refuse, sizeof refuse, 1), yes = makeBlock(is28, sizeof is28, 1);
  Arg k28(28);
  vlCall("SETKEY", {&k28, &action, &no});
  EXPECT_TRUE(VL_IS_NIL(vlCall("SETKEY", {&k28}).operator->()));
  {
    VlResult r = vlCall("SETKEY", {&k28, &action, &yes});
    EXPECT_TRUE(VL_IS_BLOCK(&r.item)) << "the action is returned even while its condition refuses";
  }
  {
    VlResult r = vlCall("SETKEY", {&k28});
    ASSERT_TRUE(VL_IS_BLOCK(&r.item));
    EXPECT_EQ(r->u.blk.base, action.u.blk.base);
  }
  vlCall("SETKEY", {&k28, &action});
  {
    VlResult r = vlCall("SETKEY", {&k28});
    EXPECT_TRUE(VL_IS_BLOCK(&r.item)) << "rebinding without a condition drops the old one";
  }
  for (VlItem* b : {&action, &no, &yes}) vl_itemClear(b);
}

TEST_F(SetKey, HelpKeyCallsXHelpWithTheBlocksArguments) {
  vlCall("__SETHELPK", {});
  VlResult r = vlCall("SETKEY", {&Arg(28)});
  ASSERT_TRUE(VL_IS_BLOCK(&r.item));
  EXPECT_EQ(r->n16, 3);
  s_helpArgs = -1;
  Arg p(10), l(20), v(30);
  VlItem* answer = vl_vmEvalBlockV(&r.item, 3, &p, &l, &v);
  EXPECT_EQ(s_helpArgs, 3);
  EXPECT_EQ(vl_itemGetNI(answer), 60) << "HELP's answer is the block's";
}

TEST_F(SetKey, XHelpForwardsEveryArgumentToHelp) {
  EXPECT_EQ(vlCallN("__XHELP", {&Arg(1), &Arg(2), &Arg(4)}), 7);
  EXPECT_EQ(s_helpArgs, 3);
}

}  // namespace
