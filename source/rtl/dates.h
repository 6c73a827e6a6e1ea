// Dates as Julian day numbers (0 is the empty date), their eight-digit text 'YYYYMMDD', the
// SET_DATEFORMAT picture in both directions (DTOC and CTOD) and the clock.
#pragma once

#include <cstddef>
#include <cstdint>

// Years 1..9999; 0 for an invalid date.
int32_t vl_dateEncode(int year, int month, int day);
// All parts 0 for day number 0 or below.
void vl_dateDecode(int32_t julian, int* year, int* month, int* day);
// Day of the week, 1 for Sunday to 7 for Saturday.
int vl_dateDOW(int year, int month, int day);

// 'YYYYMMDD' from the parts (eight blanks when year, month or day is 0; buffer of 9 bytes).
void vl_dateStrPut(char* buffer9, int year, int month, int day);
// The parts of an eight-character 'YYYYMMDD' text (not validated; non-digits count as 0).
void vl_dateStrGet(const char* yyyymmdd, int* year, int* month, int* day);
char* vl_dateDecStr(char* buffer9, int32_t julian);  // "YYYYMMDD", blanks for 0
int32_t vl_dateEncStr(const char* yyyymmdd);          // 0 for blanks, a short text or an invalid date

// The date of a 'YYYYMMDD' text under a date picture: at most 10 characters written, plus the
// terminating zero (buffer of 11 bytes). The empty date (blank text) gives blanks for the digits.
char* vl_dateFormat(const char* yyyymmdd, char* buffer, const char* format);
char* vl_dateFormat(char* buffer, int32_t julian, const char* format);
// The day number of a text read under a date picture and an epoch (CTOD); 0 when invalid.
int32_t vl_dateUnformat(const char* text, size_t len, const char* format, int epoch);

// Local time: today's day number and the time of day.
int32_t vl_dateToday();
void vl_timeNow(int* hour, int* minute, int* second, int* millisecond);
