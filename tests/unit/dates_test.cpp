// Dates: day numbers across the whole calendar, leap years, the date picture both ways, the
// epoch window and the empty date.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "rtl/dates.h"
#include "rtl/set.h"
#include "rtl_call.h"

namespace {

TEST(Dates, DayNumbersRoundTripOverTheWholeCalendar) {
  int32_t expected = vl_dateEncode(1, 1, 1);
  EXPECT_EQ(expected, 1721426);
  int dow = vl_dateDOW(1, 1, 1);
  for (int y = 1; y <= 9999; ++y) {
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= 31; ++d) {
        int32_t j = vl_dateEncode(y, m, d);
        if (j == 0) continue;  // not a day of this month
        ASSERT_EQ(j, expected) << y << "-" << m << "-" << d << ": consecutive days have consecutive numbers";
        int yy, mm, dd;
        vl_dateDecode(j, &yy, &mm, &dd);
        ASSERT_TRUE(yy == y && mm == m && dd == d) << j;
        ASSERT_EQ(vl_dateDOW(y, m, d), dow) << y << "-" << m << "-" << d;
        ++expected;
        dow = dow % 7 + 1;
      }
    }
  }
  EXPECT_EQ(expected - 1, vl_dateEncode(9999, 12, 31));
}

TEST(Dates, KnownDaysAndLeapYears) {
  EXPECT_EQ(vl_dateEncode(2000, 1, 1), 2451545);
  EXPECT_EQ(vl_dateEncode(1970, 1, 1), 2440588);
  struct Case {
    int y, m, d;
    bool valid;
  } cases[] = {
      {2000, 2, 29, true}, {1900, 2, 29, false}, {2004, 2, 29, true}, {2100, 2, 29, false},
      {2001, 2, 29, false}, {2400, 2, 29, true}, {2023, 4, 31, false}, {2023, 12, 31, true},
      {0, 1, 1, false},    {10000, 1, 1, false}, {2023, 13, 1, false}, {2023, 0, 1, false},
      {2023, 1, 0, false},
  };
  for (const Case& c : cases) EXPECT_EQ(vl_dateEncode(c.y, c.m, c.d) != 0, c.valid) << c.y << "-" << c.m << "-" << c.d;
  int y, m, d;
  vl_dateDecode(0, &y, &m, &d);
  EXPECT_TRUE(y == 0 && m == 0 && d == 0);
  vl_dateDecode(-5, &y, &m, &d);
  EXPECT_TRUE(y == 0 && m == 0 && d == 0);
}

TEST(Dates, EightDigitText) {
  EXPECT_EQ(Call("DTOS").date(2005, 3, 9).str(), "20050309");
  EXPECT_EQ(Call("DTOS").julian(0).str(), "        ");
  EXPECT_EQ(Call("DTOS").date(1, 1, 1).str(), "00010101");
  EXPECT_EQ(Call("STOD").s("20000229").day(), 2451604);
  EXPECT_EQ(Call("STOD").s("20010229").day(), 0);
  EXPECT_EQ(Call("STOD").s("2005030").day(), 0);
  EXPECT_EQ(Call("STOD").s("2005030x").day(), 0);
  EXPECT_EQ(Call("STOD").s("        ").day(), 0);
  EXPECT_EQ(Call("STOD").s("20050309extra").day(), vl_dateEncode(2005, 3, 9));
  EXPECT_EQ(Call("STOD").n(20050309).day(), 0);
  EXPECT_EQ(Call("STOD").day(), 0);
}

TEST(Dates, PartsAndNames) {
  EXPECT_EQ(Call("DOW").date(2000, 1, 1).integer(), 7);
  EXPECT_EQ(Call("DOW").date(2024, 2, 29).integer(), 5);
  EXPECT_EQ(Call("DOW").julian(0).integer(), 0);
  EXPECT_EQ(Call("CDOW").date(2000, 1, 2).str(), "Sunday");
  EXPECT_EQ(Call("CDOW").julian(0).str(), "");
  EXPECT_EQ(Call("CMONTH").date(2000, 12, 1).str(), "December");
  EXPECT_EQ(Call("CMONTH").julian(0).str(), "");
  struct Part {
    const char* fn;
    int64_t value, width;
  } parts[] = {{"YEAR", 2024, 5}, {"MONTH", 2, 3}, {"DAY", 29, 3}};
  for (const Part& p : parts) {
    Call call(p.fn);
    const VlItem& r = call.date(2024, 2, 29).run();
    EXPECT_EQ(vl_itemGetNLL(&r), p.value) << p.fn;
    int w, d;
    vl_itemGetNLen(&r, &w, &d);
    EXPECT_EQ(w, p.width) << p.fn;
    EXPECT_EQ(Call(p.fn).julian(0).integer(), 0) << p.fn;
  }
  EXPECT_EQ(shown(Call("YEAR").date(2024, 2, 29).run()), " 2024");
}

