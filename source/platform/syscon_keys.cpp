// The key decoder: bytes from a terminal or a pipe to key records.
//
// Order of the rules for the bytes at the front of the buffer:
//  1. a sequence of the table (the longest one that matches);
//  2. ESC followed by a key: that key with Alt; ESC alone (nothing follows in time): Esc;
//  3. ESC [ or ESC O that no table entry explains: a control sequence of unknown meaning,
//     dropped up to and including its final byte;
//  4. control bytes: Tab, Enter, Backspace, otherwise Ctrl with the letter;
//  5. UTF-8 characters converted to code page 437 (dropped when the page lacks them).
#include "syscon_keys.h"

#include <cstring>

VlConInput vl_keyRecord(uint16_t vk, uint8_t ch, uint32_t state) {
  VlConInput r{};
  r.type = VL_CON_KEY_EVENT;
  r.key.down = true;
  r.key.repeat = 1;
  r.key.vk = vk;
  r.key.ch = ch;
  r.key.state = state;
  return r;
}

void VlKeyDecoder::addSequence(const std::string& seq, uint16_t vk, uint32_t state, uint8_t ch) {
  if (seq.empty()) return;
  for (const Entry& e : m_table)
    if (e.seq == seq) return;  // the first meaning given wins
  m_table.push_back({seq, vk, state, ch});
}

void VlKeyDecoder::feed(const uint8_t* bytes, size_t n, uint64_t nowMs) {
  if (!n) return;
  if (m_pos >= m_buf.size()) {
    m_buf.clear();
    m_pos = 0;
    m_since = nowMs;
  }
  m_buf.insert(m_buf.end(), bytes, bytes + n);
}

VlKeyDecoder::Match VlKeyDecoder::matchTable(const uint8_t* p, size_t n, const Entry** entry) const {
  Match best = Match::None;
  size_t bestLen = 0;
  bool partial = false;
  for (const Entry& e : m_table) {
    size_t len = e.seq.size();
    if (len <= n) {
      if (len > bestLen && std::memcmp(p, e.seq.data(), len) == 0) {
        best = Match::Full;
        bestLen = len;
        *entry = &e;
      }
    } else if (std::memcmp(p, e.seq.data(), n) == 0) {
      partial = true;
    }
  }
  // A longer sequence may still be on its way: wait for it unless the caller settles.
  if (partial) return Match::Partial;
  return best;
}

