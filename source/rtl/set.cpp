// The SET table: defaults, the SET() function with its checks and listeners, the century flag
// and the parsed path. Device settings (colour, cursor, type-ahead and the alternate, extra and
// printer files) reach the terminal and console layers only through vl_setHooks.
#include "set.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "../vm/arrays.h"
#include "../vm/extend.h"
#include "../vm/xmem.h"
#include "console.h"
#include "langapi.h"

struct VlSetListener {
  int handle;
  VlSetListenerFn fn;
};

VlSet vl_set;
VlSetHooks vl_setHooks;

namespace {

constexpr size_t MAX_SETTING_TEXT = 65535;
constexpr size_t MAX_TRACEFILE = sizeof(VlSet::traceFile) - 1;  // 254 characters
constexpr size_t MAX_ERRORLOG = sizeof(VlSet::errorLog) - 1;    // 255 characters

bool equalsNoCase(const char* a, size_t alen, const char* b) {
  size_t blen = std::strlen(b);
  if (alen != blen) return false;
  for (size_t i = 0; i < alen; ++i) {
    unsigned char c = static_cast<unsigned char>(a[i]);
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
    if (c != static_cast<unsigned char>(b[i])) return false;
  }
  return true;
}

bool beginsNoCase(const char* a, size_t alen, const char* b) {
  size_t blen = std::strlen(b);
  return alen >= blen && equalsNoCase(a, blen, b);
}

void replaceText(char** field, const char* text, size_t len) {
  if (len > MAX_SETTING_TEXT) len = MAX_SETTING_TEXT;
  char* copy = vl_strndup(text, len);
  if (*field) vl_xfree(*field);
  *field = copy;
}

void freeText(char** field) {
  if (*field) {
    vl_xfree(*field);
    *field = nullptr;
  }
}

// A number argument as a 32-bit value; out-of-range values are clamped rather than wrapped.
int32_t clampedInt(const VlItem* item) {
  int64_t v = vl_itemGetNLL(item);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

void computeCentury() {
  // The first run of Y letters decides: more than three letters means a four-digit year.
  const char* p = vl_set.dateFormat;
  while (*p && *p != 'Y' && *p != 'y') ++p;
  int run = 0;
  while (p[run] == 'Y' || p[run] == 'y') ++run;
  vl_set.century = run > 3;
}

void freePath() {
  for (uint32_t i = 0; i < vl_set.pathCount; ++i) vl_xfree(vl_set.pathList[i]);
  if (vl_set.pathList) vl_xfree(vl_set.pathList);
  vl_set.pathList = nullptr;
  vl_set.pathCount = 0;
}

void parsePath() {
  freePath();
  const char* path = vl_set.path;
  if (!*path) return;
  uint32_t count = 1;
  for (const char* p = path; *p; ++p) count += *p == ';';
  vl_set.pathList = static_cast<char**>(vl_xgrab(sizeof(char*) * count));
  const char* start = path;
  for (uint32_t i = 0; i < count; ++i) {
    const char* end = std::strchr(start, ';');
    if (!end) end = start + std::strlen(start);
    vl_set.pathList[i] = vl_strndup(start, static_cast<size_t>(end - start));
    start = *end ? end + 1 : end;
  }
  vl_set.pathCount = count;
}

void argError(const VlItem* spec, const VlItem* value) {
  vl_errRT_BASE(VL_EG_ARG, 2020, nullptr, "SET", 2, const_cast<VlItem*>(spec), const_cast<VlItem*>(value));
}

// ---- devices ----
int openFile(int setId, const char* name, bool additive, const char* defExt, bool implicit) {
  return vl_setHooks.openFile ? vl_setHooks.openFile(setId, name, additive, defExt, implicit) : -1;
}

void closeFile(int setId, int* handle) {
  if (*handle != -1) {
    if (vl_setHooks.closeFile) vl_setHooks.closeFile(setId, *handle);
    *handle = -1;
  }
}

bool deviceIsPrinter() {
  const char* d = vl_set.device ? vl_set.device : "";
  return equalsNoCase(d, std::strlen(d), "PRINTER");
}

void openImplicitPrinter() {
  if (vl_set.implicitPrinter && vl_set.printerHandle == -1)
    vl_set.printerHandle = openFile(VL_SET_PRINTFILE, "PRN", false, ".prn", true);
}

void closeImplicitPrinter() {
  if (vl_set.implicitPrinter) closeFile(VL_SET_PRINTFILE, &vl_set.printerHandle);
}

// Alternate and extra files: close what is open, then open the stored name (if any).
void reopenFile(int setId, char* name, int* handle, bool additive, const char* defExt) {
  closeFile(setId, handle);
  if (name && *name) *handle = openFile(setId, name, additive, defExt, false);
}

void renderColor(const char* text) {
  if (vl_setHooks.color) {
    char out[sizeof vl_set.color];
    out[0] = '\0';
    vl_setHooks.color(text, out);
    out[sizeof out - 1] = '\0';
    std::memcpy(vl_set.color, out, sizeof out);
  } else if (text) {
    std::snprintf(vl_set.color, sizeof vl_set.color, "%s", text);
  }
}

// ---- plain settings ----
enum class Kind { Logical, Numeric, NonNegative, Text, Special, Unknown };

struct Field {
  Kind kind;
  void* ptr;
};

Field fieldOf(int id) {
  VlSet& s = vl_set;
  switch (id) {
    case VL_SET_EXACT: return {Kind::Logical, &s.exact};
    case VL_SET_FIXED: return {Kind::Logical, &s.fixed};
    case VL_SET_DECIMALS: return {Kind::NonNegative, &s.decimals};
    case VL_SET_DATEFORMAT: return {Kind::Text, &s.dateFormat};
    case VL_SET_EPOCH: return {Kind::NonNegative, &s.epoch};
    case VL_SET_PATH: return {Kind::Text, &s.path};
    case VL_SET_DEFAULT: return {Kind::Text, &s.defaultDir};
    case VL_SET_EXCLUSIVE: return {Kind::Logical, &s.exclusive};
    case VL_SET_SOFTSEEK: return {Kind::Logical, &s.softSeek};
    case VL_SET_UNIQUE: return {Kind::Logical, &s.unique};
    case VL_SET_DELETED: return {Kind::Logical, &s.deleted};
    case VL_SET_CANCEL: return {Kind::Logical, &s.cancel};
    case VL_SET_DEBUG: return {Kind::Logical, &s.debug};
    case VL_SET_CONSOLE: return {Kind::Logical, &s.console};
    case VL_SET_ALTERNATE: return {Kind::Logical, &s.alternate};
    case VL_SET_EXTRA: return {Kind::Logical, &s.extra};
    case VL_SET_MARGIN: return {Kind::NonNegative, &s.margin};
    case VL_SET_BELL: return {Kind::Logical, &s.bell};
    case VL_SET_CONFIRM: return {Kind::Logical, &s.confirm};
    case VL_SET_ESCAPE: return {Kind::Logical, &s.escape};
    case VL_SET_INSERT: return {Kind::Logical, &s.insert};
    case VL_SET_EXIT: return {Kind::Logical, &s.exitKey};
    case VL_SET_INTENSITY: return {Kind::Logical, &s.intensity};
    case VL_SET_SCOREBOARD: return {Kind::Logical, &s.scoreboard};
    case VL_SET_DELIMITERS: return {Kind::Logical, &s.delimiters};
    case VL_SET_DELIMCHARS: return {Kind::Text, &s.delimChars};
    case VL_SET_WRAP: return {Kind::Logical, &s.wrap};
    case VL_SET_MESSAGE: return {Kind::NonNegative, &s.message};
    case VL_SET_MCENTER: return {Kind::Logical, &s.mcenter};
    case VL_SET_SCROLLBREAK: return {Kind::Logical, &s.scrollBreak};
    case VL_SET_EVENTMASK: return {Kind::Numeric, &s.eventMask};
    case VL_SET_VIDEOMODE: return {Kind::NonNegative, &s.videoMode};
    case VL_SET_MBLOCKSIZE: return {Kind::NonNegative, &s.mblockSize};
    case VL_SET_MFILEEXT: return {Kind::Text, &s.mfileExt};
    case VL_SET_STRICTREAD: return {Kind::Logical, &s.strictRead};
    case VL_SET_OPTIMIZE: return {Kind::Logical, &s.optimize};
    case VL_SET_AUTOPEN: return {Kind::Logical, &s.autoOpen};
    case VL_SET_AUTORDER: return {Kind::NonNegative, &s.autOrder};
    case VL_SET_AUTOSHARE: return {Kind::NonNegative, &s.autoShare};
    case VL_SET_IDLEREPEAT: return {Kind::Logical, &s.idleRepeat};
    case VL_SET_TRACE: return {Kind::Logical, &s.trace};
    case VL_SET_DBFLOCKSCHEME: return {Kind::NonNegative, &s.dbfLockScheme};
    case VL_SET_BACKGROUNDTASKS: return {Kind::Logical, &s.backgroundTasks};
    case VL_SET_TRIMFILENAME: return {Kind::Logical, &s.trimFileName};
    case VL_SET_BACKGROUNDTICK: return {Kind::NonNegative, &s.backgroundTick};
    case VL_SET_HARDCOMMIT: return {Kind::Logical, &s.hardCommit};
    case VL_SET_OPTION117: return {Kind::Logical, &s.option117};
    case VL_SET_TYPEAHEAD:
    case VL_SET_COLOR:
    case VL_SET_CURSOR:
    case VL_SET_ALTFILE:
    case VL_SET_DEVICE:
    case VL_SET_EXTRAFILE:
    case VL_SET_PRINTER:
    case VL_SET_PRINTFILE:
    case VL_SET_LANGUAGE:
    case VL_SET_TRACEFILE:
    case VL_SET_TRACESTACK:
    case VL_SET_FILECASE:
    case VL_SET_DIRCASE:
    case VL_SET_DIRSEPARATOR:
    case VL_SET_ERRORLOOP:
    case VL_SET_OPTION109:
    case VL_SET_OPTION113:
    case VL_SET_PRINTERJOB:
    case VL_SET_EOL:
    case VL_SET_ERRORLOG:
      return {Kind::Special, nullptr};
    default:
      return {Kind::Unknown, nullptr};
  }
}

void currentValue(int id, const Field& f, VlItem* out) {
  switch (f.kind) {
    case Kind::Logical: vl_itemPutL(out, *static_cast<bool*>(f.ptr)); return;
    case Kind::Numeric:
    case Kind::NonNegative: vl_itemPutNI(out, *static_cast<int*>(f.ptr)); return;
    case Kind::Text: {
      const char* t = *static_cast<char**>(f.ptr);
      vl_itemPutC(out, t ? t : "");
      return;
    }
    case Kind::Special: break;
    case Kind::Unknown: vl_itemPutNil(out); return;
  }
  VlSet& s = vl_set;
  switch (id) {
    case VL_SET_TYPEAHEAD: vl_itemPutNI(out, s.typeAhead); break;
    case VL_SET_COLOR:
      renderColor(nullptr);
      vl_itemPutC(out, s.color);
      break;
    case VL_SET_CURSOR: vl_itemPutNI(out, vl_setHooks.cursor ? vl_setHooks.cursor(-1) : s.cursorStyle); break;
    case VL_SET_ALTFILE: vl_itemPutC(out, s.altFile ? s.altFile : ""); break;
    case VL_SET_DEVICE: vl_itemPutC(out, s.device ? s.device : ""); break;
    case VL_SET_EXTRAFILE: vl_itemPutC(out, s.extraFile ? s.extraFile : ""); break;
    case VL_SET_PRINTER: vl_itemPutL(out, s.printer); break;
    case VL_SET_PRINTFILE: vl_itemPutC(out, s.printFile ? s.printFile : ""); break;
    case VL_SET_LANGUAGE: {
      const char* id2 = vl_langID();
      vl_itemPutC(out, id2 ? id2 : "");
      break;
    }
    case VL_SET_TRACEFILE: vl_itemPutC(out, s.traceFile); break;
    case VL_SET_TRACESTACK: vl_itemPutNI(out, s.traceStack); break;
    case VL_SET_FILECASE: vl_itemPutNI(out, s.fileCase); break;
    case VL_SET_DIRCASE: vl_itemPutNI(out, s.dirCase); break;
    case VL_SET_DIRSEPARATOR: vl_itemPutCL(out, &s.dirSeparator, 1); break;
    case VL_SET_ERRORLOOP: vl_itemPutNI(out, s.errorLoop); break;
    case VL_SET_OPTION109: vl_itemPutNil(out); break;
    case VL_SET_OPTION113: vl_itemPutNI(out, s.option113); break;
    case VL_SET_PRINTERJOB: vl_itemPutC(out, s.printerJob ? s.printerJob : ""); break;
    case VL_SET_EOL: vl_itemCopy(out, vl_setGetEol()); break;
    case VL_SET_ERRORLOG: {
      vl_arrayNew(out, 2);
      VlItem tmp;
      tmp.type = VL_IT_NIL;
      vl_itemPutC(&tmp, s.errorLog);
      vl_arraySetForward(out, 1, &tmp);
      vl_itemPutL(&tmp, s.errorLogAppend);
      vl_arraySetForward(out, 2, &tmp);
      break;
    }
    default: vl_itemPutNil(out); break;
  }
}

// A case setting (105, 106): a number >= 0 or one of the words.
bool caseArg(const VlItem* v, int* out) {
  if (VL_IS_NUMERIC(v)) {
    int32_t n = clampedInt(v);
    if (n < 0) return false;
    *out = n;
    return true;
  }
  if (VL_IS_STRING(v)) {
    const char* t = v->u.str.text;
    size_t n = v->n32;
    if (equalsNoCase(t, n, "LOWER")) *out = VL_CASE_LOWER;
    else if (equalsNoCase(t, n, "UPPER")) *out = VL_CASE_UPPER;
    else if (equalsNoCase(t, n, "MIXED")) *out = VL_CASE_MIXED;
    else return false;
    return true;
  }
  return false;
}

void storeFileName(char** field, const VlItem* v) {
  if (VL_IS_STRING(v)) replaceText(field, v->u.str.text, v->n32);
  else if (VL_IS_NIL(v)) freeText(field);
}

bool additiveArg(const VlItem* third) { return third && VL_IS_LOGICAL(third) && third->u.i32; }

void applySpecial(int id, const VlItem* spec, const VlItem* v, const VlItem* third) {
  VlSet& s = vl_set;
  switch (id) {
    case VL_SET_TYPEAHEAD:
      if (VL_IS_NUMERIC(v)) {
        int32_t n = clampedInt(v);
        if (n != 0) n = n < 16 ? 16 : (n > 4096 ? 4096 : n);
        if (n != s.typeAhead) {
          s.typeAhead = n;
          if (vl_setHooks.typeAhead) vl_setHooks.typeAhead(n);
        }
      }
      break;
    case VL_SET_COLOR:
      if (VL_IS_STRING(v)) renderColor(v->u.str.text);
      break;
    case VL_SET_CURSOR:
      if (VL_IS_NUMERIC(v)) {
        // The terminal ignores styles above 4; a negative one is no style at all.
        int32_t n = clampedInt(v);
        if (n >= 0 && vl_setHooks.cursor) vl_setHooks.cursor(n);
        else if (n >= 0 && n <= 4) s.cursorStyle = n;
      }
      break;
    case VL_SET_ALTFILE:
      storeFileName(&s.altFile, v);
      reopenFile(VL_SET_ALTFILE, s.altFile, &s.altHandle, additiveArg(third), ".txt");
      break;
    case VL_SET_EXTRAFILE:
      storeFileName(&s.extraFile, v);
      // Removing the name also closes the file: output must not keep reaching a file that the
      // setting no longer names.
      if (VL_IS_NIL(v)) closeFile(VL_SET_EXTRAFILE, &s.extraHandle);
      else reopenFile(VL_SET_EXTRAFILE, s.extraFile, &s.extraHandle, additiveArg(third), ".prn");
      break;
    case VL_SET_DEVICE:
      if (VL_IS_STRING(v)) replaceText(&s.device, v->u.str.text, v->n32);
      if (VL_IS_NIL(v)) break;
      if (deviceIsPrinter()) openImplicitPrinter();
      else if (!s.printer) closeImplicitPrinter();
      break;
    case VL_SET_PRINTER: {
      bool on;
      if (!vl_setLogicalArg(v, &on)) break;
      s.printer = on;
      if (on) openImplicitPrinter();
      else if (!deviceIsPrinter()) closeImplicitPrinter();
      break;
    }
    case VL_SET_PRINTFILE:
      if (!VL_IS_STRING(v)) break;
      closeFile(VL_SET_PRINTFILE, &s.printerHandle);
      if (v->n32 > 0) {
        replaceText(&s.printFile, v->u.str.text, v->n32);
        s.implicitPrinter = false;
        s.printerHandle = openFile(VL_SET_PRINTFILE, s.printFile, additiveArg(third), ".prn", false);
      } else {
        replaceText(&s.printFile, "PRN", 3);
        s.implicitPrinter = true;
      }
      break;
    case VL_SET_LANGUAGE:
      if (VL_IS_STRING(v)) vl_langSelectID(v->u.str.text);
      break;
    case VL_SET_TRACEFILE:
      if (VL_IS_STRING(v)) {
        // A name that does not fit the buffer is refused: cutting it would trace into another file.
        if (v->n32 > MAX_TRACEFILE || std::memchr(v->u.str.text, 0, v->n32)) {
          argError(spec, v);
          break;
        }
        std::memcpy(s.traceFile, v->u.str.text, v->n32);
        s.traceFile[v->n32] = '\0';
        // Creates the file, emptied unless the third argument asks to keep what it holds.
        bool keep = third && VL_IS_LOGICAL(third) && third->u.i32;
        if (FILE* f = std::fopen(s.traceFile, keep ? "a" : "w")) std::fclose(f);
      }
      break;
    case VL_SET_TRACESTACK:
      if (VL_IS_NUMERIC(v) && clampedInt(v) >= 0 && clampedInt(v) <= 255) s.traceStack = clampedInt(v);
      else if (VL_IS_STRING(v) && equalsNoCase(v->u.str.text, v->n32, "NONE")) s.traceStack = 0;
      else if (VL_IS_STRING(v) && equalsNoCase(v->u.str.text, v->n32, "CURRENT")) s.traceStack = 1;
      else if (VL_IS_STRING(v) && equalsNoCase(v->u.str.text, v->n32, "ALL")) s.traceStack = 2;
      else argError(spec, v);
      break;
    case VL_SET_FILECASE:
    case VL_SET_DIRCASE: {
      int value;
      if (caseArg(v, &value)) (id == VL_SET_FILECASE ? s.fileCase : s.dirCase) = value;
      else argError(spec, v);
      break;
    }
    case VL_SET_DIRSEPARATOR:
      if (VL_IS_STRING(v) && v->n32 > 0) s.dirSeparator = v->u.str.text[0];
      break;
    case VL_SET_ERRORLOOP:
      if (VL_IS_NUMERIC(v) && clampedInt(v) >= 0) s.errorLoop = clampedInt(v) == 0 ? 8 : clampedInt(v);
      else argError(spec, v);
      break;
    case VL_SET_OPTION113:
      if (VL_IS_STRING(v) && equalsNoCase(v->u.str.text, v->n32, "DETACHED")) s.option113 = 1;
      else if (VL_IS_STRING(v) && equalsNoCase(v->u.str.text, v->n32, "INLINE")) s.option113 = 0;
      else argError(spec, v);
      break;
    case VL_SET_PRINTERJOB:
      if (VL_IS_STRING(v) && v->n32 > 0) replaceText(&s.printerJob, v->u.str.text, v->n32);
      else if (VL_IS_STRING(v) || VL_IS_NIL(v)) freeText(&s.printerJob);
      break;
    case VL_SET_EOL:
      vl_itemCopy(&s.eol, v);
      break;
    case VL_SET_ERRORLOG: {
      // Besides a name (and an append flag as the third argument), the array SET(119) returns
      // is accepted, so that a saved setting can be put back.
      const VlItem* name = v;
      const VlItem* append = third;
      if (VL_IS_ARRAY(v)) {
        name = vl_arrayGetItemPtr(v, 1);
        append = vl_arrayGetItemPtr(v, 2);
      }
      if (!name || !VL_IS_STRING(name)) break;
      if (name->n32 > MAX_ERRORLOG || std::memchr(name->u.str.text, 0, name->n32)) {
        argError(spec, v);
        break;
      }
      std::memcpy(s.errorLog, name->u.str.text, name->n32);
      s.errorLog[name->n32] = '\0';
      if (append && VL_IS_LOGICAL(append)) s.errorLogAppend = append->u.i32 != 0;
      break;
    }
    default: break;
  }
}

void apply(int id, const Field& f, const VlItem* spec, const VlItem* v, const VlItem* third) {
  switch (f.kind) {
    case Kind::Logical: {
      bool on;
      if (vl_setLogicalArg(v, &on)) *static_cast<bool*>(f.ptr) = on;
      return;
    }
    case Kind::Numeric:
      if (VL_IS_NUMERIC(v)) *static_cast<int*>(f.ptr) = clampedInt(v);
      return;
    case Kind::NonNegative:
      if (VL_IS_NUMERIC(v)) {
        int32_t n = clampedInt(v);
        if (n < 0) argError(spec, v);
        else *static_cast<int*>(f.ptr) = n;
      }
      return;
    case Kind::Text: {
      auto** field = static_cast<char**>(f.ptr);
      if (VL_IS_STRING(v)) replaceText(field, v->u.str.text, v->n32);
      else if (VL_IS_NIL(v)) replaceText(field, "", 0);
      else return;
      if (id == VL_SET_DATEFORMAT) computeCentury();
      if (id == VL_SET_PATH) parsePath();
      return;
    }
    case Kind::Special: applySpecial(id, spec, v, third); return;
    case Kind::Unknown: return;
  }
}

void callListeners(int id, int phase) {
  uint32_t count = vl_set.listenerCount;
  if (!count) return;
  // A listener may add or remove listeners: call the ones registered now, from a copy.
  auto* snapshot = static_cast<VlSetListener*>(vl_xgrab(sizeof(VlSetListener) * count));
  std::memcpy(snapshot, vl_set.listeners, sizeof(VlSetListener) * count);
  for (uint32_t i = 0; i < count; ++i) snapshot[i].fn(id, phase);
  vl_xfree(snapshot);
}

}  // namespace

bool vl_setLogicalArg(const VlItem* item, bool* value) {
  if (!item) return false;
  if (VL_IS_LOGICAL(item)) {
    *value = item->u.i32 != 0;
    return true;
  }
  if (VL_IS_STRING(item)) {
    if (beginsNoCase(item->u.str.text, item->n32, "ON")) {
      *value = true;
      return true;
    }
    if (beginsNoCase(item->u.str.text, item->n32, "OFF")) {
      *value = false;
      return true;
    }
  }
  return false;
}

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
  s.debug = vl_dynsymFind("__DBGENTRY") != nullptr;
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
  // The platform's separator: we run on Linux, so '/' rather than the backslash.
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
  s.pathList = nullptr;
  s.pathCount = 0;
  s.cursorStyle = 1;
  s.listeners = nullptr;
  s.listenerCount = 0;
  s.listenerNext = 1;
}

