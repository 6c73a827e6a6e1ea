// The statement grammar; see modparse.h.
#include "modparse.h"

#include <cstring>

namespace {

const char* termName(int t) {
  static const char* const names[] = {"",        "ELSE",    "ELSEIF",  "ENDIF",     "ENDDO",   "NEXT",   "CASE",
                                      "OTHERWISE", "ENDCASE", "RECOVER", "CATCH",   "FINALLY", "END",    "ENDSWITCH",
                                      "ENDWITH", "ENDSEQUENCE", "ENDTRY", "FUNCTION", "end of file"};
  return names[t];
}

bool isWordToken(VlTok k) {
  return k == VlTok::Ident || k == VlTok::KwIif || k == VlTok::KwField || k == VlTok::KwQself || k == VlTok::Nil;
}

}  // namespace

VlModuleParser::VlModuleParser(VlLexer& lexer, const char* source, VlArena& arena, VlDiagnostics& diag,
                               VlModuleAst& ast, std::string implicitName)
    : VlParser(lexer, source, arena, diag, false), m_ast(ast), m_implicitName(std::move(implicitName)) {}

const char* VlModuleParser::word() const { return isWordToken(m_tok.kind) ? m_tok.text : nullptr; }

const char* VlModuleParser::peekWord() {
  const VlToken& t = peek();
  return isWordToken(t.kind) ? t.text : nullptr;
}

bool VlModuleParser::matches(const char* w, const char* kw, bool abbrev) {
  if (!w) return false;
  if (!std::strcmp(w, kw)) return true;
  size_t n = std::strlen(w);
  return abbrev && n >= 4 && n < std::strlen(kw) && !std::strncmp(w, kw, n);
}

bool VlModuleParser::isKeyword(const char* kw, bool abbrev) const { return matches(word(), kw, abbrev); }

// A word followed by an assignment or "->" starts an expression statement, whatever the word is;
// so does "++" or "--", except after the keywords that take an expression (RETURN ++n).
bool VlModuleParser::exprFollows() {
  VlTok k = peek().kind;
  if (vl_tokIsAssign(k) || k == VlTok::Eq || k == VlTok::Alias) return true;
  if (k != VlTok::Inc && k != VlTok::Dec) return false;
  static const char* const takesExpression[] = {"RETURN", "IF", "ELSEIF", "WHILE", "CASE", "SWITCH", "BREAK"};
  for (const char* kw : takesExpression)
    if (isKeyword(kw, std::strlen(kw) > 4)) return false;
  return true;
}

bool VlModuleParser::atStatementEnd() const {
  return m_tok.kind == VlTok::Newline || m_tok.kind == VlTok::Semicolon || m_tok.kind == VlTok::End;
}

void VlModuleParser::skipSeparators() {
  while (m_tok.kind == VlTok::Newline || m_tok.kind == VlTok::Semicolon) advance();
}

void VlModuleParser::consumeKeyword() {
  // The token after a keyword is read again as if no operand preceded it, so that "[" opens a
  // string and "&" a macro.
  m_lex.seekAfter(m_tok);
  m_hasAhead = false;
  advance();
}

void VlModuleParser::sync() {
  while (!atStatementEnd()) advance();
  m_failed = false;
}

void VlModuleParser::endStatement() {
  if (!m_failed && !atStatementEnd()) syntaxError(m_tok);
  sync();
}

// The closing keyword of a construct; anything after it on the line is ignored.
void VlModuleParser::closeConstruct() {
  advance();
  sync();
}

void VlModuleParser::stmtError(int line, int col, const std::string& message) { m_diag.error(line, col, message); }

