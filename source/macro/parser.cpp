// The expression grammar; see parser.h for how operators bind.
#include "parser.h"

#include <cstring>
#include <vector>

namespace {

// Parser level of a binary operator token (0: not a binary operator). Level 3 is .NOT., a prefix.
int binaryLevel(VlTok t) {
  switch (t) {
    case VlTok::Or: return 1;
    case VlTok::And: return 2;
    case VlTok::BitOr: return 4;
    case VlTok::BitXor: return 5;
    case VlTok::BitAnd: return 6;
    case VlTok::Eq:
    case VlTok::ExactEq:
    case VlTok::Lt:
    case VlTok::Gt:
    case VlTok::Le:
    case VlTok::Ge:
    case VlTok::Ne:
    case VlTok::Contains:
    case VlTok::Like:
    case VlTok::Has: return 7;
    case VlTok::Shr:
    case VlTok::Shl: return 8;
    case VlTok::Plus:
    case VlTok::Minus: return 9;
    case VlTok::Mult:
    case VlTok::Div:
    case VlTok::Mod: return 10;
    case VlTok::Power: return 11;
    default: return 0;
  }
}

VlNk binaryKind(VlTok t) {
  switch (t) {
    case VlTok::Or: return VlNk::Or;
    case VlTok::And: return VlNk::And;
    case VlTok::BitOr: return VlNk::BitOr;
    case VlTok::BitXor: return VlNk::BitXor;
    case VlTok::BitAnd: return VlNk::BitAnd;
    case VlTok::Eq: return VlNk::Eq;
    case VlTok::ExactEq: return VlNk::ExactEq;
    case VlTok::Lt: return VlNk::Lt;
    case VlTok::Gt: return VlNk::Gt;
    case VlTok::Le: return VlNk::Le;
    case VlTok::Ge: return VlNk::Ge;
    case VlTok::Ne: return VlNk::Ne;
    case VlTok::Contains: return VlNk::Contains;
    case VlTok::Like: return VlNk::Like;
    case VlTok::Has: return VlNk::Has;
    case VlTok::Shr: return VlNk::Shr;
    case VlTok::Shl: return VlNk::Shl;
    case VlTok::Plus: return VlNk::Plus;
    case VlTok::Minus: return VlNk::Minus;
    case VlTok::Mult: return VlNk::Mult;
    case VlTok::Div: return VlNk::Div;
    case VlTok::Mod: return VlNk::Mod;
    case VlTok::Power: return VlNk::Power;
    default: return VlNk::Empty;
  }
}

// Keyword tokens that also serve as names after ":" (message names).
bool isNameToken(VlTok t) {
  return t == VlTok::Ident || t == VlTok::KwIif || t == VlTok::KwField || t == VlTok::KwQself || t == VlTok::Nil;
}

}  // namespace

bool vl_tokIsAssign(VlTok kind) { return kind >= VlTok::Assign && kind <= VlTok::PowEq; }

VlNk vl_tokAssignKind(VlTok kind) {
  switch (kind) {
    case VlTok::Assign: return VlNk::Assign;
    case VlTok::PlusEq: return VlNk::PlusEq;
    case VlTok::MinusEq: return VlNk::MinusEq;
    case VlTok::MultEq: return VlNk::MultEq;
    case VlTok::DivEq: return VlNk::DivEq;
    case VlTok::ModEq: return VlNk::ModEq;
    case VlTok::PowEq: return VlNk::PowEq;
    default: return VlNk::Empty;
  }
}

VlParser::VlParser(VlLexer& lexer, const char* source, VlArena& arena, VlDiagnostics& diag, bool macroMode)
    : m_lex(lexer), m_source(source), m_arena(arena), m_diag(diag), m_macro(macroMode) {}

void VlParser::advance() {
  if (m_hasAhead) {
    m_tok = m_ahead;
    m_hasAhead = false;
  } else {
    m_tok = m_lex.next();
  }
  // An invalid token was reported by the lexer; the expression it is part of fails.
  if (m_tok.kind == VlTok::Invalid) m_failed = true;
}

const VlToken& VlParser::peek() {
  if (!m_hasAhead) {
    m_ahead = m_lex.next();
    m_hasAhead = true;
  }
  return m_ahead;
}

