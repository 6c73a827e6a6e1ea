// The executor: dispatch, frames, literals, locals, calls and sends, damaged code, the periodic
// check, and the structured control flow (BEGIN SEQUENCE, TRY/CATCH/FINALLY, FOR EACH,
// WITH OBJECT, SWITCH).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vm/arrays.h"
#include "vm/executor.h"
#include "vm/extend.h"
#include "vm/gc.h"
#include "vm/stack.h"
#include "vm/vm.h"
#include "vmtest.h"

namespace {

std::vector<std::string> s_marks;

// VLT_FRAMEDEPTH(): slots in use above self in the calling frame.
void frameDepth() {
  int32_t caller = vl_stackFrameOffset(1);
  int32_t mine = static_cast<int32_t>(vl_stack.base - vl_stack.items);
  vl_retni(mine - (caller + 2));
}

// VLT_MARK(x): records x.
void mark() { s_marks.push_back(describe(vl_paramError(1))); }

// VLT_COLLECT(): a forced collection.
void collect() { vl_gcCollect(true); }

VlSymbol s_natives[] = {
    {"VLT_FRAMEDEPTH", VL_FS_PUBLIC, {frameDepth}, VL_SYM_DEFINED},
    {"VLT_MARK", VL_FS_PUBLIC, {mark}, VL_SYM_DEFINED},
    {"VLT_COLLECT", VL_FS_PUBLIC, {collect}, VL_SYM_DEFINED},
};
VlNativeModule s_nativeModule("tests/unit/executor_test.prg", s_natives, 3);

class Executor : public ::testing::Test {
 protected:
  void SetUp() override { s_marks.clear(); }
  void TearDown() override {
    EXPECT_EQ(vl_vmRequestQuery(), VL_REQ_NONE) << "no request may be left pending";
    vl_vmRequestReset();
  }
};

// ---- damaged and unsupported code ----

TEST_F(Executor, GotoOffsetZeroLoopsOnItselfUntilThePeriodicCheckStopsIt) {
  static int s_polls;
  s_polls = 0;
  VlVmPollFn old = vl_vmSetPollHook([] {
    ++s_polls;
    vl_vmRequestQuit();
  });
  VlSymbol* p = vlProc("ENTER 0 0\nloop: GOTO1 0");
  Val r = vlCall(p);
  vl_vmSetPollHook(old);
  EXPECT_EQ(s_polls, 1) << "the loop ran until the 65,536-instruction check";
  EXPECT_EQ(vl_vmRequestQuery(), VL_REQ_QUIT);
  vl_vmRequestReset();
}

TEST_F(Executor, UnassignedCode131IsInternalError9014) {
  VlSymbol* p = vlProc("ENTER 0 0\n.byte 131\nPROCEXIT");
  EXPECT_EXIT(vlCall(p), ::testing::ExitedWithCode(1), "Unrecoverable error 9014: Unsupported VM opcode");
}

TEST_F(Executor, CodeBeyondTheTableIsInternalError9014) {
  VlSymbol* p = vlProc("ENTER 0 0\n.byte 200\nPROCEXIT");
  EXPECT_EXIT(vlCall(p), ::testing::ExitedWithCode(1), "Unrecoverable error 9014: Unsupported VM opcode");
}

TEST_F(Executor, DamagedCodeIsAnInternalErrorNotACrash) {
  struct Case {
    const char* code;
    const char* message;
  } cases[] = {
      // PUTINT32 with two of its four operand bytes.
      {"ENTER 0 0\n.byte 97 1 2", "offset 3 \\(PUTINT32\\): truncated instruction"},
      // A string whose length runs past the end, far from the end of a longer buffer.
      {"ENTER 0 0\n.byte 105 200 0 65 66\nPROCEXIT\nPROCEXIT\nPROCEXIT\nPROCEXIT\nPROCEXIT\nPROCEXIT\nPROCEXIT\n"
       "PROCEXIT\nPROCEXIT\nPROCEXIT\nPROCEXIT\nPROCEXIT",
       "offset 3 \\(PUTSTR2\\): truncated instruction"},
      // No PROCEXIT: execution would run off the end.
      {"ENTER 0 0\nPUTNIL\nDROP", "offset 4 \\(DROP\\): execution ran past the end of the code"},
      {"ENTER 0 0\nGOTO2 1000", "offset 3 \\(GOTO2\\): jump outside the code"},
      {"ENTER 0 0\nGOTO1 -4", "offset 3 \\(GOTO1\\): jump outside the code"},
      {"ENTER 0 0\nLOADLOCAL1 5\nPROCEXIT", "offset 3 \\(LOADLOCAL1\\): local variable outside the frame"},
      {"ENTER 0 0\nDROP\nPROCEXIT", "offset 3 \\(DROP\\): stack underflow"},
      {"ENTER 0 0\nSEQCLOSE 4\nPROCEXIT", "offset 3 \\(SEQCLOSE\\): no open sequence"},
  };
  for (const Case& c : cases) {
    VlSymbol* p = vlProc(c.code);
    EXPECT_EXIT(vlCall(p), ::testing::ExitedWithCode(1), std::string("Unrecoverable error 9014: Invalid p-code at ") + c.message)
        << c.code;
  }
}

TEST_F(Executor, InstructionsOfMissingSubsystemsStopWithTheirName) {
  VlSymbol* p = vlProc("ENTER 0 0\nPUTSTR1 \"x\"\nMACLOAD 0\nPROCEXIT");
  EXPECT_EXIT(vlCall(p), ::testing::ExitedWithCode(1), "The instruction MACLOAD is not available yet: macro compiler");
}

// ---- frames, literals and locals ----

TEST_F(Executor, EnterWithSurplusArgumentsClearsThemAsLocals) {
  // ENTER locals 1, params 1 called with three arguments: three slots above self, the second
  // and third cleared.
  VlSymbol* p = vlProc(
      "ENTER 1 1\n"
      "PUTSYM1 VLT_FRAMEDEPTH\nPUTNIL\nCALLF1 0\n"
      "LOADLOCAL1 1\nLOADLOCAL1 2\nLOADLOCAL1 3\n"
      "PUTSYM1 PCOUNT\nPUTNIL\nCALLF1 0\n"
      "MAKEARRAY 5\nSETRESULT\nPROCEXIT",
      {"VLT_FRAMEDEPTH", "PCOUNT"});
  Val r = vlCall(p, {Val::i(10), Val::s("second"), Val::s("third")});
  ASSERT_EQ(vl_arrayLen(&r.it), 5u);
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 1)), "int:3:w10");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 2)), "int:10:w10");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 3)), "NIL");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 4)), "NIL");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 5)), "int:3:w10") << "PCOUNT counts every argument passed";

  // Fewer arguments than parameters: the missing ones and the locals are NIL slots.
  VlSymbol* q = vlProc("ENTER 2 3\nPUTSYM1 VLT_FRAMEDEPTH\nPUTNIL\nCALLF1 0\nSETRESULT\nPROCEXIT", {"VLT_FRAMEDEPTH"});
  EXPECT_EQ(describe(vlCall(q, {Val::i(1)})), "int:5:w10");
}