VlModuleParser::Term VlModuleParser::classify() {
  if (m_tok.kind == VlTok::End) return TEof;
  const char* w = word();
  if (!w || exprFollows()) return TNone;
  if (matches(w, "ELSE", false)) return TElse;
  if (matches(w, "ELSEIF", true)) return TElseIf;
  if (matches(w, "ENDIF", true)) return TEndIf;
  if (matches(w, "ENDDO", true)) return TEndDo;
  if (matches(w, "NEXT", false) || matches(w, "ENDFOR", false)) return TNext;
  if (matches(w, "CASE", false)) return TCase;
  if (matches(w, "OTHERWISE", true)) return TOtherwise;
  if (matches(w, "ENDCASE", true)) return TEndCase;
  if (matches(w, "RECOVER", true)) return TRecover;
  if (matches(w, "CATCH", false)) return TCatch;
  if (matches(w, "FINALLY", true)) return TFinally;
  if (matches(w, "END", false)) return TEnd;
  if (matches(w, "ENDSWITCH", false)) return TEndSwitch;
  if (matches(w, "ENDWITH", false)) return TEndWith;
  if (matches(w, "ENDSEQUENCE", false)) return TEndSeq;
  if (matches(w, "ENDTRY", false)) return TEndTry;
  const char* next = peekWord();
  if ((matches(w, "FUNCTION", true) || matches(w, "PROCEDURE", true)) && peek().kind == VlTok::Ident) return TFunc;
  if ((matches(w, "STATIC", true) || matches(w, "INIT", false) || matches(w, "EXIT", false)) &&
      (matches(next, "FUNCTION", true) || matches(next, "PROCEDURE", true)))
    return TFunc;
  return TNone;
}

VlStmt* VlModuleParser::newStmt(VlSk kind, const VlToken& at) {
  VlStmt* s = m_arena.make<VlStmt>();
  s->kind = kind;
  s->line = at.line;
  s->col = at.col;
  return s;
}

// Statements up to one of the accepted terminators (left as the current token). A terminator of
// an enclosing construct, a new function or the end of the file means this construct was never
// closed.
VlStmt* VlModuleParser::parseBody(uint32_t accept, const char* what, const VlToken& open, Term* found) {
  VlStmt* first = nullptr;
  VlStmt* last = nullptr;
  *found = TEof;
  if (++m_nesting > kMaxDepth) {
    stmtError(open.line, open.col, "statements nested too deeply");
    --m_nesting;
    // Skip the rest of the file: the structure can no longer be followed.
    while (m_tok.kind != VlTok::End) advance();
    return nullptr;
  }
  m_open.push_back(accept);
  for (;;) {
    skipSeparators();
    if (m_diag.full()) break;
    Term t = classify();
    if (t == TEof) {
      stmtError(open.line, open.col, std::string(what) + " is not closed");
      break;
    }
    if (t != TNone) {
      if (accept & bit(t)) {
        *found = t;
        break;
      }
      bool enclosing = t == TFunc;
      for (size_t i = 0; i + 1 < m_open.size() && !enclosing; ++i)
        if (m_open[i] & bit(t)) enclosing = true;
      if (enclosing) {
        stmtError(open.line, open.col, std::string(what) + " is not closed");
        *found = t;
        break;
      }
      stmtError(m_tok.line, m_tok.col, std::string(termName(t)) + " does not match an open statement");
      advance();
      sync();
      continue;
    }
    VlStmt* s = parseStatement();
    while (s) {
      VlStmt* next = s->next;
      s->next = nullptr;
      if (last) last->next = s;
      else first = s;
      last = s;
      s = next;
    }
  }
  m_open.pop_back();
  --m_nesting;
  return first;
}

void VlModuleParser::parseModule() {
  advance();
  for (;;) {
    skipSeparators();
    if (m_tok.kind == VlTok::End || m_diag.full()) break;
    m_failed = false;
    Term t = classify();
    if (t == TFunc) {
      parseFunctionHeader();
      continue;
    }
    if (t != TNone) {
      stmtError(m_tok.line, m_tok.col, std::string(termName(t)) + " does not match an open statement");
      advance();
      sync();
      continue;
    }
    VlStmt* s = parseStatement();
    while (s) {
      VlStmt* next = s->next;
      s->next = nullptr;
      VlFunc* f = m_func ? m_func : implicitFunction();
      if (m_tail) m_tail->next = s;
      else f->body = s;
      m_tail = s;
      s = next;
    }
  }
}