bool VlParser::accept(VlTok kind) {
  if (m_tok.kind != kind) return false;
  advance();
  return true;
}

bool VlParser::expect(VlTok kind) {
  if (m_failed) return false;
  if (m_tok.kind == kind) {
    advance();
    return true;
  }
  syntaxError(m_tok);
  return false;
}

void VlParser::errorAt(int line, int col, const std::string& message) {
  if (!m_failed) m_diag.error(line, col, message);
  m_failed = true;
}

std::string VlParser::tokenText(const VlToken& tok) const {
  switch (tok.kind) {
    case VlTok::End: return m_macro ? "end of text" : "end of file";
    case VlTok::Newline: return "end of line";
    default: break;
  }
  std::string s;
  for (uint32_t i = tok.pos; i < tok.end && s.size() < 32; ++i) {
    unsigned char c = static_cast<unsigned char>(m_source[i]);
    s += (c >= 32 && c < 127) ? static_cast<char>(c) : '?';
  }
  return "'" + s + "'";
}

void VlParser::syntaxError(const VlToken& tok) {
  if (tok.kind == VlTok::Invalid) {
    m_failed = true;  // the lexer has reported it
    return;
  }
  errorAt(tok.line, tok.col, "syntax error at " + tokenText(tok));
}

bool VlParser::enter() {
  if (++m_depth > kMaxNesting) {
    errorAt(m_tok.line, m_tok.col, m_macro ? "parser stack overflow" : "expression nested too deeply");
    return false;
  }
  return true;
}

VlNode* VlParser::errorNode() { return vl_nodeNew(m_arena, VlNk::Empty, m_tok.line, m_tok.col); }

VlNode* VlParser::parseExpression() {
  if (m_failed) return errorNode();
  return parseBinary(1);
}

VlNode* VlParser::parseTopExpression() {
  VlNode* n = parseExpression();
  if (!m_failed && vl_nodeDepth(n, kMaxTreeDepth) > kMaxTreeDepth)
    errorAt(n->line, n->col, m_macro ? "parser stack overflow" : "expression too complex");
  return n;
}

// Operators of one level form a chain a op b op c ...; it is built from the right (right
// associativity at the parser level), each node re-associated by makeBinary as it is made.
VlNode* VlParser::parseBinary(int minLevel) {
  VlNode* first = parseUnary();
  for (;;) {
    if (m_failed) return first;
    int level = binaryLevel(m_tok.kind);
    if (!level || level < minLevel) return first;
    std::vector<VlNode*> operands{first};
    std::vector<VlToken> ops;
    while (!m_failed && binaryLevel(m_tok.kind) == level) {
      if (static_cast<int>(operands.size()) >= kMaxChain) {
        errorAt(m_tok.line, m_tok.col, m_macro ? "parser stack overflow" : "expression too complex");
        return first;
      }
      ops.push_back(m_tok);
      advance();
      operands.push_back(parseBinary(level + 1));
    }
    if (m_failed) return first;
    VlNode* node = operands.back();
    for (size_t i = ops.size(); i-- > 0;) {
      node = makeBinary(binaryKind(ops[i].kind), operands[i], node, ops[i]);
      if (m_failed) return first;
    }
    first = node;
  }
}

VlNode* VlParser::makeBinary(VlNk op, VlNode* left, VlNode* right, const VlToken& opTok) {
  if (vl_nodeIsAssign(right->kind)) {
    errorAt(opTok.line, opTok.col, "syntax error: assignment as the right operand of " + tokenText(opTok));
    return left;
  }
  VlNode* node = vl_nodeBinary(m_arena, op, left, right);
  node->line = opTok.line;
  node->col = opTok.col;
  int prio = vl_nodePriority(op);
  if (!vl_nodeIsBinary(right->kind) || vl_nodePriority(right->kind) > prio) return node;
  // The new node sinks down the left spine of the right operand to the first node that binds
  // tighter than itself.
  VlNode* parent = right;
  VlNode* cur = right->a;
  while (vl_nodeIsBinary(cur->kind) && vl_nodePriority(cur->kind) <= prio) {
    parent = cur;
    cur = cur->a;
  }
  node->b = cur;
  parent->a = node;
  return right;
}

