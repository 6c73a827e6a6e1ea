// The terminal layer: logical cursor, cursor style, colour table, display batches, console and
// plain writes, boxes, scrolling and screen save/restore, and the language's screen functions.
//
// Invariants:
//  1. The logical position may lie outside the screen; while it does, the driver's cursor is
//     switched to style 0 (hiddenByPos) and the user's style is kept to be put back later.
//  2. The colour table always has at least the five slots of the default colour string.
//  3. Inside a vl_gtPreExt bracket the driver's batch depth is 0 and the real depth is kept in
//     extSaved.
#include "gt.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "../vm/cmdarg.h"
#include "../vm/extend.h"
#include "../vm/xmem.h"
#include "../platform/syscon.h"
#include "gtwin/gtwin.h"
#include "set.h"

const char vl_gtFrameSingle[] = "\xDA\xC4\xBF\xB3\xD9\xC4\xC0\xB3";
const char vl_gtFrameDouble[] = "\xC9\xCD\xBB\xBA\xBC\xCD\xC8\xBA";

namespace {

struct GtState {
  int16_t height = 0, width = 0;
  int16_t row = 0, col = 0;
  bool hiddenByPos = false;
  int style = 1;
  uint32_t* colors = nullptr;
  int colorCount = 0;
  int selected = 0;
  int extSaved = 0, extNesting = 0;
  uint8_t clearChar = ' ';
  bool mouse = true;
  bool mouseVisible = false;
} s;

int attr() { return s.colors ? static_cast<int>(s.colors[s.selected] & 0xFF) : 0x07; }

int16_t clamp16(long v) { return static_cast<int16_t>(std::clamp<long>(v, -32768, 32767)); }

bool onScreen(int row, int col) { return row >= 0 && col >= 0 && row < s.height && col < s.width; }

void readSize() {
  s.height = vl_gt_GetScreenHeight();
  s.width = vl_gt_GetScreenWidth();
}

void ensureColors(int count) {
  if (count <= s.colorCount) return;
  size_t bytes = sizeof(uint32_t) * static_cast<size_t>(count);
  s.colors = static_cast<uint32_t*>(s.colors ? vl_xrealloc(s.colors, bytes) : vl_xgrab(bytes));
  for (int i = s.colorCount; i < count; ++i) s.colors[i] = 0;
  s.colorCount = count;
}

}  // namespace

// ---- start and stop ----

void vl_gtSetMouse(bool on) { s.mouse = on; }

void vl_gtInit(int hStdIn, int hStdOut, int hStdErr) {
  s.colorCount = 0;
  ensureColors(5);
  s.colors[0] = 0x07;
  s.colors[1] = 0x70;
  s.colors[4] = 0x70;
  s.selected = 0;
  s.extSaved = s.extNesting = 0;
  s.hiddenByPos = false;
  if (vl_cmdargCheck("NOMOUSE")) s.mouse = false;
  vl_gt_SetMouse(s.mouse);
  vl_gt_Init(hStdIn, hStdOut, hStdErr);
  vl_gtSetColorStr(vl_set.color);
  readSize();
  s.row = vl_gt_Row();
  s.col = vl_gt_Col();
  s.style = 1;
  vl_gtSetCursor(1);
  if (vl_cmdargCheck("INFO")) {
    const char* v = vl_gt_Version(true);
    vl_gt_OutErr(v, std::strlen(v));
    vl_gt_OutErr("\n", 1);
  }
}

void vl_gtExit() {
  while (vl_gt_DispCount() > 0) vl_gt_DispEnd();
  vl_gt_Exit();
  if (s.colors) vl_xfree(s.colors);
  s.colors = nullptr;
  s.colorCount = 0;
  s.height = s.width = 0;
}

// ---- position and cursor ----

void vl_gtGetPos(int16_t* row, int16_t* col) {
  if (!s.hiddenByPos) {
    s.row = vl_gt_Row();
    s.col = vl_gt_Col();
  }
  *row = s.row;
  *col = s.col;
}