VlFunc* VlModuleParser::implicitFunction() {
  if (!m_func) {
    auto f = std::make_unique<VlFunc>();
    f->name = m_implicitName;
    f->implicit = true;
    f->line = m_tok.line;
    f->col = m_tok.col;
    m_func = f.get();
    m_ast.funcs.push_back(std::move(f));
    m_tail = nullptr;
    m_seenCode = false;
  }
  return m_func;
}

void VlModuleParser::parseFunctionHeader() {
  VlToken start = m_tok;
  uint32_t kind = VL_FUNC_PUBLIC;
  if (isKeyword("STATIC")) kind = VL_FUNC_STATIC;
  else if (isKeyword("INIT", false)) kind = VL_FUNC_INIT;
  else if (isKeyword("EXIT", false)) kind = VL_FUNC_EXIT;
  if (kind != VL_FUNC_PUBLIC) consumeKeyword();
  consumeKeyword();  // FUNCTION or PROCEDURE
  auto f = std::make_unique<VlFunc>();
  f->kind = kind;
  f->line = start.line;
  f->col = start.col;
  if (m_tok.kind != VlTok::Ident) {
    syntaxError(m_tok);
    f->name = "";
  } else {
    f->name = m_tok.text;
    for (const auto& other : m_ast.funcs)
      if (other->name == f->name) stmtError(m_tok.line, m_tok.col, "function " + f->name + " is defined twice");
    advance();
  }
  m_func = f.get();
  m_ast.funcs.push_back(std::move(f));
  m_tail = nullptr;
  m_seenCode = false;
  if (!m_failed && accept(VlTok::LParen)) {
    if (m_tok.kind != VlTok::RParen) {
      for (;;) {
        if (m_tok.kind != VlTok::Ident) {
          syntaxError(m_tok);
          break;
        }
        VlVarDecl d{m_tok.text, VlVarKind::Local, static_cast<int>(m_func->params.size()) + 1, nullptr, m_tok.line,
                    m_tok.col};
        declare(m_func->params, d);
        advance();
        if (!accept(VlTok::Comma)) break;
      }
    }
    expect(VlTok::RParen);
  }
  endStatement();
}

void VlModuleParser::declare(std::vector<VlVarDecl>& table, const VlVarDecl& d) {
  auto clash = [&](const std::vector<VlVarDecl>& t) {
    for (const VlVarDecl& e : t)
      if (!std::strcmp(e.name, d.name)) return true;
    return false;
  };
  bool dup = m_func ? (clash(m_func->params) || clash(m_func->locals) || clash(m_func->decls)) : clash(m_ast.decls);
  if (m_func)
    for (const char* p : m_func->parameters)
      if (!std::strcmp(p, d.name)) dup = true;
  if (dup) {
    stmtError(d.line, d.col, std::string("'") + d.name + "' is declared twice");
    return;
  }
  table.push_back(d);
}

bool VlModuleParser::checkDeclPosition(const VlToken& at) {
  if (m_nesting > 0 || m_seenCode) {
    stmtError(at.line, at.col, "declaration follows an executable statement");
    return false;
  }
  return true;
}

