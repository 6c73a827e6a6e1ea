// The extend interface over the current frame of the evaluation stack.
#include "extend.h"

#include "arrays.h"
#include "xmem.h"

namespace {

// The raw slot of parameter n of the current frame (not dereferenced), or null.
VlItem* paramSlot(int n) {
  if (n == -1) return &vl_stack.ret;
  const VlItem* symItem = *vl_stack.base;
  int count = vl_frameParamCount(symItem);
  if (n < 0 || n > count) return nullptr;
  if (symItem->u.sym.paramCnt >= 255) return vl_stack.base[n + (symItem->u.sym.paramCnt - 255)];
  return vl_stack.base[1 + n];
}

// The value argument n stands for; with index > 0 and an array argument, element index.
const VlItem* paramValue(int n, uint32_t index) {
  VlItem* p = paramSlot(n);
  if (!p) return nullptr;
  if (VL_IS_BYREF(p)) p = vl_itemUnRef(p);
  if (index > 0) {
    if (!VL_IS_ARRAY(p)) return nullptr;
    return vl_arrayGetItemPtr(p, index) ? vl_itemUnRef(vl_arrayGetItemPtr(p, index)) : nullptr;
  }
  return p;
}

char s_dateBuffer[9];

// Where a stor... call writes: through a reference argument, into an array element, or into
// the return value for n = -1; null otherwise.
VlItem* storeTarget(int n, uint32_t index) {
  if (n == -1) return &vl_stack.ret;
  VlItem* p = paramSlot(n);
  if (!p || n == 0) return nullptr;
  if (VL_IS_BYREF(p)) {
    VlItem* target = vl_itemUnRef(p);
    if (index > 0) {
      if (!VL_IS_ARRAY(target)) return nullptr;
      return vl_arrayGetItemPtr(target, index);
    }
    return target;
  }
  if (VL_IS_ARRAY(p) && index > 0) return vl_arrayGetItemPtr(p, index);
  return nullptr;
}

}  // namespace

VlItem* vl_param(int n, VlType mask) {
  VlItem* p = paramSlot(n);
  if (!p) return nullptr;
  if (mask == VL_IT_ANY) return VL_IS_BYREF(p) ? vl_itemUnRef(p) : p;
  if (mask == VL_IT_BYREF) return VL_IS_BYREF(p) ? vl_itemUnRef(p) : nullptr;
  if (VL_IS_BYREF(p)) p = vl_itemUnRef(p);
  if (p->type & mask) return p;
  if (mask & VL_IT_NUMERIC) {
    if (VL_IS_DATE(p)) return p;
    if (VL_IS_STRING(p) && p->n32 == 1) return p;
  }
  return nullptr;
}

VlItem* vl_paramError(int n) {
  static VlItem s_nil;  // a NIL that nobody writes to
  VlItem* p = paramSlot(n);
  if (!p) {
    s_nil.type = VL_IT_NIL;
    return &s_nil;
  }
  return VL_IS_BYREF(p) ? vl_itemUnRef(p) : p;
}

int vl_pcount() { return vl_frameParamCount(*vl_stack.base); }

VlType vl_parinfo(int n) {
  if (n == 0) return static_cast<VlType>(vl_pcount());
  VlItem* p = paramSlot(n);
  if (!p) return 0;
  if (VL_IS_BYREF(p)) return static_cast<VlType>(p->type | vl_itemUnRef(p)->type);
  return p->type;
}

uint32_t vl_parinfa(int n, uint32_t index) {
  const VlItem* p = paramValue(n, 0);
  if (!p || !VL_IS_ARRAY(p)) return 0;
  if (index == 0) return vl_arrayLen(p);
  VlItem* e = vl_arrayGetItemPtr(p, index);
  return e ? vl_itemUnRef(e)->type : 0;
}

bool vl_extIsArray(int n) {
  const VlItem* p = paramValue(n, 0);
  return p && VL_IS_ARRAY(p);
}

bool vl_extIsNil(int n) {
  const VlItem* p = paramValue(n, 0);
  return !p || VL_IS_NIL(p);
}

bool vl_extIsByRef(int n) {
  VlItem* p = paramSlot(n);
  return p && VL_IS_BYREF(p);
}

const char* vl_parc(int n, uint32_t index) {
  const VlItem* p = paramValue(n, index);
  return p && VL_IS_STRING(p) ? p->u.str.text : nullptr;
}

const char* vl_parcx(int n, uint32_t index) {
  const char* s = vl_parc(n, index);
  return s ? s : vl_szNull;
}

size_t vl_parclen(int n, uint32_t index) {
  const VlItem* p = paramValue(n, index);
  return p && VL_IS_STRING(p) ? p->n32 : 0;
}

size_t vl_parcsiz(int n, uint32_t index) {
  VlItem* slot = paramSlot(n);
  if (!slot || !VL_IS_BYREF(slot)) return 0;
  const VlItem* p = paramValue(n, index);
  return p && VL_IS_STRING(p) ? p->n32 + 1 : 0;
}

const char* vl_pards(int n, uint32_t index) { return vl_pardsbuff(s_dateBuffer, n, index); }

char* vl_pardsbuff(char* buffer9, int n, uint32_t index) {
  const VlItem* p = paramValue(n, index);
  if (p && VL_IS_DATE(p)) return vl_itemGetDS(p, buffer9);
  for (int i = 0; i < 8; ++i) buffer9[i] = ' ';
  buffer9[8] = '\0';
  return buffer9;
}

int32_t vl_pardl(int n, uint32_t index) {
  const VlItem* p = paramValue(n, index);
  return p && VL_IS_DATE(p) ? p->u.i32 : 0;
}

