// The garbage collector: mark from the roots, sweep the ordinary list, flip the colour. The
// invariants are listed in gc.h.
#include "gc.h"

#include <cstring>
#include <initializer_list>

#include "arrays.h"
#include "codeblock.h"
#include "errint.h"
#include "extend.h"
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
size_t s_blocks;  // blocks on both lists
bool s_running;
bool s_finalRelease;

constexpr int MAX_ROOTS = 16;
VlGcRootFn s_roots[MAX_ROOTS];
int s_rootCount;

inline GcBlock* header(const void* data) { return reinterpret_cast<GcBlock*>(const_cast<char*>(static_cast<const char*>(data)) - sizeof(GcBlock)); }
inline void* dataOf(GcBlock* b) { return reinterpret_cast<char*>(b) + sizeof(GcBlock); }

// The colour a block gets when it joins the ordinary list. Blocks made while a collection runs
// (by release routines) take the marked colour, so that after the colour flip they count as
// unmarked like every other survivor and their contents are scanned next time.
inline uint16_t joinColour() { return s_running ? static_cast<uint16_t>(s_colour ^ COLOUR) : s_colour; }

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
  s_blocks = 0;
  s_running = s_finalRelease = false;
}

void* vl_gcAllocMark(size_t size, VlGcReleaseFn release, VlGcMarkFn mark) {
  auto* b = static_cast<GcBlock*>(vl_xgrab(sizeof(GcBlock) + size));
  b->release = release;
  b->mark = mark;
  b->locks = 0;
  b->flags = joinColour();
  b->pad = 0;
  link(&s_ordinary, b);
  ++s_allocs;
  ++s_blocks;
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
  --s_blocks;
  vl_xfree(b);
}

void vl_gcLock(void* data) {
  GcBlock* b = header(data);
  if (b->flags & DOOMED) return;  // being swept: it is on no list any more
  if (b->locks++ == 0) {
    unlink(&s_ordinary, b);
    link(&s_held, b);
  }
}