VlStmt* VlModuleParser::parseStatement() {
  m_failed = false;
  VlToken t = m_tok;
  if (t.kind == VlTok::Question || t.kind == VlTok::DoubleQuestion) {
    if (!m_func) implicitFunction();
    m_seenCode = true;
    return parseQout();
  }
  const char* w = word();
  if (w && !exprFollows()) {
    VlTok next = peek().kind;
    bool nextIsName = next == VlTok::Ident;
    if ((isKeyword("LOCAL") || isKeyword("STATIC") || isKeyword("MEMVAR") || isKeyword("FIELD")) && nextIsName) {
      if (!m_func && !isKeyword("LOCAL")) {
        // Module-wide declarations before the first function.
        if (isKeyword("STATIC")) parseStatic();
        else parseMemvarOrField(isKeyword("FIELD"));
        return nullptr;
      }
      if (!m_func) implicitFunction();
      checkDeclPosition(t);
      if (isKeyword("LOCAL")) return parseLocal();
      if (isKeyword("STATIC")) parseStatic();
      else parseMemvarOrField(isKeyword("FIELD"));
      return nullptr;
    }
    if (!m_func) implicitFunction();
    if (isKeyword("PARAMETERS") && nextIsName) return parseParameters();
    m_seenCode = true;
    if (isKeyword("PRIVATE") && nextIsName) return parseMemvarStatement(false);
    if (isKeyword("PUBLIC") && nextIsName) return parseMemvarStatement(true);
    if (isKeyword("RETURN")) return parseReturn();
    if (isKeyword("IF", false)) return parseIf();
    if (isKeyword("WHILE")) return parseWhile(t);
    if (isKeyword("DO", false)) {
      const char* nw = peekWord();
      if (matches(nw, "WHILE", true)) {
        consumeKeyword();
        return parseWhile(t);
      }
      if (matches(nw, "CASE", false)) {
        consumeKeyword();
        return parseDoCase(t);
      }
      if (next == VlTok::Ident || next == VlTok::MacroVar || next == VlTok::MacroText) return parseDo(t);
    }
    if (isKeyword("FOR", false)) return parseFor();
    if (isKeyword("SWITCH")) return parseSwitch();
    if (isKeyword("BEGIN") && matches(peekWord(), "SEQUENCE", true)) return parseSequence();
    if (isKeyword("TRY", false) && (next == VlTok::Newline || next == VlTok::Semicolon || next == VlTok::End))
      return parseTry();
    if (isKeyword("WITH", false) && matches(peekWord(), "OBJECT", true)) return parseWith();
    if ((isKeyword("EXIT", false) || isKeyword("LOOP", false)) && next != VlTok::LParen) {
      VlStmt* s = newStmt(isKeyword("EXIT", false) ? VlSk::Exit : VlSk::Loop, t);
      consumeKeyword();
      endStatement();
      return s;
    }
    if (isKeyword("BREAK", false) && next != VlTok::LParen) return parseCallStatement("BREAK", true);
    if (isKeyword("QUIT", false) && next != VlTok::LParen) return parseCallStatement("__QUIT", false);
  }
  if (!m_func) implicitFunction();
  m_seenCode = true;
  return parseExprStatement();
}

VlStmt* VlModuleParser::parseExprStatement() {
  VlToken t = m_tok;
  VlNode* e;
  switch (m_tok.kind) {
    case VlTok::Inc:
    case VlTok::Dec:
    case VlTok::Minus:
    case VlTok::Plus:
    case VlTok::Not: e = parseTopExpression(); break;
    default: {
      VlNode* first = parsePostfix(parsePrimary());
      bool assignable = first->kind == VlNk::Var || first->kind == VlNk::Elem || first->kind == VlNk::AliasVar ||
                        first->kind == VlNk::Macro || (first->kind == VlNk::Send && !first->c) ||
                        first->kind == VlNk::WithSend;
      if (!m_failed && m_tok.kind == VlTok::Eq && assignable) {
        // At statement level "=" assigns.
        VlToken eq = m_tok;
        advance();
        VlNode* value = parseTopExpression();
        e = vl_nodeBinary(m_arena, VlNk::Assign, first, value);
        e->line = eq.line;
        e->col = eq.col;
      } else {
        m_pendingOperand = first;
        e = parseTopExpression();
        m_pendingOperand = nullptr;
      }
      break;
    }
  }
  VlStmt* s = newStmt(VlSk::Expr, t);
  s->e1 = e;
  endStatement();
  return s;
}

// ? and ??: QOUT and QQOUT with the listed values.
VlStmt* VlModuleParser::parseQout() {
  VlToken t = m_tok;
  advance();
  VlNode* call = vl_nodeNew(m_arena, VlNk::Call, t.line, t.col);
  call->a = vl_nodeName(m_arena, VlNk::FuncName, t.kind == VlTok::Question ? "QOUT" : "QQOUT", t.line, t.col);
  call->b = vl_nodeNew(m_arena, VlNk::ArgList, t.line, t.col);
  if (!atStatementEnd()) {
    for (;;) {
      vl_nodeAppend(call->b, parseTopExpression());
      if (m_failed || !accept(VlTok::Comma)) break;
    }
  }
  VlStmt* s = newStmt(VlSk::Expr, t);
  s->e1 = call;
  endStatement();
  return s;
}

