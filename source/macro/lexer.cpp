// The lexer: turns source text into tokens; see lexer.h for the context rules.
#include "lexer.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace {

bool isIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool isIdentChar(char c) { return isIdentStart(c) || (c >= '0' && c <= '9'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsUpper(const char* p, size_t n, const char* word) {
  size_t wl = std::strlen(word);
  if (n != wl) return false;
  for (size_t i = 0; i < n; ++i)
    if (upper(p[i]) != word[i]) return false;
  return true;
}

std::string printable(const char* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n && s.size() < 40; ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    if (c >= 32 && c < 127) {
      s += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      s += buf;
    }
  }
  return s;
}

// The 64 reserved function names; an abbreviation of four or more characters means the first
// name it begins in this order.
const char* const kReserved[] = {
    "AADD",     "ABS",       "ASC",     "AT",       "BOF",    "BREAK",    "CDOW",     "CHR",   "CMONTH",
    "COL",      "CTOD",      "DATE",    "DAY",      "DELETED", "DEVPOS",  "DOW",      "DTOC",  "DTOS",
    "EMPTY",    "EOF",       "EXP",     "FCOUNT",   "FIELDNAME", "FLOCK", "FOUND",    "INKEY", "INT",
    "LASTREC",  "LEFT",      "LEN",     "LOCK",     "LOG",    "LOWER",    "LTRIM",    "MAX",   "MIN",
    "MONTH",    "PCOL",      "PCOUNT",  "PROW",     "QSELF",  "RECCOUNT", "RECNO",    "REPLICATE", "RLOCK",
    "ROUND",    "ROW",       "RTRIM",   "SECONDS",  "SELECT", "SETPOS",   "SETPOSBS", "SPACE", "SQRT",
    "STR",      "SUBSTR",    "TIME",    "TRANSFORM", "TRIM",  "TYPE",     "UPPER",    "VAL",   "WORD",
    "YEAR",
};
static_assert(sizeof(kReserved) / sizeof(kReserved[0]) == 64, "64 reserved names");

}  // namespace

const char* vl_macroReservedName(const char* name) {
  size_t n = std::strlen(name);
  for (const char* r : kReserved)
    if (std::strcmp(r, name) == 0) return r;
  if (n < 4) return nullptr;
  for (const char* r : kReserved)
    if (std::strncmp(r, name, n) == 0) return r;
  return nullptr;
}

const char* vl_tokName(VlTok kind) {
  switch (kind) {
    case VlTok::End: return "end of text";
    case VlTok::Newline: return "end of line";
    case VlTok::Semicolon: return "';'";
    case VlTok::Invalid: return "invalid text";
    case VlTok::Ident: return "identifier";
    case VlTok::Number: return "number";
    case VlTok::String: return "string";
    case VlTok::MacroVar: return "macro variable";
    case VlTok::MacroText: return "macro text";
    case VlTok::MacroOpen: return "'&('";
    case VlTok::Nil: return "NIL";
    case VlTok::True: return "'.T.'";
    case VlTok::False: return "'.F.'";
    case VlTok::And: return "'.AND.'";
    case VlTok::Or: return "'.OR.'";
    case VlTok::Not: return "'.NOT.'";
    case VlTok::Assign: return "':='";
    case VlTok::PlusEq: return "'+='";
    case VlTok::MinusEq: return "'-='";
    case VlTok::MultEq: return "'*='";
    case VlTok::DivEq: return "'/='";
    case VlTok::ModEq: return "'%='";
    case VlTok::PowEq: return "'^='";
    case VlTok::Eq: return "'='";
    case VlTok::ExactEq: return "'=='";
    case VlTok::Lt: return "'<'";
    case VlTok::Gt: return "'>'";
    case VlTok::Le: return "'<='";
    case VlTok::Ge: return "'>='";
    case VlTok::Ne: return "'!='";
    case VlTok::Contains: return "'$'";
    case VlTok::Like: return "LIKE";
    case VlTok::Has: return "HAS";
    case VlTok::Plus: return "'+'";
    case VlTok::Minus: return "'-'";
    case VlTok::Mult: return "'*'";
    case VlTok::Div: return "'/'";
    case VlTok::Mod: return "'%'";
    case VlTok::Power: return "'^'";
    case VlTok::Inc: return "'++'";
    case VlTok::Dec: return "'--'";
    case VlTok::BitAnd: return "'&'";
    case VlTok::BitOr: return "'|'";
    case VlTok::BitXor: return "'^^'";
    case VlTok::Shr: return "'>>'";
    case VlTok::Shl: return "'<<'";
    case VlTok::Alias: return "'->'";
    case VlTok::Colon: return "':'";
    case VlTok::HashPair: return "'=>'";
    case VlTok::LParen: return "'('";
    case VlTok::RParen: return "')'";
    case VlTok::LBracket: return "'['";
    case VlTok::RBracket: return "']'";
    case VlTok::LBrace: return "'{'";
    case VlTok::RBrace: return "'}'";
    case VlTok::Comma: return "','";
    case VlTok::At: return "'@'";
    case VlTok::KwIif: return "IIF";
    case VlTok::KwField: return "FIELD";
    case VlTok::KwQself: return "QSELF";
    case VlTok::Question: return "'?'";
    case VlTok::DoubleQuestion: return "'?" "?'";
  }
  return "token";
}

