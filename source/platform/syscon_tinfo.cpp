// The terminal database (terminfo through the tinfo library): output capabilities and the key
// sequences of the terminal named by $TERM. Modified keys follow the database's own names:
// kf13-kf24 are the shifted function keys, kf25-kf36 with Ctrl, kf37-kf48 with Ctrl and Shift,
// kf49-kf60 with Alt; the extended names kUP, kDN, ... take a suffix 2-8 for the modifiers
// (2 Shift, 3 Alt, 4 Alt+Shift, 5 Ctrl, 6 Ctrl+Shift, 7 Ctrl+Alt, 8 all three).
#include "syscon_tinfo.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "syscon_keys.h"

// Last: the database header defines macros named after every capability.
#include <curses.h>
#include <term.h>

namespace {

bool s_tried;
bool s_ok;

const char* str(const char* name) {
  char* s = tigetstr(const_cast<char*>(name));
  return (s && s != reinterpret_cast<char*>(-1)) ? s : nullptr;
}

std::string strOr(const char* name) {
  const char* s = str(name);
  return s ? s : "";
}

std::string param(const char* cap, int a, int b = 0) {
  const char* s = str(cap);
  if (!s) return "";
  const char* r = tiparm(s, a, b);
  return r ? r : "";
}

uint32_t modifierState(int suffix) {
  static const uint32_t kStates[] = {
      0,                                                    // 0 unused
      0,                                                    // 1 unused
      VL_CON_SHIFT,                                         // 2
      VL_CON_LEFT_ALT,                                      // 3
      VL_CON_LEFT_ALT | VL_CON_SHIFT,                       // 4
      VL_CON_LEFT_CTRL,                                     // 5
      VL_CON_LEFT_CTRL | VL_CON_SHIFT,                      // 6
      VL_CON_LEFT_CTRL | VL_CON_LEFT_ALT,                   // 7
      VL_CON_LEFT_CTRL | VL_CON_LEFT_ALT | VL_CON_SHIFT,    // 8
  };
  return kStates[suffix];
}

void add(VlKeyDecoder* keys, const char* cap, uint16_t vk, uint32_t state, uint8_t ch = 0) {
  if (const char* s = str(cap)) keys->addSequence(s, vk, state, ch);
}

}  // namespace

std::string VlTermCaps::cup(int row, int col) const { return param("cup", row, col); }
std::string VlTermCaps::setaf(int color) const { return param("setaf", color); }
std::string VlTermCaps::setab(int color) const { return param("setab", color); }
std::string VlTermCaps::indn(int n) const { return param("indn", n); }

bool VlTermCaps::parseCursorReport(const std::string& bytes, size_t* used, int* row, int* col) const {
  // Only the report form the database describes as "\E[%i%d;%dR" is understood.
  size_t start = bytes.find("\x1b[");
  if (start == std::string::npos) return false;
  size_t i = start + 2;
  int values[2] = {0, 0};
  for (int k = 0; k < 2; ++k) {
    size_t digits = 0;
    while (i < bytes.size() && bytes[i] >= '0' && bytes[i] <= '9' && digits < 5) {
      values[k] = values[k] * 10 + (bytes[i] - '0');
      ++i;
      ++digits;
    }
    if (!digits || i >= bytes.size()) return false;
    if (bytes[i] != (k == 0 ? ';' : 'R')) return false;
    ++i;
  }
  *used = i;
  *row = values[0] - 1;
  *col = values[1] - 1;
  return values[0] > 0 && values[1] > 0;
}

bool vl_tinfoLoad(int fd, VlTermCaps* caps) {
  if (!s_tried) {
    s_tried = true;
    const char* term = std::getenv("TERM");
    int err = 0;
    s_ok = term && *term && setupterm(term, fd, &err) == OK;
  }
  if (!s_ok) return false;
  caps->loaded = true;
  caps->hasCup = str("cup") != nullptr;
  caps->colors = tigetnum(const_cast<char*>("colors"));
  if (caps->colors < 0) caps->colors = 0;
  caps->autoMargins = tigetflag(const_cast<char*>("am")) > 0;
  caps->eatNewline = tigetflag(const_cast<char*>("xenl")) > 0;
  caps->sgr0 = strOr("sgr0");
  caps->bold = strOr("bold");
  caps->blink = strOr("blink");
  caps->civis = strOr("civis");
  caps->cnorm = strOr("cnorm");
  caps->cvvis = strOr("cvvis");
  caps->clear = strOr("clear");
  caps->smkx = strOr("smkx");
  caps->rmkx = strOr("rmkx");
  caps->ind = strOr("ind");
  caps->el = strOr("el");
  const char* u6 = str("u6");
  if (u6 && std::strcmp(u6, "\x1b[%i%d;%dR") == 0) {
    caps->cursorQuery = strOr("u7");
    caps->cursorReport = u6;
  }
  return caps->hasCup;
}