// BREAK [value] and QUIT: calls written as statements.
VlStmt* VlModuleParser::parseCallStatement(const char* function, bool withArgument) {
  VlToken t = m_tok;
  consumeKeyword();
  VlNode* call = vl_nodeNew(m_arena, VlNk::Call, t.line, t.col);
  call->a = vl_nodeName(m_arena, VlNk::FuncName, function, t.line, t.col);
  call->b = vl_nodeNew(m_arena, VlNk::ArgList, t.line, t.col);
  if (withArgument && !atStatementEnd()) vl_nodeAppend(call->b, parseTopExpression());
  VlStmt* s = newStmt(VlSk::Expr, t);
  s->e1 = call;
  endStatement();
  return s;
}

VlStmt* VlModuleParser::parseReturn() {
  VlStmt* s = newStmt(VlSk::Return, m_tok);
  consumeKeyword();
  if (!atStatementEnd()) s->e1 = parseTopExpression();
  endStatement();
  return s;
}

VlStmt* VlModuleParser::parseIf() {
  VlToken open = m_tok;
  VlStmt* s = newStmt(VlSk::If, open);
  consumeKeyword();
  s->e1 = parseTopExpression();
  endStatement();
  Term found;
  const uint32_t branchEnd = bit(TElseIf) | bit(TElse) | bit(TEndIf) | bit(TEnd);
  s->body = parseBody(branchEnd, "IF", open, &found);
  VlStmt* lastCase = nullptr;
  while (found == TElseIf) {
    VlStmt* c = newStmt(VlSk::Case, m_tok);
    consumeKeyword();
    c->e1 = parseTopExpression();
    endStatement();
    c->body = parseBody(branchEnd, "IF", open, &found);
    if (lastCase) lastCase->next = c;
    else s->cases = c;
    lastCase = c;
  }
  if (found == TElse) {
    s->hasAlt = true;
    consumeKeyword();
    endStatement();
    s->alt = parseBody(bit(TEndIf) | bit(TEnd), "IF", open, &found);
  }
  if (found == TEndIf || found == TEnd) closeConstruct();
  return s;
}

VlStmt* VlModuleParser::parseWhile(const VlToken& open) {
  VlStmt* s = newStmt(VlSk::DoWhile, open);
  consumeKeyword();  // WHILE
  s->e1 = parseTopExpression();
  endStatement();
  Term found;
  s->body = parseBody(bit(TEndDo) | bit(TEnd), "DO WHILE", open, &found);
  if (found != TEof && found != TFunc) {
    s->endLine = m_tok.line;
    closeConstruct();
  }
  return s;
}

VlStmt* VlModuleParser::parseFor() {
  VlToken open = m_tok;
  consumeKeyword();
  if (isKeyword("EACH", false) && peek().kind == VlTok::Ident) return parseForEach(open);
  VlStmt* s = newStmt(VlSk::For, open);
  if (m_tok.kind != VlTok::Ident) {
    syntaxError(m_tok);
  } else {
    s->var = vl_nodeName(m_arena, VlNk::Var, m_tok.text, m_tok.line, m_tok.col);
    advance();
    if (m_tok.kind == VlTok::Assign || m_tok.kind == VlTok::Eq) advance();
    else syntaxError(m_tok);
    s->e1 = parseTopExpression();
    if (!m_failed && !isKeyword("TO", false)) syntaxError(m_tok);
    if (!m_failed) {
      consumeKeyword();
      s->e2 = parseTopExpression();
      if (!m_failed && isKeyword("STEP", false)) {
        consumeKeyword();
        s->e3 = parseTopExpression();
      }
    }
  }
  endStatement();
  Term found;
  s->body = parseBody(bit(TNext) | bit(TEnd), "FOR", open, &found);
  if (found == TNext || found == TEnd) {
    s->endLine = m_tok.line;
    closeConstruct();
  }
  return s;
}

