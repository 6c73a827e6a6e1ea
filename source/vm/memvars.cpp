// Memory variables: the value table (shared with the detached locals of codeblocks), PUBLIC and
// PRIVATE variables with the private stack, and the language functions that reach them by name.
// The invariants are listed in memvars.h; the save file lives in memsave.cpp.
#include "memvars.h"

#include <cstring>

#include "arrays.h"
#include "errint.h"
#include "extend.h"
#include "gc.h"
#include "operators.h"
#include "symbols.h"
#include "xmem.h"

namespace {

struct ValueRecord {
  VlItem* item;      // own cell: reference items point at it, so it never moves
  uint32_t holders;  // 0: on the free list
  int32_t link;      // PRIVATE: the handle the name had before; -1: detached local; free list link
};

constexpr int32_t DETACHED = -1;

ValueRecord* s_values;
uint32_t s_capacity;
uint32_t s_used;  // records handed out so far (handles 1..s_used)
int32_t s_free;   // head of the free list, 0 when empty

// One entry per PRIVATE created. The handle lets a return release only the value that this
// entry created, even when the name was released and bound anew in between.
struct PrivateEntry {
  VlDynSym* dynsym;
  uint32_t handle;
};
PrivateEntry* s_privates;
uint32_t s_privCapacity;
uint32_t s_privCount;
uint32_t s_privMark;

VlFieldReader s_fieldReader;

inline ValueRecord& record(uint32_t handle) { return s_values[handle - 1]; }

void pushPrivate(VlDynSym* dynsym, uint32_t handle) {
  if (s_privCount == s_privCapacity) {
    s_privCapacity += s_privCapacity ? 50 : 100;
    s_privates = static_cast<PrivateEntry*>(s_privates ? vl_xrealloc(s_privates, s_privCapacity * sizeof(PrivateEntry))
                                                       : vl_xgrab(s_privCapacity * sizeof(PrivateEntry)));
  }
  s_privates[s_privCount++] = {dynsym, handle};
}

// The collector's roots: every value in use that is not a detached local (those are reached
// through the codeblocks and stack references that hold them).
void markValues() {
  for (uint32_t i = 0; i < s_used; ++i) {
    const ValueRecord& r = s_values[i];
    if (r.holders && r.link != DETACHED && (r.item->type & VL_IT_GCITEM)) vl_gcItemRef(r.item);
  }
}

// The dynamic symbol behind a symbol used as a memory variable; 9021 when it has none.
VlDynSym* dynsymOf(VlSymbol* sym) {
  VlDynSym* d = sym ? sym->dynsym : nullptr;
  if (!d || d == VL_SYM_DEFINED) vl_errInternal(9021, nullptr, sym ? sym->name : "", nullptr);
  return d;
}

inline void makeMemvarRef(VlItem* out, uint32_t handle) {
  vl_itemClear(out);
  out->type = VL_IT_BYREF | VL_IT_MEMVAR;
  out->n16 = VL_REF_MEMVAR;
  out->n32 = 0;
  out->u.ref.ptr = nullptr;
  out->u.ref.offset = 0;
  out->u.ref.index = static_cast<int32_t>(handle);
}

// Raises "Variable does not exist" for the name; true when the handler asks for a retry.
bool noVariable(const char* name) {
  return vl_errRT_BASE_Ext1(VL_EG_NOVAR, 1003, nullptr, name, 0, VL_ERR_FLAG_RETRY, 0) == VL_ERR_RESULT_RETRY;
}

// Assignment stores plain strings: the memo mark belongs to the field the text came from.
inline void dropMemo(VlItem* item) {
  if (VL_IS_STRING(item)) item->type = VL_IT_STRING;
}

}  // namespace

void vl_memvarInit() {
  s_capacity = 100;
  s_values = static_cast<ValueRecord*>(vl_xgrab(s_capacity * sizeof(ValueRecord)));
  s_used = 0;
  s_free = 0;
  s_privCapacity = 100;
  s_privates = static_cast<PrivateEntry*>(vl_xgrab(s_privCapacity * sizeof(PrivateEntry)));
  s_privCount = s_privMark = 0;
  vl_gcRegisterRoots(markValues);
}

