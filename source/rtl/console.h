// Console output and devices: where a piece of the language's output goes (the screen, the
// alternate and extra files, the printer, standard output, standard error), the new-line
// string, the printer position counters, and the printer and file openers of the SET table.
#pragma once

#include <cstddef>

void vl_conInit();
void vl_conRelease();
const char* vl_conNewLine();

// len 0: the text is zero-terminated.
void vl_conOutStd(const char* text, size_t len);
void vl_conOutErr(const char* text, size_t len);
void vl_conOutStdStr(const char* text);
void vl_conOutErrStr(const char* text);
// The console route (QOUT, QQOUT): screen, alternate file, extra file, printer.
void vl_conOutAlt(const char* text, size_t len);
// The device route (DEVOUT): the printer when it is open and the device is "PRINTER", else
// the screen.
void vl_conOutDev(const char* text, size_t len);

int vl_conPRow();
int vl_conPCol();
