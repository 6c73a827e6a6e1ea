// Key codes: what INKEY() returns for characters, special keys, mouse events and the break
// event. Characters 1-255 are their own codes; the special keys share codes with control
// characters (Up is 5, as Ctrl+E), and function keys have negative codes.
#pragma once

enum : int {
  VL_K_NONE = -99,  // internal: nothing in the buffer

  VL_K_CTRL_A = 1, VL_K_HOME = 1,
  VL_K_CTRL_B = 2, VL_K_CTRL_RIGHT = 2,
  VL_K_CTRL_C = 3, VL_K_PGDN = 3,
  VL_K_CTRL_D = 4, VL_K_RIGHT = 4,
  VL_K_CTRL_E = 5, VL_K_UP = 5,
  VL_K_CTRL_F = 6, VL_K_END = 6,
  VL_K_CTRL_G = 7, VL_K_DEL = 7,
  VL_K_CTRL_H = 8, VL_K_BS = 8,
  VL_K_TAB = 9,
  VL_K_CTRL_ENTER = 10,
  VL_K_ENTER = 13,
  VL_K_CTRL_R = 18, VL_K_PGUP = 18,
  VL_K_CTRL_S = 19, VL_K_LEFT = 19,
  VL_K_CTRL_V = 22, VL_K_INS = 22,
  VL_K_CTRL_W = 23, VL_K_CTRL_END = 23,
  VL_K_CTRL_X = 24, VL_K_DOWN = 24,
  VL_K_CTRL_Z = 26, VL_K_CTRL_LEFT = 26,
  VL_K_ESC = 27,
  VL_K_F1 = 28,
  VL_K_CTRL_HOME = 29,
  VL_K_CTRL_PGDN = 30,
  VL_K_CTRL_PGUP = 31,
  VL_K_SPACE = 32,
  VL_K_CTRL_BS = 127,
  VL_K_F2 = -1, VL_K_F3 = -2, VL_K_F4 = -3, VL_K_F5 = -4, VL_K_F6 = -5,
  VL_K_F7 = -6, VL_K_F8 = -7, VL_K_F9 = -8, VL_K_F10 = -9,
  VL_K_SH_F1 = -10, VL_K_CTRL_F1 = -20, VL_K_ALT_F1 = -30,
  VL_K_F11 = -40, VL_K_F12 = -41,
  VL_K_BREAK = 256,  // Ctrl+Break, or the console being closed
  VL_K_ALT_ESC = 257,
  VL_K_ALT_BS = 270,
  VL_K_SH_TAB = 271,
  VL_K_ALT_A = 286,
  VL_K_ALT_C = 302,
  VL_K_ALT_D = 288,
  VL_K_ALT_ENTER = 284,
  VL_K_CTRL_UP = 397, VL_K_CTRL_DOWN = 401,
  VL_K_ALT_UP = 408, VL_K_ALT_DOWN = 416, VL_K_ALT_LEFT = 411, VL_K_ALT_RIGHT = 413,
  VL_K_CTRL_TAB = 404,
  VL_K_CTRL_SH_TAB = 423,
  VL_K_SH_UP = 425, VL_K_SH_DOWN = 427, VL_K_SH_LEFT = 424, VL_K_SH_RIGHT = 426,

  VL_K_MOUSEMOVE = 1001,
  VL_K_LBUTTONDOWN = 1002,
  VL_K_LBUTTONUP = 1003,
  VL_K_RBUTTONDOWN = 1004,
  VL_K_RBUTTONUP = 1005,
  VL_K_LDBLCLK = 1006,
  VL_K_RDBLCLK = 1007,
};

// Event-mask bits of INKEY() and SET_EVENTMASK.
enum : int {
  VL_INKEY_MOVE = 1,
  VL_INKEY_LDOWN = 2,
  VL_INKEY_LUP = 4,
  VL_INKEY_RDOWN = 8,
  VL_INKEY_RUP = 16,
  VL_INKEY_KEYBOARD = 128,
  VL_INKEY_ALL = 159,
};
