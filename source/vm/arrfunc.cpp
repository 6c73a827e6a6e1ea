// The language-level array functions: ARRAY, AADD, ASIZE, AINS, ADEL, ASCAN, AEVAL, ACOPY,
// ASORT, VL_APARAMS and VL_ATOKENS, written against the extend interface.
//
// Functions that run a block copy the array (and the block) into slots of the evaluation stack
// first: the block may assign the variable the array came from, and the copies keep the array
// alive and visible to the collector for the whole walk.
#include <cstdint>
#include <vector>

#include "arrays.h"
#include "extend.h"
#include "stack.h"

namespace {

// A numeric argument as an unsigned count: negative is 0, beyond 32 bits the largest value.
bool numArg(int n, uint32_t* out) {
  const VlItem* p = vl_param(n, VL_IT_NUMERIC);
  if (!p) return false;
  int64_t v = vl_itemGetNLL(p);
  *out = v <= 0 ? 0 : v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v);
  return true;
}

// A copy of the item on the evaluation stack, popped by the caller.
VlItem* pin(const VlItem* item) {
  VlItem* slot = vl_stackAllocItem();
  vl_itemCopy(slot, item);
  return slot;
}

void build(VlItem* out, const std::vector<uint32_t>& dims, size_t level) {
  vl_arrayNew(out, dims[level]);
  if (level + 1 == dims.size()) return;
  VlArrayBase* base = out->u.arr.base;
  for (uint32_t i = 0; i < dims[level]; ++i) build(&base->items[i], dims, level + 1);
}

}  // namespace

VL_FUNC(ARRAY) {
  int n = vl_pcount();
  std::vector<uint32_t> dims;
  for (int i = 1; i <= n; ++i)
    if (!vl_param(i, VL_IT_NUMERIC)) {
      vl_ret();
      return;
    }
  for (int i = 1; i <= n; ++i) {
    int64_t v = vl_itemGetNLL(vl_param(i, VL_IT_NUMERIC));
    if (v < 0 || v > UINT32_MAX) {
      vl_errRT_BASE(VL_EG_BOUND, 1131, nullptr, "array dimension", 1, vl_paramError(1));
      vl_ret();
      return;
    }
    dims.push_back(static_cast<uint32_t>(v));
  }
  if (dims.empty()) {
    vl_ret();
    return;
  }
  VlItem result;
  result.type = VL_IT_NIL;
  build(&result, dims, 0);
  vl_itemReturnForward(&result);
}

VL_FUNC(AADD) {
  int given = vl_pcount() < 2 ? vl_pcount() : 2;
  VlItem* array = vl_param(1, VL_IT_ARRAY);
  if (!array) {
    vl_errRT_BASE_SubstR(VL_EG_ARG, 1123, nullptr, "AADD", given, vl_paramError(1), vl_paramError(2));
    return;
  }
  VlItem* value = vl_param(2, VL_IT_ANY);
  if (value) {
    // Return first: the value may be an element of this array, which the append may move.
    vl_itemReturn(value);
    if (vl_arrayAdd(array, value)) return;
  }
  vl_errRT_BASE(VL_EG_BOUND, 1187, nullptr, "AADD", given, vl_paramError(1), vl_paramError(2));
}

VL_FUNC(ASIZE) {
  VlItem* array = vl_param(1, VL_IT_ARRAY);
  uint32_t len;
  if (!array || !numArg(2, &len)) {
    vl_errRT_BASE(VL_EG_ARG, 2023, nullptr, "ASIZE", 2, vl_paramError(1), vl_paramError(2));
    vl_ret();
    return;
  }
  vl_arraySize(array, len);
  vl_itemReturn(array);
}

VL_FUNC(AINS) {
  VlItem* array = vl_param(1, VL_IT_ARRAY);
  if (!array) {
    vl_ret();
    return;
  }
  VlItem* held = pin(array);
  VlItem* value = pin(vl_paramError(3));  // before the array changes: it may be one of its elements
  uint32_t len = vl_arrayLen(held);
  if (vl_parl(4) && len < UINT32_MAX) vl_arraySize(held, len + 1);
  uint32_t pos = 0;
  if (numArg(2, &pos)) vl_arrayIns(held, pos);
  if (vl_pcount() > 2) vl_arraySet(held, pos, value);
  vl_stackPop();
  vl_itemReturn(held);
  vl_stackPop();
}

VL_FUNC(ADEL) {
  VlItem* array = vl_param(1, VL_IT_ARRAY);
  if (!array) {
    vl_ret();
    return;
  }
  uint32_t len = vl_arrayLen(array);
  if (len) {
    uint32_t pos = 1;
    if (const VlItem* p = vl_param(2, VL_IT_NUMERIC)) {
      int64_t v = vl_itemGetNLL(p);
      // 0 means the first element; a negative position names no element.
      pos = v == 0 ? 1 : v < 0 || v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v);
    }
    vl_arrayDel(array, pos);
    if (vl_parl(3)) vl_arraySize(array, len - 1);
  }
  vl_itemReturn(array);
}

