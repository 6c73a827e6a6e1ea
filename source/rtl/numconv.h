// Numbers as text and text as numbers: the one formatter behind STR(), TRANSFORM(), console
// output and numeric fields, and the parser behind VAL() and the macro compiler.
#pragma once

#include <cstddef>
#include <cstdint>

struct VlItem;

// Writes the text of a number right-aligned into exactly `total` bytes at buf (no terminating
// zero): an integer field of total - decimals - 1 positions, then "." and the decimals when
// decimals > 0. Returns false, with the field full of '*', when the number does not fit.
// Doubles show at most 16 significant digits (later positions are '0').
bool vl_itemStrBuf(char* buf, const VlItem* number, int total, int decimals);

// The text of a number under the width and decimals rules of STR(): the number's own display
// width (at most 90) and decimals, or SET_DECIMALS decimals when SET_FIXED is on; a width item
// replaces the width (0 or less means 10) and resets the decimals to 0; a decimals item replaces
// them (negative: 0) and takes decimals + 1 from the width. Returns a new text (vl_xfree) or
// null when the number is not numeric or the width comes out as 0. `len` (may be null) receives
// the length. vl_itemStr (item.h) is this with applyFixed true and no length.
char* vl_numStr(const VlItem* number, const VlItem* width, const VlItem* decimals, bool applyFixed, size_t* len);

// Formats a number into a new text of exactly width (+ decimals + 1 when decimals > 0) bytes.
char* vl_numToStr(const VlItem* number, int width, int decimals);

// VAL's reading of a text: returns true when the result is a double (in *dbl, with *decimals
// display decimals), false for an integer (in *integer). *width receives the display width.
// With hex, "0x" or "0X" after the sign starts a hexadecimal number (the macro compiler's form).
bool vl_valStrnToNum(const char* text, size_t len, int64_t* integer, double* dbl, int* decimals, int* width,
                     bool hex = false);

// ROUND's arithmetic: x rounded to n decimals (n < 0 rounds to tens, hundreds, ...).
double vl_numRound(double x, int n);
// 10 to the power n, exact for -15..15.
double vl_numPow10(int n);

// ---- the math-error service of EXP, LOG and SQRT ----
enum VlMathErrorType : int {
  VL_MATH_ERR_NONE = 0,
  VL_MATH_ERR_DOMAIN = 1,     // argument not in domain
  VL_MATH_ERR_SING = 2,       // singularity
  VL_MATH_ERR_OVERFLOW = 3,   // result too large
  VL_MATH_ERR_UNDERFLOW = 4,  // result too small
  VL_MATH_ERR_TLOSS = 5,      // total loss of significance
  VL_MATH_ERR_PLOSS = 6,      // partial loss of significance
  VL_MATH_ERR_UNKNOWN = 7,
};

struct VlMathError {
  int type;              // VlMathErrorType
  const char* function;  // "EXP", "LOG", "SQRT"
  const char* text;      // "Argument not in domain of function", ...
  double arg1, arg2;
  double retval;         // the value a handler supplies
  bool handled;          // set by a handler that supplies retval
};

enum VlMathErrMode : int {
  VL_MATH_ERRMODE_DEFAULT = 0,  // the handler is told, no value is supplied
  VL_MATH_ERRMODE_USER = 1,     // a handler that sets `handled` supplies the result
};

using VlMathHandler = void (*)(VlMathError* error);
VlMathHandler vl_mathSetHandler(VlMathHandler handler);  // returns the previous one
int vl_mathSetErrMode(int mode);                         // returns the previous mode
const VlMathError* vl_mathLastError();                   // type VL_MATH_ERR_NONE when none
const char* vl_mathErrorText(int type);
// Offers an error of `type` raised by `function` to the handler; true with *result set when the
// handler supplied a value.
bool vl_mathErrorRaise(int type, const char* function, double arg1, double arg2, double* result);
