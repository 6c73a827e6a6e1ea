// The internal array interface: the shared base, its holder bookkeeping, element access, and
// the walking operations (fill, scan, eval, copy, clone, sort). The invariants are listed in
// arrays.h. Walks that run user code (a scan or eval block, a sort block) re-read the base after
// every call, because the block may resize the very array being walked.
#include "arrays.h"

#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "../rtl/set.h"
#include "errint.h"
#include "gc.h"
#include "operators.h"
#include "stack.h"
#include "vm.h"
#include "vmcall.h"
#include "xmem.h"

namespace {

inline VlArrayBase* baseOf(const VlItem* array) {
  return array && VL_IS_ARRAY(array) ? array->u.arr.base : nullptr;
}

void growTo(VlArrayBase* base, uint32_t len) {
  if (len > base->capacity) {
    // Grow geometrically so that AADD in a loop stays linear.
    uint64_t cap = base->capacity ? base->capacity + (base->capacity >> 1) + 1 : len;
    if (cap < len) cap = len;
    if (cap > 0xFFFFFFFFu) cap = 0xFFFFFFFFu;
    size_t bytes = static_cast<size_t>(cap) * sizeof(VlItem);
    base->items = static_cast<VlItem*>(base->items ? vl_xrealloc(base->items, bytes) : vl_xgrab(bytes));
    base->capacity = static_cast<uint32_t>(cap);
  }
  for (uint32_t i = base->len; i < len; ++i) base->items[i].type = VL_IT_NIL;
  base->len = len;
}

}  // namespace

void vl_arrayReleaseBlock(void* data) {
  auto* base = static_cast<VlArrayBase*>(data);
  if (base->classList) {
    vl_xfree(base->classList);
    base->classList = nullptr;
  }
  // Empty the base before clearing the elements: a cycle may lead back here, and finds an empty
  // array (which is how a release already under way is recognised).
  VlItem* items = base->items;
  uint32_t len = base->len;
  base->items = nullptr;
  base->len = 0;
  base->capacity = 0;
  for (uint32_t i = 0; i < len; ++i) vl_itemClearInline(&items[i]);
  if (items) vl_xfree(items);
}

void vl_arrayHold(VlArrayBase* base) { ++base->holders; }

namespace {

// Releasing an array clears its elements, which may release nested arrays in turn. Past this
// depth the bases that reach 0 holders are queued and released by the outermost release, so a
// long chain of nested arrays cannot overflow the host stack.
constexpr uint32_t MAX_RELEASE_DEPTH = 256;
uint32_t s_releaseDepth;
VlArrayBase** s_deferred;
size_t s_deferredCount;
size_t s_deferredCapacity;

void releaseNow(VlArrayBase* base) {
  ++s_releaseDepth;
  vl_arrayReleaseBlock(base);
  vl_gcFree(base);
  --s_releaseDepth;
}

}  // namespace

void vl_arrayDrop(VlArrayBase* base, bool isElementRef) {
  if (base->holders == 0) {
    if (isElementRef) vl_errInternal(9027, "BYREF Premature Array/Object Release detected", nullptr, nullptr);
    char addr[32];
    std::snprintf(addr, sizeof addr, "%p", static_cast<void*>(base));
    vl_errInternal(9027, "Premature Array/Object Release detected %s", addr, nullptr);
  }
  if (--base->holders != 0) return;
  if (s_releaseDepth >= MAX_RELEASE_DEPTH) {
    if (s_deferredCount == s_deferredCapacity) {
      s_deferredCapacity = s_deferredCapacity ? 2 * s_deferredCapacity : 256;
      s_deferred = static_cast<VlArrayBase**>(s_deferred ? vl_xrealloc(s_deferred, s_deferredCapacity * sizeof(VlArrayBase*))
                                                         : vl_xgrab(s_deferredCapacity * sizeof(VlArrayBase*)));
    }
    s_deferred[s_deferredCount++] = base;
    return;
  }
  releaseNow(base);
  if (s_releaseDepth == 0 && s_deferredCount) {
    while (s_deferredCount) releaseNow(s_deferred[--s_deferredCount]);
    vl_xfree(s_deferred);
    s_deferred = nullptr;
    s_deferredCapacity = 0;
  }
}