TEST_F(Executor, VariableParameterListKeepsEveryArgument) {
  VlSymbol* p = vlProc(
      "ENTER 1 255\nLOCALSETINT 1 42\n"
      "PUTSYM1 PCOUNT\nPUTNIL\nCALLF1 0\nLOADLOCAL1 1\nMAKEARRAY 2\nSETRESULT\nPROCEXIT",
      {"PCOUNT"});
  Val r = vlCall(p, {Val::i(1), Val::i(2), Val::i(3)});
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 1)), "int:3:w10");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 2)), "int:42:w10") << "local 1 lies after the three arguments";
}

TEST_F(Executor, LiteralsAndTheirWidths) {
  struct Case {
    const char* code;
    const char* expected;
  } cases[] = {
      {"PUTINT8 -5", "int:-5:w10"},
      {"PUTINT16 1000", "int:1000:w10"},
      {"PUTINT32 999999999", "int:999999999:w10"},
      {"PUTINT32 2000000000", "int:2000000000:w11"},
      {"PUTINT32 -1000000000", "int:-1000000000:w20"},
      {"PUTINT64 5", "long:5:w10"},
      {"PUTINT64 12345678901234", "long:12345678901234:w15"},
      {"PUTDOUBLE 3.25 255 255", "dbl:3.25:w10:d2"},
      {"PUTDOUBLE 3.25 8 1", "dbl:3.25:w8:d1"},
      {"PUTZERO", "int:0:w10"},
      {"PUTONE", "int:1:w10"},
      {"PUTTRUE", ".T."},
      {"PUTFALSE", ".F."},
      {"PUTNIL", "NIL"},
      {"PUTSTR1 \"hello\"", "str:\"hello\""},
      {"PUTSTR2 \"a\\x00b\"", "str:\"a\\x00b\""},
      {"PUTSTR1 \"\"", "str:\"\""},
      {"RTSTRING \"copied\"", "str:\"copied\""},
      {"PUTSTRHIDDEN \"secret\"", "str:\"secret\""},
      {"PUTSTR1 \"abcdef\"\nSTRLEFT 3", "str:\"abc\""},
      {"PUTSTR1 \"abcdef\"\nSTRRIGHT 2", "str:\"ef\""},
      {"PUTSTR1 \"abc\"\nSTRLEFT 10", "str:\"abc\""},
      {"PUTINT8 5\nSTRRIGHT 2", "str:\"\""},
      {"PUTINT8 5\nDUP\nADD", "int:10:w10"},
      {"PUTINT8 5\nPUTINT8 7\nDUP2\nMAKEARRAY 4", "array[4]"},
      {"PUTINT8 2\nPUTINT8 3\nDIMARRAY 2", "array[2]"},
      {"PUTINT8 -2\nDIMARRAY 1", "NIL"},
      {"PUTSYM1 PCOUNT\nFUNCADDR", "pointer"},
      {"LOADSELF", "NIL"},
      // Debugger information is skipped when the program has no debugger entry.
      {"DBGMODULE \"mod.prg\"\nDBGLOCAL 1 \"x\"\nDBGSTATIC 0 1 \"s\"\nPUTONE", "int:1:w10"},
  };
  for (const Case& c : cases) {
    ErrorCatcher errors;
    VlSymbol* p = vlProc(std::string("ENTER 0 0\nSEQOPEN rec\n") + c.code + "\nSETRESULT\nSEQCLOSE done\nrec: SEQHANDLER\nDROP\nPUTNIL\nSETRESULT\ndone: PROCEXIT",
                         {"PCOUNT"});
    EXPECT_EQ(describe(vlCall(p)), c.expected) << c.code;
    if (std::string(c.code) == "PUTINT8 -2\nDIMARRAY 1") {
      ASSERT_EQ(errors.errors.size(), 1u);
      EXPECT_EQ(errors.errors[0], "BASE 2/1131 array dimension [int:-2:w10]");
    } else {
      EXPECT_TRUE(errors.errors.empty()) << c.code << ": " << errors.errors[0];
    }
  }
}

