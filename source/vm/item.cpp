// Item operations: life cycle, holder counts, typed setters and getters, text forms.
#include "item.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "../rtl/dates.h"
#include "../rtl/numconv.h"
#include "../rtl/set.h"
#include "arrays.h"
#include "codeblock.h"
#include "errapi.h"
#include "errint.h"
#include "gc.h"
#include "memvars.h"
#include "stack.h"
#include "xmem.h"

const char vl_szNull[] = "";

namespace {

// Entry 0 is "", entry c+1 the one-character string of byte c; every entry is zero-terminated.
struct ShortStrings {
  char text[256][2];
  ShortStrings() {
    for (int c = 0; c < 256; ++c) {
      text[c][0] = static_cast<char>(c);
      text[c][1] = '\0';
    }
  }
};
const ShortStrings s_short;

// An owned text: [holders][pad][text...\0] in one block, so the common case allocates once.
constexpr size_t STR_HEADER = 8;

inline void releaseString(VlItem* item) {
  uint32_t* holders = item->u.str.holders;
  if (*holders == 0) {
    char preview[64];
    std::snprintf(preview, sizeof preview, "%.60s", item->u.str.text);
    vl_errInternal(9027, "Premature String Release detected: '%s'", preview, nullptr);
  }
  if (--*holders == 0) {
    if (reinterpret_cast<char*>(holders) + STR_HEADER != item->u.str.text) vl_xfree(item->u.str.text);
    vl_xfree(holders);
  }
}

inline void setStatic(VlItem* item, const char* text, size_t len) {
  item->type = VL_IT_STRING;
  item->n16 = 1;
  item->n32 = static_cast<uint32_t>(len);
  item->u.str.text = const_cast<char*>(text);
  item->u.str.holders = nullptr;
}

inline VlItem* target(VlItem* item) {
  if (!item) return vl_itemNew(nullptr);
  vl_itemClearInline(item);
  return item;
}

char* newOwnedText(VlItem* item, size_t len) {
  if (len > 0xFFFFFFFEu) vl_errInternal(9022, nullptr, nullptr, nullptr);
  auto* block = static_cast<char*>(vl_xgrab(STR_HEADER + len + 1));
  auto* holders = reinterpret_cast<uint32_t*>(block);
  *holders = 1;
  item->type = VL_IT_STRING;
  item->n16 = 0;
  item->n32 = static_cast<uint32_t>(len);
  item->u.str.text = block + STR_HEADER;
  item->u.str.holders = holders;
  item->u.str.text[len] = '\0';
  return item->u.str.text;
}

}  // namespace

const char* vl_itemShortString(size_t len, unsigned char c) { return len == 0 ? vl_szNull : s_short.text[c]; }

uint16_t vl_itemDefaultWidthLong(int64_t v) { return (v < -999999999LL || v > 9999999999LL) ? 20 : 10; }

uint16_t vl_itemDefaultWidthDouble(double d) {
  if (std::isnan(d) || d >= 10000000000.0 || d <= -999999999.0) return 20;
  return 10;
}

// ---- life cycle ----
VlItem* vl_itemNew(const VlItem* src) { return vl_gcGripGet(src); }

bool vl_itemRelease(VlItem* item) {
  if (!item) return false;
  vl_gcGripDrop(item);
  return true;
}

void vl_itemClearComplex(VlItem* item) {
  VlType type = item->type;
  item->type = VL_IT_NIL;
  if (type & VL_IT_STRING) {
    if (!item->n16) releaseString(item);
  } else if (type & VL_IT_ARRAY) {
    vl_arrayDrop(item->u.arr.base, false);
  } else if (type & VL_IT_BLOCK) {
    vl_codeblockDrop(item->u.blk.base);
  } else if (type & VL_IT_BYREF) {
    if (type & VL_IT_MEMVAR) vl_memvarValueRelease(static_cast<uint32_t>(item->u.ref.offset + item->u.ref.index));
    else if (item->n16 == VL_REF_ARRAY) vl_arrayDrop(static_cast<VlArrayBase*>(item->u.ref.ptr), true);
  }
  // Hashes carry no holder count: the collector reclaims them.
}

