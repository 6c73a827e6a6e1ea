// Numeric functions of the language (INT, ROUND, ABS, MAX, MIN, EXP, LOG, SQRT, VL_BITAND,
// VL_NUMTOHEX, VL_HEXTONUM) and the math-error service that EXP, LOG and SQRT report to.
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "../vm/extend.h"
#include "numconv.h"

namespace {

VlMathHandler s_handler;
int s_mode = VL_MATH_ERRMODE_DEFAULT;
VlMathError s_last = {VL_MATH_ERR_NONE, "", "", 0, 0, 0, false};

const VlItem* numArg(int n) {
  const VlItem* p = vl_param(n, VL_IT_ANY);
  return p && VL_IS_NUMERIC(p) ? p : nullptr;
}

void argError(int subCode, const char* operation, const char* description = nullptr) {
  vl_errRT_BASE_SubstR(VL_EG_ARG, subCode, description, operation, VL_ERR_ARGS_BASEPARAMS);
}

// Classifies the floating-point exceptions raised since they were last cleared.
int pendingMathError() {
  int raised = std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW);
  if (raised & FE_INVALID) return VL_MATH_ERR_DOMAIN;
  if (raised & FE_DIVBYZERO) return VL_MATH_ERR_SING;
  if (raised & FE_OVERFLOW) return VL_MATH_ERR_OVERFLOW;
  if (raised & FE_UNDERFLOW) return VL_MATH_ERR_UNDERFLOW;
  return VL_MATH_ERR_NONE;
}

// Runs one function of the standard library and hands a math error to the service; `fallback`
// gives the result when no handler supplies one.
double checked(const char* name, double (*fn)(double), double x, double (*fallback)(int type)) {
  std::feclearexcept(FE_ALL_EXCEPT);
  double r = fn(x);
  int type = pendingMathError();
  if (type == VL_MATH_ERR_NONE) return r;
  double supplied;
  if (vl_mathErrorRaise(type, name, x, 0, &supplied)) return supplied;
  return fallback(type);
}

double expFn(double x) { return std::exp(x); }
double logFn(double x) { return std::log(x); }
double sqrtFn(double x) { return std::sqrt(x); }

}  // namespace

// ---- math-error service ----

const char* vl_mathErrorText(int type) {
  switch (type) {
    case VL_MATH_ERR_DOMAIN: return "Argument not in domain of function";
    case VL_MATH_ERR_SING: return "Calculation results in singularity";
    case VL_MATH_ERR_OVERFLOW: return "Calculation result too large to represent";
    case VL_MATH_ERR_UNDERFLOW: return "Calculation result too small to represent";
    case VL_MATH_ERR_TLOSS: return "Total loss of significant digits";
    case VL_MATH_ERR_PLOSS: return "Partial loss of significant digits";
    default: return "Unknown math error";
  }
}

VlMathHandler vl_mathSetHandler(VlMathHandler handler) {
  VlMathHandler previous = s_handler;
  s_handler = handler;
  return previous;
}

int vl_mathSetErrMode(int mode) {
  int previous = s_mode;
  if (mode == VL_MATH_ERRMODE_DEFAULT || mode == VL_MATH_ERRMODE_USER) s_mode = mode;
  return previous;
}

const VlMathError* vl_mathLastError() { return &s_last; }

bool vl_mathErrorRaise(int type, const char* function, double arg1, double arg2, double* result) {
  s_last = {type, function, vl_mathErrorText(type), arg1, arg2, 0, false};
  if (!s_handler) return false;
  VlMathError error = s_last;
  s_handler(&error);
  if (s_mode == VL_MATH_ERRMODE_USER && error.handled) {
    *result = error.retval;
    return true;
  }
  return false;
}

// ---- language functions ----

// INT(n): integers unchanged; a double truncated toward zero, keeping its width.
VL_FUNC(INT) {
  const VlItem* p = numArg(1);
  if (!p) return argError(1090, "INT");
  if (!VL_IS_DOUBLE(p)) return vl_itemReturn(p);
  double v = std::trunc(p->u.dbl * 1.0000000000000002);
  vl_retnlen(v, p->n16, 0);
}

// ROUND(n, decimals)
VL_FUNC(ROUND) {
  const VlItem* p = numArg(1);
  const VlItem* d = numArg(2);
  if (!p || !d) return argError(1094, "ROUND");
  int64_t n = vl_itemGetNLL(d);
  if (n == 0 && VL_IS_NUMINT(p)) return vl_itemReturn(p);
  if (n > 0x7FFF) n = 0x7FFF;
  if (n < -0x7FFF) n = -0x7FFF;
  double r = vl_numRound(vl_itemGetND(p), static_cast<int>(n));
  vl_retndlen(r, 0, n > 0 ? static_cast<int>(n) : 0);
}

// ABS(n): the same type and width, widened where the negation does not fit.
VL_FUNC(ABS) {
  const VlItem* p = numArg(1);
  if (!p) return argError(1089, "ABS");
  if (VL_IS_INTEGER(p)) {
    int64_t v = p->u.i32;
    if (v < 0) v = -v;
    if (v > INT32_MAX) vl_retnllen(v, p->n16);
    else vl_retnilen(static_cast<int32_t>(v), p->n16);
  } else if (VL_IS_LONG(p)) {
    if (p->u.i64 == INT64_MIN) vl_retndlen(-static_cast<double>(p->u.i64), p->n16, 0);
    else vl_retnllen(p->u.i64 < 0 ? -p->u.i64 : p->u.i64, p->n16);
  } else {
    vl_retndlen(std::fabs(p->u.dbl), p->n16, static_cast<int>(p->n32));
  }
}

