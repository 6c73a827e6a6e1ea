// The internal array interface.
#include "arrays.h"

#include <cstdio>
#include <cstring>

#include "errint.h"
#include "gc.h"
#include "stack.h"
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
  // Empty the base before clearing the elements: a cycle may lead back here.
  VlItem* items = base->items;
  uint32_t len = base->len;
  base->items = nullptr;
  base->len = 0;
  base->capacity = 0;
  for (uint32_t i = 0; i < len; ++i) vl_itemClearInline(&items[i]);
  if (items) vl_xfree(items);
  if (base->classList) {
    vl_xfree(base->classList);
    base->classList = nullptr;
  }
}

void vl_arrayHold(VlArrayBase* base) { ++base->holders; }

void vl_arrayDrop(VlArrayBase* base, bool isElementRef) {
  if (base->holders == 0) {
    if (isElementRef) vl_errInternal(9027, "BYREF Premature Array/Object Release detected", nullptr, nullptr);
    char addr[32];
    std::snprintf(addr, sizeof addr, "%p", static_cast<void*>(base));
    vl_errInternal(9027, "Premature Array/Object Release detected %s", addr, nullptr);
  }
  if (--base->holders == 0) {
    vl_arrayReleaseBlock(base);
    vl_gcFree(base);
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
