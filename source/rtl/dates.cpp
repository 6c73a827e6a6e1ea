// Dates as Julian day numbers (the astronomical day count; 0 is the empty date): encoding and
// decoding, the date picture of SET_DATEFORMAT in both directions, the clock, and the date
// functions of the language (DATE, TIME, SECONDS, DTOS, STOD, DTOC, CTOD, YEAR, MONTH, DAY, DOW,
// CMONTH, CDOW).
#include "dates.h"

#include <ctime>

#include "../vm/extend.h"
#include "langapi.h"
#include "set.h"

namespace {

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysIn(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

void argError(int subCode, const char* operation) {
  vl_errRT_BASE_SubstR(VL_EG_ARG, subCode, nullptr, operation, VL_ERR_ARGS_BASEPARAMS);
}

// The date argument of the date functions, or null after raising the argument error.
const VlItem* dateArg(int subCode, const char* operation) {
  const VlItem* p = vl_param(1, VL_IT_DATE);
  if (!p) argError(subCode, operation);
  return p;
}

}  // namespace

int32_t vl_dateEncode(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysIn(year, month)) return 0;
  int a = month <= 2 ? 1 : 0;
  int y = year - a;
  return (a * 4404 + month * 367 - 734) / 12 + (y * 1461 + 7012800) / 4 + day - ((y + 4900) / 100) * 3 / 4 - 32075;
}

void vl_dateDecode(int32_t julian, int* year, int* month, int* day) {
  if (julian <= 0) {
    *year = *month = *day = 0;
    return;
  }
  // The inverse of vl_dateEncode, in 64-bit arithmetic so that no day number overflows.
  int64_t l = static_cast<int64_t>(julian) + 68569;
  int64_t n = 4 * l / 146097;
  l -= (146097 * n + 3) / 4;
  int64_t i = 4000 * (l + 1) / 1461001;
  l = l - 1461 * i / 4 + 31;
  int64_t j = 80 * l / 2447;
  *day = static_cast<int>(l - 2447 * j / 80);
  l = j / 11;
  *month = static_cast<int>(j + 2 - 12 * l);
  *year = static_cast<int>(100 * (n - 49) + i + l);
}

int vl_dateDOW(int year, int month, int day) {
  int y = month <= 2 ? year - 1 : year;
  int m = month <= 2 ? month + 13 : month + 1;
  return (day + m * 26 / 10 + y + y / 4 + y / 400 - y / 100 + 6) % 7 + 1;
}

void vl_dateStrPut(char* buffer9, int year, int month, int day) {
  if (year <= 0 || month <= 0 || day <= 0 || year > 9999 || month > 99 || day > 99) {
    for (int i = 0; i < 8; ++i) buffer9[i] = ' ';
  } else {
    int parts[3] = {year, month, day};
    int widths[3] = {4, 2, 2};
    char* p = buffer9;
    for (int k = 0; k < 3; ++k) {
      for (int w = widths[k] - 1; w >= 0; --w) {
        p[w] = static_cast<char>('0' + parts[k] % 10);
        parts[k] /= 10;
      }
      p += widths[k];
    }
  }
  buffer9[8] = '\0';
}

void vl_dateStrGet(const char* s, int* year, int* month, int* day) {
  auto digits = [s](int from, int count) {
    int v = 0;
    for (int i = from; i < from + count; ++i) v = v * 10 + (s[i] >= '0' && s[i] <= '9' ? s[i] - '0' : 0);
    return v;
  };
  *year = digits(0, 4);
  *month = digits(4, 2);
  *day = digits(6, 2);
}

char* vl_dateDecStr(char* buffer9, int32_t julian) {
  int y, m, d;
  vl_dateDecode(julian, &y, &m, &d);
  vl_dateStrPut(buffer9, y, m, d);
  return buffer9;
}

int32_t vl_dateEncStr(const char* s) {
  if (!s) return 0;
  for (int i = 0; i < 8; ++i)
    if (s[i] < '0' || s[i] > '9') return 0;  // also stops at the end of a shorter text
  int y, m, d;
  vl_dateStrGet(s, &y, &m, &d);
  return vl_dateEncode(y, m, d);
}

