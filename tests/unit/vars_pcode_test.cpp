// Memory variables, statics, codeblocks and the block-driven array functions as compiled code
// uses them: procedures assembled from p-code and run by the executor.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "vm/arrays.h"
#include "vm/extend.h"
#include "vm/gc.h"
#include "vm/memvars.h"
#include "vm/stack.h"
#include "vm/vm.h"
#include "vm/vmcall.h"
#include "vmtest.h"

namespace {

std::vector<std::string> s_seen;
uint32_t s_coin;

// VLT_SEEN(x, ...): records its arguments.
void seen() {
  std::string s;
  for (int i = 1; i <= vl_pcount(); ++i) s += (i > 1 ? "," : "") + describe(vl_paramError(i));
  s_seen.push_back(s);
}
// VLT_COIN(): a pseudo-random logical, for an order block that contradicts itself.
void coin() {
  s_coin = s_coin * 1103515245u + 12345u;
  vl_retl((s_coin >> 16) & 1);
}

VlSymbol s_natives[] = {
    {"VLT_SEEN", VL_FS_PUBLIC, {seen}, VL_SYM_DEFINED},
    {"VLT_COIN", VL_FS_PUBLIC, {coin}, VL_SYM_DEFINED},
};
VlNativeModule s_nativeModule("tests/unit/vars_pcode_test.prg", s_natives, 2);

class VarsPcode : public ::testing::Test {
 protected:
  void SetUp() override { s_seen.clear(); }
  void TearDown() override {
    EXPECT_EQ(vl_vmRequestQuery(), VL_REQ_NONE);
    vl_vmRequestReset();
  }
};

Val eval(const Val& block, const std::vector<Val>& args = {}) {
  vl_vmPushSymbol(vl_vmEvalSymbol());
  vl_vmPush(block.ptr());
  for (const Val& a : args) vl_vmPush(a.ptr());
  vl_vmSend(static_cast<uint16_t>(args.size()));
  return Val::from(&vl_stack.ret);
}

// ---- codeblocks ----

TEST_F(VarsPcode, ABlockThatOutlivesItsProcedureKeepsTheDetachedLocal) {
  // The block reads local 1; the procedure assigns it after making the block, and returns it.
  VlSymbol* p = vlProc(
      "ENTER 2 0\n"
      "LOCALSETINT 1 10\n"
      "MAKEBLOCK2 0 1 {\n"
      "  LOADLOCAL1 -1\n"
      "  BLOCKEXIT\n"
      "}\n"
      "STORELOCAL1 2\n"
      "LOCALSETINT 1 20\n"
      "LOADLOCAL1 2\nSETRESULT\nPROCEXIT");
  Val result = vlCall(p);
  ASSERT_EQ(describe(result), "block");
  // Only the block holds the detached value; held by a free-standing item (a root), both must
  // survive a collection.
  VlItem* held = vl_itemNew(&result.it);
  result = Val();
  vl_gcCollect(true);
  EXPECT_EQ(describe(eval(Val::from(held))), "int:20:w10");
  vl_itemRelease(held);
}

TEST_F(VarsPcode, TwoBlocksShareADetachedLocalAndTheCreatorSeesTheirAssignments) {
  // {setter, getter, creator's view after the setter ran}: the setter stores its parameter
  // into local 1, the getter reads it.
  auto procs = vlModule(
      {{"VLT_PAIR",
        "ENTER 3 0\n"
        "LOCALSETINT 1 1\n"
        "MAKEBLOCK2 1 1 {\n"
        "  LOADLOCAL1 1\n"
        "  STORELOCAL1 -1\n"
        "  LOADLOCAL1 -1\n"
        "  BLOCKEXIT\n"
        "}\n"
        "STORELOCAL1 2\n"
        "MAKEBLOCK2 0 1 {\n"
        "  LOADLOCAL1 -1\n"
        "  BLOCKEXIT\n"
        "}\n"
        "STORELOCAL1 3\n"
        "PUTMSG EVAL\nLOADLOCAL1 2\nPUTINT8 7\nSEND1 1\nDROP\n"
        "LOADLOCAL1 2\nLOADLOCAL1 3\nLOADLOCAL1 1\nMAKEARRAY 3\nSETRESULT\nPROCEXIT"}},
      {"EVAL"});
  Val r = vlCall(procs[0]);
  ASSERT_EQ(vl_arrayLen(&r.it), 3u);
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 3)), "int:7:w10") << "the creator sees the block's assignment";
  Val setter = Val::from(vl_arrayGetItemPtr(&r.it, 1));
  Val getter = Val::from(vl_arrayGetItemPtr(&r.it, 2));
  r = Val();
  eval(setter, {Val::s("shared")});
  EXPECT_EQ(describe(eval(getter)), "str:\"shared\"") << "after the creator returned";
}

