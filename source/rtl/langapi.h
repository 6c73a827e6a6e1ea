// The national language modules: tables of 118 texts (month and day names, national messages,
// error descriptions, internal error texts, the yes/no letters), a registry of up to 64 of them
// and the current one, selected by identifier (SET_LANGUAGE).
#pragma once

#include <cstddef>

enum : int {
  VL_LANG_ID = 0,
  VL_LANG_NAME = 1,        // in English
  VL_LANG_NAME_NAT = 2,    // in the language itself
  VL_LANG_RFCID = 3,
  VL_LANG_CODEPAGE = 4,
  VL_LANG_REVISION = 5,
  VL_LANG_MONTH = 6,       // 6..17: January..December
  VL_LANG_DAY = 18,        // 18..24: Sunday..Saturday
  VL_LANG_NATMSG = 25,     // 25..37: NATIONMSG(1..13)
  VL_LANG_ERRDESC = 38,    // 38..88: description of generic error code 0..50
  VL_LANG_INTERNAL = 89,   // 89..114: internal error 9000..9025
  VL_LANG_INTERNAL_TITLE = 89,
  VL_LANG_DATEFMT = 115,
  VL_LANG_YES = 116,
  VL_LANG_NO = 117,
  VL_LANG_ITEMS = 118,
};

inline constexpr int VL_LANG_MAX_MODULES = 64;
inline constexpr int VL_LANG_ERRDESC_COUNT = VL_LANG_INTERNAL - VL_LANG_ERRDESC;  // 51
inline constexpr int VL_LANG_INTERNAL_COUNT = VL_LANG_DATEFMT - VL_LANG_INTERNAL;  // 26

struct VlLang {
  const char* texts[VL_LANG_ITEMS];
};

// Enters the module under its identifier (replacing a module with the same identifier, else in
// the first free slot); false when all 64 slots are taken.
bool vl_langRegister(const VlLang* lang);
bool vl_langDeRegister(const char* id);
const VlLang* vl_langFind(const char* id);  // identifiers are compared exactly
// Makes `lang` current and returns the previous one; null is internal error 9000.
const VlLang* vl_langSelect(const VlLang* lang);
const char* vl_langSelectID(const char* id);  // returns the previous identifier
const char* vl_langID();                      // null when no module is current
const char* vl_langDGetItem(int index);       // null outside 0..117 or when none is current
// "Vellum Language: %s %s (%s)" with texts 0, 1 and 2; a new text the caller frees.
char* vl_langName();

// Start-up: selects the module with this identifier (internal error 9000 when there is none).
void vl_langSelectInit(const char* id);

// For the run-time's own messages: the current module's text, the English one when no module
// is current, "" outside the table.
const char* vl_langText(int index);
const char* vl_langDGetErrorDesc(int genCode);           // "" for codes without a text
const char* vl_langDGetInternalError(unsigned number);   // 9000..9025, else ""
