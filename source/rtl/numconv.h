// The number formatter behind STR(), TRANSFORM() and console output.
#pragma once

#include <cstddef>

struct VlItem;

// Formats a number item into a new text of exactly `width` characters (right-aligned, `*`s on
// overflow), with `decimals` decimals when above 0 (the text is then width + decimals + 1 long
// when width counts the integer part, as STR does).
char* vl_numToStr(const VlItem* number, int width, int decimals);