TEST_F(Executor, StrLeftOnANonStringRaises1124AndTakesTheSubstitute) {
  ErrorCatcher errors;
  errors.substitute = Val::s("sub");
  VlSymbol* p = vlProc("ENTER 0 0\nPUTINT8 5\nSTRLEFT 2\nSETRESULT\nPROCEXIT");
  EXPECT_EQ(describe(vlCall(p)), "str:\"sub\"");
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.errors[0], "BASE 1/1124 LEFT [int:5:w10,int:2:w10]");
}

TEST_F(Executor, LocalsStoreLoadReferenceAndAddInPlace) {
  VlSymbol* p = vlProc(
      "ENTER 3 1\n"
      "LOCALSETINT 2 40\n"
      "LOCALADDINT 2 2\n"        // 42
      "LOCALSETSTR 3 \"text\"\n"
      "LOADLOCAL1 1\nSTORELOCAL2 1\n"  // param 1 stays
      "LOADLOCAL1 2\nLOADLOCAL2 3\nLOADLOCAL1 1\nMAKEARRAY 3\nSETRESULT\nPROCEXIT");
  Val r = vlCall(p, {Val::memo("m")});
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 1)), "int:42:w10");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 2)), "str:\"text\"");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 3)), "str:\"m\"") << "a store removes the memo bit";
}

TEST_F(Executor, StringLiteralsAndSharedTextAreNeverChangedInPlace) {
  // s := "HELLO" (text inside the p-code); s[1] := "J" through a reference; t := LEFT(s, 2)
  // in place on a copy that shares s's text. Run twice: the p-code must be intact.
  VlSymbol* p = vlProc(
      "ENTER 2 0\nLOCALSETSTR 1 \"HELLO\"\n"
      "PUTSTR1 \"J\"\nLOCALREF 1\nPUTONE\nELEMPUT\n"
      "LOADLOCAL1 1\nSTRLEFT 2\nSTORELOCAL1 2\n"
      "LOADLOCAL1 1\nSTRRIGHT 3\n"
      "LOADLOCAL1 1\nLOADLOCAL1 2\nMAKEARRAY 3\nSETRESULT\nPROCEXIT");
  for (int run = 0; run < 2; ++run) {
    Val r = vlCall(p);
    EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 1)), "str:\"LLO\"");
    EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 2)), "str:\"JELLO\"");
    EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 3)), "str:\"JE\"");
  }
}

TEST_F(Executor, LocalReferencesLetTheCalleeAssign) {
  // INNER(x) assigns its parameter; OUTER passes @local.
  auto procs = vlModule({{"VLT_REF_INNER", "ENTER 0 1\nPUTSTR1 \"changed\"\nSTORELOCAL1 1\nPROCEXIT"},
                         {"VLT_REF_OUTER",
                          "ENTER 1 0\nLOCALSETSTR 1 \"original\"\n"
                          "PUTSYM1 VLT_REF_INNER\nPUTNIL\nLOCALREF 1\nCALLP1 1\n"
                          "LOADLOCAL1 1\nSETRESULT\nPROCEXIT"}});
  EXPECT_EQ(describe(vlCall(procs[1])), "str:\"changed\"");
}

TEST_F(Executor, AddInt16AndLocalAddIntOnEveryTargetType) {
  struct Case {
    Val value;
    int add;
    const char* expected;
  } cases[] = {
      {Val::i(INT32_MIN), -1, "long:-2147483649:w20"},
      {Val::i(INT32_MAX), 1, "long:2147483648:w10"},
      {Val::i(-999999999), -1, "int:-1000000000:w20"},
      {Val::l(10000000000LL), -1, "long:9999999999:w10"},
      {Val::l(INT64_MAX), 1, "dbl:9.223372037e+18:w20:d2"},
      {Val::d(1.5, 1), 1, "dbl:2.5:w10:d1"},
      {Val::d(9999999999.5, 1), 1, "dbl:1e+10:w20:d1"},
      {Val::date(2000, 2, 28), 1, "date:20000229"},
      {Val::date(2000, 3, 1), -1, "date:20000229"},
      {Val::s("A"), 1, "str:\"B\""},
      {Val::s("\xFF"), 1, "str:\"\\x00\""},
      {Val::s("\x01"), -2, "str:\"\\xFF\""},
  };
  VlSymbol* add16[3];
  VlSymbol* local[3];
  const int adds[] = {1, -1, -2};
  for (int k = 0; k < 3; ++k) {
    add16[k] = vlProc("ENTER 0 1\nLOADLOCAL1 1\nADDINT16 " + std::to_string(adds[k]) + "\nSETRESULT\nPROCEXIT");
    local[k] = vlProc("ENTER 0 1\nLOCALADDINT 1 " + std::to_string(adds[k]) + "\nLOADLOCAL1 1\nSETRESULT\nPROCEXIT");
  }
  for (const Case& c : cases) {
    int k = c.add == 1 ? 0 : (c.add == -1 ? 1 : 2);
    ASSERT_EQ(adds[k], c.add);
    std::string expected = c.expected;
    EXPECT_EQ(describe(vlCall(add16[k], {c.value})), expected) << describe(c.value) << " ADDINT16 " << c.add;
    // LOCALADDINT gives 0 decimals where ADDINT16 gives SET_DECIMALS to a 64-bit overflow.
    if (expected == "dbl:9.223372037e+18:w20:d2") expected = "dbl:9.223372037e+18:w20:d0";
    EXPECT_EQ(describe(vlCall(local[k], {c.value})), expected) << describe(c.value) << " LOCALADDINT " << c.add;
  }
}