void vl_gtSetPos(int16_t row, int16_t col) {
  s.row = row;
  s.col = col;
  if (s.width > 0 && !onScreen(row, col)) {
    vl_gt_SetCursorStyle(0);
    s.hiddenByPos = true;
    return;
  }
  vl_gt_SetPos(row, col);
  if (s.hiddenByPos) {
    vl_gt_SetCursorStyle(s.style);
    s.hiddenByPos = false;
  }
}

void vl_gtSetPosRules(long row, long col) {
  if (s.height > 0 && s.width > 0) {
    if (row < 0) row = 0;
    while (col < 0) {
      col += s.width;
      if (row > 0) --row;
    }
    row = std::min<long>(row, vl_gtMaxRow() + 1);
    col = std::min<long>(col, vl_gtMaxCol() + 1);
  }
  vl_gtSetPos(clamp16(row), clamp16(col));
}

int vl_gtGetCursor() { return s.style; }

int vl_gtSetCursor(int style) {
  if (style < 0 || style > 4) return 1;
  if (!s.hiddenByPos) vl_gt_SetCursorStyle(style);
  s.style = style;
  return 0;
}

int16_t vl_gtMaxRow() { return static_cast<int16_t>(s.height - 1); }
int16_t vl_gtMaxCol() { return static_cast<int16_t>(s.width - 1); }

int vl_gtSetMode(int16_t rows, int16_t cols) {
  if (!vl_gt_SetMode(rows, cols)) return 1;
  readSize();
  return 0;
}

// ---- writing ----

void vl_gtWriteAt(int16_t row, int16_t col, const char* text, size_t len) {
  if (s.width > 0 && !onScreen(row, col)) return;
  vl_gt_DispBegin();
  size_t room = static_cast<size_t>(vl_gtMaxCol() - col + 1);
  vl_gt_Puts(row, col, attr(), text, std::min(len, room));
  vl_gtSetPos(row, clamp16(static_cast<long>(col) + static_cast<long>(std::min<size_t>(len, 65535))));
  vl_gt_DispEnd();
}

void vl_gtWrite(const char* text, size_t len) {
  int16_t row, col;
  vl_gtGetPos(&row, &col);
  vl_gtWriteAt(row, col, text, len);
}

void vl_gtWriteCon(const char* text, size_t len) {
  int maxRow = vl_gtMaxRow(), maxCol = vl_gtMaxCol();
  int16_t r16, c16;
  vl_gtGetPos(&r16, &c16);
  int row = r16, col = c16;
  if (row > maxRow) {
    row = maxRow;
    vl_gtSetPos(clamp16(row), clamp16(col));
  }
  vl_gtDispBegin();
  char buf[512];
  size_t n = 0;
  int startRow = row, startCol = col;
  auto flush = [&]() {
    if (n) {
      vl_gtSetPos(clamp16(startRow), clamp16(startCol));
      vl_gtWrite(buf, n);
      n = 0;
    }
    if (row > maxRow) {
      vl_gtScroll(0, 0, clamp16(maxRow), clamp16(maxCol), row - maxRow, 0);
      row = maxRow;
      col = 0;
    }
    vl_gtSetPos(clamp16(row), clamp16(col));
    startRow = row;
    startCol = col;
  };
  for (size_t i = 0; i < len; ++i) {
    auto ch = static_cast<unsigned char>(text[i]);
    switch (ch) {
      case 7:
        flush();
        break;
      case 8:
        if (col > 0) --col;
        else if (row > 0 && maxCol > 0) {
          --row;
          col = maxCol;
        }
        flush();
        break;
      case 10:
        ++row;
        col = 0;
        flush();
        break;
      case 13:
        col = 0;
        if (i + 1 < len && text[i + 1] == '\n') {
          ++i;
          ++row;
        }
        flush();
        break;
      default:
        buf[n++] = static_cast<char>(ch);
        if (col++ >= maxCol) {  // written in the last column or beyond: the line wraps
          ++row;
          col = 0;
          flush();
        } else if (n == sizeof buf) {
          flush();
        }
    }
  }
  flush();
  vl_gtDispEnd();
}

