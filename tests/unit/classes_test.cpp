// The class table and message dispatch, the Error object and the error-system functions
// (ERRORNEW, ERRORBLOCK, THROW, __ERRRT_BASE), and operator methods of objects.
#include <gtest/gtest.h>

#include <string>

#include "vm/arrays.h"
#include "vm/classes.h"
#include "vm/extend.h"
#include "vm/stack.h"
#include "vm/vm.h"
#include "vmtest.h"

namespace {

TEST(ErrorObject, SeventeenInstanceVariablesInOrderWithTheirInitialValues) {
  VlSymbol* p = vlProc("ENTER 0 0\nLINEBASE 12\nPUTSYM1 ERRORNEW\nPUTNIL\nCALLF1 0\nSETRESULT\nPROCEXIT", {"ERRORNEW"});
  Val e = vlCall(p);
  ASSERT_EQ(describe(e), "object:ERROR");
  ASSERT_EQ(vl_arrayLen(&e.it), 17u);
  const char* expected[] = {"NIL",   "NIL",    ".F.",   ".F.", ".F.",  "NIL",   "str:\"\"", "str:\"\"", "int:0:w10",
                            "str:\"\"", "int:0:w10", "int:2:w10", "int:0:w10", "str:\"\"", "int:0:w10"};
  const char* names[] = {"",        "ARGS",      "CANDEFAULT", "CANRETRY", "CANSUBSTITUTE", "CARGO", "DESCRIPTION",
                         "FILENAME", "GENCODE",  "OPERATION",  "OSCODE",   "SEVERITY",      "SUBCODE", "SUBSYSTEM",
                         "TRIES"};
  for (uint32_t k = 1; k <= 14; ++k) {
    EXPECT_EQ(describe(vl_arrayGetItemPtr(&e.it, k)), expected[k]) << names[k];
    EXPECT_EQ(describe(vlSend(e, names[k])), expected[k]) << "the message " << names[k] << " reads element " << k;
  }
  // ProcName, ProcLine and ModuleName default to the caller's.
  EXPECT_EQ(vlSend(e, "PROCNAME").text(), p->name);
  EXPECT_EQ(vlSend(e, "PROCLINE").ni(), 12);
  EXPECT_EQ(vlSend(e, "MODULENAME").text().rfind("vmtest_", 0), 0u);
  EXPECT_EQ(vlSend(e, "CLASSNAME").text(), "ERROR");
  EXPECT_GE(vlSend(e, "CLASSH").ni(), 1);
  Val same = vlSend(e, "NEW");
  EXPECT_EQ(same.it.u.arr.base, e.it.u.arr.base) << "NEW answers the object itself";
}

TEST(ErrorObject, ErrorNewTakesItsParameters) {
  Val args = Val::arr({Val::i(1)});
  Val e = vlCallName("ERRORNEW", {Val::s("DBCMD"), Val::i(35), Val::i(1001), Val::s("USE"), Val::s("No table"), args,
                                  Val::s("mod.prg"), Val::s("PROC"), Val::i(77)});
  EXPECT_EQ(vlSend(e, "SUBSYSTEM").text(), "DBCMD");
  EXPECT_EQ(vlSend(e, "GENCODE").ni(), 35);
  EXPECT_EQ(vlSend(e, "SUBCODE").ni(), 1001);
  EXPECT_EQ(vlSend(e, "OPERATION").text(), "USE");
  EXPECT_EQ(vlSend(e, "DESCRIPTION").text(), "No table");
  EXPECT_EQ(vlSend(e, "ARGS").it.u.arr.base, args.it.u.arr.base);
  EXPECT_EQ(vlSend(e, "MODULENAME").text(), "mod.prg");
  EXPECT_EQ(vlSend(e, "PROCNAME").text(), "PROC");
  EXPECT_EQ(vlSend(e, "PROCLINE").ni(), 77);
  // A NIL parameter leaves the initial value.
  Val f = vlCallName("ERRORNEW", {Val::nil(), Val::i(5)});
  EXPECT_EQ(vlSend(f, "SUBSYSTEM").text(), "");
  EXPECT_EQ(vlSend(f, "GENCODE").ni(), 5);
}

TEST(ErrorObject, AssignmentThroughTheUnderscoreMessageAndThroughTheGetter) {
  Val e = vlCallName("ERRORNEW");
  VlSymbol* p = vlProc(
      "ENTER 0 1\n"
      "PUTMSG _CARGO\nLOADLOCAL1 1\nPUTSTR1 \"one\"\nSEND2 1\nDROP\n"
      "PUTMSG CARGO\nLOADLOCAL1 1\nSEND2 0\n"
      "PUTMSG TRIES\nLOADLOCAL1 1\nPUTINT8 3\nSEND2 1\nDROP\n"  // a getter with one argument assigns
      "PUTMSG TRIES\nLOADLOCAL1 1\nSEND2 0\n"
      "MAKEARRAY 2\nSETRESULT\nPROCEXIT",
      {"_CARGO", "CARGO", "TRIES"});
  Val r = vlCall(p, {e});
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 1)), "str:\"one\"");
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 2)), "int:3:w10");
  EXPECT_EQ(vlSend(e, "CARGO").text(), "one") << "the caller's object changed";
}