TEST_F(VarsPcode, ABlockMadeInsideABlockSharesItsLocals) {
  VlSymbol* p = vlProc(
      "ENTER 1 0\n"
      "LOCALSETINT 1 5\n"
      "MAKEBLOCK2 0 1 {\n"
      "  MAKEBLOCK1 {\n"
      "    LOADLOCAL1 -1\n"
      "    BLOCKEXIT\n"
      "  }\n"
      "  BLOCKEXIT\n"
      "}\n"
      "SETRESULT\nPROCEXIT");
  Val outer = vlCall(p);
  Val inner = eval(outer);
  outer = Val();
  ASSERT_EQ(describe(inner), "block");
  EXPECT_EQ(describe(eval(inner)), "int:5:w10");
}

TEST_F(VarsPcode, BlockParametersMissingArgumentsAreNilAndEvalPassesArguments) {
  VlSymbol* p = vlProc(
      "ENTER 0 0\n"
      "MAKEBLOCK2 2 {\n"
      "  LOADLOCAL1 1\n"
      "  LOADLOCAL1 2\n"
      "  MAKEARRAY 2\n"
      "  BLOCKEXIT\n"
      "}\n"
      "SETRESULT\nPROCEXIT");
  Val block = vlCall(p);
  Val r = vlCallName("EVAL", {block, Val::i(1)});
  ASSERT_EQ(vl_arrayLen(&r.it), 2u);
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 1)), "int:1:w10");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 2)), "NIL");
  ErrorCatcher errors;
  errors.substitute = Val::i(0);
  vlCallName("EVAL", {Val::i(3)});
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.errors[0].substr(0, 15), "BASE 13/1004 EV");
}

// ---- memory variables ----

TEST_F(VarsPcode, APrivateHidesAnOuterOneUntilItsProcedureReturns) {
  // OUTER: PRIVATE PX := 2, calls INNER, reads PX. INNER reads PX (OUTER's) and assigns PY,
  // which has no value: a PRIVATE of INNER that is gone when INNER returns.
  auto procs = vlModule(
      {{"VLT_OUTER",
        "ENTER 0 0\n"
        "PUTSYM1 __MVPRIVATE\nPUTNIL\nPUTSTR1 \"PX\"\nCALLP1 1\n"
        "PUTINT8 2\nSTOREMEMVAR PX\n"
        "PUTSYM1 VLT_INNER\nPUTNIL\nCALLF1 0\n"
        "PUTSYM1 __MVSCOPE\nPUTNIL\nPUTSTR1 \"PY\"\nCALLF1 1\n"
        "LOADMEMVAR PX\n"
        "MAKEARRAY 3\nSETRESULT\nPROCEXIT"},
       {"VLT_INNER",
        "ENTER 0 0\n"
        "PUTINT8 3\nSTOREMEMVAR PY\n"
        "PUTSYM1 __MVSCOPE\nPUTNIL\nPUTSTR1 \"PX\"\nCALLF1 1\n"
        "PUTSYM1 __MVSCOPE\nPUTNIL\nPUTSTR1 \"PY\"\nCALLF1 1\n"
        "LOADMEMVAR PX\n"
        "MAKEARRAY 3\nSETRESULT\nPROCEXIT"}},
      {"__MVPRIVATE", "__MVSCOPE", "PX", "PY"});
  vlCallName("__MVPUBLIC", {Val::s("PX")});
  vlCallName("__MVPUT", {Val::s("PX"), Val::i(1)});
  Val r = vlCall(procs[0]);
  ASSERT_EQ(vl_arrayLen(&r.it), 3u);
  Val inner = Val::from(vl_arrayGetItemPtr(&r.it, 1));
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&inner.it, 1)), "int:2:w10") << "PX: a PRIVATE of the caller";
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&inner.it, 2)), "int:4:w10") << "PY: a PRIVATE of INNER";
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&inner.it, 3)), "int:2:w10");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 2)), "int:-1:w10") << "PY went with INNER";
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 3)), "int:2:w10");
  EXPECT_EQ(describe(vlCallName("__MVGET", {Val::s("PX")})), "int:1:w10") << "the PUBLIC reappears";
  EXPECT_EQ(vl_memvarScope("PX"), VL_MV_SCOPE_PUBLIC);
  vl_memvarRelease(vl_dynsymFindName("PX"));
}

