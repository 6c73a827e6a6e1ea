// Benchmarks of the number formatter and the string functions, run on the optimised build:
//   1. STR/VAL round trips of 1,000,000 numbers with two decimals, driven from C++: the
//      functions are called by symbol through the evaluation stack as compiled code calls them
//      (symbol, NIL, arguments, vl_vmDo, the return value);
//   2. UPPER(LTRIM(STR(i, 10)) + "abc") for i = 1 .. 500,000 as hand-assembled p-code run by the
//      executor (the compiler does not exist yet); bench/strnum.lua is the Lua counterpart with
//      string.format.
// Times are processor time, the best of three runs.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "../tests/unit/asm.h"

#include "vm/cmdarg.h"
#include "vm/extend.h"
#include "vm/vm.h"
#include "vm/vmcall.h"

namespace {

// The error system's entry points that start-up requires (the library modules are not linked
// here); these loops raise no errors, so no error block is installed.
void benchNoBlock() { vl_ret(); }
VlSymbol s_symbols[] = {
    {"__ERRORBLOCK", VL_FS_PUBLIC, {benchNoBlock}, VL_SYM_DEFINED},
    {"__BREAKBLOCK", VL_FS_PUBLIC, {benchNoBlock}, VL_SYM_DEFINED},
};
VlNativeModule s_module(__FILE__, s_symbols, sizeof s_symbols / sizeof s_symbols[0]);

VlSymbol* fn(const char* name) {
  VlDynSym* d = vl_dynsymFind(name);
  if (!vl_dynsymHasFunction(d)) {
    std::fprintf(stderr, "bench: %s is not a function\n", name);
    std::exit(1);
  }
  return d->symbol;
}

void strValRoundTrips() {
  VlSymbol* str = fn("STR");
  VlSymbol* val = fn("VAL");
  const int count = 1000000;
  long mismatches = 0;
  double best = 1e30;
  for (int rep = 0; rep < 3; ++rep) {
    mismatches = 0;
    std::clock_t t0 = std::clock();
    for (int i = 0; i < count; ++i) {
      double x = static_cast<double>((static_cast<int64_t>(i) * 7919) % 20000000 - 10000000) / 100;
      vl_vmPushSymbol(val);
      vl_vmPushNil();
      vl_vmPushSymbol(str);
      vl_vmPushNil();
      vl_vmPushDouble(x, 2);
      vl_vmPushInteger(15);
      vl_vmPushInteger(2);
      vl_vmDo(3);
      vl_vmPushForward(&vl_stack.ret);
      vl_vmDo(1);
      if (vl_itemGetND(&vl_stack.ret) != x) ++mismatches;
    }
    double t = static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
    if (t < best) best = t;
  }
  std::printf("STR/VAL round trips: %d numbers in %.3f s (%.0f ns each), %ld mismatches\n", count, best,
              best * 1e9 / count, mismatches);
}

// STRINGS(n): FOR i := 1 TO n; s := UPPER(LTRIM(STR(i, 10)) + "abc"); NEXT; RETURN s
const char* kStrings =
    "ENTER 2 1\n"
    "LOCALSETSTR 2 \"\"\n"
    "LOCALSETINT 3 1\n"
    "top: LOADLOCAL1 3\nLOADLOCAL1 1\nLE\nIFNOT1 done\n"
    "PUTSYM1 UPPER\nPUTNIL\nPUTSYM1 LTRIM\nPUTNIL\nPUTSYM1 STR\nPUTNIL\n"
    "LOADLOCAL1 3\nPUTINT8 10\nCALLF1 2\nCALLF1 1\nPUTSTR1 \"abc\"\nADD\nCALLF1 1\n"
    "STORELOCAL1 2\n"
    "LOCALADDINT 3 1\n"
    "GOTO1 top\n"
    "done: LOADLOCAL1 2\nSETRESULT\nPROCEXIT";

void upperLtrimStr() {
  static std::vector<uint8_t> code = vlAssemble(kStrings, {"STRINGS", "UPPER", "LTRIM", "STR"});
  static VlSymbol symbols[4] = {
      {"STRINGS", VL_FS_PUBLIC | VL_FS_PCODEFUNC, {nullptr}, VL_SYM_DEFINED},
      {"UPPER", VL_FS_PUBLIC, {nullptr}, nullptr},
      {"LTRIM", VL_FS_PUBLIC, {nullptr}, nullptr},
      {"STR", VL_FS_PUBLIC, {nullptr}, nullptr},
  };
  static VlPcodeFunc func{code.data(), symbols, nullptr, static_cast<uint32_t>(code.size())};
  symbols[0].value.pcodeFunc = &func;
  vl_vmProcessSymbols(symbols, 4, "strnum_bench.prg", VL_PCODE_VERSION);

  const int count = 500000;
  double best = 1e30;
  std::string last;
  for (int rep = 0; rep < 3; ++rep) {
    std::clock_t t0 = std::clock();
    vl_vmPushSymbol(&symbols[0]);
    vl_vmPushNil();
    vl_vmPushInteger(count);
    vl_vmDo(1);
    double t = static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
    if (t < best) best = t;
    last.assign(vl_itemGetCPtr(&vl_stack.ret), vl_itemGetCLen(&vl_stack.ret));
    vl_itemClear(&vl_stack.ret);
  }
  std::printf("UPPER(LTRIM(STR(i, 10)) + \"abc\"), p-code: %d values in %.3f s (%.0f ns each), last %s\n", count,
              best, best * 1e9 / count, last.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  vl_cmdargInit(argc, argv);
  vl_vmInit(false);
  strValRoundTrips();
  upperLtrimStr();
  return vl_vmQuit();
}