char* vl_dateFormat(const char* yyyymmdd, char* buffer, const char* format) {
  bool empty = true;
  for (int i = 0; i < 8 && yyyymmdd[i]; ++i) empty = empty && yyyymmdd[i] == ' ';
  // Digits of the day, month and year as text: "DD", "MM", "YYYY".
  const char* day = yyyymmdd + 6;
  const char* month = yyyymmdd + 4;
  const char* year = yyyymmdd;
  bool usedD = false, usedM = false, usedY = false;
  int n = 0;
  int flen = 0;
  while (flen < 10 && format[flen]) ++flen;
  for (int i = 0; i < flen;) {
    char c = upperAscii(format[i]);
    int run = 1;
    while (i + run < flen && upperAscii(format[i + run]) == c) ++run;
    bool* used = c == 'D' ? &usedD : c == 'M' ? &usedM : c == 'Y' ? &usedY : nullptr;
    if (!used || *used) {
      // Another character, or a later run of a letter already filled: written in upper case.
      for (int k = 0; k < run; ++k) buffer[n++] = c;
    } else {
      *used = true;
      int digits = run > 4 ? 4 : run;
      char out[4];
      if (c == 'Y') {
        for (int k = 0; k < digits; ++k) out[k] = year[4 - digits + k];
      } else {
        // One letter: the units; two: tens and units; more: the tens repeated, then the units.
        const char* two = c == 'D' ? day : month;
        for (int k = 0; k < digits - 1; ++k) out[k] = two[0];
        out[digits - 1] = two[1];
      }
      for (int k = 0; k < digits; ++k) buffer[n++] = empty ? ' ' : out[k];
      for (int k = digits; k < run; ++k) buffer[n++] = c;
    }
    i += run;
  }
  buffer[n] = '\0';
  return buffer;
}

char* vl_dateFormat(char* buffer, int32_t julian, const char* format) {
  char text[9];
  return vl_dateFormat(vl_dateDecStr(text, julian), buffer, format);
}

int32_t vl_dateUnformat(const char* text, size_t len, const char* format, int epoch) {
  // Field order from the picture: the first of d, m, y to appear is field 1, and so on. A letter
  // the picture lacks takes the fields left over, in the order day, month, year.
  int fieldOf[3] = {-1, -1, -1};  // field index of day, month, year
  int next = 0;
  for (const char* f = format; *f && next < 3; ++f) {
    char c = upperAscii(*f);
    int which = c == 'D' ? 0 : c == 'M' ? 1 : c == 'Y' ? 2 : -1;
    if (which >= 0 && fieldOf[which] < 0) fieldOf[which] = next++;
  }
  for (int& f : fieldOf)
    if (f < 0) f = next++;

  constexpr int64_t CAP = 1000000000;  // a run of digits longer than any date part stays invalid
  int64_t field[3] = {0, 0, 0};
  int current = 0;
  bool previousDigit = false;
  auto complete = [&] { return field[0] > 0 && field[1] > 0 && field[2] > 0; };
  for (size_t i = 0; i < len; ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      if (current < 3) {
        field[current] = field[current] * 10 + (c - '0');
        if (field[current] > CAP) field[current] = CAP;
      }
      previousDigit = true;
    } else if (c == ' ') {
      if (complete()) break;
    } else {
      if (complete()) break;
      if (previousDigit) ++current;
      previousDigit = false;
    }
  }
  int64_t d = field[fieldOf[0]], m = field[fieldOf[1]], y = field[fieldOf[2]];
  if (y >= 0 && y <= 99) {
    int64_t century = epoch / 100 * 100;
    y += y < epoch % 100 ? century + 100 : century;
  }
  if (d > 31 || m > 12 || y > 9999) return 0;
  return vl_dateEncode(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d));
}

int32_t vl_dateToday() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return vl_dateEncode(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

void vl_timeNow(int* hour, int* minute, int* second, int* millisecond) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::time_t secs = ts.tv_sec;
  std::tm tm{};
  localtime_r(&secs, &tm);
  *hour = tm.tm_hour;
  *minute = tm.tm_min;
  *second = tm.tm_sec;
  *millisecond = static_cast<int>(ts.tv_nsec / 1000000);
}

