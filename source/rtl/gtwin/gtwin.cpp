// The console driver: screen copy, change tracking, display batches, cursor, scrolling, and the
// translation of console input records into key codes.
//
// Invariants:
//  1. Every drawing operation changes only the screen copy and widens the dirty rectangle; the
//     console is written by flush(), at most once, with the smallest rectangle covering the
//     changes, and never while a display batch is open.
//  2. The dirty rectangle is empty exactly when top == height (then left == width and
//     bottom == right == 0).
//  3. Without a console (s.con null) there is no screen copy: drawing does nothing and the
//     sizes are 0.
//  4. The break flag is the only state touched outside the main thread (by the control
//     handler, in signal context); the key reader turns it into the key 256.
#include "gtwin.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "../../platform/filesys.h"
#include "../../platform/syscon.h"
#include "../../vm/xmem.h"

namespace {

// Columns of the key tables.
enum : int { COL_PLAIN, COL_ALT, COL_CTRL, COL_SHIFT, COL_RALT };
using KeyRow = int16_t[5];

// Special keys, by virtual key code.
struct SpecialKey {
  uint16_t vk;
  KeyRow codes;
};
const SpecialKey kSpecial[] = {
    {112, {28, -30, -20, -10, -30}},       // F1
    {113, {-1, -31, -21, -11, -31}},       // F2
    {114, {-2, -32, -22, -12, -32}},
    {115, {-3, -33, -23, -13, -33}},
    {116, {-4, -34, -24, -14, -34}},
    {117, {-5, -35, -25, -15, -35}},
    {118, {-6, -36, -26, -16, -36}},
    {119, {-7, -37, -27, -17, -37}},
    {120, {-8, -38, -28, -18, -38}},
    {121, {-9, -39, -29, -19, -39}},       // F10
    {122, {-40, -46, -44, -42, -46}},      // F11
    {123, {-41, -47, -45, -43, -47}},      // F12
    {38, {5, 408, 397, 425, 408}},         // Up
    {40, {24, 416, 401, 427, 416}},        // Down
    {37, {19, 411, 26, 424, 411}},         // Left
    {39, {4, 413, 2, 426, 413}},           // Right
    {45, {22, 418, 402, 428, 418}},        // Ins
    {46, {7, 419, 403, 429, 419}},         // Del
    {36, {1, 407, 29, 430, 407}},          // Home
    {35, {6, 415, 23, 431, 415}},          // End
    {33, {18, 409, 31, 432, 409}},         // PgUp
    {34, {3, 417, 30, 433, 417}},          // PgDn
    {8, {8, 270, 127, 0, 270}},            // Backspace
    {9, {9, 421, 404, 271, 421}},          // Tab
    {27, {27, 257, 27, 0, 421}},           // Esc
    {13, {13, 284, 10, 434, 284}},         // Enter
    {106, {42, 311, 406, 0, 311}},         // keypad *
    {107, {43, 334, 400, 0, 334}},         // keypad +
    {109, {45, 330, 398, 0, 330}},         // keypad -
    {111, {47, 420, 405, 0, 420}},         // keypad /
};
constexpr int KEYPAD_SLASH = 29;  // index of keypad / in kSpecial

// Rows 32-127 of the character table, rows 1-31 of the control table; built once.
KeyRow s_charTable[128];
KeyRow s_ctrlTable[32];
bool s_tablesBuilt;

void buildTables() {
  if (s_tablesBuilt) return;
  s_tablesBuilt = true;
  std::memset(s_charTable, 0, sizeof s_charTable);
  for (int c = 32; c < 128; ++c) s_charTable[c][COL_PLAIN] = static_cast<int16_t>(c);
  static const int16_t kAltLetters[26] = {286, 304, 302, 288, 274, 289, 290, 291, 279, 292, 293, 294, 306,
                                          305, 280, 281, 272, 275, 287, 276, 278, 303, 273, 301, 277, 300};
  for (int i = 0; i < 26; ++i) {
    for (int c : {'A' + i, 'a' + i}) {
      s_charTable[c][COL_CTRL] = static_cast<int16_t>(i + 1);
      s_charTable[c][COL_ALT] = s_charTable[c][COL_RALT] = kAltLetters[i];
    }
  }
  static const int16_t kAltDigits[10] = {385, 376, 377, 378, 379, 380, 381, 382, 383, 384};
  static const int16_t kCtrlDigits[10] = {0, 0, 259, 27, 28, 29, 30, 31, 127, 0};
  for (int i = 0; i < 10; ++i) {
    s_charTable['0' + i][COL_ALT] = s_charTable['0' + i][COL_RALT] = kAltDigits[i];
    s_charTable['0' + i][COL_CTRL] = kCtrlDigits[i];
  }
  static const struct {
    char c;
    int16_t alt;
  } kAltOther[] = {{'\'', 296}, {',', 307}, {'-', 386}, {'.', 308}, {'/', 309}, {';', 295}, {'=', 387}, {'[', 282},
                   {'\\', 299}, {']', 283}, {'^', 381}, {'`', 297}, {'{', 282}, {'|', 299}, {'}', 283}, {'~', 297}};
  for (const auto& a : kAltOther) s_charTable[static_cast<int>(a.c)][COL_ALT] = a.alt;
  s_charTable[127][COL_ALT] = s_charTable[127][COL_RALT] = 270;
  static const struct {
    char c;
    int16_t ctrl;
  } kCtrlOther[] = {{'\'', 7}, {'-', 398}, {'?', 309}, {'{', 27}, {'|', 28}, {'}', 29}, {'~', 297}};
  for (const auto& a : kCtrlOther) s_charTable[static_cast<int>(a.c)][COL_CTRL] = a.ctrl;
  s_charTable[127][COL_CTRL] = 127;

  std::memset(s_ctrlTable, 0, sizeof s_ctrlTable);
  for (int n = 1; n < 32; ++n) {
    int c = n <= 26 ? 'a' + n - 1 : (n == 27 ? '{' : n == 28 ? '|' : n == 29 ? '}' : n == 30 ? '~' : 127);
    std::memcpy(s_ctrlTable[n], s_charTable[c], sizeof(KeyRow));
    s_ctrlTable[n][COL_PLAIN] = static_cast<int16_t>(96 + n);
  }
}

struct Driver {
  int hStdIn = 0, hStdOut = 1, hStdErr = 2;
  VlSysCon* con = nullptr;
  VlConCell* copy = nullptr;
  int16_t width = 0, height = 0;
  VlConRect dirty{};
  int batch = 0;
  int16_t row = 0, col = 0;
  int16_t shownRow = 0, shownCol = 0;
  int style = 1, shownStyle = 1;
  uint8_t outTable[256], inTable[256];
  VlConInput events[32];
  int eventCount = 0, eventIndex = 0;
  int repeat = 0;  // outstanding repetitions of the record at eventIndex
  bool inputValid = false;
  bool mouseEnabled = true;
  int mouseCol = 0, mouseRow = 0;
  int lastButton = 0;
  uint32_t mouseButtons = 0;
  bool altComposing = false;
  VlConInfo saved{};
  bool haveSaved = false;
} s;

volatile sig_atomic_t s_break;

bool ctrlHandler(int event) {
  if (event == VL_CON_CTRL_BREAK || event == VL_CON_CLOSE) {
    s_break = 1;
    return true;
  }
  return false;
}

bool dirtyEmpty() { return s.dirty.top >= s.height; }

void clearDirty() { s.dirty = VlConRect{s.height, s.width, 0, 0}; }

void mark(int top, int left, int bottom, int right) {
  bottom = std::min<int>(bottom, s.height - 1);
  right = std::min<int>(right, s.width - 1);
  if (top > bottom || left > right) return;
  s.dirty.top = static_cast<int16_t>(std::min<int>(s.dirty.top, top));
  s.dirty.left = static_cast<int16_t>(std::min<int>(s.dirty.left, left));
  s.dirty.bottom = static_cast<int16_t>(std::max<int>(s.dirty.bottom, bottom));
  s.dirty.right = static_cast<int16_t>(std::max<int>(s.dirty.right, right));
}

void applyCursorStyle(int style) {
  static const int kSizes[] = {0, 13, 50, 99, 66};
  if (style == 0) s.con->setCursorInfo(false, 1);
  else s.con->setCursorInfo(true, style > 0 && style <= 4 ? kSizes[style] : 13);
}

void flush() {
  if (!s.copy) return;
  if (s.batch == 0 && !dirtyEmpty()) {
    VlConRect region = s.dirty;
    s.con->writeOutput(s.copy, s.height, s.width, &region);
    clearDirty();
  }
  if (s.style != s.shownStyle && (s.batch == 0 || s.style == 0)) {
    applyCursorStyle(s.style);
    s.shownStyle = s.style;
  }
  if (s.style != 0 && s.batch == 0 && (s.row != s.shownRow || s.col != s.shownCol)) {
    s.con->setCursorPos(s.row, s.col);
    s.shownRow = s.row;
    s.shownCol = s.col;
  }
}

VlConCell& cellAt(int row, int col) { return s.copy[static_cast<size_t>(row) * s.width + col]; }

bool inside(int row, int col) { return row >= 0 && col >= 0 && row < s.height && col < s.width; }

// Clips a rectangle to the screen; false when nothing is left.
bool clipRect(int* top, int* left, int* bottom, int* right) {
  *top = std::max(*top, 0);
  *left = std::max(*left, 0);
  *bottom = std::min<int>(*bottom, s.height - 1);
  *right = std::min<int>(*right, s.width - 1);
  return *top <= *bottom && *left <= *right;
}

// Writes `count` cells from (row, col) on, continuing on the next rows: from text, or one
// repeated byte when text is null.
void putCells(int row, int col, int attr, const char* text, uint8_t repeated, size_t count) {
  if (!s.copy || !inside(row, col) || count == 0) return;
  size_t start = static_cast<size_t>(row) * s.width + col;
  size_t left = static_cast<size_t>(s.width) * s.height - start;
  count = std::min(count, left);
  auto a = static_cast<uint16_t>(attr & 0xFF);
  for (size_t i = 0; i < count; ++i) {
    uint8_t ch = text ? static_cast<uint8_t>(text[i]) : repeated;
    s.copy[start + i] = VlConCell{s.outTable[ch], a};
  }
  size_t endIndex = start + count - 1;
  int endRow = static_cast<int>(endIndex / s.width);
  if (endRow == row) mark(row, col, row, static_cast<int>(endIndex % s.width));
  else mark(row, 0, endRow, s.width - 1);
  flush();
}

void readScreen() {
  VlConInfo info{};
  s.con->info(&info);
  s.width = std::max<int16_t>(info.width, 0);
  s.height = std::max<int16_t>(info.height, 0);
  if (s.copy) vl_xfree(s.copy);
  s.copy = nullptr;
  if (s.width > 0 && s.height > 0) {
    size_t n = static_cast<size_t>(s.width) * s.height;
    s.copy = static_cast<VlConCell*>(vl_xgrab(n * sizeof(VlConCell)));
    for (size_t i = 0; i < n; ++i) s.copy[i] = VlConCell{' ', 0x07};
    VlConRect all{0, 0, static_cast<int16_t>(s.height - 1), static_cast<int16_t>(s.width - 1)};
    s.con->readOutput(s.copy, s.height, s.width, &all);
  }
  s.row = s.shownRow = info.cursorRow;
  s.col = s.shownCol = info.cursorCol;
  clearDirty();
}

}  // namespace

