// The string functions of the language and the small type tests. Strings are counted byte
// strings (zero bytes included); positions are 1-based. Case and letters follow the current code
// page (cdp.h). Every result length is checked against the longest string an item can hold
// before anything is allocated.
#include <cstring>

#include "../vm/arrays.h"
#include "../vm/extend.h"
#include "../vm/hashes.h"
#include "../vm/xmem.h"
#include "cdp.h"

namespace {

constexpr uint64_t MAX_STRING = 0xFFFFFFFEu;

const VlItem* strArg(int n) { return vl_param(n, VL_IT_STRING); }

// A number argument (integer, long or double; not a date or a one-byte string).
const VlItem* numArg(int n) {
  const VlItem* p = vl_param(n, VL_IT_ANY);
  return p && VL_IS_NUMERIC(p) ? p : nullptr;
}

int64_t num(const VlItem* p) { return vl_itemGetNLL(p); }  // doubles are truncated and saturated

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void argError(int subCode, const char* operation) {
  vl_errRT_BASE_SubstR(VL_EG_ARG, subCode, nullptr, operation, VL_ERR_ARGS_BASEPARAMS);
}

void overflowError(const char* operation) {
  vl_errRT_BASE_SubstR(VL_EG_STROVERFLOW, 1234, nullptr, operation, VL_ERR_ARGS_BASEPARAMS);
}

// The name the running function was called by, for bodies shared by two names.
const char* calledName() { return vl_stackBaseItem()->u.sym.sym->name; }

// A result text of len bytes, written in place into the return value's own buffer. Texts of 0 or
// 1 byte go through a local buffer so that they become shared one-byte strings.
class ResultText {
 public:
  explicit ResultText(size_t len)
      : len_(len), p_(len <= 1 ? small_ : vl_itemPutCLBuffer(vl_stackReturnItem(), len)) {}
  char* data() { return p_; }
  void finish(bool memo = false) {
    if (len_ <= 1) vl_retclen(small_, len_);
    if (memo) vl_itemSetCMemo(vl_stackReturnItem());
  }

 private:
  size_t len_;
  char small_[2] = {0, 0};
  char* p_;
};

// Returns bytes [from, from + len) of a string argument; the whole string is shared, not copied.
void retPart(const VlItem* s, size_t from, size_t len, bool keepMemo) {
  if (from == 0 && len == s->n32) {
    vl_itemReturn(s);
    if (!keepMemo) vl_stackReturnItem()->type &= static_cast<VlType>(~VL_IT_MEMOFLAG);
    return;
  }
  vl_retclen(s->u.str.text + from, len);
  if (keepMemo && VL_IS_MEMO(s)) vl_itemSetCMemo(vl_stackReturnItem());
}

// First occurrence of needle (not empty) in hay. memchr finds each candidate first byte; unlike
// memmem it reads only up to the match, so scanning a long text match by match stays linear.
const char* findBytes(const char* hay, size_t hayLen, const char* needle, size_t needleLen) {
  if (needleLen > hayLen) return nullptr;
  const char* last = hay + (hayLen - needleLen);
  for (const char* p = hay; p <= last;) {
    p = static_cast<const char*>(std::memchr(p, needle[0], static_cast<size_t>(last - p) + 1));
    if (!p) return nullptr;
    if (std::memcmp(p + 1, needle + 1, needleLen - 1) == 0) return p;
    ++p;
  }
  return nullptr;
}

}  // namespace

// LEN(string | array | hash)
VL_FUNC(LEN) {
  const VlItem* p = vl_param(1, VL_IT_ANY);
  if (p && VL_IS_STRING(p)) return vl_retnint(p->n32);
  if (p && VL_IS_ARRAY(p)) return vl_retnint(vl_arrayLen(p));
  if (p && VL_IS_HASH(p)) return vl_retnint(vl_hashLen(p));
  argError(1111, "LEN");
}

