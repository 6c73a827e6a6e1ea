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

#include <cstddef>
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
uint32_t vl_memvarValueHolders(uint32_t handle);
// Turns a local's slot into a memory-variable reference to a new detached value holding the
// local's value, unless it already is one.
void vl_memvarDetachLocal(VlItem* local);

// ---- variables by name ----
void vl_memvarCreate(VlDynSym* dynsym, int scope, const VlItem* value);  // value may be null
void vl_memvarSetValue(VlSymbol* sym, VlItem* value);   // STOREMEMVAR / STOREVAR (value is copied)
bool vl_memvarGetValue(VlItem* out, VlSymbol* sym);     // LOADMEMVAR; raises 14/1003 with retry
bool vl_memvarGetRefer(VlItem* out, VlSymbol* sym);     // MEMVARREF
// LOADVAR: the field of that name in the current work area when the field reader finds one,
// else the memory variable; raises 14/1003 with retry when neither exists.
bool vl_memvarGetVar(VlItem* out, VlSymbol* sym);
// Assigns by dynamic symbol (creating a PRIVATE when the name has no value).
void vl_memvarAssign(VlDynSym* dynsym, VlItem* value);
// The visible value of the name (references followed), or null when it has none.
VlItem* vl_memvarValueOf(VlDynSym* dynsym);
// True and the value copied into out when the name has a value (no error raised).
bool vl_memvarTryGetValue(VlItem* out, VlDynSym* dynsym);
void vl_memvarNewParameter(VlSymbol* sym, const VlItem* value);  // PARAMPRIVATE
uint32_t vl_memvarSetPrivatesBase();           // mark := count; returns the previous mark
void vl_memvarRestorePrivates(uint32_t mark);  // releases PRIVATEs above the current mark, then mark := mark
int vl_memvarScope(const char* name);
int vl_memvarScopeOf(VlDynSym* dynsym);
uint32_t vl_memvarPrivateCount();
// Unbinds the name (its value is released when nothing else holds it).
void vl_memvarRelease(VlDynSym* dynsym);
void vl_memvarReleaseAll();

// The field-first rule of LOADVAR: the work-area layer installs a reader that pushes the field
// of that name in the current work area and answers true, or answers false when there is none.
using VlFieldReader = bool (*)(VlSymbol* sym, VlItem* out);
void vl_memvarSetFieldReader(VlFieldReader reader);
VlFieldReader vl_memvarFieldReader();

// ---- the save file (".mem") ----
// The bytes of a save file holding the variables the mask selects (like: the names matching it;
// otherwise the names not matching it). The buffer is the caller's (vl_xfree). An invalid mask is
// internal error 9100.
uint8_t* vl_memvarSaveImage(const char* mask, size_t maskLen, bool like, bool longNames, size_t* size);
// Restores the selected records of a save file's bytes (each assigned to its variable, or a new
// PRIVATE); `last` (may be null) receives the value of the last record restored. Damaged bytes
// end the restore after the last whole record. True when anything was restored.
bool vl_memvarRestoreImage(const uint8_t* data, size_t size, bool longNames, const char* mask, size_t maskLen,
                           bool like, VlItem* last);

// ---- statics ----
// One process-wide array; a module's statics are a slice of it. The module's "(_INITSTATICS)"
// symbol anchors the slice: reserving stores the slice's base (elements before it) in the
// symbol's value field; static n (from 1) of the running module is element base + n.
void vl_staticsReset();
void vl_staticsRelease();
VlItem* vl_staticsArray();  // the statics array item (NIL until the first module reserves statics)
void vl_staticsReserve(VlSymbol* sym, uint16_t count);  // STATICCOUNT
void vl_staticsSetBase(VlSymbol* sym);                  // STATICBASE
VlItem* vl_staticsItem(uint16_t n);   // slot of static n of the running module (not dereferenced)
void vl_staticsPush(uint16_t n);      // LOADSTATIC: pushes a copy (references followed)
void vl_staticsPop(uint16_t n);       // STORESTATIC: pops the top into static n
void vl_staticsPushRef(uint16_t n);   // STATICREF: pushes an element reference to static n
