// Console output and devices: the console and device routes, standard output and error, the
// printer position, and the language's output functions (QOUT, QQOUT, OUTSTD, OUTERR, DEVPOS,
// DEVOUT, DISPOUTAT, PROW, PCOL, VL_OSNEWLINE).
//
// Write failures on the screen, the files and the standard channels are not reported; the
// file-error value is left as it was before the write.
#include "console.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "../platform/filesys.h"
#include "../vm/cmdarg.h"
#include "../vm/extend.h"
#include "../vm/xmem.h"
#include "gt.h"
#include "inkey.h"
#include "set.h"

namespace {

// This platform's line end (a single line feed).
const char kNewLine[] = "\n";

int s_errHandle = 2;
bool s_initialised;
int s_prow, s_pcol;
int16_t s_startRows, s_startCols;

void writeFd(int fd, const char* text, size_t len) {
  int savedErrno = errno;
  while (len) {
    ssize_t n = ::write(fd, text, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text += n;
    len -= static_cast<size_t>(n);
  }
  errno = savedErrno;
}

// One of the SET table's files; errors are ignored and leave the last file error alone.
void writeFile(int handle, const char* text, size_t len) {
  if (handle < 0) return;
  uint32_t saved = vl_fsError();
  while (len) {
    uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(len, 1u << 30));
    uint32_t done = vl_fsWriteLarge(handle, text, chunk);
    if (done == 0) break;
    text += done;
    len -= done;
  }
  vl_fsSetError(saved);
}

void writePrinter(const char* text, size_t len) {
  writeFile(vl_set.printerHandle, text, len);
  s_pcol += static_cast<int>(len);
}

bool printerIsDevice() {
  return vl_set.printerHandle >= 0 && vl_set.device && strcasecmp(vl_set.device, "PRINTER") == 0;
}

// The text form of a value for output. Logical values are ".T."/".F." for QOUT, QQOUT and
// OUTSTD, "T"/"F" for DEVOUT and DISPOUTAT; values without a text form give nothing.
class ValueText {
 public:
  ValueText(const VlItem* item, bool dottedLogical) {
    if (VL_IS_LOGICAL(item)) {
      m_text = vl_itemGetL(item) ? (dottedLogical ? ".T." : "T") : (dottedLogical ? ".F." : "F");
      m_len = std::strlen(m_text);
      return;
    }
    if (VL_IS_ARRAY(item) || VL_IS_BLOCK(item) || VL_IS_HASH(item) || VL_IS_SYMBOL(item)) return;
    m_text = vl_itemString(item, &m_len, &m_owned);
  }
  ~ValueText() {
    if (m_owned) vl_xfree(const_cast<char*>(m_text));
  }
  ValueText(const ValueText&) = delete;
  ValueText& operator=(const ValueText&) = delete;
  const char* text() const { return m_text; }
  size_t len() const { return m_len; }

 private:
  const char* m_text = "";
  size_t m_len = 0;
  bool m_owned = false;
};

// Sends every argument from `first` on, a blank between them.
void sendArgs(int first, void (*send)(const char*, size_t), bool dottedLogical) {
  int n = vl_pcount();
  for (int i = first; i <= n; ++i) {
    if (i > first) send(" ", 1);
    ValueText t(vl_param(i, VL_IT_ANY), dottedLogical);
    send(t.text(), t.len());
  }
}

// The colour string argument n is put in force for the duration of a scope.
struct ColorScope {
  bool active = false;
  char saved[64];
  explicit ColorScope(int n) {
    if (vl_param(n, VL_IT_STRING)) {
      vl_gtGetColorStr(saved);
      vl_gtSetColorStr(vl_parc(n));
      active = true;
    }
  }
  ~ColorScope() {
    if (active) vl_gtSetColorStr(saved);
  }
};

void devPos(long row, long col) {
  if (!printerIsDevice()) {
    vl_gtSetPosRules(row, col);
    return;
  }
  col += vl_set.margin;
  if (row < s_prow) {
    writeFile(vl_set.printerHandle, "\x0C", 1);
    s_prow = s_pcol = 0;
  }
  while (s_prow < row) {
    writeFile(vl_set.printerHandle, "\r\n", 2);
    s_pcol = 0;
    ++s_prow;
  }
  if (col < s_pcol) {
    writeFile(vl_set.printerHandle, "\r", 1);
    s_pcol = 0;
  }
  while (s_pcol < col) {
    writeFile(vl_set.printerHandle, " ", 1);
    ++s_pcol;
  }
}

}  // namespace

void vl_conInit() {
  s_prow = s_pcol = 0;
  int h = vl_cmdargNum("STDERR");
  s_errHandle = h == 0 ? 1 : (h > 0 ? h : 2);
  vl_gtInit(0, 1, s_errHandle);
  s_startRows = vl_gtMaxRow();
  s_startCols = vl_gtMaxCol();
  vl_setkeyInit();
  vl_inkeyReset(true);
  s_initialised = true;
}