VlNode* VlParser::parseUnary() {
  if (m_failed) return errorNode();
  VlToken t = m_tok;
  VlNk kind;
  switch (t.kind) {
    case VlTok::Minus: kind = VlNk::Neg; break;
    case VlTok::Plus: kind = VlNk::Empty; break;
    case VlTok::Not: kind = VlNk::Not; break;
    case VlTok::Inc: kind = VlNk::PreInc; break;
    case VlTok::Dec: kind = VlNk::PreDec; break;
    default: return parseOperand();
  }
  advance();
  if (!enter()) return errorNode();
  // .NOT. takes everything that binds tighter than itself; the others one operand.
  VlNode* operand = kind == VlNk::Not ? parseBinary(4) : parseUnary();
  leave();
  if (kind == VlNk::Empty) return operand;
  VlNode* n = vl_nodeUnary(m_arena, kind, operand);
  n->line = t.line;
  n->col = t.col;
  return n;
}

VlNode* VlParser::parseOperand() {
  VlNode* n;
  if (m_pendingOperand) {
    n = m_pendingOperand;
    m_pendingOperand = nullptr;
  } else {
    n = parsePostfix(parsePrimary());
  }
  if (m_failed) return n;
  if (m_tok.kind == VlTok::Inc || m_tok.kind == VlTok::Dec) {
    VlNode* p = vl_nodeUnary(m_arena, m_tok.kind == VlTok::Inc ? VlNk::PostInc : VlNk::PostDec, n);
    advance();
    n = p;
  }
  if (vl_tokIsAssign(m_tok.kind)) return parseAssignment(n);
  return n;
}

VlNode* VlParser::parseAssignment(VlNode* target) {
  VlToken t = m_tok;
  advance();
  if (!enter()) return errorNode();
  VlNode* value = parseExpression();
  leave();
  VlNode* n = vl_nodeBinary(m_arena, vl_tokAssignKind(t.kind), target, value);
  n->line = t.line;
  n->col = t.col;
  return n;
}

