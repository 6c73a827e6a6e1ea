// The bytes of a DBF table: the header, the field descriptors and the field values inside a
// record. Pure codecs over memory (no files); the DBF driver and the tests build on them.
//
// Header (offset 0, 32 bytes):
//   OFFSET  SIZE  MEANING
//   0       1     version: 0x03 no memo file; 0x83 DBT memo file; 0x30 memo file when flag bit 1
//                 is set; 0xF5 memo file (accepted on reading only)
//   1       3     date of last update: year - 1900 (mod 256), month 1..12, day 1..31
//   4       4     record count (not trusted: the count comes from the file size, see the driver)
//   8       2     header length = offset of record 1
//   10      2     record length, deletion flag included
//   12      16    zero
//   28      1     flags: bit 0 structural index; bit 1 memo file (version 0x30 only)
//   29      1     code-page byte, carried over unchanged
//   30      2     zero
//
// Field descriptor (32 bytes each from offset 32, in field order; the list ends at a descriptor
// whose first byte is 0x0D, or in a 0x30 table at one whose type byte is 0):
//   OFFSET  SIZE  MEANING
//   0       11    name, NUL-padded; byte 10 is always NUL
//   11      1     type letter: C N F D L M I 2 4 B 8
//   12      4     zero (some writers put other bytes here: ignored)
//   16      1     length (type C: low byte of the length)
//   17      1     decimals (type C: high byte of the length)
//   18      14    zero
//
// After the descriptors: 0x0D, then 0x00 except in 0x30 tables (writers differ: the header length
// decides where record 1 starts). Record n starts at header length + (n - 1) x record length:
//
//   +------+---------+---------+-----+---------+
//   | flag | field 1 | field 2 | ... | field k |      flag: ' ' active, '*' deleted,
//   +------+---------+---------+-----+---------+            'E' / 'D' encrypted active / deleted
//
// A table ends with the byte 0x1A after its last record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../vm/item.h"

inline constexpr size_t VL_DBF_HEADER_SIZE = 32;
inline constexpr size_t VL_DBF_FIELD_SIZE = 32;
inline constexpr uint8_t VL_DBF_EOF = 0x1A;
inline constexpr uint8_t VL_DBF_HEADER_END = 0x0D;
inline constexpr uint8_t VL_DBF_FLAG_STRUCTIDX = 0x01;
inline constexpr uint8_t VL_DBF_FLAG_MEMO = 0x02;

enum : uint8_t {
  VL_DBF_VERSION_PLAIN = 0x03,
  VL_DBF_VERSION_MEMO = 0x83,
  VL_DBF_VERSION_30 = 0x30,
  VL_DBF_VERSION_F5 = 0xF5,
};

struct VlDbfHeader {
  uint8_t version;
  uint8_t year;  // year - 1900, modulo 256
  uint8_t month;
  uint8_t day;
  uint32_t recCount;
  uint16_t headerLen;
  uint16_t recordLen;
  uint8_t flags;
  uint8_t codePage;
};

// False when the bytes are short or the version byte is not one a table can have.
bool vl_dbfHeaderDecode(const uint8_t* p, const uint8_t* end, VlDbfHeader* out);
void vl_dbfHeaderEncode(const VlDbfHeader& header, uint8_t* out32);
bool vl_dbfHasMemo(uint8_t version, uint8_t flags);

struct VlDbfFieldDesc {
  char name[11];
  char letter;  // as found in the descriptor
  VlType type;
  uint16_t len;
  uint16_t dec;
};

enum VlDbfFieldStatus : int {
  VL_DBF_FIELD_OK,
  VL_DBF_FIELD_END,      // the terminator: no more fields
  VL_DBF_FIELD_SHORT,    // fewer than 32 bytes left
  VL_DBF_FIELD_BADTYPE,  // unknown type letter
  VL_DBF_FIELD_NONAME,   // the name is empty after trimming blanks
};

VlDbfFieldStatus vl_dbfFieldDecode(const uint8_t* p, const uint8_t* end, uint8_t version, VlDbfFieldDesc* out);
// The descriptor of a field; false for a type a table cannot hold.
bool vl_dbfFieldEncode(const char* name, VlType type, uint16_t len, uint16_t dec, uint8_t* out32);
// The length a field of this type occupies in a record (the rules the descriptor writer applies).
uint16_t vl_dbfStoredLength(VlType type, uint16_t len);

// Complete records a file of `size` bytes holds after the header.
uint32_t vl_dbfRecordsFromSize(uint64_t size, uint16_t headerLen, uint16_t recordLen);

// ---- field values; p points at the field's len bytes inside a record ----
// False for a field type the DBF layout has no value for (memo fields: the memo layer's).
bool vl_dbfGetValue(VlType type, uint16_t len, uint16_t dec, const uint8_t* p, VlItem* out);

enum : int { VL_DBF_PUT_OK = 0, VL_DBF_PUT_TYPE = 1020, VL_DBF_PUT_WIDTH = 1021 };
// Stores the value in the field; returns 0 or the subcode of the failure (the field is then left
// unchanged, except a number too wide for a numeric field, which fills it with "*").
int vl_dbfPutValue(VlType type, uint16_t len, uint16_t dec, uint8_t* p, const VlItem* value);
// The blank field: blanks for text-like fields, zero bytes for binary ones.
void vl_dbfBlankField(VlType type, uint16_t len, uint8_t* p);
bool vl_dbfIsBinaryField(VlType type, uint16_t len);

// The number text of a numeric field: exactly len characters, right-aligned, dec decimals;
// false (and len "*") when it does not fit.
bool vl_dbfFormatNumber(char* out, uint16_t len, uint16_t dec, const VlItem* number);
// Parses the number text of a numeric field (leading blanks, sign, digits, one point; stops at
// the first other character). Sets *isDouble when the result needs a double.
void vl_dbfParseNumber(const uint8_t* p, size_t len, int64_t* intValue, double* dblValue, bool* isDouble);
