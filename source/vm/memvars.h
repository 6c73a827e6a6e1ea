// Memory variables (PUBLIC and PRIVATE), the value table they share with the detached locals of
// codeblocks, and the private stack.
//
// Invariants:
//  1. A name is bound to its visible value by its dynamic symbol's memvar handle (0 = none).
//  2. A value record's holders are the binding plus every reference item and codeblock vector
//     entry that names it; the record returns to the free list when they drop to 0.
//  3. The private stack holds one dynamic symbol per PRIVATE created; the mark is the count at
//     entry of the running procedure. Leaving a procedure pops back to its mark, releasing each
//     PRIVATE and rebinding the name to the value it hid (the record's link).
#pragma once

#include <cstdint>

#include "item.h"

struct VlDynSym;
struct VlSymbol;

enum : int {
  VL_MV_PUBLIC = 1,
  VL_MV_PRIVATE = 2,
};

// Scope numbers reported by __MVSCOPE.
enum : int {
  VL_MV_SCOPE_NOT_FOUND = -2,
  VL_MV_SCOPE_UNKNOWN = -1,
  VL_MV_SCOPE_PUBLIC = 1,
  VL_MV_SCOPE_PRIVATE_GLOBAL = 2,  // created by a calling procedure
  VL_MV_SCOPE_PRIVATE_LOCAL = 4,   // created by the current procedure
};

void vl_memvarInit();
void vl_memvarExit();

// ---- the value table ----
uint32_t vl_memvarValueNew(VlItem* value, bool move);
void vl_memvarValueHold(uint32_t handle);
void vl_memvarValueRelease(uint32_t handle);
VlItem* vl_memvarValueItem(uint32_t handle);
// Turns a local's slot into a memory-variable reference to a new detached value holding the
// local's value, unless it already is one.
void vl_memvarDetachLocal(VlItem* local);

// ---- variables by name ----
void vl_memvarCreate(VlDynSym* dynsym, int scope, const VlItem* value);  // value may be null
void vl_memvarSetValue(VlSymbol* sym, VlItem* value);   // STOREMEMVAR / STOREVAR (value is copied)
bool vl_memvarGetValue(VlItem* out, VlSymbol* sym);     // LOADMEMVAR; raises 14/1003 with retry
bool vl_memvarGetRefer(VlItem* out, VlSymbol* sym);     // MEMVARREF
// True and the value copied into out when the name has a value (no error raised).
bool vl_memvarTryGetValue(VlItem* out, VlDynSym* dynsym);
void vl_memvarNewParameter(VlSymbol* sym, const VlItem* value);  // PARAMPRIVATE
uint32_t vl_memvarSetPrivatesBase();           // mark := count; returns the previous mark
void vl_memvarRestorePrivates(uint32_t mark);  // releases PRIVATEs above the current mark, then mark := mark
int vl_memvarScope(const char* name);

// The field-first rule of LOADVAR: the work-area layer installs a reader that pushes the field
// of that name in the current work area and answers true, or answers false when there is none.
using VlFieldReader = bool (*)(VlSymbol* sym, VlItem* out);
void vl_memvarSetFieldReader(VlFieldReader reader);
VlFieldReader vl_memvarFieldReader();

// ---- statics ----
void vl_staticsReset();
void vl_staticsRelease();
VlItem* vl_staticsArray();  // the statics array item (NIL until the first module reserves statics)