void vl_gtRepChar(int16_t row, int16_t col, uint8_t ch, long count) {
  if (s.height <= 0 || s.width <= 0 || count <= 0) return;
  int r = std::clamp<int>(row, 0, vl_gtMaxRow());
  int c = std::clamp<int>(col, 0, vl_gtMaxCol());
  long cells = static_cast<long>(vl_gtMaxRow() - r) * s.width + vl_gtMaxCol() - c + 1;
  vl_gt_Replicate(static_cast<int16_t>(r), static_cast<int16_t>(c), attr(), ch, static_cast<size_t>(std::min(count, cells)));
}

void vl_gtBox(int16_t top, int16_t left, int16_t bottom, int16_t right, const char* frame) {
  char f[9];
  size_t len = std::min<size_t>(std::strlen(frame), 9);
  std::memcpy(f, frame, len);
  for (size_t i = len; i < 8; ++i) f[i] = len ? frame[len - 1] : ' ';
  bool hasFill = len == 9;
  auto F = [&f](int i) { return static_cast<uint8_t>(f[i]); };

  int maxRow = vl_gtMaxRow(), maxCol = vl_gtMaxCol();
  int t = top, l = left, b = bottom, r = right;
  if (b < 0) b = maxRow + 1;
  if (r < 0) r = maxCol + 1;
  int ct = std::max(t, 0), cl = std::max(l, 0), cb = std::min(b, maxRow), cr = std::min(r, maxCol);
  if (ct > cb || cl > cr) return;
  int a = attr();
  auto put = [&](int y, int x, uint8_t ch) {
    if (onScreen(y, x)) vl_gt_Replicate(static_cast<int16_t>(y), static_cast<int16_t>(x), a, ch, 1);
  };
  auto hline = [&](int y, int x1, int x2, uint8_t ch) {
    x1 = std::max(x1, 0);
    x2 = std::min(x2, maxCol);
    if (y >= 0 && y <= maxRow && x1 <= x2) vl_gt_HorizLine(static_cast<int16_t>(y), static_cast<int16_t>(x1), static_cast<int16_t>(x2), ch, a);
  };
  auto vline = [&](int x, int y1, int y2, uint8_t ch) {
    y1 = std::max(y1, 0);
    y2 = std::min(y2, maxRow);
    if (x >= 0 && x <= maxCol && y1 <= y2) vl_gt_VertLine(static_cast<int16_t>(x), static_cast<int16_t>(y1), static_cast<int16_t>(y2), ch, a);
  };

  vl_gtDispBegin();
  if (cb > ct && cr > cl) {
    put(t, l, F(0));
    hline(t, l + 1, r - 1, F(1));
    put(t, r, F(2));
    vline(r, t + 1, b - 1, F(3));
    put(b, r, F(4));
    hline(b, l + 1, r - 1, F(5));
    put(b, l, F(6));
    vline(l, t + 1, b - 1, F(7));
    if (hasFill)
      for (int y = std::max(t + 1, 0); y <= std::min(b - 1, maxRow); ++y) hline(y, l + 1, r - 1, F(8));
  } else if (cl == cr) {
    vline(cl, ct, cb, F(3));
  } else {
    hline(ct, cl, cr, F(1));
  }
  vl_gtSetPos(clamp16(std::max(t + 1, 0)), clamp16(std::max(l + 1, 0)));
  vl_gtDispEnd();
}

void vl_gtBoxS(int16_t top, int16_t left, int16_t bottom, int16_t right) { vl_gtBox(top, left, bottom, right, vl_gtFrameSingle); }
void vl_gtBoxD(int16_t top, int16_t left, int16_t bottom, int16_t right) { vl_gtBox(top, left, bottom, right, vl_gtFrameDouble); }

