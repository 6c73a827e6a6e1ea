// Benchmarks of the number formatter and the string functions, run on the optimised build:
//   1. STR/VAL round trips of 1,000,000 numbers with two decimals;
//   2. UPPER(LTRIM(STR(i, 10)) + "abc") for i = 1 .. 500,000 (bench/strnum.lua is the Lua
//      counterpart with string.format).
// Until the executor and the compiler exist the loops are written in C++ and call the native
// functions by symbol through the evaluation stack, as compiled code will (push the symbol, NIL
// and the arguments, vl_vmDo, take the return value); "+" is done here as the operator would.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "vm/cmdarg.h"
#include "vm/extend.h"
#include "vm/vm.h"
#include "vm/vmcall.h"

namespace {

// The error system's entry points that start-up requires; these loops raise no errors.
void benchErrorNew() { vl_ret(); }
void benchNoBlock() { vl_ret(); }
VlSymbol s_symbols[] = {
    {"ERRORNEW", VL_FS_PUBLIC, {benchErrorNew}, VL_SYM_DEFINED},
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

// Calls the function with the n arguments already pushed after its symbol and NIL, and leaves
// the result on the stack in their place.
void callPush(uint16_t n) {
  vl_vmDo(n);
  vl_vmPushForward(&vl_stack.ret);
}

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void strValRoundTrips() {
  VlSymbol* str = fn("STR");
  VlSymbol* val = fn("VAL");
  const int count = 1000000;
  long mismatches = 0;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    double x = static_cast<double>((static_cast<int64_t>(i) * 7919) % 20000000 - 10000000) / 100;
    vl_vmPushSymbol(val);
    vl_vmPushNil();
    vl_vmPushSymbol(str);
    vl_vmPushNil();
    vl_vmPushDouble(x, 2);
    vl_vmPushInteger(15);
    vl_vmPushInteger(2);
    callPush(3);
    vl_vmDo(1);
    if (vl_itemGetND(&vl_stack.ret) != x) ++mismatches;
  }
  double t = seconds(start);
  std::printf("STR/VAL round trips: %d numbers in %.3f s (%.0f ns each), %ld mismatches\n", count, t,
              t * 1e9 / count, mismatches);
}

void upperLtrimStr() {
  VlSymbol* upper = fn("UPPER");
  VlSymbol* ltrim = fn("LTRIM");
  VlSymbol* str = fn("STR");
  const int count = 500000;
  VlItem last;
  last.type = VL_IT_NIL;
  auto start = std::chrono::steady_clock::now();
  for (int i = 1; i <= count; ++i) {
    vl_vmPushSymbol(upper);
    vl_vmPushNil();
    vl_vmPushSymbol(ltrim);
    vl_vmPushNil();
    vl_vmPushSymbol(str);
    vl_vmPushNil();
    vl_vmPushInteger(i);
    vl_vmPushInteger(10);
    callPush(2);
    callPush(1);
    // + of two strings: a new text of both lengths replaces the left operand.
    VlItem* left = vl_stackItemFromTop(-1);
    size_t llen = left->n32;
    VlItem sum;
    sum.type = VL_IT_NIL;
    char* text = vl_itemPutCLBuffer(&sum, llen + 3);
    std::memcpy(text, left->u.str.text, llen);
    std::memcpy(text + llen, "abc", 3);
    vl_itemForwardValue(left, &sum);
    vl_vmDo(1);
    vl_itemForwardValue(&last, &vl_stack.ret);
  }
  double t = seconds(start);
  std::printf("UPPER(LTRIM(STR(i, 10)) + \"abc\"): %d values in %.3f s (%.0f ns each), last %s\n", count, t,
              t * 1e9 / count, vl_itemGetCPtr(&last));
  vl_itemClear(&last);
}

}  // namespace

int main(int argc, char** argv) {
  vl_cmdargInit(argc, argv);
  vl_vmInit(false);
  strValRoundTrips();
  upperLtrimStr();
  return vl_vmQuit();
}