VlLexer::VlLexer(const char* text, size_t len, Mode mode, VlArena& arena, VlDiagnostics& diag)
    : m_text(text), m_len(len), m_mode(mode), m_arena(arena), m_diag(diag) {
  // A source file saved with a UTF-8 byte-order mark.
  if (mode == Module && len >= 3 && !std::memcmp(text, "\xEF\xBB\xBF", 3)) m_pos = 3;
}

void VlLexer::advance(size_t n) {
  for (size_t i = 0; i < n && m_pos < m_len; ++i) {
    if (m_text[m_pos] == '\n') {
      ++m_line;
      m_col = 1;
    } else {
      ++m_col;
    }
    ++m_pos;
  }
}

void VlLexer::skipToLineEnd() {
  while (m_pos < m_len && m_text[m_pos] != '\n') advance();
}

// After ";": only blanks and comments up to the line end make it a line continuation.
bool VlLexer::continuationFollows() const {
  size_t p = m_pos + 1;
  while (p < m_len) {
    char c = m_text[p];
    if (isBlank(c)) {
      ++p;
    } else if (c == '\n') {
      return true;
    } else if ((c == '/' && p + 1 < m_len && m_text[p + 1] == '/') ||
               (c == '&' && p + 1 < m_len && m_text[p + 1] == '&')) {
      return true;
    } else if (c == '/' && p + 1 < m_len && m_text[p + 1] == '*') {
      const char* close = nullptr;
      for (size_t q = p + 2; q + 1 < m_len; ++q)
        if (m_text[q] == '*' && m_text[q + 1] == '/') {
          close = m_text + q;
          break;
        }
      if (!close) return true;
      p = static_cast<size_t>(close - m_text) + 2;
    } else {
      return false;
    }
  }
  return true;
}

// Skips blanks, comments and line continuations. Returns false when a line break (or, in macro
// mode, the end of the expression) was reached instead of a token.
bool VlLexer::skipBlanksAndComments() {
  for (;;) {
    while (m_pos < m_len && isBlank(m_text[m_pos])) advance();
    if (m_pos >= m_len) return true;
    char c = m_text[m_pos];
    if (c == '\n') return false;
    if (m_mode == Macro) return true;
    char d = at(1);
    if ((c == '/' && d == '/') || (c == '&' && d == '&') || (c == '*' && m_lineStart)) {
      skipToLineEnd();
      continue;
    }
    if (c == '/' && d == '*') {
      int line = m_line, col = m_col;
      advance(2);
      while (m_pos < m_len && !(m_text[m_pos] == '*' && at(1) == '/')) advance();
      if (m_pos >= m_len) {
        m_diag.error(line, col, "unterminated comment");
        return true;
      }
      advance(2);
      continue;
    }
    if (c == ';' && continuationFollows()) {
      advance();
      // Everything up to and including the line break belongs to the continuation.
      for (;;) {
        while (m_pos < m_len && isBlank(m_text[m_pos])) advance();
        if (m_pos >= m_len) break;
        if (m_text[m_pos] == '\n') {
          advance();
          break;
        }
        if (m_text[m_pos] == '/' && at(1) == '*') {
          advance(2);
          while (m_pos < m_len && !(m_text[m_pos] == '*' && at(1) == '/')) advance();
          advance(2);
          continue;
        }
        skipToLineEnd();
      }
      continue;
    }
    return true;
  }
}