// Also reached from the internal-error path, possibly before vl_conInit ran.
void vl_conRelease() {
  if (!s_initialised) return;
  s_initialised = false;
  if (vl_gtMaxRow() != s_startRows || vl_gtMaxCol() != s_startCols)
    vl_gtSetMode(static_cast<int16_t>(s_startRows + 1), static_cast<int16_t>(s_startCols + 1));
  vl_setkeyRelease();
  vl_inkeyExit();
  vl_gtExit();
}

const char* vl_conNewLine() { return kNewLine; }

void vl_conOutStd(const char* text, size_t len) {
  if (!len) len = std::strlen(text);
  if (s_initialised) vl_gtOutStd(text, len);
  else writeFd(1, text, len);
}

void vl_conOutErr(const char* text, size_t len) {
  if (!len) len = std::strlen(text);
  if (s_initialised) vl_gtOutErr(text, len);
  else writeFd(s_errHandle, text, len);
}

void vl_conOutStdStr(const char* text) {
  if (*text) vl_conOutStd(text, std::strlen(text));
}

void vl_conOutErrStr(const char* text) {
  if (*text) vl_conOutErr(text, std::strlen(text));
}

void vl_conOutAlt(const char* text, size_t len) {
  if (vl_set.console) vl_gtWriteCon(text, len);
  if (vl_set.alternate) writeFile(vl_set.altHandle, text, len);
  writeFile(vl_set.extraHandle, text, len);
  if (vl_set.printer && vl_set.printerHandle >= 0) writePrinter(text, len);
}

void vl_conOutDev(const char* text, size_t len) {
  if (printerIsDevice()) writePrinter(text, len);
  else vl_gtWrite(text, len);
}

int vl_conPRow() { return s_prow; }
int vl_conPCol() { return s_pcol; }

// ---- language functions ----

VL_FUNC(QQOUT) { sendArgs(1, vl_conOutAlt, true); }

VL_FUNC(QOUT) {
  vl_conOutAlt(kNewLine, std::strlen(kNewLine));
  if (vl_set.printer && vl_set.printerHandle >= 0) {
    ++s_prow;
    s_pcol = vl_set.margin;
    for (int i = 0; i < vl_set.margin; ++i) writeFile(vl_set.printerHandle, " ", 1);
  }
  sendArgs(1, vl_conOutAlt, true);
}

VL_FUNC(OUTSTD) {
  sendArgs(1, [](const char* t, size_t n) { if (n) vl_conOutStd(t, n); }, true);
}

VL_FUNC(OUTERR) {
  sendArgs(1, [](const char* t, size_t n) { if (n) vl_conOutErr(t, n); }, true);
}

VL_FUNC(DEVPOS) {
  if (vl_param(1, VL_IT_NUMERIC) && vl_param(2, VL_IT_NUMERIC)) devPos(vl_parnl(1), vl_parnl(2));
}

VL_FUNC(DEVOUT) {
  if (vl_param(3, VL_IT_NUMERIC) && vl_param(4, VL_IT_NUMERIC)) devPos(vl_parnl(3), vl_parnl(4));
  if (vl_pcount() < 1) return;
  ColorScope colors(2);
  ValueText t(vl_param(1, VL_IT_ANY), false);
  vl_conOutDev(t.text(), t.len());
}

VL_FUNC(DISPOUTAT) {
  ColorScope colors(4);
  ValueText t(vl_param(3, VL_IT_ANY) ? vl_param(3, VL_IT_ANY) : vl_paramError(3), false);
  vl_gtWriteAt(static_cast<int16_t>(vl_parni(1)), static_cast<int16_t>(vl_parni(2)), t.text(), t.len());
}

VL_FUNC(PROW) { vl_retni(s_prow); }
VL_FUNC(PCOL) { vl_retni(s_pcol); }
VL_FUNC(VL_OSNEWLINE) { vl_retc(kNewLine); }
VL_FUNC(VLCONSOLELOCK) {}
VL_FUNC(VLCONSOLEUNLOCK) {}

VL_NATIVE_MODULE(console, VL_FUNCENTRY(QQOUT), VL_FUNCENTRY(QOUT), VL_FUNCENTRY(OUTSTD), VL_FUNCENTRY(OUTERR),
                 VL_FUNCENTRY(DEVPOS), VL_FUNCENTRY(DEVOUT), VL_FUNCENTRY(DISPOUTAT), VL_FUNCENTRY(PROW),
                 VL_FUNCENTRY(PCOL), VL_FUNCENTRY(VL_OSNEWLINE), VL_FUNCENTRY(VLCONSOLELOCK),
                 VL_FUNCENTRY(VLCONSOLEUNLOCK));
