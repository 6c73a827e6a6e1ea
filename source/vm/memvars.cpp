// The memory-variable value table: records indexed by handle (1-based), reused through a free
// list. A record's holders are the variable's own binding plus every reference and codeblock
// that points at it.
#include "memvars.h"

#include "errint.h"
#include "xmem.h"

namespace {

struct ValueRecord {
  VlItem* item;
  uint32_t holders;
  int32_t link;  // PRIVATE: the handle the name had before; -1: detached local; free list link
};

ValueRecord* s_values;
uint32_t s_capacity;
uint32_t s_used;   // records handed out so far (handles 1..s_used)
int32_t s_free;    // head of the free list, 0 when empty

}  // namespace

void vl_memvarInit() {
  s_capacity = 100;
  s_values = static_cast<ValueRecord*>(vl_xgrab(s_capacity * sizeof(ValueRecord)));
  s_used = 0;
  s_free = 0;
}

void vl_memvarExit() {
  if (!s_values) return;
  for (uint32_t i = 0; i < s_used; ++i) {
    if (s_values[i].item) {
      vl_itemClear(s_values[i].item);
      vl_xfree(s_values[i].item);
      s_values[i].item = nullptr;
    }
  }
  vl_xfree(s_values);
  s_values = nullptr;
  s_capacity = s_used = 0;
  s_free = 0;
}

uint32_t vl_memvarValueNew(VlItem* value, bool move) {
  uint32_t handle;
  if (s_free) {
    handle = static_cast<uint32_t>(s_free);
    s_free = s_values[handle - 1].link;
  } else {
    if (s_used == s_capacity) {
      s_capacity += 50;
      s_values = static_cast<ValueRecord*>(vl_xrealloc(s_values, s_capacity * sizeof(ValueRecord)));
    }
    handle = ++s_used;
    s_values[handle - 1].item = static_cast<VlItem*>(vl_xgrab(sizeof(VlItem)));
  }
  ValueRecord& r = s_values[handle - 1];
  r.item->type = VL_IT_NIL;
  r.holders = 1;
  r.link = 0;
  if (value) {
    if (move) vl_itemForwardValue(r.item, value);
    else vl_itemCopy(r.item, value);
  }
  return handle;
}

void vl_memvarValueHold(uint32_t handle) { ++s_values[handle - 1].holders; }

void vl_memvarValueRelease(uint32_t handle) {
  if (!s_values || handle == 0 || handle > s_used) return;
  ValueRecord& r = s_values[handle - 1];
  if (r.holders && --r.holders == 0) {
    vl_itemClear(r.item);
    r.link = s_free;
    s_free = static_cast<int32_t>(handle);
  }
}

VlItem* vl_memvarValueItem(uint32_t handle) { return s_values[handle - 1].item; }