bool VlLexer::afterOperand() const {
  switch (m_prev) {
    case VlTok::Ident:
    case VlTok::Number:
    case VlTok::String:
    case VlTok::MacroVar:
    case VlTok::MacroText:
    case VlTok::RParen:
    case VlTok::RBracket:
    case VlTok::RBrace:
      return true;
    default:
      return false;
  }
}

VlToken VlLexer::make(VlTok kind, uint32_t start, int line, int col) {
  VlToken t;
  t.kind = kind;
  t.pos = start;
  t.end = static_cast<uint32_t>(m_pos);
  t.line = line;
  t.col = col;
  t.endLine = m_line;
  t.endCol = m_col;
  return t;
}

VlToken VlLexer::invalid(uint32_t start, int line, int col, const std::string& message) {
  m_diag.error(line, col, message);
  return make(VlTok::Invalid, start, line, col);
}

const char* VlLexer::upperName(const char* p, size_t n, uint32_t* outLen) {
  if (n > kMaxName) n = kMaxName;
  char* s = static_cast<char*>(m_arena.alloc(n + 1));
  for (size_t i = 0; i < n; ++i) s[i] = upper(p[i]);
  s[n] = '\0';
  *outLen = static_cast<uint32_t>(n);
  return s;
}

VlToken VlLexer::next() {
  if (m_pendingColon) {
    m_pendingColon = false;
    uint32_t start = static_cast<uint32_t>(m_pos);
    int line = m_line, col = m_col;
    advance();
    m_prev = VlTok::Colon;
    return make(VlTok::Colon, start, line, col);
  }
  for (;;) {
    if (skipBlanksAndComments()) break;
    // A line break.
    uint32_t start = static_cast<uint32_t>(m_pos);
    int line = m_line, col = m_col;
    if (m_mode == Macro) {
      while (m_pos < m_len && (isBlank(m_text[m_pos]) || m_text[m_pos] == '\n')) advance();
      if (m_pos < m_len) {
        m_diag.error(m_line, m_col, "text after a line break");
        m_pos = m_len;
      }
      m_prev = VlTok::End;
      return make(VlTok::End, start, line, col);
    }
    advance();
    m_lineStart = true;
    if (m_prev != VlTok::Newline) {
      m_prev = VlTok::Newline;
      return make(VlTok::Newline, start, line, col);
    }
  }

  uint32_t start = static_cast<uint32_t>(m_pos);
  int line = m_line, col = m_col;
  if (m_pos >= m_len) {
    VlToken t = make(VlTok::End, start, line, col);
    m_prev = VlTok::End;
    return t;
  }
  bool lineStart = m_lineStart;
  m_lineStart = false;
  char c = m_text[m_pos];
  char d = at(1);
  VlToken t;
  auto op = [&](VlTok kind, size_t n) {
    advance(n);
    return make(kind, start, line, col);
  };

  if (isDigit(c) || (c == '.' && isDigit(d))) {
    t = lexNumber(start, line, col);
  } else if (isIdentStart(c)) {
    t = lexWord(start, line, col);
  } else {
    switch (c) {
      case '"': t = lexString('"', start, line, col); break;
      case '\'': t = lexString('\'', start, line, col); break;
      case '[':
        if (afterOperand()) t = op(VlTok::LBracket, 1);
        else t = lexString(']', start, line, col);
        break;
      case '.': t = lexDot(start, line, col); break;
      case '&': t = lexAmpersand(start, line, col); break;
      case ':':
        if (d == '=') {
          t = op(VlTok::Assign, 2);
        } else if (d == ':') {
          advance();
          t = make(VlTok::Ident, start, line, col);
          t.text = "SELF";
          t.len = 4;
          m_pendingColon = true;
        } else {
          t = op(VlTok::Colon, 1);
        }
        break;
      case '+': t = d == '=' ? op(VlTok::PlusEq, 2) : d == '+' ? op(VlTok::Inc, 2) : op(VlTok::Plus, 1); break;
      case '-':
        t = d == '=' ? op(VlTok::MinusEq, 2) : d == '-' ? op(VlTok::Dec, 2) : d == '>' ? op(VlTok::Alias, 2) : op(VlTok::Minus, 1);
        break;
      case '*': t = d == '=' ? op(VlTok::MultEq, 2) : d == '*' ? op(VlTok::Power, 2) : op(VlTok::Mult, 1); break;
      case '/': t = d == '=' ? op(VlTok::DivEq, 2) : op(VlTok::Div, 1); break;
      case '%': t = d == '=' ? op(VlTok::ModEq, 2) : op(VlTok::Mod, 1); break;
      case '^': t = d == '=' ? op(VlTok::PowEq, 2) : d == '^' ? op(VlTok::BitXor, 2) : op(VlTok::Power, 1); break;
      case '=': t = d == '=' ? op(VlTok::ExactEq, 2) : d == '>' ? op(VlTok::HashPair, 2) : op(VlTok::Eq, 1); break;
      case '!': t = d == '=' ? op(VlTok::Ne, 2) : op(VlTok::Not, 1); break;
      case '<':
        t = d == '=' ? op(VlTok::Le, 2) : d == '>' ? op(VlTok::Ne, 2) : d == '<' ? op(VlTok::Shl, 2) : op(VlTok::Lt, 1);
        break;
      case '>': t = d == '=' ? op(VlTok::Ge, 2) : d == '>' ? op(VlTok::Shr, 2) : op(VlTok::Gt, 1); break;
      case '#':
        if (m_mode == Module && lineStart && isIdentStart(d)) {
          skipToLineEnd();
          t = invalid(start, line, col, "preprocessor directives are not supported");
        } else {
          t = op(VlTok::Ne, 1);
        }
        break;
      case '$': t = op(VlTok::Contains, 1); break;
      case '|': t = op(VlTok::BitOr, 1); break;
      case '(': t = op(VlTok::LParen, 1); break;
      case ')': t = op(VlTok::RParen, 1); break;
      case ']': t = op(VlTok::RBracket, 1); break;
      case '{': t = op(VlTok::LBrace, 1); break;
      case '}': t = op(VlTok::RBrace, 1); break;
      case ',': t = op(VlTok::Comma, 1); break;
      case '@': t = op(VlTok::At, 1); break;
      case ';':
        if (m_mode == Module) {
          t = op(VlTok::Semicolon, 1);
        } else {
          advance();
          t = invalid(start, line, col, "syntax error at ';'");
        }
        break;
      case '?':
        if (m_mode == Module) {
          t = d == '?' ? op(VlTok::DoubleQuestion, 2) : op(VlTok::Question, 1);
        } else {
          advance();
          t = invalid(start, line, col, "syntax error at '?'");
        }
        break;
      default:
        advance();
        t = invalid(start, line, col, "invalid character '" + printable(&c, 1) + "'");
        break;
    }
  }
  m_prev = t.kind;
  return t;
}