// ---- start and stop ----

void vl_gt_SetMouse(bool enabled) { s.mouseEnabled = enabled; }

void vl_gt_Init(int hStdIn, int hStdOut, int hStdErr) {
  buildTables();
  s.hStdIn = hStdIn;
  s.hStdOut = hStdOut;
  s.hStdErr = hStdErr;
  s_break = 0;
  s.eventCount = s.eventIndex = s.repeat = 0;
  s.altComposing = false;
  s.batch = 0;
  s.style = s.shownStyle = 1;
  for (int i = 0; i < 256; ++i) s.outTable[i] = s.inTable[i] = static_cast<uint8_t>(i);
  vl_sysconSetCtrlHandler(ctrlHandler);

  s.inputValid = ::fcntl(hStdIn, F_GETFD) != -1;
  s.con = vl_sysconOpen(hStdIn, hStdOut);
  s.haveSaved = s.con->info(&s.saved);
  VlConRect window = s.saved.window;
  window.left = window.top = 0;
  window.right = std::min<int16_t>(window.right, static_cast<int16_t>(s.saved.width - 1));
  window.bottom = std::min<int16_t>(window.bottom, static_cast<int16_t>(s.saved.height - 1));
  s.con->setWindow(window);
  s.con->setBufferSize(s.saved.height, s.saved.width);
  readScreen();

  if (s.inputValid) {
    if (s.mouseEnabled) {
      s.con->setMode(VL_CON_MOUSE_INPUT);
      s.mouseCol = s.mouseRow = 0;
    } else {
      s.con->setMode(s.con->getMode() & ~VL_CON_MOUSE_INPUT);
    }
  }
}

