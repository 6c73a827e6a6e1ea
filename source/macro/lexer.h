// The lexer shared by the macro compiler (one expression, one line) and the module compiler
// (whole source files, where line breaks end statements and comments are skipped).
//
// Context-dependent tokens are decided by the previous token: after an operand, "[" opens an
// index, "&" is bit-and and IN / LIKE / HAS are operators; elsewhere "[" opens a string, "&"
// introduces a macro and those words are plain identifiers. The statement parser re-reads the
// token after a statement keyword with seekAfter() so that the keyword does not count as an
// operand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "arena.h"
#include "diag.h"

enum class VlTok : uint8_t {
  End,
  Newline,    // module mode: a line break that ends a statement
  Semicolon,  // module mode: statement separator within a line
  Invalid,    // a character or word that is no token (already reported)
  Ident,
  Number,
  String,
  MacroVar,   // &name or &name.
  MacroText,  // a word holding "&" other than at its start
  MacroOpen,  // "&(" : the value of a parenthesised expression compiled in place
  Nil,
  True,
  False,
  And,
  Or,
  Not,
  Assign,
  PlusEq,
  MinusEq,
  MultEq,
  DivEq,
  ModEq,
  PowEq,
  Eq,
  ExactEq,
  Lt,
  Gt,
  Le,
  Ge,
  Ne,
  Contains,  // $ and IN
  Like,
  Has,
  Plus,
  Minus,
  Mult,
  Div,
  Mod,
  Power,  // ^ and **
  Inc,
  Dec,
  BitAnd,
  BitOr,
  BitXor,
  Shr,
  Shl,
  Alias,  // ->
  Colon,
  HashPair,  // =>
  LParen,
  RParen,
  LBracket,
  RBracket,
  LBrace,
  RBrace,
  Comma,
  At,
  KwIif,    // IIF and IF
  KwField,  // FIELD and _FIELD
  KwQself,
  Question,        // module mode: ?
  DoubleQuestion,  // module mode: ??
};

const char* vl_tokName(VlTok kind);

struct VlToken {
  VlTok kind = VlTok::End;
  uint32_t pos = 0;  // byte offset of the first character
  uint32_t end = 0;  // byte offset after the token
  int line = 1, col = 1;
  int endLine = 1, endCol = 1;
  // Identifiers (upper case, cut to 63), macro variable names (upper case), macro texts (as
  // written) and string contents; zero-terminated, in the arena.
  const char* text = "";
  uint32_t len = 0;
  // Numbers.
  bool isDouble = false;
  int64_t ival = 0;
  double dval = 0;
  uint8_t width = 0;  // 255: default
  uint8_t dec = 0;
};

class VlLexer {
 public:
  enum Mode { Macro, Module };
  static constexpr size_t kMaxName = 63;

  VlLexer(const char* text, size_t len, Mode mode, VlArena& arena, VlDiagnostics& diag);

  VlToken next();
  // Continues after `tok` as if no operand preceded (used after statement keywords).
  void seekAfter(const VlToken& tok);
  // Continues at the start of `tok` (used to re-read a token in operand-expected context).
  void seekTo(const VlToken& tok);
  bool atEnd() const { return m_pos >= m_len; }

 private:
  char cur() const { return m_pos < m_len ? m_text[m_pos] : '\0'; }
  char at(size_t k) const { return m_pos + k < m_len ? m_text[m_pos + k] : '\0'; }
  void advance(size_t n = 1);
  bool skipBlanksAndComments();  // false when a line break ends the statement (module mode)
  void skipToLineEnd();
  bool continuationFollows() const;
  bool afterOperand() const;
  VlToken make(VlTok kind, uint32_t start, int line, int col);
  VlToken lexNumber(uint32_t start, int line, int col);
  VlToken lexWord(uint32_t start, int line, int col);
  VlToken lexString(char close, uint32_t start, int line, int col);
  VlToken lexAmpersand(uint32_t start, int line, int col);
  VlToken lexDot(uint32_t start, int line, int col);
  VlToken invalid(uint32_t start, int line, int col, const std::string& message);
  const char* upperName(const char* p, size_t n, uint32_t* outLen);

  const char* m_text;
  size_t m_len;
  Mode m_mode;
  VlArena& m_arena;
  VlDiagnostics& m_diag;
  size_t m_pos = 0;
  int m_line = 1;
  int m_col = 1;
  VlTok m_prev = VlTok::Newline;  // kind of the previous token, for context decisions
  bool m_lineStart = true;        // at the first token of a line (module mode: "*" comments)
  bool m_pendingColon = false;    // "::" gives SELF then ":"
  bool m_endedByNewline = false;  // macro mode: a line break was seen
};

// Reserved function names: the full name when `name` (upper case) is at least 4 characters
// long and a prefix of one of them, else null.
const char* vl_macroReservedName(const char* name);
