// The language's operators. Each works on the one or two items on top of the evaluation stack
// (a below b), leaves its result in their place, raises the run-time error of a pairing that has
// no meaning, and lets an object answer through its operator method (__OpPlus, ...).
//
// Error convention: a substitutable error pops the operands and pushes the handler's value; a
// non-substitutable one pushes nothing and leaves the operands where they were.
#pragma once

#include <cstdint>

#include "item.h"

// ---- binary and unary operators on the stack top ----
void vl_opPlus();
void vl_opMinus();
void vl_opMult();
void vl_opDivide();
void vl_opMod();
void vl_opPower();
void vl_opNegate();  // in place
void vl_opInc();     // in place
void vl_opDec();     // in place
void vl_opEqual();       // =  (non-exact string comparison)
void vl_opExactEqual();  // ==
void vl_opNotEqual();    // <>
void vl_opLess();
void vl_opLessEqual();
void vl_opGreater();
void vl_opGreaterEqual();
void vl_opInstring();  // $
void vl_opNot();       // in place
void vl_opAnd();
void vl_opOr();
void vl_opBitAnd();
void vl_opBitOr();
void vl_opBitXor();
void vl_opShiftRight();
void vl_opShiftLeft();

// ELEMGET: pops container and index, pushes the element.
void vl_opArrayGet();
// ELEMPUT: pops value, container and index (index on top); the element receives the value.
void vl_opArrayPut();
// LOOPCHECK: pops step, limit and counter; pushes counter <= limit (counter >= limit for a
// negative step), or nothing when a bad operand got no substitute.
void vl_opForTest();

// LOCALADDINT (local = true) and ADDINT16 (local = false): target += v in place. The target is
// the variable itself (references already followed).
void vl_opAddInt(VlItem* target, int v, bool local);

// Assignment to a variable holding an object whose class defines __OpAssign: sends it with the
// value and answers true; false (nothing done) for any other target.
bool vl_opAssign(VlItem* target, const VlItem* value);

// String comparison: -1, 0 or 1. forceExact is the == comparison; otherwise SET_EXACT decides.
int vl_itemStrCmp(const VlItem* a, const VlItem* b, bool forceExact);

// True when the item counts as a number for the operators: an integer, long or double, a date
// (its day number) or a string of exactly one character (its code).
inline bool vl_itemIsNumLike(const VlItem* p) {
  if (p->type & (VL_IT_NUMERIC | VL_IT_DATE)) return true;
  return (p->type & VL_IT_STRING) && p->n32 == 1;
}
