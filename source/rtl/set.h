// The SET table: the process-wide record of numbered settings, read directly by internal code
// and changed by the language through SET(). Strings held here are owned by the table; the
// terminal and console layers plug into the device settings through vl_setHooks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../vm/item.h"

enum VlSetId : int {
  VL_SET_EXACT = 1,
  VL_SET_FIXED = 2,
  VL_SET_DECIMALS = 3,
  VL_SET_DATEFORMAT = 4,
  VL_SET_EPOCH = 5,
  VL_SET_PATH = 6,
  VL_SET_DEFAULT = 7,
  VL_SET_EXCLUSIVE = 8,
  VL_SET_SOFTSEEK = 9,
  VL_SET_UNIQUE = 10,
  VL_SET_DELETED = 11,
  VL_SET_CANCEL = 12,
  VL_SET_DEBUG = 13,
  VL_SET_TYPEAHEAD = 14,
  VL_SET_COLOR = 15,
  VL_SET_CURSOR = 16,
  VL_SET_CONSOLE = 17,
  VL_SET_ALTERNATE = 18,
  VL_SET_ALTFILE = 19,
  VL_SET_DEVICE = 20,
  VL_SET_EXTRA = 21,
  VL_SET_EXTRAFILE = 22,
  VL_SET_PRINTER = 23,
  VL_SET_PRINTFILE = 24,
  VL_SET_MARGIN = 25,
  VL_SET_BELL = 26,
  VL_SET_CONFIRM = 27,
  VL_SET_ESCAPE = 28,
  VL_SET_INSERT = 29,
  VL_SET_EXIT = 30,
  VL_SET_INTENSITY = 31,
  VL_SET_SCOREBOARD = 32,
  VL_SET_DELIMITERS = 33,
  VL_SET_DELIMCHARS = 34,
  VL_SET_WRAP = 35,
  VL_SET_MESSAGE = 36,
  VL_SET_MCENTER = 37,
  VL_SET_SCROLLBREAK = 38,
  VL_SET_EVENTMASK = 39,
  VL_SET_VIDEOMODE = 40,
  VL_SET_MBLOCKSIZE = 41,
  VL_SET_MFILEEXT = 42,
  VL_SET_STRICTREAD = 43,
  VL_SET_OPTIMIZE = 44,
  VL_SET_AUTOPEN = 45,
  VL_SET_AUTORDER = 46,
  VL_SET_AUTOSHARE = 47,
  VL_SET_LANGUAGE = 100,
  VL_SET_IDLEREPEAT = 101,
  VL_SET_TRACE = 102,
  VL_SET_TRACEFILE = 103,
  VL_SET_TRACESTACK = 104,
  VL_SET_FILECASE = 105,
  VL_SET_DIRCASE = 106,
  VL_SET_DIRSEPARATOR = 107,
  VL_SET_ERRORLOOP = 108,
  VL_SET_OPTION109 = 109,
  VL_SET_DBFLOCKSCHEME = 110,
  VL_SET_BACKGROUNDTASKS = 111,
  VL_SET_TRIMFILENAME = 112,
  VL_SET_OPTION113 = 113,
  VL_SET_BACKGROUNDTICK = 114,
  VL_SET_PRINTERJOB = 115,
  VL_SET_HARDCOMMIT = 116,
  VL_SET_OPTION117 = 117,
  VL_SET_EOL = 118,
  VL_SET_ERRORLOG = 119,
};

enum : int { VL_CASE_MIXED = 0, VL_CASE_LOWER = 1, VL_CASE_UPPER = 2 };

struct VlSetListener;

struct VlSet {
  bool exact, fixed;
  int decimals;
  char* dateFormat;
  int epoch;
  char* path;
  char* defaultDir;
  bool exclusive, softSeek, unique, deleted, cancel, debug;
  int typeAhead;
  char color[64];
  bool console, alternate;
  char* altFile;
  char* device;
  bool extra;
  char* extraFile;
  bool printer;
  char* printFile;
  int margin;
  bool bell, confirm, escape, insert, exitKey, intensity, scoreboard, delimiters;
  char* delimChars;
  bool wrap;
  int message;
  bool mcenter, scrollBreak;
  int eventMask;
  int videoMode, mblockSize;
  char* mfileExt;
  bool strictRead, optimize, autoOpen;
  int autOrder, autoShare;
  bool idleRepeat, trace;
  char traceFile[255];
  int traceStack;  // 0 none, 1 current, 2 all
  int fileCase, dirCase;
  char dirSeparator;  // '/' by default: we run on Linux
  int errorLoop;
  bool option109;
  int dbfLockScheme;
  bool backgroundTasks, trimFileName;
  int option113;
  int backgroundTick;
  char* printerJob;
  bool hardCommit, option117;
  VlItem eol;
  char errorLog[256];
  bool errorLogAppend;

  // Derived and bookkeeping fields.
  bool century;  // the date format's first run of Y letters is longer than 3
  int altHandle, extraHandle, printerHandle;  // -1 when closed
  bool implicitPrinter;  // the printer is the built-in "PRN", nothing opened explicitly
  char** pathList;       // the path setting split at ';' (empty pieces stay as empty entries)
  uint32_t pathCount;
  int cursorStyle;       // SET_CURSOR while no terminal answers for it
  VlSetListener* listeners;
  uint32_t listenerCount;
  int listenerNext;      // handle the next listener gets
};

extern VlSet vl_set;

void vl_setInitialise();
void vl_setRelease();

// The new-line value of SET_EOL, created from the console new line on first use.
const VlItem* vl_setGetEol();

// Listeners are called with (specifier, 0) before and (specifier, 1) after every SET call that
// passes a new value, in registration order. Handles count from 1.
using VlSetListenerFn = void (*)(int setId, int phase);
int vl_setListenerAdd(VlSetListenerFn callback);
bool vl_setListenerRemove(int handle);

// Device hooks, installed by the console and terminal layers. A null hook means nothing answers
// for it yet: the setting is then only stored (files stay closed, handles -1).
struct VlSetHooks {
  // Opens the alternate file (VL_SET_ALTFILE), the extra file (VL_SET_EXTRAFILE) or the printer
  // (VL_SET_PRINTFILE) by the printer-and-file opener; defExt is ".txt" or ".prn". Returns the
  // handle or -1; raises the open error itself unless `implicit` (the built-in "PRN").
  int (*openFile)(int setId, const char* name, bool additive, const char* defExt, bool implicit);
  // Closes what openFile opened: the alternate and extra files get an end-of-file byte 0x1A
  // first, the printer prints a pending spool file.
  void (*closeFile)(int setId, int handle);
  // Parses `text` (null: none) into the colour table, then renders the table into out (64 bytes).
  void (*color)(const char* text, char* out);
  // Sets the cursor style when newStyle >= 0; returns the style before the call.
  int (*cursor)(int newStyle);
  // The type-ahead size changed: rebuild (empty) the keyboard buffer with that size.
  void (*typeAhead)(int size);
};
extern VlSetHooks vl_setHooks;

// Shared by the settings that take "ON"/"OFF" text: true when item holds a logical or such text.
bool vl_setLogicalArg(const VlItem* item, bool* value);
