// DBF header, field descriptor and field value codecs (layout in dbfformat.h).
#include "dbfformat.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "../rtl/dates.h"
#include "bytes.h"

namespace {

bool isBlank(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Exact powers of ten up to 10^22, so that dividing a digit string's integer by one of them
// gives the correctly rounded double.
double powerOfTen(int n) {
  static const double table[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (n >= 0 && n <= 22) return table[n];
  return std::pow(10.0, n);
}

// "YYYYMMDD" to a day number; eight digits are decoded here, anything else (blanks, damage)
// the general way, which gives the empty date for what is not a valid date.
int32_t dateFromDigits(const uint8_t* p) {
  unsigned v[8];
  for (int k = 0; k < 8; ++k) {
    v[k] = static_cast<unsigned>(p[k]) - '0';
    if (v[k] > 9) {
      char text[9];
      std::memcpy(text, p, 8);
      text[8] = '\0';
      return vl_dateEncStr(text);
    }
  }
  return vl_dateEncode(static_cast<int>(v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3]), static_cast<int>(v[4] * 10 + v[5]),
                       static_cast<int>(v[6] * 10 + v[7]));
}

// A day number as "YYYYMMDD"; blanks for the empty date or one outside years 1..9999.
void dateToDigits(int32_t day, uint8_t* p) {
  int y, m, d;
  vl_dateDecode(day, &y, &m, &d);
  if (day <= 0 || y < 1 || y > 9999) {
    std::memset(p, ' ', 8);
    return;
  }
  const int parts[] = {y / 1000, y / 100 % 10, y / 10 % 10, y % 10, m / 10, m % 10, d / 10, d % 10};
  for (int k = 0; k < 8; ++k) p[k] = static_cast<uint8_t>('0' + parts[k]);
}

// Numbers above this are not all exactly representable as doubles.
constexpr int64_t EXACT_DOUBLE_LIMIT = INT64_C(9007199254740992);

}  // namespace

bool vl_dbfHeaderDecode(const uint8_t* p, const uint8_t* end, VlDbfHeader* out) {
  if (p > end || end - p < static_cast<ptrdiff_t>(VL_DBF_HEADER_SIZE)) return false;
  uint8_t version = p[0];
  if (version != VL_DBF_VERSION_PLAIN && version != VL_DBF_VERSION_MEMO && version != VL_DBF_VERSION_30 &&
      version != VL_DBF_VERSION_F5)
    return false;
  out->version = version;
  out->year = p[1];
  out->month = p[2];
  out->day = p[3];
  vl_leGet32(p + 4, end, &out->recCount);
  vl_leGet16(p + 8, end, &out->headerLen);
  vl_leGet16(p + 10, end, &out->recordLen);
  out->flags = p[28];
  out->codePage = p[29];
  return true;
}

void vl_dbfHeaderEncode(const VlDbfHeader& header, uint8_t* out) {
  std::memset(out, 0, VL_DBF_HEADER_SIZE);
  out[0] = header.version;
  out[1] = header.year;
  out[2] = header.month;
  out[3] = header.day;
  vl_lePut32(out + 4, header.recCount);
  vl_lePut16(out + 8, header.headerLen);
  vl_lePut16(out + 10, header.recordLen);
  out[28] = header.flags;
  out[29] = header.codePage;
}

bool vl_dbfHasMemo(uint8_t version, uint8_t flags) {
  return version == VL_DBF_VERSION_F5 || version == VL_DBF_VERSION_MEMO ||
         (version == VL_DBF_VERSION_30 && (flags & VL_DBF_FLAG_MEMO));
}

VlDbfFieldStatus vl_dbfFieldDecode(const uint8_t* p, const uint8_t* end, uint8_t version, VlDbfFieldDesc* out) {
  if (p > end || end - p < static_cast<ptrdiff_t>(VL_DBF_FIELD_SIZE)) return VL_DBF_FIELD_SHORT;
  if (p[0] == VL_DBF_HEADER_END) return VL_DBF_FIELD_END;
  if (version == VL_DBF_VERSION_30 && p[11] == 0) return VL_DBF_FIELD_END;

  size_t n = 0;
  for (; n < 10 && p[n]; ++n) {
    char c = static_cast<char>(p[n]);
    out->name[n] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  out->name[n] = '\0';
  bool empty = true;
  for (size_t i = 0; i < n; ++i)
    if (out->name[i] != ' ') empty = false;
  if (empty) return VL_DBF_FIELD_NONAME;

  uint8_t len = p[16], dec = p[17];
  out->letter = static_cast<char>(p[11]);
  out->dec = 0;
  switch (p[11]) {
    case '2':
    case '4':
      out->type = VL_IT_INTEGER;
      out->len = static_cast<uint16_t>(p[11] - '0');
      break;
    case '8':
    case 'B':
      out->type = VL_IT_DOUBLE;
      out->len = 8;
      out->dec = dec;
      break;
    case 'C':
      out->type = VL_IT_STRING;
      out->len = static_cast<uint16_t>(len + 256 * dec);
      break;
    case 'D':
      out->type = VL_IT_DATE;
      out->len = len == 3 ? 3 : 8;
      break;
    case 'F':
    case 'N':
      out->type = VL_IT_LONG;
      out->len = len;
      out->dec = dec;
      break;
    case 'I':
      out->type = VL_IT_INTEGER;
      out->len = (len == 0 || (len > 4 && len != 8)) ? 4 : len;
      break;
    case 'L':
      out->type = VL_IT_LOGICAL;
      out->len = 1;
      break;
    case 'M':
      out->type = VL_IT_MEMO;
      out->len = len;
      break;
    default:
      return VL_DBF_FIELD_BADTYPE;
  }
  return VL_DBF_FIELD_OK;
}

uint16_t vl_dbfStoredLength(VlType type, uint16_t len) {
  switch (type) {
    case VL_IT_INTEGER: return (len == 1 || len == 2 || len == 3 || len == 4 || len == 8) ? len : 4;
    case VL_IT_DOUBLE: return 8;
    case VL_IT_DATE: return len == 3 ? 3 : 8;
    case VL_IT_LOGICAL: return 1;
    case VL_IT_MEMO: return len == 4 ? 4 : 10;
    default: return len;
  }
}

bool vl_dbfFieldEncode(const char* name, VlType type, uint16_t len, uint16_t dec, uint8_t* out) {
  std::memset(out, 0, VL_DBF_FIELD_SIZE);
  for (size_t i = 0; i < 10 && name[i]; ++i) out[i] = static_cast<uint8_t>(name[i]);
  len = vl_dbfStoredLength(type, len);
  uint8_t letter;
  switch (type) {
    case VL_IT_INTEGER: letter = 'I'; dec = 0; break;
    case VL_IT_LONG: letter = 'N'; break;
    case VL_IT_DOUBLE: letter = 'B'; break;
    case VL_IT_DATE: letter = 'D'; dec = 0; break;
    case VL_IT_LOGICAL: letter = 'L'; dec = 0; break;
    case VL_IT_STRING: letter = 'C'; dec = static_cast<uint16_t>(len >> 8); len &= 0xFF; break;
    case VL_IT_MEMO: letter = 'M'; dec = 0; break;
    default: return false;
  }
  out[11] = letter;
  out[16] = static_cast<uint8_t>(len);
  out[17] = static_cast<uint8_t>(dec);
  return true;
}

uint32_t vl_dbfRecordsFromSize(uint64_t size, uint16_t headerLen, uint16_t recordLen) {
  if (recordLen == 0 || size <= headerLen) return 0;
  uint64_t n = (size - headerLen) / recordLen;
  return n > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(n);
}

namespace {

// The general reader: digits beyond what a 64-bit integer holds continue as a double.
void parseNumberSlow(const uint8_t* p, size_t len, int64_t* intValue, double* dblValue, bool* isDouble) {
  size_t i = 0;
  while (i < len && isBlank(p[i])) ++i;
  bool negative = false;
  if (i < len && (p[i] == '-' || p[i] == '+')) negative = p[i++] == '-';
  int64_t acc = 0;
  double dacc = 0.0;
  bool useDouble = false, point = false;
  int decimals = 0;
  for (; i < len; ++i) {
    uint8_t c = p[i];
    if (c >= '0' && c <= '9') {
      int digit = c - '0';
      if (!useDouble && (acc < INT64_C(922337203685477580) || (acc == INT64_C(922337203685477580) && digit <= 7))) {
        acc = acc * 10 + digit;
      } else {
        if (!useDouble) dacc = static_cast<double>(acc);
        useDouble = true;
        dacc = dacc * 10.0 + digit;
      }
      if (point) ++decimals;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (decimals > 0 || useDouble) {
    double d = useDouble ? dacc : static_cast<double>(acc);
    if (decimals > 0) d /= powerOfTen(decimals);
    // A negative zero would print as "-0.00" when written back.
    *dblValue = (negative && d != 0.0) ? -d : d;
    *intValue = 0;
    *isDouble = true;
  } else {
    *intValue = negative ? -acc : acc;
    *dblValue = 0.0;
    *isDouble = false;
  }
}

}  // namespace

void vl_dbfParseNumber(const uint8_t* p, size_t len, int64_t* intValue, double* dblValue, bool* isDouble) {
  // Every table read parses its numbers: up to 18 digits need no overflow checks.
  size_t i = 0;
  while (i < len && p[i] == ' ') ++i;
  bool negative = false;
  if (i < len && (p[i] == '-' || p[i] == '+')) negative = p[i++] == '-';
  uint64_t acc = 0;
  int digits = 0, decimals = 0;
  bool point = false;
  for (; i < len; ++i) {
    unsigned d = static_cast<unsigned>(p[i]) - '0';
    if (d <= 9) {
      if (++digits > 18) return parseNumberSlow(p, len, intValue, dblValue, isDouble);
      acc = acc * 10 + d;
      decimals += point;
    } else if (p[i] == '.' && !point) {
      point = true;
    } else if (digits == 0 && !point && isBlank(p[i])) {
      return parseNumberSlow(p, len, intValue, dblValue, isDouble);  // tabs or line ends in front
    } else {
      break;
    }
  }
  if (decimals > 0) {
    double d = static_cast<double>(acc) / powerOfTen(decimals);
    *dblValue = (negative && d != 0.0) ? -d : d;
    *intValue = 0;
    *isDouble = true;
  } else {
    int64_t v = static_cast<int64_t>(acc);
    *intValue = negative ? -v : v;
    *dblValue = 0.0;
    *isDouble = false;
  }
}

namespace {

// Digits of v (>= 0) right-aligned ending at end; returns the first digit's position.
char* writeDigits(char* end, uint64_t v) {
  do {
    *--end = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  return end;
}

// The exact text of the number rounded to dec decimals, as "%.*f" gives it; false when it needs
// more than the buffer. Whole numbers and doubles whose scaled value is clearly not halfway
// between two integers are done with integer arithmetic; the rest go through printf.
bool numberText(const VlItem* number, uint16_t dec, char* buf, size_t size, size_t* len) {
  char* end = buf + size;
  char* p;
  bool negative;
  if (!VL_IS_DOUBLE(number)) {
    int64_t v = VL_IS_LONG(number) ? number->u.i64 : number->u.i32;
    negative = v < 0;
    if (dec + 22u > size) return false;
    p = end;
    if (dec > 0) {
      p -= dec;
      std::memset(p, '0', dec);
      *--p = '.';
    }
    p = writeDigits(p, negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v));
  } else {
    double d = number->u.dbl;
    if (!std::isfinite(d)) return false;
    if (d == 0) d = 0.0;  // no "-0.00" for a negative zero
    // The product carries at most one rounding error: when a half lies within it, only the
    // exact conversion can tell which way the value rounds.
    double scaled = std::fabs(d) * powerOfTen(dec);
    double whole = std::floor(scaled);
    double frac = scaled - whole;
    if (dec > 22 || scaled >= 4e15 || std::fabs(frac - 0.5) <= scaled * 4.5e-16 + 1e-12) {
      int n = std::snprintf(buf, size, "%.*f", static_cast<int>(dec), d);
      if (n < 0 || static_cast<size_t>(n) >= size) return false;
      *len = static_cast<size_t>(n);
      return true;
    }
    uint64_t v = static_cast<uint64_t>(whole) + (frac > 0.5 ? 1 : 0);
    negative = d < 0;
    p = end;
    if (dec > 0) {
      for (uint16_t k = 0; k < dec; ++k) {
        *--p = static_cast<char>('0' + v % 10);
        v /= 10;
      }
      *--p = '.';
    }
    p = writeDigits(p, v);
  }
  if (negative) *--p = '-';
  *len = static_cast<size_t>(end - p);
  std::memmove(buf, p, *len);
  return true;
}

}  // namespace

bool vl_dbfFormatNumber(char* out, uint16_t len, uint16_t dec, const VlItem* number) {
  char tmp[400];
  size_t n = 0;
  if (!numberText(number, dec, tmp, sizeof tmp, &n) || n > len) {
    std::memset(out, '*', len);
    return false;
  }
  size_t pad = len - n;
  std::memset(out, ' ', pad);
  std::memcpy(out + pad, tmp, n);
  return true;
}

bool vl_dbfGetValue(VlType type, uint16_t len, uint16_t dec, const uint8_t* p, VlItem* out) {
  const uint8_t* end = p + len;
  switch (type) {
    case VL_IT_STRING:
      vl_itemPutCL(out, reinterpret_cast<const char*>(p), len);
      return true;
    case VL_IT_LOGICAL:
      vl_itemPutL(out, len > 0 && (p[0] == 'T' || p[0] == 't' || p[0] == 'Y' || p[0] == 'y'));
      return true;
    case VL_IT_DATE:
      if (len == 3) {
        uint32_t day = 0;
        vl_leGet24(p, end, &day);
        vl_itemPutDL(out, static_cast<int32_t>(day));
        return true;
      }
      if (len == 8) {
        vl_itemPutDL(out, dateFromDigits(p));
        return true;
      }
      return false;
    case VL_IT_LONG: {
      int64_t i;
      double d;
      bool isDouble;
      vl_dbfParseNumber(p, len, &i, &d, &isDouble);
      if (dec > 0) {
        int width = static_cast<int>(len) - static_cast<int>(dec) - 1;
        vl_itemPutNDLen(out, isDouble ? d : static_cast<double>(i), width > 0 ? width : 1, dec);
      } else if (isDouble) {
        vl_itemPutNDLen(out, d, len, 0);
      } else if (len < 10) {
        vl_itemPutNILen(out, static_cast<int32_t>(i), len);
      } else if (i > EXACT_DOUBLE_LIMIT || i < -EXACT_DOUBLE_LIMIT) {
        // A double would change the last digits of this number.
        vl_itemPutNLLLen(out, i, len);
      } else {
        vl_itemPutNDLen(out, static_cast<double>(i), len, 0);
      }
      return true;
    }
    case VL_IT_INTEGER:
      switch (len) {
        case 1: vl_itemPutNILen(out, static_cast<int8_t>(p[0]), 4); return true;
        case 2: {
          uint16_t v = 0;
          vl_leGet16(p, end, &v);
          vl_itemPutNILen(out, static_cast<int16_t>(v), 6);
          return true;
        }
        case 3: {
          uint32_t v = 0;
          vl_leGet24(p, end, &v);
          int32_t s = (v & 0x800000u) ? static_cast<int32_t>(v | 0xFF000000u) : static_cast<int32_t>(v);
          vl_itemPutNILen(out, s, 10);
          return true;
        }
        case 4: {
          uint32_t v = 0;
          vl_leGet32(p, end, &v);
          vl_itemPutNILen(out, static_cast<int32_t>(v), 10);
          return true;
        }
        case 8: {
          uint64_t v = 0;
          vl_leGet64(p, end, &v);
          vl_itemPutNLLLen(out, static_cast<int64_t>(v), 20);
          return true;
        }
        default: return false;
      }
    case VL_IT_DOUBLE: {
      if (len != 8) return false;
      uint64_t bits = 0;
      vl_leGet64(p, end, &bits);
      double d;
      std::memcpy(&d, &bits, sizeof d);
      vl_itemPutNDLen(out, d, dec > 0 ? 20 - (dec + 1) : 20, dec);
      return true;
    }
    default:
      return false;
  }
}

bool vl_dbfIsBinaryField(VlType type, uint16_t len) {
  return type == VL_IT_INTEGER || type == VL_IT_DOUBLE || (type == VL_IT_DATE && len == 3) ||
         (type == VL_IT_MEMO && len == 4);
}

void vl_dbfBlankField(VlType type, uint16_t len, uint8_t* p) {
  std::memset(p, vl_dbfIsBinaryField(type, len) ? 0 : ' ', len);
}

int vl_dbfPutValue(VlType type, uint16_t len, uint16_t dec, uint8_t* p, const VlItem* value) {
  if (VL_IS_STRING(value)) {
    if (type != VL_IT_STRING) return VL_DBF_PUT_TYPE;
    size_t n = vl_itemGetCLen(value);
    if (n > len) n = len;
    std::memcpy(p, vl_itemGetCPtr(value), n);
    std::memset(p + n, ' ', len - n);
    return VL_DBF_PUT_OK;
  }
  if (VL_IS_DATE(value)) {
    if (type != VL_IT_DATE) return VL_DBF_PUT_TYPE;
    int32_t day = vl_itemGetDL(value);
    if (len == 3) {
      if (day > 0xFFFFFF) return VL_DBF_PUT_WIDTH;
      vl_lePut24(p, day > 0 ? static_cast<uint32_t>(day) : 0u);
    } else if (len == 8) {
      dateToDigits(day, p);
    } else {
      return VL_DBF_PUT_TYPE;
    }
    return VL_DBF_PUT_OK;
  }
  if (VL_IS_NUMERIC(value)) {
    switch (type) {
      case VL_IT_LONG:
        return vl_dbfFormatNumber(reinterpret_cast<char*>(p), len, dec, value) ? VL_DBF_PUT_OK : VL_DBF_PUT_WIDTH;
      case VL_IT_INTEGER: {
        int64_t v;
        if (VL_IS_DOUBLE(value)) {
          double d = value->u.dbl;
          // 2^63 itself is out of range; every double below it converts.
          if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return VL_DBF_PUT_WIDTH;
          v = static_cast<int64_t>(d);
        } else {
          v = vl_itemGetNInt(value);
        }
        int need = (v >= -128 && v <= 127)                  ? 1
                   : (v >= -32768 && v <= 32767)            ? 2
                   : (v >= -8388608 && v <= 8388607)        ? 3
                   : (v >= INT32_MIN && v <= INT32_MAX)     ? 4
                                                            : 8;
        if (len != 1 && len != 2 && len != 3 && len != 4 && len != 8) return VL_DBF_PUT_TYPE;
        if (len < need) return VL_DBF_PUT_WIDTH;
        uint64_t bits = static_cast<uint64_t>(v);
        for (uint16_t i = 0; i < len; ++i) p[i] = static_cast<uint8_t>(bits >> (8 * i));
        return VL_DBF_PUT_OK;
      }
      case VL_IT_DOUBLE: {
        if (len != 8) return VL_DBF_PUT_TYPE;
        double d = vl_itemGetND(value);
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        vl_lePut64(p, bits);
        return VL_DBF_PUT_OK;
      }
      default:
        return VL_DBF_PUT_TYPE;
    }
  }
  if (VL_IS_LOGICAL(value)) {
    if (type != VL_IT_LOGICAL) return VL_DBF_PUT_TYPE;
    p[0] = vl_itemGetL(value) ? 'T' : 'F';
    return VL_DBF_PUT_OK;
  }
  return VL_DBF_PUT_TYPE;
}