VlToken VlLexer::lexNumber(uint32_t start, int line, int col) {
  const char* p = m_text + m_pos;
  size_t n = 0;
  VlToken t;
  bool isHex = p[0] == '0' && (at(1) == 'x' || at(1) == 'X') && isHexDigit(at(2));
  if (isHex) {
    n = 2;
    uint64_t v = 0;
    bool overflow = false;
    while (m_pos + n < m_len && isHexDigit(p[n])) {
      char c = p[n];
      int digit = isDigit(c) ? c - '0' : (upper(c) - 'A' + 10);
      if (v >> 60) overflow = true;
      v = (v << 4) | static_cast<uint64_t>(digit);
      ++n;
    }
    advance(n);
    if (m_pos < m_len && isIdentChar(m_text[m_pos])) {
      while (m_pos < m_len && isIdentChar(m_text[m_pos])) advance();
      return invalid(start, line, col, "invalid number '" + printable(m_text + start, m_pos - start) + "'");
    }
    if (overflow) return invalid(start, line, col, "number too large '" + printable(p, n) + "'");
    t = make(VlTok::Number, start, line, col);
    t.ival = static_cast<int64_t>(v);
    return t;
  }
  size_t intDigits = 0;
  while (m_pos + n < m_len && isDigit(p[n])) ++n;
  intDigits = n;
  size_t fracDigits = 0;
  bool fraction = m_pos + n + 1 < m_len && p[n] == '.' && isDigit(p[n + 1]);
  if (fraction) {
    ++n;
    while (m_pos + n < m_len && isDigit(p[n])) {
      ++n;
      ++fracDigits;
    }
  }
  advance(n);
  if (m_pos < m_len && isIdentChar(m_text[m_pos])) {
    while (m_pos < m_len && isIdentChar(m_text[m_pos])) advance();
    return invalid(start, line, col, "invalid number '" + printable(m_text + start, m_pos - start) + "'");
  }
  t = make(VlTok::Number, start, line, col);
  if (!fraction) {
    // Integers that do not fit 64 bits become doubles.
    uint64_t v = 0;
    bool overflow = false;
    for (size_t i = 0; i < intDigits; ++i) {
      uint64_t digit = static_cast<uint64_t>(p[i] - '0');
      if (v > (static_cast<uint64_t>(INT64_MAX) - digit) / 10) {
        overflow = true;
        break;
      }
      v = v * 10 + digit;
    }
    if (!overflow) {
      t.ival = static_cast<int64_t>(v);
      return t;
    }
  }
  double dv = 0;
  std::from_chars(p, p + n, dv);
  t.isDouble = true;
  t.dval = dv;
  size_t width = intDigits ? intDigits : 1;
  t.width = width <= 99 ? static_cast<uint8_t>(width) : 255;
  t.dec = static_cast<uint8_t>(fracDigits <= 99 ? fracDigits : 99);
  return t;
}