// AT(search, target [, start [, end]]) -> 1-based position of the first occurrence in the window.
VL_FUNC(AT) {
  const VlItem* sub = strArg(1);
  const VlItem* s = strArg(2);
  if (!sub || !s) return argError(1108, "AT");
  int64_t len = s->n32;
  int64_t start = 0;
  if (const VlItem* p = numArg(3)) {
    int64_t v = num(p);
    start = v < 0 ? (v + len < 0 ? 0 : v + len) : (v > 0 ? v - 1 : 0);
  }
  int64_t end = len;
  if (const VlItem* p = numArg(4)) {
    int64_t v = num(p);
    end = v < 0 ? v + len + 1 : v;
    if (end > len) end = len;
  }
  int64_t pos = 0;
  if (sub->n32 > 0 && start < end) {
    const char* hit = findBytes(s->u.str.text + start, static_cast<size_t>(end - start), sub->u.str.text, sub->n32);
    if (hit) pos = hit - s->u.str.text + 1;
  }
  vl_retnint(pos);
}

// SUBSTR(string, start [, count])
VL_FUNC(SUBSTR) {
  const VlItem* s = strArg(1);
  const VlItem* st = numArg(2);
  bool withCount = vl_pcount() >= 3;
  const VlItem* cnt = withCount ? numArg(3) : nullptr;
  if (!s || !st || (withCount && !cnt)) return argError(1110, "SUBSTR");
  int64_t len = s->n32;
  int64_t start = num(st);
  if (start < 0) start = start + len < 0 ? 0 : start + len;
  else if (start > 0) --start;
  if (start >= len) return vl_retc("");
  int64_t count = len - start;
  if (cnt && num(cnt) < count) count = num(cnt);
  if (count <= 0) return vl_retc("");
  retPart(s, static_cast<size_t>(start), static_cast<size_t>(count), false);
}

// LEFT(string, count)
VL_FUNC(LEFT) {
  const VlItem* s = strArg(1);
  const VlItem* n = numArg(2);
  if (!s || !n) return argError(1124, "LEFT");
  int64_t count = num(n);
  if (count < 1) return vl_retc("");
  retPart(s, 0, count >= s->n32 ? s->n32 : static_cast<size_t>(count), false);
}

// RIGHT(string, count) -> the last count bytes. Unsuitable arguments give "".
VL_FUNC(RIGHT) {
  const VlItem* s = strArg(1);
  const VlItem* n = numArg(2);
  int64_t count = s && n ? num(n) : 0;
  if (count < 1) return vl_retc("");
  size_t take = count >= s->n32 ? s->n32 : static_cast<size_t>(count);
  retPart(s, s->n32 - take, take, false);
}

namespace {

void convertCase(bool upper, int subCode, const char* operation) {
  const VlItem* s = strArg(1);
  if (!s) return argError(subCode, operation);
  const VlCodePage* cdp = vl_cdpCurrent();
  const uint8_t* map = upper ? cdp->toUpper : cdp->toLower;
  const auto* t = reinterpret_cast<const unsigned char*>(s->u.str.text);
  size_t n = s->n32, i = 0;
  while (i < n && map[t[i]] == t[i]) ++i;
  if (i == n) return retPart(s, 0, n, false);  // nothing changes: share the text
  ResultText r(n);
  std::memcpy(r.data(), t, i);
  for (; i < n; ++i) r.data()[i] = static_cast<char>(map[t[i]]);
  r.finish();
}

}  // namespace

VL_FUNC(UPPER) { convertCase(true, 1102, "UPPER"); }
VL_FUNC(LOWER) { convertCase(false, 1103, "LOWER"); }

