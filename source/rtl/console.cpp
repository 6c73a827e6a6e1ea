// Console output channels. Only the raw channels exist so far: standard output and the error
// channel (standard error, or the handle named by //STDERR:n).
#include "console.h"

#include <unistd.h>

#include <cstring>

#include "../vm/cmdarg.h"
#include "gt.h"
#include "inkey.h"

namespace {
int s_errHandle = 2;
bool s_initialised;

void writeAll(int fd, const char* text, size_t len) {
  while (len) {
    ssize_t n = ::write(fd, text, len);
    if (n <= 0) return;
    text += n;
    len -= static_cast<size_t>(n);
  }
}
}  // namespace

void vl_conInit() {
  int h = vl_cmdargNum("STDERR");
  s_errHandle = h == 0 ? 1 : (h > 0 ? h : 2);
  vl_gtInit(0, 1, s_errHandle);
  vl_setkeyInit();
  s_initialised = true;
}

// Also reached from the internal-error path, possibly before vl_conInit ran.
void vl_conRelease() {
  if (!s_initialised) return;
  s_initialised = false;
  vl_setkeyRelease();
  vl_gtExit();
}

void vl_conOutStd(const char* text, size_t len) { writeAll(1, text, len); }
void vl_conOutErr(const char* text, size_t len) { writeAll(s_errHandle, text, len); }
void vl_conOutStdStr(const char* text) { vl_conOutStd(text, std::strlen(text)); }
void vl_conOutErrStr(const char* text) { vl_conOutErr(text, std::strlen(text)); }
const char* vl_conNewLine() { return "\n"; }