void vl_gtScroll(int16_t top, int16_t left, int16_t bottom, int16_t right, int rows, int cols) {
  vl_gt_Scroll(top, left, bottom, right, attr(), rows, cols);
}

size_t vl_gtRectSize(int16_t top, int16_t left, int16_t bottom, int16_t right) {
  long rows = static_cast<long>(bottom) - top + 1, cols = static_cast<long>(right) - left + 1;
  return (rows > 0 && cols > 0) ? static_cast<size_t>(rows * cols * 2) : 0;
}

void vl_gtSave(int16_t top, int16_t left, int16_t bottom, int16_t right, char* buffer) {
  vl_gt_GetText(top, left, bottom, right, buffer);
}

void vl_gtRest(int16_t top, int16_t left, int16_t bottom, int16_t right, const char* buffer, size_t len) {
  vl_gt_PutText(top, left, bottom, right, buffer, len);
}

// ---- batches and external output ----

void vl_gtDispBegin() {
  if (s.extNesting > 0) ++s.extSaved;
  else vl_gt_DispBegin();
}

void vl_gtDispEnd() {
  if (s.extNesting > 0) {
    if (s.extSaved > 0) --s.extSaved;
  } else {
    vl_gt_DispEnd();
  }
}

int vl_gtDispCount() { return s.extNesting > 0 ? s.extSaved : vl_gt_DispCount(); }

void vl_gtPreExt() {
  if (s.extNesting++ > 0) return;
  s.extSaved = vl_gt_DispCount();
  while (vl_gt_DispCount() > 0) vl_gt_DispEnd();
  vl_gt_PreExt();
}

void vl_gtPostExt() {
  if (s.extNesting == 0 || --s.extNesting > 0) return;
  vl_gt_PostExt();
  for (int i = 0; i < s.extSaved; ++i) vl_gt_DispBegin();
  s.extSaved = 0;
}

namespace {
void outExternal(void (*write)(const char*, size_t), int handle, const char* text, size_t len) {
  vl_gtPreExt();
  write(text, len);
  vl_gtPostExt();
  if (vl_sysconIsCharDevice(handle) && !s.hiddenByPos) {
    s.row = vl_gt_Row();
    s.col = vl_gt_Col();
  }
}
}  // namespace

void vl_gtOutStd(const char* text, size_t len) { outExternal(vl_gt_OutStd, vl_gt_Info(VL_GTI_STDOUT), text, len); }
void vl_gtOutErr(const char* text, size_t len) { outExternal(vl_gt_OutErr, vl_gt_StdErrHandle(), text, len); }

// ---- colours ----