int vl_tinfoKeys(VlKeyDecoder* keys) {
  if (!s_ok) return 127;
  const uint32_t E = VL_CON_ENHANCED;
  add(keys, "kcuu1", VL_VK_UP, E);
  add(keys, "kcud1", VL_VK_DOWN, E);
  add(keys, "kcub1", VL_VK_LEFT, E);
  add(keys, "kcuf1", VL_VK_RIGHT, E);
  add(keys, "khome", VL_VK_HOME, E);
  add(keys, "kend", VL_VK_END, E);
  add(keys, "kpp", VL_VK_PRIOR, E);
  add(keys, "knp", VL_VK_NEXT, E);
  add(keys, "kich1", VL_VK_INSERT, E);
  add(keys, "kdch1", VL_VK_DELETE, E);
  add(keys, "kent", VL_VK_RETURN, E, '\r');
  add(keys, "kcbt", VL_VK_TAB, VL_CON_SHIFT, '\t');
  add(keys, "kri", VL_VK_UP, E | VL_CON_SHIFT);
  add(keys, "kind", VL_VK_DOWN, E | VL_CON_SHIFT);
  // Keypad corners and operators (application keypad mode).
  add(keys, "ka1", VL_VK_HOME, 0);
  add(keys, "ka3", VL_VK_PRIOR, 0);
  add(keys, "kc1", VL_VK_END, 0);
  add(keys, "kc3", VL_VK_NEXT, 0);
  add(keys, "kpADD", VL_VK_ADD, 0, '+');
  add(keys, "kpSUB", VL_VK_SUBTRACT, 0, '-');
  add(keys, "kpMUL", VL_VK_MULTIPLY, 0, '*');
  add(keys, "kpDIV", VL_VK_DIVIDE, E, '/');
  add(keys, "kpDOT", VL_VK_DECIMAL, 0, '.');
  add(keys, "kpZRO", '0', 0, '0');

  static const uint32_t kFnStates[] = {0, VL_CON_SHIFT, VL_CON_LEFT_CTRL, VL_CON_LEFT_CTRL | VL_CON_SHIFT,
                                       VL_CON_LEFT_ALT, VL_CON_LEFT_ALT | VL_CON_SHIFT};
  char name[16];
  for (int group = 0; group < 6; ++group) {
    for (int i = 0; i < 12; ++i) {
      std::snprintf(name, sizeof name, "kf%d", group * 12 + i + 1);
      add(keys, name, static_cast<uint16_t>(VL_VK_F1 + i), kFnStates[group]);
    }
  }

  static const struct {
    const char* base;
    uint16_t vk;
  } kModified[] = {{"UP", VL_VK_UP},     {"DN", VL_VK_DOWN},  {"LFT", VL_VK_LEFT}, {"RIT", VL_VK_RIGHT},
                   {"HOM", VL_VK_HOME},  {"END", VL_VK_END},  {"PRV", VL_VK_PRIOR}, {"NXT", VL_VK_NEXT},
                   {"IC", VL_VK_INSERT}, {"DC", VL_VK_DELETE}};
  for (const auto& m : kModified) {
    std::snprintf(name, sizeof name, "k%s", m.base);  // the shifted key has no suffix
    add(keys, name, m.vk, E | VL_CON_SHIFT);
    for (int suffix = 2; suffix <= 8; ++suffix) {
      std::snprintf(name, sizeof name, "k%s%d", m.base, suffix);
      add(keys, name, m.vk, E | modifierState(suffix));
    }
  }

  const char* kbs = str("kbs");
  return (kbs && kbs[0] && !kbs[1]) ? static_cast<unsigned char>(kbs[0]) : 127;
}