namespace {

// MAX and MIN: two dates, two numbers or two logicals; `wantMax` picks the direction.
void maxMin(bool wantMax, int subCode, const char* operation) {
  const VlItem* a = vl_param(1, VL_IT_ANY);
  const VlItem* b = vl_param(2, VL_IT_ANY);
  if (a && b && VL_IS_DATE(a) && VL_IS_DATE(b)) {
    bool pickA = wantMax ? a->u.i32 >= b->u.i32 : a->u.i32 <= b->u.i32;
    vl_retdl(pickA ? a->u.i32 : b->u.i32);
  } else if (a && b && VL_IS_NUMERIC(a) && VL_IS_NUMERIC(b)) {
    if (VL_IS_DOUBLE(a) || VL_IS_DOUBLE(b)) {
      double x = vl_itemGetND(a), y = vl_itemGetND(b);
      bool pickA = wantMax ? x >= y : x <= y;
      const VlItem* chosen = pickA ? a : b;
      vl_retndlen(pickA ? x : y, 0, VL_IS_DOUBLE(chosen) ? static_cast<int>(chosen->n32) : 0);
    } else {
      int64_t x = vl_itemGetNLL(a), y = vl_itemGetNLL(b);
      int64_t v = (wantMax ? x >= y : x <= y) ? x : y;
      if (VL_IS_LONG(a) || VL_IS_LONG(b)) vl_retnll(v);
      else vl_retni(static_cast<int32_t>(v));
    }
  } else if (a && b && VL_IS_LOGICAL(a) && VL_IS_LOGICAL(b)) {
    bool x = a->u.i32 != 0, y = b->u.i32 != 0;
    vl_retl(wantMax ? (x || y) : (x && y));
  } else {
    argError(subCode, operation);
  }
}

}  // namespace

VL_FUNC(MAX) { maxMin(true, 1093, "MAX"); }
VL_FUNC(MIN) { maxMin(false, 1092, "MIN"); }

VL_FUNC(EXP) {
  const VlItem* p = numArg(1);
  if (!p) return argError(1096, "EXP");
  vl_retnd(checked("EXP", expFn, vl_itemGetND(p), [](int type) {
    return type == VL_MATH_ERR_OVERFLOW ? std::numeric_limits<double>::infinity() : 0.0;
  }));
}

VL_FUNC(LOG) {
  const VlItem* p = numArg(1);
  if (!p) return argError(1095, "LOG");
  vl_retnd(checked("LOG", logFn, vl_itemGetND(p), [](int type) {
    return type == VL_MATH_ERR_DOMAIN || type == VL_MATH_ERR_SING ? -std::numeric_limits<double>::infinity() : 0.0;
  }));
}

VL_FUNC(SQRT) {
  const VlItem* p = numArg(1);
  if (!p) return argError(1097, "SQRT");
  vl_retnd(checked("SQRT", sqrtFn, vl_itemGetND(p), [](int) { return 0.0; }));
}

// VL_BITAND(a, b): bitwise and of two integers.
VL_FUNC(VL_BITAND) {
  const VlItem* a = vl_param(1, VL_IT_ANY);
  const VlItem* b = vl_param(2, VL_IT_ANY);
  if (!a || !b || !VL_IS_NUMINT(a) || !VL_IS_NUMINT(b))
    return argError(1089, "VL_BITAND", "Non-integer parameters");
  if (VL_IS_LONG(a) || VL_IS_LONG(b)) vl_retnll(vl_itemGetNLL(a) & vl_itemGetNLL(b));
  else vl_retni(a->u.i32 & b->u.i32);
}

// VL_NUMTOHEX(n): upper-case hexadecimal digits of n as an unsigned 64-bit number; "" for 0.
VL_FUNC(VL_NUMTOHEX) {
  const VlItem* p = vl_param(1, VL_IT_ANY);
  uint64_t u;
  if (p && VL_IS_NUMERIC(p)) u = static_cast<uint64_t>(vl_itemGetNLL(p));
  else if (p && VL_IS_POINTER(p)) u = reinterpret_cast<uintptr_t>(p->u.ptr);
  else return argError(3012, "VL_NUMTOHEX");
  char text[16];
  int n = 0;
  for (char* q = text + sizeof text; u; u >>= 4, ++n) *--q = "0123456789ABCDEF"[u & 15];
  vl_retclen(text + sizeof text - n, static_cast<size_t>(n));
}

// VL_HEXTONUM(string): the value of the hexadecimal digits; 0 when any other character occurs.
VL_FUNC(VL_HEXTONUM) {
  const VlItem* p = vl_param(1, VL_IT_STRING);
  if (!p) return argError(3012, "VL_HEXTONUM");
  uint64_t u = 0;
  for (uint32_t i = 0; i < p->n32; ++i) {
    char c = p->u.str.text[i];
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) {
      u = 0;
      break;
    }
    u = (u << 4) | static_cast<uint64_t>(d);
  }
  vl_retnint(static_cast<int64_t>(u));
}

VL_NATIVE_MODULE(mathfn, VL_FUNCENTRY(INT), VL_FUNCENTRY(ROUND), VL_FUNCENTRY(ABS), VL_FUNCENTRY(MAX),
                 VL_FUNCENTRY(MIN), VL_FUNCENTRY(EXP), VL_FUNCENTRY(LOG), VL_FUNCENTRY(SQRT), VL_FUNCENTRY(VL_BITAND),
                 VL_FUNCENTRY(VL_NUMTOHEX), VL_FUNCENTRY(VL_HEXTONUM));
