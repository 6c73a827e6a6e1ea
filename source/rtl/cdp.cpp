// Code pages: the registry (64 slots, the built-in "EN" page current from start-up), the tables
// derived from a page's letter strings, case conversion, translation and collation.
#include "cdp.h"

#include <cstring>

#include "../vm/item.h"
#include "set.h"

namespace {

constexpr char ACCENT_MARK = '~';

// Fills the derived tables; false when the letter strings do not pair up. ASCII letters and
// digits are classified and converted as usual unless the page's own letters say otherwise.
constexpr bool derive(VlCodePage& cdp) {
  for (int c = 0; c < 256; ++c) {
    auto b = static_cast<uint8_t>(c);
    bool up = c >= 'A' && c <= 'Z', low = c >= 'a' && c <= 'z';
    cdp.weight[c] = 0;
    cdp.accent[c] = 0;
    cdp.toUpper[c] = low ? static_cast<uint8_t>(c - 'a' + 'A') : b;
    cdp.toLower[c] = up ? static_cast<uint8_t>(c - 'A' + 'a') : b;
    cdp.flags[c] = static_cast<uint8_t>((up ? VL_CDP_ALPHA | VL_CDP_UPPER : 0) | (low ? VL_CDP_ALPHA | VL_CDP_LOWER : 0) |
                                        (c >= '0' && c <= '9' ? VL_CDP_DIGIT : 0));
  }
  const char* up = cdp.upper ? cdp.upper : "";
  const char* low = cdp.lower ? cdp.lower : "";
  // Walk both strings letter by letter; weights count upper-case letters first, then lower-case.
  auto count = [](const char* s) {
    int n = 0;
    for (; *s; ++s) {
      if (*s == ACCENT_MARK) {
        if (!s[1] || s[1] == ACCENT_MARK) return -1;
        continue;
      }
      ++n;
    }
    return n;
  };
  int nUp = count(up), nLow = count(low);
  if (nUp < 0 || nLow < 0 || nUp != nLow) return false;
  cdp.letters = nUp;
  if (nUp == 0) return true;
  uint8_t upperAt[256] = {}, lowerAt[256] = {};
  auto assign = [&](const char* s, uint16_t base, uint8_t* at, uint8_t flag) {
    uint16_t weight = base;
    uint8_t accent = 0;
    int index = 0;
    bool first = true;
    for (; *s; ++s) {
      bool accented = *s == ACCENT_MARK;
      if (accented) ++s;
      auto c = static_cast<uint8_t>(*s);
      if (accented && !first) {
        ++accent;
      } else {
        ++weight;
        accent = 0;
      }
      first = false;
      cdp.weight[c] = weight;
      cdp.accent[c] = accent;
      cdp.flags[c] = static_cast<uint8_t>((cdp.flags[c] & VL_CDP_DIGIT) | VL_CDP_ALPHA | flag);
      at[index++] = c;
    }
    return weight;
  };
  uint16_t top = assign(up, 0, upperAt, VL_CDP_UPPER);
  assign(low, top, lowerAt, VL_CDP_LOWER);
  for (int i = 0; i < nUp; ++i) {
    cdp.toLower[upperAt[i]] = lowerAt[i];
    cdp.toUpper[lowerAt[i]] = upperAt[i];
  }
  return true;
}

constexpr VlCodePage makeEnglish() {
  VlCodePage cdp{"EN", "cp437", "", "", 0, {}, {}, {}, {}, {}};
  derive(cdp);
  return cdp;
}

// Constant-initialised: the page and the registry are usable before any constructor runs.
constinit VlCodePage s_english = makeEnglish();
constinit const VlCodePage* s_pages[VL_CDP_MAX_PAGES] = {&s_english};
constinit const VlCodePage* s_current = &s_english;

inline int sign(int v) { return (v > 0) - (v < 0); }

int cmpLetters(const VlCodePage* cdp, const unsigned char* a, const unsigned char* b, size_t n) {
  int accentDiff = 0;
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = a[i], y = b[i];
    if (x == y) continue;
    uint16_t wx = cdp->weight[x], wy = cdp->weight[y];
    if (!wx || !wy) return x < y ? -1 : 1;
    if (wx != wy) return wx < wy ? -1 : 1;
    // Accented forms of one letter: decided only when nothing else differs.
    if (!accentDiff) accentDiff = sign(static_cast<int>(cdp->accent[x]) - static_cast<int>(cdp->accent[y]));
  }
  return accentDiff;
}

}  // namespace

