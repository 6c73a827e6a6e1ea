// The system console: our stand-in for the console calls the terminal driver makes. A console
// is a screen buffer of character/attribute cells with a cursor and a visible window, plus a
// queue of key and mouse records. Two back ends, chosen when the console is opened: the
// terminal (standard output is a terminal) and headless (an in-memory 25 x 80 screen whose
// rows go to standard output as they scroll off the top, and the rest at exit).
//
// Characters in cells and key records are bytes of code page 437; the back ends convert to and
// from what the terminal speaks.
#pragma once

#include <cstddef>
#include <cstdint>

struct VlConCell {
  uint16_t ch;    // low byte used
  uint16_t attr;  // low byte used: foreground nibble low, background nibble high
};

struct VlConRect {
  int16_t top, left, bottom, right;  // inclusive
};

struct VlConInfo {
  int16_t width, height;          // the screen buffer
  int16_t cursorRow, cursorCol;
  VlConRect window;               // the visible part of the buffer
  int16_t maxRows, maxCols;       // largest window the device can show
};

// Modifier state of input records.
enum : uint32_t {
  VL_CON_RIGHT_ALT = 0x0001,
  VL_CON_LEFT_ALT = 0x0002,
  VL_CON_RIGHT_CTRL = 0x0004,
  VL_CON_LEFT_CTRL = 0x0008,
  VL_CON_SHIFT = 0x0010,
  VL_CON_NUMLOCK = 0x0020,
  VL_CON_SCROLLLOCK = 0x0040,
  VL_CON_CAPSLOCK = 0x0080,
  VL_CON_ENHANCED = 0x0100,
};

// Virtual key codes the key records carry.
enum : uint16_t {
  VL_VK_BACK = 8,
  VL_VK_TAB = 9,
  VL_VK_RETURN = 13,
  VL_VK_MENU = 18,  // Alt
  VL_VK_ESCAPE = 27,
  VL_VK_SPACE = 32,
  VL_VK_PRIOR = 33,
  VL_VK_NEXT = 34,
  VL_VK_END = 35,
  VL_VK_HOME = 36,
  VL_VK_LEFT = 37,
  VL_VK_UP = 38,
  VL_VK_RIGHT = 39,
  VL_VK_DOWN = 40,
  VL_VK_INSERT = 45,
  VL_VK_DELETE = 46,
  VL_VK_MULTIPLY = 106,
  VL_VK_ADD = 107,
  VL_VK_SUBTRACT = 109,
  VL_VK_DECIMAL = 110,
  VL_VK_DIVIDE = 111,
  VL_VK_F1 = 112,  // F2..F12 follow
  VL_VK_OEM_2 = 191,  // "/" and "?"
};

enum : uint16_t { VL_CON_KEY_EVENT = 1, VL_CON_MOUSE_EVENT = 2, VL_CON_RESIZE_EVENT = 4 };
enum : uint32_t { VL_CON_MOUSE_MOVED = 1, VL_CON_DOUBLE_CLICK = 2 };
enum : uint32_t { VL_CON_LEFT_BUTTON = 1, VL_CON_RIGHT_BUTTON = 2, VL_CON_MIDDLE_BUTTON = 4 };

struct VlConKey {
  bool down;
  uint16_t repeat;
  uint16_t vk;
  uint16_t scan;
  uint8_t ch;
  uint32_t state;
};

struct VlConMouse {
  int16_t col, row;
  uint32_t buttons;
  uint32_t state;
  uint32_t flags;
};

struct VlConInput {
  uint16_t type;
  VlConKey key;
  VlConMouse mouse;
};

// Input modes.
enum : uint32_t { VL_CON_MOUSE_INPUT = 0x10 };

// Control events: what the control handler is told.
enum : int { VL_CON_CTRL_C = 0, VL_CON_CTRL_BREAK = 1, VL_CON_CLOSE = 2 };
// Runs in signal context: it may only set flags. Answers true when it handled the event.
using VlConCtrlHandler = bool (*)(int event);

class VlSysCon {
 public:
  virtual ~VlSysCon() = default;

  virtual bool info(VlConInfo* out) = 0;
  virtual bool setBufferSize(int16_t rows, int16_t cols) = 0;
  virtual bool setWindow(const VlConRect& window) = 0;

  // Copy a rectangle of the screen buffer out of / into `cells`, which holds `bufRows` rows of
  // `bufCols` cells and is addressed with the screen's own coordinates. The region is clipped
  // to both and updated to what was copied; false when nothing was.
  virtual bool readOutput(VlConCell* cells, int16_t bufRows, int16_t bufCols, VlConRect* region) = 0;
  virtual bool writeOutput(const VlConCell* cells, int16_t bufRows, int16_t bufCols, VlConRect* region) = 0;

  // size is the percentage of the cell the cursor fills (1..100).
  virtual void setCursorInfo(bool visible, int size) = 0;
  virtual void setCursorPos(int16_t row, int16_t col) = 0;

  virtual uint32_t getMode() = 0;
  virtual void setMode(uint32_t mode) = 0;
  virtual int pendingInput() = 0;                        // records that can be read now
  virtual int readInput(VlConInput* records, int max) = 0;  // never blocks
  virtual bool inputEnded() = 0;                         // no record can ever come again

  // The rows that leave the top of the screen when the whole screen scrolls up.
  virtual void scrolledOff(const VlConCell* rows, int16_t count, int16_t cols) {}
  // Bytes are about to be written straight to the descriptor `handle` / have been written.
  // When the handle is the terminal the screen shows, the console places them at its cursor
  // and follows them, so that its cursor is where they left it.
  virtual void preExternal(int handle) {}
  virtual void postExternal(int handle, const char* text, size_t len) {}

  // Restores the device; called once, before the console is destroyed.
  virtual void close() = 0;
};

// Opens the console for the given standard input and output descriptors: the terminal back end
// when the output is a terminal, otherwise headless. Never null.
VlSysCon* vl_sysconOpen(int hIn, int hOut);
void vl_sysconClose(VlSysCon* con);
// Makes the next vl_sysconOpen return `con` (tests); the caller keeps ownership.
void vl_sysconUseNext(VlSysCon* con);

// Installs (or with null removes) the control handler: SIGINT is Ctrl+Break, SIGHUP and
// SIGTERM the close event; a second close event ends the process at once.
void vl_sysconSetCtrlHandler(VlConCtrlHandler handler);

// Whether a descriptor is a character device (a terminal).
bool vl_sysconIsCharDevice(int handle);

// Code page 437 and Unicode.
uint32_t vl_cp437ToUnicode(uint8_t ch);
int vl_cp437FromUnicode(uint32_t code);  // -1 when the page has no such character
// Appends the UTF-8 form of a code page 437 byte to out (at most 3 bytes); returns the count.
int vl_cp437ToUtf8(uint8_t ch, char* out);
