// Hash tables: a base (a block of the collector) without a holder count; keys kept sorted.
#pragma once

#include <cstdint>

#include "item.h"

struct VlHashBase;

void vl_hashReleaseBlock(void* base);
void vl_hashMark(VlHashBase* base);
uint32_t vl_hashLen(const VlItem* hash);

// What the operators need of a hash (keys are strings, numbers and dates).
bool vl_hashGetItem(const VlItem* hash, const VlItem* key, VlItem* out);  // false: no such key
void vl_hashSetItem(VlItem* hash, const VlItem* key, const VlItem* value);
void vl_hashJoin(VlItem* out, const VlItem* a, const VlItem* b);  // a's entries, then b's (b wins)
// A copy of a without the given keys: those of a hash, the elements of an array, or one key.
void vl_hashRemoveKeys(VlItem* out, const VlItem* a, const VlItem* keys);
// True when `entry` is a hash of one entry whose key `hash` has with an exactly equal value.
bool vl_hashHasEntry(const VlItem* hash, const VlItem* entry);