void vl_gtSetColorStr(const char* str) {
  if (!s.colors) ensureColors(5);
  if (!*str) {
    static const uint32_t kDefaults[5] = {0x07, 0x70, 0, 0, 0x70};
    for (int i = 0; i < 5; ++i) s.colors[i] = kDefaults[i];
  }
  int element = 0;
  uint32_t fg = 0, at = 0;
  bool slash = false, inverse = false, underline = false, blank = false, any = false;
  for (size_t i = 0;; ++i) {
    char c = str[i];
    if (c >= '0' && c <= '9') {
      uint32_t number = 0;
      int collected = 0;
      while (str[i] >= '0' && str[i] <= '9') {
        if (collected++ < 6) number = number * 10 + static_cast<uint32_t>(str[i] - '0');
        ++i;
      }
      --i;
      fg = number % 16;
      any = true;
      continue;
    }
    switch (std::toupper(static_cast<unsigned char>(c))) {
      case 'B': fg |= 1; any = true; break;
      case 'G': fg |= 2; any = true; break;
      case 'R': fg |= 4; any = true; break;
      case 'W': fg = 7; any = true; break;
      case 'N': fg = 0; any = true; break;
      case 'I': inverse = true; any = true; break;
      case 'U': underline = true; any = true; break;
      case 'X': blank = true; any = true; break;
      case '+': at |= 0x08; any = true; break;
      case '*': at |= 0x80; any = true; break;
      case '/':
        if (underline) {
          underline = false;
          at |= 0x800;
        } else if (blank) {
          fg = 0;
          blank = false;
        } else if (inverse) {
          fg = 7;
          inverse = false;
        }
        at |= fg;
        fg = 0;
        slash = true;
        any = true;
        break;
      case ',':
      case '\0':
        if (any) {
          if (blank) at &= 0x88F8;
          if (underline) fg |= 0x800;
          if (inverse) {
            if (slash) {
              fg = (fg & 0x88F) | 7;
              at &= 0x88F8;
            } else {
              fg = (fg & 0x8F8) | 0x70;
              at &= 0x888F;
            }
          }
          if ((at & 0x8800) && !((at | fg) & 0x77)) at |= 1;  // underline alone shows as blue
          ensureColors(element + 1);
          s.colors[element] = slash ? ((fg << 4) | at) : (fg | at);
        }
        ++element;
        fg = at = 0;
        slash = inverse = underline = blank = any = false;
        break;
      default:
        break;  // anything else, blanks included, is skipped
    }
    if (c == '\0') break;
  }
  if (element == 2 || element == 3) s.colors[4] = s.colors[1];
  s.selected = 0;
}

void vl_gtGetColorStr(char* buffer) {
  size_t pos = 0;
  auto part = [&](uint32_t bits, bool under) {
    if (under) buffer[pos++] = 'U';
    else if (bits == 7) buffer[pos++] = 'W';
    else if (bits == 0) buffer[pos++] = 'N';
    else {
      if (bits & 1) buffer[pos++] = 'B';
      if (bits & 2) buffer[pos++] = 'G';
      if (bits & 4) buffer[pos++] = 'R';
    }
  };
  for (int i = 0; i < s.colorCount && pos < 56; ++i) {
    uint32_t v = s.colors[i];
    if (i) buffer[pos++] = ',';
    part(v & 0x07, v & 0x800);
    if (v & 0x08) buffer[pos++] = '+';
    buffer[pos++] = '/';
    part((v >> 4) & 0x07, v & 0x8000);
    if (v & 0x80) buffer[pos++] = '*';
  }
  buffer[pos] = '\0';
}

uint32_t vl_gtColor(int slot) { return (slot >= 0 && slot < s.colorCount) ? s.colors[slot] : 0; }
int vl_gtColorCount() { return s.colorCount; }

// ---- language functions ----

namespace {

int16_t lastOf(int size) { return static_cast<int16_t>(size > 0 ? size - 1 : 0); }

// The colour string argument n is put in force for the duration of a scope.
struct ColorScope {
  bool active = false;
  char saved[64];
  explicit ColorScope(int n) {
    if (const char* c = vl_parc(n); c && vl_param(n, VL_IT_STRING)) {
      vl_gtGetColorStr(saved);
      vl_gtSetColorStr(c);
      active = true;
    }
  }
  ~ColorScope() {
    if (active) vl_gtSetColorStr(saved);
  }
};

// Normalises one dimension of SAVESCREEN/RESTSCREEN: defaults, clamping, order.
void normalise(int a, int b, int max, int16_t* from, int16_t* to) {
  int first = vl_param(a, VL_IT_NUMERIC) ? vl_parni(a) : 0;
  int second = vl_param(b, VL_IT_NUMERIC) ? vl_parni(b) : max;
  first = std::clamp(first, 0, std::max(max, 0));
  second = std::clamp(second, 0, std::max(max, 0));
  *from = static_cast<int16_t>(std::min(first, second));
  *to = static_cast<int16_t>(std::max(first, second));
}

}  // namespace

