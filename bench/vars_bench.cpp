// Benchmarks of arrays and the collector, against the internal interfaces: ASORT of numbers and
// of strings, building and dropping small arrays, and a full collection over many live arrays
// compared with a plain walk over the same arrays.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>

#include "vm/arrays.h"
#include "vm/cmdarg.h"
#include "vm/extend.h"
#include "vm/gc.h"
#include "vm/stack.h"
#include "vm/vm.h"
#include "vm/vmcall.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Calls ASORT(array) through the call protocol, as p-code would.
double timeAsort(VlItem* array) {
  auto t0 = Clock::now();
  vl_vmPushSymbol(vl_dynsymFindName("ASORT")->symbol);
  vl_vmPushNil();
  vl_vmPush(array);
  vl_vmDo(1);
  return msSince(t0);
}

void asortNumbers(std::mt19937& rng) {
  constexpr uint32_t n = 1000000;
  VlItem* a = vl_stackAllocItem();
  vl_arrayNew(a, n);
  for (uint32_t i = 1; i <= n; ++i) {
    VlItem* e = vl_arrayGetItemPtr(a, i);
    if (i % 2) vl_itemPutNInt(e, static_cast<int64_t>(rng() % 100000000));
    else vl_itemPutND(e, (rng() % 100000000) / 7.0);
  }
  double ms = timeAsort(a);
  for (uint32_t i = 2; i <= n; ++i)
    if (vl_arrayGetND(a, i - 1) > vl_arrayGetND(a, i)) std::printf("ASORT numbers: NOT SORTED at %u\n", i);
  std::printf("ASORT of 1,000,000 numbers: %.1f ms\n", ms);
  vl_stackPop();
}

void asortStrings(std::mt19937& rng) {
  constexpr uint32_t n = 200000;
  VlItem* a = vl_stackAllocItem();
  vl_arrayNew(a, n);
  char buf[24];
  for (uint32_t i = 1; i <= n; ++i) {
    size_t len = 8 + rng() % 9;
    for (size_t k = 0; k < len; ++k) buf[k] = static_cast<char>('A' + rng() % 26);
    vl_itemPutCL(vl_arrayGetItemPtr(a, i), buf, len);
  }
  double ms = timeAsort(a);
  std::printf("ASORT of 200,000 strings: %.1f ms\n", ms);
  vl_stackPop();
}

void buildAndDrop() {
  constexpr int n = 1000000;
  auto t0 = Clock::now();
  VlItem* slot = vl_stackAllocItem();
  VlItem v;
  v.type = VL_IT_NIL;
  for (int i = 0; i < n; ++i) {
    vl_arrayNew(slot, 3);
    vl_itemPutNI(&v, i);
    vl_arraySet(slot, 1, &v);
    vl_arraySet(slot, 2, &v);
    vl_itemClear(slot);
  }
  double internal = msSince(t0);
  // The same through the language function ARRAY(3), as compiled code calls it.
  VlSymbol* array = vl_dynsymFindName("ARRAY")->symbol;
  t0 = Clock::now();
  for (int i = 0; i < n; ++i) {
    vl_vmPushSymbol(array);
    vl_vmPushNil();
    vl_vmPushInteger(3);
    vl_vmDo(1);
    vl_itemClear(&vl_stack.ret);
  }
  double viaCall = msSince(t0);
  vl_stackPop();
  std::printf("Build and drop 1,000,000 arrays of 3: %.1f ms (ARRAY(3) through the call protocol: %.1f ms)\n",
              internal, viaCall);
}

void collectLive() {
  constexpr uint32_t n = 1000000;
  VlItem* outer = vl_stackAllocItem();
  vl_arrayNew(outer, n);
  VlItem v;
  v.type = VL_IT_NIL;
  for (uint32_t i = 1; i <= n; ++i) {
    VlItem* e = vl_arrayGetItemPtr(outer, i);
    vl_arrayNew(e, 2);
    vl_itemPutNI(&v, static_cast<int32_t>(i));
    vl_arraySet(e, 1, &v);
  }
  vl_gcCollect(true);  // settle: the first collection after building is measured below too

  // The plain walk: visit every live array and read its elements.
  auto t0 = Clock::now();
  int64_t sum = 0;
  for (int round = 0; round < 5; ++round)
    for (uint32_t i = 1; i <= n; ++i) {
      const VlItem* e = vl_arrayGetItemPtr(outer, i);
      sum += vl_arrayLen(e) + vl_arrayGetNI(e, 1);
    }
  double walk = msSince(t0) / 5;

  t0 = Clock::now();
  for (int round = 0; round < 5; ++round) vl_gcCollect(true);
  double collect = msSince(t0) / 5;
  std::printf("Full collection over 1,000,000 live arrays: %.1f ms; plain walk %.1f ms; ratio %.1f (checksum %lld)\n",
              collect, walk, collect / walk, static_cast<long long>(sum % 1000));
  vl_stackPop();
  vl_gcCollect(true);
}

}  // namespace

int main(int argc, char** argv) {
  vl_cmdargInit(argc, argv);
  vl_vmInit(false);
  std::mt19937 rng(12345);
  asortNumbers(rng);
  asortStrings(rng);
  buildAndDrop();
  collectLive();
  return vl_vmQuit();
}
