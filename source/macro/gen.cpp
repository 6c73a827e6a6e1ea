// Code generation and constant folding for expression trees; see gen.h.
#include "gen.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

bool isInt(const VlNode* n) { return n && n->kind == VlNk::Number && !n->isDouble; }
bool isNum(const VlNode* n) { return n && n->kind == VlNk::Number; }
bool isStr(const VlNode* n) { return n && n->kind == VlNk::String; }
bool isLog(const VlNode* n) { return n && n->kind == VlNk::Logical; }
double numValue(const VlNode* n) { return n->isDouble ? n->dval : static_cast<double>(n->ival); }

bool isOperator(VlNk k) {
  return vl_nodeIsBinary(k) || vl_nodeIsAssign(k) || vl_nodeIsIncDec(k) || k == VlNk::Not || k == VlNk::Neg;
}

VlPcode binaryOp(VlNk k) {
  switch (k) {
    case VlNk::Eq: return VL_P_EQ;
    case VlNk::ExactEq: return VL_P_EXACTEQ;
    case VlNk::Lt: return VL_P_LT;
    case VlNk::Gt: return VL_P_GTR;
    case VlNk::Le: return VL_P_LE;
    case VlNk::Ge: return VL_P_GE;
    case VlNk::Ne: return VL_P_NE;
    case VlNk::Contains: return VL_P_CONTAINS;
    case VlNk::Like: return VL_P_REGEXFULL;
    case VlNk::Has: return VL_P_REGEXFIND;
    case VlNk::Plus: return VL_P_ADD;
    case VlNk::Minus: return VL_P_SUB;
    case VlNk::Mult: return VL_P_MUL;
    case VlNk::Div: return VL_P_DIV;
    case VlNk::Mod: return VL_P_MOD;
    case VlNk::Power: return VL_P_POW;
    case VlNk::BitAnd: return VL_P_BAND;
    case VlNk::BitOr: return VL_P_BOR;
    case VlNk::BitXor: return VL_P_BXOR;
    case VlNk::Shr: return VL_P_SHR;
    case VlNk::Shl: return VL_P_SHL;
    case VlNk::And: return VL_P_LAND;
    case VlNk::Or: return VL_P_LOR;
    default: return VL_P_NOP;
  }
}

VlPcode compoundOp(VlNk k) {
  switch (k) {
    case VlNk::PlusEq: return VL_P_ADD;
    case VlNk::MinusEq: return VL_P_SUB;
    case VlNk::MultEq: return VL_P_MUL;
    case VlNk::DivEq: return VL_P_DIV;
    case VlNk::ModEq: return VL_P_MOD;
    default: return VL_P_POW;
  }
}

// 1 equal, 0 different, -1 not decidable at compile time (the rules of ==).
int foldExactEqual(const VlNode* a, const VlNode* b) {
  if (a->kind == VlNk::Nil && b->kind == VlNk::Nil) return 1;
  if (isNum(a) && isNum(b)) {
    if (!a->isDouble && !b->isDouble) return a->ival == b->ival;
    return numValue(a) == numValue(b);
  }
  if (isStr(a) && isStr(b)) return a->len == b->len && std::memcmp(a->name, b->name, a->len) == 0;
  if (isLog(a) && isLog(b)) return a->logical == b->logical;
  bool litA = isNum(a) || isStr(a) || isLog(a);
  bool litB = isNum(b) || isStr(b) || isLog(b);
  if ((a->kind == VlNk::Nil && litB) || (b->kind == VlNk::Nil && litA)) return 0;
  return -1;
}

// The element of a list at 0-based position i.
VlNode* listAt(VlNode* owner, uint32_t i) {
  VlNode* e = owner ? owner->list : nullptr;
  while (e && i--) e = e->next;
  return e;
}

}  // namespace

bool vl_textHasMacro(const char* text, uint32_t len) {
  for (uint32_t i = 0; i + 1 < len; ++i) {
    if (text[i] != '&') continue;
    char c = text[i + 1];
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_') return true;
  }
  return false;
}

VlCodeGen::VlCodeGen(VlArena& arena, uint32_t features, bool macroMode)
    : m_arena(arena), m_features(features), m_macro(macroMode) {}

bool VlCodeGen::isConstant(const VlNode* n) {
  return n->kind == VlNk::Number || n->kind == VlNk::String || n->kind == VlNk::Logical || n->kind == VlNk::Nil;
}

const char* VlCodeGen::callName(const VlNode* call) {
  if (call->kind != VlNk::Call || !call->a || call->a->kind != VlNk::FuncName) return nullptr;
  const char* r = vl_macroReservedName(call->a->name);
  return r ? r : call->a->name;
}

// ---------------------------------------------------------------------------------------------
// Emission helpers

void VlCodeGen::genInt(int64_t v) {
  if (v == 0) {
    m_buf->op(VL_P_PUTZERO);
  } else if (v == 1) {
    m_buf->op(VL_P_PUTONE);
  } else if (v >= -128 && v <= 127) {
    m_buf->op(VL_P_PUTINT8);
    m_buf->u1(static_cast<unsigned>(v) & 0xFF);
  } else if (v >= -32768 && v <= 32767) {
    m_buf->op(VL_P_PUTINT16);
    m_buf->u2(static_cast<unsigned>(v) & 0xFFFF);
  } else if (v >= INT32_MIN && v <= INT32_MAX) {
    m_buf->op(VL_P_PUTINT32);
    m_buf->i4(static_cast<int32_t>(v));
  } else {
    m_buf->op(VL_P_PUTINT64);
    m_buf->i8(v);
  }
}

void VlCodeGen::genBlockBody(VlNode* block) {
  if (!block->list) m_buf->op(VL_P_PUTNIL);
  for (VlNode* e = block->list; e; e = e->next) {
    if (e->next) {
      genStmt(e);
      continue;
    }
    if (e->kind == VlNk::Macro && !e->macroSub) e->macroSub = VL_MSUB_PAREN;
    genPush(e);
  }
  m_buf->op(VL_P_BLOCKEXIT);
}

void VlCodeGen::genPushNumber(const VlNode* n) {
  if (!n->isDouble) {
    genInt(n->ival);
    return;
  }
  m_buf->op(VL_P_PUTDOUBLE);
  m_buf->f8(n->dval);
  m_buf->u1(n->width);
  m_buf->u1(n->dec);
}

void VlCodeGen::genLocalOp(VlPcode op1, VlPcode op2, int n) {
  if (n >= -128 && n <= 127) {
    m_buf->op(op1);
    m_buf->u1(static_cast<unsigned>(n) & 0xFF);
  } else {
    m_buf->op(op2);
    m_buf->u2(static_cast<unsigned>(n) & 0xFFFF);
  }
}