// SETCOLOR([cColors]) -> the colours in force before the call, as rendered from the table.
VL_FUNC(SETCOLOR) {
  char current[64];
  vl_gtGetColorStr(current);
  std::memcpy(vl_set.color, current, sizeof current);
  vl_retc(current);
  if (vl_param(1, VL_IT_STRING)) vl_gtSetColorStr(vl_parc(1));
}

VL_FUNC(SETPOS) {
  if (vl_param(1, VL_IT_NUMERIC) && vl_param(2, VL_IT_NUMERIC)) vl_gtSetPosRules(vl_parnl(1), vl_parnl(2));
}

VL_FUNC(ROW) {
  int16_t r, c;
  vl_gtGetPos(&r, &c);
  vl_retni(r);
}

VL_FUNC(COL) {
  int16_t r, c;
  vl_gtGetPos(&r, &c);
  vl_retni(c);
}

VL_FUNC(SETPOSBS) {
  int16_t r, c;
  vl_gtGetPos(&r, &c);
  vl_gtSetPos(r, clamp16(static_cast<long>(c) + 1));
}

VL_FUNC(SETCURSOR) {
  vl_retni(vl_gtGetCursor());
  if (vl_param(1, VL_IT_NUMERIC)) vl_gtSetCursor(vl_parni(1));
}

VL_FUNC(SCROLL) {
  int maxRow = vl_gtMaxRow(), maxCol = vl_gtMaxCol();
  int top = std::clamp(vl_parni(1), 0, std::max(maxRow, 0));
  int left = std::clamp(vl_parni(2), 0, std::max(maxCol, 0));
  int bottom = maxRow, right = maxCol;
  if (vl_param(3, VL_IT_NUMERIC)) {
    bottom = vl_parni(3);
    if (bottom < top) return;
    bottom = std::min(bottom, maxRow);
  }
  if (vl_param(4, VL_IT_NUMERIC)) {
    right = vl_parni(4);
    if (right < left) return;
    right = std::min(right, maxCol);
  }
  vl_gtScroll(static_cast<int16_t>(top), static_cast<int16_t>(left), static_cast<int16_t>(bottom),
              static_cast<int16_t>(right), vl_parni(5), vl_parni(6));
}

VL_FUNC(SAVESCREEN) {
  int16_t top, bottom, left, right;
  normalise(1, 3, vl_gtMaxRow(), &top, &bottom);
  normalise(2, 4, vl_gtMaxCol(), &left, &right);
  size_t size = s.width > 0 && s.height > 0 ? vl_gtRectSize(top, left, bottom, right) : 0;
  char* buffer = static_cast<char*>(vl_xgrab(size + 1));
  if (size) vl_gtSave(top, left, bottom, right, buffer);
  vl_retc_buffer(buffer, size);
}

VL_FUNC(RESTSCREEN) {
  if (!vl_param(5, VL_IT_STRING)) return;
  int16_t top, bottom, left, right;
  normalise(1, 3, vl_gtMaxRow(), &top, &bottom);
  normalise(2, 4, vl_gtMaxCol(), &left, &right);
  vl_gtRest(top, left, bottom, right, vl_parc(5), vl_parclen(5));
}

VL_FUNC(DISPBOX) {
  for (int i = 1; i <= 4; ++i)
    if (!vl_param(i, VL_IT_NUMERIC)) return;
  ColorScope colors(6);
  int16_t t = clamp16(vl_parnl(1)), l = clamp16(vl_parnl(2)), b = clamp16(vl_parnl(3)), r = clamp16(vl_parnl(4));
  if (vl_param(5, VL_IT_STRING)) {
    const char* frame = vl_parclen(5) ? vl_parc(5) : "         ";
    vl_gtBox(t, l, b, r, frame);
  } else if (vl_param(5, VL_IT_NUMERIC) && vl_parni(5) == 2) {
    vl_gtBoxD(t, l, b, r);
  } else {
    vl_gtBoxS(t, l, b, r);
  }
}

