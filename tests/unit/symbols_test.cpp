// Module registration and the global name table.
#include <gtest/gtest.h>

#include <cstring>

#include "vm/extend.h"
#include "vm/symbols.h"
#include "vm/vmcall.h"

namespace {

int s_lastCalled;
void firstDef() { s_lastCalled = 1; }
void secondDef() { s_lastCalled = 2; }
void staticDef() { s_lastCalled = 3; }
void publicDef() { s_lastCalled = 4; }

int callByName(const char* name) {
  s_lastCalled = 0;
  VlItem* r = vl_itemDoC(name, 0);
  if (r) vl_itemRelease(r);
  return s_lastCalled;
}

TEST(Symbols, FirstDefinitionWins) {
  static VlSymbol modA[] = {{"VLT_TWICE", VL_FS_PUBLIC, {firstDef}, VL_SYM_DEFINED}};
  static VlSymbol modB[] = {{"VLT_TWICE", VL_FS_PUBLIC, {secondDef}, VL_SYM_DEFINED}};
  vl_vmProcessSymbols(modA, 1, "vlt_a.prg", VL_PCODE_VERSION);
  vl_vmProcessSymbols(modB, 1, "vlt_b.prg", VL_PCODE_VERSION);
  EXPECT_EQ(callByName("VLT_TWICE"), 1);
  VlDynSym* d = vl_dynsymFind("VLT_TWICE");
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d->module->name, "vlt_a.prg");
  EXPECT_EQ(modB[0].dynsym, d);  // both modules' symbols point at the one entry
}

TEST(Symbols, StaticFunctionIsNotCallableByNameButALaterPublicOneIs) {
  static VlSymbol modA[] = {{"VLT_HIDDEN", VL_FS_STATIC | VL_FS_PUBLIC, {staticDef}, VL_SYM_DEFINED}};
  static VlSymbol modB[] = {{"VLT_HIDDEN", VL_FS_PUBLIC, {publicDef}, VL_SYM_DEFINED}};
  vl_vmProcessSymbols(modA, 1, "vlt_c.prg", VL_PCODE_VERSION);
  VlDynSym* d = vl_dynsymFind("VLT_HIDDEN");
  ASSERT_NE(d, nullptr);
  EXPECT_FALSE(vl_dynsymHasFunction(d));
  vl_vmProcessSymbols(modB, 1, "vlt_d.prg", VL_PCODE_VERSION);
  EXPECT_EQ(callByName("VLT_HIDDEN"), 4);
  // Inside its own module the static function is still reached through its own symbol.
  EXPECT_EQ(vl_symbolFunction(&modA[0])->value.func, staticDef);
}

TEST(Symbols, NameTableStaysSortedAndFindNameNormalises) {
  EXPECT_NE(vl_dynsymFindName("pcount extra words"), nullptr);
  EXPECT_EQ(vl_dynsymFindName("pcount"), vl_dynsymFind("PCOUNT"));
  for (uint32_t i = 1; i < vl_dynsymCount(); ++i)
    EXPECT_LT(std::strcmp(vl_dynsymAt(i - 1)->symbol->name, vl_dynsymAt(i)->symbol->name), 0);
}

TEST(Symbols, GetCreatesANameOnlySymbolThatAFunctionLaterBinds) {
  VlDynSym* d = vl_dynsymGet("vlt_late");
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d->symbol->name, "VLT_LATE");
  EXPECT_EQ(d->symbol->scope, static_cast<uint32_t>(VL_FS_NAMEONLY));
  EXPECT_FALSE(vl_dynsymHasFunction(d));
  static VlSymbol mod[] = {{"VLT_LATE", VL_FS_PUBLIC, {firstDef}, VL_SYM_DEFINED}};
  vl_vmProcessSymbols(mod, 1, "vlt_e.prg", VL_PCODE_VERSION);
  EXPECT_EQ(vl_dynsymFind("VLT_LATE"), d);
  EXPECT_EQ(d->symbol, &mod[0]);
  EXPECT_EQ(callByName("vlt_late"), 1);
}

TEST(Symbols, ModuleWithoutExtensionIsRejectedAsOldVersion) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  static VlSymbol mod[] = {{"VLT_ABCFUN", VL_FS_PUBLIC, {firstDef}, VL_SYM_DEFINED}};
  EXPECT_EXIT(vl_vmProcessSymbols(mod, 1, "ABC", VL_PCODE_VERSION), ::testing::ExitedWithCode(1),
              "Unrecoverable error 9000: 'Program with 1st fun: VLT_ABCFUN' was compiled by older version, PCODE "
              "version 0 is no longer supported - Please recompile.");
}

TEST(Symbols, WrongVersionIsRejected) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  static VlSymbol mod[] = {{"VLT_V6", VL_FS_PUBLIC, {firstDef}, VL_SYM_DEFINED}};
  EXPECT_EXIT(vl_vmProcessSymbols(mod, 1, "old.prg", 6), ::testing::ExitedWithCode(1),
              "'old.prg' was compiled by older version, PCODE version 6 is no longer supported");
}

TEST(Symbols, FuncPtrFindsEntryPoints) {
  VlItem name;
  name.type = VL_IT_NIL;
  vl_itemPutC(&name, "pcount");
  VlItem* r = vl_itemDoC("VL_FUNCPTR", 1, &name);
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(VL_IS_POINTER(r));
  EXPECT_EQ(r->u.ptr, reinterpret_cast<void*>(vl_dynsymFind("PCOUNT")->symbol->value.func));
  vl_itemRelease(r);
  vl_itemPutC(&name, "NO_SUCH_NAME_AT_ALL");
  r = vl_itemDoC("VL_FUNCPTR", 1, &name);
  EXPECT_TRUE(VL_IS_INTEGER(r));
  EXPECT_EQ(vl_itemGetNI(r), 0);
  vl_itemRelease(r);
  vl_itemClear(&name);
}

}  // namespace