bool vl_parl(int n, uint32_t index) {
  const VlItem* p = paramValue(n, index);
  return p ? vl_itemGetL(p) : false;
}

double vl_parnd(int n, uint32_t index) {
  const VlItem* p = paramValue(n, index);
  return p ? vl_itemGetND(p) : 0.0;
}

int32_t vl_parni(int n, uint32_t index) {
  const VlItem* p = paramValue(n, index);
  return p ? vl_itemGetNI(p) : 0;
}

long vl_parnl(int n, uint32_t index) {
  const VlItem* p = paramValue(n, index);
  return p ? vl_itemGetNL(p) : 0;
}

int64_t vl_parnll(int n, uint32_t index) {
  const VlItem* p = paramValue(n, index);
  return p ? vl_itemGetNLL(p) : 0;
}

int64_t vl_parnint(int n, uint32_t index) {
  const VlItem* p = paramValue(n, index);
  return p ? vl_itemGetNInt(p) : 0;
}

void* vl_parptr(int n, uint32_t index) {
  const VlItem* p = paramValue(n, index);
  return p ? vl_itemGetPtr(p) : nullptr;
}

// ---- return value ----
void vl_ret() { vl_itemClear(&vl_stack.ret); }
void vl_retc(const char* text) { vl_itemPutC(&vl_stack.ret, text); }
void vl_retclen(const char* text, size_t len) { vl_itemPutCL(&vl_stack.ret, text, len); }
void vl_retc_buffer(char* buffer, size_t len) { vl_itemPutCPtr(&vl_stack.ret, buffer, len); }
void vl_retds(const char* yyyymmdd) { vl_itemPutDS(&vl_stack.ret, yyyymmdd); }
void vl_retd(int year, int month, int day) { vl_itemPutD(&vl_stack.ret, year, month, day); }
void vl_retdl(int32_t julian) { vl_itemPutDL(&vl_stack.ret, julian); }
void vl_retl(bool v) { vl_itemPutL(&vl_stack.ret, v); }
void vl_retnd(double v) { vl_itemPutND(&vl_stack.ret, v); }
void vl_retni(int32_t v) { vl_itemPutNI(&vl_stack.ret, v); }
void vl_retnl(long v) { vl_itemPutNL(&vl_stack.ret, v); }
void vl_retnll(int64_t v) { vl_itemPutNLL(&vl_stack.ret, v); }
void vl_retnint(int64_t v) { vl_itemPutNInt(&vl_stack.ret, v); }
void vl_retnlen(double v, int width, int decimals) { vl_itemPutNLen(&vl_stack.ret, v, width, decimals); }
void vl_retndlen(double v, int width, int decimals) { vl_itemPutNDLen(&vl_stack.ret, v, width, decimals); }
void vl_retnilen(int32_t v, int width) { vl_itemPutNILen(&vl_stack.ret, v, width); }
void vl_retnllen(int64_t v, int width) { vl_itemPutNLLLen(&vl_stack.ret, v, width); }
void vl_retnintlen(int64_t v, int width) { vl_itemPutNIntLen(&vl_stack.ret, v, width); }
void vl_retptr(void* ptr) { vl_itemPutPtr(&vl_stack.ret, ptr); }
void vl_retptrGC(void* ptr) { vl_itemPutPtrGC(&vl_stack.ret, ptr); }
void vl_reta(uint32_t len) { vl_arrayNew(&vl_stack.ret, len); }

// ---- stores ----
bool vl_storItem(const VlItem* value, int n, uint32_t index) {
  VlItem* t = storeTarget(n, index);
  if (!t) return false;
  vl_itemCopy(t, value);
  return true;
}

#define VL_STORE_BODY(putter)                 \
  VlItem* t = storeTarget(n, index);          \
  if (!t) return false;                       \
  putter;                                     \
  return true

bool vl_storc(const char* text, int n, uint32_t index) { VL_STORE_BODY(vl_itemPutC(t, text)); }
bool vl_storclen(const char* text, size_t len, int n, uint32_t index) { VL_STORE_BODY(vl_itemPutCL(t, text, len)); }
bool vl_storclen_buffer(char* buffer, size_t len, int n, uint32_t index) {
  VlItem* t = storeTarget(n, index);
  if (!t) {
    vl_xfree(buffer);
    return false;
  }
  vl_itemPutCPtr(t, buffer, len);
  return true;
}
bool vl_stords(const char* yyyymmdd, int n, uint32_t index) { VL_STORE_BODY(vl_itemPutDS(t, yyyymmdd)); }
bool vl_stordl(int32_t julian, int n, uint32_t index) { VL_STORE_BODY(vl_itemPutDL(t, julian)); }
bool vl_storl(bool v, int n, uint32_t index) { VL_STORE_BODY(vl_itemPutL(t, v)); }
bool vl_storni(int32_t v, int n, uint32_t index) { VL_STORE_BODY(vl_itemPutNI(t, v)); }
bool vl_stornl(long v, int n, uint32_t index) { VL_STORE_BODY(vl_itemPutNL(t, v)); }
bool vl_stornd(double v, int n, uint32_t index) { VL_STORE_BODY(vl_itemPutND(t, v)); }
bool vl_stornll(int64_t v, int n, uint32_t index) { VL_STORE_BODY(vl_itemPutNLL(t, v)); }
bool vl_stornint(int64_t v, int n, uint32_t index) { VL_STORE_BODY(vl_itemPutNInt(t, v)); }
bool vl_storptr(void* ptr, int n, uint32_t index) { VL_STORE_BODY(vl_itemPutPtr(t, ptr)); }