void vl_memvarExit() {
  if (s_values) {
    // Clearing a value may release a codeblock that releases further values: empty every cell
    // first, free the cells after.
    for (uint32_t i = 0; i < s_used; ++i)
      if (s_values[i].holders) vl_itemClear(s_values[i].item);
    for (uint32_t i = 0; i < s_used; ++i) vl_xfree(s_values[i].item);
    vl_xfree(s_values);
  }
  s_values = nullptr;
  s_capacity = s_used = 0;
  s_free = 0;
  if (s_privates) vl_xfree(s_privates);
  s_privates = nullptr;
  s_privCapacity = s_privCount = s_privMark = 0;
}

// ---- the value table ----
uint32_t vl_memvarValueNew(VlItem* value, bool move) {
  uint32_t handle;
  if (s_free) {
    handle = static_cast<uint32_t>(s_free);
    s_free = record(handle).link;
  } else {
    if (s_used == s_capacity) {
      s_capacity += 50;
      s_values = static_cast<ValueRecord*>(vl_xrealloc(s_values, s_capacity * sizeof(ValueRecord)));
    }
    handle = ++s_used;
    record(handle).item = static_cast<VlItem*>(vl_xgrab(sizeof(VlItem)));
  }
  ValueRecord& r = record(handle);
  r.item->type = VL_IT_NIL;
  r.holders = 1;
  r.link = 0;
  if (value) {
    if (move) vl_itemForwardValue(r.item, value);
    else vl_itemCopy(r.item, value);
  }
  return handle;
}

void vl_memvarValueHold(uint32_t handle) {
  if (handle && handle <= s_used) ++record(handle).holders;
}

void vl_memvarValueRelease(uint32_t handle) {
  if (!s_values || handle == 0 || handle > s_used) return;
  ValueRecord& r = record(handle);
  if (r.holders && --r.holders == 0) {
    // Free the record before clearing: the value may hold the last reference to another
    // record, whose release must find a consistent table.
    VlItem old = *r.item;
    r.item->type = VL_IT_NIL;
    r.link = s_free;
    s_free = static_cast<int32_t>(handle);
    vl_itemClear(&old);
  }
}

VlItem* vl_memvarValueItem(uint32_t handle) {
  if (handle == 0 || handle > s_used) {
    // A reference to a record that never existed: read as NIL, writes are lost.
    static VlItem s_scratch;
    vl_itemClear(&s_scratch);
    return &s_scratch;
  }
  return record(handle).item;
}

uint32_t vl_memvarValueHolders(uint32_t handle) { return handle && handle <= s_used ? record(handle).holders : 0; }

void vl_memvarDetachLocal(VlItem* local) {
  if (VL_IS_BYREF(local) && VL_IS_MEMVAR(local)) return;
  uint32_t handle = vl_memvarValueNew(local, true);
  record(handle).link = DETACHED;
  makeMemvarRef(local, handle);  // the slot takes over the record's first hold
}

// ---- variables by name ----
void vl_memvarCreate(VlDynSym* dynsym, int scope, const VlItem* value) {
  if (!dynsym) return;
  if (scope == VL_MV_PUBLIC) {
    if (dynsym->memvar) return;
    VlItem init;
    init.type = VL_IT_NIL;
    if (value) {
      vl_itemCopy(&init, value);
    } else {
      const char* name = dynsym->symbol->name;
      vl_itemPutL(&init, std::strcmp(name, "VELLUM") == 0 || std::strcmp(name, "KESTREL") == 0);
    }
    dynsym->memvar = vl_memvarValueNew(&init, true);
    return;
  }
  uint32_t previous = dynsym->memvar;
  uint32_t handle = vl_memvarValueNew(const_cast<VlItem*>(value), false);
  dropMemo(record(handle).item);
  record(handle).link = static_cast<int32_t>(previous);
  dynsym->memvar = handle;
  pushPrivate(dynsym, handle);
}

void vl_memvarSetValue(VlSymbol* sym, VlItem* value) { vl_memvarAssign(dynsymOf(sym), value); }

void vl_memvarAssign(VlDynSym* d, VlItem* value) {
  if (!d->memvar) {
    vl_memvarCreate(d, VL_MV_PRIVATE, value);
    return;
  }
  // A variable that holds a reference (a parameter passed by reference) is assigned through it.
  VlItem* target = vl_itemUnRef(record(d->memvar).item);
  if (target == value || vl_opAssign(target, value)) return;
  vl_itemCopy(target, value);
  dropMemo(target);
}