void vl_gt_Exit() {
  if (!s.con) return;
  if (s.batch > 0) {
    s.batch = 0;
    flush();
  }
  if (s.copy) vl_xfree(s.copy);
  s.copy = nullptr;
  if (s.haveSaved) {
    s.con->setBufferSize(s.saved.height, s.saved.width);
    VlConRect w = s.saved.window;
    w.bottom = static_cast<int16_t>(w.bottom - w.top);
    w.right = static_cast<int16_t>(w.right - w.left);
    w.top = w.left = 0;
    s.con->setWindow(w);
  }
  vl_sysconClose(s.con);
  s.con = nullptr;
  s.width = s.height = 0;
  vl_sysconSetCtrlHandler(nullptr);
}

// ---- sizes and cursor ----

int16_t vl_gt_GetScreenWidth() { return s.width; }
int16_t vl_gt_GetScreenHeight() { return s.height; }
int16_t vl_gt_Row() { return s.row; }
int16_t vl_gt_Col() { return s.col; }

void vl_gt_SetPos(int16_t row, int16_t col) {
  s.row = row;
  s.col = col;
  flush();
}

int vl_gt_GetCursorStyle() { return s.style; }

void vl_gt_SetCursorStyle(int style) {
  if (style < 0 || style > 4) return;
  s.style = style;
  flush();
}