void vl_setRelease() {
  VlSet& s = vl_set;
  closeFile(VL_SET_ALTFILE, &s.altHandle);
  closeFile(VL_SET_EXTRAFILE, &s.extraHandle);
  closeFile(VL_SET_PRINTFILE, &s.printerHandle);
  for (char** p : {&s.dateFormat, &s.path, &s.defaultDir, &s.altFile, &s.device, &s.extraFile, &s.printFile,
                   &s.delimChars, &s.mfileExt, &s.printerJob})
    freeText(p);
  freePath();
  vl_itemClear(&s.eol);
  if (s.listeners) vl_xfree(s.listeners);
  s.listeners = nullptr;
  s.listenerCount = 0;
}

const VlItem* vl_setGetEol() {
  if (VL_IS_NIL(&vl_set.eol)) vl_itemPutC(&vl_set.eol, vl_conNewLine());
  return &vl_set.eol;
}

int vl_setListenerAdd(VlSetListenerFn callback) {
  if (!callback) return 0;
  size_t size = sizeof(VlSetListener) * (vl_set.listenerCount + 1);
  vl_set.listeners = static_cast<VlSetListener*>(vl_set.listeners ? vl_xrealloc(vl_set.listeners, size) : vl_xgrab(size));
  int handle = vl_set.listenerNext++;
  vl_set.listeners[vl_set.listenerCount++] = {handle, callback};
  return handle;
}

