// Fields and work areas as the executor reaches them (LOADFIELD, STOREFIELD, the alias
// instructions). The database layer defines these.
//
// Alias values select a work area by these rules (the reference bit of the type is ignored):
// integer, long or double: the area of that number (a double truncated toward zero); symbol:
// the area whose alias is its name; string: the macro-substituted text as an alias; NIL, date,
// logical: area -1 (no current area); codeblock or array: released, then as NIL; any other
// type: BASE 1/1065 with operation "&", whose substitute is selected by the same rules.
#pragma once

struct VlItem;
struct VlSymbol;

int vl_fieldCurrentArea();  // number of the current work area
// Selects the area the alias value names; false when the selection failed (the error has been
// raised). The alias item is NIL afterwards.
bool vl_fieldSelectAlias(VlItem* alias);
void vl_fieldSelectArea(int area);  // makes an earlier current area current again
// The field of that name in the current area into out; a missing field raises the error of the
// database layer (retrying while the handler asks to) and leaves its substitute, if any.
void vl_fieldGet(VlSymbol* field, VlItem* out);
// Assigns value to the field of that name in the current area, raising the same error.
void vl_fieldPut(VlSymbol* field, const VlItem* value);