TEST(Dates, FormattingWithPictures) {
  struct Case {
    const char* format;
    int y, m, d;
    const char* expected;
  } cases[] = {
      {"dd.mm.yyyy", 2005, 3, 9, "09.03.2005"},
      {"mm/dd/yy", 2005, 3, 9, "03/09/05"},
      {"mm/dd/yy", 0, 0, 0, "  /  /  "},
      {"yyyy-mm-dd", 987, 11, 30, "0987-11-30"},
      {"d/m/y", 2005, 3, 9, "9/3/5"},
      {"ddd mmm yy", 2005, 3, 25, "225 003 05"},
      {"yyy", 2005, 3, 25, "005"},
      {"dddd", 2005, 3, 25, "2225"},
      {"yyyyy", 2005, 3, 9, "2005Y"},
      {"dd/mm/dd", 2005, 3, 9, "09/03/DD"},
      {"mm-dd x", 2005, 3, 9, "03-09 X"},
      {"dd.mm.yyyy hh", 2005, 3, 9, "09.03.2005"},  // only the first 10 characters are read
      {"", 2005, 3, 9, ""},
  };
  for (const Case& c : cases) {
    char text[9], out[11];
    vl_dateStrPut(text, c.y, c.m, c.d);
    EXPECT_STREQ(vl_dateFormat(text, out, c.format), c.expected) << c.format;
  }
  SetGuard format(VL_SET_DATEFORMAT);
  Call("SET").n(VL_SET_DATEFORMAT).s("dd.mm.yyyy").run();
  EXPECT_EQ(Call("DTOC").date(2005, 3, 9).str(), "09.03.2005");
  EXPECT_EQ(Call("DTOC").julian(0).str(), "  .  .    ");
}

TEST(Dates, ReadingWithPicturesAndEpochs) {
  SetGuard format(VL_SET_DATEFORMAT), epoch(VL_SET_EPOCH);
  struct Case {
    const char* format;
    int epoch;
    const char* text;
    int y, m, d;  // 0: the empty date
  } cases[] = {
      {"dd.mm.yyyy", 1900, "9.3.2005", 2005, 3, 9},
      {"dd.mm.yyyy", 1900, "09.03.2005", 2005, 3, 9},
      {"dd.mm.yyyy", 1900, "31.02.2005", 0, 0, 0},
      {"dd.mm.yyyy", 1900, "29.02.2004", 2004, 2, 29},
      {"dd.mm.yyyy", 1900, "29.02.1900", 0, 0, 0},
      {"mm/dd/yy", 1900, "12/31/99", 1999, 12, 31},
      {"mm/dd/yy", 1950, "01/01/49", 2049, 1, 1},
      {"mm/dd/yy", 1950, "01/01/50", 1950, 1, 1},
      {"mm/dd/yy", 1980, "02/29/00", 2000, 2, 29},
      {"mm/dd/yy", 1900, "  /  /  ", 0, 0, 0},
      {"mm/dd/yy", 1900, "", 0, 0, 0},
      {"mm/dd/yy", 1900, "//12/31/99", 1999, 12, 31},   // separators before the first digit do not move on
      {"mm/dd/yy", 1900, "12--31..99", 1999, 12, 31},   // a run of separators moves on once
      {"mm/dd/yy", 1900, "12/31/99 junk", 1999, 12, 31},
      {"mm/dd/yy", 1900, "1 2/31/99", 1999, 12, 31},    // a space inside a number is ignored
      {"yyyy/mm/dd", 1900, "2024/2/29", 2024, 2, 29},
      {"yyyy/mm/dd", 1900, "99999999999/2/29", 0, 0, 0},
      {"mm/dd/yy", 1900, "12/31/0099", 1999, 12, 31},  // a year below 100 is windowed however it is written
  };
  for (const Case& c : cases) {
    Call("SET").n(VL_SET_DATEFORMAT).s(c.format).run();
    Call("SET").n(VL_SET_EPOCH).n(c.epoch).run();
    int32_t expected = c.y ? vl_dateEncode(c.y, c.m, c.d) : 0;
    EXPECT_EQ(Call("CTOD").s(c.text).day(), expected) << c.format << " " << c.text << " epoch " << c.epoch;
  }
}

TEST(Dates, Clock) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  int32_t today = Call("DATE").day();
  EXPECT_LE(std::abs(today - vl_dateEncode(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday)), 1);
  std::string t = Call("TIME").str();
  ASSERT_EQ(t.size(), 8u);
  EXPECT_TRUE(t[2] == ':' && t[5] == ':') << t;
  EXPECT_LT(std::stoi(t.substr(0, 2)), 24) << t;
  EXPECT_LT(std::stoi(t.substr(3, 2)), 60) << t;
  EXPECT_LT(std::stoi(t.substr(6, 2)), 61) << t;
  double s = Call("SECONDS").num();
  EXPECT_GE(s, 0);
  EXPECT_LT(s, 86400);
}

TEST(Dates, WrongArgumentTypes) {
  EXPECT_EQ(errorOf(Call("DTOS").s("20000101")), "BASE 1/1120 DTOS [str:\"20000101\"]");
  EXPECT_EQ(errorOf(Call("DTOC").n(1)), "BASE 1/1118 DTOC [int:1:w10]");
  EXPECT_EQ(errorOf(Call("CTOD").date(2000, 1, 1)), "BASE 1/1119 CTOD [date:20000101]");
  EXPECT_EQ(errorOf(Call("YEAR").nil()), "BASE 1/1112 YEAR [NIL]");
  EXPECT_EQ(errorOf(Call("MONTH").n(2451545)), "BASE 1/1113 MONTH [int:2451545:w10]");
  EXPECT_EQ(errorOf(Call("DAY").s("1")), "BASE 1/1114 DAY [str:\"1\"]");
  EXPECT_EQ(errorOf(Call("DOW")), "BASE 1/1115 DOW []");
  EXPECT_EQ(errorOf(Call("CMONTH").l(true)), "BASE 1/1116 CMONTH [.T.]");
  EXPECT_EQ(errorOf(Call("CDOW").n(1)), "BASE 1/1117 CDOW [int:1:w10]");
  EXPECT_EQ(errorOf(Call("STOD").n(1)), "") << "STOD answers the empty date instead";
}

}  // namespace