TEST_F(Executor, AddIntOnAnythingElseRaisesPlusOrMinus) {
  ErrorCatcher errors;
  errors.substitute = Val::i(0);
  VlSymbol* plus = vlProc("ENTER 0 1\nLOADLOCAL1 1\nADDINT16 3\nSETRESULT\nPROCEXIT");
  VlSymbol* minus = vlProc("ENTER 0 1\nLOADLOCAL1 1\nADDINT16 -3\nSETRESULT\nPROCEXIT");
  VlSymbol* local = vlProc("ENTER 0 1\nLOCALADDINT 1 -3\nLOADLOCAL1 1\nSETRESULT\nPROCEXIT");
  EXPECT_EQ(describe(vlCall(plus, {Val::b(true)})), "int:0:w10");
  EXPECT_EQ(describe(vlCall(minus, {Val::s("AB")})), "int:0:w10");
  EXPECT_EQ(describe(vlCall(local, {Val::nil()})), "int:0:w10");
  ASSERT_EQ(errors.errors.size(), 3u);
  EXPECT_EQ(errors.errors[0], "BASE 1/1081 + [.T.,int:3:w10]");
  EXPECT_EQ(errors.errors[1], "BASE 1/1082 - [str:\"AB\",int:3:w10]");
  EXPECT_EQ(errors.errors[2], "BASE 1/1081 + [NIL,int:-3:w10]");
}

TEST_F(Executor, LineNumbersFollowSetLineLineBaseAndLineStep) {
  VlSymbol* p = vlProc(
      "ENTER 0 0\n"
      "SETLINE 7\nPUTSYM1 PROCLINE\nPUTNIL\nCALLF1 0\n"
      "LINEBASE 100\nPUTSYM1 PROCLINE\nPUTNIL\nCALLF1 0\n"
      "LINESTEP 3\nPUTSYM1 PROCLINE\nPUTNIL\nCALLF1 0\n"
      "MAKEARRAY 3\nSETRESULT\nPROCEXIT",
      {"PROCLINE"});
  Val r = vlCall(p);
  EXPECT_EQ(vl_arrayGetNI(&r.it, 1), 7);
  EXPECT_EQ(vl_arrayGetNI(&r.it, 2), 100);
  EXPECT_EQ(vl_arrayGetNI(&r.it, 3), 103);
}

// ---- calls and sends ----

TEST_F(Executor, RecursionThroughCallF) {
  // FIB(n): n < 2 ? n : FIB(n - 1) + FIB(n - 2); deep enough to grow the stack.
  VlSymbol* fib = vlModule({{"VLT_FIB",
                             "ENTER 0 1\n"
                             "LOADLOCAL1 1\nPUTINT8 2\nLT\nIFNOT1 rec\n"
                             "LOADLOCAL1 1\nSETRESULT\nPROCEXIT\n"
                             "rec: PUTSYM1 VLT_FIB\nPUTNIL\nLOADLOCAL1 1\nADDINT16 -1\nCALLF1 1\n"
                             "PUTSYM1 VLT_FIB\nPUTNIL\nLOADLOCAL1 1\nADDINT16 -2\nCALLF1 1\n"
                             "ADD\nSETRESULT\nPROCEXIT"}})[0];
  EXPECT_EQ(describe(vlCall(fib, {Val::i(20)})), "int:6765:w10");
}

TEST_F(Executor, SendFollowedByDropLeavesNothing) {
  VlSymbol* p = vlProc(
      "ENTER 1 0\n"
      "PUTSYM1 ERRORNEW\nPUTNIL\nCALLF1 0\nSTORELOCAL1 1\n"
      "PUTSYM1 VLT_FRAMEDEPTH\nPUTNIL\nCALLF1 0\n"
      "PUTMSG GENCODE\nLOADLOCAL1 1\nSEND2 0\nDROP\n"
      "PUTMSG _GENCODE\nLOADLOCAL1 1\nPUTINT8 7\nSEND1 1\nDROP\n"   // the direct instance-variable path
      "PUTSYM1 VLT_FRAMEDEPTH\nPUTNIL\nCALLF1 0\n"
      "PUTMSG GENCODE\nLOADLOCAL1 1\nSEND2 0\n"                      // not followed by DROP: pushed
      "PUTMSG SUBCODE\nLOADLOCAL1 1\nSEND1 0\n"
      "MAKEARRAY 4\nSETRESULT\nPROCEXIT",
      {"ERRORNEW", "VLT_FRAMEDEPTH", "GENCODE", "_GENCODE", "SUBCODE"});
  Val r = vlCall(p);
  ASSERT_EQ(vl_arrayLen(&r.it), 4u);
  EXPECT_EQ(vl_arrayGetNI(&r.it, 1), 1) << "the local";
  EXPECT_EQ(vl_arrayGetNI(&r.it, 2), 2) << "the local and the first depth; the sends left nothing";
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 3)), "int:7:w10");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 4)), "int:0:w10");
}

TEST_F(Executor, UndefinedFunctionRaises1001WithTheArgumentsAndTakesTheSubstitute) {
  ErrorCatcher errors;
  errors.substitute = Val::i(5);
  VlSymbol* p = vlProc("ENTER 0 0\nPUTSYM1 VLT_NO_SUCH_FUNC\nPUTNIL\nPUTINT8 1\nPUTINT8 2\nCALLF1 2\nSETRESULT\nPROCEXIT",
                       {"VLT_NO_SUCH_FUNC"});
  EXPECT_EQ(describe(vlCall(p)), "int:5:w10");
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.errors[0], "BASE 12/1001 VLT_NO_SUCH_FUNC [int:1:w10,int:2:w10]");
}

