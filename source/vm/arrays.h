// Arrays: a shared base (a block of the collector) holding a vector of items. An object is an
// array whose base carries a class handle.
//
// Invariants:
//  1. holders counts the items and element references that point at the base; the base is
//     released when it drops to 0 (cycles are left to the collector).
//  2. The release routine is idempotent: it empties the base, so the collector may call it for
//     a base that an earlier release already emptied.
#pragma once

#include <cstdint>

#include "item.h"

struct VlArrayBase {
  VlItem* items;  // null when len is 0
  uint32_t len;
  uint32_t holders;
  uint16_t classH;      // 0 for a plain array
  uint16_t castClassH;  // super-class cast during a send
  uint16_t* classList;  // count, then handles; owned; null for plain arrays
  uint32_t capacity;    // allocated elements (>= len)
};

bool vl_arrayNew(VlItem* item, uint32_t len);
uint32_t vl_arrayLen(const VlItem* array);
bool vl_arrayIsObject(const VlItem* array);
uint16_t vl_arrayClass(const VlItem* array);
bool vl_arraySize(VlItem* array, uint32_t len);
bool vl_arrayAdd(VlItem* array, const VlItem* value);
bool vl_arrayAddForward(VlItem* array, VlItem* value);
bool vl_arrayIns(VlItem* array, uint32_t index);
bool vl_arrayDel(VlItem* array, uint32_t index);
bool vl_arraySet(VlItem* array, uint32_t index, const VlItem* value);
bool vl_arraySetForward(VlItem* array, uint32_t index, VlItem* value);
bool vl_arrayGet(const VlItem* array, uint32_t index, VlItem* out);
VlItem* vl_arrayGetItemPtr(const VlItem* array, uint32_t index);
bool vl_arrayGetRef(VlItem* item, uint32_t index, VlItem* out);
bool vl_arrayLast(const VlItem* array, VlItem* out);
bool vl_arrayRelease(VlItem* item);
// Fill takes plain start (at least 1) and count. Scan, eval, copy and sort take optional start
// and count: null or 0 start means element 1; null count means all the rest; count 0 means no
// element (scan, eval, copy) or all the rest (sort).
bool vl_arrayFill(VlItem* array, const VlItem* value, uint32_t start, uint32_t count);
uint32_t vl_arrayScan(const VlItem* array, const VlItem* value, const uint32_t* start, const uint32_t* count,
                      bool exact, bool allowChar);  // position of the first match, 0 for none
bool vl_arrayEval(VlItem* array, const VlItem* block, const uint32_t* start, const uint32_t* count);
bool vl_arrayCopy(const VlItem* source, VlItem* target, const uint32_t* start, const uint32_t* count,
                  const uint32_t* targetStart);
VlItem* vl_arrayClone(const VlItem* array);  // new free-standing item (NIL for a non-array)
void vl_arrayCloneTo(VlItem* out, const VlItem* array);
bool vl_arraySort(VlItem* array, const uint32_t* start, const uint32_t* count, const VlItem* block);

VlItem* vl_arrayFromStack(uint16_t count);  // new free-standing item
VlItem* vl_arrayFromParams(int32_t frameOffset);

// Element getters: the item getter's neutral value when out of range or not an array.
const char* vl_arrayGetCPtr(const VlItem* array, uint32_t index);
size_t vl_arrayGetCLen(const VlItem* array, uint32_t index);
int32_t vl_arrayGetNI(const VlItem* array, uint32_t index);
int64_t vl_arrayGetNLL(const VlItem* array, uint32_t index);
double vl_arrayGetND(const VlItem* array, uint32_t index);
bool vl_arrayGetL(const VlItem* array, uint32_t index);
int32_t vl_arrayGetDL(const VlItem* array, uint32_t index);
VlType vl_arrayGetType(const VlItem* array, uint32_t index);
char* vl_arrayGetC(const VlItem* array, uint32_t index);  // private copy (vl_xfree) or null
size_t vl_arrayCopyC(const VlItem* array, uint32_t index, char* buffer, size_t n);
char* vl_arrayGetDS(const VlItem* array, uint32_t index, char* buffer9);
long vl_arrayGetNL(const VlItem* array, uint32_t index);
int64_t vl_arrayGetNInt(const VlItem* array, uint32_t index);
void* vl_arrayGetPtr(const VlItem* array, uint32_t index);

// Holder bookkeeping used by item copy and clear.
void vl_arrayHold(VlArrayBase* base);
void vl_arrayDrop(VlArrayBase* base, bool isElementRef);  // 9027 on a premature release
void vl_arrayReleaseBlock(void* base);  // the collector's release routine
