// The garbage collector.
#include "gc.h"

#include <cstring>
#include <initializer_list>

#include "arrays.h"
#include "codeblock.h"
#include "errint.h"
#include "hashes.h"
#include "item.h"
#include "memvars.h"
#include "stack.h"
#include "xmem.h"

namespace {

struct alignas(16) GcBlock {
  GcBlock* next;
  GcBlock* prev;
  VlGcReleaseFn release;
  VlGcMarkFn mark;
  uint16_t locks;
  uint16_t flags;  // colour (bit 1) and doomed (bit 2)
  uint32_t pad;
};
static_assert(sizeof(GcBlock) % 16 == 0, "block data stays 16-byte aligned");

constexpr uint16_t COLOUR = 2;
constexpr uint16_t DOOMED = 4;

GcBlock* s_ordinary;
GcBlock* s_held;
uint16_t s_colour = COLOUR;
uint32_t s_allocs;
bool s_running;
bool s_finalRelease;

constexpr int MAX_ROOTS = 16;
VlGcRootFn s_roots[MAX_ROOTS];
int s_rootCount;

inline GcBlock* header(const void* data) { return reinterpret_cast<GcBlock*>(const_cast<char*>(static_cast<const char*>(data)) - sizeof(GcBlock)); }
inline void* dataOf(GcBlock* b) { return reinterpret_cast<char*>(b) + sizeof(GcBlock); }

void link(GcBlock** list, GcBlock* b) {
  if (*list) {
    b->next = *list;
    b->prev = (*list)->prev;
    b->prev->next = b;
    (*list)->prev = b;
  } else {
    b->next = b->prev = b;
  }
  *list = b;
}

void unlink(GcBlock** list, GcBlock* b) {
  b->prev->next = b->next;
  b->next->prev = b->prev;
  if (*list == b) *list = b->next == b ? nullptr : b->next;
}

void markHeld() {
  GcBlock* b = s_held;
  if (!b) return;
  do {
    void* data = dataOf(b);
    if (b->release == vl_gcHeldItemRelease) {
      vl_gcItemRef(static_cast<VlItem*>(data));
    } else if (b->release == vl_arrayReleaseBlock) {
      VlItem tmp;
      tmp.type = VL_IT_ARRAY;
      tmp.u.arr.base = static_cast<VlArrayBase*>(data);
      // A held array counts as reachable: flip it if needed and mark its contents.
      vl_gcItemRef(&tmp);
    } else if (b->release == vl_codeblockReleaseBlock) {
      VlItem tmp;
      tmp.type = VL_IT_BLOCK;
      tmp.u.blk.base = static_cast<VlCodeblock*>(data);
      vl_gcItemRef(&tmp);
    } else if (b->release == vl_hashReleaseBlock) {
      VlItem tmp;
      tmp.type = VL_IT_HASH;
      tmp.u.hash.base = static_cast<VlHashBase*>(data);
      vl_gcItemRef(&tmp);
    } else if (b->mark) {
      b->mark(data);
    }
    b = b->next;
  } while (b != s_held);
}

}  // namespace

void vl_gcInit() {
  s_ordinary = s_held = nullptr;
  s_colour = COLOUR;
  s_allocs = 0;
  s_running = s_finalRelease = false;
}

void* vl_gcAllocMark(size_t size, VlGcReleaseFn release, VlGcMarkFn mark) {
  auto* b = static_cast<GcBlock*>(vl_xgrab(sizeof(GcBlock) + size));
  b->release = release;
  b->mark = mark;
  b->locks = 0;
  b->flags = s_colour;
  b->pad = 0;
  link(&s_ordinary, b);
  ++s_allocs;
  return dataOf(b);
}

void* vl_gcAlloc(size_t size, VlGcReleaseFn release) { return vl_gcAllocMark(size, release, nullptr); }

void vl_gcFree(void* data) {
  if (!data) vl_errInternal(9011, nullptr, nullptr, nullptr);
  if (s_finalRelease) return;
  GcBlock* b = header(data);
  if (b->flags & DOOMED) return;
  if (b->locks) {
    unlink(&s_held, b);
  } else {
    unlink(&s_ordinary, b);
    if (s_allocs) --s_allocs;
  }
  vl_xfree(b);
}

void vl_gcLock(void* data) {
  GcBlock* b = header(data);
  if (b->locks++ == 0) {
    unlink(&s_ordinary, b);
    link(&s_held, b);
  }
}

void vl_gcUnlock(void* data) {
  GcBlock* b = header(data);
  if (b->locks && --b->locks == 0) {
    unlink(&s_held, b);
    b->flags = static_cast<uint16_t>((b->flags & ~COLOUR) | s_colour);
    link(&s_ordinary, b);
  }
}

void vl_gcHeldItemRelease(void* data) { vl_itemClear(static_cast<VlItem*>(data)); }

VlItem* vl_gcGripGet(const VlItem* item) {
  auto* p = static_cast<VlItem*>(vl_gcAlloc(sizeof(VlItem), vl_gcHeldItemRelease));
  p->type = VL_IT_NIL;
  vl_gcLock(p);
  if (item) vl_itemCopy(p, item);
  return p;
}