TEST_F(Executor, NonLogicalConditionRaises1066) {
  // The error has no options: a handler can only break out of it.
  ErrorCatcher errors;
  for (const char* jump : {"IFNOT1", "IFSO2", "IFNOT3"}) {
    VlSymbol* p = vlProc(std::string("ENTER 0 0\nSEQOPEN rec\nPUTINT8 3\n") + jump +
                         " taken\nPUTSTR1 \"fell through\"\nSETRESULT\nSEQCLOSE done\n"
                         "taken: PUTSTR1 \"jumped\"\nSETRESULT\nSEQCLOSE done\n"
                         "rec: SEQHANDLER\nDROP\nPUTSTR1 \"recovered\"\nSETRESULT\ndone: PROCEXIT");
    EXPECT_EQ(describe(vlCall(p)), "str:\"recovered\"") << jump;
  }
  ASSERT_EQ(errors.errors.size(), 3u);
  EXPECT_EQ(errors.errors[0], "BASE 1/1066 conditional [int:3:w10]");
}

// ---- BEGIN SEQUENCE, BREAK, TRY ----

TEST_F(Executor, BreakUnwindsThroughACalledFunctionToRecover) {
  auto procs = vlModule(
      {{"VLT_SEQ_INNER",
        "ENTER 1 0\nLOCALSETINT 1 1\n"
        "PUTSYM1 BREAK\nPUTNIL\nPUTINT8 5\nCALLP1 1\n"
        "PUTSYM1 VLT_MARK\nPUTNIL\nPUTSTR1 \"after break\"\nCALLP1 1\nPROCEXIT"},
       {"VLT_SEQ_OUTER",
        "ENTER 1 0\n"
        "PUTSTR1 \"below\"\n"  // an operand under the sequence survives it
        "SEQOPEN rec\n"
        "PUTSYM1 VLT_SEQ_INNER\nPUTNIL\nCALLP1 0\n"
        "PUTSTR1 \"not recovered\"\nSTORELOCAL1 1\n"
        "SEQCLOSE done\n"
        "rec: SEQHANDLER\nSTORELOCAL1 1\n"
        "done: PUTSYM1 VLT_FRAMEDEPTH\nPUTNIL\nCALLF1 0\n"
        "LOADLOCAL1 1\nMAKEARRAY 3\nSETRESULT\nPROCEXIT"}},
      {"BREAK", "VLT_MARK", "VLT_FRAMEDEPTH"});
  Val r = vlCall(procs[1]);
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 1)), "str:\"below\"");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 2)), "int:2:w10") << "local and operand only";
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 3)), "int:5:w10") << "RECOVER USING receives the value";
  EXPECT_TRUE(s_marks.empty()) << "the rest of the called function was skipped";
}

TEST_F(Executor, SequenceBodyThatCompletesSkipsRecover) {
  VlSymbol* p = vlProc(
      "ENTER 0 0\nSEQOPEN rec\nPUTSTR1 \"body\"\nSETRESULT\nSEQCLOSE done\n"
      "rec: SEQHANDLER\nDROP\nPUTSTR1 \"recover\"\nSETRESULT\ndone: PROCEXIT");
  EXPECT_EQ(describe(vlCall(p)), "str:\"body\"");
}

TEST_F(Executor, ReturnInsideASequenceLeavesNoRecordBehind) {
  // INNER returns from inside BEGIN SEQUENCE; a later BREAK in OUTER must reach OUTER's RECOVER.
  auto procs = vlModule(
      {{"VLT_RET_INNER", "ENTER 0 0\nSEQOPEN rec\nPROCEXIT\nrec: SEQHANDLER\nPROCEXIT"},
       {"VLT_RET_OUTER",
        "ENTER 0 0\nSEQOPEN rec\n"
        "PUTSYM1 VLT_RET_INNER\nPUTNIL\nCALLP1 0\n"
        "PUTSYM1 BREAK\nPUTNIL\nPUTSTR1 \"outer\"\nCALLP1 1\n"
        "SEQCLOSE done\nrec: SEQHANDLER\nSETRESULT\ndone: PROCEXIT"}},
      {"BREAK"});
  EXPECT_EQ(describe(vlCall(procs[1])), "str:\"outer\"");
}

TEST_F(Executor, BreakWithoutSequenceRequestsQuit) {
  VlSymbol* p = vlProc("ENTER 0 0\nPUTSYM1 BREAK\nPUTNIL\nCALLP1 0\nPUTSTR1 \"went on\"\nSETRESULT\nPROCEXIT", {"BREAK"});
  EXPECT_EQ(describe(vlCall(p)), "NIL") << "the procedure left at once";
  EXPECT_EQ(vl_vmRequestQuery(), VL_REQ_QUIT);
  vl_vmRequestReset();
}

TEST_F(Executor, TryCatchReceivesTheErrorObjectOfARunTimeError) {
  VlSymbol* p = vlProc(
      "ENTER 1 0\n"
      "TRYOPEN catch\n"
      "PUTINT8 1\nPUTTRUE\nADD\nDROP\n"
      "TRYCLOSE done\n"
      "catch: TRYHANDLER 0\nSTORELOCAL1 1\n"
      "done: LOADLOCAL1 1\nSETRESULT\nPROCEXIT");
  VlItem* blockBefore = vl_errorBlock(nullptr);
  std::string before = describe(blockBefore);
  vl_itemRelease(blockBefore);
  Val error = vlCall(p);
  ASSERT_EQ(describe(error), "object:ERROR");
  EXPECT_EQ(vlSend(error, "GENCODE").ni(), 1);
  EXPECT_EQ(vlSend(error, "SUBCODE").ni(), 1081);
  EXPECT_EQ(vlSend(error, "OPERATION").text(), "+");
  EXPECT_EQ(vlSend(error, "SUBSYSTEM").text(), "BASE");
  EXPECT_EQ(vl_arrayLen(vlSend(error, "ARGS").ptr()), 2u);
  EXPECT_EQ(vl_vmTryDepth, 0u);
  VlItem* after = vl_errorBlock(nullptr);
  EXPECT_EQ(describe(after), before) << "TRY put the error block back";
  vl_itemRelease(after);
}

