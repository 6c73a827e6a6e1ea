// The operators over every pairing of operand types: result type, value, display width and
// decimals, the operator method an object may supply, and the run-time error of a pairing that
// has no meaning. The executor handles the commonest integer cases inline and calls these for
// the rest.
//
// Result rules used throughout:
//  - NumInt(v): an integral result is an integer when it fits 32 bits, else a long.
//  - NumType(v, dec): with dec 0 and no double operand as NumInt (a double with SET_DECIMALS
//    decimals beyond 64 bits); otherwise a double with dec decimals.
//  - Double(v, dec): a double with dec decimals. All with default widths.
#include "operators.h"

#include <cmath>
#include <cstring>

#include "../rtl/set.h"
#include "arrays.h"
#include "classes.h"
#include "errapi.h"
#include "hashes.h"
#include "stack.h"
#include "vmcall.h"
#include "xmem.h"

namespace {

enum OpId {
  OP_PLUS, OP_MINUS, OP_MULT, OP_DIVIDE, OP_MOD, OP_POWER, OP_INC, OP_DEC, OP_EQUAL, OP_NOTEQUAL, OP_LESS,
  OP_LESSEQUAL, OP_GREATER, OP_GREATEREQUAL, OP_INSTRING, OP_NOT, OP_AND, OP_OR, OP_ARRAYINDEX, OP_ASSIGN,
};

// Message names as the class system stores them (upper case).
const char* const s_opMessage[] = {
    "__OPPLUS", "__OPMINUS", "__OPMULT", "__OPDIVIDE", "__OPMOD", "__OPPOWER", "__OPINC",
    "__OPDEC", "__OPEQUAL", "__OPNOTEQUAL", "__OPLESS", "__OPLESSEQUAL", "__OPGREATER", "__OPGREATEREQUAL",
    "__OPINSTRING", "__OPNOT", "__OPAND", "__OPOR", "__OPARRAYINDEX", "__OPASSIGN",
};

inline VlItem* opA() { return vl_stack.pos[-2]; }
inline VlItem* opB() { return vl_stack.pos[-1]; }

inline bool isObject(const VlItem* p) { return VL_IS_ARRAY(p) && p->u.arr.base->classH != 0; }
inline bool isNumInt(const VlItem* p) { return (p->type & VL_IT_NUMINT) != 0; }
inline bool isKeyType(const VlItem* p) { return (p->type & (VL_IT_STRING | VL_IT_NUMERIC | VL_IT_DATE)) != 0; }

// Value of a numeric-like operand.
inline double numOf(const VlItem* p) { return vl_itemGetND(p); }
inline int64_t intOf(const VlItem* p) { return (p->type & VL_IT_INTEGER) ? p->u.i32 : vl_itemGetNLL(p); }
inline int decOf(const VlItem* p) { return VL_IS_DOUBLE(p) ? static_cast<int>(p->n32) : 0; }

// Sends the operator method when `obj` is an object whose class defines it; the result is left
// in the return value.
bool objOperator(OpId id, const VlItem* obj, int argc, const VlItem* a1 = nullptr, const VlItem* a2 = nullptr) {
  if (!isObject(obj)) return false;
  VlDynSym* msg = vl_dynsymFind(s_opMessage[id]);
  if (!msg || !vl_objHasMsgDyn(obj, msg)) return false;
  vl_vmPushSymbol(msg->symbol);
  vl_vmPush(obj);
  if (argc >= 1) vl_vmPush(a1);
  if (argc >= 2) vl_vmPush(a2);
  vl_vmSend(static_cast<uint16_t>(argc));
  return true;
}

// ---- placing results ----
// Both operands give way to the return value (an operator method's answer).
void takeReturn2() {
  vl_stackPop();
  vl_itemForwardValue(vl_stack.pos[-1], &vl_stack.ret);
}

void takeReturn1() { vl_itemForwardValue(vl_stack.pos[-1], &vl_stack.ret); }

// Pops b; a is then the result cell, cleared for the caller to fill.
inline VlItem* result2() {
  vl_stackPop();
  VlItem* a = vl_stack.pos[-1];
  vl_itemClearInline(a);
  return a;
}

void putNumInt(VlItem* dst, int64_t v) { vl_itemPutNInt(dst, v); }

void putNumType(VlItem* dst, double v, int dec, bool anyDouble) {
  if (dec == 0 && !anyDouble) {
    if (v >= INT32_MIN && v <= INT32_MAX) {
      vl_itemPutNI(dst, static_cast<int32_t>(v));
      return;
    }
    if (v >= -9223372036854775808.0 && v < 9223372036854775808.0) {
      vl_itemPutNLL(dst, static_cast<int64_t>(v));
      return;
    }
    vl_itemPutNDLen(dst, v, 0, vl_set.decimals);
    return;
  }
  vl_itemPutNDLen(dst, v, 0, dec);
}

inline void putDouble(VlItem* dst, double v, int dec) { vl_itemPutNDLen(dst, v, 0, dec); }

void putChar(VlItem* dst, int64_t code) {
  char c = static_cast<char>(static_cast<unsigned char>(code & 0xFF));
  vl_itemPutCL(dst, &c, 1);
}

void putLogical2(bool v) {
  VlItem* a = result2();
  a->type = VL_IT_LOGICAL;
  a->u.i32 = v ? 1 : 0;
}

// ---- errors ----
// Substitutable error over both operands: they are replaced by the handler's value.
void errorSubst2(int genCode, int subCode, const char* operation, bool nilArgs = false) {
  VlItem* r = nilArgs ? vl_errRT_BASE_Subst(genCode, subCode, nullptr, operation, 2, nullptr, nullptr)
                      : vl_errRT_BASE_Subst(genCode, subCode, nullptr, operation, 2, opA(), opB());
  vl_stackPop();
  VlItem* a = vl_stack.pos[-1];
  if (r) {
    vl_itemForwardValue(a, r);
    vl_itemRelease(r);
  } else {
    vl_itemClear(a);
  }
}

// Substitutable error over the one operand on top, replaced in place.
void errorSubst1(int subCode, const char* operation) {
  VlItem* top = vl_stack.pos[-1];
  VlItem* r = vl_errRT_BASE_Subst(VL_EG_ARG, subCode, nullptr, operation, 1, top);
  if (r) {
    vl_itemForwardValue(top, r);
    vl_itemRelease(r);
  } else {
    vl_itemClear(top);
  }
}

// ---- strings ----
void concat(VlItem* a, const VlItem* b) {
  size_t la = a->n32, lb = b->n32;
  if (la + lb > 0xFFFFFFFEu) {
    vl_errRT_BASE(VL_EG_STROVERFLOW, 1209, nullptr, "+", 2, a, b);
    return;
  }
  if (lb > 0) {
    if (la + lb <= 1) {
      // The result is a one-character string: those are always the shared static ones.
      VlType memo = a->type & VL_IT_MEMOFLAG;
      vl_itemPutCL(a, b->u.str.text, lb);
      a->type |= memo;
    } else {
      const char* src = b->u.str.text;
      char* text = vl_itemReSizeString(a, la + lb);  // in place when a owns its text alone
      std::memcpy(text + la, src, lb);
    }
  }
  vl_stackPop();
}

// a without its trailing blanks, then b, then those blanks.
void minusStrings(VlItem* a, const VlItem* b) {
  size_t la = a->n32, lb = b->n32;
  if (la + lb > 0xFFFFFFFEu) {
    vl_errRT_BASE(VL_EG_STROVERFLOW, 1210, nullptr, "-", 2, a, b);
    return;
  }
  size_t keep = la;
  while (keep > 0 && a->u.str.text[keep - 1] == ' ') --keep;
  if (keep == la || lb == 0) {
    concat(a, b);
    return;
  }
  VlType memo = a->type & VL_IT_MEMOFLAG;
  VlItem r;
  r.type = VL_IT_NIL;
  char* text = vl_itemPutCLBuffer(&r, la + lb);
  std::memcpy(text, a->u.str.text, keep);
  std::memcpy(text + keep, b->u.str.text, lb);
  std::memset(text + keep + lb, ' ', la - keep);
  r.type |= memo;
  vl_stackPop();
  vl_itemForwardValue(vl_stack.pos[-1], &r);
}

// Array scan with exact comparison (no character matching), as $ uses it.
bool arrayContains(const VlItem* array, const VlItem* v) {
  VlArrayBase* base = array->u.arr.base;
  for (uint32_t i = 0; i < base->len; ++i) {
    // Re-read the vector each time: an evaluated block may resize the array.
    const VlItem* e = vl_itemUnRef(&base->items[i]);
    if (VL_IS_BLOCK(v)) {
      VlItem elem, pos;
      elem.type = pos.type = VL_IT_NIL;
      vl_itemCopy(&elem, e);
      vl_itemPutNI(&pos, static_cast<int32_t>(i + 1));
      bool hit = vl_itemGetL(vl_vmEvalBlockV(v, 2, &elem, &pos));
      vl_itemClear(&elem);
      if (hit && VL_IS_LOGICAL(&vl_stack.ret)) return true;
      continue;
    }
    if (VL_IS_STRING(v)) {
      if (VL_IS_STRING(e) && vl_itemStrCmp(e, v, true) == 0) return true;
    } else if (VL_IS_DATE(v)) {
      if (VL_IS_DATE(e) && e->u.i32 == v->u.i32) return true;
    } else if (VL_IS_NUMERIC(v)) {
      if ((VL_IS_NUMERIC(e) || VL_IS_DATE(e)) && numOf(e) == numOf(v)) return true;
    } else if (VL_IS_LOGICAL(v)) {
      if (VL_IS_LOGICAL(e) && (e->u.i32 != 0) == (v->u.i32 != 0)) return true;
    } else if (VL_IS_NIL(v)) {
      if (VL_IS_NIL(e)) return true;
    } else if (VL_IS_ARRAY(v)) {
      if (VL_IS_ARRAY(e) && e->u.arr.base == v->u.arr.base) return true;
    } else {
      return false;
    }
  }
  return false;
}

// Kinds for the "different types" rule of the equality operators.
int kindOf(const VlItem* p) {
  VlType t = p->type;
  if (t & VL_IT_NUMERIC) return 1;
  if (t & VL_IT_STRING) return 2;
  return t & ~VL_IT_MEMOFLAG;
}

// = and == (exact): 1 true, 0 false, -1 no meaning, 2 answered by an operator method.
int equality(const VlItem* a, const VlItem* b, bool exact) {
  if (VL_IS_NIL(a)) return VL_IS_NIL(b) ? 1 : 0;
  if (VL_IS_NIL(b)) return 0;
  if (VL_IS_STRING(a) && VL_IS_STRING(b)) return vl_itemStrCmp(a, b, exact) == 0;
  if (isNumInt(a) && isNumInt(b)) return intOf(a) == intOf(b);
  if (vl_itemIsNumLike(a) && vl_itemIsNumLike(b)) return numOf(a) == numOf(b);
  if (VL_IS_LOGICAL(a) && VL_IS_LOGICAL(b)) return (a->u.i32 != 0) == (b->u.i32 != 0);
  if (objOperator(OP_EQUAL, a, 1, b)) return 2;
  if (exact) {
    if (VL_IS_ARRAY(a) && VL_IS_ARRAY(b)) return a->u.arr.base == b->u.arr.base;
    if (VL_IS_HASH(a) && VL_IS_HASH(b)) return a->u.hash.base == b->u.hash.base;
  }
  if (kindOf(a) != kindOf(b) || VL_IS_BLOCK(a) || VL_IS_ARRAY(a)) return -1;
  return 0;
}

// <, <=, >, >=: the comparison's sign, or 2 when an operator method answered, -2 no meaning.
int ordering(const VlItem* a, const VlItem* b, OpId id) {
  if (VL_IS_STRING(a) && VL_IS_STRING(b)) return vl_itemStrCmp(a, b, false);
  if (isNumInt(a) && isNumInt(b)) {
    int64_t x = intOf(a), y = intOf(b);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (vl_itemIsNumLike(a) && vl_itemIsNumLike(b)) {
    double x = numOf(a), y = numOf(b);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (VL_IS_LOGICAL(a) && VL_IS_LOGICAL(b)) return (a->u.i32 != 0) - (b->u.i32 != 0);
  if (objOperator(id, a, 1, b)) return 2;
  return -2;
}

void relational(OpId id, int subCode, const char* operation) {
  VlItem* a = opA();
  VlItem* b = opB();
  int c = ordering(a, b, id);
  if (c == 2) {
    takeReturn2();
    return;
  }
  if (c == -2) {
    errorSubst2(VL_EG_ARG, subCode, operation);
    return;
  }
  bool r = false;
  switch (id) {
    case OP_LESS: r = c < 0; break;
    case OP_LESSEQUAL: r = c <= 0; break;
    case OP_GREATER: r = c > 0; break;
    default: r = c >= 0; break;
  }
  putLogical2(r);
}

// ---- bitwise ----
enum BitOp { BIT_AND, BIT_OR, BIT_XOR };

inline int64_t bitApply(BitOp op, int64_t x, int64_t y) {
  switch (op) {
    case BIT_AND: return x & y;
    case BIT_OR: return x | y;
    default: return x ^ y;
  }
}

void bitwise(BitOp op, const char* operation) {
  VlItem* a = opA();
  VlItem* b = opB();
  if ((VL_IS_NUMERIC(a) || VL_IS_DATE(a)) && vl_itemIsNumLike(b)) {
    int64_t v = bitApply(op, vl_itemGetNLL(a), vl_itemGetNLL(b));
    uint16_t width = VL_IS_NUMERIC(a) ? a->n16 : vl_itemDefaultWidthLong(v);
    VlItem* r = result2();
    r->type = VL_IT_LONG;
    r->n16 = width;
    r->u.i64 = v;
    return;
  }
  if (VL_IS_STRING(a) && VL_IS_STRING(b)) {
    size_t la = a->n32, lb = b->n32;
    if (la > 0 && lb > 0) {
      const char* src = b->u.str.text;
      if (la == 1) {
        putChar(a, bitApply(op, static_cast<unsigned char>(a->u.str.text[0]), static_cast<unsigned char>(src[0])));
      } else {
        // b may share a's text: take the key bytes before a gets a private copy.
        char* key = static_cast<char*>(vl_xgrab(lb));
        std::memcpy(key, src, lb);
        char* text = vl_itemUnShareString(a);
        for (size_t i = 0; i < la; ++i)
          text[i] = static_cast<char>(bitApply(op, static_cast<unsigned char>(text[i]), static_cast<unsigned char>(key[i % lb])));
        vl_xfree(key);
      }
    }
    vl_stackPop();
    return;
  }
  if (VL_IS_STRING(a) && vl_itemIsNumLike(b)) {
    int64_t k = vl_itemGetNLL(b) & 0xFF;
    size_t la = a->n32;
    if (la == 1) {
      putChar(a, bitApply(op, static_cast<unsigned char>(a->u.str.text[0]), k));
    } else if (la > 1) {
      char* text = vl_itemUnShareString(a);
      for (size_t i = 0; i < la; ++i)
        text[i] = static_cast<char>(bitApply(op, static_cast<unsigned char>(text[i]), k));
    }
    vl_stackPop();
    return;
  }
  if (vl_itemIsNumLike(a) && VL_IS_STRING(b)) {
    int64_t v = vl_itemGetNLL(a);
    for (size_t i = 0; i < b->n32; ++i) v = bitApply(op, v, static_cast<signed char>(b->u.str.text[i]));
    vl_itemPutNLL(result2(), v);  // a long even when it would fit 32 bits
    return;
  }
  errorSubst2(VL_EG_ARG, 1088, operation);
}

void shift(bool right) {
  VlItem* a = opA();
  VlItem* b = opB();
  if (!vl_itemIsNumLike(a) || !vl_itemIsNumLike(b)) {
    errorSubst2(VL_EG_ARG, 1088, right ? ">>" : "<<");
    return;
  }
  int32_t x = static_cast<int32_t>(vl_itemGetNLL(a));
  unsigned n = static_cast<unsigned>(vl_itemGetNLL(b) & 31);
  int32_t r = right ? (x >> n) : static_cast<int32_t>(static_cast<uint32_t>(x) << n);
  VlItem* dst = result2();
  dst->type = VL_IT_LONG;
  dst->n16 = vl_itemDefaultWidthLong(r);
  dst->u.i64 = r;
}

// ---- array index ----
inline int64_t indexOf(const VlItem* idx) { return vl_itemGetNLL(idx); }

bool isAssociative(const VlItem* p) { return isObject(p) && std::strcmp(vl_clsName(vl_arrayClass(p)), "TASSOCIATIVEARRAY") == 0; }

}  // namespace

// ---- string comparison ----
// vl_itemStrCmp lives with the code pages (rtl/cdp.cpp): the collation of the current page.

// ---- arithmetic ----
void vl_opPlus() {
  VlItem* a = opA();
  VlItem* b = opB();
  if (VL_IS_STRING(a) && VL_IS_STRING(b)) {
    concat(a, b);
    return;
  }
  if (vl_itemIsNumLike(a) && vl_itemIsNumLike(b)) {
    if (VL_IS_STRING(a) || VL_IS_STRING(b)) {
      int64_t code = vl_itemGetNLL(a) + vl_itemGetNLL(b);
      putChar(result2(), code);
    } else if (VL_IS_DATE(a) || VL_IS_DATE(b)) {
      int64_t day = vl_itemGetNLL(a) + vl_itemGetNLL(b);
      vl_itemPutDL(result2(), static_cast<int32_t>(day));
    } else if (isNumInt(a) && isNumInt(b)) {
      int64_t x = intOf(a), y = intOf(b), r;
      if (__builtin_add_overflow(x, y, &r)) putDouble(result2(), static_cast<double>(x) + static_cast<double>(y), 0);
      else putNumInt(result2(), r);
    } else {
      int dec = decOf(a) > decOf(b) ? decOf(a) : decOf(b);
      putNumType(result2(), numOf(a) + numOf(b), dec, true);
    }
    return;
  }
  if (objOperator(OP_PLUS, a, 1, b)) {
    takeReturn2();
    return;
  }
  if (VL_IS_HASH(a) && VL_IS_HASH(b)) {
    VlItem r;
    r.type = VL_IT_NIL;
    vl_hashJoin(&r, a, b);
    vl_itemForwardValue(result2(), &r);
    return;
  }
  errorSubst2(VL_EG_ARG, 1081, "+");
}

void vl_opMinus() {
  VlItem* a = opA();
  VlItem* b = opB();
  if (VL_IS_STRING(a) && VL_IS_STRING(b)) {
    minusStrings(a, b);
    return;
  }
  if (vl_itemIsNumLike(a) && vl_itemIsNumLike(b)) {
    if (VL_IS_STRING(a) || VL_IS_STRING(b)) {
      putChar(result2(), vl_itemGetNLL(a) - vl_itemGetNLL(b));
    } else if (VL_IS_DATE(a) && VL_IS_NUMERIC(b)) {
      int64_t day = vl_itemGetNLL(a) - vl_itemGetNLL(b);
      vl_itemPutDL(result2(), static_cast<int32_t>(day));
    } else if (isNumInt(a) && isNumInt(b)) {
      int64_t x = intOf(a), y = intOf(b), r;
      if (__builtin_sub_overflow(x, y, &r)) putDouble(result2(), static_cast<double>(x) - static_cast<double>(y), 0);
      else putNumInt(result2(), r);
    } else {
      int dec = decOf(a) > decOf(b) ? decOf(a) : decOf(b);
      bool anyDouble = VL_IS_DOUBLE(a) || VL_IS_DOUBLE(b);
      putNumType(result2(), numOf(a) - numOf(b), dec, anyDouble);
    }
    return;
  }
  if (objOperator(OP_MINUS, a, 1, b)) {
    takeReturn2();
    return;
  }
  if (VL_IS_HASH(a) && (VL_IS_HASH(b) || VL_IS_ARRAY(b) || isKeyType(b))) {
    VlItem r;
    r.type = VL_IT_NIL;
    vl_hashRemoveKeys(&r, a, b);
    vl_itemForwardValue(result2(), &r);
    return;
  }
  errorSubst2(VL_EG_ARG, 1082, "-");
}

void vl_opMult() {
  VlItem* a = opA();
  VlItem* b = opB();
  if (vl_itemIsNumLike(a) && vl_itemIsNumLike(b)) {
    if (isNumInt(a) && isNumInt(b)) {
      int64_t r;
      if (__builtin_mul_overflow(intOf(a), intOf(b), &r))
        putDouble(result2(), static_cast<double>(intOf(a)) * static_cast<double>(intOf(b)), vl_set.decimals);
      else putNumInt(result2(), r);
    } else {
      bool anyDouble = VL_IS_DOUBLE(a) || VL_IS_DOUBLE(b);
      putNumType(result2(), numOf(a) * numOf(b), decOf(a) + decOf(b), anyDouble);
    }
    return;
  }
  if (objOperator(OP_MULT, a, 1, b)) {
    takeReturn2();
    return;
  }
  errorSubst2(VL_EG_ARG, 1083, "*");
}

void vl_opDivide() {
  VlItem* a = opA();
  VlItem* b = opB();
  if (vl_itemIsNumLike(a) && vl_itemIsNumLike(b)) {
    double d = numOf(b);
    if (d == 0.0) {
      errorSubst2(VL_EG_ZERODIV, 1340, "/", true);
      return;
    }
    putDouble(result2(), numOf(a) / d, vl_set.decimals);
    return;
  }
  if (objOperator(OP_DIVIDE, a, 1, b)) {
    takeReturn2();
    return;
  }
  errorSubst2(VL_EG_ARG, 1084, "/");
}

void vl_opMod() {
  VlItem* a = opA();
  VlItem* b = opB();
  if (vl_itemIsNumLike(a) && vl_itemIsNumLike(b)) {
    if (numOf(b) == 0.0) {
      errorSubst2(VL_EG_ZERODIV, 1341, "%", true);
      return;
    }
    if (isNumInt(a) && isNumInt(b)) {
      int64_t y = intOf(b);
      int64_t r = y == -1 ? 0 : intOf(a) % y;  // the remainder takes the sign of a
      if (vl_set.decimals == 0) putNumInt(result2(), r);
      else putDouble(result2(), static_cast<double>(r), vl_set.decimals);
    } else {
      putDouble(result2(), std::fmod(numOf(a), numOf(b)), vl_set.decimals);
    }
    return;
  }
  if (objOperator(OP_MOD, a, 1, b)) {
    takeReturn2();
    return;
  }
  errorSubst2(VL_EG_ARG, 1085, "%");
}

void vl_opPower() {
  VlItem* a = opA();
  VlItem* b = opB();
  if (vl_itemIsNumLike(a) && vl_itemIsNumLike(b)) {
    putDouble(result2(), std::pow(numOf(a), numOf(b)), vl_set.decimals);
    return;
  }
  if (objOperator(OP_POWER, a, 1, b)) {
    takeReturn2();
    return;
  }
  errorSubst2(VL_EG_ARG, 1088, "^");
}

void vl_opNegate() {
  VlItem* p = vl_stack.pos[-1];
  switch (p->type & ~VL_IT_MEMOFLAG) {
    case VL_IT_INTEGER:
      if (p->u.i32 == INT32_MIN) {
        p->type = VL_IT_LONG;
        p->n16 = 10;
        p->u.i64 = 2147483648LL;
      } else {
        p->u.i32 = -p->u.i32;
        p->n16 = VL_DEFAULT_WIDTH_INT(p->u.i32);
      }
      return;
    case VL_IT_LONG:
      if (p->u.i64 == INT64_MIN) {
        vl_itemPutNDLen(p, 9223372036854775808.0, 0, 0);
      } else {
        p->u.i64 = -p->u.i64;
        p->n16 = vl_itemDefaultWidthLong(p->u.i64);
      }
      return;
    case VL_IT_DOUBLE:
      p->u.dbl = -p->u.dbl;
      p->n16 = vl_itemDefaultWidthDouble(p->u.dbl);
      return;
    case VL_IT_STRING:
      if (p->n32 == 1) {
        int32_t code = static_cast<unsigned char>(p->u.str.text[0]);
        vl_itemPutNILen(p, -code, 10);
        return;
      }
      break;
    default: break;
  }
  errorSubst1(1080, "-");
}

static void incDec(int d) {
  VlItem* p = vl_stack.pos[-1];
  switch (p->type & ~VL_IT_MEMOFLAG) {
    case VL_IT_INTEGER: vl_itemPutNInt(p, static_cast<int64_t>(p->u.i32) + d); return;
    case VL_IT_LONG: {
      int64_t r;
      if (__builtin_add_overflow(p->u.i64, static_cast<int64_t>(d), &r))
        vl_itemPutNDLen(p, static_cast<double>(p->u.i64) + d, 0, 0);
      else vl_itemPutNLL(p, r);
      return;
    }
    case VL_IT_DOUBLE:
      p->u.dbl += d;
      p->n16 = vl_itemDefaultWidthDouble(p->u.dbl);
      return;
    case VL_IT_DATE: p->u.i32 += d; return;
    case VL_IT_STRING:
      if (p->n32 == 1) {
        putChar(p, static_cast<unsigned char>(p->u.str.text[0]) + d);
        return;
      }
      break;
    default: break;
  }
  if (objOperator(d > 0 ? OP_INC : OP_DEC, p, 0)) {
    takeReturn1();
    return;
  }
  errorSubst1(d > 0 ? 1086 : 1087, d > 0 ? "++" : "--");
}

void vl_opInc() { incDec(1); }
void vl_opDec() { incDec(-1); }

// ---- comparison ----
void vl_opEqual() {
  int r = equality(opA(), opB(), false);
  if (r == 2) takeReturn2();
  else if (r < 0) errorSubst2(VL_EG_ARG, 1071, "=");
  else putLogical2(r == 1);
}

void vl_opExactEqual() {
  int r = equality(opA(), opB(), true);
  if (r == 2) takeReturn2();
  else if (r < 0) errorSubst2(VL_EG_ARG, 1070, "==");
  else putLogical2(r == 1);
}

void vl_opNotEqual() {
  VlItem* a = opA();
  VlItem* b = opB();
  int r;  // 1 different, 0 equal, -1 no meaning, 2 method
  if (VL_IS_NIL(a)) r = VL_IS_NIL(b) ? 0 : 1;
  else if (VL_IS_NIL(b)) r = 1;
  else if (VL_IS_STRING(a) && VL_IS_STRING(b)) r = vl_itemStrCmp(a, b, false) != 0;
  else if (isNumInt(a) && isNumInt(b)) r = intOf(a) != intOf(b);
  else if (vl_itemIsNumLike(a) && vl_itemIsNumLike(b)) r = numOf(a) != numOf(b);
  else if (VL_IS_LOGICAL(a) && VL_IS_LOGICAL(b)) r = (a->u.i32 != 0) != (b->u.i32 != 0);
  else if (objOperator(OP_NOTEQUAL, a, 1, b)) r = 2;
  else if (VL_IS_HASH(a) && VL_IS_HASH(b)) r = a->u.hash.base != b->u.hash.base;
  else if (kindOf(a) != kindOf(b) || VL_IS_BLOCK(a) || VL_IS_ARRAY(a)) r = -1;
  else r = 1;
  if (r == 2) takeReturn2();
  else if (r < 0) errorSubst2(VL_EG_ARG, 1072, "<>");
  else putLogical2(r == 1);
}

void vl_opLess() { relational(OP_LESS, 1073, "<"); }
void vl_opLessEqual() { relational(OP_LESSEQUAL, 1074, "<="); }
void vl_opGreater() { relational(OP_GREATER, 1075, ">"); }
void vl_opGreaterEqual() { relational(OP_GREATEREQUAL, 1076, ">="); }

void vl_opInstring() {
  VlItem* a = opA();
  VlItem* b = opB();
  if (VL_IS_STRING(a) && VL_IS_STRING(b)) {
    bool found = a->n32 > 0 && a->n32 <= b->n32 && memmem(b->u.str.text, b->n32, a->u.str.text, a->n32) != nullptr;
    putLogical2(found);
    return;
  }
  if (objOperator(OP_INSTRING, a, 1, b)) {
    takeReturn2();
    return;
  }
  if (VL_IS_ARRAY(b)) {
    putLogical2(arrayContains(b, a));
    return;
  }
  if (VL_IS_HASH(b)) {
    if (isKeyType(a)) {
      VlItem scratch;
      scratch.type = VL_IT_NIL;
      bool found = vl_hashGetItem(b, a, &scratch);
      vl_itemClear(&scratch);
      putLogical2(found);
      return;
    }
    if (VL_IS_HASH(a) && vl_hashLen(a) == 1) {
      putLogical2(vl_hashHasEntry(b, a));
      return;
    }
  }
  errorSubst2(VL_EG_ARG, 1109, "$");
}

// ---- logical ----
void vl_opNot() {
  VlItem* p = vl_stack.pos[-1];
  if (VL_IS_LOGICAL(p)) {
    p->u.i32 = !p->u.i32;
    return;
  }
  if (objOperator(OP_NOT, p, 0)) {
    takeReturn1();
    return;
  }
  errorSubst1(1077, ".NOT.");
}

static void andOr(bool isAnd) {
  VlItem* a = opA();
  VlItem* b = opB();
  if (VL_IS_LOGICAL(a) && VL_IS_LOGICAL(b)) {
    bool x = a->u.i32 != 0, y = b->u.i32 != 0;
    putLogical2(isAnd ? (x && y) : (x || y));
    return;
  }
  if (objOperator(isAnd ? OP_AND : OP_OR, a, 1, b)) {
    takeReturn2();
    return;
  }
  errorSubst2(VL_EG_ARG, isAnd ? 1078 : 1079, isAnd ? ".AND." : ".OR.");
}

void vl_opAnd() { andOr(true); }
void vl_opOr() { andOr(false); }

void vl_opBitAnd() { bitwise(BIT_AND, "&"); }
void vl_opBitOr() { bitwise(BIT_OR, "|"); }
void vl_opBitXor() { bitwise(BIT_XOR, "^^"); }
void vl_opShiftRight() { shift(true); }
void vl_opShiftLeft() { shift(false); }

// ---- array index ----
void vl_opArrayGet() {
  VlItem* cell = opA();
  VlItem* c = vl_itemUnRef(cell);
  VlItem* idx = vl_itemUnRef(opB());
  if (objOperator(OP_ARRAYINDEX, c, 1, idx)) {
    takeReturn2();
    return;
  }
  VlItem value;
  value.type = VL_IT_NIL;
  if (VL_IS_HASH(c) && isKeyType(idx)) {
    if (!vl_hashGetItem(c, idx, &value)) {
      vl_errRT_BASE(VL_EG_BOUND, 1132, nullptr, "array access", 2, c, idx);
      return;
    }
    vl_stackPop();
    vl_itemForwardValue(vl_stack.pos[-1], &value);
    return;
  }
  if (!vl_itemIsNumLike(idx)) {
    if (VL_IS_STRING(idx) && isAssociative(c)) {
      char name[VL_SYMBOL_NAME_LEN + 1];
      size_t n = idx->n32 < VL_SYMBOL_NAME_LEN ? idx->n32 : VL_SYMBOL_NAME_LEN;
      std::memcpy(name, idx->u.str.text, n);
      name[n] = '\0';
      vl_objSendMsg(c, name, 0);
      takeReturn2();
      return;
    }
    errorSubst2(VL_EG_ARG, 1068, "array access");
    return;
  }
  int64_t k = indexOf(idx);
  if (VL_IS_ARRAY(c)) {
    int64_t len = c->u.arr.base->len;
    if (k == -1 && len == 0) {
      vl_stackPop();
      vl_itemClear(vl_stack.pos[-1]);
      return;
    }
    if (k < 0) k += len + 1;
    if (k < 1 || k > len) {
      vl_errRT_BASE(VL_EG_BOUND, 1132, nullptr, "array access", 2, c, idx);
      return;
    }
    vl_itemCopy(&value, vl_itemUnRef(&c->u.arr.base->items[k - 1]));
    vl_stackPop();
    vl_itemForwardValue(vl_stack.pos[-1], &value);
    return;
  }
  if (VL_IS_STRING(c)) {
    int64_t len = c->n32;
    if (k < 0) k += len + 1;
    if (k >= 1 && k <= len) vl_itemPutCL(&value, c->u.str.text + (k - 1), 1);
    else vl_itemPutCL(&value, "", 0);
    vl_stackPop();
    vl_itemForwardValue(vl_stack.pos[-1], &value);
    return;
  }
  if (VL_IS_NIL(c) && k == -1) {
    vl_stackPop();
    vl_itemClear(vl_stack.pos[-1]);
    return;
  }
  vl_errRT_BASE(VL_EG_ARG, 1068, nullptr, "array access", 2, c, idx);
}

void vl_opArrayPut() {
  VlItem* value = vl_stack.pos[-3];
  VlItem* c = vl_itemUnRef(vl_stack.pos[-2]);
  VlItem* idx = vl_itemUnRef(vl_stack.pos[-1]);
  auto popAll = [] {
    vl_stackPop();
    vl_stackPop();
    vl_stackPop();
  };
  if (objOperator(OP_ARRAYINDEX, c, 2, idx, value)) {
    popAll();
    return;
  }
  if (VL_IS_HASH(c) && isKeyType(idx)) {
    vl_hashSetItem(c, idx, value);
    popAll();
    return;
  }
  if (!vl_itemIsNumLike(idx)) {
    if (VL_IS_STRING(idx) && isAssociative(c)) {
      char name[VL_SYMBOL_NAME_LEN + 2];
      size_t n = idx->n32 < VL_SYMBOL_NAME_LEN ? idx->n32 : VL_SYMBOL_NAME_LEN;
      name[0] = '_';
      std::memcpy(name + 1, idx->u.str.text, n);
      name[n + 1] = '\0';
      vl_objSendMsg(c, name, 1, value);
      popAll();
      return;
    }
    vl_errRT_BASE(VL_EG_ARG, 1069, nullptr, "array assign", 3, c, idx, value);
    return;
  }
  int64_t k = indexOf(idx);
  if (VL_IS_ARRAY(c)) {
    VlArrayBase* base = c->u.arr.base;
    int64_t len = base->len;
    if (k < 0) k += len + 1;
    if (k < 1 || k > len) {
      vl_errRT_BASE(VL_EG_BOUND, 1133, nullptr, "array assign", 1, idx);
      return;
    }
    value->type &= static_cast<VlType>(~VL_IT_MEMOFLAG);
    VlItem* slot = &base->items[k - 1];
    if (VL_IS_BYREF(slot)) slot = vl_itemUnRef(slot);
    vl_itemForwardValue(slot, value);
    popAll();
    return;
  }
  if (VL_IS_STRING(c) && (VL_IS_STRING(value) || vl_itemIsNumLike(value))) {
    int64_t len = c->n32;
    if (k < 0) k += len + 1;
    if (k < 1 || k > len) {
      vl_errRT_BASE(VL_EG_BOUND, 1133, nullptr, "array assign", 3, c, idx, value);
      return;
    }
    unsigned char ch = VL_IS_STRING(value) ? (value->n32 ? static_cast<unsigned char>(value->u.str.text[0]) : 0)
                                           : static_cast<unsigned char>(vl_itemGetNLL(value) & 0xFF);
    if (len == 1) {
      VlType memo = c->type & VL_IT_MEMOFLAG;
      putChar(c, ch);
      c->type |= memo;
    } else {
      vl_itemUnShareString(c)[k - 1] = static_cast<char>(ch);
    }
    popAll();
    return;
  }
  vl_errRT_BASE(VL_EG_ARG, 1069, nullptr, "array assign", 3, c, idx, value);
}

// ---- FOR test ----
void vl_opForTest() {
  // Each operand is tested in turn (step, limit, counter); a bad one is replaced by the
  // handler's value and tested again.
  auto ensure = [](VlItem* p, bool (*ok)(const VlItem*)) -> bool {
    while (!ok(p)) {
      VlItem* r = vl_errRT_BASE_Subst(VL_EG_ARG, 1073, nullptr, "<", 1, p);
      if (!r) return false;
      vl_itemForwardValue(p, r);
      vl_itemRelease(r);
    }
    return true;
  };
  VlItem* step = vl_stack.pos[-1];
  VlItem* limit = vl_stack.pos[-2];
  VlItem* counter = vl_stack.pos[-3];
  bool good = ensure(step, [](const VlItem* p) { return vl_itemIsNumLike(p); }) &&
              ensure(limit, [](const VlItem* p) { return vl_itemIsNumLike(p) || VL_IS_LOGICAL(p); });
  if (good) {
    if (VL_IS_LOGICAL(limit)) good = ensure(counter, [](const VlItem* p) { return VL_IS_LOGICAL(p); });
    else good = ensure(counter, [](const VlItem* p) { return vl_itemIsNumLike(p); });
  }
  if (!good) {
    vl_stackPop();
    vl_stackPop();
    vl_stackPop();
    return;
  }
  bool up = numOf(step) >= 0;
  bool r;
  if (VL_IS_LOGICAL(limit)) {
    int x = counter->u.i32 != 0, y = limit->u.i32 != 0;
    r = up ? x <= y : x >= y;
  } else {
    double x = numOf(counter), y = numOf(limit);
    r = up ? x <= y : x >= y;
  }
  vl_stackPop();
  vl_stackPop();
  VlItem* dst = vl_stack.pos[-1];
  vl_itemClearInline(dst);
  dst->type = VL_IT_LOGICAL;
  dst->u.i32 = r ? 1 : 0;
}

// ---- in-place updates of variables ----
void vl_opAddInt(VlItem* target, int v, bool local) {
  switch (target->type & ~VL_IT_MEMOFLAG) {
    case VL_IT_INTEGER:
    case VL_IT_LONG: {
      int64_t x = (target->type & VL_IT_INTEGER) ? target->u.i32 : target->u.i64;
      int64_t r;
      if (__builtin_add_overflow(x, static_cast<int64_t>(v), &r)) {
        vl_itemPutNDLen(target, static_cast<double>(x) + v, 0, local ? 0 : vl_set.decimals);
      } else if (r >= INT32_MIN && r <= INT32_MAX) {
        target->type = VL_IT_INTEGER;
        target->n16 = VL_DEFAULT_WIDTH_INT(r);
        target->u.i32 = static_cast<int32_t>(r);
      } else {
        target->type = VL_IT_LONG;
        target->n16 = vl_itemDefaultWidthLong(r);
        target->u.i64 = r;
      }
      return;
    }
    case VL_IT_DOUBLE:
      target->u.dbl += v;
      target->n16 = vl_itemDefaultWidthDouble(target->u.dbl);
      return;
    case VL_IT_DATE: target->u.i32 += v; return;
    case VL_IT_STRING:
      if (target->n32 == 1) {
        putChar(target, static_cast<unsigned char>(target->u.str.text[0]) + v);
        return;
      }
      break;
    default: break;
  }
  if (isObject(target)) {
    VlItem arg;
    arg.type = VL_IT_NIL;
    vl_itemPutNI(&arg, v);
    bool done;
    if (local && v == 1) done = objOperator(OP_INC, target, 0);
    else if (local && v == -1) done = objOperator(OP_DEC, target, 0);
    else done = objOperator(OP_PLUS, target, 1, &arg);
    if (done) {
      vl_itemForwardValue(target, &vl_stack.ret);
      return;
    }
  }
  VlItem arg;
  arg.type = VL_IT_NIL;
  bool minus = !local && v < 1;
  vl_itemPutNI(&arg, minus ? -v : v);
  VlItem* r = vl_errRT_BASE_Subst(VL_EG_ARG, minus ? 1082 : 1081, nullptr, minus ? "-" : "+", 2, target, &arg);
  if (r) {
    vl_itemForwardValue(target, r);
    vl_itemRelease(r);
  }
}

bool vl_opAssign(VlItem* target, const VlItem* value) {
  if (!isObject(target)) return false;
  return objOperator(OP_ASSIGN, target, 1, value);
}