VlNode* VlParser::parsePrimary() {
  if (m_failed) return errorNode();
  VlToken t = m_tok;
  VlNode* n = nullptr;
  switch (t.kind) {
    case VlTok::Number:
      n = vl_nodeNew(m_arena, VlNk::Number, t.line, t.col);
      n->isDouble = t.isDouble;
      n->ival = t.ival;
      n->dval = t.dval;
      n->width = t.width;
      n->dec = t.dec;
      advance();
      if (m_tok.kind == VlTok::Alias) return parseAliased(n);
      return n;
    case VlTok::String:
      n = vl_nodeNew(m_arena, VlNk::String, t.line, t.col);
      n->name = t.text;
      n->len = t.len;
      advance();
      return n;
    case VlTok::Nil: advance(); return vl_nodeNew(m_arena, VlNk::Nil, t.line, t.col);
    case VlTok::True:
    case VlTok::False:
      advance();
      n = vl_nodeNew(m_arena, VlNk::Logical, t.line, t.col);
      n->logical = t.kind == VlTok::True;
      return n;
    case VlTok::Ident:
      advance();
      if (std::strcmp(t.text, "SELF") == 0 && m_tok.kind != VlTok::LParen && m_tok.kind != VlTok::Alias)
        return vl_nodeNew(m_arena, VlNk::Self, t.line, t.col);
      if (m_tok.kind == VlTok::LParen) {
        n = vl_nodeNew(m_arena, VlNk::Call, t.line, t.col);
        n->a = vl_nodeName(m_arena, VlNk::FuncName, t.text, t.line, t.col);
        n->b = parseArgs();
        return n;
      }
      if (m_tok.kind == VlTok::Alias) return parseAliased(vl_nodeName(m_arena, VlNk::AliasName, t.text, t.line, t.col));
      return vl_nodeName(m_arena, VlNk::Var, t.text, t.line, t.col);
    case VlTok::MacroVar:
    case VlTok::MacroText:
      advance();
      n = vl_nodeNew(m_arena, VlNk::Macro, t.line, t.col);
      n->macroKind = t.kind == VlTok::MacroVar ? VL_MACRO_VAR : VL_MACRO_TEXT;
      n->name = t.text;
      n->len = t.len;
      if (m_tok.kind == VlTok::LParen) {
        n->macroSub = VL_MSUB_FUNC;
        VlNode* call = vl_nodeNew(m_arena, VlNk::Call, t.line, t.col);
        call->a = n;
        call->b = parseArgs();
        return call;
      }
      if (m_tok.kind == VlTok::Alias) {
        n->macroSub = VL_MSUB_ALIAS;
        return parseAliased(n);
      }
      return n;
    case VlTok::MacroOpen: {
      advance();
      if (!enter()) return errorNode();
      VlNode* e = parseExpression();
      leave();
      expect(VlTok::RParen);
      n = vl_nodeNew(m_arena, VlNk::Macro, t.line, t.col);
      n->macroKind = VL_MACRO_EXPR;
      n->a = e;
      if (m_tok.kind == VlTok::Alias) {
        n->macroSub = VL_MSUB_ALIAS;
        return parseAliased(n);
      }
      return n;
    }
    case VlTok::KwIif: {
      advance();
      if (!expect(VlTok::LParen)) return errorNode();
      if (!enter()) return errorNode();
      n = vl_nodeNew(m_arena, VlNk::Iif, t.line, t.col);
      VlNode* parts[3];
      for (int i = 0; i < 3; ++i) {
        if (i && !expect(VlTok::Comma)) break;
        parts[i] = (m_tok.kind == VlTok::Comma || m_tok.kind == VlTok::RParen)
                       ? vl_nodeNew(m_arena, VlNk::Empty, m_tok.line, m_tok.col)
                       : parseExpression();
      }
      leave();
      if (m_failed) return errorNode();
      expect(VlTok::RParen);
      n->a = parts[0];
      n->b = parts[1];
      n->c = parts[2];
      return n;
    }
    case VlTok::KwField:
      advance();
      if (m_tok.kind == VlTok::Alias) return parseAliased(vl_nodeName(m_arena, VlNk::AliasName, "FIELD", t.line, t.col));
      if (m_tok.kind == VlTok::LParen) {
        n = vl_nodeNew(m_arena, VlNk::Call, t.line, t.col);
        n->a = vl_nodeName(m_arena, VlNk::FuncName, t.text, t.line, t.col);
        n->b = parseArgs();
        return n;
      }
      syntaxError(m_tok);
      return errorNode();
    case VlTok::KwQself:
      advance();
      if (!expect(VlTok::LParen) || !expect(VlTok::RParen)) return errorNode();
      return vl_nodeNew(m_arena, VlNk::Self, t.line, t.col);
    case VlTok::LParen: {
      advance();
      if (!enter()) return errorNode();
      n = vl_nodeNew(m_arena, VlNk::ParenList, t.line, t.col);
      if (m_tok.kind != VlTok::RParen) {
        for (;;) {
          vl_nodeAppend(n, parseExpression());
          if (m_failed || !accept(VlTok::Comma)) break;
        }
      }
      leave();
      expect(VlTok::RParen);
      if (!m_failed && m_tok.kind == VlTok::Alias) return parseAliased(n);
      return n;
    }
    case VlTok::LBrace:
      advance();
      if (!enter()) return errorNode();
      n = m_tok.kind == VlTok::BitOr ? parseBlock(t) : parseBrace(t);
      leave();
      return n;
    case VlTok::Colon: {
      advance();
      n = vl_nodeNew(m_arena, VlNk::WithSend, t.line, t.col);
      n->b = parseMessage();
      if (!m_failed && m_tok.kind == VlTok::LParen) n->c = parseArgs();
      return n;
    }
    case VlTok::At:
      errorAt(t.line, t.col, "'@' is allowed only before an argument");
      return errorNode();
    default:
      syntaxError(t);
      return errorNode();
  }
}