// ---- drawing ----

void vl_gt_Puts(int16_t row, int16_t col, int attr, const char* text, size_t len) {
  putCells(row, col, attr, text, 0, len);
}

void vl_gt_Replicate(int16_t row, int16_t col, int attr, uint8_t ch, size_t count) {
  putCells(row, col, attr, nullptr, ch, count);
}

void vl_gt_GetText(int16_t top, int16_t left, int16_t bottom, int16_t right, char* buffer) {
  int t = top, l = left, b = bottom, r = right;
  if (!s.copy || !clipRect(&t, &l, &b, &r)) return;
  for (int y = t; y <= b; ++y)
    for (int x = l; x <= r; ++x) {
      const VlConCell& c = cellAt(y, x);
      *buffer++ = static_cast<char>(s.inTable[c.ch & 0xFF]);
      *buffer++ = static_cast<char>(c.attr & 0xFF);
    }
}

void vl_gt_PutText(int16_t top, int16_t left, int16_t bottom, int16_t right, const char* buffer, size_t len) {
  int t = top, l = left, b = bottom, r = right;
  if (!s.copy || !clipRect(&t, &l, &b, &r)) return;
  size_t pos = 0;
  int lastRow = -1;
  for (int y = t; y <= b && pos + 2 <= len; ++y) {
    for (int x = l; x <= r && pos + 2 <= len; ++x) {
      cellAt(y, x) = VlConCell{s.outTable[static_cast<uint8_t>(buffer[pos])], static_cast<uint8_t>(buffer[pos + 1])};
      pos += 2;
      lastRow = y;
    }
  }
  if (lastRow >= 0) mark(t, l, lastRow, r);
  flush();
}

void vl_gt_SetAttribute(int16_t top, int16_t left, int16_t bottom, int16_t right, int attr) {
  int t = top, l = left, b = bottom, r = right;
  if (!s.copy || !clipRect(&t, &l, &b, &r)) return;
  for (int y = t; y <= b; ++y)
    for (int x = l; x <= r; ++x) cellAt(y, x).attr = static_cast<uint16_t>(attr & 0xFF);
  mark(t, l, b, r);
  flush();
}