VlStmt* VlModuleParser::parseForEach(const VlToken& open) {
  VlStmt* s = newStmt(VlSk::ForEach, open);
  consumeKeyword();  // EACH
  s->var = vl_nodeName(m_arena, VlNk::Var, m_tok.text, m_tok.line, m_tok.col);
  advance();
  if (m_tok.kind == VlTok::Contains && m_tok.len) {  // the word IN
    advance();
    s->e1 = parseTopExpression();
  } else {
    syntaxError(m_tok);
  }
  endStatement();
  Term found;
  s->body = parseBody(bit(TNext) | bit(TEnd), "FOR EACH", open, &found);
  if (found == TNext || found == TEnd) {
    s->endLine = m_tok.line;
    closeConstruct();
  }
  return s;
}

VlStmt* VlModuleParser::parseDoCase(const VlToken& open) {
  VlStmt* s = newStmt(VlSk::DoCase, open);
  consumeKeyword();  // CASE
  endStatement();
  Term found;
  const uint32_t caseEnd = bit(TCase) | bit(TOtherwise) | bit(TEndCase) | bit(TEnd);
  VlStmt* before = parseBody(caseEnd, "DO CASE", open, &found);
  if (before) stmtError(before->line, before->col, "statement before the first CASE");
  VlStmt* lastCase = nullptr;
  while (found == TCase) {
    VlStmt* c = newStmt(VlSk::Case, m_tok);
    consumeKeyword();
    c->e1 = parseTopExpression();
    endStatement();
    c->body = parseBody(caseEnd, "DO CASE", open, &found);
    if (lastCase) lastCase->next = c;
    else s->cases = c;
    lastCase = c;
  }
  if (found == TOtherwise) {
    s->hasAlt = true;
    consumeKeyword();
    endStatement();
    s->alt = parseBody(bit(TEndCase) | bit(TEnd), "DO CASE", open, &found);
  }
  if (found == TEndCase || found == TEnd) closeConstruct();
  return s;
}

VlStmt* VlModuleParser::parseSwitch() {
  VlToken open = m_tok;
  VlStmt* s = newStmt(VlSk::Switch, open);
  consumeKeyword();
  s->e1 = parseTopExpression();
  endStatement();
  Term found;
  const uint32_t caseEnd = bit(TCase) | bit(TOtherwise) | bit(TEndSwitch) | bit(TEnd);
  VlStmt* before = parseBody(caseEnd, "SWITCH", open, &found);
  if (before) stmtError(before->line, before->col, "statement before the first CASE");
  VlStmt* lastCase = nullptr;
  while (found == TCase) {
    VlStmt* c = newStmt(VlSk::Case, m_tok);
    consumeKeyword();
    c->e1 = parseTopExpression();
    endStatement();
    c->body = parseBody(caseEnd, "SWITCH", open, &found);
    if (lastCase) lastCase->next = c;
    else s->cases = c;
    lastCase = c;
  }
  if (found == TOtherwise) {
    s->hasAlt = true;
    consumeKeyword();
    endStatement();
    s->alt = parseBody(bit(TEndSwitch) | bit(TEnd), "SWITCH", open, &found);
  }
  if (found == TEndSwitch || found == TEnd) closeConstruct();
  return s;
}

VlStmt* VlModuleParser::parseSequence() {
  VlToken open = m_tok;
  VlStmt* s = newStmt(VlSk::Sequence, open);
  consumeKeyword();  // BEGIN
  consumeKeyword();  // SEQUENCE
  endStatement();
  Term found;
  s->body = parseBody(bit(TRecover) | bit(TEnd) | bit(TEndSeq), "BEGIN SEQUENCE", open, &found);
  if (found == TRecover) {
    s->hasAlt = true;
    consumeKeyword();
    if (isKeyword("USING")) {
      consumeKeyword();
      if (m_tok.kind == VlTok::Ident) {
        s->var = vl_nodeName(m_arena, VlNk::Var, m_tok.text, m_tok.line, m_tok.col);
        advance();
      } else {
        syntaxError(m_tok);
      }
    }
    endStatement();
    s->alt = parseBody(bit(TEnd) | bit(TEndSeq), "BEGIN SEQUENCE", open, &found);
  }
  if (found == TEnd || found == TEndSeq) closeConstruct();
  return s;
}

