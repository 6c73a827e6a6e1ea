// The item: the value cell of the virtual machine, its type bits and the operations on it.
//
// Invariants:
//  1. An item of a complex type (VL_IT_COMPLEX) owns one hold on what it points at; it must be
//     cleared (vl_itemClear) before it is overwritten. Every setter below does that itself.
//  2. A string's text is always followed by a zero byte that its length does not count.
//  3. Shared text (holder count above 1) and static text are never changed in place; see
//     vl_itemUnShareString.
//  4. Strings of length 0 and 1 are static and point into a shared table: they never allocate.
#pragma once

#include <cstddef>
#include <cstdint>

using VlType = uint16_t;

enum : VlType {
  VL_IT_NIL = 0x0000,
  VL_IT_POINTER = 0x0001,
  VL_IT_INTEGER = 0x0002,
  VL_IT_HASH = 0x0004,
  VL_IT_LONG = 0x0008,
  VL_IT_DOUBLE = 0x0010,
  VL_IT_DATE = 0x0020,
  VL_IT_LOGICAL = 0x0080,
  VL_IT_SYMBOL = 0x0100,
  VL_IT_ALIAS = 0x0200,
  VL_IT_STRING = 0x0400,
  VL_IT_MEMOFLAG = 0x0800,
  VL_IT_MEMO = 0x0C00,
  VL_IT_BLOCK = 0x1000,
  VL_IT_BYREF = 0x2000,
  VL_IT_MEMVAR = 0x4000,
  VL_IT_ARRAY = 0x8000,

  VL_IT_NUMERIC = 0x001A,  // integer, long, double
  VL_IT_NUMINT = 0x000A,   // integer, long
  VL_IT_COMPLEX = 0xF404,  // must be cleared before being overwritten
  VL_IT_GCITEM = 0xB005,   // the collector looks into these
  VL_IT_ANY = 0xFFFF,
};

struct VlSymbol;
struct VlArrayBase;
struct VlCodeblock;
struct VlHashBase;

// 24 bytes. The two header words carry the small per-type fields so that the 16-byte payload
// can hold two pointers (string text and holder counter; frame data and symbol).
struct VlItem {
  VlType type;
  uint16_t n16;  // number: display width; string: static flag; symbol: line; block: param count
  uint32_t n32;  // double: decimals; string: length; block: statics base; pointer: collectable
  union {
    int32_t i32;  // integer, date (Julian day number), logical (0/1)
    int64_t i64;
    double dbl;
    void* ptr;
    struct {
      char* text;
      uint32_t* holders;  // null for static text
    } str;
    struct {
      VlSymbol* sym;
      int32_t prevFrame;  // slot of this item before the call, the caller's base during it
      uint16_t paramCnt;  // arguments passed; +256 for a variable parameter list
      uint16_t classH;    // class of a method run through a super-class cast
    } sym;
    struct {
      VlArrayBase* base;
    } arr;
    struct {
      VlCodeblock* base;
    } blk;
    struct {
      VlHashBase* base;
    } hash;
    // References; n16 holds the kind (VlRefKind). Array element: ptr = array base, index =
    // 0-based element (statics are elements of the statics array). Local, global: ptr = address
    // of the table pointer (VlItem***), slot offset + index. Codeblock local: ptr = the block's
    // locals vector, index negative. Memory variable (with VL_IT_MEMVAR): offset + index = handle.
    struct {
      void* ptr;
      int32_t offset;
      int32_t index;
    } ref;
  } u;
};

enum VlRefKind : uint16_t {
  VL_REF_LOCAL = 1,
  VL_REF_ARRAY = 2,
  VL_REF_BLOCKLOCAL = 3,
  VL_REF_GLOBAL = 4,
  VL_REF_MEMVAR = 5,
};

static_assert(sizeof(VlItem) == 24, "the item cell is expected to be 24 bytes");

using VlItemPtr = VlItem*;

