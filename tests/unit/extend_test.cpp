// The evaluation stack, call frames and the extend interface.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "vm/arrays.h"
#include "vm/extend.h"
#include "vm/vmcall.h"
#include "vm/xmem.h"

namespace {

std::string s_seen;

// Records what the extend readers see of its arguments, then writes back through them.
void probeArgs() {
  char buf[9];
  s_seen = std::to_string(vl_pcount()) + "|" + vl_parcx(1) + "|" + std::to_string(vl_parclen(1)) + "|" +
           std::to_string(vl_parni(2)) + "|" + std::to_string(vl_parnd(3)) + "|" + (vl_parl(4) ? "T" : "F") + "|" +
           vl_pardsbuff(buf, 5) + "|" + std::to_string(vl_parinfa(6, 0)) + "|" + vl_parcx(6, 2) + "|" +
           std::to_string(vl_parcsiz(7)) + "|" + (vl_param(8, VL_IT_ANY) ? "has8" : "no8");
  vl_storni(99, 6, 1);          // into element 1 of the array argument
  vl_storc("changed", 7);       // through the reference argument
  vl_storc("ignored", 2);       // argument 2 was passed by value: nothing happens
  vl_retnl(12345);
}

void countOnly() { vl_retni(vl_pcount()); }

static VlSymbol s_module[] = {
    {"VLT_PROBEARGS", VL_FS_PUBLIC, {probeArgs}, VL_SYM_DEFINED},
    {"VLT_COUNT", VL_FS_PUBLIC, {countOnly}, VL_SYM_DEFINED},
};
struct Register {
  Register() { vl_vmProcessSymbols(s_module, 2, "extend_test.cpp", VL_PCODE_VERSION); }
} s_register;

TEST(Extend, ReadersWritersAndReferences) {
  VlItem arr, ref;
  arr.type = ref.type = VL_IT_NIL;
  vl_arrayNew(&arr, 2);
  VlItem tmp;
  tmp.type = VL_IT_NIL;
  vl_itemPutC(&tmp, "second");
  vl_arraySet(&arr, 2, &tmp);
  vl_itemPutC(&tmp, "original");
  VlItem holder;
  holder.type = VL_IT_NIL;
  vl_arrayNew(&holder, 1);
  vl_arraySet(&holder, 1, &tmp);
  vl_arrayGetRef(&holder, 1, &ref);

  int32_t top = vl_stackTopOffset();
  vl_vmPushSymbol(vl_dynsymFind("VLT_PROBEARGS")->symbol);
  vl_vmPushNil();
  vl_vmPushString("hello", 5);
  vl_vmPushInteger(7);
  vl_vmPushDouble(2.5, 1);
  vl_vmPushLogical(true);
  vl_vmPushDate(2451604);  // 2000-02-29
  vl_vmPush(&arr);
  vl_vmPush(&ref);
  vl_vmDo(7);
  EXPECT_EQ(vl_stackTopOffset(), top) << "the frame is closed";
  EXPECT_EQ(s_seen, "7|hello|5|7|2.500000|T|20000229|2|second|9|no8");
  EXPECT_EQ(vl_itemGetNI(&vl_stack.ret), 12345);
  EXPECT_EQ(vl_arrayGetNI(&arr, 1), 99);
  EXPECT_STREQ(vl_arrayGetCPtr(&holder, 1), "changed");

  vl_itemClear(&arr);
  vl_itemClear(&ref);
  vl_itemClear(&holder);
  vl_itemClear(&tmp);
}

TEST(Extend, StackGrowsPastTwoHundredSlotsAndMemoryReportsIt) {
  int32_t before = static_cast<int32_t>(vl_xquery(1003));
  EXPECT_GE(before, 200);
  int32_t top = vl_stackTopOffset();
  for (int i = 0; i < before + 10; ++i) vl_vmPushInteger(i);
  EXPECT_GT(static_cast<int32_t>(vl_xquery(1003)), before);
  EXPECT_EQ((static_cast<int32_t>(vl_xquery(1003)) - 200) % 20, 0) << "grows by 20 slots at a time";
  EXPECT_EQ(vl_xquery(1004), vl_xquery(1003) * sizeof(VlItem));
  EXPECT_EQ(static_cast<int32_t>(vl_xquery(1005)), top + before + 10);
  // Cells never move when the vector grows: the first pushed value is still in place.
  EXPECT_EQ(vl_stackItem(top)->u.i32, 0);
  vl_stackRemove(top);
  EXPECT_EQ(vl_stackTopOffset(), top);
}

TEST(Extend, MemoryQueries) {
  EXPECT_EQ(vl_xquery(4), 0u);
  EXPECT_EQ(vl_xquery(102), 1u);
  EXPECT_GT(vl_xquery(101), 0u);
  EXPECT_GT(vl_xquery(0), 0u);
  EXPECT_EQ(vl_xquery(1002), 0u);
  EXPECT_EQ(vl_xquery(12345), 0u);
  VlItem* noArg = vl_itemDoC("MEMORY", 0);
  ASSERT_NE(noArg, nullptr);
  EXPECT_GT(vl_itemGetNLL(noArg), 0) << "MEMORY() is query 0";
  vl_itemRelease(noArg);
}

TEST(Extend, PcountCountsEveryArgumentPassed) {
  vl_vmPushSymbol(vl_dynsymFind("VLT_COUNT")->symbol);
  vl_vmPushNil();
  vl_vmPushNil();
  vl_vmPushNil();
  vl_vmPushNil();
  vl_vmDo(3);
  EXPECT_EQ(vl_itemGetNI(&vl_stack.ret), 3);
}

TEST(Extend, SendingClassNameToScalars) {
  struct Case {
    void (*push)();
    const char* name;
  } cases[] = {
      {[] { vl_vmPushString("abc", 3); }, "CHARACTER"},
      {[] { vl_vmPushInteger(1); }, "NUMERIC"},
      {[] { vl_vmPushDate(2451604); }, "DATE"},
      {[] { vl_vmPushLogical(false); }, "LOGICAL"},
  };
  for (const Case& c : cases) {
    vl_vmPushSymbol(vl_dynsymGet("CLASSNAME")->symbol);
    c.push();
    vl_vmSend(0);
    EXPECT_STREQ(vl_itemGetCPtr(&vl_stack.ret), c.name);
  }
  vl_vmPushSymbol(vl_dynsymGet("CLAS")->symbol);  // an abbreviation of four letters is enough
  vl_vmPushInteger(1);
  vl_vmSend(0);
  EXPECT_STREQ(vl_itemGetCPtr(&vl_stack.ret), "NUMERIC");
}

TEST(Extend, ProcedureInformationBeyondTheStack) {
  VlItem level;
  level.type = VL_IT_NIL;
  vl_itemPutNI(&level, 99);
  VlItem* name = vl_itemDoC("PROCNAME", 1, &level);
  VlItem* line = vl_itemDoC("PROCLINE", 1, &level);
  EXPECT_STREQ(vl_itemGetCPtr(name), "");
  EXPECT_EQ(vl_itemGetNI(line), 0);
  vl_itemRelease(name);
  vl_itemRelease(line);
}

TEST(Extend, UndefinedFunctionRaisesARunTimeError) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The Error object is built, but no error block is installed yet in these tests (the
  // executor tests install a native handler and check the error itself).
  EXPECT_EXIT(
      {
        vl_vmPushSymbol(vl_dynsymGet("VLT_NOT_DEFINED")->symbol);
        vl_vmPushNil();
        vl_vmPushInteger(1);
        vl_vmDo(1);
      },
      ::testing::ExitedWithCode(1), "Unrecoverable error 9002: No ERRORBLOCK\\(\\) for error");
}

}  // namespace