namespace {

// PADR (0), PADL (1), PADC (2).
void pad(int where, const char* operation) {
  const VlItem* v = vl_param(1, VL_IT_ANY);
  const VlItem* n = numArg(2);
  if (!v || !n || !(VL_IS_STRING(v) || VL_IS_NUMERIC(v) || VL_IS_DATE(v))) return vl_retc("");
  int64_t want = num(n);
  if (want <= 0) return vl_retc("");
  if (static_cast<uint64_t>(want) > MAX_STRING) return overflowError(operation);
  char fill = ' ';
  if (const VlItem* f = strArg(3)) fill = f->n32 ? f->u.str.text[0] : '\0';
  size_t len;
  bool freeable;
  char* text = vl_itemPadConv(v, &len, &freeable);
  if (static_cast<uint64_t>(want) <= len) {
    if (VL_IS_STRING(v)) retPart(v, 0, static_cast<size_t>(want), false);
    else vl_retclen(text, static_cast<size_t>(want));
  } else {
    size_t total = static_cast<size_t>(want), gap = total - len;
    size_t left = where == 0 ? 0 : where == 1 ? gap : gap / 2;
    ResultText r(total);
    std::memset(r.data(), fill, left);
    std::memcpy(r.data() + left, text, len);
    std::memset(r.data() + left + len, fill, gap - left);
    r.finish();
  }
  if (freeable) vl_xfree(text);
}

}  // namespace

VL_FUNC(PADR) { pad(0, "PADR"); }
VL_FUNC(PADL) { pad(1, "PADL"); }
VL_FUNC(PADC) { pad(2, "PADC"); }

// LTRIM(string): without leading spaces, tabs, carriage returns and line feeds.
VL_FUNC(LTRIM) {
  const VlItem* s = strArg(1);
  if (!s) return argError(1101, "LTRIM");
  size_t i = 0;
  while (i < s->n32 && isBlank(s->u.str.text[i])) ++i;
  retPart(s, i, s->n32 - i, true);
}

namespace {

size_t trimmedEnd(const VlItem* s, bool allBlanks) {
  size_t end = s->n32;
  const char* t = s->u.str.text;
  while (end > 0 && (t[end - 1] == ' ' || (allBlanks && isBlank(t[end - 1])))) --end;
  return end;
}

bool flagArg(int n) {
  const VlItem* p = vl_param(n, VL_IT_LOGICAL);
  return p && p->u.i32;
}

}  // namespace

// RTRIM / TRIM(string [, lAllBlanks]): without trailing spaces (and tabs, CR, LF with the flag).
VL_FUNC(RTRIM) {
  const VlItem* s = strArg(1);
  if (!s) return argError(1100, calledName());
  retPart(s, 0, trimmedEnd(s, flagArg(2)), true);
}

VL_FUNC(TRIM) { VL_FUN_RTRIM(); }

// ALLTRIM(string [, lAllBlanks]): trailing part as RTRIM, then every leading blank.
VL_FUNC(ALLTRIM) {
  const VlItem* s = strArg(1);
  if (!s) return argError(2022, "ALLTRIM");
  size_t end = trimmedEnd(s, flagArg(2)), start = 0;
  while (start < end && isBlank(s->u.str.text[start])) ++start;
  retPart(s, start, end - start, true);
}

namespace {

// One pass of STRTRAN: counts the result length and, with out, writes it. Matches counted
// before the first occurrence to replace advance by one byte, so overlapping ones count.
uint64_t strtranPass(const VlItem* s, const VlItem* search, const char* repl, size_t replLen, int64_t first,
                     bool limited, int64_t count, char* out, int64_t* replaced) {
  const char* t = s->u.str.text;
  size_t len = s->n32, m = search->n32, i = 0;
  uint64_t outLen = 0;
  int64_t counted = 0;
  *replaced = 0;
  auto emit = [&](const char* p, size_t n) {
    if (out) std::memcpy(out + outLen, p, n);
    outLen += n;
  };
  while (i < len && !(limited && *replaced >= count)) {
    const char* hit = findBytes(t + i, len - i, search->u.str.text, m);
    if (!hit) break;
    size_t j = static_cast<size_t>(hit - t);
    emit(t + i, j - i);
    i = j;
    if (++counted >= first) {
      emit(repl, replLen);
      i += m;
      ++*replaced;
    } else {
      emit(t + i, 1);
      ++i;
    }
  }
  emit(t + i, len - i);
  return outLen;
}

}  // namespace

