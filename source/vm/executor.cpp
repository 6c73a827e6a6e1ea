// The p-code executor: the dispatch loop over the one instruction table of pcodes.h, frame
// set-up, locals, calls and sends, the periodic cancel check and background ticks, and the
// structured control flow (BEGIN SEQUENCE, TRY/CATCH/FINALLY, WITH OBJECT, FOR EACH, SWITCH)
// with the action requests that unwind it.
//
// Invariants:
//  1. Inside vl_vmExecute the stack top lives in `sp` (with `bp` = frame base and `limit` =
//     growth point). Anything that may push, pop, call or raise runs between SAVE() and LOAD();
//     cell pointers (VlItem*) stay valid across both, slot pointers (VlItem**) do not.
//  2. Every cell at or above the top is NIL, so a push writes without clearing and a pop of a
//     non-complex value only resets the type.
//  3. Recover and FINALLY records are chained newest first and carry the invocation that opened
//     them; an invocation acts only on its own records and drops any it still owns when it
//     leaves (a RETURN inside BEGIN SEQUENCE must not leave a record behind for a later break).
//  4. With a code length given, no operand is read past the end and no jump lands outside.
#include "executor.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "../rtl/regex.h"
#include "../rtl/set.h"
#include "arrays.h"
#include "classes.h"
#include "codeblock.h"
#include "errapi.h"
#include "errint.h"
#include "extend.h"
#include "fieldapi.h"
#include "gc.h"
#include "memvars.h"
#include "operators.h"
#include "pcodes.h"
#include "polling.h"
#include "stack.h"
#include "subsys.h"
#include "vm.h"
#include "vmcall.h"
#include "xmem.h"

uint16_t vl_vmLineBase;
uint32_t vl_vmTryDepth;

namespace {

constexpr uint32_t MAX_NEST = 16;      // WITH OBJECT and FOR EACH levels (at most 15 open)
constexpr size_t MAX_FIXED_LEN = 11;   // longest instruction of fixed length (PUTDOUBLE)
constexpr uint8_t HIDDEN_KEY = 0x5A;   // exclusive-or key of scrambled hidden strings

// Length of each instruction whose length is fixed; 1 for the others (they measure themselves)
// and for bytes that are no instruction (they stop at the dispatch).
constexpr uint8_t fixedLength(VlOpFmt f) {
  switch (f) {
    case VL_FMT_NONE: return 1;
    case VL_FMT_U1:
    case VL_FMT_S1:
    case VL_FMT_SYM1:
    case VL_FMT_LOCAL1:
    case VL_FMT_JMP1: return 2;
    case VL_FMT_U2:
    case VL_FMT_S2:
    case VL_FMT_SYM2:
    case VL_FMT_LOCAL2:
    case VL_FMT_JMP2:
    case VL_FMT_ENTER: return 3;
    case VL_FMT_JMP3:
    case VL_FMT_ENTERWIDE:
    case VL_FMT_LOCALINT:
    case VL_FMT_SYM2U1: return 4;
    case VL_FMT_I4:
    case VL_FMT_SYM2U2: return 5;
    case VL_FMT_I8:
    case VL_FMT_PTR: return 9;
    case VL_FMT_DOUBLE: return 11;
    default: return 1;
  }
}
struct FixedLengths {
  uint8_t len[256];
  constexpr FixedLengths() : len() {
    for (int i = 0; i < 256; ++i) len[i] = 1;
#define VL_OP_LEN(code, name, fmt, pops, pushes) len[code] = fixedLength(VL_FMT_##fmt);
    VL_PCODE_LIST(VL_OP_LEN)
#undef VL_OP_LEN
  }
};
constexpr FixedLengths kFixedLengths;
constexpr const uint8_t* kFixedLen = kFixedLengths.len;
static_assert(kFixedLengths.len[VL_P_PUTDOUBLE] == 11 && kFixedLengths.len[VL_P_PUTINT64] == 9, "instruction lengths");

// Writes the first 16 bytes of an item (header and 8-byte payload) with one store, so that the
// whole-item copies which read them back are forwarded from it instead of stalling.
inline void setItem(VlItem* d, VlType type, uint16_t n16, int64_t payload) {
  static_assert(offsetof(VlItem, type) == 0 && offsetof(VlItem, n16) == 2 && offsetof(VlItem, u) == 8,
                "item header layout");
  uint64_t head = static_cast<uint64_t>(type) | (static_cast<uint64_t>(n16) << 16);
#if defined(__SSE2__)
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_set_epi64x(payload, static_cast<int64_t>(head)));
#else
  uint64_t words[2] = {head, static_cast<uint64_t>(payload)};
  std::memcpy(d, words, 16);
#endif
}

inline uint16_t widthLong(int64_t v) { return (v < -999999999LL || v > 9999999999LL) ? 20 : 10; }

// Per call of vl_vmExecute; its address identifies the invocation to its records.
struct Invocation {
  uint32_t eachDepth;
  uint32_t withDepth;
  uint32_t privateMark;
  bool hasSymbols;
};

struct RecoverRec {
  RecoverRec* prev;
  const Invocation* owner;
  uint64_t serial;      // orders recover and FINALLY records against each other
  int32_t stackPos;     // slots in use after the break-value slot was pushed
  uint32_t recoverPos;  // RECOVER / CATCH position
  uint32_t eachDepth;
  uint32_t withDepth;
  VlItem* savedErrorBlock;  // TRY: the error block before TRY (a held item); null otherwise
};

struct FinallyRec {
  FinallyRec* prev;
  const Invocation* owner;
  uint64_t serial;
  uint32_t pos;       // the FINALLY section
  int32_t stackPos;   // stack depth the FINALLY section starts with
  uint32_t eachDepth;
  uint32_t withDepth;
  uint16_t savedRequest;
  bool entered;
  VlItem savedReturn;  // a RETURN's value, kept while the FINALLY section runs
};

struct EachLevel {
  VlItem collection;
  VlItem control;  // the reference to the control variable
  uint32_t index;
};

RecoverRec* s_recover;
RecoverRec* s_recoverFree;
FinallyRec* s_finally;
FinallyRec* s_finallyFree;
uint64_t s_serial;

VlItem s_with[MAX_NEST];
uint32_t s_withDepth;
EachLevel s_each[MAX_NEST];
uint32_t s_eachDepth;

uint16_t s_counter;    // instructions until the next cancel check (wraps every 65,536)
uint32_t s_bgCounter;  // instructions since the last background task
VlVmPollFn s_pollHook;

// Stable homes of module globals tables, so that references can name "table, index".
struct GlobalsAnchor {
  VlItem** table;
  GlobalsAnchor* next;
};
GlobalsAnchor* s_anchors;

// ---- failures ----
[[noreturn]] void badCode(const uint8_t* code, const uint8_t* pc, const char* what) {
  char where[96];
  std::snprintf(where, sizeof where, "%zu (%s)", static_cast<size_t>(pc - code),
                *pc < VL_PCODE_COUNT ? vl_pcodeInfo[*pc].name : "?");
  vl_errInternal(9014, "Invalid p-code at offset %s: %s", where, what);
}

[[noreturn]] void unsupported() { vl_errInternal(9014, nullptr, nullptr, nullptr); }

// Near the end of bounded code every instruction is measured before it is decoded.
void checkInstruction(const uint8_t* code, const uint8_t* pc, const uint8_t* end) {
  if (pc >= end) badCode(code, pc - 1, "execution ran past the end of the code");
  if (vl_pcodeLength(pc, static_cast<size_t>(end - pc)) == 0) {
    if (*pc >= VL_PCODE_COUNT || vl_pcodeInfo[*pc].format == VL_FMT_UNASSIGNED) unsupported();
    badCode(code, pc, "truncated instruction");
  }
}

[[noreturn]] void notAvailable(const char* op, const char* subsystem) {
  vl_errInternal(9000, "The instruction %s is not available yet: %s", op, subsystem);
}

// ---- records ----
RecoverRec* newRecover() {
  RecoverRec* r = s_recoverFree;
  if (r) s_recoverFree = r->prev;
  else r = static_cast<RecoverRec*>(vl_xgrab(sizeof(RecoverRec)));
  return r;
}

FinallyRec* newFinally() {
  FinallyRec* f = s_finallyFree;
  if (f) s_finallyFree = f->prev;
  else f = static_cast<FinallyRec*>(vl_xgrab(sizeof(FinallyRec)));
  return f;
}

inline RecoverRec* ownRecover(const Invocation* inv) { return (s_recover && s_recover->owner == inv) ? s_recover : nullptr; }

void unchainRecover() {
  RecoverRec* r = s_recover;
  s_recover = r->prev;
  r->prev = s_recoverFree;
  s_recoverFree = r;
}

void unchainFinally() {
  FinallyRec* f = s_finally;
  vl_itemClear(&f->savedReturn);
  s_finally = f->prev;
  f->prev = s_finallyFree;
  s_finallyFree = f;
}

// A TRY record puts back the error block it replaced.
void closeTry(RecoverRec* r) {
  if (!r->savedErrorBlock) return;
  if (vl_vmTryDepth) --vl_vmTryDepth;
  VlItem* current = vl_errorBlock(r->savedErrorBlock);
  vl_itemRelease(current);
  vl_itemRelease(r->savedErrorBlock);
  r->savedErrorBlock = nullptr;
}

// The invocation's FINALLY record that a RETURN or a break goes through. One already entered
// is being run (or was left abnormally): it is dropped first, so a RETURN inside FINALLY does
// not loop back into it.
FinallyRec* liveFinally(const Invocation* inv) {
  while (s_finally && s_finally->owner == inv && s_finally->entered) unchainFinally();
  return (s_finally && s_finally->owner == inv) ? s_finally : nullptr;
}

// ---- WITH OBJECT and FOR EACH levels ----
VlItem* controlTarget(EachLevel& l) {
  if (!VL_IS_BYREF(&l.control)) return nullptr;
  VlItem* t = vl_itemUnRefOnce(&l.control);
  if (VL_IS_MEMVAR(t)) t = vl_itemUnRefOnce(t);  // a detached local
  return t;
}

void popEach(bool resetControl) {
  EachLevel& l = s_each[--s_eachDepth];
  if (resetControl) {
    if (VlItem* t = controlTarget(l)) vl_itemClear(t);
  }
  vl_itemClear(&l.collection);
  vl_itemClear(&l.control);
  l.index = 0;
}

void popWith() { vl_itemClear(&s_with[--s_withDepth]); }