TEST_F(Executor, FinallyRunsAfterCatchAndKeepsTheReturnValueOfCatch) {
  const char* code =
      "ENTER 1 1\n"
      "TRYOPEN catch\n"
      "LOADLOCAL1 1\nIFNOT1 nofail\nPUTINT8 1\nPUTTRUE\nADD\nDROP\n"
      "nofail: TRYCLOSE fin\n"
      "catch: TRYHANDLER fin\nSTORELOCAL1 2\n"
      "PUTSTR1 \"from catch\"\nSETRESULT\nPROCEXIT\n"  // RETURN inside CATCH goes through FINALLY
      "fin: FINALLYAT\n"
      "PUTSYM1 VLT_MARK\nPUTNIL\nPUTSTR1 \"finally\"\nCALLP1 1\n"
      "FINALLYEXIT\n"
      "PUTSTR1 \"after\"\nSETRESULT\nPROCEXIT";
  VlSymbol* p = vlProc(code, {"VLT_MARK"});
  EXPECT_EQ(describe(vlCall(p, {Val::b(true)})), "str:\"from catch\"");
  EXPECT_EQ(s_marks, std::vector<std::string>({"str:\"finally\""}));
  s_marks.clear();
  EXPECT_EQ(describe(vlCall(p, {Val::b(false)})), "str:\"after\"") << "no error: FINALLY, then on";
  EXPECT_EQ(s_marks, std::vector<std::string>({"str:\"finally\""}));
}

TEST_F(Executor, BreakInsideCatchRunsFinallyThenReachesTheOuterSequence) {
  auto procs = vlModule(
      {{"VLT_FIN_INNER",
        "ENTER 0 0\n"
        "TRYOPEN catch\nPUTINT8 1\nPUTTRUE\nADD\nDROP\nTRYCLOSE fin\n"
        "catch: TRYHANDLER fin\nDROP\n"
        "PUTSYM1 BREAK\nPUTNIL\nPUTSTR1 \"rethrown\"\nCALLP1 1\n"
        "fin: FINALLYAT\nPUTSYM1 VLT_MARK\nPUTNIL\nPUTSTR1 \"finally\"\nCALLP1 1\nFINALLYEXIT\n"
        "PUTSYM1 VLT_MARK\nPUTNIL\nPUTSTR1 \"after\"\nCALLP1 1\nPROCEXIT"},
       {"VLT_FIN_OUTER",
        "ENTER 0 0\nSEQOPEN rec\nPUTSYM1 VLT_FIN_INNER\nPUTNIL\nCALLP1 0\nSEQCLOSE done\n"
        "rec: SEQHANDLER\nSETRESULT\ndone: PROCEXIT"}},
      {"BREAK", "VLT_MARK"});
  EXPECT_EQ(describe(vlCall(procs[1])), "str:\"rethrown\"");
  EXPECT_EQ(s_marks, std::vector<std::string>({"str:\"finally\""}));
}

TEST_F(Executor, NestedTryInsideCatchCatchesItsOwnError) {
  VlSymbol* p = vlProc(
      "ENTER 0 0\n"
      "TRYOPEN c1\nPUTINT8 1\nPUTTRUE\nADD\nDROP\nTRYCLOSE f1\n"
      "c1: TRYHANDLER f1\nDROP\n"
      "  TRYOPEN c2\nPUTNIL\nPUTINT8 1\nSUB\nDROP\nTRYCLOSE f2\n"
      "  c2: TRYHANDLER f2\nDROP\nPUTSYM1 VLT_MARK\nPUTNIL\nPUTSTR1 \"inner catch\"\nCALLP1 1\n"
      "  f2: FINALLYAT\nPUTSYM1 VLT_MARK\nPUTNIL\nPUTSTR1 \"inner finally\"\nCALLP1 1\nFINALLYEXIT\n"
      "f1: FINALLYAT\nPUTSYM1 VLT_MARK\nPUTNIL\nPUTSTR1 \"outer finally\"\nCALLP1 1\nFINALLYEXIT\n"
      "PUTSTR1 \"done\"\nSETRESULT\nPROCEXIT",
      {"VLT_MARK"});
  EXPECT_EQ(describe(vlCall(p)), "str:\"done\"");
  EXPECT_EQ(s_marks, std::vector<std::string>({"str:\"inner catch\"", "str:\"inner finally\"", "str:\"outer finally\""}));
}

// ---- FOR EACH, WITH OBJECT, SWITCH ----

TEST_F(Executor, ForEachOverAnArrayAssignsThroughElementReferences) {
  // FOR EACH x IN a: acc += x; x := x * 10. Then {acc, x, a, EACHINDEX inside}.
  VlSymbol* p = vlProc(
      "ENTER 3 1\n"
      "LOCALSETINT 3 0\n"
      "LOCALREF 2\nLOADLOCAL1 1\nEACHOPEN\n"
      "loop: EACHSTEP\nIFNOT1 done\n"
      "LOADLOCAL1 3\nLOADLOCAL1 2\nADD\nSTORELOCAL1 3\n"
      "LOADLOCAL1 2\nPUTINT8 10\nMUL\nSTORELOCAL1 2\n"
      "GOTO1 loop\n"
      "done: EACHCLOSE\n"
      "LOADLOCAL1 3\nLOADLOCAL1 2\nMAKEARRAY 2\nSETRESULT\nPROCEXIT");
  Val a = Val::arr({Val::i(1), Val::i(2), Val::i(3)});
  Val r = vlCall(p, {a});
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 1)), "int:6:w10");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 2)), "NIL") << "after the loop the control variable is NIL";
  EXPECT_EQ(vl_arrayGetNI(&a.it, 1), 10);
  EXPECT_EQ(vl_arrayGetNI(&a.it, 2), 20);
  EXPECT_EQ(vl_arrayGetNI(&a.it, 3), 30);
}

