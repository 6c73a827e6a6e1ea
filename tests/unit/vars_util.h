// Helpers for the memory-variable, codeblock, collector and array tests: an item that clears
// itself, and calls of language functions by name through the call protocol.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "vm/arrays.h"
#include "vm/extend.h"
#include "vm/item.h"
#include "vm/vmcall.h"
#include "vmtest.h"

namespace vt {

struct Item {
  VlItem v{};
  Item() { v.type = VL_IT_NIL; }
  Item(const Item&) = delete;
  Item& operator=(const Item&) = delete;
  ~Item() { vl_itemClear(&v); }
  VlItem* operator&() { return &v; }
  VlItem* operator->() { return &v; }
};

inline void str(VlItem* out, const char* text) { vl_itemPutC(out, text); }
inline void num(VlItem* out, int64_t n) { vl_itemPutNInt(out, n); }

// Calls the function `name` with the given arguments (null pushes NIL); the result is copied
// into out.
inline void call(VlItem* out, const char* name, std::initializer_list<const VlItem*> args) {
  VlDynSym* d = vl_dynsymFindName(name);
  ASSERT_NE(d, nullptr) << name;
  vl_vmPushSymbol(d->symbol);
  vl_vmPushNil();
  for (const VlItem* a : args) {
    if (a) vl_vmPush(a);
    else vl_vmPushNil();
  }
  vl_vmDo(static_cast<uint16_t>(args.size()));
  vl_itemForwardValue(out, &vl_stack.ret);
}

// An array of integers and strings described compactly: {1, 2} -> ints, "a" -> string.
inline void intArray(VlItem* out, std::initializer_list<int64_t> values) {
  vl_arrayNew(out, 0);
  VlItem tmp;
  tmp.type = VL_IT_NIL;
  for (int64_t v : values) {
    vl_itemPutNInt(&tmp, v);
    vl_arrayAddForward(out, &tmp);
  }
}

// A compact text form of a value for comparisons: 1, "a", .T., NIL, {1, "b"}, D2451545, B.
inline std::string show(const VlItem* p) {
  p = vl_itemUnRef(const_cast<VlItem*>(p));
  if (VL_IS_NIL(p)) return "NIL";
  if (VL_IS_STRING(p)) return "\"" + std::string(p->u.str.text, p->n32) + "\"";
  if (VL_IS_NUMINT(p)) return std::to_string(vl_itemGetNLL(p));
  if (VL_IS_DOUBLE(p)) return std::to_string(p->u.dbl);
  if (VL_IS_LOGICAL(p)) return p->u.i32 ? ".T." : ".F.";
  if (VL_IS_DATE(p)) return "D" + std::to_string(p->u.i32);
  if (VL_IS_BLOCK(p)) return "B";
  if (VL_IS_ARRAY(p)) {
    std::string s = "{";
    for (uint32_t i = 1; i <= vl_arrayLen(p); ++i) {
      if (i > 1) s += ", ";
      s += show(vl_arrayGetItemPtr(p, i));
    }
    return s + "}";
  }
  return "?";
}

// Calls fn(args...) inside BEGIN SEQUENCE, so that a run-time error the error handler turns
// into a break (ErrorCatcher does so with every error that takes no substitute) ends the call
// instead of the process.
inline Val guarded(const char* fn, const std::vector<Val>& args) {
  std::string code = "ENTER 0 " + std::to_string(args.size()) + "\nSEQOPEN rec\nPUTSYM1 " + fn + "\nPUTNIL\n";
  for (size_t k = 1; k <= args.size(); ++k) code += "LOADLOCAL1 " + std::to_string(k) + "\n";
  code += "CALLF1 " + std::to_string(args.size()) + "\nSETRESULT\nSEQCLOSE done\nrec: SEQHANDLER\nDROP\ndone: PROCEXIT";
  return vlCall(vlProc(code, {fn}), args);
}

}  // namespace vt
