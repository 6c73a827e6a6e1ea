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

// ---- the files of the SET table: alternate file (19), extra file (22), printer (24) ----
// SET() reaches these, the colour string, the cursor style and the keyboard buffer through the
// hooks of set.h, which this layer fills in before main.
enum VlSetFile : int { VL_SETFILE_ALTERNATE, VL_SETFILE_PRINTER, VL_SETFILE_EXTRA };
// Opens the file for the setting: the default directory when the name has none, the default
// extension (".txt" for the alternate file, ".prn" otherwise) when it has no extension;
// additive: an existing file is continued (over a final end-of-file mark 0x1A for the
// alternate and extra files). A printer name that is a print queue (or "prn": the default
// queue, or the file "lpt1" when there is none) spools to a temporary file until the printer is
// closed. A failure raises error 20 with subcode 2013 (alternate), 2014 (printer) or 2015
// (extra) and the options retry and default; an implicit printer fails silently. Returns the
// handle for the SET table to keep (-1 on failure). The last file error is left as it was.
int vl_conOpenSetFile(const char* name, bool additive, const char* defaultExt, VlSetFile which, bool implicit = false);
// Closes a handle vl_conOpenSetFile gave: the alternate and extra files after an end-of-file
// mark, the printer by sending a pending spool file to its queue. The last file error is left
// as it was. vl_conCloseSetFile closes the SET table's handle of that kind and sets it to -1.
void vl_conCloseFile(VlSetFile which, int handle);
void vl_conCloseSetFile(VlSetFile which);
// The printer name in force (the name given, or the resolved default printer).
const char* vl_conPrinterName();