void vl_gt_Scroll(int16_t top, int16_t left, int16_t bottom, int16_t right, int attr, int rows, int cols) {
  int t = top, l = left, b = bottom, r = right;
  if (!s.copy || !clipRect(&t, &l, &b, &r)) return;
  ++s.batch;
  // Rows that leave the top of the whole screen are the console's to keep.
  if (t == 0 && l == 0 && b == s.height - 1 && r == s.width - 1 && rows > 0 && cols == 0)
    s.con->scrolledOff(s.copy, static_cast<int16_t>(std::min<int>(rows, s.height)), s.width);

  int width = r - l + 1;
  VlConCell blank{s.outTable[' '], static_cast<uint16_t>(attr & 0xFF)};
  int shift = cols < 0 ? -cols : cols;
  int copied = std::max(width - shift, 0);
  int src = cols > 0 ? l + cols : l;
  int dst = cols < 0 ? l - cols : l;
  VlConCell* line = static_cast<VlConCell*>(vl_xgrab(sizeof(VlConCell) * static_cast<size_t>(width)));
  int count = b - t + 1;
  for (int k = 0; k < count; ++k) {
    int i = rows >= 0 ? t + k : b - k;
    int from = i + rows;
    bool move = (rows != 0 || cols != 0) && from >= t && from <= b && copied > 0;
    if (move) std::memcpy(line, &cellAt(from, src), sizeof(VlConCell) * static_cast<size_t>(copied));
    for (int x = l; x <= r; ++x) cellAt(i, x) = blank;
    if (move) std::memcpy(&cellAt(i, dst), line, sizeof(VlConCell) * static_cast<size_t>(copied));
  }
  vl_xfree(line);
  mark(t, l, b, r);
  --s.batch;
  flush();
}

void vl_gt_HorizLine(int16_t row, int16_t left, int16_t right, uint8_t ch, int attr) {
  int l = std::min(left, right), r = std::max(left, right);
  if (!s.copy || row < 0 || row >= s.height) return;
  l = std::max(l, 0);
  r = std::min<int>(r, s.width - 1);
  if (l > r) return;
  putCells(row, l, attr, nullptr, ch, static_cast<size_t>(r - l + 1));
}

void vl_gt_VertLine(int16_t col, int16_t top, int16_t bottom, uint8_t ch, int attr) {
  int t = std::min(top, bottom), b = std::max(top, bottom);
  if (!s.copy || col < 0 || col >= s.width) return;
  t = std::max(t, 0);
  b = std::min<int>(b, s.height - 1);
  if (t > b) return;
  for (int y = t; y <= b; ++y) cellAt(y, col) = VlConCell{s.outTable[ch], static_cast<uint16_t>(attr & 0xFF)};
  mark(t, col, b, col);
  flush();
}

void vl_gt_Box(int16_t top, int16_t left, int16_t bottom, int16_t right, const char* frame, int attr) {
  if (!s.copy || !frame || std::strlen(frame) < 8) return;
  auto f = [frame](int i) { return static_cast<uint8_t>(frame[i]); };
  ++s.batch;
  vl_gt_Replicate(top, left, attr, f(0), 1);
  if (right - left > 1) vl_gt_HorizLine(top, static_cast<int16_t>(left + 1), static_cast<int16_t>(right - 1), f(1), attr);
  vl_gt_Replicate(top, right, attr, f(2), 1);
  if (bottom - top > 1) vl_gt_VertLine(right, static_cast<int16_t>(top + 1), static_cast<int16_t>(bottom - 1), f(3), attr);
  vl_gt_Replicate(bottom, right, attr, f(4), 1);
  if (right - left > 1)
    vl_gt_HorizLine(bottom, static_cast<int16_t>(left + 1), static_cast<int16_t>(right - 1), f(5), attr);
  vl_gt_Replicate(bottom, left, attr, f(6), 1);
  if (bottom - top > 1) vl_gt_VertLine(left, static_cast<int16_t>(top + 1), static_cast<int16_t>(bottom - 1), f(7), attr);
  --s.batch;
  flush();
}

// ---- batches and modes ----

void vl_gt_DispBegin() { ++s.batch; }

void vl_gt_DispEnd() {
  if (s.batch > 0) --s.batch;
  flush();
}

int vl_gt_DispCount() { return s.batch; }

bool vl_gt_SetMode(int16_t rows, int16_t cols) {
  if (!s.con || rows <= 0 || cols <= 0) return false;
  int openBatches = s.batch;
  s.batch = 0;
  flush();
  VlConInfo info{};
  s.con->info(&info);
  rows = std::min(rows, info.maxRows);
  cols = std::min(cols, info.maxCols);
  bool ok = true;
  // One dimension smaller and the other larger: pass through the size that has both larger.
  if ((rows < s.height && cols > s.width) || (rows > s.height && cols < s.width)) {
    if (cols > s.width) ok = vl_gt_SetMode(s.height, cols);
    else ok = vl_gt_SetMode(rows, s.width);
  }
  if (ok) {
    VlConRect w{0, 0, static_cast<int16_t>(rows - 1), static_cast<int16_t>(cols - 1)};
    if (static_cast<int>(rows) * cols >= static_cast<int>(s.height) * s.width)
      ok = s.con->setBufferSize(rows, cols) && s.con->setWindow(w);
    else
      ok = s.con->setWindow(w) && s.con->setBufferSize(rows, cols);
  }
  if (ok) readScreen();
  s.batch = openBatches;
  return ok;
}