TEST_F(VarsPcode, ParametersArePrivatesAndAMissingVariableRaisesWithRetry) {
  VlSymbol* p = vlProc(
      "ENTER 0 2\n"
      "PARAMPRIVATE PA 1\nPARAMPRIVATE PB 2\n"
      "LOADMEMVAR PA\nLOADMEMVAR PB\nMAKEARRAY 2\nSETRESULT\nPROCEXIT",
      {"PA", "PB"});
  Val r = vlCall(p, {Val::s("first")});
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 1)), "str:\"first\"");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 2)), "NIL") << "fewer arguments than parameters";
  EXPECT_EQ(vl_memvarScope("PA"), VL_MV_SCOPE_UNKNOWN) << "released on return";

  ErrorCatcher errors;
  VlSymbol* q = vlProc(
      "ENTER 0 0\n"
      "SEQOPEN rec\nLOADMEMVAR PNONE\nSETRESULT\nSEQCLOSE done\n"
      "rec: SEQHANDLER\nDROP\n"
      "done: PROCEXIT",
      {"PNONE"});
  vlCall(q);
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.errors[0].substr(0, 19), "BASE 14/1003 PNONE ");
}

// ---- statics ----

TEST_F(VarsPcode, StaticsAreInitialisedOnceAndKeptBetweenCalls) {
  // The module's statics procedure reserves two statics and sets static 1 to 5; COUNTER adds one
  // to it on every call.
  auto procs = vlModule({{"VLT_STATICS_INIT",
                          "STATICCOUNT VLT_STATICS_INIT 2\n"
                          "STATICBASE VLT_STATICS_INIT\n"
                          "PUTINT8 5\nSTORESTATIC 1\nPROCEXIT"},
                         {"VLT_COUNTER",
                          "ENTER 0 0\nSTATICBASE VLT_STATICS_INIT\n"
                          "LOADSTATIC 1\nPUTINT8 1\nADD\nSTORESTATIC 1\n"
                          "LOADSTATIC 1\nLOADSTATIC 2\nMAKEARRAY 2\nSETRESULT\nPROCEXIT"}});
  vlCall(procs[0]);
  Val first = vlCall(procs[1]);
  Val second = vlCall(procs[1]);
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&first.it, 1)), "int:6:w10");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&first.it, 2)), "NIL");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&second.it, 1)), "int:7:w10");
}

// ---- block-driven array functions ----

// A procedure that builds {1, ..., n} in local 1 and calls fn(local 1, block) where the block
// gets the array as its detached local and runs `body` (its parameters are locals 1 and 2).
VlSymbol* walker(const char* fn, int n, const std::string& body, const std::string& extraArgs = "",
                 int extraCount = 0) {
  std::string code = "ENTER 1 0\n";
  for (int i = 1; i <= n; ++i) code += "PUTINT16 " + std::to_string(i) + "\n";
  code += "MAKEARRAY " + std::to_string(n) + "\nSTORELOCAL1 1\n";
  code += std::string("PUTSYM1 ") + fn + "\nPUTNIL\nLOADLOCAL1 1\n";
  code += extraArgs;
  code += "MAKEBLOCK2 2 1 {\n" + body + "}\n";
  code += "CALLP1 " + std::to_string(2 + extraCount) + "\n";
  code += "LOADLOCAL1 1\nSETRESULT\nPROCEXIT";
  return vlProc(code, {fn, "VLT_SEEN", "ASIZE", "AADD", "VLT_COIN"});
}