void vl_gcGripDrop(VlItem* item) {
  vl_itemClear(item);
  vl_gcFree(item);
}

bool vl_gcMarkBlock(void* data) {
  GcBlock* b = header(data);
  if ((b->flags & COLOUR) != s_colour) return false;
  b->flags ^= COLOUR;
  return true;
}

bool vl_gcIsMarked(const void* data) { return (header(data)->flags & COLOUR) != s_colour; }

void vl_gcItemRef(const VlItem* item) {
  // Loops instead of recursing where the last thing to mark is one more item.
  for (;;) {
    if (VL_IS_BYREF(item)) {
      if (item->n16 == VL_REF_ARRAY) {
        VlItem tmp;
        tmp.type = VL_IT_ARRAY;
        tmp.u.arr.base = static_cast<VlArrayBase*>(item->u.ref.ptr);
        vl_gcItemRef(&tmp);
        return;
      }
      if (item->n16 == VL_REF_BLOCKLOCAL || item->n16 == VL_REF_MEMVAR || item->n16 == VL_REF_LOCAL ||
          item->n16 == VL_REF_GLOBAL) {
        // Local and global slots are roots of their own; a memory variable's value is marked
        // through the value table, a detached local through its codeblock.
        const VlItem* target = vl_itemUnRef(const_cast<VlItem*>(item));
        if (target == item || VL_IS_BYREF(target)) return;
        item = target;
        continue;
      }
      return;
    }
    if (VL_IS_ARRAY(item)) {
      VlArrayBase* base = item->u.arr.base;
      if (!vl_gcMarkBlock(base)) return;
      for (uint32_t i = 0; i < base->len; ++i)
        if (base->items[i].type & VL_IT_GCITEM) vl_gcItemRef(&base->items[i]);
      return;
    }
    if (VL_IS_HASH(item)) {
      if (!vl_gcMarkBlock(item->u.hash.base)) return;
      vl_hashMark(item->u.hash.base);
      return;
    }
    if (VL_IS_BLOCK(item)) {
      VlCodeblock* cb = item->u.blk.base;
      if (!vl_gcMarkBlock(cb)) return;
      vl_codeblockMark(cb);
      return;
    }
    if (VL_IS_POINTER(item)) {
      if (item->n32 && item->u.ptr) {
        GcBlock* b = header(item->u.ptr);
        if (vl_gcMarkBlock(item->u.ptr) && b->mark) b->mark(item->u.ptr);
      }
      return;
    }
    return;
  }
}

void vl_gcRegisterRoots(VlGcRootFn fn) {
  for (int i = 0; i < s_rootCount; ++i)
    if (s_roots[i] == fn) return;
  if (s_rootCount < MAX_ROOTS) s_roots[s_rootCount++] = fn;
}

void vl_gcCollect(bool forced) {
  if (s_running) return;
  if (!s_ordinary || (!forced && s_allocs < 64)) return;
  s_running = true;
  s_allocs = 0;

  // Roots: the evaluation stack and the return value, then every registered provider
  // (statics, memory variables, FOR EACH and WITH OBJECT levels, class data), then the held list.
  if (vl_stack.items) {
    for (VlItem** p = vl_stack.items; p < vl_stack.pos; ++p)
      if ((*p)->type & VL_IT_GCITEM) vl_gcItemRef(*p);
    if (vl_stack.ret.type & VL_IT_GCITEM) vl_gcItemRef(&vl_stack.ret);
  }
  for (int i = 0; i < s_rootCount; ++i) s_roots[i]();
  markHeld();

  // Sweep in two passes so that release routines may free (or try to free) other doomed blocks.
  if (GcBlock* first = s_ordinary) {
    GcBlock* b = first;
    do {
      if ((b->flags & COLOUR) == s_colour) b->flags |= DOOMED;
      b = b->next;
    } while (b != first);
    b = first;
    do {
      if (b->flags & DOOMED) b->release(dataOf(b));
      b = b->next;
    } while (b != first);
    // Free the doomed blocks; release routines above never unlink doomed blocks.
    b = s_ordinary;
    GcBlock* end = b->prev;
    for (;;) {
      GcBlock* next = b->next;
      bool last = b == end;
      if (b->flags & DOOMED) {
        unlink(&s_ordinary, b);
        vl_xfree(b);
      }
      if (last || !s_ordinary) break;
      b = next;
    }
  }
  s_colour ^= COLOUR;
  s_running = false;
}

void vl_gcReleaseAll() {
  s_finalRelease = true;
  s_running = true;
  for (GcBlock** list : {&s_held, &s_ordinary}) {
    if (GcBlock* first = *list) {
      GcBlock* b = first;
      do {
        b->release(dataOf(b));
        b = b->next;
      } while (b != first);
      b = first;
      do {
        GcBlock* next = b->next;
        vl_xfree(b);
        b = next;
      } while (b != first);
      *list = nullptr;
    }
  }
  s_allocs = 0;
  s_running = false;
  s_finalRelease = false;
}

uint32_t vl_gcAllocCount() { return s_allocs; }
bool vl_gcIsReleasingAll() { return s_finalRelease; }
