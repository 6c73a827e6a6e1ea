// The evaluation stack, value pushes, procedure information, the call trace and the stack dump.
#include "stack.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "arrays.h"
#include "classes.h"
#include "codeblock.h"
#include "../rtl/console.h"
#include "errint.h"
#include "../rtl/set.h"
#include "symbols.h"
#include "xmem.h"

VlStack vl_stack;

namespace {

// Cells are allocated in chunks that never move; the list of chunks is kept for the final free.
struct CellChunk {
  CellChunk* next;
  VlItem cells[1];
};
CellChunk* s_chunks;

void addCells(int32_t from, int32_t to) {
  size_t n = static_cast<size_t>(to - from);
  auto* chunk = static_cast<CellChunk*>(vl_xgrab(sizeof(CellChunk) + (n - 1) * sizeof(VlItem)));
  chunk->next = s_chunks;
  s_chunks = chunk;
  for (size_t i = 0; i < n; ++i) {
    chunk->cells[i].type = VL_IT_NIL;
    vl_stack.items[from + static_cast<int32_t>(i)] = &chunk->cells[i];
  }
}

}  // namespace

void vl_stackInit() {
  vl_stack.items = static_cast<VlItem**>(vl_xgrab(VL_STACK_INITIAL * sizeof(VlItem*)));
  vl_stack.capacity = VL_STACK_INITIAL;
  addCells(0, VL_STACK_INITIAL);
  vl_stack.pos = vl_stack.items;
  vl_stack.base = vl_stack.items;
  vl_stack.staticsBase = 0;
  vl_stack.callDepth = 0;
  vl_stack.ret.type = VL_IT_NIL;
}

void vl_stackFree() {
  while (s_chunks) {
    CellChunk* next = s_chunks->next;
    vl_xfree(s_chunks);
    s_chunks = next;
  }
  if (vl_stack.items) vl_xfree(vl_stack.items);
  vl_stack.items = vl_stack.pos = vl_stack.base = nullptr;
  vl_stack.capacity = 0;
}

void vl_stackIncrease() {
  ptrdiff_t top = vl_stack.pos - vl_stack.items;
  ptrdiff_t base = vl_stack.base - vl_stack.items;
  int32_t old = vl_stack.capacity;
  int32_t cap = old + VL_STACK_EXPAND;
  vl_stack.items = static_cast<VlItem**>(vl_xrealloc(vl_stack.items, static_cast<size_t>(cap) * sizeof(VlItem*)));
  vl_stack.capacity = cap;
  addCells(old, cap);
  vl_stack.pos = vl_stack.items + top;
  vl_stack.base = vl_stack.items + base;
}

int32_t vl_stackCapacity() { return vl_stack.capacity; }

VlItem* vl_stackPush() { return vl_stackAllocItem(); }

void vl_stackPop() {
  if (--vl_stack.pos < vl_stack.items) vl_errInternal(9019, nullptr, nullptr, nullptr);
  vl_itemClearInline(*vl_stack.pos);
}

void vl_stackPopReturn() {
  if (--vl_stack.pos < vl_stack.items) vl_errInternal(9019, nullptr, nullptr, nullptr);
  vl_itemForwardValue(&vl_stack.ret, *vl_stack.pos);
}

void vl_stackDec() {
  if (--vl_stack.pos < vl_stack.items) vl_errInternal(9019, nullptr, nullptr, nullptr);
}

void vl_stackRemove(int32_t offset) {
  while (vl_stack.pos - vl_stack.items > offset) vl_stackPop();
}

int32_t vl_stackTopOffset() { return static_cast<int32_t>(vl_stack.pos - vl_stack.items); }
int32_t vl_stackBaseOffset() { return static_cast<int32_t>(vl_stack.base - vl_stack.items) + 1; }

void vl_stackClearAll() {
  if (!vl_stack.items) return;
  while (vl_stack.pos > vl_stack.items) {
    --vl_stack.pos;
    vl_itemClear(*vl_stack.pos);
  }
  vl_stack.base = vl_stack.items;
}

VlItem* vl_stackLocalVariable(int n) {
  const VlItem* sym = *vl_stack.base;
  int shift = sym->u.sym.paramCnt >= 256 ? sym->u.sym.paramCnt - 256 : 0;
  return vl_stack.base[1 + n + shift];
}

// ---- pushes ----
void vl_vmPushNil() { vl_stackAllocItem()->type = VL_IT_NIL; }

void vl_vmPushLogical(bool v) {
  VlItem* p = vl_stackAllocItem();
  p->type = VL_IT_LOGICAL;
  p->u.i32 = v ? 1 : 0;
}

void vl_vmPushInteger(int32_t v) {
  VlItem* p = vl_stackAllocItem();
  p->type = VL_IT_INTEGER;
  p->n16 = VL_DEFAULT_WIDTH_INT(v);
  p->u.i32 = v;
}