TEST_F(VarsPcode, AevalPassesElementAndPositionAndStopsWhenTheBlockShrinksTheArray) {
  // The block records (x, i) and cuts the array to two elements on its first call.
  VlSymbol* p = walker("AEVAL", 5,
                       "PUTSYM1 VLT_SEEN\nPUTNIL\nLOADLOCAL1 1\nLOADLOCAL1 2\nCALLP1 2\n"
                       "PUTSYM1 ASIZE\nPUTNIL\nLOADLOCAL1 -1\nPUTINT8 2\nCALLP1 2\n"
                       "PUTNIL\nBLOCKEXIT\n");
  Val r = vlCall(p);
  EXPECT_EQ(vl_arrayLen(&r.it), 2u);
  EXPECT_EQ(s_seen, (std::vector<std::string>{"int:1:w10,int:1:w10", "int:2:w10,int:2:w10"}))
      << "the walk ends with the array, never reading the freed elements";
}

TEST_F(VarsPcode, AscanWithABlockThatGrowsTheArrayEndsAtTheOriginalRange) {
  // The block appends to the array on every call and never matches.
  VlSymbol* p = walker("ASCAN", 3,
                       "PUTSYM1 AADD\nPUTNIL\nLOADLOCAL1 -1\nLOADLOCAL1 1\nCALLP1 2\n"
                       "PUTSYM1 VLT_SEEN\nPUTNIL\nLOADLOCAL1 2\nCALLP1 1\n"
                       "PUTFALSE\nBLOCKEXIT\n");
  Val r = vlCall(p);
  EXPECT_EQ(vl_arrayLen(&r.it), 6u);
  EXPECT_EQ(s_seen.size(), 3u);
}

TEST_F(VarsPcode, AscanWithABlockReturnsTheFirstPositionItAccepts) {
  VlSymbol* p = vlProc(
      "ENTER 0 0\n"
      "PUTSYM1 ASCAN\nPUTNIL\nPUTINT8 5\nPUTINT8 6\nPUTINT8 7\nMAKEARRAY 3\n"
      "MAKEBLOCK2 2 {\n  LOADLOCAL1 1\n  PUTINT8 6\n  GE\n  BLOCKEXIT\n}\n"
      "CALLF1 2\nSETRESULT\nPROCEXIT",
      {"ASCAN"});
  EXPECT_EQ(describe(vlCall(p)), "int:2:w10");
}

TEST_F(VarsPcode, AsortWithABlockThatEmptiesTheArrayLeavesItEmpty) {
  VlSymbol* p = walker("ASORT", 50,
                       "PUTSYM1 ASIZE\nPUTNIL\nLOADLOCAL1 -1\nPUTINT8 0\nCALLP1 2\n"
                       "PUTTRUE\nBLOCKEXIT\n",
                       "PUTNIL\nPUTNIL\n", 2);
  Val r = vlCall(p);
  EXPECT_EQ(vl_arrayLen(&r.it), 0u);
}

TEST_F(VarsPcode, AsortWithADescendingBlockAndWithAContradictoryBlock) {
  VlSymbol* desc = walker("ASORT", 300, "LOADLOCAL1 1\nLOADLOCAL1 2\nGTR\nBLOCKEXIT\n", "PUTNIL\nPUTNIL\n", 2);
  Val r = vlCall(desc);
  ASSERT_EQ(vl_arrayLen(&r.it), 300u);
  for (uint32_t i = 1; i <= 300; ++i) ASSERT_EQ(vl_arrayGetNI(&r.it, i), static_cast<int32_t>(301 - i));

  // A block that answers at random: the sort ends, and the array still holds every element once.
  s_coin = 1;
  VlSymbol* random = walker("ASORT", 2000, "PUTSYM1 VLT_COIN\nPUTNIL\nCALLF1 0\nBLOCKEXIT\n", "PUTNIL\nPUTNIL\n", 2);
  r = vlCall(random);
  ASSERT_EQ(vl_arrayLen(&r.it), 2000u);
  std::vector<int32_t> values;
  for (uint32_t i = 1; i <= 2000; ++i) values.push_back(vl_arrayGetNI(&r.it, i));
  std::sort(values.begin(), values.end());
  for (int32_t i = 0; i < 2000; ++i) ASSERT_EQ(values[static_cast<size_t>(i)], i + 1);

  // A block that does not answer with a logical falls back to the default order.
  VlSymbol* nonLogical = walker("ASORT", 100, "PUTNIL\nBLOCKEXIT\n", "PUTNIL\nPUTNIL\n", 2);
  r = vlCall(nonLogical);
  for (uint32_t i = 1; i <= 100; ++i) ASSERT_EQ(vl_arrayGetNI(&r.it, i), static_cast<int32_t>(i));
}

}  // namespace