size_t VlCodeGen::jumpForward(VlPcode op2) {
  size_t at = m_buf->size();
  if (m_longJumps) {
    m_buf->op(static_cast<VlPcode>(op2 + 1));
    m_buf->s3(0);
  } else {
    m_buf->op(op2);
    m_buf->u2(0);
  }
  return at;
}

void VlCodeGen::patchJump(size_t at) {
  int64_t offset = static_cast<int64_t>(m_buf->size()) - static_cast<int64_t>(at);
  VlPcode op = static_cast<VlPcode>(m_buf->code[at]);
  if (op == VL_P_GOTO3 || op == VL_P_IFNOT3 || op == VL_P_IFSO3) {
    if (offset > 0x7FFFFF) {
      m_jumpOverflow = true;
      return;
    }
    m_buf->putS3At(at + 1, static_cast<int32_t>(offset));
    return;
  }
  if (offset > 32767) {
    m_jumpOverflow = true;
    return;
  }
  m_buf->putU2At(at + 1, static_cast<unsigned>(offset));
}

void VlCodeGen::jumpBack(VlPcode op2, size_t target) {
  int64_t offset = static_cast<int64_t>(target) - static_cast<int64_t>(m_buf->size());
  if (offset >= -32768 && !m_longJumps) {
    m_buf->op(op2);
    m_buf->u2(static_cast<unsigned>(offset) & 0xFFFF);
    return;
  }
  if (m_macro || offset < -0x800000) {
    m_jumpOverflow = true;
    m_buf->op(op2);
    m_buf->u2(0);
    return;
  }
  m_buf->op(static_cast<VlPcode>(op2 + 1));
  m_buf->s3(static_cast<int32_t>(offset));
}

// ---------------------------------------------------------------------------------------------
// Generation

void VlCodeGen::gen(VlNode* n, VlGenMode mode) {
  switch (mode) {
    case VlGenMode::Push: genPush(n); break;
    case VlGenMode::Pop: genPop(n); break;
    case VlGenMode::Stmt: genStmt(n); break;
  }
}

void VlCodeGen::genPush(VlNode* n) {
  switch (n->kind) {
    case VlNk::Empty:
    case VlNk::Nil: m_buf->op(VL_P_PUTNIL); return;
    case VlNk::Number: genPushNumber(n); return;
    case VlNk::String: genString(n); return;
    case VlNk::Logical: m_buf->op(n->logical ? VL_P_PUTTRUE : VL_P_PUTFALSE); return;
    case VlNk::Self: m_buf->op(VL_P_LOADSELF); return;
    case VlNk::Block: genBlock(n); return;
    case VlNk::Array: genArray(n, false); return;
    case VlNk::VarRef: genVarRef(n); return;
    case VlNk::FuncRef: {
      const char* r = vl_macroReservedName(n->name);
      genNameOp(VlNameOp::FuncSymbol, r ? r : n->name, n);
      m_buf->op(VL_P_FUNCADDR);
      return;
    }
    case VlNk::Iif: genIif(n); return;
    case VlNk::ParenList:
      if (!n->count) {
        compileError(VlCompError::Target, n, "empty parentheses");
        m_buf->op(VL_P_PUTNIL);
        return;
      }
      genList(n->list, true);
      return;
    case VlNk::ArgList:
      for (VlNode* e = n->list; e; e = e->next) genPush(e);
      return;
    case VlNk::Elem: genElem(n, false); return;
    case VlNk::Macro: genMacro(n, false); return;
    case VlNk::Call: genCall(n, VlGenMode::Push); return;
    case VlNk::AliasVar: genAliasVar(n, false); return;
    case VlNk::AliasExpr: genAliasExpr(n, VlGenMode::Push); return;
    case VlNk::Send:
    case VlNk::WithSend: genSend(n); return;
    case VlNk::FuncName: genNameOp(VlNameOp::FuncSymbol, n->name, n); return;
    case VlNk::AliasName: genNameOp(VlNameOp::AliasSymbol, n->name, n); return;
    case VlNk::Var: genVar(n, VlGenMode::Push); return;
    case VlNk::PostInc:
    case VlNk::PostDec:
    case VlNk::PreInc:
    case VlNk::PreDec: genIncDec(n, VlGenMode::Push); return;
    case VlNk::Assign: genAssign(n, VlGenMode::Push); return;
    case VlNk::PlusEq:
    case VlNk::MinusEq:
    case VlNk::MultEq:
    case VlNk::DivEq:
    case VlNk::ModEq:
    case VlNk::PowEq: genCompound(n, VlGenMode::Push); return;
    case VlNk::Not:
      genPush(n->a);
      m_buf->op(VL_P_LNOT);
      return;
    case VlNk::Neg:
      genPush(n->a);
      m_buf->op(VL_P_NEG);
      return;
    case VlNk::And:
    case VlNk::Or: genLogical(n, VlGenMode::Push); return;
    default: genBinary(n, VlGenMode::Push); return;
  }
}

void VlCodeGen::genStmt(VlNode* n) {
  switch (n->kind) {
    case VlNk::Call: genCall(n, VlGenMode::Stmt); return;
    case VlNk::Assign: genAssign(n, VlGenMode::Stmt); return;
    case VlNk::PlusEq:
    case VlNk::MinusEq:
    case VlNk::MultEq:
    case VlNk::DivEq:
    case VlNk::ModEq:
    case VlNk::PowEq: genCompound(n, VlGenMode::Stmt); return;
    case VlNk::PostInc:
    case VlNk::PostDec:
    case VlNk::PreInc:
    case VlNk::PreDec: genIncDec(n, VlGenMode::Stmt); return;
    case VlNk::ParenList: genList(n->list, false); return;
    case VlNk::Array: genArray(n, true); return;
    case VlNk::AliasExpr: genAliasExpr(n, VlGenMode::Stmt); return;
    case VlNk::And:
    case VlNk::Or: genLogical(n, VlGenMode::Stmt); return;
    case VlNk::Not:
    case VlNk::Neg:
      if (m_features & VL_FEAT_STMTOPS) {
        genStmt(n->a);
        return;
      }
      break;
    case VlNk::Empty: return;
    default:
      if (vl_nodeIsBinary(n->kind)) {
        genBinary(n, VlGenMode::Stmt);
        return;
      }
      break;
  }
  genPush(n);
  m_buf->op(VL_P_DROP);
}

