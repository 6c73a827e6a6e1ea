// The macro compiler's code generator: run-time names are dynamic-symbol addresses, strings are
// owned copies (RTSTRING) and codeblocks carry their code (RTBLOCK), because the code is freed
// after it ran.
#include "macro.h"

#include <cstring>

#include "gen.h"
#include "parser.h"

namespace {

class MacroGen : public VlCodeGen {
 public:
  MacroGen(VlArena& arena, uint32_t flags, uint32_t features, VlMacroNames& names, VlMacroResult& out)
      : VlCodeGen(arena, features, true), m_flags(flags), m_names(names), m_out(out) {}

  void run(VlNode* root, bool push, VlPcodeBuf& buf) {
    m_buf = &buf;
    gen(root, push ? VlGenMode::Push : VlGenMode::Pop);
    if (needsLongJumps()) fail(VlCompError::Index, "jump out of range");
    buf.op(VL_P_PROCEXIT);
  }

  void fail(VlCompError cls, const std::string& message) {
    uint32_t& s = m_out.status;
    switch (cls) {
      case VlCompError::Operand: s &= ~VL_MST_OK; break;
      case VlCompError::Index: s = (s | VL_MST_ERR2) & ~VL_MST_OK; break;
      case VlCompError::Target: s = (s | VL_MST_ERR2 | VL_MST_ERR4) & ~VL_MST_OK; break;
      case VlCompError::Alias: s = (s | VL_MST_ERR2 | VL_MST_ERR4 | VL_MST_ERR8) & ~VL_MST_OK; break;
      case VlCompError::Other: s &= ~VL_MST_OK; break;
    }
    if (m_out.error.empty()) m_out.error = message;
  }

 protected:
  // The 1-based position of a parameter of the innermost codeblock, or 0.
  int blockParam(const char* name) const {
    if (!m_block) return 0;
    int i = 1;
    for (VlNode* p = m_block->params; p; p = p->next, ++i)
      if (!std::strcmp(p->name, name)) return i;
    return 0;
  }

  void checkVariable(const char* name) {
    if (!(m_flags & VL_MCF_TYPECHECK)) return;
    if (!m_names.hasValue(name)) m_out.status |= VL_MST_NOVALUE;
    if (!m_names.known(name)) m_out.status &= ~VL_MST_OK;
  }

  void ptrOp(VlPcode op, const char* name) {
    m_buf->op(op);
    m_buf->ptr(m_names.symbol(name));
  }

  void genVar(VlNode* var, VlGenMode mode) override {
    if (int n = blockParam(var->name)) {
      m_buf->op(mode == VlGenMode::Pop ? VL_P_STORELOCAL2 : VL_P_LOADLOCAL2);
      m_buf->u2(static_cast<unsigned>(n));
      return;
    }
    checkVariable(var->name);
    bool aliased = (m_flags & VL_MCF_ALIASED) != 0;
    if (mode == VlGenMode::Pop) ptrOp(aliased ? VL_P_RTSTOREALIASVAR : VL_P_RTSTOREMEMVAR, var->name);
    else ptrOp(aliased ? VL_P_RTLOADALIASVAR : VL_P_RTLOADVAR, var->name);
  }

  void genVarRef(VlNode* var) override {
    if (int n = blockParam(var->name)) {
      m_buf->op(VL_P_LOCALREF);
      m_buf->u2(static_cast<unsigned>(n));
      return;
    }
    checkVariable(var->name);
    ptrOp(VL_P_RTMEMVARREF, var->name);
  }

  void genElemArray(VlNode* var, bool byRef) override {
    if (int n = blockParam(var->name)) {
      m_buf->op(byRef ? VL_P_LOCALREF : VL_P_LOADLOCAL2);
      m_buf->u2(static_cast<unsigned>(n));
      return;
    }
    // An array is always a memory variable, never a field.
    checkVariable(var->name);
    ptrOp(byRef ? VL_P_RTMEMVARREF : VL_P_RTLOADMEMVAR, var->name);
  }

