// The terminal layer: the only way the run-time draws on the screen. It keeps the logical
// cursor, the colour table and the display batches, and calls the console driver directly.
#pragma once

#include <cstdint>

void vl_gtInit(int hStdIn, int hStdOut, int hStdErr);
void vl_gtExit();
void vl_gtSetMouse(bool on);

int16_t vl_gtMaxRow();
int16_t vl_gtMaxCol();