void VlCodeGen::genPop(VlNode* n) {
  switch (n->kind) {
    case VlNk::Var: genVar(n, VlGenMode::Pop); return;
    case VlNk::Elem: genElem(n, true); return;
    case VlNk::Macro:
      if (n->refFlag) break;
      genMacro(n, true);
      return;
    case VlNk::AliasVar:
      if (n->refFlag) break;
      genAliasVar(n, true);
      return;
    default: break;
  }
  compileError(VlCompError::Target, n, "invalid assignment target");
}

bool VlCodeGen::isTarget(const VlNode* n) const {
  switch (n->kind) {
    case VlNk::Var:
    case VlNk::Elem:
    case VlNk::WithSend: return n->kind != VlNk::WithSend || !n->c;
    case VlNk::Send: return !n->c && !n->refFlag;
    case VlNk::Macro:
    case VlNk::AliasVar: return !n->refFlag;
    default: return false;
  }
}

void VlCodeGen::genString(const VlNode* n) {
  genStringPush(n->name, n->len);
  if (vl_textHasMacro(n->name, n->len)) m_buf->op(VL_P_MACTEXT);
}

void VlCodeGen::genList(VlNode* first, bool lastPushed) {
  for (VlNode* e = first; e; e = e->next) {
    if (!e->next && lastPushed) {
      if (e->kind == VlNk::Macro && !e->macroSub && (m_features & VL_FEAT_EXTMACRO)) e->macroSub = VL_MSUB_PAREN;
      genPush(e);
    } else {
      genStmt(e);
    }
  }
}

void VlCodeGen::genArray(VlNode* n, bool statement) {
  if (statement) {
    for (VlNode* e = n->list; e; e = e->next) genStmt(e);
    return;
  }
  bool macroList = false;
  if (m_features & VL_FEAT_EXTMACRO)
    for (VlNode* e = n->list; e; e = e->next)
      if (e->kind == VlNk::Macro && !e->macroSub) macroList = true;
  if (macroList) m_buf->op(VL_P_MACLISTOPEN);
  for (VlNode* e = n->list; e; e = e->next) {
    if (macroList && e->kind == VlNk::Macro && !e->macroSub) e->macroSub = VL_MSUB_LIST;
    genPush(e);
  }
  if (macroList) m_buf->op(VL_P_MACLISTCLOSE);
  if (n->count > 0xFFFF) compileError(VlCompError::Other, n, "too many array elements");
  m_buf->op(VL_P_MAKEARRAY);
  m_buf->u2(n->count & 0xFFFF);
}

void VlCodeGen::genIif(VlNode* n) {
  genPush(n->a);
  size_t toElse = jumpForward(VL_P_IFNOT2);
  genPush(n->b);
  size_t toEnd = jumpForward(VL_P_GOTO2);
  patchJump(toElse);
  genPush(n->c);
  patchJump(toEnd);
}

// The array operand must be something that can hold an array, the index something that can be
// a position or a key.
bool VlCodeGen::checkElem(VlNode* n) {
  VlNode* a = n->a;
  switch (a->kind) {
    case VlNk::Empty:
    case VlNk::Nil:
    case VlNk::Number:
    case VlNk::Logical:
    case VlNk::Block:
    case VlNk::VarRef:
    case VlNk::FuncRef:
    case VlNk::PreInc:
    case VlNk::PreDec:
    case VlNk::Not:
    case VlNk::Neg:
      compileError(VlCompError::Operand, a, "invalid array operand");
      return false;
    default:
      if ((vl_nodeIsAssign(a->kind) && a->kind != VlNk::Assign) || (vl_nodeIsBinary(a->kind) && a->kind != VlNk::Eq)) {
        compileError(VlCompError::Operand, a, "invalid array operand");
        return false;
      }
      break;
  }
  switch (n->b->kind) {
    case VlNk::Nil:
    case VlNk::Logical:
    case VlNk::Block:
    case VlNk::Self:
    case VlNk::Array:
    case VlNk::And:
    case VlNk::Or:
    case VlNk::Not:
      compileError(VlCompError::Index, n->b, "invalid array index");
      return false;
    default: return true;
  }
}

void VlCodeGen::genElem(VlNode* n, bool pop) {
  checkElem(n);
  VlNode* a = n->a;
  if (a->kind == VlNk::Var) {
    genElemArray(a, pop);
  } else if (pop && a->kind == VlNk::Send && !a->c) {
    genMessage(a->b, false);
    genPush(a->a);
    m_buf->op(VL_P_INSTVARREF);
  } else if (pop && a->kind == VlNk::AliasVar && a->a->kind == VlNk::AliasName && a->b->kind == VlNk::Var &&
             (!std::strcmp(a->a->name, "M") || !std::strcmp(a->a->name, "MEMV") || !std::strcmp(a->a->name, "MEMVA") ||
              !std::strcmp(a->a->name, "MEMVAR"))) {
    genNameOp(VlNameOp::RefVar, a->b->name, a->b);
  } else {
    genPush(a);
  }
  VlNode* index = n->b;
  if (index->kind == VlNk::Macro && !index->macroSub && (m_features & VL_FEAT_EXTMACRO)) index->macroSub = VL_MSUB_INDEX;
  genPush(index);
  m_buf->op(pop ? VL_P_ELEMPUT : VL_P_ELEMGET);
}

void VlCodeGen::genMacroSource(VlNode* n) {
  switch (n->macroKind) {
    case VL_MACRO_VAR: genVar(vl_nodeName(m_arena, VlNk::Var, n->name, n->line, n->col), VlGenMode::Push); break;
    case VL_MACRO_TEXT: genStringPush(n->name, n->len); break;
    default: genPush(n->a); break;
  }
}

void VlCodeGen::genMacro(VlNode* n, bool pop) {
  genMacroSource(n);
  if (n->refFlag) {
    m_buf->op(VL_P_MACSYMBOL);
    m_buf->op(VL_P_MACREF);
    return;
  }
  if (pop) {
    if (n->macroSub != VL_MSUB_ALIAS) {
      m_buf->op(VL_P_MACSTORE);
      m_buf->u1(0x40);
    }
    return;
  }
  switch (n->macroSub) {
    case VL_MSUB_FUNC: m_buf->op(VL_P_MACSYMBOL); return;
    case VL_MSUB_ALIAS: return;
    case VL_MSUB_ARG:
      // The call's function symbol follows: the executor binds the argument list to it.
      if (n->call && n->call->a && n->call->a->kind == VlNk::FuncName) {
        m_buf->op(VL_P_MACLOADARGS);
        m_buf->u1(0x40);
        const char* r = vl_macroReservedName(n->call->a->name);
        genNameOp(VlNameOp::FuncSymbol, r ? r : n->call->a->name, n);
      } else {
        m_buf->op(VL_P_MACLOAD);
        m_buf->u1(0x40);
      }
      return;
    case VL_MSUB_LIST: m_buf->op(VL_P_MACLOADLIST); break;
    case VL_MSUB_INDEX: m_buf->op(VL_P_MACLOADINDEX); break;
    case VL_MSUB_PAREN: m_buf->op(VL_P_MACLOADEXPR); break;
    default: m_buf->op(VL_P_MACLOAD); break;
  }
  m_buf->u1(0x40);
}