void vl_itemClear(VlItem* item) { vl_itemClearInline(item); }

static inline void addHold(const VlItem* item) {
  VlType type = item->type;
  if (type & VL_IT_STRING) {
    if (!item->n16) ++*item->u.str.holders;
  } else if (type & VL_IT_ARRAY) {
    ++item->u.arr.base->holders;
  } else if (type & VL_IT_BLOCK) {
    ++item->u.blk.base->holders;
  } else if (type & VL_IT_BYREF) {
    if (type & VL_IT_MEMVAR) vl_memvarValueHold(static_cast<uint32_t>(item->u.ref.offset + item->u.ref.index));
    else if (item->n16 == VL_REF_ARRAY) ++static_cast<VlArrayBase*>(item->u.ref.ptr)->holders;
  }
}

void vl_itemCopy(VlItem* dst, const VlItem* src) {
  if (dst == src) vl_errInternal(9020, nullptr, "vl_itemCopy()", nullptr);
  // Take the new hold before releasing the old value: dst may hold the only path to src.
  if (src->type & VL_IT_COMPLEX) addHold(src);
  if (dst->type & VL_IT_COMPLEX) {
    VlItem old = *dst;
    *dst = *src;
    vl_itemClearComplex(&old);
  } else {
    *dst = *src;
  }
}

void vl_itemForwardValue(VlItem* dst, VlItem* src) {
  if (dst == src) vl_errInternal(9020, nullptr, "vl_itemForwardValue()", nullptr);
  if (dst->type & VL_IT_COMPLEX) {
    VlItem old = *dst;
    *dst = *src;
    src->type = VL_IT_NIL;
    vl_itemClearComplex(&old);
  } else {
    *dst = *src;
    src->type = VL_IT_NIL;
  }
}

void vl_itemMove(VlItem* dst, VlItem* src) {
  *dst = *src;
  src->type = VL_IT_NIL;
}

void vl_itemSwap(VlItem* a, VlItem* b) {
  VlItem t = *a;
  *a = *b;
  *b = t;
}

VlItem* vl_itemUnRefOnce(VlItem* item) {
  if (!VL_IS_BYREF(item)) return item;
  if (VL_IS_MEMVAR(item)) return vl_memvarValueItem(static_cast<uint32_t>(item->u.ref.offset + item->u.ref.index));
  switch (item->n16) {
    case VL_REF_ARRAY: {
      auto* base = static_cast<VlArrayBase*>(item->u.ref.ptr);
      auto index = static_cast<uint32_t>(item->u.ref.index);
      if (index < base->len) return &base->items[index];
      // The array shrank after the reference was made.
      VlItem arr;
      arr.type = VL_IT_ARRAY;
      arr.u.arr.base = base;
      VlItem idx;
      idx.type = VL_IT_LONG;
      idx.n16 = 10;
      idx.u.i64 = static_cast<int64_t>(index) + 1;
      vl_errRT_BASE(VL_EG_BOUND, 1132, nullptr, "array access", 2, &arr, &idx);
      // Never reach outside the array's storage: the value reads as NIL and writes are lost.
      static VlItem s_scratch;
      vl_itemClear(&s_scratch);
      return &s_scratch;
    }
    case VL_REF_BLOCKLOCAL: {
      auto* locals = static_cast<VlItem*>(item->u.ref.ptr);
      return &locals[-item->u.ref.index];
    }
    case VL_REF_LOCAL:
    case VL_REF_GLOBAL: {
      VlItem** table = *static_cast<VlItem***>(item->u.ref.ptr);
      return table[item->u.ref.offset + item->u.ref.index];
    }
    default:
      return item;
  }
}

VlItem* vl_itemUnRef(VlItem* item) {
  while (VL_IS_BYREF(item)) {
    VlItem* next = vl_itemUnRefOnce(item);
    if (next == item) break;
    item = next;
  }
  return item;
}

VlItem* vl_itemUnRefRefer(VlItem* item) {
  VlItem* last = item;
  while (VL_IS_BYREF(item)) {
    last = item;
    VlItem* next = vl_itemUnRefOnce(item);
    if (next == item) break;
    item = next;
  }
  return VL_IS_BYREF(item) ? item : last;
}