// STRTRAN(string, search [, replacement [, first occurrence [, number of replacements]]])
VL_FUNC(STRTRAN) {
  const VlItem* s = strArg(1);
  const VlItem* search = strArg(2);
  if (!s || !search) return argError(1126, "STRTRAN");
  const VlItem* r = strArg(3);
  const char* repl = r ? r->u.str.text : "";
  size_t replLen = r ? r->n32 : 0;
  const VlItem* f = numArg(4);
  const VlItem* c = numArg(5);
  int64_t first = f ? num(f) : 1;
  if (search->n32 == 0 || search->n32 > s->n32) return vl_itemReturn(s);
  if (first == 0) return vl_retc("");
  if (c && num(c) <= 0) return vl_itemReturn(s);
  int64_t count = c ? num(c) : 0, replaced;
  uint64_t total = strtranPass(s, search, repl, replLen, first, c != nullptr, count, nullptr, &replaced);
  if (replaced == 0) return vl_itemReturn(s);
  if (total > MAX_STRING) return overflowError("STRTRAN");
  ResultText out(static_cast<size_t>(total));
  strtranPass(s, search, repl, replLen, first, c != nullptr, count, out.data(), &replaced);
  out.finish();
}

// STUFF(string, start, delete count, insert string)
VL_FUNC(STUFF) {
  const VlItem* s = strArg(1);
  const VlItem* st = numArg(2);
  const VlItem* del = numArg(3);
  const VlItem* ins = strArg(4);
  if (!s || !st || !del || !ins) return vl_retc("");
  uint64_t len = s->n32;
  int64_t start = num(st);
  // 0-based; a negative start is past the end once taken as unsigned, so it means the end.
  uint64_t from = start > 0 ? static_cast<uint64_t>(start - 1) : start == 0 ? 0 : len;
  if (from > len) from = len;
  int64_t d = num(del);
  uint64_t cut = d < 0 || static_cast<uint64_t>(d) > len - from ? len - from : static_cast<uint64_t>(d);
  uint64_t total = len - cut + ins->n32;
  if (total > MAX_STRING) return overflowError("STUFF");
  ResultText r(static_cast<size_t>(total));
  std::memcpy(r.data(), s->u.str.text, from);
  std::memcpy(r.data() + from, ins->u.str.text, ins->n32);
  std::memcpy(r.data() + from + ins->n32, s->u.str.text + from + cut, len - from - cut);
  r.finish();
}

// STRDEL(string, mask): drops every byte whose position holds a non-space in the mask.
VL_FUNC(STRDEL) {
  const VlItem* s = strArg(1);
  const VlItem* mask = strArg(2);
  if (!s || !mask) return vl_retc("");
  if (s->n32 == 0 || mask->n32 == 0) return vl_itemReturn(s);
  size_t kept = 0;
  for (size_t i = 0; i < s->n32; ++i) kept += i >= mask->n32 || mask->u.str.text[i] == ' ';
  ResultText r(kept);
  for (size_t i = 0, o = 0; i < s->n32; ++i)
    if (i >= mask->n32 || mask->u.str.text[i] == ' ') r.data()[o++] = s->u.str.text[i];
  r.finish();
}

