// Codeblocks: creation with detached locals, evaluation, holding, releasing and marking, and
// the language functions EVAL and VL_SAVEBLOCK.
//
// A block shares its creator's locals through memory-variable records: creating the block turns
// each listed local's stack slot into a reference to a new record (a detached local), and the
// block's locals vector holds one more reference to it. The vector's header element counts the
// blocks that share it (blocks made inside a running block without listed locals share its
// vector).
#include "codeblock.h"

#include <cstring>

#include "arrays.h"
#include "errint.h"
#include "executor.h"
#include "extend.h"
#include "gc.h"
#include "memvars.h"
#include "stack.h"
#include "vmcall.h"
#include "xmem.h"

void vl_codeblockHold(VlCodeblock* cb) { ++cb->holders; }

// Lets go of what the block holds; safe to call twice (the collector may).
static void releaseContents(VlCodeblock* cb, bool touchObject) {
  if (cb->locals) {
    VlItem* locals = cb->locals;
    uint16_t count = cb->localCount;
    cb->locals = nullptr;
    cb->localCount = 0;
    if (--locals[0].u.i64 <= 0) {
      for (uint16_t i = 1; i <= count; ++i) vl_itemClear(&locals[i]);
      vl_xfree(locals);
    } else {
      // The other sharers keep the vector; only this block's holds on the values go.
      for (uint16_t i = 1; i <= count; ++i)
        if (VL_IS_MEMVAR(&locals[i]))
          vl_memvarValueRelease(static_cast<uint32_t>(locals[i].u.ref.offset + locals[i].u.ref.index));
    }
  }
  if (cb->ownsCode && cb->pcode) vl_xfree(const_cast<uint8_t*>(cb->pcode));
  cb->pcode = nullptr;
  cb->ownsCode = false;
  if (cb->object) {
    VlArrayBase* obj = cb->object;
    cb->object = nullptr;
    if (touchObject) vl_arrayDrop(obj, false);
  }
}

void vl_codeblockDrop(VlCodeblock* cb) {
  if (--cb->holders <= 0) {
    releaseContents(cb, true);
    vl_gcFree(cb);
  }
}

void vl_codeblockDelete(VlItem* block) {
  if (block && VL_IS_BLOCK(block)) vl_itemClear(block);
}

void vl_codeblockReleaseBlock(void* data) { releaseContents(static_cast<VlCodeblock*>(data), false); }

void vl_codeblockMark(VlCodeblock* cb) {
  // Each entry is a reference to a detached value: marking it follows it to the value.
  for (uint16_t i = 1; i <= cb->localCount; ++i)
    if (cb->locals[i].type & VL_IT_GCITEM) vl_gcItemRef(&cb->locals[i]);
  if (cb->object) {
    VlItem tmp;
    tmp.type = VL_IT_ARRAY;
    tmp.u.arr.base = cb->object;
    vl_gcItemRef(&tmp);
  }
}

namespace {

VlCodeblock* newBase(const uint8_t* code, uint32_t codeLength, VlSymbol* symbols, VlItem** globals) {
  auto* cb = static_cast<VlCodeblock*>(vl_gcAlloc(sizeof(VlCodeblock), vl_codeblockReleaseBlock));
  const VlItem* symItem = *vl_stack.base;
  const VlItem* self = vl_stack.base[1];
  // A block made inside a running block belongs to the procedure that made the outer one.
  if (VL_IS_BLOCK(self)) cb->procname = self->u.blk.base->procname;
  else cb->procname = VL_IS_SYMBOL(symItem) ? symItem->u.sym.sym->name : "";
  cb->line = VL_IS_SYMBOL(symItem) ? symItem->n16 : 0;
  cb->localCount = 0;
  cb->holders = 1;
  cb->pcode = code;
  cb->codeLength = codeLength;
  cb->ownsCode = false;
  cb->locals = nullptr;
  cb->symbols = symbols;
  cb->globals = globals;
  cb->object = nullptr;
  return cb;
}

// Local n (1-based, or negative for a detached local of the running block) of the current
// frame; null when the number lies outside the frame.
VlItem* frameLocal(int n) {
  if (n < 0) {
    VlItem* self = vl_stack.base[1];
    if (!VL_IS_BLOCK(self)) return nullptr;
    const VlCodeblock* running = self->u.blk.base;
    return -n <= running->localCount ? &running->locals[-n] : nullptr;
  }
  if (n == 0) return nullptr;
  const VlItem* sym = *vl_stack.base;
  int shift = sym->u.sym.paramCnt >= 256 ? sym->u.sym.paramCnt - 256 : 0;
  VlItem** slot = vl_stack.base + 1 + n + shift;
  return slot < vl_stack.pos ? *slot : nullptr;
}

void putBlock(VlItem* out, VlCodeblock* cb, uint16_t params) {
  vl_itemClear(out);
  out->type = VL_IT_BLOCK;
  out->n16 = params;
  out->n32 = static_cast<uint32_t>(vl_stack.staticsBase);
  out->u.blk.base = cb;
}

}  // namespace