VlToken VlLexer::lexWord(uint32_t start, int line, int col) {
  while (m_pos < m_len && isIdentChar(m_text[m_pos])) advance();
  size_t wordEnd = m_pos;
  // A word continued by "&name" is macro text, substituted and used as a name at run time.
  bool macroText = false;
  while (m_pos + 1 < m_len && m_text[m_pos] == '&' && isIdentStart(m_text[m_pos + 1])) {
    macroText = true;
    advance();
    while (m_pos < m_len && isIdentChar(m_text[m_pos])) advance();
    if (m_pos < m_len && m_text[m_pos] == '.') advance();
    while (m_pos < m_len && isIdentChar(m_text[m_pos])) advance();
  }
  if (macroText) {
    VlToken t = make(VlTok::MacroText, start, line, col);
    t.text = m_arena.copy(m_text + start, m_pos - start);
    t.len = static_cast<uint32_t>(m_pos - start);
    return t;
  }
  const char* p = m_text + start;
  size_t n = wordEnd - start;
  VlTok kind = VlTok::Ident;
  if (equalsUpper(p, n, "NIL")) kind = VlTok::Nil;
  else if (equalsUpper(p, n, "IIF") || equalsUpper(p, n, "IF")) kind = VlTok::KwIif;
  else if (equalsUpper(p, n, "FIELD") || equalsUpper(p, n, "_FIELD")) kind = VlTok::KwField;
  else if (equalsUpper(p, n, "QSELF")) kind = VlTok::KwQself;
  else if (afterOperand()) {
    if (equalsUpper(p, n, "IN")) kind = VlTok::Contains;
    else if (equalsUpper(p, n, "LIKE")) kind = VlTok::Like;
    else if (equalsUpper(p, n, "HAS")) kind = VlTok::Has;
  }
  if (m_prev == VlTok::KwIif || m_prev == VlTok::KwField || m_prev == VlTok::KwQself) {
    if (equalsUpper(p, n, "IN")) kind = VlTok::Contains;
    else if (equalsUpper(p, n, "LIKE")) kind = VlTok::Like;
    else if (equalsUpper(p, n, "HAS")) kind = VlTok::Has;
  }
  VlToken t = make(kind, start, line, col);
  t.text = upperName(p, n, &t.len);
  return t;
}