bool vl_arrayNew(VlItem* item, uint32_t len) {
  vl_itemClear(item);
  auto* base = static_cast<VlArrayBase*>(vl_gcAlloc(sizeof(VlArrayBase), vl_arrayReleaseBlock));
  base->items = nullptr;
  base->len = 0;
  base->capacity = 0;
  base->holders = 1;
  base->classH = 0;
  base->castClassH = 0;
  base->classList = nullptr;
  if (len) {
    base->items = static_cast<VlItem*>(vl_xgrab(static_cast<size_t>(len) * sizeof(VlItem)));
    base->capacity = len;
    for (uint32_t i = 0; i < len; ++i) base->items[i].type = VL_IT_NIL;
    base->len = len;
  }
  item->type = VL_IT_ARRAY;
  item->u.arr.base = base;
  return true;
}

uint32_t vl_arrayLen(const VlItem* array) {
  VlArrayBase* b = baseOf(array);
  return b ? b->len : 0;
}

bool vl_arrayIsObject(const VlItem* array) {
  VlArrayBase* b = baseOf(array);
  return b && b->classH != 0;
}

uint16_t vl_arrayClass(const VlItem* array) {
  VlArrayBase* b = baseOf(array);
  return b ? b->classH : 0;
}

bool vl_arraySize(VlItem* array, uint32_t len) {
  VlArrayBase* b = baseOf(array);
  if (!b) return false;
  if (len == b->len) return true;
  if (len > b->len) {
    growTo(b, len);
    return true;
  }
  // Shrink: detach the tail first so a release routine reached from it sees a consistent base.
  uint32_t old = b->len;
  b->len = len;
  for (uint32_t i = len; i < old; ++i) vl_itemClearInline(&b->items[i]);
  if (len == 0 && b->len == 0) {
    vl_xfree(b->items);
    b->items = nullptr;
    b->capacity = 0;
  }
  return true;
}

bool vl_arrayAdd(VlItem* array, const VlItem* value) {
  VlArrayBase* b = baseOf(array);
  if (!b || b->len == 0xFFFFFFFFu) return false;
  VlItem tmp;
  tmp.type = VL_IT_NIL;
  vl_itemCopy(&tmp, value);  // copy first: value may live inside this array
  growTo(b, b->len + 1);
  b->items[b->len - 1] = tmp;
  return true;
}

bool vl_arrayAddForward(VlItem* array, VlItem* value) {
  VlArrayBase* b = baseOf(array);
  if (!b || b->len == 0xFFFFFFFFu) return false;
  VlItem tmp;
  tmp.type = VL_IT_NIL;
  vl_itemForwardValue(&tmp, value);
  growTo(b, b->len + 1);
  b->items[b->len - 1] = tmp;
  return true;
}

bool vl_arrayIns(VlItem* array, uint32_t index) {
  VlArrayBase* b = baseOf(array);
  if (!b) return false;
  if (index == 0 || index > b->len) return true;
  vl_itemClear(&b->items[b->len - 1]);
  std::memmove(&b->items[index], &b->items[index - 1], (b->len - index) * sizeof(VlItem));
  b->items[index - 1].type = VL_IT_NIL;
  return true;
}

bool vl_arrayDel(VlItem* array, uint32_t index) {
  VlArrayBase* b = baseOf(array);
  if (!b) return false;
  if (index == 0 || index > b->len) return true;
  vl_itemClear(&b->items[index - 1]);
  std::memmove(&b->items[index - 1], &b->items[index], (b->len - index) * sizeof(VlItem));
  b->items[b->len - 1].type = VL_IT_NIL;
  return true;
}

bool vl_arraySet(VlItem* array, uint32_t index, const VlItem* value) {
  VlArrayBase* b = baseOf(array);
  if (!b || index == 0 || index > b->len) return false;
  VlItem* slot = &b->items[index - 1];
  if (VL_IS_BYREF(slot)) slot = vl_itemUnRef(slot);
  if (slot != value) vl_itemCopy(slot, value);
  return true;
}