void VlCodeGen::genFuncExpr(VlNode* f) {
  if (f->kind == VlNk::FuncName) {
    const char* r = vl_macroReservedName(f->name);
    onCall(r ? r : f->name, r != nullptr);
    genNameOp(VlNameOp::FuncSymbol, r ? r : f->name, f);
  } else {
    genMacroSource(f);
    m_buf->op(VL_P_MACSYMBOL);
  }
}

void VlCodeGen::genArgs(VlNode* args, VlNode* call, uint32_t* count) {
  *count = 0;
  if (!args) return;
  if (args->count == 1 && args->list->kind == VlNk::Empty) return;
  for (VlNode* e = args->list; e; e = e->next) {
    if (e->kind == VlNk::Macro && !e->macroSub && call && (m_features & VL_FEAT_EXTMACRO)) {
      e->macroSub = VL_MSUB_ARG;
      e->call = call;
    }
    genPush(e);
    ++*count;
  }
}

bool VlCodeGen::genSpecialCall(VlNode* n, VlGenMode mode) {
  const char* name = callName(n);
  if (!name) return false;
  VlNode* args = n->b;
  uint32_t argc = args ? args->count : 0;
  if (argc == 1 && args->list->kind == VlNk::Empty) argc = 0;
  bool push = mode == VlGenMode::Push;
  if (!std::strcmp(name, "VL_ENUMINDEX")) {
    if (push) m_buf->op(VL_P_EACHINDEX);
    return true;
  }
  if (!std::strcmp(name, "VL_QWITH")) {
    if (push) m_buf->op(VL_P_LOADWITH);
    return true;
  }
  if (!std::strcmp(name, "VL_SETWITH")) {
    if (push) m_buf->op(VL_P_LOADWITH);
    if (argc) {
      genPush(args->list);
      m_buf->op(VL_P_WITHOPEN);
    } else {
      m_buf->op(VL_P_WITHCLOSE);
    }
    return true;
  }
  if (push && argc == 2 && (!std::strcmp(name, "LEFT") || !std::strcmp(name, "RIGHT"))) {
    VlNode* count = args->list->next;
    if (isInt(count) && count->ival >= 0 && count->ival <= 65535) {
      VlNode* s = args->list;
      if (s->kind == VlNk::VarRef) genVar(vl_nodeName(m_arena, VlNk::Var, s->name, s->line, s->col), VlGenMode::Push);
      else genPush(s);
      m_buf->op(name[0] == 'L' ? VL_P_STRLEFT : VL_P_STRRIGHT);
      m_buf->u2(static_cast<unsigned>(count->ival));
      return true;
    }
  }
  return false;
}

void VlCodeGen::genCall(VlNode* n, VlGenMode mode) {
  if (genSpecialCall(n, mode)) return;
  genFuncExpr(n->a);
  m_buf->op(VL_P_PUTNIL);
  uint32_t argc = 0;
  genArgs(n->b, n, &argc);
  if (argc > 0xFFFF) compileError(VlCompError::Other, n, "too many arguments");
  bool push = mode == VlGenMode::Push;
  if (argc < 256) {
    m_buf->op(push ? VL_P_CALLF1 : VL_P_CALLP1);
    m_buf->u1(argc);
  } else {
    m_buf->op(push ? VL_P_CALLF2 : VL_P_CALLP2);
    m_buf->u2(argc & 0xFFFF);
  }
}

namespace {
bool isMemvarAlias(const char* a) {
  return !std::strcmp(a, "M") || !std::strcmp(a, "MEMV") || !std::strcmp(a, "MEMVA") || !std::strcmp(a, "MEMVAR");
}
bool isFieldAlias(const char* a) { return !std::strcmp(a, "FIEL") || !std::strcmp(a, "FIELD"); }
}  // namespace

void VlCodeGen::genAliasVar(VlNode* n, bool pop) {
  VlNode* alias = n->a;
  VlNode* var = n->b;
  if (alias->kind == VlNk::Macro || var->kind == VlNk::Macro) {
    if (n->refFlag) {
      compileError(VlCompError::Target, n, "invalid reference with '@'");
      return;
    }
    if (alias->kind == VlNk::AliasName) genStringPush(alias->name, alias->len);
    else if (alias->kind == VlNk::Macro) genMacroSource(alias);
    else genPush(alias);
    if (var->kind == VlNk::Var) genStringPush(var->name, var->len);
    else genMacroSource(var);
    m_buf->op(pop ? VL_P_MACSTOREALIAS : VL_P_MACLOADALIAS);
    m_buf->u1(0x40);
    return;
  }
  const char* name = var->name;
  switch (alias->kind) {
    case VlNk::Number:
      if (alias->isDouble || n->refFlag) break;
      genInt(alias->ival);
      genNameOp(pop ? VlNameOp::PopAliasField : VlNameOp::PushAliasField, name, var);
      return;
    case VlNk::AliasName:
      if (isMemvarAlias(alias->name)) {
        genNameOp(n->refFlag ? VlNameOp::RefVar : pop ? VlNameOp::PopMemvar : VlNameOp::PushMemvar, name, var);
        return;
      }
      if (n->refFlag) {
        compileError(VlCompError::Target, n, "a field cannot be passed by reference");
        return;
      }
      if (isFieldAlias(alias->name)) {
        genNameOp(pop ? VlNameOp::PopField : VlNameOp::PushField, name, var);
        return;
      }
      genNameOp(VlNameOp::AliasSymbol, alias->name, alias);
      genNameOp(pop ? VlNameOp::PopAliasField : VlNameOp::PushAliasField, name, var);
      return;
    case VlNk::ParenList:
      if (n->refFlag) break;
      genList(alias->list, true);
      genNameOp(pop ? VlNameOp::PopAliasVar : VlNameOp::PushAliasVar, name, var);
      return;
    default: break;
  }
  compileError(VlCompError::Alias, alias, "invalid alias");
}