void vl_gcUnlock(void* data) {
  GcBlock* b = header(data);
  if (b->flags & DOOMED) return;
  if (b->locks && --b->locks == 0) {
    unlink(&s_held, b);
    b->flags = static_cast<uint16_t>((b->flags & ~COLOUR) | joinColour());
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

bool vl_gcIsDoomed(const void* data) { return (header(data)->flags & DOOMED) != 0; }

namespace {

// Marking recurses through nested values; past this depth the containers still to scan are
// queued instead, so a deeply nested structure cannot overflow the host stack.
constexpr uint32_t MAX_MARK_DEPTH = 1000;
uint32_t s_depth;

struct Pending {
  VlType kind;  // VL_IT_ARRAY, VL_IT_HASH, VL_IT_BLOCK or VL_IT_POINTER
  void* data;
};
Pending* s_pending;
size_t s_pendingCount;
size_t s_pendingCapacity;

void scanContents(VlType kind, void* data) {
  ++s_depth;
  switch (kind) {
    case VL_IT_ARRAY: {
      auto* base = static_cast<VlArrayBase*>(data);
      for (uint32_t i = 0; i < base->len; ++i)
        if (base->items[i].type & VL_IT_GCITEM) vl_gcItemRef(&base->items[i]);
      break;
    }
    case VL_IT_HASH: vl_hashMark(static_cast<VlHashBase*>(data)); break;
    case VL_IT_BLOCK: vl_codeblockMark(static_cast<VlCodeblock*>(data)); break;
    default: {
      GcBlock* b = header(data);
      if (b->mark) b->mark(data);
      break;
    }
  }
  --s_depth;
}

// Called for a block that was just marked: scans it now, or queues it when nested too deep.
void visit(VlType kind, void* data) {
  if (s_depth < MAX_MARK_DEPTH) {
    scanContents(kind, data);
    return;
  }
  if (s_pendingCount == s_pendingCapacity) {
    s_pendingCapacity = s_pendingCapacity ? s_pendingCapacity * 2 : 256;
    s_pending = static_cast<Pending*>(s_pending ? vl_xrealloc(s_pending, s_pendingCapacity * sizeof(Pending))
                                                : vl_xgrab(s_pendingCapacity * sizeof(Pending)));
  }
  s_pending[s_pendingCount++] = {kind, data};
}

void drainPending() {
  while (s_pendingCount) {
    Pending p = s_pending[--s_pendingCount];
    scanContents(p.kind, p.data);
  }
}

}  // namespace

void vl_gcItemRef(const VlItem* item) {
  // References are followed one step at a time, so that a reference reached through a memory
  // variable (a by-reference parameter, a detached local) still marks the array it points into.
  // A chain of references is short; the bound only stops a damaged one from looping.
  for (int hops = 0; VL_IS_BYREF(item) && hops < 64; ++hops) {
    if (!VL_IS_MEMVAR(item) && item->n16 == VL_REF_ARRAY) {
      auto* base = static_cast<VlArrayBase*>(item->u.ref.ptr);
      if (vl_gcMarkBlock(base)) visit(VL_IT_ARRAY, base);
      item = nullptr;
      break;
    }
    const VlItem* target = vl_itemUnRefOnce(const_cast<VlItem*>(item));
    if (target == item || !(target->type & VL_IT_GCITEM)) {
      item = nullptr;
      break;
    }
    item = target;
  }
  if (!item || VL_IS_BYREF(item)) {
    // nothing more to mark
  } else if (VL_IS_ARRAY(item)) {
    if (vl_gcMarkBlock(item->u.arr.base)) visit(VL_IT_ARRAY, item->u.arr.base);
  } else if (VL_IS_HASH(item)) {
    if (vl_gcMarkBlock(item->u.hash.base)) visit(VL_IT_HASH, item->u.hash.base);
  } else if (VL_IS_BLOCK(item)) {
    if (vl_gcMarkBlock(item->u.blk.base)) visit(VL_IT_BLOCK, item->u.blk.base);
  } else if (VL_IS_POINTER(item)) {
    if (item->n32 && item->u.ptr && vl_gcMarkBlock(item->u.ptr)) visit(VL_IT_POINTER, item->u.ptr);
  }
  if (s_depth == 0) drainPending();
}

void vl_gcRegisterRoots(VlGcRootFn fn) {
  for (int i = 0; i < s_rootCount; ++i)
    if (s_roots[i] == fn) return;
  if (s_rootCount < MAX_ROOTS) s_roots[s_rootCount++] = fn;
  else vl_errInternal(9000, "Too many collector root providers", nullptr, nullptr);
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
  drainPending();
  if (s_pending) {
    vl_xfree(s_pending);
    s_pending = nullptr;
    s_pendingCapacity = 0;
  }

  // Sweep. One walk over the ordinary list moves the unmarked blocks, flagged doomed, to a list
  // of their own, so the survivors are walked once. Then every doomed block's release routine
  // runs (frees requested meanwhile for doomed blocks are ignored, and a routine may still look
  // at another doomed block), and only then are the doomed blocks freed.
  GcBlock* doomed = nullptr;
  if (GcBlock* first = s_ordinary) {
    first->prev->next = nullptr;  // walk it as a linear list
    GcBlock* head = nullptr;
    GcBlock* tail = nullptr;
    for (GcBlock* b = first; b;) {
      GcBlock* next = b->next;
      if ((b->flags & COLOUR) == s_colour) {
        b->flags |= DOOMED;
        b->next = doomed;
        doomed = b;
      } else {
        b->prev = tail;
        if (tail) tail->next = b;
        else head = b;
        tail = b;
      }
      b = next;
    }
    if (head) {
      head->prev = tail;
      tail->next = head;
    }
    s_ordinary = head;
  }
  for (GcBlock* b = doomed; b; b = b->next) b->release(dataOf(b));
  while (doomed) {
    GcBlock* next = doomed->next;
    --s_blocks;
    vl_xfree(doomed);
    doomed = next;
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
  s_blocks = 0;
  s_running = false;
  s_finalRelease = false;
}

uint32_t vl_gcAllocCount() { return s_allocs; }
size_t vl_gcBlockCount() { return s_blocks; }
bool vl_gcIsReleasingAll() { return s_finalRelease; }

// VL_GCALL([lForce]): runs a collection; forced unless .F. is passed, in which case it runs only
// after enough allocations (the rule of idle-time requests).
VL_FUNC(VL_GCALL) {
  const VlItem* force = vl_param(1, VL_IT_LOGICAL);
  vl_gcCollect(force ? vl_itemGetL(force) : true);
}

VL_NATIVE_MODULE(gc, VL_FUNCENTRY(VL_GCALL));