// REPLICATE(string, count)
VL_FUNC(REPLICATE) {
  const VlItem* s = strArg(1);
  const VlItem* n = numArg(2);
  if (!s || !n) return argError(1106, "REPLICATE");
  int64_t count = num(n);
  if (count < 1 || s->n32 == 0) return vl_retc("");
  if (static_cast<uint64_t>(count) > MAX_STRING / s->n32) {
    vl_errRT_BASE_SubstR(VL_EG_STROVERFLOW, 1234, nullptr, "REPLICATE", VL_ERR_ARGS_BASEPARAMS);
    return;
  }
  size_t unit = s->n32, total = unit * static_cast<size_t>(count);
  ResultText r(total);
  std::memcpy(r.data(), s->u.str.text, unit);
  // Doubling copies: log2(count) calls instead of count.
  for (size_t done = unit; done < total;) {
    size_t chunk = done < total - done ? done : total - done;
    std::memcpy(r.data() + done, r.data(), chunk);
    done += chunk;
  }
  r.finish();
}

// SPACE(count)
VL_FUNC(SPACE) {
  const VlItem* n = numArg(1);
  if (!n) return argError(1105, "SPACE");
  int64_t count = num(n);
  if (count < 1) return vl_retc("");
  if (static_cast<uint64_t>(count) > MAX_STRING) return overflowError("SPACE");
  ResultText r(static_cast<size_t>(count));
  std::memset(r.data(), ' ', static_cast<size_t>(count));
  r.finish();
}

// CHR(n): the byte n modulo 256.
VL_FUNC(CHR) {
  const VlItem* n = numArg(1);
  if (!n) return argError(1104, "CHR");
  char c = static_cast<char>(static_cast<uint64_t>(num(n)) & 0xFF);
  vl_retclen(&c, 1);
}

// ASC(string): the first byte, 0 for "".
VL_FUNC(ASC) {
  const VlItem* s = strArg(1);
  if (!s) return argError(1107, "ASC");
  vl_retni(s->n32 ? static_cast<unsigned char>(s->u.str.text[0]) : 0);
}

VL_FUNC(ISALPHA) {
  const VlItem* s = strArg(1);
  vl_retl(s && s->n32 && vl_cdpIsAlpha(vl_cdpCurrent(), static_cast<unsigned char>(s->u.str.text[0])));
}

VL_FUNC(ISDIGIT) {
  const VlItem* s = strArg(1);
  vl_retl(s && s->n32 && vl_cdpIsDigit(static_cast<unsigned char>(s->u.str.text[0])));
}

// EMPTY(value)
VL_FUNC(EMPTY) {
  const VlItem* p = vl_param(1, VL_IT_ANY);
  bool empty = true;
  if (p) {
    VlType t = p->type;
    if (t & VL_IT_STRING) {
      for (uint32_t i = 0; i < p->n32 && empty; ++i) empty = isBlank(p->u.str.text[i]);
    } else if (t & VL_IT_INTEGER) {
      empty = p->u.i32 == 0;
    } else if (t & VL_IT_LONG) {
      empty = p->u.i64 == 0;
    } else if (t & VL_IT_DOUBLE) {
      empty = p->u.dbl == 0.0;
    } else if (t & (VL_IT_DATE | VL_IT_LOGICAL)) {
      empty = p->u.i32 == 0;
    } else if (t & VL_IT_POINTER) {
      empty = p->u.ptr == nullptr;
    } else if (t & VL_IT_ARRAY) {
      empty = vl_arrayLen(p) == 0;
    } else if (t & VL_IT_HASH) {
      empty = vl_hashLen(p) == 0;
    } else if (t & VL_IT_BLOCK) {
      empty = false;
    }
  }
  vl_retl(empty);
}

VL_FUNC(VALTYPE) { vl_retc(vl_itemTypeStr(vl_param(1, VL_IT_ANY))); }

// WORD(n): the number as a 32-bit integer.
VL_FUNC(WORD) {
  const VlItem* n = numArg(1);
  if (!n) {
    vl_errRT_BASE(VL_EG_ARG, 1091, nullptr, "WORD", VL_ERR_ARGS_BASEPARAMS);
    return;
  }
  vl_retni(vl_itemGetNI(n));
}