TEST_F(Executor, ForEachOverAStringGivesCharactersAndChangesNothing) {
  VlSymbol* p = vlProc(
      "ENTER 3 1\n"
      "LOCALSETSTR 3 \"\"\n"
      "LOCALREF 2\nLOADLOCAL1 1\nEACHOPEN\n"
      "loop: EACHSTEP\nIFNOT1 done\n"
      "LOADLOCAL1 3\nEACHINDEX\nPUTSTR1 \"0\"\nADD\nADD\nLOADLOCAL1 2\nADD\nSTORELOCAL1 3\n"
      "PUTSTR1 \"z\"\nSTORELOCAL1 2\n"
      "GOTO1 loop\n"
      "done: EACHCLOSE\nLOADLOCAL1 3\nLOADLOCAL1 1\nMAKEARRAY 2\nSETRESULT\nPROCEXIT");
  Val r = vlCall(p, {Val::s("abc")});
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 1)), "str:\"1a2b3c\"");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 2)), "str:\"abc\"");
}

TEST_F(Executor, ForEachOverANumberRaises1068AndEndsTheLoop) {
  ErrorCatcher errors;
  VlSymbol* p = vlProc(
      "ENTER 1 0\nSEQOPEN rec\n"
      "LOCALREF 1\nPUTINT8 7\nEACHOPEN\nEACHSTEP\nSETRESULT\nEACHCLOSE\n"
      "SEQCLOSE done\nrec: SEQHANDLER\nDROP\nPUTSTR1 \"broke\"\nSETRESULT\ndone: PROCEXIT");
  EXPECT_EQ(describe(vlCall(p)), "str:\"broke\"");
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.errors[0], "BASE 1/1068 array access [int:7:w10,int:1:w10]");
}

TEST_F(Executor, BreakOutOfForEachPopsItsLevelAndClearsTheControlVariable) {
  // An outer FOR EACH encloses BEGIN SEQUENCE; an inner FOR EACH inside it is left by BREAK.
  VlSymbol* p = vlProc(
      "ENTER 3 1\n"
      "LOCALREF 2\nLOADLOCAL1 1\nEACHOPEN\n"
      "outer: EACHSTEP\nIFNOT1 outerDone\n"
      "  SEQOPEN rec\n"
      "  LOCALREF 3\nLOADLOCAL1 1\nEACHOPEN\nEACHSTEP\nDROP\n"
      "  PUTSYM1 BREAK\nPUTNIL\nCALLP1 0\n"
      "  SEQCLOSE next\n"
      "  rec: SEQHANDLER\nDROP\n"
      "  PUTSYM1 VLT_MARK\nPUTNIL\nLOADLOCAL1 3\nCALLP1 1\n"
      "  PUTSYM1 VLT_MARK\nPUTNIL\nEACHINDEX\nCALLP1 1\n"
      "  next: GOTO1 outer\n"
      "outerDone: EACHCLOSE\nPROCEXIT",
      {"BREAK", "VLT_MARK"});
  vlCall(p, {Val::arr({Val::s("x"), Val::s("y")})});
  EXPECT_EQ(s_marks, std::vector<std::string>({"NIL", "int:1:w10", "NIL", "int:2:w10"}))
      << "the inner control variable became NIL; the outer loop went on with its own index";
}

TEST_F(Executor, WithObjectSendsToTheInnermostValue) {
  VlSymbol* p = vlProc(
      "ENTER 0 0\n"
      "PUTSYM1 ERRORNEW\nPUTNIL\nCALLF1 0\nWITHOPEN\n"
      "PUTMSG _SUBCODE\nPUTNIL\nPUTINT16 1234\nWITHSEND1 1\nDROP\n"
      "PUTMSG SUBCODE\nPUTNIL\nWITHSEND2 0\n"
      "LOADWITH\nWITHCLOSE\nLOADWITH\nMAKEARRAY 3\nSETRESULT\nPROCEXIT",
      {"ERRORNEW", "_SUBCODE", "SUBCODE"});
  Val r = vlCall(p);
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 1)), "int:1234:w10");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 2)), "object:ERROR");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 3)), "NIL") << "no WITH OBJECT open";
}

TEST_F(Executor, SixteenthNestedWithObjectIsAnError) {
  ErrorCatcher errors;
  std::string code = "ENTER 0 0\nSEQOPEN rec\n";
  for (int k = 0; k < 16; ++k) code += "PUTINT8 " + std::to_string(k) + "\nWITHOPEN\n";
  code += "SEQCLOSE done\nrec: SEQHANDLER\nDROP\nLOADWITH\nSETRESULT\ndone: PROCEXIT";
  EXPECT_EQ(describe(vlCall(vlProc(code))), "NIL") << "all levels were released";
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.errors[0], "BASE 1/9002 WITH OBJECT excessive nesting! []");
}

TEST_F(Executor, SixteenthNestedForEachIsAnError) {
  ErrorCatcher errors;
  std::string code = "ENTER 1 0\nSEQOPEN rec\n";
  for (int k = 0; k < 16; ++k) code += "LOCALREF 1\nPUTSTR1 \"ab\"\nEACHOPEN\n";
  code += "SEQCLOSE done\nrec: SEQHANDLER\nDROP\nEACHINDEX\nSETRESULT\ndone: PROCEXIT";
  EXPECT_EQ(describe(vlCall(vlProc(code))), "int:0:w10") << "all levels were released";
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.errors[0], "BASE 1/9002 FOR EACH excessive nesting! []");
}

