// Command-line option look-up.
#include "cmdarg.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "extend.h"
#include "xmem.h"

namespace {

int s_argc;
char** s_argv;

// Compares the first len characters of text with name, ignoring letter case.
bool matches(const char* text, const char* name, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    if (!text[i]) return false;
    if (std::toupper(static_cast<unsigned char>(text[i])) != std::toupper(static_cast<unsigned char>(name[i])))
      return false;
  }
  return true;
}

// The value part of a matching option: the rest after the name, one ':' skipped.
const char* valueOf(const char* text, size_t len) {
  const char* v = text + len;
  if (*v == ':') ++v;
  return v;
}

// Finds the option; on success *value points at its value and *valueLen is its length.
bool find(const char* name, const char** value, size_t* valueLen) {
  size_t len = std::strlen(name);
  for (int i = 1; i < s_argc; ++i) {
    const char* arg = s_argv[i];
    if (vl_cmdargIsInternal(arg) && matches(arg + 2, name, len)) {
      *value = valueOf(arg + 2, len);
      *valueLen = std::strlen(*value);
      return true;
    }
  }
  const char* env = std::getenv("VELLUM");
  if (!env || !*env) env = std::getenv("KESTREL");
  if (!env) return false;
  const char* p = env;
  while (*p) {
    while (*p && std::strchr(" ;,\t", *p)) ++p;
    const char* start = p;
    while (*p && !std::strchr(" ;,\t", *p)) ++p;
    size_t tokLen = static_cast<size_t>(p - start);
    if (!tokLen) continue;
    const char* tok = start;
    if (tokLen >= 2 && tok[0] == '/' && tok[1] == '/') {
      tok += 2;
      tokLen -= 2;
    }
    if (tokLen >= len && matches(tok, name, len)) {
      const char* v = tok + len;
      if (v < p && *v == ':') ++v;
      *value = v;
      *valueLen = static_cast<size_t>(p - v);
      return true;
    }
  }
  return false;
}

}  // namespace

void vl_cmdargInit(int argc, char** argv) {
  s_argc = argc;
  s_argv = argv;
}

int vl_cmdargARGC() { return s_argc; }
char** vl_cmdargARGV() { return s_argv; }

bool vl_cmdargIsInternal(const char* text) { return text && text[0] == '/' && text[1] == '/'; }

bool vl_cmdargCheck(const char* name) {
  const char* v;
  size_t n;
  return find(name, &v, &n);
}

char* vl_cmdargString(const char* name) {
  const char* v;
  size_t n;
  if (!find(name, &v, &n)) return nullptr;
  return vl_strndup(v, n);
}

int vl_cmdargNum(const char* name) {
  const char* v;
  size_t n;
  if (!find(name, &v, &n)) return -1;
  size_t i = 0;
  while (i < n && v[i] == ' ') ++i;
  bool neg = false;
  if (i < n && (v[i] == '-' || v[i] == '+')) neg = v[i++] == '-';
  if (i >= n || !std::isdigit(static_cast<unsigned char>(v[i]))) return -1;
  long long value = 0;
  for (; i < n && std::isdigit(static_cast<unsigned char>(v[i])); ++i) {
    value = value * 10 + (v[i] - '0');
    if (value > 0x7FFFFFFF) value = 0x7FFFFFFF;
  }
  return static_cast<int>(neg ? -value : value);
}

// VL_ARGCHECK(cName): the option is present.
VL_FUNC(VL_ARGCHECK) {
  const char* name = vl_parc(1);
  vl_retl(name ? vl_cmdargCheck(name) : false);
}

// VL_CMDARGARGV(): the program path.
VL_FUNC(VL_CMDARGARGV) { vl_retc(s_argc > 0 ? s_argv[0] : ""); }

VL_NATIVE_MODULE(cmdarg, VL_FUNCENTRY(VL_ARGCHECK), VL_FUNCENTRY(VL_CMDARGARGV));