VlType vl_itemType(const VlItem* item) { return item ? item->type : 0; }

const char* vl_itemTypeStr(const VlItem* item) {
  if (!item) return "U";
  VlType t = static_cast<VlType>(item->type & ~VL_IT_BYREF);
  if (t & VL_IT_ARRAY) return vl_arrayIsObject(item) ? "O" : "A";
  if (t & VL_IT_BLOCK) return "B";
  if (t & VL_IT_STRING) return (t & VL_IT_MEMOFLAG) ? "M" : "C";
  if (t & VL_IT_NUMERIC) return "N";
  if (t & VL_IT_DATE) return "D";
  if (t & VL_IT_LOGICAL) return "L";
  if (t & VL_IT_HASH) return "H";
  if (t & VL_IT_POINTER) return "P";
  return "U";
}

uint32_t vl_itemSize(const VlItem* item) {
  if (!item) return 0;
  if (VL_IS_STRING(item)) return item->n32;
  if (VL_IS_ARRAY(item)) return vl_arrayLen(item);
  if (VL_IS_HASH(item)) return 0;
  return 0;
}

// ---- setters ----
VlItem* vl_itemPutNil(VlItem* item) { return target(item); }

VlItem* vl_itemPutL(VlItem* item, bool v) {
  item = target(item);
  item->type = VL_IT_LOGICAL;
  item->u.i32 = v ? 1 : 0;
  return item;
}

VlItem* vl_itemPutNILen(VlItem* item, int32_t v, int width) {
  item = target(item);
  item->type = VL_IT_INTEGER;
  item->n16 = (width >= 1 && width <= 99) ? static_cast<uint16_t>(width) : VL_DEFAULT_WIDTH_INT(v);
  item->u.i32 = v;
  return item;
}

VlItem* vl_itemPutNI(VlItem* item, int32_t v) { return vl_itemPutNILen(item, v, 0); }

VlItem* vl_itemPutNLLLen(VlItem* item, int64_t v, int width) {
  item = target(item);
  item->type = VL_IT_LONG;
  item->n16 = (width >= 1 && width <= 99) ? static_cast<uint16_t>(width) : vl_itemDefaultWidthLong(v);
  item->u.i64 = v;
  return item;
}

VlItem* vl_itemPutNLL(VlItem* item, int64_t v) { return vl_itemPutNLLLen(item, v, 0); }

VlItem* vl_itemPutNIntLen(VlItem* item, int64_t v, int width) {
  if (v >= INT32_MIN && v <= INT32_MAX) return vl_itemPutNILen(item, static_cast<int32_t>(v), width);
  return vl_itemPutNLLLen(item, v, width);
}

VlItem* vl_itemPutNInt(VlItem* item, int64_t v) { return vl_itemPutNIntLen(item, v, 0); }

// A C long is 64 bits here; it becomes an integer when it fits.
VlItem* vl_itemPutNL(VlItem* item, long v) { return vl_itemPutNInt(item, v); }

VlItem* vl_itemPutNDLen(VlItem* item, double v, int width, int decimals) {
  item = target(item);
  item->type = VL_IT_DOUBLE;
  item->n16 = (width >= 1 && width <= 99) ? static_cast<uint16_t>(width) : vl_itemDefaultWidthDouble(v);
  item->n32 = static_cast<uint32_t>(decimals < 0 ? vl_set.decimals : decimals);
  item->u.dbl = v;
  return item;
}

VlItem* vl_itemPutND(VlItem* item, double v) { return vl_itemPutNDLen(item, v, 0, -1); }

VlItem* vl_itemPutNLen(VlItem* item, double v, int width, int decimals) {
  if (width <= 0 || width >= 100) width = vl_itemDefaultWidthDouble(v);
  if (decimals < 0) decimals = vl_set.decimals;
  if (decimals == 0) {
    if (v >= INT32_MIN && v <= INT32_MAX) return vl_itemPutNILen(item, static_cast<int32_t>(v), width);
    if (v >= -9223372036854775808.0 && v < 9223372036854775808.0)
      return vl_itemPutNLLLen(item, static_cast<int64_t>(v), width);
  }
  return vl_itemPutNDLen(item, v, width, decimals);
}