VL_FUNC(VL_ISNIL) {
  const VlItem* p = vl_param(1, VL_IT_ANY);
  vl_retl(!p || VL_IS_NIL(p));
}

VL_FUNC(VL_ISSTRING) {
  const VlItem* p = vl_param(1, VL_IT_ANY);
  vl_retl(p && VL_IS_STRING(p) && !VL_IS_MEMO(p));
}

VL_FUNC(VL_ISNUMERIC) {
  const VlItem* p = vl_param(1, VL_IT_ANY);
  vl_retl(p && VL_IS_NUMERIC(p));
}

VL_FUNC(VL_ISLOGICAL) {
  const VlItem* p = vl_param(1, VL_IT_ANY);
  vl_retl(p && VL_IS_LOGICAL(p));
}

VL_FUNC(VL_ISBLOCK) {
  const VlItem* p = vl_param(1, VL_IT_ANY);
  vl_retl(p && VL_IS_BLOCK(p));
}

VL_FUNC(VL_ISPOINTER) {
  const VlItem* p = vl_param(1, VL_IT_ANY);
  vl_retl(p && VL_IS_POINTER(p));
}

VL_FUNC(VL_ISARRAY) {
  const VlItem* p = vl_param(1, VL_IT_ANY);
  vl_retl(p && VL_IS_ARRAY(p) && !vl_arrayIsObject(p));
}

VL_FUNC(VL_ISOBJECT) {
  const VlItem* p = vl_param(1, VL_IT_ANY);
  vl_retl(p && VL_IS_ARRAY(p) && vl_arrayIsObject(p));
}

// VL_ISNULL(string | array | hash): true when it has nothing in it.
VL_FUNC(VL_ISNULL) {
  const VlItem* p = vl_param(1, VL_IT_ANY);
  if (p && VL_IS_STRING(p)) return vl_retl(p->n32 == 0);
  if (p && VL_IS_ARRAY(p)) return vl_retl(vl_arrayLen(p) == 0);
  if (p && VL_IS_HASH(p)) return vl_retl(vl_hashLen(p) == 0);
  argError(1111, "VL_ISNULL");
}

VL_NATIVE_MODULE(strings, VL_FUNCENTRY(LEN), VL_FUNCENTRY(AT), VL_FUNCENTRY(SUBSTR), VL_FUNCENTRY(LEFT),
                 VL_FUNCENTRY(RIGHT), VL_FUNCENTRY(UPPER), VL_FUNCENTRY(LOWER), VL_FUNCENTRY(PADR), VL_FUNCENTRY(PADL),
                 VL_FUNCENTRY(PADC), VL_FUNCENTRY(LTRIM), VL_FUNCENTRY(RTRIM), VL_FUNCENTRY(TRIM),
                 VL_FUNCENTRY(ALLTRIM), VL_FUNCENTRY(STRTRAN), VL_FUNCENTRY(STUFF), VL_FUNCENTRY(STRDEL),
                 VL_FUNCENTRY(REPLICATE), VL_FUNCENTRY(SPACE), VL_FUNCENTRY(CHR), VL_FUNCENTRY(ASC),
                 VL_FUNCENTRY(ISALPHA), VL_FUNCENTRY(ISDIGIT), VL_FUNCENTRY(EMPTY), VL_FUNCENTRY(VALTYPE),
                 VL_FUNCENTRY(WORD), VL_FUNCENTRY(VL_ISNIL), VL_FUNCENTRY(VL_ISSTRING), VL_FUNCENTRY(VL_ISNUMERIC),
                 VL_FUNCENTRY(VL_ISLOGICAL), VL_FUNCENTRY(VL_ISBLOCK), VL_FUNCENTRY(VL_ISPOINTER),
                 VL_FUNCENTRY(VL_ISARRAY), VL_FUNCENTRY(VL_ISOBJECT), VL_FUNCENTRY(VL_ISNULL));