VL_FUNC(ASCAN) {
  VlItem* array = vl_param(1, VL_IT_ARRAY);
  VlItem* value = vl_param(2, VL_IT_ANY);
  if (!array || !value) {
    vl_retni(0);
    return;
  }
  uint32_t start, count;
  bool hasStart = numArg(3, &start), hasCount = numArg(4, &count);
  bool exact = vl_parl(5), allowChar = vl_parl(6);
  VlItem* held = pin(array);
  VlItem* sought = pin(value);
  uint32_t pos = vl_arrayScan(held, sought, hasStart ? &start : nullptr, hasCount ? &count : nullptr, exact, allowChar);
  vl_stackPop();
  vl_stackPop();
  vl_retnint(pos);
}

VL_FUNC(AEVAL) {
  VlItem* array = vl_param(1, VL_IT_ARRAY);
  VlItem* block = vl_param(2, VL_IT_BLOCK);
  if (!array || !block) {
    vl_errRT_BASE(VL_EG_ARG, 2017, nullptr, "AEVAL", 4, array, block, vl_paramError(3), vl_paramError(4));
    vl_ret();
    return;
  }
  uint32_t start, count;
  bool hasStart = numArg(3, &start), hasCount = numArg(4, &count);
  VlItem* held = pin(array);
  VlItem* code = pin(block);
  vl_arrayEval(held, code, hasStart ? &start : nullptr, hasCount ? &count : nullptr);
  vl_stackPop();
  vl_itemReturn(held);
  vl_stackPop();
}

VL_FUNC(ACOPY) {
  VlItem* source = vl_param(1, VL_IT_ARRAY);
  VlItem* target = vl_param(2, VL_IT_ARRAY);
  if (!source || !target) {
    vl_ret();
    return;
  }
  if (!vl_arrayIsObject(source) && !vl_arrayIsObject(target)) {
    uint32_t start, count, targetStart;
    bool hasStart = numArg(3, &start), hasCount = numArg(4, &count), hasTarget = numArg(5, &targetStart);
    vl_arrayCopy(source, target, hasStart ? &start : nullptr, hasCount ? &count : nullptr,
                 hasTarget ? &targetStart : nullptr);
  }
  vl_itemReturn(target);
}

VL_FUNC(ASORT) {
  VlItem* array = vl_param(1, VL_IT_ARRAY);
  if (!array || vl_arrayIsObject(array)) {
    vl_ret();
    return;
  }
  uint32_t start, count;
  bool hasStart = numArg(2, &start), hasCount = numArg(3, &count);
  VlItem* held = pin(array);
  VlItem* block = nullptr;
  if (const VlItem* b = vl_param(4, VL_IT_BLOCK)) block = pin(b);
  vl_arraySort(held, hasStart ? &start : nullptr, hasCount ? &count : nullptr, block);
  if (block) vl_stackPop();
  vl_itemReturn(held);
  vl_stackPop();
}

VL_FUNC(VL_APARAMS) {
  VlItem* params = vl_arrayFromParams(vl_stackFrameOffset(1));
  vl_itemReturnForward(params);
  vl_itemRelease(params);
}

VL_FUNC(VL_ATOKENS) {
  const VlItem* str = vl_param(1, VL_IT_STRING);
  if (!str) {
    vl_errRT_BASE_SubstR(VL_EG_ARG, 1123, nullptr, "VL_ATOKENS", 3, vl_paramError(1), vl_paramError(2),
                         vl_paramError(3));
    return;
  }
  char delim = ' ';
  if (const VlItem* d = vl_param(2, VL_IT_STRING); d && d->n32) delim = d->u.str.text[0];
  bool skipQuotes = vl_parl(3), doubleOnly = vl_parl(4);

  const char* text = str->u.str.text;
  size_t len = str->n32;
  VlItem result, token;
  result.type = token.type = VL_IT_NIL;
  vl_arrayNew(&result, 0);
  size_t from = 0;
  char quote = 0;
  for (size_t i = 0; i < len; ++i) {
    char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (skipQuotes && (c == '"' || (c == '\'' && !doubleOnly))) {
      quote = c;
      continue;
    }
    if (c == delim) {
      vl_itemPutCL(&token, text + from, i - from);
      vl_arrayAddForward(&result, &token);
      from = i + 1;
    }
  }
  if (from < len) {
    vl_itemPutCL(&token, text + from, len - from);
    vl_arrayAddForward(&result, &token);
  }
  vl_itemReturnForward(&result);
}

VL_NATIVE_MODULE(arrfunc, VL_FUNCENTRY(ARRAY), VL_FUNCENTRY(AADD), VL_FUNCENTRY(ASIZE), VL_FUNCENTRY(AINS),
                 VL_FUNCENTRY(ADEL), VL_FUNCENTRY(ASCAN), VL_FUNCENTRY(AEVAL), VL_FUNCENTRY(ACOPY),
                 VL_FUNCENTRY(ASORT), VL_FUNCENTRY(VL_APARAMS), VL_FUNCENTRY(VL_ATOKENS));
