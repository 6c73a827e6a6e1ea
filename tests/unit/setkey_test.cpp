// Hot keys: SETKEY, __SETHELPK and __XHELP.
#include <gtest/gtest.h>

#include <cstring>

#include "rtl/inkey.h"
#include "vm/codeblock.h"
#include "vm/extend.h"
#include "vm/gc.h"
#include "vm/pcodes.h"
#include "vm/vmcall.h"
#include "vm/xmem.h"

namespace {

// A codeblock item over `code` (an owned copy), as run-time blocks are made.
VlItem makeBlock(const uint8_t* code, uint32_t len, uint16_t params) {
  auto* cb = static_cast<VlCodeblock*>(vl_gcAlloc(sizeof(VlCodeblock), vl_codeblockReleaseBlock));
  std::memset(cb, 0, sizeof *cb);
  auto* copy = static_cast<uint8_t*>(vl_xgrab(len));
  std::memcpy(copy, code, len);
  cb->procname = "TEST";
  cb->holders = 1;
  cb->pcode = copy;
  cb->codeLength = len;
  cb->ownsCode = true;
  VlItem item;
  item.type = VL_IT_BLOCK;
  item.n16 = params;
  item.n32 = 0;
  item.u.blk.base = cb;
  return item;
}

VlItem trueBlock() {
  static const uint8_t code[] = {VL_P_PUTTRUE, VL_P_BLOCKEXIT};
  return makeBlock(code, sizeof code, 0);
}

// Calls a language function with the given arguments (null = NIL); the result is copied out.
VlItem call(const char* name, std::initializer_list<const VlItem*> args) {
  vl_vmPushSymbol(vl_dynsymFindName(name)->symbol);
  vl_vmPushNil();
  for (const VlItem* a : args) {
    if (a) vl_vmPush(a);
    else vl_vmPushNil();
  }
  vl_vmDo(static_cast<uint16_t>(args.size()));
  VlItem out;
  out.type = VL_IT_NIL;
  vl_itemCopy(&out, &vl_stack.ret);
  return out;
}

VlItem num(int n) {
  VlItem v;
  v.type = VL_IT_NIL;
  vl_itemPutNI(&v, n);
  return v;
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
  VlItem key = num(-1), a = trueBlock(), b = trueBlock(), nil;
  nil.type = VL_IT_NIL;

  VlItem r = call("SETKEY", {&key, &a});
  EXPECT_TRUE(VL_IS_NIL(&r)) << "first binding returns no previous action";
  r = call("SETKEY", {&key});
  ASSERT_TRUE(VL_IS_BLOCK(&r));
  EXPECT_EQ(r.u.blk.base, a.u.blk.base);
  vl_itemClear(&r);

  r = call("SETKEY", {&key, &b});
  ASSERT_TRUE(VL_IS_BLOCK(&r)) << "rebinding returns the previous action";
  EXPECT_EQ(r.u.blk.base, a.u.blk.base);
  vl_itemClear(&r);

  r = call("SETKEY", {&key, &nil});
  ASSERT_TRUE(VL_IS_BLOCK(&r));
  EXPECT_EQ(r.u.blk.base, b.u.blk.base);
  vl_itemClear(&r);
  r = call("SETKEY", {&key});
  EXPECT_TRUE(VL_IS_NIL(&r)) << "a non-block action removes the binding";

  // The table held its own copies: the blocks survive until we let go of them.
  EXPECT_EQ(a.u.blk.base->holders, 1);
  EXPECT_EQ(b.u.blk.base->holders, 1);
  vl_itemClear(&a);
  vl_itemClear(&b);
}

TEST_F(SetKey, KeyZeroAndUnboundKeys) {
  VlItem zero = num(0), other = num(500), a = trueBlock(), text;
  text.type = VL_IT_NIL;
  vl_itemPutC(&text, "not a block");
  call("SETKEY", {&zero, &a});
  VlItem r = call("SETKEY", {&zero});
  EXPECT_TRUE(VL_IS_NIL(&r));
  r = call("SETKEY", {&other, &text});
  EXPECT_TRUE(VL_IS_NIL(&r)) << "a non-block for an unbound key binds nothing";
  r = call("SETKEY", {&other});
  EXPECT_TRUE(VL_IS_NIL(&r));
  EXPECT_EQ(a.u.blk.base->holders, 1);
  vl_itemClear(&a);
  vl_itemClear(&text);
}

TEST_F(SetKey, HelpKeyBindsTwentyEightToAThreeParameterBlock) {
  call("__SETHELPK", {});
  VlItem k28 = num(28);
  VlItem r = call("SETKEY", {&k28});
  ASSERT_TRUE(VL_IS_BLOCK(&r));
  EXPECT_EQ(r.n16, 3);
  vl_itemClear(&r);
}

TEST_F(SetKey, XHelpForwardsEveryArgumentToHelp) {
  VlItem a = num(1), b = num(2), c = num(4);
  VlItem r = call("__XHELP", {&a, &b, &c});
  EXPECT_EQ(s_helpArgs, 3);
  EXPECT_EQ(vl_itemGetNI(&r), 7);
}

}  // namespace