// ---- keys ----

namespace {

// The key code of a key-down record.
int translateKey(const VlConKey& k) {
  int ch = k.ch;
  const KeyRow* row = nullptr;
  int special = -1;
  for (int i = 0; i < static_cast<int>(sizeof kSpecial / sizeof kSpecial[0]); ++i)
    if (kSpecial[i].vk == k.vk) {
      special = i;
      break;
    }
  if (k.vk == VL_VK_DELETE && ch == '.') special = -1;  // the keypad's decimal point
  if (k.vk == VL_VK_OEM_2 && (k.state & VL_CON_ENHANCED)) {
    if (ch == '?') return 47;
    special = KEYPAD_SLASH;
  }
  if (special >= 0) row = &kSpecial[special].codes;
  else if (ch >= 32 && ch <= 127) row = &s_charTable[ch];
  else if (ch >= 1 && ch <= 31 && (k.state & (VL_CON_LEFT_CTRL | VL_CON_RIGHT_CTRL))) row = &s_ctrlTable[ch];
  else return ch;

  const KeyRow& r = *row;
  bool ctrl = k.state & (VL_CON_LEFT_CTRL | VL_CON_RIGHT_CTRL);
  bool shift = k.state & VL_CON_SHIFT;
  int column;
  if (k.state & VL_CON_LEFT_ALT) column = COL_ALT;
  else if (k.state & VL_CON_RIGHT_ALT) column = COL_RALT;
  else if (ctrl && shift) return (special >= 0 && kSpecial[special].vk == VL_VK_TAB) ? 423 : r[COL_PLAIN];
  else if (ctrl) column = COL_CTRL;
  else if (shift) column = COL_SHIFT;
  else column = COL_PLAIN;
  return r[column] != 0 ? r[column] : r[COL_PLAIN];
}

bool isKeypadScan(uint16_t scan) {
  return (scan >= 71 && scan <= 73) || (scan >= 75 && scan <= 77) || (scan >= 79 && scan <= 82);
}

constexpr uint16_t SCAN_ALT = 56;

int mouseKey(const VlConMouse& m, int mask) {
  s.mouseCol = m.col;
  s.mouseRow = m.row;
  s.mouseButtons = m.buttons;
  if ((mask & 1) && (m.flags & VL_CON_MOUSE_MOVED)) return 1001;
  bool dbl = m.flags & VL_CON_DOUBLE_CLICK;
  if ((mask & 2) && (m.buttons & VL_CON_LEFT_BUTTON)) {
    s.lastButton = 1002;
    return dbl ? 1006 : 1002;
  }
  if ((mask & 8) && (m.buttons & VL_CON_RIGHT_BUTTON)) {
    s.lastButton = 1004;
    return dbl ? 1007 : 1004;
  }
  if (m.buttons == 0 && m.flags == 0) {
    if ((mask & 4) && s.lastButton == 1002) return 1003;
    if ((mask & 16) && s.lastButton == 1004) return 1005;
  }
  return 0;
}

}  // namespace

int vl_gt_ReadKey(int eventMask) {
  if (s_break) {
    s_break = 0;
    return 256;
  }
  if (!s.con || !s.inputValid) return 0;
  if (s.eventIndex >= s.eventCount && s.repeat == 0) {
    s.eventCount = s.eventIndex = 0;
    if (s.con->pendingInput() > 0) s.eventCount = s.con->readInput(s.events, 32);
  }
  if (s.eventIndex >= s.eventCount) return 0;

  const VlConInput& rec = s.events[s.eventIndex];
  int key = 0;
  bool advance = true;
  if (rec.type == VL_CON_MOUSE_EVENT) {
    if (s.mouseEnabled && (eventMask & 0x1F)) key = mouseKey(rec.mouse, eventMask);
  } else if (rec.type == VL_CON_KEY_EVENT) {
    const VlConKey& k = rec.key;
    if (k.down && k.scan == SCAN_ALT) {
      s.altComposing = true;
    } else if (s.altComposing && k.down && isKeypadScan(k.scan) && !(k.state & VL_CON_ENHANCED)) {
      // A digit of a character typed as Alt + keypad number: the console composes it.
    } else if (s.altComposing && !k.down && k.scan == SCAN_ALT) {
      s.altComposing = false;
      VlConKey composed = k;
      composed.down = true;
      composed.state &= ~static_cast<uint32_t>(VL_CON_LEFT_ALT | VL_CON_RIGHT_ALT);
      key = composed.ch ? translateKey(composed) : 0;
    } else if (k.down) {
      s.altComposing = false;
      key = translateKey(k);
      if (s.repeat == 0 && k.repeat > 1) s.repeat = k.repeat;
      if (s.repeat > 0 && --s.repeat > 0) advance = false;
    }
  }
  if (advance) ++s.eventIndex;
  return key;
}