void VlCodeGen::genAliasPush(VlNode* alias) {
  switch (alias->kind) {
    case VlNk::AliasName: genNameOp(VlNameOp::AliasSymbol, alias->name, alias); return;
    case VlNk::Number:
      if (alias->isDouble) break;
      genInt(alias->ival);
      return;
    case VlNk::ParenList: genList(alias->list, true); return;
    case VlNk::Macro: genMacroSource(alias); return;
    default: break;
  }
  compileError(VlCompError::Alias, alias, "invalid alias");
}

void VlCodeGen::genAliasExpr(VlNode* n, VlGenMode mode) {
  if (mode == VlGenMode::Pop) {
    compileError(VlCompError::Target, n, "invalid assignment target");
    return;
  }
  m_buf->op(VL_P_LOADALIAS);
  genAliasPush(n->a);
  m_buf->op(VL_P_STOREALIAS);
  if (mode == VlGenMode::Push) {
    genList(n->b->list, true);
    m_buf->op(VL_P_ALIASSWAP);
  } else {
    genList(n->b->list, false);
    m_buf->op(VL_P_STOREALIAS);
  }
}

void VlCodeGen::genMessage(VlNode* msg, bool setter) {
  if (msg->kind == VlNk::FuncName) {
    if (!setter) {
      genNameOp(VlNameOp::MsgSymbol, msg->name, msg);
      return;
    }
    size_t n = msg->len < 62 ? msg->len : 62;
    char* name = static_cast<char*>(m_arena.alloc(n + 2));
    name[0] = '_';
    std::memcpy(name + 1, msg->name, n);
    name[n + 1] = '\0';
    genNameOp(VlNameOp::MsgSymbol, name, msg);
    return;
  }
  // A macro message: the setter's name is "_" followed by the macro's text.
  if (setter) genStringPush("_", 1);
  genMacroSource(msg);
  if (setter) m_buf->op(VL_P_ADD);
  m_buf->op(VL_P_MACSYMBOL);
}

void VlCodeGen::genSendOp(VlNode* send, uint32_t argc) {
  bool with = send->kind == VlNk::WithSend;
  if (argc > 0xFFFF) compileError(VlCompError::Other, send, "too many arguments");
  if (argc < 256) {
    m_buf->op(with ? VL_P_WITHSEND1 : VL_P_SEND1);
    m_buf->u1(argc);
  } else {
    m_buf->op(with ? VL_P_WITHSEND2 : VL_P_SEND2);
    m_buf->u2(argc & 0xFFFF);
  }
}

void VlCodeGen::genSend(VlNode* n) {
  genMessage(n->b, false);
  if (n->kind == VlNk::Send) genPush(n->a);
  else m_buf->op(VL_P_PUTNIL);
  if (n->c) {
    uint32_t argc = 0;
    genArgs(n->c, nullptr, &argc);
    genSendOp(n, argc);
  } else if (n->refFlag && n->kind == VlNk::Send) {
    m_buf->op(VL_P_INSTVARREF);
  } else {
    genSendOp(n, 0);
  }
}

// setter, object, getter, object, SEND 0, [value], operation, SEND 1: the object expression is
// evaluated twice.
void VlCodeGen::genSendUpdate(VlNode* t, VlNode* value, VlPcode operation) {
  bool with = t->kind == VlNk::WithSend;
  genMessage(t->b, true);
  if (with) m_buf->op(VL_P_PUTNIL);
  else genPush(t->a);
  genMessage(t->b, false);
  if (with) m_buf->op(VL_P_PUTNIL);
  else genPush(t->a);
  genSendOp(t, 0);
  if (value) genPush(value);
  m_buf->op(operation);
  genSendOp(t, 1);
}

void VlCodeGen::genAssign(VlNode* n, VlGenMode mode) {
  VlNode* t = n->a;
  VlNode* v = n->b;
  if (!isTarget(t)) {
    compileError(VlCompError::Target, t, "invalid assignment target");
    return;
  }
  if (t->kind == VlNk::Send || t->kind == VlNk::WithSend) {
    genMessage(t->b, true);
    if (t->kind == VlNk::Send) genPush(t->a);
    else m_buf->op(VL_P_PUTNIL);
    genPush(v);
    genSendOp(t, 1);
    if (mode == VlGenMode::Stmt) m_buf->op(VL_P_DROP);
    return;
  }
  if (mode == VlGenMode::Stmt) {
    if (genAssignFast(t, v)) return;
    genPush(v);
    genPop(t);
    return;
  }
  genPush(v);
  m_buf->op(VL_P_DUP);
  genPop(t);
}

void VlCodeGen::genCompound(VlNode* n, VlGenMode mode) {
  VlNode* t = n->a;
  if (!isTarget(t)) {
    compileError(VlCompError::Target, t, "invalid assignment target");
    return;
  }
  VlPcode op = compoundOp(n->kind);
  if (t->kind == VlNk::Send || t->kind == VlNk::WithSend) {
    genSendUpdate(t, n->b, op);
    if (mode == VlGenMode::Stmt) m_buf->op(VL_P_DROP);
    return;
  }
  genPush(t);
  genPush(n->b);
  m_buf->op(op);
  if (mode == VlGenMode::Push) m_buf->op(VL_P_DUP);
  genPop(t);
}

void VlCodeGen::genIncDec(VlNode* n, VlGenMode mode) {
  VlNode* t = n->a;
  if (!isTarget(t)) {
    compileError(VlCompError::Target, t, "invalid increment target");
    return;
  }
  bool inc = n->kind == VlNk::PreInc || n->kind == VlNk::PostInc;
  bool post = n->kind == VlNk::PostInc || n->kind == VlNk::PostDec;
  VlPcode op = inc ? VL_P_INCR : VL_P_DECR;
  if (t->kind == VlNk::Send || t->kind == VlNk::WithSend) {
    if (mode == VlGenMode::Push && post) {
      genSend(t);
      genSendUpdate(t, nullptr, op);
      m_buf->op(VL_P_DROP);
      return;
    }
    genSendUpdate(t, nullptr, op);
    if (mode == VlGenMode::Stmt) m_buf->op(VL_P_DROP);
    return;
  }
  if (mode == VlGenMode::Stmt) {
    if (genIncFast(t, inc)) return;
    genPush(t);
    m_buf->op(op);
    genPop(t);
    return;
  }
  genPush(t);
  if (post) {
    m_buf->op(VL_P_DUP);
    m_buf->op(op);
  } else {
    m_buf->op(op);
    m_buf->op(VL_P_DUP);
  }
  genPop(t);
}