bool vl_arraySetForward(VlItem* array, uint32_t index, VlItem* value) {
  VlArrayBase* b = baseOf(array);
  if (!b || index == 0 || index > b->len) {
    vl_itemClear(value);
    return false;
  }
  VlItem* slot = &b->items[index - 1];
  if (VL_IS_BYREF(slot)) slot = vl_itemUnRef(slot);
  if (slot != value) vl_itemForwardValue(slot, value);
  return true;
}

bool vl_arrayGet(const VlItem* array, uint32_t index, VlItem* out) {
  VlArrayBase* b = baseOf(array);
  if (!b || index == 0 || index > b->len) {
    vl_itemClear(out);
    return false;
  }
  VlItem* e = &b->items[index - 1];
  if (VL_IS_BYREF(e)) e = vl_itemUnRef(e);
  if (e != out) vl_itemCopy(out, e);
  return true;
}

VlItem* vl_arrayGetItemPtr(const VlItem* array, uint32_t index) {
  VlArrayBase* b = baseOf(array);
  if (!b || index == 0 || index > b->len) return nullptr;
  return &b->items[index - 1];
}

bool vl_arrayGetRef(VlItem* item, uint32_t index, VlItem* out) {
  if (VL_IS_ARRAY(item)) {
    VlArrayBase* b = item->u.arr.base;
    if (index == 0 || index > b->len) {
      vl_itemClear(out);
      return false;
    }
    VlItem* e = &b->items[index - 1];
    if (VL_IS_STRING(e)) vl_itemUnShareString(e);
    ++b->holders;
    vl_itemClear(out);
    out->type = VL_IT_BYREF;
    out->n16 = VL_REF_ARRAY;
    out->u.ref.ptr = b;
    out->u.ref.offset = 0;
    out->u.ref.index = static_cast<int32_t>(index - 1);
    return true;
  }
  if (VL_IS_STRING(item) && index >= 1 && index <= item->n32) {
    unsigned char c = static_cast<unsigned char>(item->u.str.text[index - 1]);
    vl_itemPutCL(out, reinterpret_cast<const char*>(&c), 1);
    return true;
  }
  vl_itemClear(out);
  return false;
}

bool vl_arrayLast(const VlItem* array, VlItem* out) {
  uint32_t len = vl_arrayLen(array);
  if (len == 0) {
    vl_itemClear(out);
    return false;
  }
  return vl_arrayGet(array, len, out);
}

bool vl_arrayRelease(VlItem* item) {
  VlArrayBase* b = baseOf(item);
  if (!b) return false;
  vl_arrayReleaseBlock(b);
  item->type = VL_IT_NIL;
  if (--b->holders == 0) vl_gcFree(b);
  return true;
}

VlItem* vl_arrayFromStack(uint16_t count) {
  VlItem* result = vl_itemNew(nullptr);
  vl_arrayNew(result, count);
  for (uint16_t i = 0; i < count; ++i) vl_itemCopy(&result->u.arr.base->items[i], vl_stack.pos[i - count]);
  return result;
}

VlItem* vl_arrayFromParams(int32_t frameOffset) {
  VlItem* result = vl_itemNew(nullptr);
  if (frameOffset < 0) {
    vl_arrayNew(result, 0);
    return result;
  }
  const VlItem* symItem = vl_stack.items[frameOffset];
  int count = vl_frameParamCount(symItem);
  vl_arrayNew(result, static_cast<uint32_t>(count));
  int shift = symItem->u.sym.paramCnt >= 255 ? symItem->u.sym.paramCnt - 255 - 1 : 0;
  for (int k = 1; k <= count; ++k)
    vl_itemCopy(&result->u.arr.base->items[k - 1], vl_stack.items[frameOffset + 1 + k + shift]);
  return result;
}

// ---- element getters ----
static const VlItem* element(const VlItem* array, uint32_t index) {
  VlItem* e = vl_arrayGetItemPtr(array, index);
  return e ? vl_itemUnRef(e) : nullptr;
}