TEST(ErrorObject, UnknownMessagesRaiseNoMethodAndNoPropertyErrors) {
  ErrorCatcher errors;
  errors.substitute = Val::s("sub");
  Val e = vlCallName("ERRORNEW");
  VlSymbol* p = vlProc(
      "ENTER 0 1\nPUTMSG NOSUCH\nLOADLOCAL1 1\nPUTINT8 1\nSEND2 1\n"
      "PUTMSG _NOSUCH\nLOADLOCAL1 1\nPUTINT8 2\nSEND2 1\nMAKEARRAY 2\nSETRESULT\nPROCEXIT",
      {"NOSUCH", "_NOSUCH"});
  Val r = vlCall(p, {e});
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&r.it, 1)), "str:\"sub\"");
  ASSERT_EQ(errors.errors.size(), 2u);
  EXPECT_EQ(errors.errors[0], "BASE 13/1004 NOSUCH [int:1:w10]");
  EXPECT_EQ(errors.errors[1], "BASE 16/1005 NOSUCH [int:2:w10]");
  EXPECT_EQ(vlSend(errors.lastError, "DESCRIPTION").text(), "Class: 'ERROR' has no property");
}

TEST(ErrorObject, ThrowAndErrRtBase) {
  ErrorCatcher errors;
  errors.substitute = Val::s("answer");
  EXPECT_EQ(vlCallName("THROW", {Val::i(5)}).text(), "answer");
  Val e = vlCallName("ERRORNEW", {Val::s("APP"), Val::i(1), Val::i(42)});
  VlSymbol* setSubst = vlProc("ENTER 0 1\nPUTMSG _CANSUBSTITUTE\nLOADLOCAL1 1\nPUTTRUE\nSEND2 1\nDROP\nPROCEXIT",
                              {"_CANSUBSTITUTE"});
  vlCall(setSubst, {e});
  EXPECT_EQ(vlCallName("THROW", {e}).text(), "answer");
  // __ERRRT_BASE raises an error without options: the handler can only break out of it.
  VlSymbol* raise = vlProc(
      "ENTER 0 0\nSEQOPEN rec\n"
      "PUTSYM1 __ERRRT_BASE\nPUTNIL\nPUTINT8 1\nPUTINT16 1234\nPUTSTR1 \"my text\"\nPUTSTR1 \"OPX\"\nPUTONE\n"
      "PUTSTR1 \"arg\"\nCALLP1 6\n"
      "SEQCLOSE done\nrec: SEQHANDLER\nSETRESULT\ndone: PROCEXIT",
      {"__ERRRT_BASE"});
  Val caught = vlCall(raise);
  EXPECT_EQ(vlSend(caught, "DESCRIPTION").text(), "my text");
  ASSERT_EQ(errors.errors.size(), 3u);
  EXPECT_EQ(errors.errors[0], "BASE 1/9101 THROW [int:5:w10]");
  EXPECT_EQ(errors.errors[1], "APP 1/42  []");
  EXPECT_EQ(errors.errors[2], "BASE 1/1234 OPX [str:\"arg\"]");
}

TEST(ErrorObject, ErrorBlockReturnsTheCurrentBlockAndInstallsANewOne) {
  Val old = vlCallName("ERRORBLOCK");
  Val block = Val::from(vl_vmBreakBlock());
  EXPECT_EQ(describe(vlCallName("ERRORBLOCK", {block})), describe(old));
  Val now = vlCallName("ERRORBLOCK");
  EXPECT_EQ(describe(now), "block");
  EXPECT_EQ(describe(vlCallName("ERRORBLOCK", {Val::i(5)})), "block") << "only a block replaces it";
  VlItem* restored = vl_errorBlock(&old.it);
  vl_itemRelease(restored);
}

// A class of our own: instance variable X and the operators +, = and [] as native methods.
uint16_t pointClass() {
  static uint16_t s_class;
  if (s_class && std::string(vl_clsName(s_class)) == "VLTPOINT") return s_class;
  s_class = vl_clsNew("VLTPOINT", 1, 8);
  vl_clsAddData(s_class, "X", 1, nullptr);
  vl_clsAddMsg(s_class, "__OpPlus", VL_MT_METHOD, [] { vl_retnint(vl_parnint(0, 1) * 100 + vl_parnint(1)); }, 0, 0, nullptr);
  vl_clsAddMsg(s_class, "__OpEqual", VL_MT_METHOD, [] { vl_retl(vl_parnint(0, 1) == vl_parnint(1)); }, 0, 0, nullptr);
  vl_clsAddMsg(s_class, "__OpArrayIndex", VL_MT_METHOD,
               [] {
                 if (vl_pcount() == 2) vl_arraySet(vl_param(0, VL_IT_ANY), 1, vl_param(2, VL_IT_ANY));
                 vl_retnint(vl_parnint(0, 1));
               },
               0, 0, nullptr);
  vl_clsAddMsg(s_class, "__OpAssign", VL_MT_METHOD, [] { vl_arraySet(vl_param(0, VL_IT_ANY), 1, vl_param(1, VL_IT_ANY)); }, 0, 0, nullptr);
  return s_class;
}