VlNode* VlParser::parseMessage() {
  VlToken t = m_tok;
  if (isNameToken(t.kind)) {
    advance();
    return vl_nodeName(m_arena, VlNk::FuncName, t.text, t.line, t.col);
  }
  if (t.kind == VlTok::MacroVar || t.kind == VlTok::MacroText) {
    advance();
    VlNode* n = vl_nodeNew(m_arena, VlNk::Macro, t.line, t.col);
    n->macroKind = t.kind == VlTok::MacroVar ? VL_MACRO_VAR : VL_MACRO_TEXT;
    n->macroSub = VL_MSUB_FUNC;
    n->name = t.text;
    n->len = t.len;
    return n;
  }
  if (t.kind == VlTok::MacroOpen) {
    advance();
    if (!enter()) return errorNode();
    VlNode* e = parseExpression();
    leave();
    expect(VlTok::RParen);
    VlNode* n = vl_nodeNew(m_arena, VlNk::Macro, t.line, t.col);
    n->macroKind = VL_MACRO_EXPR;
    n->macroSub = VL_MSUB_FUNC;
    n->a = e;
    return n;
  }
  syntaxError(t);
  return errorNode();
}

VlNode* VlParser::parsePostfix(VlNode* n) {
  for (;;) {
    if (m_failed) return n;
    if (m_tok.kind == VlTok::LBracket) {
      advance();
      if (!enter()) return n;
      for (;;) {
        VlNode* index = parseExpression();
        VlNode* e = vl_nodeBinary(m_arena, VlNk::Elem, n, index);
        e->line = n->line;
        e->col = n->col;
        n = e;
        if (m_failed || !accept(VlTok::Comma)) break;
      }
      leave();
      expect(VlTok::RBracket);
    } else if (m_tok.kind == VlTok::Colon) {
      VlToken t = m_tok;
      advance();
      VlNode* s = vl_nodeNew(m_arena, VlNk::Send, t.line, t.col);
      s->a = n;
      s->b = parseMessage();
      if (!m_failed && m_tok.kind == VlTok::LParen) s->c = parseArgs();
      n = s;
    } else {
      return n;
    }
  }
}

VlNode* VlParser::parseArgs() {
  VlNode* args = vl_nodeNew(m_arena, VlNk::ArgList, m_tok.line, m_tok.col);
  advance();  // (
  if (!enter()) return args;
  if (m_tok.kind != VlTok::RParen) {
    for (;;) {
      vl_nodeAppend(args, parseArgElement(false));
      if (m_failed || !accept(VlTok::Comma)) break;
    }
  }
  leave();
  expect(VlTok::RParen);
  return args;
}

VlNode* VlParser::parseArgElement(bool inArray) {
  if (m_tok.kind == VlTok::Comma || m_tok.kind == (inArray ? VlTok::RBrace : VlTok::RParen))
    return vl_nodeNew(m_arena, VlNk::Empty, m_tok.line, m_tok.col);
  if (m_tok.kind == VlTok::At) return parseReference();
  return parseExpression();
}

// After "@": a variable, a function (@name()), an instance variable (@obj:name), a memory
// variable (@M->name) or a macro.
VlNode* VlParser::parseReference() {
  VlToken at = m_tok;
  advance();
  if (m_tok.kind == VlTok::Ident && peek().kind == VlTok::LParen) {
    VlToken name = m_tok;
    advance();
    advance();
    if (!expect(VlTok::RParen)) return errorNode();
    return vl_nodeName(m_arena, VlNk::FuncRef, name.text, name.line, name.col);
  }
  VlNode* n = parsePostfix(parsePrimary());
  if (m_failed) return n;
  switch (n->kind) {
    case VlNk::Var: n->kind = VlNk::VarRef; return n;
    case VlNk::Send:
      if (!n->c) {
        n->refFlag = true;
        return n;
      }
      break;
    case VlNk::AliasVar:
    case VlNk::Macro:
      n->refFlag = true;
      return n;
    default: break;
  }
  errorAt(at.line, at.col, "invalid reference with '@'");
  return errorNode();
}

