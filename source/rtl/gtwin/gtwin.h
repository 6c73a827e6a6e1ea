// The console driver: a buffered driver over the system console (source/platform/syscon.h).
// It keeps a copy of the screen, collects changes in a dirty rectangle and writes it to the
// console in one call when no display batch is open; it turns console input records into the
// language's key codes. The terminal layer (gt.h) and the keyboard layer call it directly.
#pragma once

#include <cstddef>
#include <cstdint>

void vl_gt_Init(int hStdIn, int hStdOut, int hStdErr);
void vl_gt_Exit();
void vl_gt_SetMouse(bool enabled);  // before vl_gt_Init: the "NOMOUSE" option

int16_t vl_gt_GetScreenWidth();
int16_t vl_gt_GetScreenHeight();
int16_t vl_gt_Row();
int16_t vl_gt_Col();
void vl_gt_SetPos(int16_t row, int16_t col);
int vl_gt_GetCursorStyle();
void vl_gt_SetCursorStyle(int style);

void vl_gt_Puts(int16_t row, int16_t col, int attr, const char* text, size_t len);
void vl_gt_Replicate(int16_t row, int16_t col, int attr, uint8_t ch, size_t count);
// Two bytes per cell (character, attribute), rows of the clipped rectangle one after another.
void vl_gt_GetText(int16_t top, int16_t left, int16_t bottom, int16_t right, char* buffer);
// Reads at most len bytes from buffer; cells past its end are left as they are.
void vl_gt_PutText(int16_t top, int16_t left, int16_t bottom, int16_t right, const char* buffer, size_t len);
void vl_gt_SetAttribute(int16_t top, int16_t left, int16_t bottom, int16_t right, int attr);
void vl_gt_Scroll(int16_t top, int16_t left, int16_t bottom, int16_t right, int attr, int rows, int cols);
void vl_gt_HorizLine(int16_t row, int16_t left, int16_t right, uint8_t ch, int attr);
void vl_gt_VertLine(int16_t col, int16_t top, int16_t bottom, uint8_t ch, int attr);
void vl_gt_Box(int16_t top, int16_t left, int16_t bottom, int16_t right, const char* frame, int attr);

void vl_gt_DispBegin();
void vl_gt_DispEnd();
int vl_gt_DispCount();
bool vl_gt_SetMode(int16_t rows, int16_t cols);

int vl_gt_ReadKey(int eventMask);
// True when the console can never deliver another key (its input has ended).
bool vl_gt_InputEnded();

enum : int {
  VL_GTI_STDIN = 30,
  VL_GTI_STDOUT = 31,
  VL_GTI_DESKTOPMAXROW = 34,  // largest window height - 1
  VL_GTI_DESKTOPMAXCOL = 35,
  VL_GTI_VIEWMAXROW = 36,     // visible window height - 1
  VL_GTI_VIEWMAXCOL = 37,
};
int vl_gt_Info(int type);
int vl_gt_StdErrHandle();
const char* vl_gt_Version(bool full);

void vl_gt_OutStd(const char* text, size_t len);
void vl_gt_OutErr(const char* text, size_t len);
bool vl_gt_AdjustPos(const char* text, size_t len);
bool vl_gt_PreExt();
bool vl_gt_PostExt();
bool vl_gt_GetBlink();
void vl_gt_SetBlink(bool on);

int vl_mouse_Col();
int vl_mouse_Row();
bool vl_mouse_IsButtonPressed(int button);
int vl_mouse_CountButton();

// Character translation on output and input (identity at start; each the other's inverse).
void vl_gt_SetTranslation(const uint8_t* outTable256);