  void genNameOp(VlNameOp op, const char* name, const VlNode*) override {
    switch (op) {
      case VlNameOp::PushVar: checkVariable(name); ptrOp(VL_P_RTLOADVAR, name); break;
      case VlNameOp::PopVar: checkVariable(name); ptrOp(VL_P_RTSTOREMEMVAR, name); break;
      case VlNameOp::RefVar: checkVariable(name); ptrOp(VL_P_RTMEMVARREF, name); break;
      case VlNameOp::PushMemvar: checkVariable(name); ptrOp(VL_P_RTLOADMEMVAR, name); break;
      case VlNameOp::PopMemvar: checkVariable(name); ptrOp(VL_P_RTSTOREMEMVAR, name); break;
      case VlNameOp::PushField: ptrOp(VL_P_RTLOADFIELD, name); break;
      case VlNameOp::PopField: ptrOp(VL_P_RTSTOREFIELD, name); break;
      case VlNameOp::PushAliasField: ptrOp(VL_P_RTLOADALIASFIELD, name); break;
      case VlNameOp::PopAliasField: ptrOp(VL_P_RTSTOREALIASFIELD, name); break;
      case VlNameOp::PushAliasVar: ptrOp(VL_P_RTLOADALIASVAR, name); break;
      case VlNameOp::PopAliasVar: ptrOp(VL_P_RTSTOREALIASVAR, name); break;
      case VlNameOp::FuncSymbol:
      case VlNameOp::AliasSymbol: ptrOp(VL_P_RTSYMBOL, name); break;
      case VlNameOp::MsgSymbol: ptrOp(VL_P_RTMSG, name); break;
    }
  }

  void genStringPush(const char* text, uint32_t len) override {
    if (len >= 0xFFFF) {
      fail(VlCompError::Other, "string too long");
      return;
    }
    m_buf->op(VL_P_RTSTRING);
    m_buf->u2(len + 1);
    m_buf->bytes(text, len);
    m_buf->u1(0);
  }

  void genBlock(VlNode* block) override {
    VlPcodeBuf inner;
    VlPcodeBuf* outer = m_buf;
    VlNode* outerBlock = m_block;
    m_buf = &inner;
    m_block = block;
    genBlockBody(block);
    m_buf = outer;
    m_block = outerBlock;
    size_t size = inner.size() + 5;
    if (size > 0xFFFF) {
      fail(VlCompError::Other, "codeblock too large");
      return;
    }
    m_buf->op(VL_P_RTBLOCK);
    m_buf->u2(static_cast<unsigned>(size));
    m_buf->u2(block->paramCount);
    m_buf->append(inner);
  }

  void compileError(VlCompError cls, const VlNode*, const std::string& message) override { fail(cls, message); }

  void onCall(const char* name, bool reserved) override {
    if (!reserved) m_out.status |= VL_MST_ERR4;
    if (!(m_flags & VL_MCF_TYPECHECK)) return;
    if (!m_names.known(name) || ((m_out.status & VL_MST_ERR4) && !m_names.hasFunction(name)))
      m_out.status = (m_out.status | VL_MST_ERR8) & ~VL_MST_OK;
  }

 private:
  uint32_t m_flags;
  VlMacroNames& m_names;
  VlMacroResult& m_out;
  VlNode* m_block = nullptr;
};

}  // namespace

bool vl_macroCompileText(const char* text, size_t len, uint32_t flags, uint32_t features, VlMacroNames& names,
                         VlMacroResult& out) {
  out = VlMacroResult{};
  out.status = VL_MST_OK;
  VlArena arena;
  VlDiagnostics diag(1);
  VlLexer lexer(text, len, VlLexer::Macro, arena, diag);
  VlParser parser(lexer, text, arena, diag, true);
  parser.start();
  if (parser.token().kind == VlTok::End) {
    out.error = "empty expression";
    out.status &= ~VL_MST_OK;
    return false;
  }
  VlNode* root = parser.parseTopExpression();
  VlNode* list = nullptr;
  while (!parser.failed() && parser.take(VlTok::Comma)) {
    if (!list) {
      list = vl_nodeNew(arena, VlNk::ArgList, root->line, root->col);
      vl_nodeAppend(list, root);
    }
    vl_nodeAppend(list, parser.parseTopExpression());
  }
  if (!parser.failed() && parser.token().kind != VlTok::End) {
    // Whatever follows a complete expression is a syntax error.
    if (diag.list().empty()) diag.error(parser.token().line, parser.token().col, "syntax error");
  }
  if (parser.failed() || diag.hasErrors()) {
    out.error = diag.list().empty() ? "syntax error" : diag.list().front().message;
    out.status &= ~VL_MST_OK;
    return false;
  }
  out.parsed = true;

  MacroGen gen(arena, flags, features, names, out);
  if (list) {
    if (!(flags & VL_MCF_LIST)) {
      gen.fail(VlCompError::Target, "a list of expressions is not allowed here");
      return false;
    }
    out.extraValues = list->count - 1;
    if (flags & VL_MCF_PAREN) list->kind = VlNk::ParenList;
    root = list;
  }
  bool push = (flags & VL_MCF_PUSH) || !(flags & VL_MCF_POP);
  if (push) root = gen.reduce(root);
  out.rootKind = root->kind;
  VlPcodeBuf buf;
  gen.run(root, push, buf);
  out.code = std::move(buf.code);
  return (out.status & VL_MST_OK) != 0;
}
