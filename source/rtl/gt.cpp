// The terminal layer: screen size and the language's screen-size functions.
#include "gt.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include "../vm/extend.h"

namespace {

struct GtState {
  int16_t height, width;
  bool mouse = true;
} s_gt;

}  // namespace

void vl_gtSetMouse(bool on) { s_gt.mouse = on; }

void vl_gtInit(int, int hStdOut, int) {
  s_gt.height = 25;
  s_gt.width = 80;
  winsize ws{};
  if (::isatty(hStdOut) && ::ioctl(hStdOut, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) {
    s_gt.height = static_cast<int16_t>(ws.ws_row);
    s_gt.width = static_cast<int16_t>(ws.ws_col);
  }
}

void vl_gtExit() {}

int16_t vl_gtMaxRow() { return static_cast<int16_t>(s_gt.height - 1); }
int16_t vl_gtMaxCol() { return static_cast<int16_t>(s_gt.width - 1); }

namespace {
// MAXROW/MAXCOL selectors: 1 the screen buffer, 2 the visible window, 3 the largest window;
// anything else the screen area. Until the console driver is in, all four are the screen.
int16_t lastOf(int16_t size) { return size > 0 ? static_cast<int16_t>(size - 1) : 0; }
}  // namespace

VL_FUNC(MAXROW) { vl_retni(lastOf(s_gt.height)); }
VL_FUNC(MAXCOL) { vl_retni(lastOf(s_gt.width)); }

VL_NATIVE_MODULE(gt, VL_FUNCENTRY(MAXROW), VL_FUNCENTRY(MAXCOL));