bool vl_gt_InputEnded() {
  if (s_break) return false;  // the break key is still to come
  if (!s.con || !s.inputValid) return true;
  return s.eventIndex >= s.eventCount && s.repeat == 0 && s.con->inputEnded();
}

// ---- information and external output ----

int vl_gt_Info(int type) {
  VlConInfo info{};
  if (s.con) s.con->info(&info);
  switch (type) {
    case VL_GTI_STDIN: return s.hStdIn;
    case VL_GTI_STDOUT: return s.hStdOut;
    case VL_GTI_DESKTOPMAXROW: return info.maxRows - 1;
    case VL_GTI_DESKTOPMAXCOL: return info.maxCols - 1;
    case VL_GTI_VIEWMAXROW: return info.window.bottom - info.window.top;
    case VL_GTI_VIEWMAXCOL: return info.window.right - info.window.left;
    default: return -1;
  }
}

int vl_gt_StdErrHandle() { return s.hStdErr; }

const char* vl_gt_Version(bool full) { return full ? "Vellum Terminal: Win32 buffered console" : "WIN"; }

namespace {
// Written with the file layer; a descriptor the layer does not know (a handle named by
// //STDERR:n that the process inherited) is written directly. Failures are not reported and
// leave the last file error alone.
void writeHandle(int handle, const char* text, size_t len) {
  if (s.con) s.con->preExternal(handle);
  uint32_t savedError = vl_fsError();
  size_t done = 0;
  while (done < len) {
    uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(len - done, 1u << 30));
    uint32_t n = vl_fsWriteLarge(handle, text + done, chunk);
    if (n == 0 && vl_fsError() == VL_FERR_INVALID_HANDLE) {
      ssize_t w = ::write(handle, text + done, chunk);
      if (w < 0 && errno == EINTR) continue;
      n = w > 0 ? static_cast<uint32_t>(w) : 0;
    }
    if (n == 0) break;
    done += n;
  }
  vl_fsSetError(savedError);
  if (s.con) s.con->postExternal(handle, text, done);
}

void readCursorAfter(int handle) {
  if (!s.con || !vl_sysconIsCharDevice(handle)) return;
  VlConInfo info{};
  if (!s.con->info(&info)) return;
  s.row = s.shownRow = info.cursorRow;
  s.col = s.shownCol = info.cursorCol;
}
}  // namespace

// After text written to a terminal the cursor is where the text left it.
void vl_gt_OutStd(const char* text, size_t len) {
  writeHandle(s.hStdOut, text, len);
  readCursorAfter(s.hStdOut);
}
void vl_gt_OutErr(const char* text, size_t len) {
  writeHandle(s.hStdErr, text, len);
  readCursorAfter(s.hStdErr);
}
bool vl_gt_AdjustPos(const char*, size_t) { return true; }
bool vl_gt_PreExt() { return true; }
bool vl_gt_PostExt() { return true; }
bool vl_gt_GetBlink() { return true; }
void vl_gt_SetBlink(bool) {}

int vl_mouse_Col() { return s.mouseCol; }
int vl_mouse_Row() { return s.mouseRow; }
bool vl_mouse_IsButtonPressed(int button) {
  static const uint32_t kBits[] = {VL_CON_LEFT_BUTTON, VL_CON_RIGHT_BUTTON, VL_CON_MIDDLE_BUTTON};
  return button >= 0 && button <= 2 && (s.mouseButtons & kBits[button]);
}
int vl_mouse_CountButton() { return 3; }

void vl_gt_SetTranslation(const uint8_t* outTable256) {
  for (int i = 0; i < 256; ++i) s.outTable[i] = outTable256[i];
  for (int i = 0; i < 256; ++i) s.inTable[s.outTable[i]] = static_cast<uint8_t>(i);
}
