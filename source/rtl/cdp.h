// Code pages: character classification, case conversion and collation, used by the string
// functions, the comparison operators and index keys. Only "EN" ("cp437") is registered by
// the run-time; it has no letter tables, so it follows the plain ASCII rules and collates by
// unsigned byte value.
#pragma once

#include <cstddef>
#include <cstdint>

struct VlItem;

// A code page. The letter strings list upper- and lower-case letters in collation order, one byte
// per letter, pairwise (the n-th lower-case letter is the n-th upper-case letter's partner); a '~'
// before a letter marks it as an accented form of the letter before it: it sorts with that
// letter's weight and is ordered after it only when the strings are otherwise equal.
struct VlCodePage {
  const char* id;     // "EN"
  const char* name;   // "cp437"
  const char* upper;  // "" for a page without letters
  const char* lower;
  // Derived at registration (vl_cdpRegister).
  int letters;          // number of letters in each of the strings (0: ASCII rules, byte order)
  uint16_t weight[256];  // primary sort weight; 0 for bytes that are not letters of the page
  uint8_t accent[256];   // secondary weight among letters sharing a primary weight
  uint8_t toUpper[256];
  uint8_t toLower[256];
  uint8_t flags[256];    // VL_CDP_* bits
};

enum : uint8_t { VL_CDP_ALPHA = 1, VL_CDP_UPPER = 2, VL_CDP_LOWER = 4, VL_CDP_DIGIT = 8 };

inline constexpr int VL_CDP_MAX_PAGES = 64;

// Derives the tables and enters the page (replacing one with the same identifier); false when the
// letter strings are malformed or all 64 slots are taken.
bool vl_cdpRegister(VlCodePage* cdp);
const VlCodePage* vl_cdpFind(const char* id);  // exact comparison of identifiers
const VlCodePage* vl_cdpSelect(const VlCodePage* cdp);  // returns the previous page; null keeps it
const VlCodePage* vl_cdpCurrent();
void vl_cdpReleaseAll();

// ---- classification and case (current page) ----
inline bool vl_cdpIsAlpha(const VlCodePage* cdp, unsigned char c) { return cdp->flags[c] & VL_CDP_ALPHA; }
inline bool vl_cdpIsUpper(const VlCodePage* cdp, unsigned char c) { return cdp->flags[c] & VL_CDP_UPPER; }
inline bool vl_cdpIsLower(const VlCodePage* cdp, unsigned char c) { return cdp->flags[c] & VL_CDP_LOWER; }
inline bool vl_cdpIsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
inline unsigned char vl_cdpUpper(const VlCodePage* cdp, unsigned char c) { return cdp->toUpper[c]; }
inline unsigned char vl_cdpLower(const VlCodePage* cdp, unsigned char c) { return cdp->toLower[c]; }
// Case conversion of len bytes from src into dst (they may be the same buffer).
void vl_cdpUpperN(const VlCodePage* cdp, char* dst, const char* src, size_t len);
void vl_cdpLowerN(const VlCodePage* cdp, char* dst, const char* src, size_t len);

// Replaces every letter of page `from` by the letter at the same position of page `to`; nothing
// happens when the pages are the same or have different numbers of letters.
void vl_cdpTranslate(char* text, size_t len, const VlCodePage* from, const VlCodePage* to);

// ---- collation ----
// Compares n bytes of a and b under the page's collation: -1, 0 or 1. At the first differing
// byte, unsigned byte values decide when either byte is not a letter of the page, the sort
// weights otherwise. Index keys compare with this.
int vl_cdpCmpN(const VlCodePage* cdp, const char* a, const char* b, size_t n);

// The string comparison of the relational operators (=, ==, <>, <, <=, >, >=) under the
// current page: -1, 0 or 1 for a below, equal to or above b.
//  - forceExact (the == operator): the strings are equal only when they have the same length
//    and bytes.
//  - otherwise with SET_EXACT on: trailing blanks of both are ignored (a string keeps at least
//    its first character), then equal only when the lengths match.
//  - otherwise with SET_EXACT off: a is equal to b when b is a prefix of a ("ABC" = "AB",
//    "AB" = "" are true; "AB" = "ABC" is false).
// Without a difference in the common part the shorter string is the smaller.
int vl_cdpStrCmp(const char* a, size_t alen, const char* b, size_t blen, bool forceExact);
// The same for two string items.
int vl_itemStrCmp(const VlItem* a, const VlItem* b, bool forceExact);
