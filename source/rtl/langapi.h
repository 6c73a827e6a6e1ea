// Texts of the current language module.
#pragma once

enum : int { VL_LANG_INTERNAL_TITLE = 89 };

const char* vl_langDGetItem(int index);
const char* vl_langDGetErrorDesc(int genCode);
const char* vl_langDGetInternalError(unsigned number);  // text for 9000..9025, else ""