void vl_vmPushLong(long v) { vl_vmPushLongLong(v); }

void vl_vmPushLongLong(int64_t v) {
  VlItem* p = vl_stackAllocItem();
  if (v >= INT32_MIN && v <= INT32_MAX) {
    p->type = VL_IT_INTEGER;
    p->n16 = VL_DEFAULT_WIDTH_INT(v);
    p->u.i32 = static_cast<int32_t>(v);
  } else {
    p->type = VL_IT_LONG;
    p->n16 = vl_itemDefaultWidthLong(v);
    p->u.i64 = v;
  }
}

void vl_vmPushDouble(double v, int decimals) { vl_vmPushDoubleLen(v, 255, decimals); }

void vl_vmPushDoubleLen(double v, int width, int decimals) {
  VlItem* p = vl_stackAllocItem();
  vl_itemPutNDLen(p, v, width == 255 ? 0 : width, decimals == 255 ? -1 : decimals);
}

void vl_vmPushNumber(double v, int decimals) { vl_vmPushNumberLen(v, decimals, VL_IT_NIL, VL_IT_NIL); }

void vl_vmPushNumberLen(double v, int decimals, VlType t1, VlType t2) {
  if (decimals == 0 && !(t1 & VL_IT_DOUBLE) && !(t2 & VL_IT_DOUBLE)) {
    if (v >= INT32_MIN && v <= INT32_MAX) {
      vl_vmPushInteger(static_cast<int32_t>(v));
      return;
    }
    if (v >= -9223372036854775808.0 && v < 9223372036854775808.0) {
      vl_vmPushLongLong(static_cast<int64_t>(v));
      return;
    }
    vl_vmPushDoubleLen(v, 255, vl_set.decimals);
    return;
  }
  vl_vmPushDoubleLen(v, 255, decimals);
}

void vl_vmPushString(const char* text, size_t len) { vl_itemPutCL(vl_stackAllocItem(), text, len); }

void vl_vmPushStringPcode(const char* text, size_t len) { vl_itemPutCLStatic(vl_stackAllocItem(), text, len); }

void vl_vmPushSymbol(VlSymbol* sym) {
  VlItem* p = vl_stackAllocItem();
  p->type = VL_IT_SYMBOL;
  p->n16 = 0;
  p->u.sym.sym = sym;
  p->u.sym.prevFrame = static_cast<int32_t>(vl_stack.pos - vl_stack.items) - 1;
  p->u.sym.paramCnt = 0;
  p->u.sym.classH = 0;
}

void vl_vmPushPointer(void* ptr) { vl_itemPutPtr(vl_stackAllocItem(), ptr); }

void vl_vmPushDate(int32_t julian) {
  VlItem* p = vl_stackAllocItem();
  p->type = VL_IT_DATE;
  p->u.i32 = julian;
}

void vl_vmPush(const VlItem* item) {
  VlItem* p = vl_stackAllocItem();
  vl_itemCopy(p, item);
}

void vl_vmPushForward(VlItem* item) {
  VlItem* p = vl_stackAllocItem();
  vl_itemForwardValue(p, item);
}

uint16_t vl_vmLiteralWidth(int64_t v) {
  if (v < -999999999LL) return 20;
  uint16_t width = 10;
  for (int64_t limit = 999999999LL; v > limit && width < 20; limit = limit * 10 + 9) ++width;
  return width;
}

// ---- procedure information ----
int32_t vl_stackFrameOffset(int level) {
  if (!vl_stack.items || vl_stack.pos == vl_stack.items) return -1;
  int32_t off = static_cast<int32_t>(vl_stack.base - vl_stack.items);
  while (level-- > 0) {
    if (off <= 0) return -1;
    off = vl_stack.items[off]->u.sym.prevFrame;
  }
  return off;
}

bool vl_procInfo(int level, VlProcInfo* info) {
  info->name[0] = '\0';
  info->file[0] = '\0';
  info->line = 0;
  if (!vl_stack.items || vl_stack.pos == vl_stack.items) {
    std::snprintf(info->name, sizeof info->name, "vl_vmQuit");
    std::snprintf(info->file, sizeof info->file, "vlvm");
    return true;
  }
  int32_t off = vl_stackFrameOffset(level);
  if (off < 0) return false;
  const VlItem* symItem = vl_stack.items[off];
  if (!VL_IS_SYMBOL(symItem)) return false;
  const VlItem* self = vl_stack.items[off + 1];
  VlSymbol* sym = symItem->u.sym.sym;

  if (VL_IS_ARRAY(self) && vl_arrayIsObject(self)) {
    uint16_t cls = symItem->u.sym.classH ? symItem->u.sym.classH : vl_arrayClass(self);
    std::snprintf(info->name, sizeof info->name, "%s:%s", vl_clsName(cls), sym->name);
    info->line = symItem->n16;
    const char* mod = vl_clsModuleName(cls);
    std::snprintf(info->file, sizeof info->file, "%s", mod ? mod : "");
  } else if (VL_IS_BLOCK(self)) {
    const VlCodeblock* cb = self->u.blk.base;
    if (cb->object && cb->object->classH)
      std::snprintf(info->name, sizeof info->name, "(b)%s:%s", vl_clsName(cb->object->classH), cb->procname);
    else
      std::snprintf(info->name, sizeof info->name, "(b)%s", cb->procname);
    info->line = cb->line;
    VlModule* mod = cb->symbols ? vl_vmFindModuleBySymbols(cb->symbols) : nullptr;
    std::snprintf(info->file, sizeof info->file, "%s", mod ? mod->name : "");
  } else {
    std::snprintf(info->name, sizeof info->name, "%.64s", sym->name);
    info->line = symItem->n16;
    VlModule* mod = sym->dynsym ? sym->dynsym->module : nullptr;
    std::snprintf(info->file, sizeof info->file, "%s", mod ? mod->name : "");
  }
  return true;
}