void unwindLevels(uint32_t eachDepth, uint32_t withDepth, bool resetControl) {
  while (s_eachDepth > eachDepth) popEach(resetControl);
  while (s_withDepth > withDepth) popWith();
}

void markRoots() {
  for (FinallyRec* f = s_finally; f; f = f->prev)
    if (f->savedReturn.type & VL_IT_GCITEM) vl_gcItemRef(&f->savedReturn);
  for (uint32_t i = 0; i < s_withDepth; ++i)
    if (s_with[i].type & VL_IT_GCITEM) vl_gcItemRef(&s_with[i]);
  for (uint32_t i = 0; i < s_eachDepth; ++i) {
    if (s_each[i].collection.type & VL_IT_GCITEM) vl_gcItemRef(&s_each[i].collection);
    // The control variable itself is a local, a memory variable or a static, all marked by
    // their owners; a reference into an array holds that array.
    const VlItem& c = s_each[i].control;
    if ((c.type & VL_IT_BYREF) && !(c.type & VL_IT_MEMVAR) && c.n16 == VL_REF_ARRAY) {
      VlItem arr;
      arr.type = VL_IT_ARRAY;
      arr.u.arr.base = static_cast<VlArrayBase*>(c.u.ref.ptr);
      vl_gcItemRef(&arr);
    }
  }
}

// Leaving an invocation (PROCEXIT, a request, BLOCKEXIT): its records go, PRIVATE variables
// created since entry are released, and (except for BLOCKEXIT) its FOR EACH and WITH OBJECT
// levels are popped, leaving control variables as they are.
void leaveInvocation(const Invocation& inv, bool popLevels) {
  while (s_finally && s_finally->owner == &inv) unchainFinally();
  while (s_recover && s_recover->owner == &inv) {
    closeTry(s_recover);
    unchainRecover();
  }
  if (inv.hasSymbols) vl_memvarRestorePrivates(inv.privateMark);
  if (popLevels) unwindLevels(inv.eachDepth, inv.withDepth, false);
}

// Jumps into the FINALLY section of f on behalf of a request (or a RETURN).
uint32_t enterFinally(FinallyRec* f, uint16_t request) {
  f->entered = true;
  f->savedRequest = request;
  if (request == VL_REQ_ENDPROC) vl_itemForwardValue(&f->savedReturn, &vl_stack.ret);
  unwindLevels(f->eachDepth, f->withDepth, true);
  vl_stackRemove(f->stackPos);
  return f->pos;
}

// Acts on a pending action request. True: continue at *target; false: leave the invocation.
bool handleRequest(const Invocation& inv, uint32_t* target) {
  uint16_t req = vl_vmActionRequest;
  if (req & VL_REQ_BREAK) {
    FinallyRec* f = liveFinally(&inv);
    RecoverRec* r = ownRecover(&inv);
    if (f && (!r || f->serial > r->serial)) {
      *target = enterFinally(f, VL_REQ_BREAK);
      vl_vmActionRequest = VL_REQ_NONE;
      return true;
    }
    if (r) {
      unwindLevels(r->eachDepth, r->withDepth, true);
      vl_stackRemove(r->stackPos);  // the break-value slot stays
      *target = r->recoverPos;
      vl_vmActionRequest = VL_REQ_NONE;
      return true;
    }
    return false;
  }
  if (req & VL_REQ_QUIT) return false;
  if (req & VL_REQ_ENDPROC) {
    if (FinallyRec* f = liveFinally(&inv)) {
      *target = enterFinally(f, VL_REQ_ENDPROC);
      vl_vmActionRequest = VL_REQ_NONE;
      return true;
    }
    vl_vmActionRequest = VL_REQ_NONE;
    return false;
  }
  return false;
}

// ---- periodic work ----
void periodicCheck() {
  if (s_pollHook) s_pollHook();
  if (!vl_set.cancel && !vl_set.debug) return;
  int key = vl_gt_ReadKey(vl_set.eventMask);
  if (key == 256 || key == 302) vl_vmRequestCancel();
  else if (key == 288) vl_vmRequestDebug();
  else if (key != 0) vl_inkeyPut(key);
}

void backgroundTick() {
  uint32_t tick = vl_set.backgroundTick > 0 ? static_cast<uint32_t>(vl_set.backgroundTick) : 1000u;
  if (++s_bgCounter <= tick) return;
  VlItem saved;
  vl_itemMove(&saved, &vl_stack.ret);
  vl_backgroundRun();
  vl_itemClear(&vl_stack.ret);
  vl_itemMove(&vl_stack.ret, &saved);
  s_bgCounter = 0;
}

// ---- helpers of the instructions (they work on vl_stack, between SAVE and LOAD) ----
VlItem*** globalsAnchor(VlItem** table) {
  for (GlobalsAnchor* a = s_anchors; a; a = a->next)
    if (a->table == table) return &a->table;
  auto* a = static_cast<GlobalsAnchor*>(vl_xgrab(sizeof(GlobalsAnchor)));
  a->table = table;
  a->next = s_anchors;
  s_anchors = a;
  return &a->table;
}

VlItem* blockLocal(const uint8_t* code, const uint8_t* pc, int n) {
  VlItem* self = vl_stack.base[1];
  if (n == 0 || !VL_IS_BLOCK(self)) badCode(code, pc, "local variable outside the frame");
  return vl_codeblockGetVar(self, n);
}

// Assignment to a variable: __OpAssign of an object target, else the value (memo bit removed)
// is forwarded into the variable. value is a stack cell and ends NIL.
void assignTo(VlItem* target, VlItem* value) {
  if (VL_IS_BYREF(target)) target = vl_itemUnRef(target);
  if (VL_IS_ARRAY(target) && target->u.arr.base->classH && vl_opAssign(target, value)) {
    vl_itemClear(value);
    return;
  }
  value->type &= static_cast<VlType>(~VL_IT_MEMOFLAG);
  vl_itemForwardValue(target, value);
}

VlItem* staticItem(const uint8_t* code, const uint8_t* pc, uint32_t n) {
  VlItem* statics = vl_staticsArray();
  uint64_t index = static_cast<uint64_t>(static_cast<uint32_t>(vl_stack.staticsBase)) + n;
  if (!VL_IS_ARRAY(statics) || index < 1 || index > vl_arrayLen(statics)) badCode(code, pc, "static out of range");
  return vl_arrayGetItemPtr(statics, static_cast<uint32_t>(index));
}

// The statics layer reserves the module's slice and keeps the symbol's entry point aside.
void staticCount(VlSymbol* sym, uint16_t count) { vl_staticsReserve(sym, count); }

// DIMARRAY: nested arrays of the given dimensions (NIL for a non-numeric one, an error for a
// negative one).
void dimArray(uint16_t n) {
  VlItem** dims = vl_stack.pos - n;
  bool numeric = n > 0;
  bool negative = false;
  for (uint16_t i = 0; i < n; ++i) {
    VlItem* d = vl_itemUnRef(dims[i]);
    if (!vl_itemIsNumLike(d)) numeric = false;
    else if (vl_itemGetNLL(d) < 0) negative = true;
  }
  VlItem result;
  result.type = VL_IT_NIL;
  if (numeric && negative) {
    vl_errRT_BASE(VL_EG_BOUND, 1131, nullptr, "array dimension", 1, vl_itemUnRef(dims[0]));
  } else if (numeric) {
    struct Build {
      static void make(VlItem* out, VlItem** dims, uint16_t level, uint16_t n) {
        uint32_t len = static_cast<uint32_t>(vl_itemGetNLL(vl_itemUnRef(dims[level])));
        vl_arrayNew(out, len);
        if (level + 1 < n)
          for (uint32_t i = 0; i < len; ++i) make(&out->u.arr.base->items[i], dims, static_cast<uint16_t>(level + 1), n);
      }
    };
    Build::make(&result, dims, 0, n);
  }
  for (uint16_t i = 0; i < n; ++i) vl_stackPop();
  vl_vmPushForward(&result);
}

void makeArray(uint16_t n) {
  VlItem result;
  result.type = VL_IT_NIL;
  vl_arrayNew(&result, n);
  VlItem** first = vl_stack.pos - n;
  for (uint16_t i = 0; i < n; ++i) vl_itemMove(&result.u.arr.base->items[i], first[i]);
  vl_stack.pos -= n;
  vl_vmPushForward(&result);
}

// The raw slot of parameter n of the current frame, or null beyond the count.
VlItem* paramSlot(int n) {
  const VlItem* symItem = *vl_stack.base;
  if (n < 1 || n > vl_frameParamCount(symItem)) return nullptr;
  if (symItem->u.sym.paramCnt >= 255) return vl_stack.base[n + (symItem->u.sym.paramCnt - 255)];
  return vl_stack.base[1 + n];
}

// The debugger entry, when the program has one.
void debugEntry(int code, int count, const VlItem* a1, const VlItem* a2, const VlItem* a3) {
  VlDynSym* d = vl_dynsymFind("__DBGENTRY");
  if (!vl_dynsymHasFunction(d)) return;
  VlItem saved;
  vl_itemMove(&saved, &vl_stack.ret);
  vl_vmPushSymbol(d->symbol);
  vl_vmPushNil();
  vl_vmPushInteger(code);
  const VlItem* args[] = {a1, a2, a3};
  for (int i = 0; i < count; ++i) vl_vmPush(args[i]);
  vl_vmDo(static_cast<uint16_t>(count + 1));
  vl_itemClear(&vl_stack.ret);
  vl_itemMove(&vl_stack.ret, &saved);
}

// Restores a hidden string: flag 1 means the bytes are scrambled.
void hiddenText(VlItem* out, const uint8_t* p) {
  uint16_t len = vl_pcodeU2(p);  // counts the terminating zero
  uint8_t flag = p[2];
  uint16_t stored = vl_pcodeU2(p + 3);
  size_t textLen = len ? len - 1u : 0u;
  char* text = static_cast<char*>(vl_xgrab(textLen + 1));
  for (size_t i = 0; i < textLen; ++i) {
    uint8_t c = i < stored ? p[5 + i] : 0;
    text[i] = static_cast<char>(flag == 1 ? c ^ HIDDEN_KEY : c);
  }
  vl_itemPutCPtr(out, text, textLen);
}

bool selectAlias(VlItem* alias, int* previous) {
  *previous = vl_fieldCurrentArea();
  return vl_fieldSelectAlias(alias);
}