VlStmt* VlModuleParser::parseTry() {
  VlToken open = m_tok;
  VlStmt* s = newStmt(VlSk::Try, open);
  consumeKeyword();
  endStatement();
  Term found;
  s->body = parseBody(bit(TCatch) | bit(TFinally) | bit(TEnd) | bit(TEndTry), "TRY", open, &found);
  if (found == TCatch) {
    s->hasAlt = true;
    consumeKeyword();
    if (m_tok.kind == VlTok::Ident) {
      s->var = vl_nodeName(m_arena, VlNk::Var, m_tok.text, m_tok.line, m_tok.col);
      advance();
    }
    endStatement();
    s->alt = parseBody(bit(TFinally) | bit(TEnd) | bit(TEndTry), "TRY", open, &found);
  }
  if (found == TFinally) {
    s->hasFin = true;
    consumeKeyword();
    endStatement();
    s->fin = parseBody(bit(TEnd) | bit(TEndTry), "TRY", open, &found);
  }
  if (found == TEnd || found == TEndTry) closeConstruct();
  return s;
}

VlStmt* VlModuleParser::parseWith() {
  VlToken open = m_tok;
  VlStmt* s = newStmt(VlSk::With, open);
  consumeKeyword();  // WITH
  consumeKeyword();  // OBJECT
  s->e1 = parseTopExpression();
  endStatement();
  Term found;
  s->body = parseBody(bit(TEnd) | bit(TEndWith), "WITH OBJECT", open, &found);
  if (found == TEnd || found == TEndWith) closeConstruct();
  return s;
}

// DO proc [WITH args]: a procedure call whose variable arguments are passed by reference.
VlStmt* VlModuleParser::parseDo(const VlToken& open) {
  consumeKeyword();  // DO
  VlNode* call = vl_nodeNew(m_arena, VlNk::Call, open.line, open.col);
  if (m_tok.kind == VlTok::Ident) {
    call->a = vl_nodeName(m_arena, VlNk::FuncName, m_tok.text, m_tok.line, m_tok.col);
  } else {
    VlNode* m = vl_nodeNew(m_arena, VlNk::Macro, m_tok.line, m_tok.col);
    m->macroKind = m_tok.kind == VlTok::MacroVar ? VL_MACRO_VAR : VL_MACRO_TEXT;
    m->macroSub = VL_MSUB_FUNC;
    m->name = m_tok.text;
    m->len = m_tok.len;
    call->a = m;
  }
  advance();
  call->b = vl_nodeNew(m_arena, VlNk::ArgList, open.line, open.col);
  if (isKeyword("WITH", false)) {
    consumeKeyword();
    for (;;) {
      VlNode* arg = parseArgElement(false);
      if (arg->kind == VlNk::Var) arg->kind = VlNk::VarRef;
      vl_nodeAppend(call->b, arg);
      if (m_failed || !accept(VlTok::Comma)) break;
    }
    if (!m_failed && vl_nodeDepth(call, kMaxTreeDepth) > kMaxTreeDepth) syntaxError(m_tok);
  }
  VlStmt* s = newStmt(VlSk::Expr, open);
  s->e1 = call;
  endStatement();
  return s;
}

// A declared name with optional dimensions ([n, m] or [n][m]) and initial value.
VlNode* VlModuleParser::parseDeclaredVar(bool allowInit) {
  if (m_tok.kind != VlTok::Ident) {
    syntaxError(m_tok);
    return nullptr;
  }
  VlNode* v = vl_nodeName(m_arena, VlNk::Var, m_tok.text, m_tok.line, m_tok.col);
  advance();
  while (!m_failed && m_tok.kind == VlTok::LBracket) {
    advance();
    for (;;) {
      vl_nodeAppend(v, parseTopExpression());
      if (m_failed || !accept(VlTok::Comma)) break;
    }
    expect(VlTok::RBracket);
  }
  if (!m_failed && allowInit && (m_tok.kind == VlTok::Assign || m_tok.kind == VlTok::Eq)) {
    advance();
    v->a = parseTopExpression();
  }
  return m_failed ? nullptr : v;
}

