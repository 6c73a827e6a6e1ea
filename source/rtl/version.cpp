// Version and platform descriptions, and the language functions that report them.
#include "version.h"

#include <sys/utsname.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "../vm/extend.h"

const char* vl_verVersion() {
  static char text[64];
  if (!text[0]) std::snprintf(text, sizeof text, "Quillory build %d.%d.%d Intl. (%s)", 0, 99, 50, "Tokra");
  return text;
}

// The operating-system line in the shape of the original: system name and version, here the
// kernel's name, its numeric release and the machine.
const char* vl_verPlatform() {
  static char text[256];
  if (text[0]) return text;
  struct utsname u{};
  if (uname(&u) != 0) {
    std::snprintf(text, sizeof text, "Linux");
    return text;
  }
  char release[65];
  size_t n = 0;
  for (; u.release[n] && n < sizeof release - 1 && (std::isdigit(static_cast<unsigned char>(u.release[n])) || u.release[n] == '.'); ++n)
    release[n] = u.release[n];
  release[n] = '\0';
  while (n && release[n - 1] == '.') release[--n] = '\0';
  std::snprintf(text, sizeof text, "%s %s %s", u.sysname, n ? release : u.release, u.machine);
  return text;
}

const char* vl_verCompiler() {
  static char text[128];
  if (!text[0]) {
#if defined(__clang__)
    std::snprintf(text, sizeof text, "Clang C++ %d.%d.%d (%d-bit)", __clang_major__, __clang_minor__,
                  __clang_patchlevel__, static_cast<int>(sizeof(void*) * 8));
#elif defined(__GNUC__)
    std::snprintf(text, sizeof text, "GNU C++ %d.%d.%d (%d-bit)", __GNUC__, __GNUC_MINOR__, __GNUC_PATCHLEVEL__,
                  static_cast<int>(sizeof(void*) * 8));
#else
    std::snprintf(text, sizeof text, "C++ (%d-bit)", static_cast<int>(sizeof(void*) * 8));
#endif
  }
  return text;
}

const char* vl_verChangeLogId() { return "none"; }

const char* vl_verBuildDate() { return __DATE__ " " __TIME__; }

VL_FUNC(OS) { vl_retc(vl_verPlatform()); }
VL_FUNC(VERSION) { vl_retc(vl_verVersion()); }
VL_FUNC(VL_COMPILER) { vl_retc(vl_verCompiler()); }
VL_FUNC(VL_BUILDDATE) { vl_retc(vl_verBuildDate()); }

VL_NATIVE_MODULE(version, VL_FUNCENTRY(OS), VL_FUNCENTRY(VERSION), VL_FUNCENTRY(VL_COMPILER),
                 VL_FUNCENTRY(VL_BUILDDATE));