VlItem* vl_itemPutCL(VlItem* item, const char* text, size_t len) {
  item = target(item);
  if (len <= 1) {
    setStatic(item, vl_itemShortString(len, len ? static_cast<unsigned char>(text[0]) : 0), len);
    return item;
  }
  std::memcpy(newOwnedText(item, len), text, len);
  return item;
}

VlItem* vl_itemPutC(VlItem* item, const char* text) { return vl_itemPutCL(item, text ? text : "", text ? std::strlen(text) : 0); }

char* vl_itemPutCLBuffer(VlItem* item, size_t len) {
  vl_itemClearInline(item);
  return newOwnedText(item, len);
}

VlItem* vl_itemPutCPtr(VlItem* item, char* buffer, size_t len) {
  item = target(item);
  if (len <= 1) {
    setStatic(item, vl_itemShortString(len, len ? static_cast<unsigned char>(buffer[0]) : 0), len);
    vl_xfree(buffer);
    return item;
  }
  buffer[len] = '\0';
  auto* holders = static_cast<uint32_t*>(vl_xgrab(sizeof(uint32_t)));
  *holders = 1;
  item->type = VL_IT_STRING;
  item->n16 = 0;
  item->n32 = static_cast<uint32_t>(len);
  item->u.str.text = buffer;
  item->u.str.holders = holders;
  return item;
}

VlItem* vl_itemPutCLStatic(VlItem* item, const char* text, size_t len) {
  item = target(item);
  setStatic(item, text, len);
  return item;
}

VlItem* vl_itemPutCStatic(VlItem* item, const char* text) { return vl_itemPutCLStatic(item, text, std::strlen(text)); }

VlItem* vl_itemSetCMemo(VlItem* item) {
  if (item && VL_IS_STRING(item)) item->type |= VL_IT_MEMOFLAG;
  return item;
}

VlItem* vl_itemPutDL(VlItem* item, int32_t julian) {
  item = target(item);
  item->type = VL_IT_DATE;
  item->u.i32 = julian;
  return item;
}

VlItem* vl_itemPutD(VlItem* item, int year, int month, int day) {
  return vl_itemPutDL(item, vl_dateEncode(year, month, day));
}

VlItem* vl_itemPutDS(VlItem* item, const char* yyyymmdd) { return vl_itemPutDL(item, vl_dateEncStr(yyyymmdd)); }

VlItem* vl_itemPutPtr(VlItem* item, void* ptr) {
  item = target(item);
  item->type = VL_IT_POINTER;
  item->n32 = 0;
  item->u.ptr = ptr;
  return item;
}

VlItem* vl_itemPutPtrGC(VlItem* item, void* ptr) {
  item = vl_itemPutPtr(item, ptr);
  item->n32 = 1;
  return item;
}

VlItem* vl_itemPutSymbol(VlItem* item, VlSymbol* sym) {
  item = target(item);
  item->type = VL_IT_SYMBOL;
  item->n16 = 0;
  item->u.sym.sym = sym;
  item->u.sym.prevFrame = 0;
  item->u.sym.paramCnt = 0;
  item->u.sym.classH = 0;
  return item;
}

// ---- getters ----
bool vl_itemGetL(const VlItem* item) {
  if (!item) return false;
  switch (item->type & ~VL_IT_MEMOFLAG) {
    case VL_IT_LOGICAL: return item->u.i32 != 0;
    case VL_IT_INTEGER: return item->u.i32 != 0;
    case VL_IT_LONG: return item->u.i64 != 0;
    case VL_IT_DOUBLE: return item->u.dbl != 0.0;
    case VL_IT_STRING: return item->n32 == 1 && item->u.str.text[0] != '\0';
    default: return false;
  }
}

double vl_itemGetND(const VlItem* item) {
  if (!item) return 0.0;
  switch (item->type & ~VL_IT_MEMOFLAG) {
    case VL_IT_INTEGER: return item->u.i32;
    case VL_IT_LONG: return static_cast<double>(item->u.i64);
    case VL_IT_DOUBLE: return item->u.dbl;
    case VL_IT_DATE: return item->u.i32;
    case VL_IT_LOGICAL: return item->u.i32 ? 1.0 : 0.0;
    case VL_IT_STRING: return item->n32 == 1 ? static_cast<unsigned char>(item->u.str.text[0]) : 0.0;
    default: return 0.0;
  }
}