// ---- type tests (no dereferencing) ----
inline bool VL_IS_NIL(const VlItem* p) { return p->type == VL_IT_NIL; }
inline bool VL_IS_INTEGER(const VlItem* p) { return (p->type & VL_IT_INTEGER) != 0; }
inline bool VL_IS_LONG(const VlItem* p) { return (p->type & VL_IT_LONG) != 0; }
inline bool VL_IS_DOUBLE(const VlItem* p) { return (p->type & VL_IT_DOUBLE) != 0; }
inline bool VL_IS_NUMERIC(const VlItem* p) { return (p->type & VL_IT_NUMERIC) != 0; }
inline bool VL_IS_NUMINT(const VlItem* p) { return (p->type & VL_IT_NUMINT) != 0; }
inline bool VL_IS_DATE(const VlItem* p) { return (p->type & VL_IT_DATE) != 0; }
inline bool VL_IS_LOGICAL(const VlItem* p) { return (p->type & VL_IT_LOGICAL) != 0; }
inline bool VL_IS_STRING(const VlItem* p) { return (p->type & VL_IT_STRING) != 0; }
inline bool VL_IS_MEMO(const VlItem* p) { return (p->type & VL_IT_MEMOFLAG) != 0; }
inline bool VL_IS_SYMBOL(const VlItem* p) { return (p->type & VL_IT_SYMBOL) != 0; }
inline bool VL_IS_BLOCK(const VlItem* p) { return (p->type & VL_IT_BLOCK) != 0; }
inline bool VL_IS_ARRAY(const VlItem* p) { return (p->type & VL_IT_ARRAY) != 0; }
inline bool VL_IS_HASH(const VlItem* p) { return (p->type & VL_IT_HASH) != 0; }
inline bool VL_IS_POINTER(const VlItem* p) { return (p->type & VL_IT_POINTER) != 0; }
inline bool VL_IS_BYREF(const VlItem* p) { return (p->type & VL_IT_BYREF) != 0; }
inline bool VL_IS_MEMVAR(const VlItem* p) { return (p->type & VL_IT_MEMVAR) != 0; }
inline bool VL_IS_COMPLEX(const VlItem* p) { return (p->type & VL_IT_COMPLEX) != 0; }

// ---- number width rules ----
inline constexpr uint16_t VL_DEFAULT_WIDTH_INT(int64_t v) { return v < -999999999LL ? 20 : 10; }
uint16_t vl_itemDefaultWidthLong(int64_t v);
uint16_t vl_itemDefaultWidthDouble(double d);

// ---- life cycle ----
VlItem* vl_itemNew(const VlItem* src);  // free-standing (held by the collector)
bool vl_itemRelease(VlItem* item);
void vl_itemClear(VlItem* item);  // releases what the item holds; it becomes NIL
void vl_itemClearComplex(VlItem* item);  // the slow half of vl_itemClear
void vl_itemCopy(VlItem* dst, const VlItem* src);
void vl_itemForwardValue(VlItem* dst, VlItem* src);
void vl_itemSwap(VlItem* a, VlItem* b);
void vl_itemMove(VlItem* dst, VlItem* src);  // raw move into a NIL or cleared target

// Cheap inline clear: only complex values need the out-of-line path.
inline void vl_itemClearInline(VlItem* item) {
  if (item->type & VL_IT_COMPLEX) vl_itemClearComplex(item);
  else item->type = VL_IT_NIL;
}

VlItem* vl_itemUnRef(VlItem* item);
VlItem* vl_itemUnRefOnce(VlItem* item);
VlItem* vl_itemUnRefRefer(VlItem* item);  // stops at the last reference (for writes)

VlType vl_itemType(const VlItem* item);
const char* vl_itemTypeStr(const VlItem* item);
uint32_t vl_itemSize(const VlItem* item);