// LOADALIASFIELD: the alias on top becomes the field's value.
void loadAliasField(VlSymbol* field) {
  VlItem* alias = vl_stack.pos[-1];
  switch (alias->type) {
    case VL_IT_NIL:
    case VL_IT_HASH:
    case VL_IT_DATE:
    case VL_IT_LOGICAL:
    case VL_IT_BLOCK:
    case VL_IT_ARRAY: {
      // No area is selected; the handler's value is not used and the alias stays.
      VlItem* r = vl_errRT_BASE_Subst(VL_EG_ARG, 1065, nullptr, "&", 1, alias);
      if (r) vl_itemRelease(r);
      return;
    }
    default: break;
  }
  int previous;
  VlItem value;
  value.type = VL_IT_NIL;
  if (selectAlias(alias, &previous)) vl_fieldGet(field, &value);
  vl_fieldSelectArea(previous);
  vl_itemForwardValue(vl_stack.pos[-1], &value);
}

// Alias texts that name memory variables ("M", "MEMV", "MEMVA", "MEMVAR") or the current
// area's fields ("FIEL", "FIELD").
enum AliasWord { ALIAS_OTHER, ALIAS_MEMVAR, ALIAS_FIELD };

AliasWord aliasWord(const VlItem* alias, bool upperCase) {
  if (!VL_IS_STRING(alias) || alias->n32 == 0 || alias->n32 > 6) return ALIAS_OTHER;
  char w[8];
  for (uint32_t i = 0; i < alias->n32; ++i) {
    char c = alias->u.str.text[i];
    w[i] = (upperCase && c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  w[alias->n32] = '\0';
  if (!std::strcmp(w, "M") || !std::strcmp(w, "MEMV") || !std::strcmp(w, "MEMVA") || !std::strcmp(w, "MEMVAR"))
    return ALIAS_MEMVAR;
  if (!std::strcmp(w, "FIEL") || !std::strcmp(w, "FIELD")) return ALIAS_FIELD;
  return ALIAS_OTHER;
}

void loadAliasVar(VlSymbol* sym) {
  VlItem* alias = vl_stack.pos[-1];
  switch (aliasWord(alias, true)) {
    case ALIAS_MEMVAR: {
      VlItem value;
      value.type = VL_IT_NIL;
      vl_memvarGetValue(&value, sym);
      vl_itemForwardValue(vl_stack.pos[-1], &value);
      return;
    }
    case ALIAS_FIELD: {
      VlItem value;
      value.type = VL_IT_NIL;
      vl_fieldGet(sym, &value);
      vl_itemForwardValue(vl_stack.pos[-1], &value);
      return;
    }
    default: loadAliasField(sym);
  }
}

// STOREALIASFIELD / STOREALIASVAR: pops the alias and the value below it.
void storeAlias(VlSymbol* sym, bool aliasVar) {
  VlItem* alias = vl_stack.pos[-1];
  VlItem* value = vl_stack.pos[-2];
  AliasWord w = aliasVar ? aliasWord(alias, false) : ALIAS_OTHER;
  if (w == ALIAS_MEMVAR) {
    vl_memvarSetValue(sym, value);
  } else if (w == ALIAS_FIELD) {
    vl_fieldPut(sym, value);
  } else {
    int previous;
    if (selectAlias(alias, &previous)) vl_fieldPut(sym, value);
    vl_fieldSelectArea(previous);
  }
  vl_stackPop();
  vl_stackPop();
}

void loadVar(VlSymbol* sym) {
  VlItem* out = vl_stackPush();
  if (VlFieldReader reader = vl_memvarFieldReader()) {
    if (reader(sym, out)) return;
  }
  vl_memvarGetValue(out, sym);
}

void eachOpen() {
  EachLevel& l = s_each[s_eachDepth++];
  vl_itemMove(&l.collection, vl_stack.pos[-1]);
  vl_stackDec();
  vl_itemMove(&l.control, vl_stack.pos[-1]);
  vl_stackDec();
  l.index = 0;
  if (s_eachDepth == MAX_NEST) {
    while (s_eachDepth) popEach(false);
    vl_errRT_BASE(VL_EG_ARG, 9002, nullptr, "FOR EACH excessive nesting!", 0);
    return;
  }
  VlItem* c = vl_itemUnRef(&l.collection);
  if (!VL_IS_ARRAY(c) && !VL_IS_STRING(c)) {
    VlItem one;
    one.type = VL_IT_NIL;
    vl_itemPutNI(&one, 1);
    vl_errRT_BASE(VL_EG_ARG, 1068, nullptr, "array access", 2, c, &one);
  }
}

bool eachStep() {
  if (!s_eachDepth) return false;
  EachLevel& l = s_each[s_eachDepth - 1];
  ++l.index;
  VlItem* c = vl_itemUnRef(&l.collection);
  VlItem next;
  next.type = VL_IT_NIL;
  bool more = false;
  if (VL_IS_ARRAY(c) && l.index <= vl_arrayLen(c)) {
    vl_arrayGetRef(c, l.index, &next);
    more = true;
  } else if (VL_IS_STRING(c) && l.index <= c->n32) {
    vl_itemPutCL(&next, c->u.str.text + (l.index - 1), 1);
    more = true;
  }
  if (VlItem* t = controlTarget(l)) vl_itemForwardValue(t, &next);
  else vl_itemClear(&next);
  return more;
}

void withOpen() {
  vl_itemMove(&s_with[s_withDepth++], vl_stack.pos[-1]);
  vl_stackDec();
  if (s_withDepth == MAX_NEST) {
    while (s_withDepth) popWith();
    vl_errRT_BASE(VL_EG_ARG, 9002, nullptr, "WITH OBJECT excessive nesting!", 0);
  }
}

void caseValue(int32_t constant) {
  VlItem* v = vl_stack.pos[-1];
  bool r;
  switch (v->type & ~VL_IT_MEMOFLAG) {
    case VL_IT_INTEGER: r = v->u.i32 == constant; break;
    case VL_IT_LONG: r = static_cast<int32_t>(static_cast<uint32_t>(v->u.i64)) == constant; break;
    case VL_IT_STRING:
      if (v->n32 == 1) {
        r = static_cast<unsigned char>(v->u.str.text[0]) == constant;
        break;
      }
      [[fallthrough]];
    default: {
      VlItem* sub = vl_errRT_BASE_Subst(VL_EG_ARG, 1081, nullptr, "SWITCH", 1, v);
      if (sub) {
        vl_vmPushForward(sub);
        vl_itemRelease(sub);
      } else {
        vl_vmPushNil();
      }
      return;
    }
  }
  vl_vmPushLogical(r);
}

void regexMatch(bool full) {
  VlItem* a = vl_stack.pos[-2];
  VlItem* b = vl_stack.pos[-1];
  bool valid = false, r = false;
  if (VL_IS_STRING(a) && VL_IS_STRING(b))
    r = vl_regexMatch(b->u.str.text, b->n32, a->u.str.text, a->n32, full, &valid);
  if (!valid) {
    VlItem* sub = vl_errRT_BASE_Subst(VL_EG_ARG, 3012, nullptr, "Regex subsystem", 2, a, b);
    vl_stackPop();
    if (sub) {
      vl_itemForwardValue(vl_stack.pos[-1], sub);
      vl_itemRelease(sub);
    } else {
      vl_itemClear(vl_stack.pos[-1]);
    }
    return;
  }
  vl_stackPop();
  vl_itemPutL(vl_stack.pos[-1], r);
}

void strLeft(uint16_t n) {
  VlItem* top = vl_stack.pos[-1];
  if (!VL_IS_STRING(top)) {
    VlItem len;
    len.type = VL_IT_NIL;
    vl_itemPutNI(&len, n);
    VlItem* sub = vl_errRT_BASE_Subst(VL_EG_ARG, 1124, nullptr, "LEFT", 2, top, &len);
    if (sub) {
      vl_itemForwardValue(top, sub);
      vl_itemRelease(sub);
    } else {
      vl_itemClear(top);
    }
    return;
  }
  if (top->n32 <= n) return;
  if (n <= 1) {
    VlType memo = top->type & VL_IT_MEMOFLAG;
    unsigned char c = static_cast<unsigned char>(top->u.str.text[0]);
    vl_itemPutCL(top, reinterpret_cast<const char*>(&c), n);
    top->type |= memo;
    return;
  }
  char* text = vl_itemUnShareString(top);
  text[n] = '\0';
  top->n32 = n;
}

void strRight(uint16_t n) {
  VlItem* top = vl_stack.pos[-1];
  if (!VL_IS_STRING(top)) {
    vl_itemPutC(top, "");
    return;
  }
  uint32_t len = top->n32;
  if (len <= n) return;
  if (n <= 1) {
    VlType memo = top->type & VL_IT_MEMOFLAG;
    unsigned char c = n ? static_cast<unsigned char>(top->u.str.text[len - 1]) : 0;
    vl_itemPutCL(top, reinterpret_cast<const char*>(&c), n);
    top->type |= memo;
    return;
  }
  char* text = vl_itemUnShareString(top);
  std::memmove(text, text + (len - n), n);
  text[n] = '\0';
  top->n32 = n;
}

}  // namespace

VlVmPollFn vl_vmSetPollHook(VlVmPollFn fn) {
  VlVmPollFn old = s_pollHook;
  s_pollHook = fn;
  return old;
}

void vl_vmExecutorReset() {
  vl_vmLineBase = 0;
  vl_vmTryDepth = 0;
  s_recover = nullptr;
  s_finally = nullptr;
  s_withDepth = 0;
  s_eachDepth = 0;
  s_counter = 0;
  s_bgCounter = 0;
  for (auto& w : s_with) w.type = VL_IT_NIL;
  for (auto& e : s_each) {
    e.collection.type = VL_IT_NIL;
    e.control.type = VL_IT_NIL;
    e.index = 0;
  }
  vl_gcRegisterRoots(markRoots);
}

void vl_vmExecutorRelease() {
  // The collector has released every value by now: forget items without touching them.
  while (s_recover) unchainRecover();
  while (s_finally) {
    FinallyRec* next = s_finally->prev;
    vl_xfree(s_finally);
    s_finally = next;
  }
  while (s_recoverFree) {
    RecoverRec* next = s_recoverFree->prev;
    vl_xfree(s_recoverFree);
    s_recoverFree = next;
  }
  while (s_finallyFree) {
    FinallyRec* next = s_finallyFree->prev;
    vl_xfree(s_finallyFree);
    s_finallyFree = next;
  }
  while (s_anchors) {
    GlobalsAnchor* next = s_anchors->next;
    vl_xfree(s_anchors);
    s_anchors = next;
  }
  s_withDepth = s_eachDepth = 0;
  for (auto& w : s_with) w.type = VL_IT_NIL;
  for (auto& e : s_each) e.collection.type = e.control.type = VL_IT_NIL;
}

void vl_vmRequestBreak(VlItem* value) {
  if (!s_recover) {
    vl_vmActionRequest = VL_REQ_QUIT;
    return;
  }
  VlItem* slot = vl_stack.items[s_recover->stackPos - 1];
  if (value) {
    if (value != slot) vl_itemCopy(slot, value);
  } else {
    vl_itemClear(slot);
  }
  vl_vmActionRequest = VL_REQ_BREAK;
}

// ---------------------------------------------------------------------------------------------
// The loop. Handlers are written once; VL_EXEC_SWITCH builds them as a switch, otherwise as
// threaded code with computed goto (faster with g++ 12 on the benchmarks of bench/).
// ---------------------------------------------------------------------------------------------
#if defined(__GNUC__) && !defined(VL_EXEC_SWITCH)
#define VL_THREADED 1
#else
#define VL_THREADED 0
#endif

#define LIKELY(x) __builtin_expect(!!(x), 1)
#define UNLIKELY(x) __builtin_expect(!!(x), 0)

// The instruction counter lives in a register too: a decrement of a global per instruction
// would chain every dispatch through memory.
#define SAVE() (vl_stack.pos = sp, s_counter = counter)
#define LOAD()                                              \
  do {                                                      \
    sp = vl_stack.pos;                                      \
    bp = vl_stack.base;                                     \
    limit = vl_stack.items + vl_stack.capacity - 1;         \
    counter = s_counter;                                    \
  } while (0)
// Runs a statement that may touch the stack.
#define CALL(stmt) \
  do {             \
    SAVE();        \
    stmt;          \
    LOAD();        \
  } while (0)

// A fresh (NIL) cell on top of the stack.
#define PUSH(cell)                                \
  do {                                            \
    if (UNLIKELY(sp >= limit)) CALL(vl_stackIncrease()); \
    (cell) = *sp++;                               \
  } while (0)
#define POP()                                                         \
  do {                                                                \
    if (UNLIKELY(sp <= bp + 2)) badCode(code, pc, "stack underflow"); \
    vl_itemClearInline(*--sp);                                        \
  } while (0)

// Operand readers.
#define U1(off) (pc[off])
#define S1(off) (static_cast<int8_t>(pc[off]))
#define U2(off) (vl_pcodeU2(pc + (off)))
#define S2(off) (vl_pcodeS2(pc + (off)))
#define S3(off) (vl_pcodeS3(pc + (off)))

// Relative jump from the instruction's first byte.
#define JUMP(off)                                                          \
  do {                                                                     \
    int64_t t_ = (pc - code) + static_cast<int64_t>(off);                  \
    if (end && (t_ < 0 || t_ >= static_cast<int64_t>(length))) badCode(code, pc, "jump outside the code"); \
    pc = code + t_;                                                        \
  } while (0)
#define GOTO_POS(pos)                                                                          \
  do {                                                                                         \
    uint32_t p_ = (pos);                                                                       \
    if (end && p_ >= length) badCode(code, pc, "recovery position outside the code");          \
    pc = code + p_;                                                                            \
  } while (0)

// The variable-length instructions measure themselves against the end.
#define CHECK_LEN() \
  do { if (end && vl_pcodeLength(pc, static_cast<size_t>(end - pc)) == 0) checkInstruction(code, pc, end); } while (0)

// Local n: a frame slot (n > 0) or a codeblock's detached local (n < 0).
#define LOCAL(n, out)                                                          \
  do {                                                                         \
    int n_ = (n);                                                              \
    if (LIKELY(n_ > 0)) {                                                      \
      VlItem** p_ = bp + localOff + n_;                                        \
      if (UNLIKELY(p_ >= sp)) badCode(code, pc, "local variable outside the frame"); \
      (out) = *p_;                                                             \
    } else {                                                                   \
      SAVE();                                                                  \
      (out) = blockLocal(code, pc, n_);                                        \
      LOAD();                                                                  \
    }                                                                          \
  } while (0)

// A request raised by the periodic work (the cancel key) is acted on at once.
#define PERIODIC()                                                     \
  do {                                                                 \
    if (UNLIKELY(vl_set.backgroundTasks)) {                            \
      CALL(backgroundTick());                                          \
      if (vl_vmActionRequest) goto actionRequest;                      \
    }                                                                  \
    if (UNLIKELY(--counter == 0)) {                                    \
      CALL(periodicCheck());                                           \
      if (vl_vmActionRequest) goto actionRequest;                      \
    }                                                                  \
  } while (0)
#define TAIL_CHECK()                                                                       \
  do {                                                                                     \
    if (UNLIKELY(reinterpret_cast<uintptr_t>(pc) > guard) && (pc >= end || pc + kFixedLen[*pc] > end)) \
      checkInstruction(code, pc, end);                                                     \
  } while (0)

#if VL_THREADED
#define OP(name) L_##name:
#define DISPATCH()             \
  do {                         \
    PERIODIC();                \
    TAIL_CHECK();              \
    goto* s_labels[*pc];       \
  } while (0)
#define NEXT()                                                \
  do {                                                        \
    if (UNLIKELY(vl_vmActionRequest != 0)) goto actionRequest; \
    DISPATCH();                                               \
  } while (0)
#else
#define OP(name) case VL_P_##name:
#define DISPATCH() goto top
#define NEXT() goto next
#endif
// After an instruction that called nothing, no request can have been raised since the last
// check: straight on to the next one.
#define NEXT_FAST() DISPATCH()

// Binary (and other stack-only) operators without an inline fast path.
#define STACK_OP(fn, len) \
  do {                    \
    CALL(fn());           \
    pc += (len);          \
    NEXT();               \
  } while (0)

// Pushes an integer of the given width.
#define PUSH_INT(v, w)                              \
  do {                                              \
    VlItem* d_;                                     \
    PUSH(d_);                                       \
    setItem(d_, VL_IT_INTEGER, (w), (v));           \
  } while (0)

// Replaces the two top items with a logical.
#define SET_LOGICAL2(v)                              \
  do {                                               \
    setItem(sp[-2], VL_IT_LOGICAL, 0, (v) ? 1 : 0);  \
    sp[-1]->type = VL_IT_NIL;                        \
    --sp;                                            \
  } while (0)

// Integer comparison fast path (both operands integer or long).
#define COMPARE_OP(cmp, slow)                                                     \
  do {                                                                            \
    VlItem* a_ = sp[-2];                                                          \
    VlItem* b_ = sp[-1];                                                          \
    if (LIKELY(((a_->type | b_->type) & ~VL_IT_NUMINT) == 0 && a_->type && b_->type)) { \
      int64_t x_ = (a_->type == VL_IT_INTEGER) ? a_->u.i32 : a_->u.i64;           \
      int64_t y_ = (b_->type == VL_IT_INTEGER) ? b_->u.i32 : b_->u.i64;           \
      SET_LOGICAL2(x_ cmp y_);                                                    \
      pc += 1;                                                                    \
      NEXT_FAST();                                                                \
    }                                                                             \
    STACK_OP(slow, 1);                                                            \
  } while (0)

// Stores an integral result into cell a (an integer when it fits 32 bits).
#define PUT_INTEGRAL(a, r)                                          \
  do {                                                              \
    if (LIKELY((r) >= INT32_MIN && (r) <= INT32_MAX))               \
      setItem((a), VL_IT_INTEGER, VL_DEFAULT_WIDTH_INT(r), (r));    \
    else                                                            \
      setItem((a), VL_IT_LONG, widthLong(r), (r));                  \
  } while (0)

#define ARITH_OP(builtin, slow)                                                   \
  do {                                                                            \
    VlItem* a_ = sp[-2];                                                          \
    VlItem* b_ = sp[-1];                                                          \
    if (LIKELY(((a_->type | b_->type) & ~VL_IT_NUMINT) == 0 && a_->type && b_->type)) { \
      int64_t x_ = (a_->type == VL_IT_INTEGER) ? a_->u.i32 : a_->u.i64;           \
      int64_t y_ = (b_->type == VL_IT_INTEGER) ? b_->u.i32 : b_->u.i64;           \
      int64_t r_;                                                                 \
      if (LIKELY(!builtin(x_, y_, &r_))) {                                        \
        PUT_INTEGRAL(a_, r_);                                                     \
        b_->type = VL_IT_NIL;                                                     \
        --sp;                                                                     \
        pc += 1;                                                                  \
        NEXT_FAST();                                                              \
      }                                                                           \
    }                                                                             \
    STACK_OP(slow, 1);                                                            \
  } while (0)

// Conditional jumps: a logical is popped; anything else is error 1066, taken as false, and
// stays on the stack.
#define COND_JUMP(len, readOff, jumpWhen)                                          \
  do {                                                                             \
    VlItem* c_ = sp[-1];                                                           \
    bool v_;                                                                       \
    if (LIKELY(c_->type == VL_IT_LOGICAL)) {                                       \
      v_ = c_->u.i32 != 0;                                                         \
      c_->type = VL_IT_NIL;                                                        \
      --sp;                                                                        \
      if (v_ == (jumpWhen)) JUMP(readOff);                                         \
      else pc += (len);                                                            \
      NEXT_FAST();                                                                 \
    }                                                                              \
    CALL(vl_errRT_BASE(VL_EG_ARG, 1066, nullptr, "conditional", 1, c_));          \
    v_ = false;                                                                    \
    if (v_ == (jumpWhen)) JUMP(readOff);                                           \
    else pc += (len);                                                              \
    NEXT();                                                                        \
  } while (0)

void vl_vmExecute(const uint8_t* pcode, VlSymbol* symbols, VlItem** globals, uint32_t length) {
  const uint8_t* const code = pcode;
  const uint8_t* pc = pcode;
  const uint8_t* const end = length ? pcode + length : nullptr;
  // Below the guard every fixed-length instruction fits; above it each one is measured.
  const uintptr_t guard = !length ? UINTPTR_MAX
                                  : (length > MAX_FIXED_LEN ? reinterpret_cast<uintptr_t>(end - MAX_FIXED_LEN) : 0);

  Invocation inv;
  inv.eachDepth = s_eachDepth;
  inv.withDepth = s_withDepth;
  inv.hasSymbols = symbols != nullptr;
  inv.privateMark = inv.hasSymbols ? vl_memvarSetPrivatesBase() : 0;

  VlItem** sp;
  VlItem** bp;
  VlItem** limit;
  uint16_t counter;
  LOAD();
  int localOff;
  {
    uint16_t cnt = (*bp)->u.sym.paramCnt;
    localOff = 1 + (cnt >= 256 ? cnt - 256 : 0);
  }
  uint32_t target = 0;
  (void)globals;

#if VL_THREADED
#define VL_LABEL(code, name, fmt, pops, pushes) &&L_##name,
#define VL_B1 &&badOpcode,
#define VL_B8 VL_B1 VL_B1 VL_B1 VL_B1 VL_B1 VL_B1 VL_B1 VL_B1
  static_assert(VL_PCODE_COUNT + 89 == 256, "the dispatch table covers every byte value");
  static const void* const s_labels[256] = {VL_PCODE_LIST(VL_LABEL) VL_B8 VL_B8 VL_B8 VL_B8 VL_B8 VL_B8 VL_B8 VL_B8
                                                VL_B8 VL_B8 VL_B8 VL_B1};
#undef VL_LABEL
#undef VL_B1
#undef VL_B8
  DISPATCH();
#else
top:
  PERIODIC();
  TAIL_CHECK();
  switch (*pc) {
#endif

  // ---- logical and comparison ----
  OP(LAND) {
    VlItem* a = sp[-2];
    VlItem* b = sp[-1];
    if (LIKELY(a->type == VL_IT_LOGICAL && b->type == VL_IT_LOGICAL)) {
      SET_LOGICAL2(a->u.i32 && b->u.i32);
      pc += 1;
      NEXT_FAST();
    }
    STACK_OP(vl_opAnd, 1);
  }
  OP(LOR) {
    VlItem* a = sp[-2];
    VlItem* b = sp[-1];
    if (LIKELY(a->type == VL_IT_LOGICAL && b->type == VL_IT_LOGICAL)) {
      SET_LOGICAL2(a->u.i32 || b->u.i32);
      pc += 1;
      NEXT_FAST();
    }
    STACK_OP(vl_opOr, 1);
  }
  OP(LNOT) {
    VlItem* a = sp[-1];
    if (LIKELY(a->type == VL_IT_LOGICAL)) {
      a->u.i32 = !a->u.i32;
      pc += 1;
      NEXT_FAST();
    }
    STACK_OP(vl_opNot, 1);
  }
  OP(EQ) { COMPARE_OP(==, vl_opEqual); }
  OP(EXACTEQ) { COMPARE_OP(==, vl_opExactEqual); }
  OP(NE) { COMPARE_OP(!=, vl_opNotEqual); }
  OP(LT) { COMPARE_OP(<, vl_opLess); }
  OP(LE) { COMPARE_OP(<=, vl_opLessEqual); }
  OP(GTR) { COMPARE_OP(>, vl_opGreater); }
  OP(GE) { COMPARE_OP(>=, vl_opGreaterEqual); }
  OP(CONTAINS) { STACK_OP(vl_opInstring, 1); }

  // ---- arithmetic ----
  OP(ADD) { ARITH_OP(__builtin_add_overflow, vl_opPlus); }
  OP(SUB) { ARITH_OP(__builtin_sub_overflow, vl_opMinus); }
  OP(MUL) { ARITH_OP(__builtin_mul_overflow, vl_opMult); }
  OP(DIV) { STACK_OP(vl_opDivide, 1); }
  OP(MOD) { STACK_OP(vl_opMod, 1); }
  OP(POW) { STACK_OP(vl_opPower, 1); }
  OP(NEG) { STACK_OP(vl_opNegate, 1); }
  OP(INCR) {
    VlItem* a = sp[-1];
    if (LIKELY(a->type == VL_IT_INTEGER && a->u.i32 != INT32_MAX)) {
      int32_t r = a->u.i32 + 1;
      setItem(a, VL_IT_INTEGER, VL_DEFAULT_WIDTH_INT(r), r);
      pc += 1;
      NEXT_FAST();
    }
    STACK_OP(vl_opInc, 1);
  }
  OP(DECR) {
    VlItem* a = sp[-1];
    if (LIKELY(a->type == VL_IT_INTEGER && a->u.i32 != INT32_MIN)) {
      int32_t r = a->u.i32 - 1;
      setItem(a, VL_IT_INTEGER, VL_DEFAULT_WIDTH_INT(r), r);
      pc += 1;
      NEXT_FAST();
    }
    STACK_OP(vl_opDec, 1);
  }
  OP(ADDINT16) {
    VlItem* a = sp[-1];
    int v = S2(1);
    pc += 3;
    if (LIKELY(a->type == VL_IT_INTEGER)) {
      int64_t r = static_cast<int64_t>(a->u.i32) + v;
      PUT_INTEGRAL(a, r);
      NEXT_FAST();
    }
    CALL(vl_opAddInt(a, v, false));
    NEXT();
  }
  OP(BAND) { STACK_OP(vl_opBitAnd, 1); }
  OP(BOR) { STACK_OP(vl_opBitOr, 1); }
  OP(BXOR) { STACK_OP(vl_opBitXor, 1); }
  OP(SHR) { STACK_OP(vl_opShiftRight, 1); }
  OP(SHL) { STACK_OP(vl_opShiftLeft, 1); }
  OP(LOOPCHECK) { STACK_OP(vl_opForTest, 1); }

  // ---- arrays ----
  OP(ELEMGET) {
    VlItem* c = sp[-2];
    VlItem* i = sp[-1];
    if (LIKELY(c->type == VL_IT_ARRAY && i->type == VL_IT_INTEGER && !c->u.arr.base->classH)) {
      VlArrayBase* base = c->u.arr.base;
      uint32_t k = static_cast<uint32_t>(i->u.i32) - 1u;  // 0 and negatives wrap above any length
      if (LIKELY(k < base->len && !(base->items[k].type & VL_IT_BYREF))) {
        VlItem value = base->items[k];
        if (value.type & VL_IT_COMPLEX) {
          value.type = VL_IT_NIL;
          vl_itemCopy(&value, &base->items[k]);
        }
        i->type = VL_IT_NIL;
        --sp;
        if (c->type & VL_IT_COMPLEX) CALL(vl_itemClearComplex(c));
        *c = value;
        pc += 1;
        NEXT();
      }
    }
    STACK_OP(vl_opArrayGet, 1);
  }
  OP(ELEMPUT) { STACK_OP(vl_opArrayPut, 1); }
  OP(DIMARRAY) {
    uint16_t n = U2(1);
    if (sp - n <= bp + 1) badCode(code, pc, "stack underflow");
    CALL(dimArray(n));
    pc += 3;
    NEXT();
  }
  OP(MAKEARRAY) {
    uint16_t n = U2(1);
    if (sp - n <= bp + 1) badCode(code, pc, "stack underflow");
    CALL(makeArray(n));
    pc += 3;
    NEXT();
  }

  // ---- literals ----
  OP(PUTNIL) {
    VlItem* d;
    PUSH(d);
    (void)d;
    pc += 1;
    NEXT_FAST();
  }
  OP(PUTFALSE) {
    VlItem* d;
    PUSH(d);
    setItem(d, VL_IT_LOGICAL, 0, 0);
    pc += 1;
    NEXT_FAST();
  }
  OP(PUTTRUE) {
    VlItem* d;
    PUSH(d);
    setItem(d, VL_IT_LOGICAL, 0, 1);
    pc += 1;
    NEXT_FAST();
  }
  OP(PUTZERO) {
    PUSH_INT(0, 10);
    pc += 1;
    NEXT_FAST();
  }
  OP(PUTONE) {
    PUSH_INT(1, 10);
    pc += 1;
    NEXT_FAST();
  }
  OP(PUTINT8) {
    PUSH_INT(S1(1), 10);
    pc += 2;
    NEXT_FAST();
  }
  OP(PUTINT16) {
    PUSH_INT(S2(1), 10);
    pc += 3;
    NEXT_FAST();
  }
  OP(PUTINT32) {
    int32_t v = vl_pcodeI4(pc + 1);
    PUSH_INT(v, vl_vmLiteralWidth(v));
    pc += 5;
    NEXT_FAST();
  }
  OP(PUTINT64) {
    int64_t v = vl_pcodeI8(pc + 1);
    VlItem* d;
    PUSH(d);
    d->type = VL_IT_LONG;
    d->n16 = vl_vmLiteralWidth(v);
    d->u.i64 = v;
    pc += 9;
    NEXT_FAST();
  }
  OP(PUTDOUBLE) {
    double v = vl_pcodeF8(pc + 1);
    int width = pc[9], decimals = pc[10];
    CALL(vl_vmPushDoubleLen(v, width, decimals));
    pc += 11;
    NEXT();
  }
  OP(PUTSTR2) {
    CHECK_LEN();
    uint16_t len = U2(1);
    size_t textLen = len ? len - 1u : 0u;
    VlItem* d;
    PUSH(d);
    const char* text = reinterpret_cast<const char*>(pc + 3);
    // Static text pointing into the p-code; short strings use the shared ones.
    if (textLen <= 1) vl_itemPutCL(d, text, textLen);
    else vl_itemPutCLStatic(d, text, textLen);
    pc += 3 + len;
    NEXT();
  }
  OP(PUTSTR1) {
    CHECK_LEN();
    uint8_t len = U1(1);
    size_t textLen = len ? len - 1u : 0u;
    VlItem* d;
    PUSH(d);
    const char* text = reinterpret_cast<const char*>(pc + 2);
    if (textLen <= 1) vl_itemPutCL(d, text, textLen);
    else vl_itemPutCLStatic(d, text, textLen);
    pc += 2 + len;
    NEXT();
  }
  OP(RTSTRING) {
    CHECK_LEN();
    uint16_t len = U2(1);
    CALL(vl_vmPushString(reinterpret_cast<const char*>(pc + 3), len ? len - 1u : 0u));
    pc += 3 + len;
    NEXT();
  }
  OP(PUTSTRHIDDEN) {
    CHECK_LEN();
    VlItem* d;
    PUSH(d);
    CALL(hiddenText(d, pc + 1));
    pc += 6 + U2(4);
    NEXT();
  }
  OP(PUTSYM2) OP(PUTMSG) {
    uint16_t i = U2(1);
    if (UNLIKELY(!symbols)) badCode(code, pc, "symbol without a symbol table");
    VlItem* d;
    PUSH(d);
    d->type = VL_IT_SYMBOL;
    d->n16 = 0;
    d->u.sym.sym = &symbols[i];
    d->u.sym.prevFrame = static_cast<int32_t>(sp - vl_stack.items) - 1;
    d->u.sym.paramCnt = 0;
    d->u.sym.classH = 0;
    pc += 3;
    NEXT_FAST();
  }
  OP(PUTSYM1) {
    uint8_t i = U1(1);
    if (UNLIKELY(!symbols)) badCode(code, pc, "symbol without a symbol table");
    VlItem* d;
    PUSH(d);
    d->type = VL_IT_SYMBOL;
    d->n16 = 0;
    d->u.sym.sym = &symbols[i];
    d->u.sym.prevFrame = static_cast<int32_t>(sp - vl_stack.items) - 1;
    d->u.sym.paramCnt = 0;
    d->u.sym.classH = 0;
    pc += 2;
    NEXT_FAST();
  }
  OP(FUNCADDR) {
    VlItem* top = sp[-1];
    if (!VL_IS_SYMBOL(top)) vl_errInternal(9015, nullptr, "vl_vmFuncPtr()", nullptr);
    VlSymbol* f = vl_symbolFunction(top->u.sym.sym);
    vl_itemPutPtr(top, f ? reinterpret_cast<void*>(f->value.func) : nullptr);
    pc += 1;
    NEXT();
  }

  // ---- stack ----
  OP(DROP) {
    POP();
    pc += 1;
    NEXT();
  }
  OP(DUP) {
    VlItem* src = sp[-1];
    VlItem* d;
    PUSH(d);
    if (src->type & VL_IT_COMPLEX) vl_itemCopy(d, src);
    else *d = *src;
    pc += 1;
    NEXT_FAST();
  }
  OP(DUP2) {
    VlItem* a = sp[-2];
    VlItem* b = sp[-1];
    VlItem* d;
    PUSH(d);
    vl_itemCopy(d, a);
    PUSH(d);
    vl_itemCopy(d, b);
    pc += 1;
    NEXT();
  }
  OP(NOP) {
    pc += 1;
    NEXT_FAST();
  }

  // ---- jumps ----
  OP(GOTO1) {
    JUMP(S1(1));
    NEXT_FAST();
  }
  OP(GOTO2) {
    JUMP(S2(1));
    NEXT_FAST();
  }
  OP(GOTO3) {
    JUMP(S3(1));
    NEXT_FAST();
  }
  OP(IFNOT1) { COND_JUMP(2, S1(1), false); }
  OP(IFNOT2) { COND_JUMP(3, S2(1), false); }
  OP(IFNOT3) { COND_JUMP(4, S3(1), false); }
  OP(IFSO1) { COND_JUMP(2, S1(1), true); }
  OP(IFSO2) { COND_JUMP(3, S2(1), true); }
  OP(IFSO3) { COND_JUMP(4, S3(1), true); }

  // ---- frame, locals, lines ----
  OP(ENTER) OP(ENTERWIDE) {
    bool wide = *pc == VL_P_ENTERWIDE;
    int locals = wide ? U2(1) : U1(1);
    int params = wide ? U1(3) : U1(2);
    VlItem* symItem = *bp;
    int passed = symItem->u.sym.paramCnt;
    if (params == 255) {
      symItem->u.sym.paramCnt = static_cast<uint16_t>(passed + 256);
      localOff = 1 + passed;
      for (int i = 0; i < locals; ++i) {
        VlItem* d;
        PUSH(d);
        (void)d;
      }
    } else {
      if (passed > params) {
        if (sp - (passed - params) < bp + 2) badCode(code, pc, "frame does not hold its arguments");
        for (int k = passed - params; k >= 1; --k) CALL(vl_itemClear(sp[-k]));
      }
      while (sp - (bp + 2) < params + locals) {
        VlItem* d;
        PUSH(d);
        (void)d;
      }
    }
    pc += wide ? 4 : 3;
    NEXT();
  }
  OP(LOADLOCAL2) OP(LOADLOCAL1) {
    bool wide = *pc == VL_P_LOADLOCAL2;
    VlItem* src;
    LOCAL(wide ? S2(1) : S1(1), src);
    pc += wide ? 3 : 2;
    if (UNLIKELY(src->type & VL_IT_BYREF)) {
      CALL(src = vl_itemUnRef(src));
      VlItem* d;
      PUSH(d);
      vl_itemCopy(d, src);
      NEXT();
    }
    VlItem* d;
    PUSH(d);
    if (src->type & VL_IT_COMPLEX) vl_itemCopy(d, src);
    else *d = *src;
    NEXT_FAST();
  }
  OP(STORELOCAL2) OP(STORELOCAL1) {
    bool wide = *pc == VL_P_STORELOCAL2;
    VlItem* t;
    LOCAL(wide ? S2(1) : S1(1), t);
    if (UNLIKELY(sp <= bp + 2)) badCode(code, pc, "stack underflow");
    pc += wide ? 3 : 2;
    VlItem* v = sp[-1];
    if (LIKELY(!(t->type & (VL_IT_COMPLEX | VL_IT_BYREF)) && !(v->type & VL_IT_MEMOFLAG))) {
      *t = *v;
      v->type = VL_IT_NIL;
      --sp;
      NEXT_FAST();
    }
    CALL(assignTo(t, v));
    --sp;
    NEXT();
  }
  OP(LOCALREF) {
    int n = S2(1);
    VlItem* d;
    PUSH(d);
    if (n > 0) {
      VlItem** slot = bp + localOff + n;
      if (UNLIKELY(slot >= sp - 1)) badCode(code, pc, "local variable outside the frame");
      VlItem* local = *slot;
      if (VL_IS_STRING(local) && local->n32 > 1) CALL(vl_itemUnShareString(local));
      d->type = VL_IT_BYREF;
      d->n16 = VL_REF_LOCAL;
      d->u.ref.ptr = &vl_stack.items;
      d->u.ref.offset = static_cast<int32_t>(bp - vl_stack.items);
      d->u.ref.index = localOff + n;
    } else {
      SAVE();
      VlItem* self = vl_stack.base[1];
      if (n == 0 || !VL_IS_BLOCK(self)) badCode(code, pc, "local variable outside the frame");
      vl_codeblockGetRef(d, self, n);
      LOAD();
    }
    pc += 3;
    NEXT();
  }
  OP(LOCALADDINT) {
    VlItem* t;
    LOCAL(U1(1), t);
    int v = S2(2);
    pc += 4;
    if (UNLIKELY(t->type & VL_IT_BYREF)) CALL(t = vl_itemUnRef(t));
    if (LIKELY(t->type == VL_IT_INTEGER)) {
      int64_t r = static_cast<int64_t>(t->u.i32) + v;
      PUT_INTEGRAL(t, r);
      NEXT_FAST();
    }
    CALL(vl_opAddInt(t, v, true));
    NEXT();
  }
  OP(LOCALSETINT) {
    VlItem* t;
    LOCAL(U1(1), t);
    int v = S2(2);
    pc += 4;
    VlItem* d;
    PUSH(d);
    setItem(d, VL_IT_INTEGER, 10, v);
    CALL(assignTo(t, d));
    --sp;
    NEXT();
  }
  OP(LOCALSETSTR) {
    CHECK_LEN();
    VlItem* t;
    LOCAL(U1(1), t);
    uint16_t len = U2(2);
    size_t textLen = len ? len - 1u : 0u;
    const char* text = reinterpret_cast<const char*>(pc + 4);
    pc += 4 + len;
    VlItem* d;
    PUSH(d);
    if (textLen <= 1) vl_itemPutCL(d, text, textLen);
    else vl_itemPutCLStatic(d, text, textLen);
    CALL(assignTo(t, d));
    --sp;
    NEXT();
  }
  OP(LOCALSETSTRHIDDEN) {
    CHECK_LEN();
    VlItem* t;
    LOCAL(U1(1), t);
    VlItem* d;
    PUSH(d);
    CALL(hiddenText(d, pc + 2));
    pc += 7 + U2(5);
    CALL(assignTo(t, d));
    --sp;
    NEXT();
  }
  OP(LOADSELF) {
    VlItem* self = bp[1];
    VlItem* d;
    PUSH(d);
    vl_itemCopy(d, self);
    pc += 1;
    NEXT();
  }
  OP(SETLINE) {
    (*bp)->n16 = U2(1);
    pc += 3;
    NEXT_FAST();
  }
  OP(LINEBASE) {
    vl_vmLineBase = U2(1);
    (*bp)->n16 = vl_vmLineBase;
    pc += 3;
    NEXT_FAST();
  }
  OP(LINESTEP) {
    (*bp)->n16 = static_cast<uint16_t>(vl_vmLineBase + U1(1));
    pc += 2;
    NEXT_FAST();
  }
  OP(SETRESULT) {
    if (UNLIKELY(sp <= bp + 2)) badCode(code, pc, "stack underflow");
    VlItem* cell = *--sp;
    // Read the value whole before changing anything in it (a partial write first would stall
    // the wide read that follows).
    VlItem v = *cell;
    cell->type = VL_IT_NIL;
    v.type &= static_cast<VlType>(~VL_IT_MEMOFLAG);
    pc += 1;
    if (UNLIKELY(vl_stack.ret.type & VL_IT_COMPLEX)) {
      CALL(vl_itemClearComplex(&vl_stack.ret));
      vl_stack.ret = v;
      NEXT();
    }
    vl_stack.ret = v;
    NEXT_FAST();
  }

  // ---- calls and sends ----
  OP(CALLF2) OP(CALLF1) {
    bool wide = *pc == VL_P_CALLF2;
    uint16_t n = wide ? U2(1) : U1(1);
    pc += wide ? 3 : 2;
    SAVE();
    vl_itemClearInline(&vl_stack.ret);
    vl_vmDo(n);
    LOAD();
    // The call took n + 2 slots, so the result fits without growing.
    VlItem* d = *sp++;
    *d = vl_stack.ret;
    vl_stack.ret.type = VL_IT_NIL;
    NEXT();
  }
  OP(CALLP2) OP(CALLP1) {
    bool wide = *pc == VL_P_CALLP2;
    uint16_t n = wide ? U2(1) : U1(1);
    pc += wide ? 3 : 2;
    SAVE();
    vl_itemClearInline(&vl_stack.ret);
    vl_vmDo(n);
    LOAD();
    NEXT();
  }
  OP(SEND2) OP(SEND1) OP(WITHSEND2) OP(WITHSEND1) {
    uint8_t op = *pc;
    bool wide = op == VL_P_SEND2 || op == VL_P_WITHSEND2;
    uint16_t n = wide ? U2(1) : U1(1);
    pc += wide ? 3 : 2;
    if (UNLIKELY(sp - n - 2 <= bp + 1)) badCode(code, pc, "stack underflow");
    VlItem* recv = sp[-static_cast<int>(n) - 1];
    bool sent = false;
    if (op == VL_P_WITHSEND2 || op == VL_P_WITHSEND1) {
      // The receiver slot (NIL) takes the innermost WITH OBJECT value.
      if (s_withDepth) CALL(vl_itemCopy(recv, &s_with[s_withDepth - 1]));
      else CALL(vl_itemClear(recv));
    } else if (op == VL_P_SEND1 && n <= 1 && VL_IS_ARRAY(recv) && recv->u.arr.base->classH) {
      // Direct instance-variable access, without a frame.
      VlItem* symItem = sp[-static_cast<int>(n) - 2];
      uint16_t index = VL_IS_SYMBOL(symItem) ? vl_objDataIndex(recv, symItem->u.sym.sym, n) : 0;
      if (index) {
        SAVE();
        if (vl_arrayLen(recv) < index) vl_arraySize(recv, index);
        VlItem* slot = vl_itemUnRef(vl_arrayGetItemPtr(recv, index));
        if (n == 1) {
          VlItem* arg = vl_stack.pos[-1];
          arg->type &= static_cast<VlType>(~VL_IT_MEMOFLAG);
          vl_itemCopy(slot, arg);
        }
        vl_itemCopy(&vl_stack.ret, slot);
        for (int k = 0; k < n + 2; ++k) vl_stackPop();
        LOAD();
        sent = true;
      }
    }
    if (!sent) {
      if (UNLIKELY(vl_vmActionRequest & VL_REQ_BREAK)) {
        SAVE();
        for (int k = 0; k < n + 2; ++k) vl_stackPop();
        vl_itemClear(&vl_stack.ret);
        LOAD();
      } else {
        CALL(vl_vmSend(n));
      }
    }
    // SEND followed by DROP: the result is not pushed and the DROP is skipped.
    if ((!end || pc < end) && *pc == VL_P_DROP) {
      pc += 1;
    } else {
      VlItem* d = *sp++;
      *d = vl_stack.ret;
      vl_stack.ret.type = VL_IT_NIL;
    }
    NEXT();
  }

  OP(PROCEXIT) {
    if (FinallyRec* f = liveFinally(&inv)) {
      // A RETURN inside TRY's CATCH runs the FINALLY section first.
      SAVE();
      target = enterFinally(f, VL_REQ_ENDPROC);
      LOAD();
      GOTO_POS(target);
      NEXT();
    }
    goto leave;
  }
  OP(BLOCKEXIT) {
    if (UNLIKELY(sp <= bp + 2)) badCode(code, pc, "stack underflow");
    VlItem* v = *--sp;
    SAVE();
    vl_itemForwardValue(&vl_stack.ret, v);
    leaveInvocation(inv, false);
    return;
  }

  // ---- memory variables, statics, globals ----
  OP(LOADMEMVAR) {
    VlSymbol* sym = &symbols[U2(1)];
    VlItem* d;
    PUSH(d);
    CALL(vl_memvarGetValue(d, sym));
    pc += 3;
    NEXT();
  }
  OP(MEMVARREF) {
    VlSymbol* sym = &symbols[U2(1)];
    VlItem* d;
    PUSH(d);
    CALL(vl_memvarGetRefer(d, sym));
    pc += 3;
    NEXT();
  }
  OP(STOREMEMVAR) OP(STOREVAR) {
    VlSymbol* sym = &symbols[U2(1)];
    if (UNLIKELY(sp <= bp + 2)) badCode(code, pc, "stack underflow");
    CALL(vl_memvarSetValue(sym, vl_stack.pos[-1]); vl_stackPop());
    pc += 3;
    NEXT();
  }
  OP(LOADVAR) {
    VlSymbol* sym = &symbols[U2(1)];
    CALL(loadVar(sym));
    pc += 3;
    NEXT();
  }
  OP(PARAMPRIVATE) {
    VlSymbol* sym = &symbols[U2(1)];
    int n = U1(3);
    SAVE();
    VlItem nil;
    nil.type = VL_IT_NIL;
    VlItem* value = paramSlot(n);
    vl_memvarNewParameter(sym, value ? value : &nil);
    LOAD();
    pc += 4;
    NEXT();
  }
  OP(LOADSTATIC) {
    SAVE();
    VlItem* s = vl_itemUnRef(staticItem(code, pc, U2(1)));
    vl_vmPush(s);
    LOAD();
    pc += 3;
    NEXT();
  }
  OP(STORESTATIC) {
    if (UNLIKELY(sp <= bp + 2)) badCode(code, pc, "stack underflow");
    SAVE();
    VlItem* s = staticItem(code, pc, U2(1));
    assignTo(s, vl_stack.pos[-1]);
    vl_stackDec();
    LOAD();
    pc += 3;
    NEXT();
  }
  OP(STATICREF) {
    SAVE();
    uint32_t index = static_cast<uint32_t>(vl_stack.staticsBase) + U2(1);
    (void)staticItem(code, pc, U2(1));
    VlItem* d = vl_stackPush();
    vl_arrayGetRef(vl_staticsArray(), index, d);
    LOAD();
    pc += 3;
    NEXT();
  }
  OP(STATICBASE) {
    if (UNLIKELY(!symbols)) badCode(code, pc, "symbol without a symbol table");
    vl_stack.staticsBase = static_cast<int32_t>(symbols[U2(1)].value.staticsBase);
    pc += 3;
    NEXT();
  }
  OP(STATICCOUNT) {
    if (UNLIKELY(!symbols)) badCode(code, pc, "symbol without a symbol table");
    CALL(staticCount(&symbols[U2(1)], U2(3)));
    pc += 5;
    NEXT();
  }
  OP(LOADGLOBAL) {
    if (UNLIKELY(!globals)) badCode(code, pc, "no globals table");
    VlItem* g = globals[U1(1)];
    CALL(vl_vmPush(vl_itemUnRef(g)));
    pc += 2;
    NEXT();
  }
  OP(STOREGLOBAL) {
    if (UNLIKELY(!globals)) badCode(code, pc, "no globals table");
    if (UNLIKELY(sp <= bp + 2)) badCode(code, pc, "stack underflow");
    VlItem* g = globals[U1(1)];
    CALL(assignTo(g, vl_stack.pos[-1]); vl_stackDec());
    pc += 2;
    NEXT();
  }
  OP(GLOBALREF) {
    if (UNLIKELY(!globals)) badCode(code, pc, "no globals table");
    VlItem* d;
    PUSH(d);
    d->type = VL_IT_BYREF;
    d->n16 = VL_REF_GLOBAL;
    d->u.ref.ptr = globalsAnchor(globals);
    d->u.ref.offset = 0;
    d->u.ref.index = U1(1);
    pc += 2;
    NEXT();
  }

  // ---- codeblocks ----
  OP(MAKEBLOCK2) {
    CHECK_LEN();
    uint16_t size = U2(1);
    uint16_t params = U2(3);
    uint16_t nLocals = U2(5);
    uint32_t header = 7u + 2u * nLocals;
    if (size < header) badCode(code, pc, "codeblock shorter than its header");
    VlItem* d;
    PUSH(d);
    CALL(vl_codeblockNew(d, pc + header, size - header, params, pc + 7, nLocals, symbols, globals));
    pc += size;
    NEXT();
  }
  OP(MAKEBLOCK1) {
    CHECK_LEN();
    uint8_t size = U1(1);
    if (size < 2) badCode(code, pc, "codeblock shorter than its header");
    VlItem* d;
    PUSH(d);
    CALL(vl_codeblockNew(d, pc + 2, size - 2u, 0, nullptr, 0, symbols, globals));
    pc += size;
    NEXT();
  }
  OP(RTBLOCK) {
    CHECK_LEN();
    uint16_t size = U2(1);
    if (size < 5) badCode(code, pc, "codeblock shorter than its header");
    VlItem* d;
    PUSH(d);
    CALL(vl_codeblockMacroNew(d, pc + 5, size - 5u, U2(3)));
    pc += size;
    NEXT();
  }

  // ---- fields and work areas ----
  OP(LOADFIELD) {
    VlSymbol* sym = &symbols[U2(1)];
    VlItem* d;
    PUSH(d);
    CALL(vl_fieldGet(sym, d));
    pc += 3;
    NEXT();
  }
  OP(STOREFIELD) {
    VlSymbol* sym = &symbols[U2(1)];
    if (UNLIKELY(sp <= bp + 2)) badCode(code, pc, "stack underflow");
    CALL(vl_fieldPut(sym, vl_stack.pos[-1]); vl_stackPop());
    pc += 3;
    NEXT();
  }
  OP(LOADALIAS) {
    SAVE();
    vl_vmPushInteger(vl_fieldCurrentArea());
    LOAD();
    pc += 1;
    NEXT();
  }
  OP(STOREALIAS) {
    if (UNLIKELY(sp <= bp + 2)) badCode(code, pc, "stack underflow");
    CALL(vl_fieldSelectAlias(vl_stack.pos[-1]); vl_stackPop());
    pc += 1;
    NEXT();
  }
  OP(ALIASSWAP) {
    if (UNLIKELY(sp <= bp + 3)) badCode(code, pc, "stack underflow");
    SAVE();
    vl_fieldSelectAlias(vl_stack.pos[-2]);
    vl_itemSwap(vl_stack.pos[-2], vl_stack.pos[-1]);
    vl_stackPop();
    LOAD();
    pc += 1;
    NEXT();
  }
  OP(LOADALIASFIELD2) OP(LOADALIASFIELD1) {
    bool wide = *pc == VL_P_LOADALIASFIELD2;
    VlSymbol* sym = &symbols[wide ? U2(1) : U1(1)];
    CALL(loadAliasField(sym));
    pc += wide ? 3 : 2;
    NEXT();
  }
  OP(LOADALIASVAR) {
    CALL(loadAliasVar(&symbols[U2(1)]));
    pc += 3;
    NEXT();
  }
  OP(STOREALIASFIELD2) OP(STOREALIASFIELD1) {
    bool wide = *pc == VL_P_STOREALIASFIELD2;
    VlSymbol* sym = &symbols[wide ? U2(1) : U1(1)];
    if (UNLIKELY(sp <= bp + 3)) badCode(code, pc, "stack underflow");
    CALL(storeAlias(sym, false));
    pc += wide ? 3 : 2;
    NEXT();
  }
  OP(STOREALIASVAR) {
    if (UNLIKELY(sp <= bp + 3)) badCode(code, pc, "stack underflow");
    CALL(storeAlias(&symbols[U2(1)], true));
    pc += 3;
    NEXT();
  }

  // ---- strings ----
  OP(STRLEFT) {
    CALL(strLeft(U2(1)));
    pc += 3;
    NEXT();
  }
  OP(STRRIGHT) {
    CALL(strRight(U2(1)));
    pc += 3;
    NEXT();
  }
  OP(REGEXFULL) { STACK_OP([] { regexMatch(true); }, 1); }
  OP(REGEXFIND) { STACK_OP([] { regexMatch(false); }, 1); }

  // ---- BEGIN SEQUENCE and TRY ----
  OP(SEQOPEN) OP(TRYOPEN) {
    bool isTry = *pc == VL_P_TRYOPEN;
    VlItem* d;
    PUSH(d);  // the break-value slot
    (void)d;
    RecoverRec* r = newRecover();
    r->owner = &inv;
    r->serial = ++s_serial;
    r->stackPos = static_cast<int32_t>(sp - vl_stack.items);
    int64_t pos = (pc - code) + static_cast<int64_t>(S3(1));
    if (pos < 0 || (end && pos >= static_cast<int64_t>(length))) badCode(code, pc, "recovery position outside the code");
    r->recoverPos = static_cast<uint32_t>(pos);
    r->eachDepth = s_eachDepth;
    r->withDepth = s_withDepth;
    r->savedErrorBlock = nullptr;
    if (isTry) {
      ++vl_vmTryDepth;
      CALL(r->savedErrorBlock = vl_errorBlock(vl_vmBreakBlock()));
    }
    r->prev = s_recover;
    s_recover = r;
    pc += 4;
    NEXT();
  }
  OP(SEQCLOSE) OP(TRYCLOSE) {
    RecoverRec* r = ownRecover(&inv);
    if (UNLIKELY(!r)) badCode(code, pc, "no open sequence");
    CALL(closeTry(r));
    unchainRecover();
    POP();  // the break-value slot
    JUMP(S3(1));
    NEXT();
  }
  OP(SEQHANDLER) {
    if (UNLIKELY(!ownRecover(&inv))) badCode(code, pc, "no open sequence");
    unchainRecover();
    pc += 1;
    NEXT();
  }
  OP(TRYHANDLER) {
    RecoverRec* r = ownRecover(&inv);
    if (UNLIKELY(!r)) badCode(code, pc, "no open sequence");
    CALL(closeTry(r));
    uint32_t eachDepth = r->eachDepth, withDepth = r->withDepth;
    unchainRecover();
    int32_t off = S3(1);
    if (off != 0) {
      int64_t pos = (pc - code) + static_cast<int64_t>(off);
      if (pos < 0 || (end && pos >= static_cast<int64_t>(length))) badCode(code, pc, "FINALLY position outside the code");
      FinallyRec* f = newFinally();
      f->owner = &inv;
      f->serial = ++s_serial;
      f->pos = static_cast<uint32_t>(pos);
      f->stackPos = static_cast<int32_t>(sp - vl_stack.items) - 1;  // below the caught value
      f->eachDepth = eachDepth;
      f->withDepth = withDepth;
      f->savedRequest = VL_REQ_NONE;
      f->entered = false;
      f->savedReturn.type = VL_IT_NIL;
      f->prev = s_finally;
      s_finally = f;
    }
    pc += 4;
    NEXT();
  }
  OP(FINALLYAT) {
    // Only the record of this FINALLY section: the newest one may belong to an enclosing TRY.
    if (s_finally && s_finally->owner == &inv && s_finally->pos == static_cast<uint32_t>(pc - code))
      s_finally->entered = true;
    pc += 1;
    NEXT();
  }
  OP(FINALLYEXIT) {
    pc += 1;
    if (s_finally && s_finally->owner == &inv && s_finally->entered) {
      uint16_t req = s_finally->savedRequest;
      if (req == VL_REQ_ENDPROC) CALL(vl_itemForwardValue(&vl_stack.ret, &s_finally->savedReturn));
      CALL(unchainFinally());
      if (req) vl_vmActionRequest = req;
    }
    NEXT();
  }

  // ---- WITH OBJECT, FOR EACH, SWITCH ----
  OP(WITHOPEN) {
    if (UNLIKELY(sp <= bp + 2)) badCode(code, pc, "stack underflow");
    CALL(withOpen());
    pc += 1;
    NEXT();
  }
  OP(WITHCLOSE) {
    if (s_withDepth) CALL(popWith());
    pc += 1;
    NEXT();
  }
  OP(LOADWITH) {
    VlItem* d;
    PUSH(d);
    if (s_withDepth) vl_itemCopy(d, &s_with[s_withDepth - 1]);
    pc += 1;
    NEXT();
  }
  OP(EACHOPEN) {
    if (UNLIKELY(sp <= bp + 3)) badCode(code, pc, "stack underflow");
    CALL(eachOpen());
    pc += 1;
    NEXT();
  }
  OP(EACHSTEP) {
    bool more;
    CALL(more = eachStep());
    VlItem* d;
    PUSH(d);
    d->type = VL_IT_LOGICAL;
    d->u.i32 = more ? 1 : 0;
    pc += 1;
    NEXT();
  }
  OP(EACHCLOSE) {
    if (s_eachDepth) CALL(popEach(true));
    pc += 1;
    NEXT();
  }
  OP(EACHINDEX) {
    int64_t index = s_eachDepth ? s_each[s_eachDepth - 1].index : 0;
    CALL(vl_vmPushLongLong(index));
    pc += 1;
    NEXT();
  }
  OP(CASEVALUE) {
    CALL(caseValue(vl_pcodeI4(pc + 1)));
    pc += 5;
    NEXT();
  }

  // ---- debugger information ----
  OP(DBGLOCAL) {
    CHECK_LEN();
    SAVE();
    VlItem index, name;
    index.type = name.type = VL_IT_NIL;
    vl_itemPutNI(&index, U2(1));
    vl_itemPutC(&name, reinterpret_cast<const char*>(pc + 3));
    debugEntry(2, 2, &index, &name, nullptr);
    vl_itemClear(&name);
    LOAD();
    pc += 3 + std::strlen(reinterpret_cast<const char*>(pc + 3)) + 1;
    NEXT();
  }
  OP(DBGMODULE) {
    CHECK_LEN();
    SAVE();
    VlItem name;
    name.type = VL_IT_NIL;
    vl_itemPutC(&name, reinterpret_cast<const char*>(pc + 1));
    debugEntry(1, 1, &name, nullptr, nullptr);
    vl_itemClear(&name);
    LOAD();
    pc += 1 + std::strlen(reinterpret_cast<const char*>(pc + 1)) + 1;
    NEXT();
  }
  OP(DBGSTATIC) {
    CHECK_LEN();
    SAVE();
    VlItem base, index, name;
    base.type = index.type = name.type = VL_IT_NIL;
    vl_itemPutNI(&base, vl_stack.staticsBase);
    vl_itemPutNI(&index, U2(2));
    vl_itemPutC(&name, reinterpret_cast<const char*>(pc + 4));
    debugEntry(3, 3, &base, &index, &name);
    vl_itemClear(&name);
    LOAD();
    pc += 4 + std::strlen(reinterpret_cast<const char*>(pc + 4)) + 1;
    NEXT();
  }

  // ---- subsystems that are not built yet ----
  OP(MACSTORE) notAvailable("MACSTORE", "macro compiler");
  OP(MACSTOREALIAS) notAvailable("MACSTOREALIAS", "macro compiler");
  OP(MACLOAD) notAvailable("MACLOAD", "macro compiler");
  OP(MACLOADARGS) notAvailable("MACLOADARGS", "macro compiler");
  OP(MACLOADLIST) notAvailable("MACLOADLIST", "macro compiler");
  OP(MACLOADINDEX) notAvailable("MACLOADINDEX", "macro compiler");
  OP(MACLOADEXPR) notAvailable("MACLOADEXPR", "macro compiler");
  OP(MACLOADALIAS) notAvailable("MACLOADALIAS", "macro compiler");
  OP(MACSYMBOL) notAvailable("MACSYMBOL", "macro compiler");
  OP(MACTEXT) notAvailable("MACTEXT", "macro compiler");
  OP(MACREF) notAvailable("MACREF", "macro compiler");
  OP(MACLISTOPEN) notAvailable("MACLISTOPEN", "macro compiler");
  OP(MACLISTCLOSE) notAvailable("MACLISTCLOSE", "macro compiler");
  OP(RTMSG) notAvailable("RTMSG", "macro compiler");
  OP(RTSTOREALIASFIELD) notAvailable("RTSTOREALIASFIELD", "macro compiler");
  OP(RTSTOREALIASVAR) notAvailable("RTSTOREALIASVAR", "macro compiler");
  OP(RTSTOREFIELD) notAvailable("RTSTOREFIELD", "macro compiler");
  OP(RTSTOREMEMVAR) notAvailable("RTSTOREMEMVAR", "macro compiler");
  OP(RTLOADALIASFIELD) notAvailable("RTLOADALIASFIELD", "macro compiler");
  OP(RTLOADALIASVAR) notAvailable("RTLOADALIASVAR", "macro compiler");
  OP(RTLOADFIELD) notAvailable("RTLOADFIELD", "macro compiler");
  OP(RTLOADMEMVAR) notAvailable("RTLOADMEMVAR", "macro compiler");
  OP(RTMEMVARREF) notAvailable("RTMEMVARREF", "macro compiler");
  OP(RTSYMBOL) notAvailable("RTSYMBOL", "macro compiler");
  OP(RTLOADVAR) notAvailable("RTLOADVAR", "macro compiler");
  OP(INSTVARREF) notAvailable("INSTVARREF", "class system");
  OP(CLASSMODULE) notAvailable("CLASSMODULE", "class system");

  OP(UNASSIGNED131) goto badOpcode;

#if !VL_THREADED
  default: goto badOpcode;
  }
next:
  if (LIKELY(vl_vmActionRequest == 0)) goto top;
#endif

actionRequest: {
  SAVE();
  bool resume = handleRequest(inv, &target);
  LOAD();
  if (resume) {
    GOTO_POS(target);
    DISPATCH();
  }
  goto leave;
}

leave:
  SAVE();
  if (UNLIKELY((s_finally && s_finally->owner == &inv) || (s_recover && s_recover->owner == &inv) ||
               s_eachDepth != inv.eachDepth || s_withDepth != inv.withDepth))
    leaveInvocation(inv, true);
  else if (inv.hasSymbols)
    vl_memvarRestorePrivates(inv.privateMark);
  return;

badOpcode:
  unsupported();
}
