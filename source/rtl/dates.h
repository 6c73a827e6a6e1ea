// Dates as Julian day numbers (0 is the empty date) and their eight-digit text form.
#pragma once

#include <cstdint>

int32_t vl_dateEncode(int year, int month, int day);  // 0 for an invalid date
void vl_dateDecode(int32_t julian, int* year, int* month, int* day);
char* vl_dateDecStr(char* buffer9, int32_t julian);   // "YYYYMMDD", blanks for 0
int32_t vl_dateEncStr(const char* yyyymmdd);           // 0 for blanks or an invalid date
// The date in the SET_DATEFORMAT picture; buffer holds at least 11 bytes.
char* vl_dateFormat(char* buffer, int32_t julian, const char* format);