void vl_stackCallTrace() {
  char line[320];
  if (!vl_stack.items || vl_stack.pos == vl_stack.items) {
    vl_conOutErrStr("Called from vl_vmQuit()");
    vl_conOutErrStr(vl_conNewLine());
    return;
  }
  int32_t off = static_cast<int32_t>(vl_stack.base - vl_stack.items);
  for (int level = 0;; ++level) {
    VlProcInfo info;
    if (!vl_procInfo(level, &info)) break;
    const VlItem* self = vl_stack.items[off + 1];
    if (VL_IS_ARRAY(self)) {
      const char* cls = vl_arrayIsObject(self) ? vl_clsName(vl_arrayClass(self)) : "ARRAY";
      const char* colon = std::strchr(info.name, ':');
      std::snprintf(line, sizeof line, "Called from %s:%s(%i)", cls, colon ? colon + 1 : info.name, info.line);
    } else {
      std::snprintf(line, sizeof line, "Called from %s(%i)", info.name, info.line);
    }
    vl_conOutErrStr(line);
    vl_conOutErrStr(vl_conNewLine());
    if (off <= 0) break;
    off = vl_stack.items[off]->u.sym.prevFrame;
  }
}

void vl_stackDump() {
  VlProcInfo info;
  vl_procInfo(0, &info);
  char buf[512];
  vl_conOutStdStr(vl_conNewLine());
  std::snprintf(buf, sizeof buf, "Virtual Machine Stack Dump at %s(%i):", info.name, info.line);
  vl_conOutStdStr(buf);
  vl_conOutStdStr(vl_conNewLine());
  vl_conOutStdStr("--------------------------");
  for (VlItem** p = vl_stack.base; p && p < vl_stack.pos; ++p) {
    const VlItem* it = *p;
    vl_conOutStdStr(vl_conNewLine());
    switch (it->type & ~VL_IT_MEMOFLAG) {
      case VL_IT_NIL: std::snprintf(buf, sizeof buf, "NIL "); break;
      case VL_IT_POINTER: std::snprintf(buf, sizeof buf, "POINTER = %p ", it->u.ptr); break;
      case VL_IT_INTEGER: std::snprintf(buf, sizeof buf, "INTEGER = %i ", it->u.i32); break;
      case VL_IT_HASH: std::snprintf(buf, sizeof buf, "HASH "); break;
      case VL_IT_LONG: std::snprintf(buf, sizeof buf, "LONG = %" PRId64 " ", it->u.i64); break;
      case VL_IT_DOUBLE: std::snprintf(buf, sizeof buf, "DOUBLE = %f ", it->u.dbl); break;
      case VL_IT_DATE: {
        char ds[9];
        std::snprintf(buf, sizeof buf, "DATE = \"%s\" ", vl_itemGetDS(it, ds));
        break;
      }
      case VL_IT_LOGICAL: std::snprintf(buf, sizeof buf, "LOGICAL = %s ", it->u.i32 ? ".T." : ".F."); break;
      case VL_IT_SYMBOL: std::snprintf(buf, sizeof buf, "SYMBOL = %s ", it->u.sym.sym->name); break;
      case VL_IT_STRING: std::snprintf(buf, sizeof buf, "STRING = \"%.400s\" ", it->u.str.text); break;
      case VL_IT_BLOCK: std::snprintf(buf, sizeof buf, "BLOCK "); break;
      case VL_IT_ARRAY:
        if (vl_arrayIsObject(it)) std::snprintf(buf, sizeof buf, "OBJECT = %s ", vl_clsName(vl_arrayClass(it)));
        else std::snprintf(buf, sizeof buf, "ARRAY ");
        break;
      default: std::snprintf(buf, sizeof buf, "UNKNOWN = TYPE %i ", it->type); break;
    }
    vl_conOutStdStr(buf);
  }
}