bool vl_setListenerRemove(int handle) {
  for (uint32_t i = 0; i < vl_set.listenerCount; ++i) {
    if (vl_set.listeners[i].handle != handle) continue;
    std::memmove(&vl_set.listeners[i], &vl_set.listeners[i + 1],
                 sizeof(VlSetListener) * (vl_set.listenerCount - i - 1));
    --vl_set.listenerCount;
    return true;
  }
  return false;
}

// SET(specifier [, new value [, third argument]]) -> the value before the call.
VL_FUNC(SET) {
  const VlItem* spec = vl_param(1, VL_IT_ANY);
  int id = spec && VL_IS_NUMERIC(spec) ? clampedInt(spec) : 0;
  Field f = fieldOf(id);
  if (f.kind == Kind::Unknown) {
    vl_ret();
    return;
  }
  // The result is built aside: listeners and error handlers may run code that sets the
  // return value.
  VlItem result;
  result.type = VL_IT_NIL;
  currentValue(id, f, &result);
  int argc = vl_pcount();
  if (id == VL_SET_OPTION109) {
    // Always set, also without a new value.
    const VlItem* v = argc >= 2 ? vl_param(2, VL_IT_ANY) : nullptr;
    if (argc >= 2) callListeners(id, 0);
    vl_set.option109 = v && VL_IS_LOGICAL(v) ? v->u.i32 != 0 : true;
    if (argc >= 2) callListeners(id, 1);
  } else if (argc >= 2) {
    const VlItem* v = vl_paramError(2);
    const VlItem* third = argc >= 3 ? vl_param(3, VL_IT_ANY) : nullptr;
    callListeners(id, 0);
    apply(id, f, spec, v, third);
    callListeners(id, 1);
  }
  vl_itemReturnForward(&result);
}

VL_NATIVE_MODULE(set, VL_FUNCENTRY(SET));