bool vl_memvarGetValue(VlItem* out, VlSymbol* sym) {
  VlDynSym* d = dynsymOf(sym);
  for (;;) {
    if (d->memvar) {
      VlItem* value = vl_itemUnRef(record(d->memvar).item);
      if (value != out) vl_itemCopy(out, value);
      return true;
    }
    if (!noVariable(sym->name)) break;
  }
  vl_itemClear(out);
  return false;
}

bool vl_memvarGetVar(VlItem* out, VlSymbol* sym) {
  VlDynSym* d = dynsymOf(sym);
  for (;;) {
    if (s_fieldReader && s_fieldReader(sym, out)) return true;
    if (d->memvar) {
      VlItem* value = vl_itemUnRef(record(d->memvar).item);
      if (value != out) vl_itemCopy(out, value);
      return true;
    }
    if (!noVariable(sym->name)) break;
  }
  vl_itemClear(out);
  return false;
}

bool vl_memvarGetRefer(VlItem* out, VlSymbol* sym) {
  VlDynSym* d = dynsymOf(sym);
  for (;;) {
    if (d->memvar) {
      VlItem* value = record(d->memvar).item;
      if (VL_IS_BYREF(value)) {
        if (value != out) vl_itemCopy(out, value);
        return true;
      }
      // Writes through the reference must not reach other holders of the text.
      if (VL_IS_STRING(value)) vl_itemUnShareString(value);
      uint32_t handle = d->memvar;
      vl_memvarValueHold(handle);
      makeMemvarRef(out, handle);
      return true;
    }
    if (!noVariable(sym->name)) break;
  }
  vl_itemClear(out);
  return false;
}

bool vl_memvarTryGetValue(VlItem* out, VlDynSym* dynsym) {
  if (!dynsym || !dynsym->memvar) return false;
  VlItem* value = vl_itemUnRef(record(dynsym->memvar).item);
  if (value != out) vl_itemCopy(out, value);
  return true;
}

VlItem* vl_memvarValueOf(VlDynSym* dynsym) {
  return dynsym && dynsym->memvar ? vl_itemUnRef(record(dynsym->memvar).item) : nullptr;
}

void vl_memvarNewParameter(VlSymbol* sym, const VlItem* value) {
  vl_memvarCreate(dynsymOf(sym), VL_MV_PRIVATE, value);
}

uint32_t vl_memvarSetPrivatesBase() {
  uint32_t previous = s_privMark;
  s_privMark = s_privCount;
  return previous;
}

void vl_memvarRestorePrivates(uint32_t mark) {
  while (s_privCount > s_privMark) {
    PrivateEntry e = s_privates[--s_privCount];
    if (e.dynsym->memvar == e.handle && e.handle) {
      e.dynsym->memvar = static_cast<uint32_t>(record(e.handle).link);
      vl_memvarValueRelease(e.handle);
    }
  }
  s_privMark = mark <= s_privCount ? mark : s_privCount;
}

uint32_t vl_memvarPrivateCount() { return s_privCount; }

int vl_memvarScopeOf(VlDynSym* d) {
  if (!d) return VL_MV_SCOPE_NOT_FOUND;
  if (!d->memvar) return VL_MV_SCOPE_UNKNOWN;
  for (uint32_t i = s_privCount; i-- > 0;) {
    if (s_privates[i].dynsym == d && s_privates[i].handle == d->memvar)
      return i >= s_privMark ? VL_MV_SCOPE_PRIVATE_LOCAL : VL_MV_SCOPE_PRIVATE_GLOBAL;
  }
  return VL_MV_SCOPE_PUBLIC;
}

int vl_memvarScope(const char* name) { return vl_memvarScopeOf(vl_dynsymFindName(name)); }

void vl_memvarRelease(VlDynSym* d) {
  if (!d || !d->memvar) return;
  uint32_t handle = d->memvar;
  d->memvar = 0;
  vl_memvarValueRelease(handle);
}

