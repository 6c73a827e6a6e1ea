// Memory variables: the value table shared by PUBLIC, PRIVATE and detached codeblock locals.
#pragma once

#include <cstdint>

#include "item.h"

struct VlDynSym;

void vl_memvarInit();
void vl_memvarExit();
uint32_t vl_memvarValueNew(VlItem* value, bool move);
void vl_memvarValueHold(uint32_t handle);
void vl_memvarValueRelease(uint32_t handle);
VlItem* vl_memvarValueItem(uint32_t handle);