const char* vl_arrayGetCPtr(const VlItem* a, uint32_t i) { return vl_itemGetCPtr(element(a, i)); }
size_t vl_arrayGetCLen(const VlItem* a, uint32_t i) { return vl_itemGetCLen(element(a, i)); }
int32_t vl_arrayGetNI(const VlItem* a, uint32_t i) { return vl_itemGetNI(element(a, i)); }
int64_t vl_arrayGetNLL(const VlItem* a, uint32_t i) { return vl_itemGetNLL(element(a, i)); }
double vl_arrayGetND(const VlItem* a, uint32_t i) { return vl_itemGetND(element(a, i)); }
bool vl_arrayGetL(const VlItem* a, uint32_t i) { return vl_itemGetL(element(a, i)); }
int32_t vl_arrayGetDL(const VlItem* a, uint32_t i) { return vl_itemGetDL(element(a, i)); }
VlType vl_arrayGetType(const VlItem* a, uint32_t i) { return vl_itemType(element(a, i)); }
char* vl_arrayGetC(const VlItem* a, uint32_t i) { return vl_itemGetC(element(a, i)); }
size_t vl_arrayCopyC(const VlItem* a, uint32_t i, char* buffer, size_t n) { return vl_itemCopyC(element(a, i), buffer, n); }
char* vl_arrayGetDS(const VlItem* a, uint32_t i, char* buffer9) { return vl_itemGetDS(element(a, i), buffer9); }
long vl_arrayGetNL(const VlItem* a, uint32_t i) { return vl_itemGetNL(element(a, i)); }
int64_t vl_arrayGetNInt(const VlItem* a, uint32_t i) { return vl_itemGetNInt(element(a, i)); }
void* vl_arrayGetPtr(const VlItem* a, uint32_t i) { return vl_itemGetPtr(element(a, i)); }

// ---- fill, scan, eval, copy ----
bool vl_arrayFill(VlItem* array, const VlItem* value, uint32_t start, uint32_t count) {
  VlArrayBase* b = baseOf(array);
  if (!b) return false;
  if (start == 0) start = 1;
  if (start > b->len) return true;
  if (count > b->len - start + 1) count = b->len - start + 1;
  VlItem copy;
  copy.type = VL_IT_NIL;
  vl_itemCopy(&copy, value);  // value may be one of the elements being overwritten
  for (uint32_t k = 0; k < count && start + k <= b->len; ++k) vl_arraySet(array, start + k, &copy);
  vl_itemClear(&copy);
  return true;
}

namespace {

// The range [first, last] (1-based) of start/count for scan, eval and copy; false when empty.
bool rangeOf(uint32_t len, const uint32_t* start, const uint32_t* count, uint32_t* first, uint32_t* last) {
  uint32_t s = start && *start ? *start : 1;
  if (s > len) return false;
  uint32_t avail = len - s + 1;
  uint32_t c = count ? (*count < avail ? *count : avail) : avail;
  if (c == 0) return false;
  *first = s;
  *last = s + c - 1;
  return true;
}

inline bool isNumberLike(const VlItem* p) {
  return VL_IS_NUMERIC(p) || VL_IS_DATE(p) || (VL_IS_STRING(p) && p->n32 == 1);
}

inline bool userBreak() { return vl_vmActionRequest != 0; }

}  // namespace

