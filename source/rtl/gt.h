// The terminal layer: the only way the run-time draws on the screen. It keeps the logical
// cursor (which may lie outside the screen), the cursor style, the colour table of the colour
// string and the display batches, and calls the console driver (gtwin/gtwin.h) directly.
// Coordinates are zero-based rows and columns; MAXROW()/MAXCOL() are the last ones.
//
// Colour value bits: 0-2 foreground (1 blue, 2 green, 4 red), 3 bright foreground, 4-6
// background, 7 blink / bright background, 11 underline as foreground, 15 underline as
// background. The low byte is the cell attribute.
#pragma once

#include <cstddef>
#include <cstdint>

void vl_gtInit(int hStdIn, int hStdOut, int hStdErr);
void vl_gtExit();
void vl_gtSetMouse(bool on);

void vl_gtGetPos(int16_t* row, int16_t* col);
void vl_gtSetPos(int16_t row, int16_t col);
// SETPOS and DEVPOS: the position rules for the screen (negative columns wrap to the row
// above, values past the edges stop one beyond them), then vl_gtSetPos.
void vl_gtSetPosRules(long row, long col);
int vl_gtGetCursor();
int vl_gtSetCursor(int style);  // 0, or 1 for a style above 4 (nothing changes)
int16_t vl_gtMaxRow();
int16_t vl_gtMaxCol();
int vl_gtSetMode(int16_t rows, int16_t cols);  // 0 success, 1 refused

void vl_gtWrite(const char* text, size_t len);
void vl_gtWriteAt(int16_t row, int16_t col, const char* text, size_t len);
void vl_gtWriteCon(const char* text, size_t len);
void vl_gtRepChar(int16_t row, int16_t col, uint8_t ch, long count);
void vl_gtBox(int16_t top, int16_t left, int16_t bottom, int16_t right, const char* frame);
void vl_gtBoxS(int16_t top, int16_t left, int16_t bottom, int16_t right);
void vl_gtBoxD(int16_t top, int16_t left, int16_t bottom, int16_t right);
void vl_gtScroll(int16_t top, int16_t left, int16_t bottom, int16_t right, int rows, int cols);
size_t vl_gtRectSize(int16_t top, int16_t left, int16_t bottom, int16_t right);
void vl_gtSave(int16_t top, int16_t left, int16_t bottom, int16_t right, char* buffer);
void vl_gtRest(int16_t top, int16_t left, int16_t bottom, int16_t right, const char* buffer, size_t len);

void vl_gtDispBegin();
void vl_gtDispEnd();
int vl_gtDispCount();
// Bracket output that goes straight to standard output or standard error.
void vl_gtPreExt();
void vl_gtPostExt();

// The colour string: parsed into the table / rendered from it (buffer of 64 bytes).
void vl_gtSetColorStr(const char* colors);
void vl_gtGetColorStr(char* buffer64);
uint32_t vl_gtColor(int slot);  // an entry of the colour table (0 when there is none)
int vl_gtColorCount();

// Standard output and error through the driver, bracketed as above; the cursor is re-read
// afterwards when the handle is a terminal.
void vl_gtOutStd(const char* text, size_t len);
void vl_gtOutErr(const char* text, size_t len);

extern const char vl_gtFrameSingle[];  // single-line frame, code page 437
extern const char vl_gtFrameDouble[];