void VlCodeGen::genLogical(VlNode* n, VlGenMode mode) {
  bool isOr = n->kind == VlNk::Or;
  bool shortcut = (m_features & VL_FEAT_SHORTCUT) != 0;
  if (mode == VlGenMode::Push) {
    if (!shortcut) {
      genPush(n->a);
      genPush(n->b);
      m_buf->op(isOr ? VL_P_LOR : VL_P_LAND);
      return;
    }
    if (isOr) {
      genPush(n->a);
      m_buf->op(VL_P_DUP);
      size_t j = jumpForward(VL_P_IFSO2);
      genPush(n->b);
      m_buf->op(VL_P_LOR);
      patchJump(j);
    } else {
      m_buf->op(VL_P_PUTFALSE);
      genPush(n->a);
      size_t j = jumpForward(VL_P_IFNOT2);
      m_buf->op(VL_P_DROP);
      genPush(n->b);
      patchJump(j);
    }
    return;
  }
  if (shortcut) {
    genPush(n->a);
    size_t j = jumpForward(isOr ? VL_P_IFSO2 : VL_P_IFNOT2);
    genPush(n->b);
    m_buf->op(VL_P_DROP);
    patchJump(j);
  } else {
    genPush(n->a);
    m_buf->op(VL_P_DROP);
    genPush(n->b);
    m_buf->op(VL_P_DROP);
  }
}

void VlCodeGen::genBinary(VlNode* n, VlGenMode mode) {
  if (mode == VlGenMode::Stmt) {
    if (m_features & VL_FEAT_STMTOPS) {
      genStmt(n->a);
      genStmt(n->b);
      return;
    }
    genBinary(n, VlGenMode::Push);
    m_buf->op(VL_P_DROP);
    return;
  }
  if (n->kind == VlNk::Eq && isConstant(n->a) && isConstant(n->b)) {
    // "=" of two constants folds only where SET EXACT cannot matter.
    int r;
    if (isStr(n->a) && isStr(n->b)) r = (n->a->len == 0 && n->b->len == 0) ? 1 : -1;
    else r = foldExactEqual(n->a, n->b);
    if (r >= 0) {
      m_buf->op(r ? VL_P_PUTTRUE : VL_P_PUTFALSE);
      return;
    }
  }
  genPush(n->a);
  genPush(n->b);
  m_buf->op(binaryOp(n->kind));
}

// ---------------------------------------------------------------------------------------------
// Reduction

void VlCodeGen::reduceList(VlNode* owner) {
  if (!owner) return;
  VlNode* prev = nullptr;
  for (VlNode* e = owner->list; e;) {
    VlNode* next = e->next;
    VlNode* r = reduce(e);
    r->next = next;
    if (prev) prev->next = r;
    else owner->list = r;
    prev = r;
    e = next;
  }
}

void VlCodeGen::reduceTarget(VlNode* t) {
  switch (t->kind) {
    case VlNk::Elem:
      if (t->a->kind == VlNk::Elem) reduceTarget(t->a);
      else if (t->a->kind != VlNk::Var) t->a = reduce(t->a);
      t->b = reduce(t->b);
      break;
    case VlNk::Send:
      t->a = reduce(t->a);
      if (t->c) reduceList(t->c);
      break;
    case VlNk::AliasVar:
      if (t->a->kind == VlNk::ParenList) reduceList(t->a);
      break;
    case VlNk::Macro:
      if (t->macroKind == VL_MACRO_EXPR) t->a = reduce(t->a);
      break;
    default: break;
  }
}

VlNode* VlCodeGen::reduce(VlNode* n) {
  if (!n) return n;
  switch (n->kind) {
    case VlNk::ParenList:
      reduceList(n);
      if (n->count == 1 && !isOperator(n->list->kind)) return n->list;
      return n;
    case VlNk::Not:
      n->a = reduce(n->a);
      if (isLog(n->a)) return vl_nodeLogical(m_arena, !n->a->logical);
      return n;
    case VlNk::Neg: {
      n->a = reduce(n->a);
      VlNode* a = n->a;
      if (!isNum(a)) return n;
      if (!a->isDouble) {
        if (a->ival == INT64_MIN) return vl_nodeDouble(m_arena, -static_cast<double>(a->ival), 255, 0);
        return vl_nodeInt(m_arena, -a->ival);
      }
      // The sign needs a place in the display width.
      int width = a->width == 255 ? 255 : (a->width < 99 ? a->width + 1 : 255);
      return vl_nodeDouble(m_arena, -a->dval, width, a->dec);
    }
    case VlNk::Iif:
      n->a = reduce(n->a);
      n->b = reduce(n->b);
      n->c = reduce(n->c);
      if (isLog(n->a)) return n->a->logical ? n->b : n->c;
      switch (n->a->kind) {
        case VlNk::Nil:
        case VlNk::String:
        case VlNk::Block:
        case VlNk::Self:
        case VlNk::Array: compileError(VlCompError::Operand, n->a, "invalid condition"); break;
        default: break;
      }
      return n;
    case VlNk::Elem: {
      n->a = reduce(n->a);
      n->b = reduce(n->b);
      if (n->a->kind == VlNk::Array && isInt(n->b)) {
        int64_t i = n->b->ival;
        if (i < 1 || i > static_cast<int64_t>(n->a->count)) {
          compileError(VlCompError::Index, n->b, "array index out of range");
          return n;
        }
        VlNode* copy = detached(listAt(n->a, static_cast<uint32_t>(i - 1)));
        if (copy->kind == VlNk::Empty) copy->kind = VlNk::Nil;
        return copy;
      }
      // v[LEN(v)] is v[-1].
      if (n->a->kind == VlNk::Var && n->b->kind == VlNk::Call) {
        const char* fn = callName(n->b);
        VlNode* args = n->b->b;
        if (fn && !std::strcmp(fn, "LEN") && args && args->count == 1 && args->list->kind == VlNk::Var &&
            !std::strcmp(args->list->name, n->a->name))
          n->b = vl_nodeInt(m_arena, -1);
      }
      return n;
    }
    case VlNk::Call: return reduceCall(n);
    case VlNk::Array:
    case VlNk::Block:
    case VlNk::ArgList: reduceList(n); return n;
    case VlNk::Send:
      n->a = reduce(n->a);
      if (n->c) reduceList(n->c);
      return n;
    case VlNk::WithSend:
      if (n->c) reduceList(n->c);
      return n;
    case VlNk::AliasVar:
      if (n->a->kind == VlNk::ParenList) reduceList(n->a);
      return n;
    case VlNk::AliasExpr:
      if (n->a->kind == VlNk::ParenList) reduceList(n->a);
      reduceList(n->b);
      return n;
    case VlNk::Macro:
      if (n->macroKind == VL_MACRO_EXPR) n->a = reduce(n->a);
      return n;
    default: break;
  }
  if (vl_nodeIsAssign(n->kind)) {
    reduceTarget(n->a);
    n->b = reduce(n->b);
    return n;
  }
  if (vl_nodeIsIncDec(n->kind)) {
    reduceTarget(n->a);
    return n;
  }
  if (vl_nodeIsBinary(n->kind)) return reduceBinary(n);
  return n;
}