TEST_F(Executor, EndProcedureRequestLeavesOnlyTheRunningProcedure) {
  static VlSymbol s_endProc[] = {{"VLT_ENDPROC", VL_FS_PUBLIC, {[] { vl_vmRequestEndProc(); }}, VL_SYM_DEFINED}};
  static VlNativeModule s_module("tests/unit/executor_endproc.prg", s_endProc, 1);
  auto procs = vlModule(
      {{"VLT_EP_INNER", "ENTER 0 0\nPUTSTR1 \"inner\"\nSETRESULT\nPUTSYM1 VLT_ENDPROC\nPUTNIL\nCALLP1 0\n"
                        "PUTSYM1 VLT_MARK\nPUTNIL\nPUTSTR1 \"skipped\"\nCALLP1 1\nPROCEXIT"},
       {"VLT_EP_OUTER", "ENTER 0 0\nPUTSYM1 VLT_EP_INNER\nPUTNIL\nCALLF1 0\n"
                        "PUTSYM1 VLT_MARK\nPUTNIL\nPUTSTR1 \"outer goes on\"\nCALLP1 1\nSETRESULT\nPROCEXIT"}},
      {"VLT_ENDPROC", "VLT_MARK"});
  EXPECT_EQ(describe(vlCall(procs[1])), "NIL");
  EXPECT_EQ(s_marks, std::vector<std::string>({"str:\"outer goes on\""}));
}

TEST_F(Executor, LeavingAProcedurePopsItsWithAndForEachLevels) {
  auto procs = vlModule(
      {{"VLT_LEVELS_INNER", "ENTER 1 0\nPUTINT8 1\nWITHOPEN\nLOCALREF 1\nPUTSTR1 \"ab\"\nEACHOPEN\nPROCEXIT"},
       {"VLT_LEVELS_OUTER",
        "ENTER 0 0\nPUTINT8 9\nWITHOPEN\nPUTSYM1 VLT_LEVELS_INNER\nPUTNIL\nCALLP1 0\n"
        "LOADWITH\nEACHINDEX\nMAKEARRAY 2\nWITHCLOSE\nSETRESULT\nPROCEXIT"}});
  Val r = vlCall(procs[1]);
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 1)), "int:9:w10");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 2)), "int:0:w10");
}

TEST_F(Executor, ValuesHeldOnlyByWithObjectAndForEachSurviveACollection) {
  // a := {NIL}; a[1] := a (a cycle no holder count frees); only the WITH OBJECT or FOR EACH
  // level holds it while the collector runs. A missing root would free it under our feet.
  const char* makeCycle = "ENTER 1 0\nPUTNIL\nMAKEARRAY 1\nSTORELOCAL1 1\nLOADLOCAL1 1\nLOADLOCAL1 1\nPUTONE\nELEMPUT\n";
  VlSymbol* with = vlProc(std::string(makeCycle) +
                              "LOADLOCAL1 1\nWITHOPEN\nPUTNIL\nSTORELOCAL1 1\n"
                              "PUTSYM1 VLT_COLLECT\nPUTNIL\nCALLP1 0\n"
                              "LOADWITH\nPUTONE\nELEMGET\nPUTONE\nELEMGET\nWITHCLOSE\nSETRESULT\nPROCEXIT",
                          {"VLT_COLLECT"});
  EXPECT_EQ(describe(vlCall(with)), "array[1]");
  VlSymbol* each = vlProc(std::string("ENTER 1 0\nPUTNIL\nMAKEARRAY 1\nSTORELOCAL1 1\nLOADLOCAL1 1\nLOADLOCAL1 1\nPUTONE\nELEMPUT\n") +
                              "LOCALREF 1\nLOADLOCAL1 1\nEACHOPEN\nPUTNIL\nSTORELOCAL1 1\n"
                              "PUTSYM1 VLT_COLLECT\nPUTNIL\nCALLP1 0\n"
                              "EACHSTEP\nDROP\nLOADLOCAL1 1\nPUTONE\nELEMGET\nEACHCLOSE\nSETRESULT\nPROCEXIT",
                          {"VLT_COLLECT"});
  EXPECT_EQ(describe(vlCall(each)), "array[1]") << "the element of the collection, reached after the collection ran";
}

TEST_F(Executor, SwitchComparesIntegersLongsAndCharacters) {
  ErrorCatcher errors;
  errors.substitute = Val::s("sub");
  VlSymbol* p = vlProc("ENTER 0 1\nLOADLOCAL1 1\nCASEVALUE 65\nSETRESULT\nDROP\nPROCEXIT");
  EXPECT_EQ(describe(vlCall(p, {Val::i(65)})), ".T.");
  EXPECT_EQ(describe(vlCall(p, {Val::i(66)})), ".F.");
  EXPECT_EQ(describe(vlCall(p, {Val::s("A")})), ".T.");
  EXPECT_EQ(describe(vlCall(p, {Val::l(0x100000041LL)})), ".T.") << "a long compares its low 32 bits";
  EXPECT_TRUE(errors.errors.empty());
  EXPECT_EQ(describe(vlCall(p, {Val::d(65.0, 1)})), "str:\"sub\"");
  EXPECT_EQ(describe(vlCall(p, {Val::s("AB")})), "str:\"sub\"");
  ASSERT_EQ(errors.errors.size(), 2u);
  EXPECT_EQ(errors.errors[0], "BASE 1/1081 SWITCH [dbl:65:w10:d1]");
  EXPECT_EQ(errors.errors[1], "BASE 1/1081 SWITCH [str:\"AB\"]");
}

}  // namespace