uint32_t vl_arrayScan(const VlItem* array, const VlItem* value, const uint32_t* start, const uint32_t* count,
                      bool exact, bool allowChar) {
  VlArrayBase* b = baseOf(array);
  uint32_t first, last;
  if (!b || !value || !rangeOf(b->len, start, count, &first, &last)) return 0;
  VlItem pos;
  pos.type = VL_IT_NIL;
  if (VL_IS_BLOCK(value)) {
    // The block may resize the array: every step re-reads the base and stops at its end.
    for (uint32_t i = first; i <= last && i <= b->len; ++i) {
      vl_itemPutNI(&pos, static_cast<int32_t>(i));
      const VlItem* r = vl_vmEvalBlockV(value, 2, vl_itemUnRef(&b->items[i - 1]), &pos);
      if (userBreak()) return 0;
      if (VL_IS_LOGICAL(r) && r->u.i32) return i;
    }
    return 0;
  }
  // No user code runs from here on: the element vector stays put.
  const VlItem* items = b->items;
  for (uint32_t i = first; i <= last; ++i) {
    const VlItem* e = vl_itemUnRef(const_cast<VlItem*>(&items[i - 1]));
    if (VL_IS_STRING(value)) {
      if (VL_IS_STRING(e)) {
        if (vl_itemStrCmp(e, value, exact) == 0) return i;
      } else if (allowChar && value->n32 == 1 && (VL_IS_NUMERIC(e) || VL_IS_DATE(e))) {
        if (vl_itemGetND(e) == static_cast<unsigned char>(value->u.str.text[0])) return i;
      }
    } else if (VL_IS_DATE(value)) {
      if (VL_IS_DATE(e) && e->u.i32 == value->u.i32) return i;
    } else if (VL_IS_NUMERIC(value)) {
      if (VL_IS_NUMINT(value) && VL_IS_NUMINT(e)) {
        if (vl_itemGetNLL(e) == vl_itemGetNLL(value)) return i;
      } else if (VL_IS_NUMERIC(e) || VL_IS_DATE(e) || (allowChar && VL_IS_STRING(e) && e->n32 == 1)) {
        if (vl_itemGetND(e) == vl_itemGetND(value)) return i;
      }
    } else if (VL_IS_LOGICAL(value)) {
      if (VL_IS_LOGICAL(e) && (e->u.i32 != 0) == (value->u.i32 != 0)) return i;
    } else if (VL_IS_NIL(value)) {
      if (VL_IS_NIL(e)) return i;
    } else if (VL_IS_ARRAY(value)) {
      if (exact && VL_IS_ARRAY(e) && e->u.arr.base == value->u.arr.base) return i;
    }
  }
  return 0;
}

bool vl_arrayEval(VlItem* array, const VlItem* block, const uint32_t* start, const uint32_t* count) {
  VlArrayBase* b = baseOf(array);
  if (!b || !block || !VL_IS_BLOCK(block)) return false;
  uint32_t first, last;
  if (!rangeOf(b->len, start, count, &first, &last)) return true;
  VlItem pos;
  pos.type = VL_IT_NIL;
  for (uint32_t i = first; i <= last && i <= b->len; ++i) {
    vl_itemPutNI(&pos, static_cast<int32_t>(i));
    vl_vmEvalBlockV(block, 2, vl_itemUnRef(&b->items[i - 1]), &pos);
    if (userBreak()) break;
  }
  return true;
}

bool vl_arrayCopy(const VlItem* source, VlItem* target, const uint32_t* start, const uint32_t* count,
                  const uint32_t* targetStart) {
  VlArrayBase* src = baseOf(source);
  VlArrayBase* dst = baseOf(target);
  if (!src || !dst) return false;
  uint32_t first, last;
  if (dst->len == 0 || !rangeOf(src->len, start, count, &first, &last)) return true;
  uint32_t t = targetStart && *targetStart ? *targetStart : 1;
  if (t > dst->len) t = dst->len;
  uint32_t n = last - first + 1;
  if (n > dst->len - t + 1) n = dst->len - t + 1;
  for (uint32_t k = 0; k < n; ++k) {
    VlItem* to = &dst->items[t - 1 + k];
    const VlItem* from = &src->items[first - 1 + k];
    if (to != from) vl_itemCopy(to, from);  // copying within one array may meet the same slot
  }
  return true;
}