// ---- setters (null item: a new free-standing item is made) ----
VlItem* vl_itemPutNil(VlItem* item);
VlItem* vl_itemPutL(VlItem* item, bool v);
VlItem* vl_itemPutNI(VlItem* item, int32_t v);
VlItem* vl_itemPutNL(VlItem* item, long v);
VlItem* vl_itemPutNILen(VlItem* item, int32_t v, int width);
VlItem* vl_itemPutNLL(VlItem* item, int64_t v);
VlItem* vl_itemPutNLLLen(VlItem* item, int64_t v, int width);
VlItem* vl_itemPutNInt(VlItem* item, int64_t v);
VlItem* vl_itemPutNIntLen(VlItem* item, int64_t v, int width);
VlItem* vl_itemPutND(VlItem* item, double v);
VlItem* vl_itemPutNDLen(VlItem* item, double v, int width, int decimals);
VlItem* vl_itemPutNLen(VlItem* item, double v, int width, int decimals);
VlItem* vl_itemPutC(VlItem* item, const char* text);
VlItem* vl_itemPutCL(VlItem* item, const char* text, size_t len);
VlItem* vl_itemPutCPtr(VlItem* item, char* buffer, size_t len);
VlItem* vl_itemPutCStatic(VlItem* item, const char* text);
VlItem* vl_itemPutCLStatic(VlItem* item, const char* text, size_t len);
VlItem* vl_itemSetCMemo(VlItem* item);
VlItem* vl_itemPutD(VlItem* item, int year, int month, int day);
VlItem* vl_itemPutDS(VlItem* item, const char* yyyymmdd);
VlItem* vl_itemPutDL(VlItem* item, int32_t julian);
VlItem* vl_itemPutPtr(VlItem* item, void* ptr);
VlItem* vl_itemPutPtrGC(VlItem* item, void* ptr);
VlItem* vl_itemPutSymbol(VlItem* item, VlSymbol* sym);

// ---- getters (neutral value for null or a wrong type) ----
bool vl_itemGetL(const VlItem* item);
double vl_itemGetND(const VlItem* item);
int32_t vl_itemGetNI(const VlItem* item);
long vl_itemGetNL(const VlItem* item);
int64_t vl_itemGetNLL(const VlItem* item);
int64_t vl_itemGetNInt(const VlItem* item);
void vl_itemGetNLen(const VlItem* item, int* width, int* decimals);
char* vl_itemGetC(const VlItem* item);  // new copy, caller frees with vl_xfree
const char* vl_itemGetCPtr(const VlItem* item);
size_t vl_itemGetCLen(const VlItem* item);
size_t vl_itemCopyC(const VlItem* item, char* buffer, size_t n);
char* vl_itemGetDS(const VlItem* item, char* buffer9);
int32_t vl_itemGetDL(const VlItem* item);
void* vl_itemGetPtr(const VlItem* item);
VlSymbol* vl_itemGetSymbol(const VlItem* item);

// ---- strings ----
extern const char vl_szNull[];  // ""
// The shared table of 257 static strings: entry 0 is "", entry c+1 the string of byte c.
const char* vl_itemShortString(size_t len, unsigned char c);
// Makes the string's text private (holder count 1, not static) so it may be changed in place.
char* vl_itemUnShareString(VlItem* item);
// Grows or shrinks a private copy of the string to len bytes; returns the writable text.
char* vl_itemReSizeString(VlItem* item, size_t len);
// Allocates an owned, uninitialised text of len bytes (+1 for the zero) for the item.
char* vl_itemPutCLBuffer(VlItem* item, size_t len);

// ---- conversions and text forms (digit generation belongs to the number formatter) ----
char* vl_itemString(const VlItem* item, size_t* len, bool* freeable);
char* vl_itemPadConv(const VlItem* item, size_t* len, bool* freeable);
VlItem* vl_itemValToStr(const VlItem* item);
char* vl_itemStr(const VlItem* number, const VlItem* width, const VlItem* decimals);

// ---- array shortcuts ----
VlItem* vl_itemArrayNew(uint32_t len);
VlItem* vl_itemArrayGet(const VlItem* array, uint32_t index);
VlItem* vl_itemArrayPut(VlItem* array, uint32_t index, const VlItem* value);

// ---- extend interface helpers ----
VlItem* vl_itemParam(int n);
void vl_itemReturn(const VlItem* item);
void vl_itemReturnForward(VlItem* item);
