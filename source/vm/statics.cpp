// The statics array: one array for the whole process, each module with statics owning a slice
// reserved by its static-initialisation procedure. The reserving symbol's entry point is kept
// aside while its value field holds the slice base, and put back when the array is released, so
// a later start-up (after a quit) finds the procedure intact.
#include "arrays.h"
#include "errint.h"
#include "gc.h"
#include "memvars.h"
#include "stack.h"
#include "symbols.h"
#include "xmem.h"

#include <cstdio>

namespace {

VlItem s_statics;  // NIL until the first reservation

struct Anchor {
  VlSymbol* sym;
  void* entry;  // the symbol's value before it became the slice base
};
Anchor* s_anchors;
uint32_t s_anchorCount;
uint32_t s_anchorCapacity;
bool s_rootsRegistered;

void markStatics() {
  if (VL_IS_ARRAY(&s_statics)) vl_gcItemRef(&s_statics);
}

// Element number (1-based) of static n of the running module; a number outside the array is
// damaged p-code and ends the process rather than touching foreign memory.
uint32_t elementOf(uint16_t n) {
  int64_t index = static_cast<int64_t>(vl_stack.staticsBase) + n;
  if (n == 0 || index < 1 || index > vl_arrayLen(&s_statics)) {
    char text[32];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(n));
    vl_errInternal(9000, "Invalid static variable %s", text, nullptr);
  }
  return static_cast<uint32_t>(index);
}

}  // namespace

void vl_staticsReset() {
  vl_itemClear(&s_statics);
  if (!s_rootsRegistered) {
    vl_gcRegisterRoots(markStatics);
    s_rootsRegistered = true;
  }
}

void vl_staticsRelease() {
  // Statics may hold each other (cycles): empty the array before dropping it.
  if (VL_IS_ARRAY(&s_statics)) vl_arraySize(&s_statics, 0);
  vl_itemClear(&s_statics);
  for (uint32_t i = 0; i < s_anchorCount; ++i) s_anchors[i].sym->value.ptr = s_anchors[i].entry;
  if (s_anchors) vl_xfree(s_anchors);
  s_anchors = nullptr;
  s_anchorCount = s_anchorCapacity = 0;
}

VlItem* vl_staticsArray() { return &s_statics; }

void vl_staticsReserve(VlSymbol* sym, uint16_t count) {
  if (!VL_IS_ARRAY(&s_statics)) vl_arrayNew(&s_statics, 0);
  uint32_t base = vl_arrayLen(&s_statics);
  if (s_anchorCount == s_anchorCapacity) {
    s_anchorCapacity += 16;
    s_anchors = static_cast<Anchor*>(s_anchors ? vl_xrealloc(s_anchors, s_anchorCapacity * sizeof(Anchor))
                                               : vl_xgrab(s_anchorCapacity * sizeof(Anchor)));
  }
  s_anchors[s_anchorCount++] = {sym, sym->value.ptr};
  sym->value.staticsBase = static_cast<intptr_t>(base);
  vl_arraySize(&s_statics, base + count);
  vl_stack.staticsBase = static_cast<int32_t>(base);
}

void vl_staticsSetBase(VlSymbol* sym) { vl_stack.staticsBase = static_cast<int32_t>(sym->value.staticsBase); }

VlItem* vl_staticsItem(uint16_t n) { return vl_arrayGetItemPtr(&s_statics, elementOf(n)); }

void vl_staticsPush(uint16_t n) {
  const VlItem* slot = vl_itemUnRef(vl_staticsItem(n));
  vl_vmPush(slot);
}

void vl_staticsPop(uint16_t n) {
  uint32_t index = elementOf(n);
  VlItem* top = vl_stack.pos[-1];
  vl_arraySetForward(&s_statics, index, top);
  vl_stackDec();
}

void vl_staticsPushRef(uint16_t n) {
  uint32_t index = elementOf(n);
  VlItem* out = vl_stackAllocItem();
  vl_arrayGetRef(&s_statics, index, out);
}
