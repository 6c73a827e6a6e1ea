// Codeblock bases: holding, releasing and marking.
#include "codeblock.h"

#include "arrays.h"
#include "errint.h"
#include "gc.h"
#include "memvars.h"
#include "xmem.h"

void vl_codeblockHold(VlCodeblock* cb) { ++cb->holders; }

// Lets go of what the block holds; safe to call twice (the collector may).
static void releaseContents(VlCodeblock* cb, bool touchObject) {
  if (cb->locals) {
    VlItem* locals = cb->locals;
    uint16_t count = cb->localCount;
    cb->locals = nullptr;
    cb->localCount = 0;
    for (uint16_t i = 1; i <= count; ++i) vl_itemClear(&locals[i]);
    if (--locals[0].u.i64 <= 0) vl_xfree(locals);
  }
  if (cb->ownsCode && cb->pcode) {
    vl_xfree(const_cast<uint8_t*>(cb->pcode));
  }
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

void vl_codeblockReleaseBlock(void* data) { releaseContents(static_cast<VlCodeblock*>(data), false); }

void vl_codeblockMark(VlCodeblock* cb) {
  for (uint16_t i = 1; i <= cb->localCount; ++i) {
    VlItem* value = vl_itemUnRef(&cb->locals[i]);
    if (value->type & VL_IT_GCITEM) vl_gcItemRef(value);
  }
  if (cb->object) {
    VlItem tmp;
    tmp.type = VL_IT_ARRAY;
    tmp.u.arr.base = cb->object;
    vl_gcItemRef(&tmp);
  }
}