void vl_codeblockNew(VlItem* out, const uint8_t* code, uint32_t codeLength, uint16_t params,
                     const uint8_t* localNumbers, uint16_t localCount, VlSymbol* symbols, VlItem** globals) {
  VlCodeblock* cb = newBase(code, codeLength, symbols, globals);
  VlItem* self = vl_stack.base[1];
  if (localCount) {
    auto* locals = static_cast<VlItem*>(vl_xgrab((static_cast<size_t>(localCount) + 1) * sizeof(VlItem)));
    locals[0].type = VL_IT_NIL;
    locals[0].u.i64 = 1;
    for (uint16_t i = 1; i <= localCount; ++i) {
      locals[i].type = VL_IT_NIL;
      const uint8_t* p = localNumbers + 2 * (i - 1);
      auto n = static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
      if (VlItem* slot = frameLocal(n)) {
        vl_memvarDetachLocal(slot);
        vl_itemCopy(&locals[i], slot);
      }
    }
    cb->locals = locals;
    cb->localCount = localCount;
  } else if (VL_IS_BLOCK(self) && self->u.blk.base->locals) {
    const VlCodeblock* running = self->u.blk.base;
    ++running->locals[0].u.i64;
    for (uint16_t i = 1; i <= running->localCount; ++i)
      if (VL_IS_MEMVAR(&running->locals[i]))
        vl_memvarValueHold(static_cast<uint32_t>(running->locals[i].u.ref.offset + running->locals[i].u.ref.index));
    cb->locals = running->locals;
    cb->localCount = running->localCount;
  }
  // The object of the method the block was made in (also through an enclosing block).
  VlArrayBase* object = nullptr;
  if (VL_IS_ARRAY(self)) object = self->u.arr.base;
  else if (VL_IS_BLOCK(self)) object = self->u.blk.base->object;
  if (object) {
    vl_arrayHold(object);
    cb->object = object;
  }
  putBlock(out, cb, params);
}

void vl_codeblockMacroNew(VlItem* out, const uint8_t* code, uint32_t codeLength, uint16_t params) {
  auto* copy = static_cast<uint8_t*>(vl_xgrab(codeLength ? codeLength : 1));
  if (codeLength) std::memcpy(copy, code, codeLength);
  VlCodeblock* cb = newBase(copy, codeLength, nullptr, nullptr);
  cb->ownsCode = true;
  putBlock(out, cb, params);
}

VlItem* vl_codeblockGetVar(VlItem* block, int index) {
  if (block && VL_IS_BLOCK(block) && index < 0) {
    const VlCodeblock* cb = block->u.blk.base;
    if (-index <= cb->localCount) return &cb->locals[-index];
  }
  // A local number the block does not have (damaged p-code): reads give NIL, writes are lost.
  static VlItem s_scratch;
  vl_itemClear(&s_scratch);
  return &s_scratch;
}

void vl_codeblockGetRef(VlItem* out, VlItem* block, int index) {
  // The vector entry is a reference to the detached local's record; a copy of it is a
  // reference to the same variable that keeps the record alive on its own.
  VlItem* entry = vl_codeblockGetVar(block, index);
  if (VL_IS_BYREF(entry)) vl_itemCopy(out, entry);
  else vl_itemClear(out);
}

void vl_codeblockEvaluate() {
  VlItem* self = vl_stack.base[1];
  if (VL_IS_BYREF(self)) self = vl_itemUnRef(self);
  if (!VL_IS_BLOCK(self)) vl_errInternal(9017, nullptr, "vl_vmDoBlock()", nullptr);
  VlCodeblock* cb = self->u.blk.base;
  VlItem* symItem = *vl_stack.base;
  int passed = vl_frameParamCount(symItem);
  for (int i = passed; i < self->n16; ++i) vl_vmPushNil();
  uint16_t line = symItem->n16;
  int32_t statics = vl_stack.staticsBase;
  symItem->n16 = cb->line;
  vl_stack.staticsBase = static_cast<int32_t>(self->n32);
  // The frame's self slot holds the block for the whole run, so its code and locals stay alive
  // even when the block's own variable is cleared meanwhile.
  vl_vmExecute(cb->pcode, cb->symbols, cb->globals, cb->codeLength);
  vl_stack.staticsBase = statics;
  (*vl_stack.base)->n16 = line;
}

// ---- language functions ----

// EVAL(block, args...): sends EVAL to the first argument; a non-block gets the no-method error.
VL_FUNC(EVAL) {
  // The argument slots are copied as they are, so arguments passed by reference stay references.
  int n = vl_pcount();
  vl_vmPushSymbol(vl_dynsymGet("EVAL")->symbol);
  if (n >= 1) vl_vmPush(vl_stackItemFromBase(1));
  else vl_vmPushNil();
  for (int i = 2; i <= n; ++i) vl_vmPush(vl_stackItemFromBase(i));
  vl_vmSend(static_cast<uint16_t>(n > 1 ? n - 1 : 0));
}

// VL_SAVEBLOCK(block): {module name, p-code, parameter count}; NIL for anything else.
VL_FUNC(VL_SAVEBLOCK) {
  const VlItem* block = vl_param(1, VL_IT_BLOCK);
  if (!block) {
    vl_ret();
    return;
  }
  const VlCodeblock* cb = block->u.blk.base;
  VlItem result, tmp;
  result.type = tmp.type = VL_IT_NIL;
  vl_arrayNew(&result, 3);
  const VlModule* module = cb->symbols ? vl_vmFindModuleBySymbols(cb->symbols) : nullptr;
  vl_itemPutC(&tmp, module && module->name ? module->name : "");
  vl_arraySetForward(&result, 1, &tmp);
  vl_itemPutCL(&tmp, reinterpret_cast<const char*>(cb->pcode ? cb->pcode : reinterpret_cast<const uint8_t*>("")),
               cb->pcode ? cb->codeLength : 0);
  vl_arraySetForward(&result, 2, &tmp);
  vl_itemPutNI(&tmp, block->n16);
  vl_arraySetForward(&result, 3, &tmp);
  vl_itemReturnForward(&result);
}

VL_NATIVE_MODULE(codeblock, VL_FUNCENTRY(EVAL), VL_FUNCENTRY(VL_SAVEBLOCK));