namespace {

// Length of a UTF-8 sequence from its first byte; 0 for a byte that cannot start one.
size_t utf8Length(uint8_t b) {
  if (b < 0x80) return 1;
  if ((b & 0xE0) == 0xC0) return 2;
  if ((b & 0xF0) == 0xE0) return 3;
  if ((b & 0xF8) == 0xF0) return 4;
  return 0;
}

bool isContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

uint16_t vkOfPrintable(uint8_t ch) {
  if (ch >= 'a' && ch <= 'z') return static_cast<uint16_t>(ch - 'a' + 'A');
  if ((ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == ' ') return ch;
  if (ch == '/' || ch == '?') return VL_VK_OEM_2;
  return 0;
}

}  // namespace

size_t VlKeyDecoder::decodePlain(const uint8_t* p, size_t n, bool settle, VlConInput* rec, bool* drop) const {
  uint8_t b = p[0];
  if (b == '\t') {
    *rec = vl_keyRecord(VL_VK_TAB, '\t', 0);
    return 1;
  }
  if (b == '\r') {
    *rec = vl_keyRecord(VL_VK_RETURN, '\r', 0);
    return 1;
  }
  if (b == '\n') {
    if (m_lineInput) *rec = vl_keyRecord(VL_VK_RETURN, '\r', 0);
    else *rec = vl_keyRecord('J', '\n', VL_CON_LEFT_CTRL);
    return 1;
  }
  if (b == 127 || b == m_backspace) {
    *rec = vl_keyRecord(VL_VK_BACK, 8, 0);
    return 1;
  }
  if (b == 0) {
    *rec = vl_keyRecord(VL_VK_SPACE, ' ', VL_CON_LEFT_CTRL);
    return 1;
  }
  if (b < 32) {
    uint16_t vk = b <= 26 ? static_cast<uint16_t>('A' + b - 1) : uint16_t{0};
    *rec = vl_keyRecord(vk, b, VL_CON_LEFT_CTRL);
    return 1;
  }
  if (b < 128 || !m_utf8) {
    uint32_t state = (b >= 'A' && b <= 'Z') ? uint32_t{VL_CON_SHIFT} : 0u;
    *rec = vl_keyRecord(vkOfPrintable(b), b, state);
    return 1;
  }
  size_t len = utf8Length(b);
  if (len < 2) {
    *drop = true;
    return 1;
  }
  size_t have = 1;
  while (have < len && have < n && isContinuation(p[have])) ++have;
  if (have < len) {
    if (have < n || settle) {  // broken or cut short: the bytes so far mean nothing
      *drop = true;
      return have;
    }
    return 0;
  }
  uint32_t code = b & (0xFF >> (len + 1));
  for (size_t i = 1; i < len; ++i) code = (code << 6) | (p[i] & 0x3F);
  int ch = vl_cp437FromUnicode(code);
  if (ch < 128) {  // not in the page (or an overlong ASCII form)
    *drop = true;
    return len;
  }
  *rec = vl_keyRecord(0, static_cast<uint8_t>(ch), 0);
  return len;
}

size_t VlKeyDecoder::decodeOne(const uint8_t* p, size_t n, bool settle, VlConInput* rec, bool* drop) const {
  const Entry* e = nullptr;
  Match m = matchTable(p, n, &e);
  if (m == Match::Partial && !settle) return 0;
  if (m == Match::Partial) {
    // Settling a prefix: the longest full match inside it, if any, is the key.
    e = nullptr;
    for (const Entry& t : m_table)
      if (t.seq.size() <= n && std::memcmp(p, t.seq.data(), t.seq.size()) == 0 && (!e || t.seq.size() > e->seq.size()))
        e = &t;
    m = e ? Match::Full : Match::None;
  }
  if (m == Match::Full) {
    *rec = vl_keyRecord(e->vk, e->ch, e->state);
    return e->seq.size();
  }
  if (p[0] != 27) return decodePlain(p, n, settle, rec, drop);

  if (n == 1) {
    if (!settle) return 0;
    *rec = vl_keyRecord(VL_VK_ESCAPE, 27, 0);
    return 1;
  }
  // ESC [ and ESC O introduce control sequences; one the table does not know is dropped whole.
  if (p[1] == '[') {
    size_t i = 2;
    while (i < n && p[i] >= 0x20 && p[i] <= 0x3F) ++i;  // parameters and intermediates
    if (i == n) {
      if (!settle) return 0;
      *drop = true;
      return n;
    }
    *drop = true;
    return (p[i] >= 0x40 && p[i] <= 0x7E) ? i + 1 : i;
  }
  if (p[1] == 'O') {
    if (n == 2) {
      if (!settle) return 0;
      *rec = vl_keyRecord('O', 'O', VL_CON_LEFT_ALT | VL_CON_SHIFT);  // Alt+Shift+O, nothing followed
      return 2;
    }
    *drop = true;
    return 3;
  }
  // ESC and a key: the key with Alt.
  size_t used = decodeOne(p + 1, n - 1, settle, rec, drop);
  if (used == 0) return 0;
  if (!*drop) rec->key.state |= VL_CON_LEFT_ALT;
  return used + 1;
}

int VlKeyDecoder::decode(VlConInput* out, int max, uint64_t nowMs, bool final) {
  int count = 0;
  while (count < max && m_pos < m_buf.size()) {
    const uint8_t* p = m_buf.data() + m_pos;
    size_t n = m_buf.size() - m_pos;
    bool settle = final || nowMs >= m_since + ESCAPE_DELAY_MS;
    VlConInput rec{};
    bool drop = false;
    size_t used = decodeOne(p, n, settle, &rec, &drop);
    if (used == 0) break;
    // Line input: the LF of a CR LF pair belongs to the Enter of the CR.
    bool skip = m_lineInput && m_lastWasCr && p[0] == '\n';
    m_lastWasCr = !drop && p[0] == '\r' && used == 1;
    m_pos += used;
    m_since = nowMs;
    if (drop || skip) continue;
    out[count++] = rec;
  }
  if (m_pos >= m_buf.size()) {
    m_buf.clear();
    m_pos = 0;
  }
  return count;
}
