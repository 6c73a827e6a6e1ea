// Dates as Julian day numbers (the astronomical day count; 0 is the empty date).
#include "dates.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {
bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int daysIn(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : days[m - 1];
}
}  // namespace

int32_t vl_dateEncode(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysIn(year, month)) return 0;
  // Proleptic Gregorian calendar to Julian day number.
  int a = (14 - month) / 12;
  int y = year + 4800 - a;
  int m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

void vl_dateDecode(int32_t julian, int* year, int* month, int* day) {
  if (julian <= 0) {
    *year = *month = *day = 0;
    return;
  }
  int64_t a = static_cast<int64_t>(julian) + 32044;
  int64_t b = (4 * a + 3) / 146097;
  int64_t c = a - 146097 * b / 4;
  int64_t d = (4 * c + 3) / 1461;
  int64_t e = c - 1461 * d / 4;
  int64_t m = (5 * e + 2) / 153;
  *day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
  *month = static_cast<int>(m + 3 - 12 * (m / 10));
  *year = static_cast<int>(100 * b + d - 4800 + m / 10);
}

char* vl_dateDecStr(char* buffer9, int32_t julian) {
  int y, m, d;
  vl_dateDecode(julian, &y, &m, &d);
  if (julian <= 0 || y < 0 || y > 9999) {
    std::memset(buffer9, ' ', 8);
  } else {
    std::snprintf(buffer9, 9, "%04d%02d%02d", y, m, d);
  }
  buffer9[8] = '\0';
  return buffer9;
}

int32_t vl_dateEncStr(const char* s) {
  if (!s) return 0;
  int v[3] = {0, 0, 0};
  const int widths[3] = {4, 2, 2};
  int pos = 0;
  for (int part = 0; part < 3; ++part) {
    for (int i = 0; i < widths[part]; ++i, ++pos) {
      char c = s[pos];
      if (!c) return 0;
      if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
      v[part] = v[part] * 10 + (c - '0');
    }
  }
  return vl_dateEncode(v[0], v[1], v[2]);
}

char* vl_dateFormat(char* buffer, int32_t julian, const char* format) {
  // Each run of Y, M or D letters takes the year, month or day; other characters are copied.
  int y, m, d;
  vl_dateDecode(julian, &y, &m, &d);
  size_t n = 0;
  const size_t cap = 10;
  for (const char* p = format; *p && n < cap;) {
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    size_t run = 1;
    while (p[run] && std::toupper(static_cast<unsigned char>(p[run])) == c && (c == 'Y' || c == 'M' || c == 'D')) ++run;
    if (c == 'Y' || c == 'M' || c == 'D') {
      int value = c == 'Y' ? y : (c == 'M' ? m : d);
      char digits[16];
      if (c == 'Y' && run <= 2) std::snprintf(digits, sizeof digits, "%02d", value % 100);
      else if (c == 'Y') std::snprintf(digits, sizeof digits, "%04d", value);
      else std::snprintf(digits, sizeof digits, "%02d", value);
      size_t dl = std::strlen(digits);
      for (size_t i = 0; i < run && n < cap; ++i) buffer[n++] = julian ? digits[dl > run ? i + dl - run : i] : ' ';
      p += run;
    } else {
      buffer[n++] = *p++;
    }
  }
  buffer[n] = '\0';
  return buffer;
}