int64_t vl_itemGetNLL(const VlItem* item) {
  if (!item) return 0;
  switch (item->type & ~VL_IT_MEMOFLAG) {
    case VL_IT_INTEGER: return item->u.i32;
    case VL_IT_LONG: return item->u.i64;
    case VL_IT_DOUBLE: {
      double d = item->u.dbl;
      if (std::isnan(d)) return 0;
      if (d >= 9223372036854775807.0) return INT64_MAX;
      if (d <= -9223372036854775808.0) return INT64_MIN;
      return static_cast<int64_t>(d);
    }
    case VL_IT_DATE: return item->u.i32;
    case VL_IT_LOGICAL: return item->u.i32 ? 1 : 0;
    case VL_IT_STRING: return item->n32 == 1 ? static_cast<unsigned char>(item->u.str.text[0]) : 0;
    default: return 0;
  }
}

int32_t vl_itemGetNI(const VlItem* item) { return static_cast<int32_t>(vl_itemGetNLL(item)); }
long vl_itemGetNL(const VlItem* item) { return static_cast<long>(vl_itemGetNLL(item)); }
int64_t vl_itemGetNInt(const VlItem* item) { return vl_itemGetNLL(item); }

void vl_itemGetNLen(const VlItem* item, int* width, int* decimals) {
  int w = 0, d = 0;
  if (item) {
    if (VL_IS_NUMINT(item)) w = item->n16;
    else if (VL_IS_DOUBLE(item)) {
      w = item->n16;
      d = static_cast<int>(item->n32);
    }
  }
  if (width) *width = w;
  if (decimals) *decimals = d;
}

char* vl_itemGetC(const VlItem* item) {
  if (!item || !VL_IS_STRING(item)) return nullptr;
  return vl_strndup(item->u.str.text, item->n32);
}

const char* vl_itemGetCPtr(const VlItem* item) { return item && VL_IS_STRING(item) ? item->u.str.text : vl_szNull; }

size_t vl_itemGetCLen(const VlItem* item) { return item && VL_IS_STRING(item) ? item->n32 : 0; }

size_t vl_itemCopyC(const VlItem* item, char* buffer, size_t n) {
  if (!item || !VL_IS_STRING(item)) return 0;
  size_t len = item->n32;
  if (n == 0 || n > len) n = len;
  std::memcpy(buffer, item->u.str.text, n);
  return n;
}

char* vl_itemGetDS(const VlItem* item, char* buffer9) {
  return vl_dateDecStr(buffer9, item && VL_IS_DATE(item) ? item->u.i32 : 0);
}

int32_t vl_itemGetDL(const VlItem* item) { return item && VL_IS_DATE(item) ? item->u.i32 : 0; }

void* vl_itemGetPtr(const VlItem* item) { return item && VL_IS_POINTER(item) ? item->u.ptr : nullptr; }

VlSymbol* vl_itemGetSymbol(const VlItem* item) { return item && VL_IS_SYMBOL(item) ? item->u.sym.sym : nullptr; }

// ---- strings ----
char* vl_itemUnShareString(VlItem* item) {
  if (item->n16 || *item->u.str.holders > 1) {
    size_t len = item->n32;
    const char* old = item->u.str.text;
    VlItem tmp;
    tmp.type = VL_IT_NIL;
    std::memcpy(newOwnedText(&tmp, len), old, len);
    tmp.type = item->type;  // keeps the memo bit
    vl_itemClearInline(item);
    *item = tmp;
  }
  return item->u.str.text;
}