VlToken VlLexer::lexString(char close, uint32_t start, int line, int col) {
  advance();
  size_t from = m_pos;
  while (m_pos < m_len && m_text[m_pos] != close && m_text[m_pos] != '\n') advance();
  if (m_pos >= m_len || m_text[m_pos] != close) return invalid(start, line, col, "unterminated string");
  size_t n = m_pos - from;
  advance();
  VlToken t = make(VlTok::String, start, line, col);
  t.text = m_arena.copy(m_text + from, n);
  t.len = static_cast<uint32_t>(n);
  return t;
}

VlToken VlLexer::lexDot(uint32_t start, int line, int col) {
  static const struct {
    const char* word;
    VlTok kind;
  } kDotted[] = {{"T", VlTok::True},  {"Y", VlTok::True}, {"F", VlTok::False}, {"N", VlTok::False},
                 {"AND", VlTok::And}, {"OR", VlTok::Or},  {"NOT", VlTok::Not}};
  size_t n = 1;
  while (m_pos + n < m_len && isIdentStart(m_text[m_pos + n])) ++n;
  if (m_pos + n < m_len && m_text[m_pos + n] == '.') {
    for (const auto& w : kDotted) {
      if (equalsUpper(m_text + m_pos + 1, n - 1, w.word)) {
        advance(n + 1);
        return make(w.kind, start, line, col);
      }
    }
  }
  advance();
  return invalid(start, line, col, "syntax error at '.'");
}

VlToken VlLexer::lexAmpersand(uint32_t start, int line, int col) {
  char d = at(1);
  if (afterOperand()) {
    advance();
    return make(VlTok::BitAnd, start, line, col);
  }
  if (d == '(') {
    advance(2);
    return make(VlTok::MacroOpen, start, line, col);
  }
  if (isIdentStart(d)) {
    advance();
    size_t nameStart = m_pos;
    while (m_pos < m_len && isIdentChar(m_text[m_pos])) advance();
    size_t nameEnd = m_pos;
    if (m_pos < m_len && m_text[m_pos] == '.') advance();
    bool more = m_pos < m_len && (isIdentChar(m_text[m_pos]) ||
                                  (m_text[m_pos] == '&' && m_pos + 1 < m_len && isIdentStart(m_text[m_pos + 1])));
    if (more) {
      // "&name.suffix" and "&a&b": macro text, substituted as a whole.
      while (m_pos < m_len) {
        if (isIdentChar(m_text[m_pos])) {
          advance();
        } else if (m_text[m_pos] == '&' && m_pos + 1 < m_len && isIdentStart(m_text[m_pos + 1])) {
          advance();
          while (m_pos < m_len && isIdentChar(m_text[m_pos])) advance();
          if (m_pos < m_len && m_text[m_pos] == '.') advance();
        } else {
          break;
        }
      }
      VlToken t = make(VlTok::MacroText, start, line, col);
      t.text = m_arena.copy(m_text + start, m_pos - start);
      t.len = static_cast<uint32_t>(m_pos - start);
      return t;
    }
    VlToken t = make(VlTok::MacroVar, start, line, col);
    t.text = upperName(m_text + nameStart, nameEnd - nameStart, &t.len);
    return t;
  }
  advance();
  if (d == '"' || d == '\'' || d == '[') return invalid(start, line, col, "'&' before a string");
  return invalid(start, line, col, "syntax error at '&'");
}

void VlLexer::seekAfter(const VlToken& tok) {
  m_pos = tok.end;
  m_line = tok.endLine;
  m_col = tok.endCol;
  m_prev = VlTok::Comma;
  m_lineStart = false;
  m_pendingColon = false;
}

void VlLexer::seekTo(const VlToken& tok) {
  m_pos = tok.pos;
  m_line = tok.line;
  m_col = tok.col;
  m_prev = VlTok::Comma;
  m_lineStart = false;
  m_pendingColon = false;
}