VlNode* VlCodeGen::reduceBinary(VlNode* n) {
  n->a = reduce(n->a);
  n->b = reduce(n->b);
  VlNode* a = n->a;
  VlNode* b = n->b;
  switch (n->kind) {
    case VlNk::Plus:
    case VlNk::Minus:
    case VlNk::Mult: {
      if (n->kind == VlNk::Plus && isStr(a) && isStr(b)) {
        if (!b->len) return a;
        if (!a->len) return b;
        char* s = static_cast<char*>(m_arena.alloc(a->len + b->len + 1));
        std::memcpy(s, a->name, a->len);
        std::memcpy(s + a->len, b->name, b->len);
        s[a->len + b->len] = '\0';
        VlNode* r = vl_nodeNew(m_arena, VlNk::String, a->line, a->col);
        r->name = s;
        r->len = a->len + b->len;
        return r;
      }
      if (!isNum(a) || !isNum(b)) return n;
      if (!a->isDouble && !b->isDouble) {
        int64_t r;
        bool overflow = n->kind == VlNk::Plus    ? __builtin_add_overflow(a->ival, b->ival, &r)
                        : n->kind == VlNk::Minus ? __builtin_sub_overflow(a->ival, b->ival, &r)
                                                 : __builtin_mul_overflow(a->ival, b->ival, &r);
        if (!overflow) return vl_nodeInt(m_arena, r);
        double da = static_cast<double>(a->ival), db = static_cast<double>(b->ival);
        double d = n->kind == VlNk::Plus ? da + db : n->kind == VlNk::Minus ? da - db : da * db;
        return vl_nodeDouble(m_arena, d, 255, 0);
      }
      double da = numValue(a), db = numValue(b);
      double d = n->kind == VlNk::Plus ? da + db : n->kind == VlNk::Minus ? da - db : da * db;
      int dec;
      if (a->isDouble && b->isDouble) {
        if (a->dec == 255 || b->dec == 255) dec = 255;
        else if (n->kind == VlNk::Mult) dec = a->dec + b->dec > 99 ? 99 : a->dec + b->dec;
        else dec = a->dec > b->dec ? a->dec : b->dec;
      } else {
        dec = a->isDouble ? a->dec : b->dec;
      }
      return vl_nodeDouble(m_arena, d, 255, dec);
    }
    case VlNk::Div:
      if (!isNum(a) || !isNum(b) || numValue(b) == 0) return n;
      if (!a->isDouble && !b->isDouble && !(a->ival == INT64_MIN && b->ival == -1) && a->ival % b->ival == 0)
        return vl_nodeInt(m_arena, a->ival / b->ival);
      return vl_nodeDouble(m_arena, numValue(a) / numValue(b), 255, 255);
    case VlNk::Mod:
      if (!isInt(a) || !isInt(b) || b->ival == 0) return n;
      return vl_nodeInt(m_arena, b->ival == -1 ? 0 : a->ival % b->ival);
    case VlNk::Contains:
      // As the run-time operator: an empty left string is never contained.
      if (!isStr(a) || !isStr(b)) return n;
      if (!a->len || a->len > b->len) return vl_nodeLogical(m_arena, false);
      for (uint32_t i = 0; i + a->len <= b->len; ++i)
        if (std::memcmp(b->name + i, a->name, a->len) == 0) return vl_nodeLogical(m_arena, true);
      return vl_nodeLogical(m_arena, false);
    case VlNk::ExactEq: {
      int r = foldExactEqual(a, b);
      return r >= 0 ? vl_nodeLogical(m_arena, r != 0) : n;
    }
    case VlNk::Ne: {
      if (a->kind == VlNk::Nil && b->kind == VlNk::Nil) return vl_nodeLogical(m_arena, false);
      if (isNum(a) && isNum(b)) {
        bool differ = (!a->isDouble && !b->isDouble) ? a->ival != b->ival : numValue(a) != numValue(b);
        return vl_nodeLogical(m_arena, differ);
      }
      if (isStr(a) && isStr(b)) return (!a->len && !b->len) ? vl_nodeLogical(m_arena, false) : n;
      if (isLog(a) && isLog(b)) return vl_nodeLogical(m_arena, a->logical != b->logical);
      bool litA = isNum(a) || isStr(a) || isLog(a);
      bool litB = isNum(b) || isStr(b) || isLog(b);
      if ((a->kind == VlNk::Nil && litB) || (b->kind == VlNk::Nil && litA)) return vl_nodeLogical(m_arena, true);
      if (isLog(a) || isLog(b)) {
        VlNode* c = isLog(a) ? a : b;
        VlNode* x = isLog(a) ? b : a;
        return c->logical ? vl_nodeUnary(m_arena, VlNk::Not, x) : x;
      }
      return n;
    }
    case VlNk::Lt:
    case VlNk::Le:
    case VlNk::Gt:
    case VlNk::Ge: {
      double da, db;
      if (isNum(a) && isNum(b)) {
        if (!a->isDouble && !b->isDouble) {
          int64_t x = a->ival, y = b->ival;
          bool r = n->kind == VlNk::Lt ? x < y : n->kind == VlNk::Le ? x <= y : n->kind == VlNk::Gt ? x > y : x >= y;
          return vl_nodeLogical(m_arena, r);
        }
        da = numValue(a);
        db = numValue(b);
      } else if (isLog(a) && isLog(b)) {
        da = a->logical;
        db = b->logical;
      } else {
        return n;
      }
      bool r = n->kind == VlNk::Lt ? da < db : n->kind == VlNk::Le ? da <= db : n->kind == VlNk::Gt ? da > db : da >= db;
      return vl_nodeLogical(m_arena, r);
    }
    case VlNk::And:
    case VlNk::Or: {
      bool isAnd = n->kind == VlNk::And;
      if (isLog(a) && isLog(b)) return vl_nodeLogical(m_arena, isAnd ? a->logical && b->logical : a->logical || b->logical);
      if (!(m_features & VL_FEAT_SHORTCUT)) return n;
      // The deciding constant wins; the neutral one gives the other operand.
      for (int side = 0; side < 2; ++side) {
        VlNode* c = side ? b : a;
        VlNode* other = side ? a : b;
        if (!isLog(c)) continue;
        if (c->logical == isAnd) return other;
        return vl_nodeLogical(m_arena, !isAnd);
      }
      return n;
    }
    case VlNk::BitAnd:
    case VlNk::BitOr:
    case VlNk::BitXor:
      if (!isInt(a) || !isInt(b)) return n;
      return vl_nodeInt(m_arena, n->kind == VlNk::BitAnd  ? (a->ival & b->ival)
                                 : n->kind == VlNk::BitOr ? (a->ival | b->ival)
                                                          : (a->ival ^ b->ival));
    case VlNk::Shr:
    case VlNk::Shl: {
      // As the run-time operator: the 32-bit value shifted, the result sign-extended.
      if (!isInt(a) || !isInt(b) || a->ival < INT32_MIN || a->ival > INT32_MAX || b->ival < 0 || b->ival > 31) return n;
      int32_t v = static_cast<int32_t>(a->ival);
      int s = static_cast<int>(b->ival);
      int32_t r = n->kind == VlNk::Shr ? (v >> s) : static_cast<int32_t>(static_cast<uint32_t>(v) << s);
      return vl_nodeInt(m_arena, r);
    }
    default: return n;
  }
}