// ---- language functions ----

VL_FUNC(DATE) { vl_retdl(vl_dateToday()); }

VL_FUNC(TIME) {
  int h, m, s, ms;
  vl_timeNow(&h, &m, &s, &ms);
  char text[9] = {static_cast<char>('0' + h / 10), static_cast<char>('0' + h % 10), ':',
                  static_cast<char>('0' + m / 10), static_cast<char>('0' + m % 10), ':',
                  static_cast<char>('0' + s / 10), static_cast<char>('0' + s % 10), '\0'};
  vl_retclen(text, 8);
}

VL_FUNC(SECONDS) {
  int h, m, s, ms;
  vl_timeNow(&h, &m, &s, &ms);
  vl_retndlen(h * 3600.0 + m * 60.0 + s + ms / 1000.0, 0, 2);
}

VL_FUNC(DTOS) {
  if (const VlItem* p = dateArg(1120, "DTOS")) {
    char text[9];
    vl_retclen(vl_dateDecStr(text, p->u.i32), 8);
  }
}

VL_FUNC(STOD) {
  const VlItem* p = vl_param(1, VL_IT_STRING);
  vl_retdl(p && p->n32 >= 8 ? vl_dateEncStr(p->u.str.text) : 0);
}

VL_FUNC(DTOC) {
  if (const VlItem* p = dateArg(1118, "DTOC")) {
    char text[11];
    vl_retc(vl_dateFormat(text, p->u.i32, vl_set.dateFormat));
  }
}

VL_FUNC(CTOD) {
  const VlItem* p = vl_param(1, VL_IT_STRING);
  if (!p) {
    argError(1119, "CTOD");
    return;
  }
  vl_retdl(vl_dateUnformat(p->u.str.text, p->n32, vl_set.dateFormat, vl_set.epoch));
}

VL_FUNC(YEAR) {
  if (const VlItem* p = dateArg(1112, "YEAR")) {
    int y, m, d;
    vl_dateDecode(p->u.i32, &y, &m, &d);
    vl_retnilen(y, 5);
  }
}

VL_FUNC(MONTH) {
  if (const VlItem* p = dateArg(1113, "MONTH")) {
    int y, m, d;
    vl_dateDecode(p->u.i32, &y, &m, &d);
    vl_retnilen(m, 3);
  }
}

VL_FUNC(DAY) {
  if (const VlItem* p = dateArg(1114, "DAY")) {
    int y, m, d;
    vl_dateDecode(p->u.i32, &y, &m, &d);
    vl_retnilen(d, 3);
  }
}

VL_FUNC(DOW) {
  if (const VlItem* p = dateArg(1115, "DOW")) {
    int y, m, d;
    vl_dateDecode(p->u.i32, &y, &m, &d);
    vl_retnilen(p->u.i32 > 0 ? vl_dateDOW(y, m, d) : 0, 3);
  }
}

VL_FUNC(CMONTH) {
  if (const VlItem* p = dateArg(1116, "CMONTH")) {
    int y, m, d;
    vl_dateDecode(p->u.i32, &y, &m, &d);
    vl_retc(m >= 1 && m <= 12 ? vl_langText(VL_LANG_MONTH + m - 1) : "");
  }
}

VL_FUNC(CDOW) {
  if (const VlItem* p = dateArg(1117, "CDOW")) {
    int y, m, d;
    vl_dateDecode(p->u.i32, &y, &m, &d);
    vl_retc(p->u.i32 > 0 && y > 0 ? vl_langText(VL_LANG_DAY + vl_dateDOW(y, m, d) - 1) : "");
  }
}

VL_NATIVE_MODULE(dates, VL_FUNCENTRY(DATE), VL_FUNCENTRY(TIME), VL_FUNCENTRY(SECONDS), VL_FUNCENTRY(DTOS),
                 VL_FUNCENTRY(STOD), VL_FUNCENTRY(DTOC), VL_FUNCENTRY(CTOD), VL_FUNCENTRY(YEAR), VL_FUNCENTRY(MONTH),
                 VL_FUNCENTRY(DAY), VL_FUNCENTRY(DOW), VL_FUNCENTRY(CMONTH), VL_FUNCENTRY(CDOW));
