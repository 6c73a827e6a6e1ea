// The SET table: defaults. SET() and its checks are built with the run-time library.
#include "set.h"

#include <cstring>
#include <initializer_list>

#include "../vm/xmem.h"

VlSet vl_set;

void vl_setInitialise() {
  VlSet& s = vl_set;
  s.exact = s.fixed = false;
  s.decimals = 2;
  s.dateFormat = vl_strdup("mm/dd/yy");
  s.epoch = 1900;
  s.path = vl_strdup("");
  s.defaultDir = vl_strdup("");
  s.exclusive = true;
  s.softSeek = s.unique = s.deleted = false;
  s.cancel = true;
  s.debug = false;
  s.typeAhead = 50;
  std::strcpy(s.color, "W/N,N/W,N/N,N/N,N/W");
  s.console = true;
  s.alternate = false;
  s.altFile = nullptr;
  s.device = vl_strdup("SCREEN");
  s.extra = false;
  s.extraFile = nullptr;
  s.printer = false;
  s.printFile = vl_strdup("PRN");
  s.margin = 0;
  s.bell = s.confirm = false;
  s.escape = true;
  s.insert = s.exitKey = false;
  s.intensity = s.scoreboard = true;
  s.delimiters = false;
  s.delimChars = vl_strdup("::");
  s.wrap = false;
  s.message = 0;
  s.mcenter = false;
  s.scrollBreak = true;
  s.eventMask = 128;
  s.videoMode = s.mblockSize = 0;
  s.mfileExt = vl_strdup("");
  s.strictRead = false;
  s.optimize = s.autoOpen = true;
  s.autOrder = s.autoShare = 0;
  s.idleRepeat = s.trace = true;
  std::strcpy(s.traceFile, "trace.log");
  s.traceStack = 2;
  s.fileCase = s.dirCase = VL_CASE_MIXED;
  s.dirSeparator = '/';
  s.errorLoop = 8;
  s.option109 = true;
  s.dbfLockScheme = 0;
  s.backgroundTasks = s.trimFileName = false;
  s.option113 = 1;
  s.backgroundTick = 0;
  s.printerJob = nullptr;
  s.hardCommit = true;
  s.option117 = false;
  s.eol.type = VL_IT_NIL;
  std::strcpy(s.errorLog, "error.log");
  s.errorLogAppend = false;
  s.century = false;
  s.altHandle = s.extraHandle = s.printerHandle = -1;
  s.implicitPrinter = true;
}

void vl_setRelease() {
  for (char** p : {&vl_set.dateFormat, &vl_set.path, &vl_set.defaultDir, &vl_set.altFile, &vl_set.device,
                   &vl_set.extraFile, &vl_set.printFile, &vl_set.delimChars, &vl_set.mfileExt, &vl_set.printerJob}) {
    if (*p) {
      vl_xfree(*p);
      *p = nullptr;
    }
  }
  vl_itemClear(&vl_set.eol);
}