VlNode* VlCodeGen::detached(const VlNode* n) {
  VlNode* copy = m_arena.make<VlNode>();
  *copy = *n;
  copy->next = nullptr;
  return copy;
}

// Calls of some reserved functions fold or become cheaper forms. The original call is left
// intact (a rewrite copies the nodes it takes out of the argument list).
VlNode* VlCodeGen::reduceCall(VlNode* n) {
  if (n->b) reduceList(n->b);
  if (n->a->kind == VlNk::Macro && n->a->macroKind == VL_MACRO_EXPR) n->a->a = reduce(n->a->a);
  const char* name = callName(n);
  if (!name) return n;
  VlNode* args = n->b;
  uint32_t argc = args ? args->count : 0;
  VlNode* a1 = listAt(args, 0);
  VlNode* a2 = listAt(args, 1);
  VlNode* a3 = listAt(args, 2);
  if (!std::strcmp(name, "AT") && argc == 2 && isStr(a1) && isStr(a2)) {
    // As the run-time function: an empty search string is never found.
    int64_t pos = 0;
    if (a1->len && a1->len <= a2->len)
      for (uint32_t i = 0; i + a1->len <= a2->len; ++i)
        if (std::memcmp(a2->name + i, a1->name, a1->len) == 0) {
          pos = i + 1;
          break;
        }
    return vl_nodeInt(m_arena, pos);
  }
  if (!std::strcmp(name, "CHR") && argc == 1 && isNum(a1)) {
    int64_t v = a1->isDouble ? static_cast<int64_t>(std::trunc(std::isfinite(a1->dval) ? a1->dval : 0.0)) : a1->ival;
    char c = static_cast<char>(static_cast<uint64_t>(v) & 0xFF);
    return vl_nodeString(m_arena, &c, 1);
  }
  if (!std::strcmp(name, "EVAL") && argc >= 1 && a1->kind != VlNk::Empty) {
    VlNode* send = vl_nodeNew(m_arena, VlNk::Send, n->line, n->col);
    send->a = detached(a1);
    send->b = vl_nodeName(m_arena, VlNk::FuncName, "EVAL", n->line, n->col);
    send->c = vl_nodeNew(m_arena, VlNk::ArgList, n->line, n->col);
    send->c->list = a1->next;  // the call's remaining arguments, shared
    send->c->count = argc - 1;
    return send;
  }
  if (!std::strcmp(name, "SUBSTR") && (argc == 2 || argc == 3)) {
    if (isStr(a1) && isInt(a2) && (argc == 2 || isInt(a3))) {
      int64_t len = a1->len;
      int64_t start = a2->ival;
      if (start < 0) start = len + start + 1;
      if (start < 1) start = 1;
      if (start > len) start = len + 1;
      int64_t count = argc == 3 ? a3->ival : len;
      if (count < 0) count = 0;
      if (count > len - start + 1) count = len - start + 1;
      return vl_nodeString(m_arena, a1->name + (start - 1), static_cast<uint32_t>(count));
    }
    // A one-character slice of a computed string is its element; positions below 1 behave
    // differently for the two, so only positive constant positions are rewritten.
    if (argc == 3 && isInt(a3) && a3->ival == 1 && isInt(a2) && a2->ival >= 1 &&
        (a1->kind == VlNk::Call || a1->kind == VlNk::Send || a1->kind == VlNk::Elem)) {
      VlNode* e = vl_nodeBinary(m_arena, VlNk::Elem, detached(a1), vl_nodeInt(m_arena, a2->ival));
      e->line = n->line;
      e->col = n->col;
      return e;
    }
    return n;
  }
  if (!std::strcmp(name, "ATAIL") && argc == 1 && a1->kind != VlNk::Empty) {
    VlNode* e = vl_nodeBinary(m_arena, VlNk::Elem, detached(a1), vl_nodeInt(m_arena, -1));
    e->line = n->line;
    e->col = n->col;
    return e;
  }
  if (!std::strcmp(name, "TYPE") && argc == 1) {
    vl_nodeAppend(args, vl_nodeInt(m_arena, 64));
    return n;
  }
  if (!std::strcmp(name, "__DBLIST") && argc >= 10 && (m_features & VL_FEAT_EXTMACRO)) {
    VlNode* fields = listAt(args, 9);
    if (fields->kind != VlNk::Array) return n;
    VlNode* prev = nullptr;
    for (VlNode* e = fields->list; e;) {
      VlNode* next = e->next;
      VlNode* r = e;
      if (e->kind == VlNk::Block && e->list && e->list->kind == VlNk::Macro) {
        VlNode* m = e->list;
        if (m->macroKind == VL_MACRO_EXPR) r = m->a;
        else if (m->macroKind == VL_MACRO_VAR) r = vl_nodeName(m_arena, VlNk::Var, m->name, m->line, m->col);
        else r = vl_nodeString(m_arena, m->name, m->len);
      } else if (e->kind == VlNk::Macro && e->macroKind == VL_MACRO_EXPR && e->a->kind == VlNk::Plus &&
                 e->a->a->kind == VlNk::Plus && e->a->a->b->kind == VlNk::Var) {
        r = e->a->a->b;
      }
      if (r != e) r = detached(r);
      r->next = next;
      if (prev) prev->next = r;
      else fields->list = r;
      prev = r;
      e = next;
    }
  }
  return n;
}