// ---- clone ----
// Iterative, so that deep nesting needs no host stack; one map from source base to clone for
// the whole call makes shared sub-arrays and cycles come out shared in the clone as well.
void vl_arrayCloneTo(VlItem* out, const VlItem* array) {
  VlArrayBase* root = baseOf(array);
  if (!root) {
    vl_itemClear(out);
    return;
  }
  std::unordered_map<VlArrayBase*, VlArrayBase*> clones;
  std::vector<std::pair<VlArrayBase*, VlArrayBase*>> work;
  auto newClone = [&](VlArrayBase* src, VlItem* slot) {
    slot->type = VL_IT_NIL;
    vl_arrayNew(slot, src->len);
    VlArrayBase* c = slot->u.arr.base;
    c->classH = src->classH;
    clones.emplace(src, c);
    work.emplace_back(src, c);
  };
  VlItem result;
  result.type = VL_IT_NIL;
  newClone(root, &result);
  while (!work.empty()) {
    auto [src, dst] = work.back();
    work.pop_back();
    for (uint32_t i = 0; i < src->len && i < dst->len; ++i) {
      const VlItem* e = &src->items[i];
      VlItem* d = &dst->items[i];
      if (VL_IS_ARRAY(e) && e->u.arr.base->classH == 0) {
        auto it = clones.find(e->u.arr.base);
        if (it != clones.end()) {
          vl_arrayHold(it->second);
          d->type = VL_IT_ARRAY;
          d->u.arr.base = it->second;
        } else {
          newClone(e->u.arr.base, d);
        }
      } else {
        vl_itemCopy(d, e);
      }
    }
  }
  vl_itemForwardValue(out, &result);
}

VlItem* vl_arrayClone(const VlItem* array) {
  VlItem* out = vl_itemNew(nullptr);
  vl_arrayCloneTo(out, array);
  return out;
}

// ---- sort ----
namespace {

int typeRank(const VlItem* p) {
  if (VL_IS_ARRAY(p)) return 1;
  if (VL_IS_BLOCK(p)) return 2;
  if (VL_IS_STRING(p)) return 3;
  if (VL_IS_LOGICAL(p)) return 4;
  if (VL_IS_DATE(p)) return 5;
  if (VL_IS_NUMERIC(p)) return 6;
  return 7;
}

// The value of a number-like item (the caller has checked isNumberLike); inline because the
// sort of numbers spends its time here.
inline double numberOf(const VlItem* p) {
  if (p->type & VL_IT_DOUBLE) return p->u.dbl;
  if (p->type & VL_IT_LONG) return static_cast<double>(p->u.i64);
  if (p->type & (VL_IT_INTEGER | VL_IT_DATE)) return p->u.i32;
  return static_cast<unsigned char>(p->u.str.text[0]);
}

inline int64_t integerOf(const VlItem* p) { return (p->type & VL_IT_LONG) ? p->u.i64 : p->u.i32; }

bool defaultBefore(const VlItem* x, const VlItem* y) {
  if (VL_IS_NUMINT(x) && VL_IS_NUMINT(y)) return integerOf(x) < integerOf(y);
  if (VL_IS_STRING(x) && VL_IS_STRING(y)) return vl_itemStrCmp(x, y, false) < 0;
  if (isNumberLike(x) && isNumberLike(y)) return numberOf(x) < numberOf(y);
  if (VL_IS_LOGICAL(x) && VL_IS_LOGICAL(y)) return !x->u.i32 && y->u.i32;
  return typeRank(x) < typeRank(y);
}

struct Sorter {
  VlItem* items;          // the range, 0-based
  VlItem* pivot;          // where the pivot waits (a slot the collector can see when a block runs)
  const VlItem* block;    // null: default order
  bool stopped = false;   // an action request came from the block: finish without comparing

  bool before(const VlItem* x, const VlItem* y) {
    if (VL_IS_BYREF(x)) x = vl_itemUnRef(const_cast<VlItem*>(x));
    if (VL_IS_BYREF(y)) y = vl_itemUnRef(const_cast<VlItem*>(y));
    if (!block) return defaultBefore(x, y);
    if (stopped) return false;
    const VlItem* r = vl_vmEvalBlockV(block, 2, x, y);
    if (userBreak()) {
      stopped = true;
      return false;
    }
    if (VL_IS_LOGICAL(r)) return r->u.i32 != 0;
    return defaultBefore(x, y);
  }

  static void swap(VlItem* a, VlItem* b) {
    VlItem t = *a;
    *a = *b;
    *b = t;
  }