VlNode* VlParser::parseBlock(const VlToken& open) {
  VlNode* n = vl_nodeNew(m_arena, VlNk::Block, open.line, open.col);
  advance();  // the opening |
  VlNode* lastParam = nullptr;
  while (m_tok.kind == VlTok::Ident) {
    for (VlNode* p = n->params; p; p = p->next)
      if (std::strcmp(p->name, m_tok.text) == 0) {
        errorAt(m_tok.line, m_tok.col, std::string("duplicate codeblock parameter '") + m_tok.text + "'");
        return n;
      }
    VlNode* p = vl_nodeName(m_arena, VlNk::Var, m_tok.text, m_tok.line, m_tok.col);
    if (lastParam) lastParam->next = p;
    else n->params = p;
    lastParam = p;
    ++n->paramCount;
    advance();
    if (!accept(VlTok::Comma)) break;
  }
  if (!expect(VlTok::BitOr)) return n;
  if (m_tok.kind != VlTok::RBrace) {
    for (;;) {
      vl_nodeAppend(n, parseExpression());
      if (m_failed || !accept(VlTok::Comma)) break;
    }
  }
  expect(VlTok::RBrace);
  return n;
}

// { elements } (array), { key => value, ... } (hash, a call of HASH) or {=>} (empty hash).
VlNode* VlParser::parseBrace(const VlToken& open) {
  if (m_tok.kind == VlTok::HashPair) {
    advance();
    expect(VlTok::RBrace);
    VlNode* call = vl_nodeNew(m_arena, VlNk::Call, open.line, open.col);
    call->a = vl_nodeName(m_arena, VlNk::FuncName, "HASH", open.line, open.col);
    call->b = vl_nodeNew(m_arena, VlNk::ArgList, open.line, open.col);
    return call;
  }
  VlNode* arr = vl_nodeNew(m_arena, VlNk::Array, open.line, open.col);
  if (m_tok.kind == VlTok::RBrace) {
    advance();
    return arr;
  }
  VlNode* first = parseArgElement(true);
  if (!m_failed && m_tok.kind == VlTok::HashPair) {
    VlNode* call = vl_nodeNew(m_arena, VlNk::Call, open.line, open.col);
    call->a = vl_nodeName(m_arena, VlNk::FuncName, "HASH", open.line, open.col);
    call->b = vl_nodeNew(m_arena, VlNk::ArgList, open.line, open.col);
    VlNode* key = first;
    for (;;) {
      if (!expect(VlTok::HashPair)) break;
      vl_nodeAppend(call->b, key);
      vl_nodeAppend(call->b, parseExpression());
      if (m_failed || !accept(VlTok::Comma)) break;
      key = parseExpression();
    }
    expect(VlTok::RBrace);
    return call;
  }
  vl_nodeAppend(arr, first);
  while (!m_failed && accept(VlTok::Comma)) vl_nodeAppend(arr, parseArgElement(true));
  expect(VlTok::RBrace);
  return arr;
}

VlNode* VlParser::parseAliased(VlNode* alias) {
  VlToken arrow = m_tok;
  advance();  // ->
  VlToken t = m_tok;
  if (t.kind == VlTok::Ident) {
    advance();
    VlNode* n = vl_nodeNew(m_arena, VlNk::AliasVar, arrow.line, arrow.col);
    n->a = alias;
    n->b = vl_nodeName(m_arena, VlNk::Var, t.text, t.line, t.col);
    return n;
  }
  if (t.kind == VlTok::MacroVar || t.kind == VlTok::MacroText) {
    advance();
    VlNode* m = vl_nodeNew(m_arena, VlNk::Macro, t.line, t.col);
    m->macroKind = t.kind == VlTok::MacroVar ? VL_MACRO_VAR : VL_MACRO_TEXT;
    m->macroSub = VL_MSUB_ALIAS;
    m->name = t.text;
    m->len = t.len;
    VlNode* n = vl_nodeNew(m_arena, VlNk::AliasVar, arrow.line, arrow.col);
    n->a = alias;
    n->b = m;
    return n;
  }
  if (t.kind == VlTok::LParen) {
    advance();
    if (!enter()) return errorNode();
    VlNode* list = vl_nodeNew(m_arena, VlNk::ParenList, t.line, t.col);
    for (;;) {
      vl_nodeAppend(list, parseExpression());
      if (m_failed || !accept(VlTok::Comma)) break;
    }
    leave();
    expect(VlTok::RParen);
    VlNode* n = vl_nodeNew(m_arena, VlNk::AliasExpr, arrow.line, arrow.col);
    n->a = alias;
    n->b = list;
    return n;
  }
  syntaxError(t);
  return errorNode();
}
