// The class table. No class can be created yet: the table is empty, so every object test fails
// and every handle is invalid.
#include "classes.h"

uint16_t vl_clsCount() { return 0; }
const char* vl_clsName(uint16_t) { return ""; }
const char* vl_clsModuleName(uint16_t) { return nullptr; }
void vl_clsReleaseAll() {}

bool vl_clsDispatch(VlSymbol*, uint16_t) { return false; }