  // Returns the pivot's final place. Indexes stay inside [lo, hi] whatever the order answers,
  // so an inconsistent block gives some order but never a stray access.
  uint32_t partition(uint32_t lo, uint32_t hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    *pivot = items[mid];
    items[mid] = items[lo];
    items[lo].type = VL_IT_NIL;  // lo's value moved to mid; the slot is refilled below
    uint32_t i = lo, j = hi;
    for (;;) {
      ++i;
      while (i < j && before(&items[i], pivot)) ++i;
      while (j >= i && before(pivot, &items[j])) --j;
      if (i < j) {
        swap(&items[i], &items[j]);
        --j;
        continue;
      }
      break;
    }
    if (j != lo) {
      items[lo] = items[j];
    }
    items[j] = *pivot;
    pivot->type = VL_IT_NIL;
    return j;
  }

  void siftDown(uint32_t lo, uint32_t root, uint32_t n) {
    for (;;) {
      uint32_t child = 2 * root + 1;
      if (child >= n) return;
      if (child + 1 < n && before(&items[lo + child], &items[lo + child + 1])) ++child;
      if (!before(&items[lo + root], &items[lo + child])) return;
      swap(&items[lo + root], &items[lo + child]);
      root = child;
    }
  }

  // The fallback when partitions keep coming out lopsided: O(n log n) whatever the input.
  void heapSort(uint32_t lo, uint32_t hi) {
    uint32_t n = hi - lo + 1;
    for (uint32_t k = n / 2; k-- > 0;) siftDown(lo, k, n);
    for (uint32_t end = n - 1; end > 0; --end) {
      swap(&items[lo], &items[lo + end]);
      siftDown(lo, 0, end);
    }
  }

  void sort(uint32_t lo, uint32_t hi, int budget) {
    while (lo < hi && !stopped) {
      if (budget-- <= 0) {
        heapSort(lo, hi);
        return;
      }
      uint32_t j = partition(lo, hi);
      // Recurse into the smaller side, loop over the larger: the depth stays logarithmic.
      if (j - lo < hi - j) {
        if (j > lo) sort(lo, j - 1, budget);
        lo = j + 1;
      } else {
        if (j < hi) sort(j + 1, hi, budget);
        if (j == 0) return;
        hi = j - 1;
      }
    }
  }
};

int depthBudget(uint32_t n) {
  int log2 = 0;
  while (n >>= 1) ++log2;
  return 2 * log2 + 4;
}

}  // namespace

bool vl_arraySort(VlItem* array, const uint32_t* start, const uint32_t* count, const VlItem* block) {
  VlArrayBase* b = baseOf(array);
  if (!b) return false;
  uint32_t s = start && *start ? *start : 1;
  if (s > b->len) return true;
  uint32_t avail = b->len - s + 1;
  uint32_t n = count && *count ? (*count < avail ? *count : avail) : avail;
  if (n < 2) return true;
  if (block && !VL_IS_BLOCK(block)) block = nullptr;

  if (!block) {
    // No user code can run: sort the elements where they are.
    VlItem pivot;
    pivot.type = VL_IT_NIL;
    Sorter sorter{b->items + (s - 1), &pivot, nullptr};
    sorter.sort(0, n - 1, depthBudget(n));
    return true;
  }

  // A block may resize the array, or run the collector: sort a snapshot held in an array on the
  // evaluation stack (its last slot keeps the pivot), then write back what still fits.
  VlItem* snapshot = vl_stackAllocItem();
  vl_arrayNew(snapshot, n + 1);
  VlArrayBase* t = snapshot->u.arr.base;
  for (uint32_t k = 0; k < n; ++k) vl_itemCopy(&t->items[k], &b->items[s - 1 + k]);
  Sorter sorter{t->items, &t->items[n], block};
  sorter.sort(0, n - 1, depthBudget(n));
  for (uint32_t k = 0; k < n && s + k <= b->len; ++k) {
    VlItem* slot = &b->items[s - 1 + k];
    vl_itemForwardValue(slot, &t->items[k]);
  }
  vl_stackPop();
  return true;
}