void vl_memvarReleaseAll() {
  // Every binding goes, and with a PRIVATE also the values it hides (they could never be
  // reached again). The private stack keeps its entries; a return finds them unbound and skips
  // them.
  for (uint32_t i = 0, n = vl_dynsymCount(); i < n; ++i) {
    VlDynSym* d = vl_dynsymAt(i);
    for (uint32_t guard = 0; d->memvar && guard <= s_used; ++guard) {
      uint32_t handle = d->memvar;
      int32_t hidden = record(handle).link;
      d->memvar = hidden > 0 && static_cast<uint32_t>(hidden) <= s_used ? static_cast<uint32_t>(hidden) : 0;
      vl_memvarValueRelease(handle);
    }
    d->memvar = 0;
  }
}

void vl_memvarSetFieldReader(VlFieldReader reader) { s_fieldReader = reader; }
VlFieldReader vl_memvarFieldReader() { return s_fieldReader; }

// ---- language functions ----
namespace {

// Applies fn to every name an argument gives: a string, a symbol, or an array of those.
// False when the argument (or an element) is of another type.
template <typename Fn>
bool forEachName(const VlItem* arg, Fn fn) {
  if (VL_IS_STRING(arg)) {
    fn(vl_dynsymGet(arg->u.str.text));
    return true;
  }
  if (VL_IS_SYMBOL(arg)) {
    fn(vl_dynsymGet(arg->u.sym.sym->name));
    return true;
  }
  if (VL_IS_ARRAY(arg)) {
    bool ok = true;
    // The name list is read element by element: creating a variable runs no user code.
    for (uint32_t i = 0; i < arg->u.arr.base->len; ++i) {
      const VlItem* e = vl_itemUnRef(&arg->u.arr.base->items[i]);
      if (VL_IS_STRING(e)) fn(vl_dynsymGet(e->u.str.text));
      else if (VL_IS_SYMBOL(e)) fn(vl_dynsymGet(e->u.sym.sym->name));
      else ok = false;
    }
    return ok;
  }
  return false;
}

void createNamed(int scope) {
  vl_ret();
  int n = vl_pcount();
  for (int i = 1; i <= n; ++i) {
    const VlItem* arg = vl_param(i, VL_IT_ANY);
    if (!arg) continue;
    bool ok = forEachName(arg, [scope](VlDynSym* d) { vl_memvarCreate(d, scope, nullptr); });
    if (!ok) vl_errRT_BASE(VL_EG_ARG, 3008, nullptr, "&", VL_ERR_ARGS_BASEPARAMS);
  }
}

}  // namespace

VL_FUNC(__MVPUBLIC) { createNamed(VL_MV_PUBLIC); }

VL_FUNC(__MVPRIVATE) { createNamed(VL_MV_PRIVATE); }

VL_FUNC(__MVSCOPE) {
  const VlItem* name = vl_param(1, VL_IT_STRING);
  vl_retni(name ? vl_memvarScope(name->u.str.text) : 0);
}

VL_FUNC(__MVGET) {
  const VlItem* name = vl_param(1, VL_IT_STRING);
  if (!name) {
    vl_errRT_BASE_SubstR(VL_EG_ARG, 3009, nullptr, "__MVGET", VL_ERR_ARGS_BASEPARAMS);
    return;
  }
  VlDynSym* d = vl_dynsymFindName(name->u.str.text);
  for (;;) {
    if (VlItem* value = vl_memvarValueOf(d)) {
      vl_itemReturn(value);
      return;
    }
    if (!noVariable(name->u.str.text)) break;
    d = vl_dynsymFindName(name->u.str.text);
  }
  vl_ret();
}

VL_FUNC(__MVPUT) {
  const VlItem* name = vl_param(1, VL_IT_STRING);
  VlItem value;
  value.type = VL_IT_NIL;
  if (const VlItem* v = vl_param(2, VL_IT_ANY)) vl_itemCopy(&value, v);
  if (!name) {
    vl_errRT_BASE(VL_EG_ARG, 3010, nullptr, "__MVPUT", VL_ERR_ARGS_BASEPARAMS);
  } else {
    vl_memvarAssign(vl_dynsymGet(name->u.str.text), &value);
  }
  vl_itemReturnForward(&value);
}

VL_NATIVE_MODULE(memvars, VL_FUNCENTRY(__MVPUBLIC), VL_FUNCENTRY(__MVPRIVATE), VL_FUNCENTRY(__MVSCOPE),
                 VL_FUNCENTRY(__MVGET), VL_FUNCENTRY(__MVPUT));