VL_FUNC(DISPBEGIN) { vl_gtDispBegin(); }
VL_FUNC(DISPEND) { vl_gtDispEnd(); }
VL_FUNC(DISPCOUNT) { vl_retni(vl_gt_DispCount()); }

namespace {
int16_t screenLast(bool rows) {
  VlItem* p = vl_param(1, VL_IT_ANY);
  int selector = 0;
  if (p && VL_IS_LOGICAL(p)) selector = vl_itemGetL(p) ? 1 : 0;
  else if (p && VL_IS_NUMERIC(p)) selector = vl_itemGetNI(p);
  switch (selector) {
    case 1: return lastOf(rows ? vl_gt_GetScreenHeight() : vl_gt_GetScreenWidth());
    case 2: return static_cast<int16_t>(std::max(vl_gt_Info(rows ? VL_GTI_VIEWMAXROW : VL_GTI_VIEWMAXCOL), 0));
    case 3: return static_cast<int16_t>(std::max(vl_gt_Info(rows ? VL_GTI_DESKTOPMAXROW : VL_GTI_DESKTOPMAXCOL), 0));
    default: return lastOf(rows ? s.height : s.width);
  }
}
}  // namespace

VL_FUNC(MAXROW) { vl_retni(screenLast(true)); }
VL_FUNC(MAXCOL) { vl_retni(screenLast(false)); }

// VL_COLORINDEX(cColors, n) -> element n (0-based) of the colour string, blanks trimmed.
VL_FUNC(VL_COLORINDEX) {
  if (!vl_param(1, VL_IT_STRING) || !vl_param(2, VL_IT_NUMERIC)) {
    vl_retc("");
    return;
  }
  const char* text = vl_parc(1);
  size_t len = vl_parclen(1);
  long want = vl_parnl(2);
  size_t start = 0;
  for (long index = 0; index < want; ++index) {
    const void* comma = std::memchr(text + start, ',', len - start);
    if (!comma) {
      vl_retc("");
      return;
    }
    start = static_cast<size_t>(static_cast<const char*>(comma) - text) + 1;
  }
  if (want < 0) {
    vl_retc("");
    return;
  }
  const void* comma = std::memchr(text + start, ',', len - start);
  size_t end = comma ? static_cast<size_t>(static_cast<const char*>(comma) - text) : len;
  while (start < end && text[start] == ' ') ++start;
  while (end > start && text[end - 1] == ' ') --end;
  vl_retclen(text + start, end - start);
}

// Mouse position of the last mouse event, and the visibility flag of the mouse cursor.
VL_FUNC(MROW) { vl_retni(vl_mouse_Row()); }
VL_FUNC(MCOL) { vl_retni(vl_mouse_Col()); }
VL_FUNC(MSETCURSOR) {
  vl_retl(s.mouseVisible);
  if (VlItem* p = vl_param(1, VL_IT_LOGICAL)) s.mouseVisible = vl_itemGetL(p);
}

VL_NATIVE_MODULE(gt, VL_FUNCENTRY(SETCOLOR), VL_FUNCENTRY(SETPOS), VL_FUNCENTRY(ROW), VL_FUNCENTRY(COL),
                 VL_FUNCENTRY(SETPOSBS), VL_FUNCENTRY(SETCURSOR), VL_FUNCENTRY(SCROLL), VL_FUNCENTRY(SAVESCREEN),
                 VL_FUNCENTRY(RESTSCREEN), VL_FUNCENTRY(DISPBOX), VL_FUNCENTRY(DISPBEGIN), VL_FUNCENTRY(DISPEND),
                 VL_FUNCENTRY(DISPCOUNT), VL_FUNCENTRY(MAXROW), VL_FUNCENTRY(MAXCOL), VL_FUNCENTRY(VL_COLORINDEX),
                 VL_FUNCENTRY(MROW), VL_FUNCENTRY(MCOL), VL_FUNCENTRY(MSETCURSOR));