VlStmt* VlModuleParser::parseLocal() {
  consumeKeyword();
  VlStmt* first = nullptr;
  VlStmt* last = nullptr;
  for (;;) {
    VlToken at = m_tok;
    VlNode* v = parseDeclaredVar(true);
    if (!v) break;
    VlVarDecl d{v->name, VlVarKind::Local, 0, nullptr, at.line, at.col};
    declare(m_func->locals, d);
    if (v->a || v->list) {
      VlStmt* s = newStmt(VlSk::LocalInit, at);
      s->var = v;
      if (last) last->next = s;
      else first = s;
      last = s;
    }
    if (!accept(VlTok::Comma)) break;
  }
  endStatement();
  return first;
}

void VlModuleParser::parseStatic() {
  consumeKeyword();
  for (;;) {
    VlToken at = m_tok;
    VlNode* v = parseDeclaredVar(true);
    if (!v) break;
    int index = ++m_staticCount;
    VlVarDecl d{v->name, VlVarKind::Static, index, nullptr, at.line, at.col};
    declare(m_func ? m_func->decls : m_ast.decls, d);
    m_ast.statics.push_back({index, v, m_func});
    if (!accept(VlTok::Comma)) break;
  }
  endStatement();
}

void VlModuleParser::parseMemvarOrField(bool field) {
  consumeKeyword();
  std::vector<VlVarDecl> names;
  for (;;) {
    if (m_tok.kind != VlTok::Ident) {
      syntaxError(m_tok);
      break;
    }
    names.push_back({m_tok.text, field ? VlVarKind::Field : VlVarKind::Memvar, 0, nullptr, m_tok.line, m_tok.col});
    advance();
    if (!accept(VlTok::Comma)) break;
  }
  if (field && !m_failed && m_tok.kind == VlTok::Contains && m_tok.len) {  // IN alias
    advance();
    if (m_tok.kind == VlTok::Ident) {
      for (VlVarDecl& d : names) d.alias = m_tok.text;
      advance();
    } else {
      syntaxError(m_tok);
    }
  }
  if (!m_failed)
    for (const VlVarDecl& d : names) declare(m_func ? m_func->decls : m_ast.decls, d);
  endStatement();
}

VlStmt* VlModuleParser::parseParameters() {
  VlStmt* s = newStmt(VlSk::Parameters, m_tok);
  consumeKeyword();
  if (!m_func->params.empty()) stmtError(s->line, s->col, "PARAMETERS in a function with declared parameters");
  VlNode* last = nullptr;
  for (;;) {
    if (m_tok.kind != VlTok::Ident) {
      syntaxError(m_tok);
      break;
    }
    VlNode* v = vl_nodeName(m_arena, VlNk::Var, m_tok.text, m_tok.line, m_tok.col);
    bool dup = false;
    for (const char* p : m_func->parameters)
      if (!std::strcmp(p, v->name)) dup = true;
    for (const VlVarDecl& d : m_func->locals)
      if (!std::strcmp(d.name, v->name)) dup = true;
    if (dup) stmtError(v->line, v->col, std::string("'") + v->name + "' is declared twice");
    m_func->parameters.push_back(v->name);
    v->ival = static_cast<int64_t>(m_func->parameters.size());  // its parameter position
    if (last) last->next = v;
    else s->decls = v;
    last = v;
    advance();
    if (!accept(VlTok::Comma)) break;
  }
  endStatement();
  return s;
}

VlStmt* VlModuleParser::parseMemvarStatement(bool isPublic) {
  VlStmt* s = newStmt(VlSk::MemvarDecl, m_tok);
  s->flag = isPublic;
  consumeKeyword();
  VlNode* last = nullptr;
  for (;;) {
    VlNode* v = parseDeclaredVar(true);
    if (!v) break;
    if (last) last->next = v;
    else s->decls = v;
    last = v;
    if (!accept(VlTok::Comma)) break;
  }
  endStatement();
  return s;
}
