// The regular-expression service over PCRE2 (8-bit, byte semantics: texts are in the code page,
// not UTF-8). Compiled patterns are kept in a small round-robin cache because the same pattern
// usually runs many times in a row (a loop with REGEXFULL, a save-file mask over every name).
#include "regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstring>

#include "../vm/xmem.h"

namespace {

constexpr int CACHE_SIZE = 16;

struct Entry {
  char* pattern;  // owned copy; null for an empty slot
  size_t len;
  pcre2_code* code;
  pcre2_match_data* match;
};
Entry s_cache[CACHE_SIZE];
int s_next;

void dropEntry(Entry& e) {
  if (e.match) pcre2_match_data_free(e.match);
  if (e.code) pcre2_code_free(e.code);
  if (e.pattern) vl_xfree(e.pattern);
  e = Entry{};
}

Entry* lookup(const char* pattern, size_t len) {
  for (Entry& e : s_cache)
    if (e.pattern && e.len == len && std::memcmp(e.pattern, pattern, len) == 0) return &e;
  int errcode = 0;
  PCRE2_SIZE erroffset = 0;
  pcre2_code* code =
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), len, 0, &errcode, &erroffset, nullptr);
  if (!code) return nullptr;
  Entry& e = s_cache[s_next];
  s_next = (s_next + 1) % CACHE_SIZE;
  dropEntry(e);
  e.pattern = vl_strndup(pattern, len);
  e.len = len;
  e.code = code;
  e.match = pcre2_match_data_create_from_pattern(code, nullptr);
  return &e;
}

}  // namespace

bool vl_regexMatch(const char* pattern, size_t patLen, const char* text, size_t textLen, bool full, bool* valid) {
  Entry* e = lookup(pattern, patLen);
  if (valid) *valid = e != nullptr;
  if (!e) return false;
  uint32_t options = full ? (PCRE2_ANCHORED | PCRE2_ENDANCHORED) : 0;
  int rc = pcre2_match(e->code, reinterpret_cast<PCRE2_SPTR>(textLen ? text : ""), textLen, 0, options, e->match,
                       nullptr);
  return rc >= 0;
}

char* vl_regexFromWildcard(const char* mask, size_t maskLen, size_t* outLen) {
  // Worst case: a zero byte becomes "\x00" (4 bytes).
  char* out = static_cast<char*>(vl_xgrab(4 * maskLen + 1));
  size_t n = 0;
  for (size_t i = 0; i < maskLen; ++i) {
    char c = mask[i];
    if (c == '*') {
      out[n++] = '.';
      out[n++] = '*';
    } else if (c == '?') {
      out[n++] = '.';
    } else if (c == '[') {
      size_t close = i + 1;
      if (close < maskLen && mask[close] == '!') ++close;
      if (close < maskLen && mask[close] == ']') ++close;  // a leading "]" is a member
      while (close < maskLen && mask[close] != ']') ++close;
      if (close >= maskLen) {
        // An open set: copied as it is, which leaves an invalid expression.
        for (; i < maskLen; ++i) out[n++] = mask[i];
        break;
      }
      out[n++] = '[';
      size_t j = i + 1;
      if (mask[j] == '!') {
        out[n++] = '^';
        ++j;
      }
      for (; j < close; ++j) {
        if (mask[j] == '\\') out[n++] = '\\';
        out[n++] = mask[j];
      }
      out[n++] = ']';
      i = close;
    } else {
      if (c == '\0') {
        // A zero byte inside the mask matches itself (the pattern is passed with its length,
        // but an escape keeps it readable in the 9100 report).
        std::memcpy(out + n, "\\x00", 4);
        n += 4;
        continue;
      }
      if (std::strchr("\\^$.|+()[]{}", c)) out[n++] = '\\';
      out[n++] = c;
    }
  }
  out[n] = '\0';
  if (outLen) *outLen = n;
  return out;
}

void vl_regexRelease() {
  for (Entry& e : s_cache) dropEntry(e);
  s_next = 0;
}