bool vl_cdpRegister(VlCodePage* cdp) {
  if (!cdp || !cdp->id || !derive(*cdp)) return false;
  int freeSlot = -1;
  for (int i = 0; i < VL_CDP_MAX_PAGES; ++i) {
    if (s_pages[i] && std::strcmp(s_pages[i]->id, cdp->id) == 0) {
      if (s_current == s_pages[i]) s_current = cdp;
      s_pages[i] = cdp;
      return true;
    }
    if (!s_pages[i] && freeSlot < 0) freeSlot = i;
  }
  if (freeSlot < 0) return false;
  s_pages[freeSlot] = cdp;
  return true;
}

const VlCodePage* vl_cdpFind(const char* id) {
  if (!id) return nullptr;
  for (const VlCodePage* cdp : s_pages)
    if (cdp && std::strcmp(cdp->id, id) == 0) return cdp;
  return nullptr;
}

const VlCodePage* vl_cdpSelect(const VlCodePage* cdp) {
  const VlCodePage* previous = s_current;
  if (cdp) s_current = cdp;
  return previous;
}

const VlCodePage* vl_cdpCurrent() { return s_current; }

void vl_cdpReleaseAll() {
  // Pages are owned by whoever registered them; only the registry is emptied. The built-in page
  // stays, so that late messages still convert case.
  for (auto& slot : s_pages) slot = nullptr;
  s_pages[0] = &s_english;
  s_current = &s_english;
}

void vl_cdpUpperN(const VlCodePage* cdp, char* dst, const char* src, size_t len) {
  for (size_t i = 0; i < len; ++i) dst[i] = static_cast<char>(cdp->toUpper[static_cast<unsigned char>(src[i])]);
}

void vl_cdpLowerN(const VlCodePage* cdp, char* dst, const char* src, size_t len) {
  for (size_t i = 0; i < len; ++i) dst[i] = static_cast<char>(cdp->toLower[static_cast<unsigned char>(src[i])]);
}

void vl_cdpTranslate(char* text, size_t len, const VlCodePage* from, const VlCodePage* to) {
  if (!from || !to || from == to || from->letters != to->letters || from->letters == 0) return;
  // Position of each letter in the source page's strings, then the letter there in the target.
  uint8_t map[256];
  for (int c = 0; c < 256; ++c) map[c] = static_cast<uint8_t>(c);
  auto letters = [](const char* s, uint8_t* out) {
    int n = 0;
    for (; s && *s; ++s)
      if (*s != ACCENT_MARK) out[n++] = static_cast<uint8_t>(*s);
  };
  uint8_t fromUp[256], fromLow[256], toUp[256], toLow[256];
  letters(from->upper, fromUp);
  letters(from->lower, fromLow);
  letters(to->upper, toUp);
  letters(to->lower, toLow);
  for (int i = 0; i < from->letters; ++i) {
    map[fromUp[i]] = toUp[i];
    map[fromLow[i]] = toLow[i];
  }
  for (size_t i = 0; i < len; ++i) text[i] = static_cast<char>(map[static_cast<unsigned char>(text[i])]);
}

int vl_cdpCmpN(const VlCodePage* cdp, const char* a, const char* b, size_t n) {
  if (!cdp || cdp->letters == 0) {
    int r = std::memcmp(a, b, n);
    return sign(r);
  }
  return cmpLetters(cdp, reinterpret_cast<const unsigned char*>(a), reinterpret_cast<const unsigned char*>(b), n);
}

int vl_cdpStrCmp(const char* a, size_t alen, const char* b, size_t blen, bool forceExact) {
  bool exact = forceExact || vl_set.exact;
  if (vl_set.exact && !forceExact) {
    while (alen > 1 && a[alen - 1] == ' ') --alen;
    while (blen > 1 && b[blen - 1] == ' ') --blen;
  }
  size_t common = alen < blen ? alen : blen;
  if (common) {
    int r = vl_cdpCmpN(s_current, a, b, common);
    if (r) return r;
  }
  if (!exact) return alen >= blen ? 0 : -1;
  if (alen == blen) return 0;
  return alen < blen ? -1 : 1;
}

int vl_itemStrCmp(const VlItem* a, const VlItem* b, bool forceExact) {
  return vl_cdpStrCmp(a->u.str.text, a->n32, b->u.str.text, b->n32, forceExact);
}
