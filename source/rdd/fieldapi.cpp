// The executor's view of fields and work areas (vm/fieldapi.h): LOADFIELD, STOREFIELD, LOADALIAS
// and the aliased field and variable instructions reach the work-area table through these.
#include "../vm/fieldapi.h"

#include "rddapi.h"

int vl_fieldCurrentArea() { return vl_rddGetCurrentWorkAreaNumber(); }

bool vl_fieldSelectAlias(VlItem* alias) { return vl_rddSelectAliasItem(alias); }

void vl_fieldSelectArea(int area) { vl_rddSelectWorkAreaNumber(area); }

void vl_fieldGet(VlSymbol* field, VlItem* out) { vl_rddGetFieldValue(out, field); }

// The slots take the value without changing it.
void vl_fieldPut(VlSymbol* field, const VlItem* value) { vl_rddPutFieldValue(const_cast<VlItem*>(value), field); }
