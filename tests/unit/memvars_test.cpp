// Memory variables: PUBLIC and PRIVATE creation, visibility across calls, references, the
// name-based language functions and their errors. The two native procedures below open and close
// their PRIVATE region the way the executor does around every p-code procedure.
#include <gtest/gtest.h>

#include <string>

#include "vars_util.h"
#include "vmtest.h"
#include "vm/vm.h"
#include "vm/gc.h"
#include "vm/memvars.h"
#include "vm/stack.h"

using vt::Item;

namespace {

std::string s_log;

void logValue(const char* tag, const char* name) {
  Item n, v;
  vt::str(&n, name);
  s_log += std::string(tag) + "=" + std::to_string(vl_memvarScope(name));
  if (vl_memvarScope(name) > 0) {
    vt::call(&v, "__MVGET", {&n});
    s_log += ":" + vt::show(&v);
  }
  s_log += " ";
}

void procInner() {
  uint32_t mark = vl_memvarSetPrivatesBase();
  logValue("inner.x", "VT_X");
  Item n, v;
  vt::str(&n, "VT_NEW");
  vt::num(&v, 7);
  vt::call(&v, "__MVPUT", {&n, &v});  // no value yet: a PRIVATE of this procedure
  logValue("inner.new", "VT_NEW");
  vl_memvarRestorePrivates(mark);
}

void procOuter() {
  uint32_t mark = vl_memvarSetPrivatesBase();
  Item n, v, r;
  vt::str(&n, "VT_X");
  vt::call(&r, "__MVPRIVATE", {&n});
  logValue("outer.fresh", "VT_X");
  vt::num(&v, 2);
  vt::call(&r, "__MVPUT", {&n, &v});
  logValue("outer.x", "VT_X");
  vt::call(&r, "VLT_INNER", {});
  logValue("outer.new", "VT_NEW");
  logValue("outer.after", "VT_X");
  vl_memvarRestorePrivates(mark);
}

VlSymbol s_module[] = {
    {"VLT_OUTER", VL_FS_PUBLIC, {procOuter}, VL_SYM_DEFINED},
    {"VLT_INNER", VL_FS_PUBLIC, {procInner}, VL_SYM_DEFINED},
};
struct Register {
  Register() { vl_vmProcessSymbols(s_module, 2, "memvars_test.cpp", VL_PCODE_VERSION); }
} s_register;

void releaseName(const char* name) { vl_memvarRelease(vl_dynsymFindName(name)); }

TEST(Memvars, PublicStartsFalseExceptTheRunTimeNamesAndKeepsAnExistingValue) {
  Item n, v, r;
  vt::str(&n, "VT_PUB");
  vt::call(&r, "__MVPUBLIC", {&n});
  vt::call(&v, "__MVGET", {&n});
  EXPECT_EQ(vt::show(&v), ".F.");
  vt::num(&v, 5);
  vt::call(&r, "__MVPUT", {&n, &v});
  EXPECT_EQ(vt::show(&r), "5") << "__MVPUT returns the value";
  vt::call(&r, "__MVPUBLIC", {&n});
  vt::call(&v, "__MVGET", {&n});
  EXPECT_EQ(vt::show(&v), "5") << "a second PUBLIC keeps the value";

  Item names, a, b;
  vl_arrayNew(&names, 0);
  vt::str(&a, "VELLUM");
  vl_arrayAdd(&names, &a);
  vl_itemPutSymbol(&b, vl_dynsymGet("VT_PUB2")->symbol);
  vl_arrayAdd(&names, &b);
  vt::call(&r, "__MVPUBLIC", {&names});
  vt::call(&v, "__MVGET", {&a});
  EXPECT_EQ(vt::show(&v), ".T.");
  EXPECT_EQ(vl_memvarScope("VT_PUB2"), VL_MV_SCOPE_PUBLIC);
  EXPECT_EQ(vl_memvarScope("vt_pub2"), VL_MV_SCOPE_PUBLIC) << "names are not case-sensitive";
  for (const char* name : {"VT_PUB", "VT_PUB2", "VELLUM"}) releaseName(name);
}

TEST(Memvars, PrivateHidesTheOuterValueAndTheOuterReappearsAfterReturn) {
  Item n, v, r;
  vt::str(&n, "VT_X");
  vt::call(&r, "__MVPUBLIC", {&n});
  vt::num(&v, 1);
  vt::call(&r, "__MVPUT", {&n, &v});
  s_log.clear();
  vt::call(&r, "VLT_OUTER", {});
  EXPECT_EQ(s_log,
            "outer.fresh=4:NIL outer.x=4:2 inner.x=2:2 inner.new=4:7 outer.new=-1 outer.after=4:2 ");
  vt::call(&v, "__MVGET", {&n});
  EXPECT_EQ(vt::show(&v), "1");
  EXPECT_EQ(vl_memvarScope("VT_X"), VL_MV_SCOPE_PUBLIC);
  EXPECT_EQ(vl_memvarScope("VT_NEW"), VL_MV_SCOPE_UNKNOWN);
  EXPECT_EQ(vl_memvarScope("VT_NEVER_SEEN_ANYWHERE"), VL_MV_SCOPE_NOT_FOUND);
  Item num;
  vt::num(&num, 3);
  vt::call(&r, "__MVSCOPE", {&num});
  EXPECT_EQ(vt::show(&r), "0") << "a non-string name";
  releaseName("VT_X");
}

TEST(Memvars, AReferenceWritesThroughAndKeepsTheValueAfterThePrivateIsGone) {
  VlDynSym* d = vl_dynsymGet("VT_REF");
  uint32_t mark = vl_memvarSetPrivatesBase();
  Item text, ref, v;
  vl_itemPutCStatic(&text, "static text");  // a reference must never write into static text
  vl_memvarCreate(d, VL_MV_PRIVATE, &text);
  ASSERT_TRUE(vl_memvarGetRefer(&ref, d->symbol));
  EXPECT_TRUE(VL_IS_MEMVAR(&ref));
  EXPECT_EQ(vl_memvarValueOf(d)->n16, 0) << "the referenced text became a private copy";
  vt::num(vl_itemUnRef(&ref), 42);
  ASSERT_TRUE(vl_memvarGetValue(&v, d->symbol));
  EXPECT_EQ(vt::show(&v), "42");
  vl_memvarRestorePrivates(mark);
  EXPECT_EQ(d->memvar, 0u);
  EXPECT_EQ(vt::show(&ref), "42") << "the reference still holds the released PRIVATE's value";
}

TEST(Memvars, ParameterPassedByReferenceIsAssignedThroughToTheCallerVariable) {
  VlDynSym* caller = vl_dynsymGet("VT_CALLER");
  VlDynSym* param = vl_dynsymGet("VT_PARAM");
  uint32_t outer = vl_memvarSetPrivatesBase();
  Item one, ref, v;
  vt::num(&one, 1);
  vl_memvarCreate(caller, VL_MV_PRIVATE, &one);
  vl_memvarGetRefer(&ref, caller->symbol);
  uint32_t inner = vl_memvarSetPrivatesBase();
  vl_memvarNewParameter(param->symbol, &ref);  // PARAMETERS with @var
  vt::num(&v, 9);
  vl_memvarSetValue(param->symbol, &v);
  vl_memvarRestorePrivates(inner);
  vl_memvarGetValue(&v, caller->symbol);
  EXPECT_EQ(vt::show(&v), "9");
  vl_itemClear(&ref);
  vl_memvarRestorePrivates(outer);
}

TEST(Memvars, AssignmentDropsTheMemoMark) {
  VlDynSym* d = vl_dynsymGet("VT_MEMO");
  uint32_t mark = vl_memvarSetPrivatesBase();
  Item memo, v;
  vl_itemSetCMemo(vl_itemPutC(&memo, "from a memo field"));
  vl_memvarSetValue(d->symbol, &memo);  // creates the PRIVATE
  EXPECT_STREQ(vl_itemTypeStr(vl_memvarValueOf(d)), "C");
  vl_memvarSetValue(d->symbol, &memo);  // assigns the existing one
  EXPECT_STREQ(vl_itemTypeStr(vl_memvarValueOf(d)), "C");
  vl_memvarRestorePrivates(mark);
}

TEST(Memvars, TheFieldReaderIsAskedFirstByLoadVar) {
  static VlSymbol* s_field;
  s_field = vl_dynsymGet("VT_FIELDNAME")->symbol;
  vl_memvarSetFieldReader([](VlSymbol* sym, VlItem* out) {
    if (sym != s_field) return false;
    vl_itemPutC(out, "field value");
    return true;
  });
  uint32_t mark = vl_memvarSetPrivatesBase();
  Item mv, v;
  vt::str(&mv, "memvar value");
  vl_memvarSetValue(s_field, &mv);
  vl_memvarSetValue(vl_dynsymGet("VT_ONLYMEMVAR")->symbol, &mv);
  ASSERT_TRUE(vl_memvarGetVar(&v, s_field));
  EXPECT_EQ(vt::show(&v), "\"field value\"");
  ASSERT_TRUE(vl_memvarGetVar(&v, vl_dynsymGet("VT_ONLYMEMVAR")->symbol));
  EXPECT_EQ(vt::show(&v), "\"memvar value\"");
  ASSERT_TRUE(vl_memvarGetValue(&v, s_field));
  EXPECT_EQ(vt::show(&v), "\"memvar value\"") << "LOADMEMVAR never looks at fields";
  vl_memvarRestorePrivates(mark);
  vl_memvarSetFieldReader(nullptr);
}

TEST(Memvars, AnArrayReachableOnlyFromAPrivateSurvivesACollection) {
  VlDynSym* d = vl_dynsymGet("VT_KEEP");
  uint32_t mark = vl_memvarSetPrivatesBase();
  Item a;
  vt::intArray(&a, {1, 2, 3});
  vl_arrayAdd(&a, &a);  // a cycle, so only the collector could reclaim it
  vl_memvarCreate(d, VL_MV_PRIVATE, &a);
  vl_itemClear(&a);
  size_t blocks = vl_gcBlockCount();
  vl_gcCollect(true);
  EXPECT_EQ(vl_gcBlockCount(), blocks);
  EXPECT_EQ(vt::show(vl_arrayGetItemPtr(vl_memvarValueOf(d), 3)), "3");
  vl_memvarRestorePrivates(mark);
  vl_gcCollect(true);
  EXPECT_EQ(vl_gcBlockCount(), blocks - 1) << "once the PRIVATE is gone the cycle is reclaimed";
}

TEST(Memvars, DetachingALocalSharesItsValueThroughTheRecord) {
  Item local, copy;
  vt::num(&local, 5);
  vl_memvarDetachLocal(&local);
  ASSERT_TRUE(VL_IS_MEMVAR(&local));
  uint32_t handle = static_cast<uint32_t>(local->u.ref.index);
  vl_memvarDetachLocal(&local);  // already detached: unchanged
  EXPECT_EQ(static_cast<uint32_t>(local->u.ref.index), handle);
  vl_itemCopy(&copy, &local);
  EXPECT_EQ(vl_memvarValueHolders(handle), 2u);
  vt::num(vl_itemUnRef(&local), 6);
  EXPECT_EQ(vt::show(&copy), "6");
  vl_itemClear(&local);
  EXPECT_EQ(vl_memvarValueHolders(handle), 1u);
}

using MemvarsDeathTest = ::testing::Test;

TEST_F(MemvarsDeathTest, ASymbolWithoutDynamicSymbolIsInternalError9021) {
  static VlSymbol loose = {"VT_LOOSE", VL_FS_MEMVAR, {nullptr}, nullptr};
  Item v;
  EXPECT_DEATH(vl_memvarSetValue(&loose, &v), "9021.*Invalid symbol item passed as memvar VT_LOOSE");
}

TEST(Memvars, ErrorsOfMissingVariablesAndWrongNames) {
  ErrorCatcher errors;
  errors.substitute = Val::s("sub");
  VlSymbol* load = vlProc("ENTER 0 0\nSEQOPEN rec\nLOADMEMVAR VT_MISSING\nSETRESULT\nSEQCLOSE done\n"
                          "rec: SEQHANDLER\nDROP\ndone: PROCEXIT",
                          {"VT_MISSING"});
  vlCall(load);
  vt::guarded("__MVPUBLIC", {Val::i(1)});
  EXPECT_EQ(describe(vt::guarded("__MVGET", {Val::i(1)})), "str:\"sub\"") << "substitutable";
  vt::guarded("__MVPUT", {Val::i(1), Val::i(1)});
  vt::guarded("__MVGET", {Val::s("VT_MISSING")});
  EXPECT_EQ(errors.errors, (std::vector<std::string>{"BASE 14/1003 VT_MISSING []", "BASE 1/3008 & [int:1:w10]",
                                                     "BASE 1/3009 __MVGET [int:1:w10]",
                                                     "BASE 1/3010 __MVPUT [int:1:w10,int:1:w10]",
                                                     "BASE 14/1003 VT_MISSING []"}));
}

}  // namespace
