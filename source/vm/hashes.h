// Hash tables: a base (a block of the collector) without a holder count; keys kept sorted.
#pragma once

#include <cstdint>

#include "item.h"

struct VlHashBase;

void vl_hashReleaseBlock(void* base);
void vl_hashMark(VlHashBase* base);
uint32_t vl_hashLen(const VlItem* hash);