char* vl_itemReSizeString(VlItem* item, size_t len) {
  VlType memo = item->type & VL_IT_MEMOFLAG;
  if (!item->n16 && *item->u.str.holders == 1 &&
      reinterpret_cast<char*>(item->u.str.holders) + STR_HEADER == item->u.str.text) {
    auto* block = static_cast<char*>(vl_xrealloc(item->u.str.holders, STR_HEADER + len + 1));
    item->u.str.holders = reinterpret_cast<uint32_t*>(block);
    item->u.str.text = block + STR_HEADER;
  } else {
    size_t keep = item->n32 < len ? item->n32 : len;
    VlItem tmp;
    tmp.type = VL_IT_NIL;
    char* text = newOwnedText(&tmp, len);
    std::memcpy(text, item->u.str.text, keep);
    vl_itemClearInline(item);
    *item = tmp;
  }
  item->type = static_cast<VlType>(VL_IT_STRING | memo);
  item->n32 = static_cast<uint32_t>(len);
  item->u.str.text[len] = '\0';
  return item->u.str.text;
}

// ---- text forms ----
// vl_itemStr, the STR() conversion, lives with the number formatter (rtl/numconv.cpp).

char* vl_itemString(const VlItem* item, size_t* len, bool* freeable) {
  *freeable = false;
  char buf[64];
  const char* text = vl_szNull;
  switch (item->type & ~VL_IT_MEMOFLAG) {
    case VL_IT_NIL: text = "NIL"; break;
    case VL_IT_POINTER:
      std::snprintf(buf, sizeof buf, "%p", item->u.ptr);
      text = buf;
      break;
    case VL_IT_INTEGER:
    case VL_IT_LONG:
    case VL_IT_DOUBLE: {
      char* s = vl_numStr(item, nullptr, nullptr, true, len);
      if (!s) break;  // a width of 0: no text
      *freeable = true;
      return s;
    }
    case VL_IT_DATE: {
      char* s = static_cast<char*>(vl_xgrab(16));
      vl_dateFormat(s, item->u.i32, vl_set.dateFormat);
      *len = std::strlen(s);
      *freeable = true;
      return s;
    }
    case VL_IT_LOGICAL: text = item->u.i32 ? "T" : "F"; break;
    case VL_IT_STRING:
      *len = item->n32;
      return item->u.str.text;
    default: break;
  }
  *len = std::strlen(text);
  if (text == buf) {
    *freeable = true;
    return vl_strndup(buf, *len);
  }
  return const_cast<char*>(text);
}

char* vl_itemPadConv(const VlItem* item, size_t* len, bool* freeable) {
  *freeable = false;
  if (VL_IS_NUMERIC(item)) {
    char* s = vl_itemString(item, len, freeable);
    size_t skip = 0;
    while (skip < *len && s[skip] == ' ') ++skip;
    if (skip) {
      std::memmove(s, s + skip, *len - skip + 1);
      *len -= skip;
    }
    return s;
  }
  if (VL_IS_DATE(item) || VL_IS_STRING(item)) return vl_itemString(item, len, freeable);
  *len = 0;
  return const_cast<char*>(vl_szNull);
}

VlItem* vl_itemValToStr(const VlItem* item) {
  size_t len;
  bool freeable;
  char* s = vl_itemString(item, &len, &freeable);
  VlItem* result = vl_itemNew(nullptr);
  vl_itemPutCL(result, s, len);
  if (freeable) vl_xfree(s);
  return result;
}

// ---- array shortcuts ----
VlItem* vl_itemArrayNew(uint32_t len) {
  VlItem* item = vl_itemNew(nullptr);
  vl_arrayNew(item, len);
  return item;
}

VlItem* vl_itemArrayGet(const VlItem* array, uint32_t index) {
  VlItem* item = vl_itemNew(nullptr);
  vl_arrayGet(array, index, item);
  return item;
}

VlItem* vl_itemArrayPut(VlItem* array, uint32_t index, const VlItem* value) {
  vl_arraySet(array, index, value);
  return array;
}

// ---- extend helpers ----
VlItem* vl_itemParam(int n) {
  extern VlItem* vl_param(int, VlType);
  return vl_itemNew(vl_param(n, VL_IT_ANY));
}

void vl_itemReturn(const VlItem* item) {
  if (item != &vl_stack.ret) vl_itemCopy(&vl_stack.ret, item);
}

void vl_itemReturnForward(VlItem* item) {
  if (item != &vl_stack.ret) vl_itemForwardValue(&vl_stack.ret, item);
}
