// Numbers as text: the formatter (vl_itemStrBuf) that every number display goes through, the
// STR() width rules (vl_numStr, vl_itemStr), the text reader behind VAL() and the functions STR
// and VAL.
//
// Doubles are formatted from their exact decimal expansion: at most 16 significant digits are
// shown (later positions are '0'), and the digit after the last one shown rounds. A 4 there is
// taken as a 5 when the digits after it, up to the 16th significant one, read 99...9x with
// x >= 2: the binary value of a decimal such as 1.005 lies just below it, and the display
// follows the decimal the program wrote. When more than 16 digits are asked for, the 17th rounds
// the 16th rather than being dropped: a numeric field written with many decimals then reads back
// as the value that was written (15454169734.14 is not stored as 15454169734.139990).
#include "numconv.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "../vm/extend.h"
#include "../vm/item.h"
#include "../vm/xmem.h"
#include "set.h"

namespace {

constexpr int MAX_SIGNIFICANT = 16;
// Texts longer than this cannot be formatted (the field width is an int).
constexpr int64_t MAX_TOTAL_WIDTH = 0x7FFFFFFE;

bool stars(char* buf, int total) {
  if (total > 0) std::memset(buf, '*', static_cast<size_t>(total));
  return false;
}

// Lays out a number from its integer digits (without leading zeros; none for a value below 1)
// and its decimal digits (null: all '0'). A value below 1 gets a "0" before the point when there
// is room; a negative one gets its "-" directly before the first integer digit (or that "0"),
// dropping the "0" when only the sign fits. A number that does not fit is all '*': a sign is
// never left out, since the text would then read as another value.
bool layout(char* buf, int total, int dec, bool neg, const char* intDigits, int nInt, const char* decDigits) {
  if (total <= 0) return true;
  int intField = dec > 0 ? total - dec - 1 : total;
  if (intField < 0) return stars(buf, total);
  bool zero = false;
  int need = nInt;
  if (nInt == 0 && (dec == 0 || intField >= (neg ? 2 : 1))) {
    zero = true;
    need = 1;
  }
  if (neg) ++need;
  if (need > intField) return stars(buf, total);
  char* p = buf;
  std::memset(p, ' ', static_cast<size_t>(intField - need));
  p += intField - need;
  if (neg) *p++ = '-';
  if (zero) {
    *p++ = '0';
  } else {
    std::memcpy(p, intDigits, static_cast<size_t>(nInt));
    p += nInt;
  }
  if (dec > 0) {
    *p++ = '.';
    if (decDigits) std::memcpy(p, decDigits, static_cast<size_t>(dec));
    else std::memset(p, '0', static_cast<size_t>(dec));
  }
  return true;
}

bool formatInteger(char* buf, int64_t v, int total, int dec) {
  bool neg = v < 0;
  uint64_t u = neg ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  char digits[20];
  int n = 0;
  for (char* p = digits + sizeof digits; u; u /= 10) {
    *--p = static_cast<char>('0' + u % 10);
    ++n;
  }
  return layout(buf, total, dec, neg, digits + sizeof digits - n, n, nullptr);
}

bool formatDouble(char* buf, double v, int total, int dec) {
  if (!std::isfinite(v)) return stars(buf, total);
  bool neg = v < 0;
  double a = neg ? -v : v;
  // Twenty significant digits of the exact value and the decimal exponent of the first one.
  char m[20];
  int e = 0;
  if (a == 0) {
    std::memset(m, '0', sizeof m);
  } else {
    char sci[48];
    auto res = std::to_chars(sci, sci + sizeof sci, a, std::chars_format::scientific, 19);
    *res.ptr = '\0';
    m[0] = sci[0];
    std::memcpy(m + 1, sci + 2, 19);
    e = std::atoi(sci + 22);  // "d.ddddddddddddddddddde+XX"
  }
  int64_t hi = e > 0 ? e : 0;         // highest position shown (10^hi)
  int64_t n = hi + 1 + dec;           // positions shown: hi .. 0 and the decimals
  int64_t next = e + dec + 1;         // index in m of the digit after the last position shown
  // Significant digits kept; the digit after them rounds.
  int64_t kept = next < MAX_SIGNIFICANT ? next : MAX_SIGNIFICANT;
  bool up = false;
  if (kept >= 0) {
    char d = m[kept];
    if (d >= '5') {
      up = true;
    } else if (d == '4' && kept + 2 < MAX_SIGNIFICANT) {
      up = m[MAX_SIGNIFICANT - 1] >= '2';
      for (int64_t k = kept + 1; up && k < MAX_SIGNIFICANT - 1; ++k) up = m[k] == '9';
    }
  }
  char local[400];
  char* digits = n + 1 <= static_cast<int64_t>(sizeof local) ? local : static_cast<char*>(vl_xgrab(static_cast<size_t>(n + 1)));
  digits[0] = '0';  // room for a carry out of the highest position
  for (int64_t i = 0; i < n; ++i) {
    int64_t k = e - (hi - i);
    digits[i + 1] = k >= 0 && k < MAX_SIGNIFICANT ? m[k] : '0';
  }
  if (up) {
    int64_t i = hi - e + kept;  // the last digit kept
    while (digits[i] == '9') digits[i--] = '0';
    ++digits[i];
  }
  int64_t intLen = hi + 2;  // carry slot and the integer positions
  int64_t skip = 0;
  while (skip < intLen && digits[skip] == '0') ++skip;
  bool ok = layout(buf, total, dec, neg, digits + skip, static_cast<int>(intLen - skip), digits + intLen);
  if (digits != local) vl_xfree(digits);
  return ok;
}

// The STR() rules: total width and decimals of the text of `number`.
int64_t strTotal(const VlItem* number, const VlItem* width, const VlItem* decimals, bool applyFixed, int* decOut) {
  int w, d;
  vl_itemGetNLen(number, &w, &d);
  if (w > 90) w = 90;
  int64_t W = w, D = d;
  if (applyFixed && vl_set.fixed) D = vl_set.decimals;
  if (width && VL_IS_NUMERIC(width)) {
    W = vl_itemGetNLL(width);
    if (W <= 0) W = 10;
    D = 0;
  }
  if (decimals && VL_IS_NUMERIC(decimals)) {
    D = vl_itemGetNLL(decimals);
    if (D < 0) D = 0;
    else if (D > 0) W -= D + 1;
  }
  if (D > MAX_TOTAL_WIDTH || W > MAX_TOTAL_WIDTH) return MAX_TOTAL_WIDTH + 1;
  *decOut = static_cast<int>(D);
  return D > 0 ? W + D + 1 : W;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

double pow10Table(int n) {
  static const double table[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (n >= 0 && n <= 22) return table[n];
  return std::pow(10.0, n);
}

}  // namespace

bool vl_itemStrBuf(char* buf, const VlItem* number, int total, int decimals) {
  if (decimals < 0) decimals = 0;
  if (!number || !VL_IS_NUMERIC(number)) return stars(buf, total);
  if (decimals > 0 && total - decimals - 1 < 0) return stars(buf, total);
  if (VL_IS_DOUBLE(number)) {
    if (number->n16 == 99) return stars(buf, total);
    return formatDouble(buf, number->u.dbl, total, decimals);
  }
  return formatInteger(buf, VL_IS_LONG(number) ? number->u.i64 : number->u.i32, total, decimals);
}

char* vl_numStr(const VlItem* number, const VlItem* width, const VlItem* decimals, bool applyFixed, size_t* len) {
  if (len) *len = 0;
  if (!number || !VL_IS_NUMERIC(number)) return nullptr;
  int dec = 0;
  int64_t total = strTotal(number, width, decimals, applyFixed, &dec);
  if (total <= 0 || total > MAX_TOTAL_WIDTH) return nullptr;
  char* text = static_cast<char*>(vl_xgrab(static_cast<size_t>(total) + 1));
  vl_itemStrBuf(text, number, static_cast<int>(total), dec);
  text[total] = '\0';
  if (len) *len = static_cast<size_t>(total);
  return text;
}

char* vl_itemStr(const VlItem* number, const VlItem* width, const VlItem* decimals) {
  return vl_numStr(number, width, decimals, true, nullptr);
}

char* vl_numToStr(const VlItem* number, int width, int decimals) {
  if (width < 0) width = 0;
  if (decimals < 0) decimals = 0;
  int total = decimals > 0 ? width + decimals + 1 : width;
  char* text = static_cast<char*>(vl_xgrab(static_cast<size_t>(total) + 1));
  vl_itemStrBuf(text, number, total, decimals);
  text[total] = '\0';
  return text;
}

double vl_numPow10(int n) { return n >= 0 ? pow10Table(n) : 1.0 / pow10Table(-n); }

bool vl_valStrnToNum(const char* s, size_t len, int64_t* integer, double* dbl, int* decimals, int* width, bool hex) {
  size_t i = 0;
  while (i < len && isBlank(s[i])) ++i;
  bool neg = false;
  if (i < len && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
  int fullWidth = len > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(len);

  if (hex && i + 1 < len && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    uint64_t u = 0;
    for (i += 2; i < len; ++i) {
      char c = s[i];
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) break;
      u = u * 16 + static_cast<uint64_t>(d);
    }
    int64_t v = static_cast<int64_t>(u);
    *integer = neg ? static_cast<int64_t>(0 - u) : v;
    *dbl = static_cast<double>(*integer);
    *decimals = 0;
    *width = fullWidth;
    return false;
  }

  // Digits accumulate as a 64-bit integer while they fit, then as a double.
  constexpr int64_t LIMIT = 922337203685477580LL;
  int64_t iv = 0;
  double dv = 0;
  bool isDouble = false, dot = false;
  int decRead = 0, intDigits = 0;
  size_t dotPos = len;
  for (; i < len; ++i) {
    char c = s[i];
    if (c >= '0' && c <= '9') {
      int d = c - '0';
      if (!isDouble && (iv < LIMIT || (iv == LIMIT && d <= 7))) {
        iv = iv * 10 + d;
      } else {
        if (!isDouble) dv = static_cast<double>(iv);
        isDouble = true;
        dv = dv * 10 + d;
      }
      if (dot) {
        if (decRead < 0x7FFFFFFF) ++decRead;
      } else if (intDigits < 0x7FFFFFFF) {
        ++intDigits;
      }
    } else if (c == '.' && !dot) {
      dot = true;
      dotPos = i;
    } else {
      break;
    }
  }
  size_t stop = i;
  int64_t dispDec = decRead;
  if (!dot) {
    // A point further on still sets the decimals shown, though its digits are not read.
    const void* p = stop < len ? std::memchr(s + stop, '.', len - stop) : nullptr;
    if (p) {
      dotPos = static_cast<size_t>(static_cast<const char*>(p) - s);
      dispDec = static_cast<int64_t>(len - dotPos - 1);
    }
  }
  if (dispDec > 0 || isDouble) {
    double v = isDouble ? dv : static_cast<double>(iv);
    if (decRead > 0) v /= pow10Table(decRead);
    if (neg) v = -v;
    size_t intSpan = dotPos < len ? dotPos : stop;
    int w;
    if (v >= 10000000000.0 || v <= -999999999.0 || intSpan > 10) w = 20;
    else if (dispDec == 0) w = fullWidth;
    else if (intDigits == 0) w = 1;
    else if (neg && intDigits == 1) w = 2;
    else w = static_cast<int>(intSpan);
    *dbl = v;
    *integer = v > -9223372036854775808.0 && v < 9223372036854775808.0 ? static_cast<int64_t>(v) : 0;
    *decimals = dispDec > 0x7FFF ? 0x7FFF : static_cast<int>(dispDec);
    *width = w;
    return true;
  }
  *integer = neg ? -iv : iv;
  *dbl = static_cast<double>(*integer);
  *decimals = 0;
  *width = fullWidth;
  return false;
}

double vl_numRound(double x, int n) {
  if (x == 0 || !std::isfinite(x)) return x;
  double p = n > 400 || n < -400 ? HUGE_VAL : pow10Table(n >= 0 ? n : -n);
  // Scaling beyond the range of doubles: nothing is left to round away, or everything is.
  if (!std::isfinite(p)) return n >= 0 ? x : 0;
  double y = n >= 0 ? x * p : x / p;
  if (!std::isfinite(y * 10)) return x;
  y = y * 10;
  y += x < 0 ? -5 : 5;
  y = y / 10;
  y = y * 1.0000000000000002;  // lets a value just below .5 in binary round as the decimal would
  y = std::trunc(y);
  return n >= 0 ? y / p : y * p;
}

// ---- STR and VAL ----

// STR(number [, width [, decimals]]) or STR(number, width, decimals, lTrim).
VL_FUNC(STR) {
  int argc = vl_pcount();
  const VlItem* number = vl_param(1, VL_IT_ANY);
  const VlItem* width = argc >= 2 ? vl_param(2, VL_IT_ANY) : nullptr;
  const VlItem* decimals = argc >= 3 ? vl_param(3, VL_IT_ANY) : nullptr;
  bool trim = false;
  bool ok = number && VL_IS_NUMERIC(number);
  if (argc >= 4) {
    // With the trim flag, width and decimals apply when they are numbers and are ignored
    // otherwise, so that STR(n,,, .T.) is the trimmed default text.
    const VlItem* flag = vl_param(4, VL_IT_ANY);
    trim = flag && VL_IS_LOGICAL(flag) && flag->u.i32;
    if (width && !VL_IS_NUMERIC(width)) width = nullptr;
    if (decimals && !VL_IS_NUMERIC(decimals)) decimals = nullptr;
  } else {
    ok = ok && (!width || VL_IS_NUMERIC(width)) && (!decimals || VL_IS_NUMERIC(decimals));
  }
  if (!ok) {
    vl_errRT_BASE_SubstR(VL_EG_ARG, 1099, nullptr, "STR", VL_ERR_ARGS_BASEPARAMS);
    return;
  }
  int dec = 0;
  int64_t total = strTotal(number, width, decimals, false, &dec);
  if (total > MAX_TOTAL_WIDTH) {
    vl_errRT_BASE_SubstR(VL_EG_STROVERFLOW, 1234, nullptr, "STR", VL_ERR_ARGS_BASEPARAMS);
    return;
  }
  if (total <= 0) {
    vl_retc("");
    return;
  }
  if (trim || total <= 1) {
    char small[64];
    char* text = total < static_cast<int64_t>(sizeof small) ? small : static_cast<char*>(vl_xgrab(static_cast<size_t>(total)));
    vl_itemStrBuf(text, number, static_cast<int>(total), dec);
    size_t skip = 0;
    while (trim && skip < static_cast<size_t>(total) && isBlank(text[skip])) ++skip;
    vl_retclen(text + skip, static_cast<size_t>(total) - skip);
    if (text != small) vl_xfree(text);
    return;
  }
  // Formatted straight into the result's own text: one allocation per call.
  VlItem* ret = vl_stackReturnItem();
  char* text = vl_itemPutCLBuffer(ret, static_cast<size_t>(total));
  vl_itemStrBuf(text, number, static_cast<int>(total), dec);
}

// VAL(string) -> number.
VL_FUNC(VAL) {
  const VlItem* p = vl_param(1, VL_IT_STRING);
  if (!p) {
    vl_errRT_BASE_SubstR(VL_EG_ARG, 1098, nullptr, "VAL", VL_ERR_ARGS_BASEPARAMS);
    return;
  }
  int64_t iv;
  double dv;
  int dec, width;
  if (vl_valStrnToNum(p->u.str.text, p->n32, &iv, &dv, &dec, &width)) vl_retndlen(dv, width, dec);
  else vl_retnintlen(iv, width);
}

VL_NATIVE_MODULE(numconv, VL_FUNCENTRY(STR), VL_FUNCENTRY(VAL));
