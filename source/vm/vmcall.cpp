// The call protocol (vl_vmDo, vl_vmSend), calls from native code, and the procedure
// introspection functions.
#include "vmcall.h"

#include <sys/resource.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "arrays.h"
#include "classes.h"
#include "codeblock.h"
#include "errint.h"
#include "executor.h"
#include "extend.h"
#include "hashes.h"
#include "memvars.h"
#include "vm.h"

namespace {

VlSymbol s_evalSymbol = {"__EVAL", VL_FS_PUBLIC, {nullptr}, nullptr};

// Every call re-enters the executor on the host stack, so unbounded recursion in a program would
// overflow it and crash. Calls stop with an internal error while there is still room to report.
const char* s_hostStackLimit;

void setHostStackLimit() {
  char here;
  struct rlimit rl{};
  size_t size = 8u << 20;
  if (getrlimit(RLIMIT_STACK, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY && rl.rlim_cur < size) size = rl.rlim_cur;
  s_hostStackLimit = &here - size * 3 / 4;
}

inline void checkHostStack() {
  char probe;
  if (!s_hostStackLimit) setHostStackLimit();
  if (&probe < s_hostStackLimit) {
    char depth[24];
    std::snprintf(depth, sizeof depth, "%u", vl_stack.callDepth);
    vl_errInternal(9000, "Too many nested calls (%s): the program recursed too deep", depth, nullptr);
  }
}

// Opens the frame of a call whose symbol, self and n arguments are on the stack.
struct Frame {
  int32_t prevBase;
  int32_t prevStatics;
  uint16_t lineBase;
};

inline Frame openFrame(uint16_t n, const char* from) {
  VlItem** symSlot = vl_stack.pos - n - 2;
  if (symSlot < vl_stack.items || !VL_IS_SYMBOL(*symSlot)) {
    vl_stackDump();
    vl_errInternal(9015, "Symbol item expected from %s", from, nullptr);
  }
  checkHostStack();
  Frame f{static_cast<int32_t>(vl_stack.base - vl_stack.items), vl_stack.staticsBase, vl_vmLineBase};
  VlItem* symItem = *symSlot;
  symItem->n16 = 0;
  symItem->u.sym.paramCnt = n;
  symItem->u.sym.prevFrame = f.prevBase;
  vl_stack.base = symSlot;
  ++vl_stack.callDepth;
  return f;
}

inline void closeFrame(const Frame& f) {
  VlItem** base = vl_stack.base;
  const VlItem* symItem = *base;
  int params = vl_frameParamCount(symItem);
  VlItem** paramsEnd = base + 2 + params;
  while (vl_stack.pos > base) {
    VlItem* it = *--vl_stack.pos;
    if (VL_IS_MEMVAR(it) && vl_stack.pos >= base + 2 && vl_stack.pos < paramsEnd) {
      // A parameter passed by reference to a memory variable: when that variable's value is
      // itself a reference, the variable takes the referenced value before the slot goes.
      VlItem* value = vl_memvarValueItem(static_cast<uint32_t>(it->u.ref.offset + it->u.ref.index));
      if (VL_IS_BYREF(value)) {
        VlItem tmp;
        tmp.type = VL_IT_NIL;
        vl_itemCopy(&tmp, vl_itemUnRef(value));
        vl_itemForwardValue(value, &tmp);
      }
    }
    vl_itemClearInline(it);
  }
  vl_stack.base = vl_stack.items + f.prevBase;
  vl_stack.staticsBase = f.prevStatics;
  vl_vmLineBase = f.lineBase;
  --vl_stack.callDepth;
}

inline void callFunction(VlSymbol* fsym) {
  if (fsym->scope & VL_FS_PCODEFUNC) {
    const VlPcodeFunc* pf = fsym->value.pcodeFunc;
    vl_vmExecute(pf->pcode, pf->symbols, pf->globals, pf->length);
  } else {
    fsym->value.func();
  }
}

const char* scalarClassName(const VlItem* self) {
  switch (self->type & ~(VL_IT_MEMOFLAG)) {
    case VL_IT_NIL: return "NIL";
    case VL_IT_INTEGER:
    case VL_IT_LONG:
    case VL_IT_DOUBLE: return "NUMERIC";
    case VL_IT_DATE: return "DATE";
    case VL_IT_LOGICAL: return "LOGICAL";
    case VL_IT_SYMBOL: return "SYMBOL";
    case VL_IT_STRING: return "CHARACTER";
    case VL_IT_BLOCK: return "BLOCK";
    case VL_IT_ARRAY: return "ARRAY";
    case VL_IT_HASH: return "HASH";
    default: return "UNKNOWN";
  }
}

// The arguments of the running call as an array, for the error system.
VlItem* frameArguments() { return vl_arrayFromParams(static_cast<int32_t>(vl_stack.base - vl_stack.items)); }

void noMethodError(const char* className, const char* message) {
  VlItem* args = frameArguments();
  char desc[160];
  if (message[0] == '_') {
    std::snprintf(desc, sizeof desc, "Class: '%s' has no property", className);
    vl_errRT_BASE_SubstR(VL_EG_NOVARMETHOD, 1005, desc, message + 1, 1, args);
  } else {
    std::snprintf(desc, sizeof desc, "Class: '%s' has no exported method", className);
    vl_errRT_BASE_SubstR(VL_EG_NOMETHOD, 1004, desc, message, 1, args);
  }
  vl_itemRelease(args);
}

}  // namespace

VlSymbol* vl_vmEvalSymbol() { return &s_evalSymbol; }

void vl_vmRegisterEvalSymbol() {
  setHostStackLimit();  // start-up runs near the bottom of the host stack
  s_evalSymbol.value.func = vl_codeblockEvaluate;
  s_evalSymbol.dynsym = VL_SYM_DEFINED;
  vl_dynsymNew(&s_evalSymbol, nullptr);
}

void vl_vmDo(uint16_t n) {
  if (!VL_IS_NIL(vl_stack.pos[-static_cast<int>(n) - 1])) {
    vl_vmSend(n);
    return;
  }
  // A function that sets nothing returns NIL, whoever calls it.
  vl_itemClearInline(&vl_stack.ret);
  Frame f = openFrame(n, "vl_vmDo()");
  VlSymbol* sym = (*vl_stack.base)->u.sym.sym;
  if (VlSymbol* fsym = vl_symbolFunction(sym)) {
    callFunction(fsym);
  } else {
    VlItem* args = frameArguments();
    vl_errRT_BASE_SubstR(VL_EG_NOFUNC, 1001, nullptr, sym->name, 1, args);
    vl_itemRelease(args);
  }
  closeFrame(f);
}

void vl_vmSend(uint16_t n) {
  vl_itemClear(&vl_stack.ret);
  Frame f = openFrame(n, "vl_vmSend()");
  VlItem* symItem = *vl_stack.base;
  VlSymbol* msg = symItem->u.sym.sym;
  VlItem* selfSlot = vl_stack.base[1];
  if (VL_IS_BYREF(selfSlot)) {
    VlItem tmp;
    tmp.type = VL_IT_NIL;
    vl_itemCopy(&tmp, vl_itemUnRef(selfSlot));
    vl_itemForwardValue(selfSlot, &tmp);
  }
  const char* name = msg->name;

  if (VL_IS_BLOCK(selfSlot) &&
      (msg == &s_evalSymbol || (msg->dynsym && msg->dynsym == s_evalSymbol.dynsym) ||
       std::strncmp(name, "EVAL", 4) == 0)) {
    vl_codeblockEvaluate();
  } else if (vl_clsDispatch(msg, n)) {
    // The class system ran the method.
  } else if (VL_IS_HASH(selfSlot)) {
    noMethodError("HASH", name);
  } else {
    size_t len = std::strlen(name);
    if (len >= 4 && std::strncmp("CLASSNAME", name, len) == 0) {
      vl_retc(scalarClassName(selfSlot));
    } else if (std::strncmp(name, "CLASSH", 6) == 0) {
      vl_retni(0);
    } else {
      noMethodError(scalarClassName(selfSlot), name);
    }
  }
  closeFrame(f);
}

void vl_vmFunction(uint16_t n) {
  vl_vmDo(n);
  vl_vmPush(&vl_stack.ret);
}

VlItem* vl_vmEvalBlock(const VlItem* block) {
  vl_vmPushSymbol(&s_evalSymbol);
  vl_vmPush(block);
  vl_vmSend(0);
  return &vl_stack.ret;
}

VlItem* vl_vmEvalBlockV(const VlItem* block, int count, ...) {
  vl_vmPushSymbol(&s_evalSymbol);
  vl_vmPush(block);
  va_list ap;
  va_start(ap, count);
  for (int i = 0; i < count; ++i) {
    const VlItem* arg = va_arg(ap, const VlItem*);
    if (arg) vl_vmPush(arg);
    else vl_vmPushNil();
  }
  va_end(ap);
  vl_vmSend(static_cast<uint16_t>(count));
  return &vl_stack.ret;
}

static VlItem* doItemV(const VlItem* item, int count, va_list ap) {
  if (!item) return nullptr;
  if (VL_IS_STRING(item)) {
    VlDynSym* d = vl_dynsymFindName(item->u.str.text);
    if (!d) return nullptr;
    vl_vmPushSymbol(d->symbol);
    vl_vmPushNil();
  } else if (VL_IS_SYMBOL(item)) {
    vl_vmPushSymbol(item->u.sym.sym);
    vl_vmPushNil();
  } else if (VL_IS_BLOCK(item)) {
    vl_vmPushSymbol(&s_evalSymbol);
    vl_vmPush(item);
  } else {
    return nullptr;
  }
  for (int i = 0; i < count; ++i) {
    const VlItem* arg = va_arg(ap, const VlItem*);
    if (arg) vl_vmPush(arg);
    else vl_vmPushNil();
  }
  if (VL_IS_BLOCK(item)) vl_vmSend(static_cast<uint16_t>(count));
  else vl_vmDo(static_cast<uint16_t>(count));
  VlItem* result = vl_itemNew(nullptr);
  vl_itemForwardValue(result, &vl_stack.ret);
  return result;
}

VlItem* vl_itemDo(const VlItem* item, int count, ...) {
  va_list ap;
  va_start(ap, count);
  VlItem* r = doItemV(item, count, ap);
  va_end(ap);
  return r;
}

VlItem* vl_itemDoC(const char* name, int count, ...) {
  VlDynSym* d = vl_dynsymFindName(name);
  if (!d) return nullptr;
  VlItem sym;
  sym.type = VL_IT_SYMBOL;
  sym.u.sym.sym = d->symbol;
  va_list ap;
  va_start(ap, count);
  VlItem* r = doItemV(&sym, count, ap);
  va_end(ap);
  return r;
}

VlItem* vl_objSendMsg(const VlItem* object, const char* message, int count, ...) {
  VlDynSym* d = vl_dynsymGet(message);
  vl_vmPushSymbol(d->symbol);
  vl_vmPush(object);
  va_list ap;
  va_start(ap, count);
  for (int i = 0; i < count; ++i) {
    const VlItem* arg = va_arg(ap, const VlItem*);
    if (arg) vl_vmPush(arg);
    else vl_vmPushNil();
  }
  va_end(ap);
  vl_vmSend(static_cast<uint16_t>(count));
  return &vl_stack.ret;
}

// ---- language-level functions ----

// PCOUNT(): the parameter count of the calling procedure.
VL_FUNC(PCOUNT) {
  int32_t off = vl_stackFrameOffset(1);
  vl_retni(off >= 0 ? vl_frameParamCount(vl_stack.items[off]) : 0);
}

static int levelArg() {
  const VlItem* p = vl_param(1, VL_IT_NUMERIC);
  return p ? vl_itemGetNI(p) : 0;
}

VL_FUNC(PROCNAME) {
  VlProcInfo info;
  int level = levelArg();
  if (level >= 0 && vl_procInfo(level + 1, &info)) vl_retc(info.name);
  else vl_retc("");
}

VL_FUNC(PROCLINE) {
  VlProcInfo info;
  int level = levelArg();
  if (level >= 0 && vl_procInfo(level + 1, &info)) vl_retni(info.line);
  else vl_retni(0);
}

VL_FUNC(PROCFILE) {
  VlProcInfo info;
  int level = levelArg();
  if (level >= 0 && vl_procInfo(level + 1, &info)) vl_retc(info.file);
  else vl_retc("");
}

// VL_QSELF(): self of the calling procedure; inside a codeblock, the object of the method in
// which the block was made, looking further up for blocks made outside any method.
VL_FUNC(VL_QSELF) {
  int32_t off = vl_stackFrameOffset(1);
  while (off >= 0) {
    const VlItem* self = vl_stack.items[off + 1];
    if (!VL_IS_BLOCK(self)) {
      vl_itemReturn(self);
      return;
    }
    const VlCodeblock* cb = self->u.blk.base;
    if (cb->object) {
      VlItem tmp;
      tmp.type = VL_IT_ARRAY;
      tmp.u.arr.base = cb->object;
      vl_itemReturn(&tmp);
      return;
    }
    if (off == 0) {
      vl_itemReturn(self);
      return;
    }
    off = vl_stack.items[off]->u.sym.prevFrame;
  }
  vl_ret();
}

VL_NATIVE_MODULE(vmcall, VL_FUNCENTRY(PCOUNT), VL_FUNCENTRY(PROCNAME), VL_FUNCENTRY(PROCLINE),
                 VL_FUNCENTRY(PROCFILE), VL_FUNCENTRY(VL_QSELF));
