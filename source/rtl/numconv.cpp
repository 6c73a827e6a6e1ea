// The number formatter.
#include "numconv.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "../vm/item.h"
#include "../vm/xmem.h"

char* vl_numToStr(const VlItem* number, int width, int decimals) {
  if (width < 1) width = 1;
  if (decimals < 0) decimals = 0;
  size_t size = static_cast<size_t>(width) + (decimals > 0 ? static_cast<size_t>(decimals) + 1 : 0);
  char* out = static_cast<char*>(vl_xgrab(size + 1));
  char tmp[400];
  int n;
  if (VL_IS_DOUBLE(number)) {
    double d = number->u.dbl;
    if (std::isnan(d) || std::isinf(d)) n = -1;
    else n = std::snprintf(tmp, sizeof tmp, "%.*f", decimals, d);
  } else {
    int64_t v = VL_IS_LONG(number) ? number->u.i64 : number->u.i32;
    if (decimals > 0) n = std::snprintf(tmp, sizeof tmp, "%" PRId64 ".%0*d", v, decimals, 0);
    else n = std::snprintf(tmp, sizeof tmp, "%" PRId64, v);
  }
  if (n < 0 || static_cast<size_t>(n) > size) {
    std::memset(out, '*', size);
  } else {
    std::memset(out, ' ', size - static_cast<size_t>(n));
    std::memcpy(out + size - static_cast<size_t>(n), tmp, static_cast<size_t>(n));
  }
  out[size] = '\0';
  return out;
}