Val newPoint(int x) {
  Val p;
  vl_clsInst(pointClass(), &p.it);
  vl_arraySet(&p.it, 1, Val::i(x).ptr());
  return p;
}

TEST(Classes, OperatorMethodsAnswerForObjects) {
  VlSymbol* add = vlProc("ENTER 0 2\nLOADLOCAL1 1\nLOADLOCAL1 2\nADD\nSETRESULT\nPROCEXIT");
  VlSymbol* eq = vlProc("ENTER 0 2\nLOADLOCAL1 1\nLOADLOCAL1 2\nEQ\nSETRESULT\nPROCEXIT");
  VlSymbol* index = vlProc("ENTER 0 2\nLOADLOCAL1 1\nLOADLOCAL1 2\nELEMGET\nSETRESULT\nPROCEXIT");
  VlSymbol* put = vlProc("ENTER 0 2\nLOADLOCAL1 2\nLOADLOCAL1 1\nPUTINT8 1\nELEMPUT\nPROCEXIT");
  VlSymbol* assign = vlProc("ENTER 0 2\nLOADLOCAL1 2\nSTORELOCAL1 1\nLOADLOCAL1 1\nSETRESULT\nPROCEXIT");
  Val p = newPoint(3);
  EXPECT_EQ(describe(vlCall(add, {p, Val::i(4)})), "int:304:w10");
  EXPECT_EQ(describe(vlCall(eq, {p, Val::i(3)})), ".T.");
  EXPECT_EQ(describe(vlCall(index, {p, Val::i(1)})), "int:3:w10");
  vlCall(put, {p, Val::i(8)});
  EXPECT_EQ(vl_arrayGetNI(&p.it, 1), 8) << "[] := went to the method";
  Val after = vlCall(assign, {p, Val::i(9)});
  EXPECT_EQ(describe(after), "object:VLTPOINT") << ":= went to __OpAssign; the variable keeps the object";
  EXPECT_EQ(vl_arrayGetNI(&p.it, 1), 9);

  // An operator the class does not define is the usual error.
  ErrorCatcher errors;
  VlSymbol* mul = vlProc("ENTER 0 2\nLOADLOCAL1 1\nLOADLOCAL1 2\nMUL\nSETRESULT\nPROCEXIT");
  vlCall(mul, {p, Val::i(2)});
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.errors[0], "BASE 1/1083 * [object:VLTPOINT,int:2:w10]");
}

TEST(Classes, DirectInstanceVariableAccessGrowsAShortObject) {
  Val p = newPoint(1);
  vl_arraySize(&p.it, 0);  // shorter than its class says
  VlSymbol* proc = vlProc("ENTER 0 1\nPUTMSG X\nLOADLOCAL1 1\nSEND1 0\nSETRESULT\nPROCEXIT", {"X"});
  EXPECT_EQ(describe(vlCall(proc, {p})), "NIL");
  EXPECT_EQ(vl_arrayLen(&p.it), 1u);
}

TEST(Classes, ManyMessagesGrowTheMethodTableAndStayReachable) {
  uint16_t h = vl_clsNew("VLTWIDE", 0, 0);
  for (int k = 1; k <= 300; ++k) {
    std::string name = std::string("V").append(std::to_string(k));
    ASSERT_TRUE(vl_clsAddData(h, name.c_str(), static_cast<uint16_t>(k), nullptr));
  }
  // Registering a message again replaces it.
  ASSERT_TRUE(vl_clsAddData(h, "V7", 7, Val::i(70).ptr()));
  Val obj;
  vl_clsInst(h, &obj.it);
  EXPECT_EQ(vl_arrayLen(&obj.it), 300u);
  for (int k = 1; k <= 300; ++k) {
    std::string name = std::string("V").append(std::to_string(k));
    EXPECT_TRUE(vl_objHasMessage(&obj.it, name.c_str())) << name;
    std::string setter = "_";
    setter += name;
    EXPECT_TRUE(vl_objHasMessage(&obj.it, setter.c_str())) << name;
  }
  EXPECT_FALSE(vl_objHasMessage(&obj.it, "V301"));
  EXPECT_EQ(vl_arrayGetNI(&obj.it, 7), 70) << "the initial value of the replaced record";
  EXPECT_EQ(vlSend(obj, "V300").ni(), 0);
}

}  // namespace
