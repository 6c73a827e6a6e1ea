// Code generation for a source file.
//
// Names are resolved lexically: codeblock parameters (innermost block first), then the
// function's parameters and locals, STATIC, MEMVAR and FIELD declarations, then the module's
// declarations; any other name is a memory variable or field found at run time (LOADVAR reads a
// field of the current work area first, STOREVAR assigns the memory variable).
//
// Codeblocks see the locals of the code around them as detached locals. A block created in a
// function lists the function locals it uses (MAKEBLOCK2), and reaches them by negative local
// numbers in list order. A block nested in another block lists nothing and shares the vector of
// the block it is created in, unless it uses that block's own parameters; then it lists what it
// uses by their numbers in that block's frame. Every block's list is complete before its
// MAKEBLOCK is written, because a block's body is generated first.
//
// Line numbers: LINEBASE at a function's first line, then LINESTEP within 255 lines of it and
// SETLINE beyond; a statement emits its line when it differs from the last one written, and
// after every jump target, so that PROCLINE() is right whichever way control arrived.
#include "modgen.h"

#include <cstring>
#include <set>
#include <unordered_map>

#include "macro/gen.h"

namespace {

enum class Rk : uint8_t { Local, Static, Memvar, Field, Undeclared };

struct Scope {
  VlNode* block;  // a codeblock whose parameters are visible
  const Scope* up;
};

struct Res {
  Rk kind = Rk::Undeclared;
  VlNode* frame = nullptr;  // Local: the codeblock that owns it, null for the function
  int index = 0;            // local number in that frame, or static number
  const char* alias = nullptr;
};

struct Origin {
  VlNode* frame;
  int index;
  bool operator==(const Origin& o) const { return frame == o.frame && index == o.index; }
};

struct BlockCtx {
  BlockCtx(VlNode* n, BlockCtx* p) : node(n), parent(p) {}
  VlNode* node;
  BlockCtx* parent;  // null: created in the function's frame
  bool share = false;
  std::vector<Origin> origins;  // listed detached locals, in vector order
  std::vector<int> addrs;       // their local numbers in the parent frame
};

struct Flow {
  enum Kind : uint8_t { Loop, Switch, With, Seq, TryBody, TryCatch, Finally };
  Flow(Kind k, bool finally = false) : kind(k), hasFinally(finally) {}
  Kind kind;
  bool hasFinally;
  size_t continueTarget = SIZE_MAX;  // a loop whose LOOP jumps back
  std::vector<size_t> exits;
  std::vector<size_t> continues;
};

enum : uint32_t {
  KIND_PUBLIC = 1,
  KIND_STATIC,
  KIND_INIT,
  KIND_EXIT,
  KIND_INITSTATICS,
};

const char* const kInitStatics = "(_INITSTATICS)";

class ModuleGen : public VlCodeGen {
 public:
  ModuleGen(VlArena& arena, VlDiagnostics& diag, VlModuleAst& ast, VlCompiledModule& out)
      : VlCodeGen(arena, VL_FEAT_SHORTCUT, false), m_diag(diag), m_ast(ast), m_out(out) {}

  void generate();

 protected:
  void genVar(VlNode* var, VlGenMode mode) override;
  void genVarRef(VlNode* var) override;
  void genNameOp(VlNameOp op, const char* name, const VlNode* at) override;
  void genStringPush(const char* text, uint32_t len) override;
  void genBlock(VlNode* block) override;
  void genElemArray(VlNode* array, bool byRef) override;
  bool genAssignFast(VlNode* target, VlNode* value) override;
  bool genIncFast(VlNode* target, bool inc) override;
  void compileError(VlCompError cls, const VlNode* at, const std::string& message) override;

 private:
  int symbol(const char* name, uint32_t bits);
  void symOp(VlPcode op1, VlPcode op2, const char* name, uint32_t bits);
  Res resolve(const char* name, const Scope* chain) const;
  int localNumber(const Origin& o);
  int vectorSlot(BlockCtx* b, const Origin& o);
  Res resolveHere(const char* name, const VlNode* at);
  int safeLocal(VlNode* target) const;

  template <typename F>
  void visitNames(VlNode* n, const Scope* chain, F&& use);
  template <typename F>
  void visitStmts(VlStmt* s, F&& use);

  void genFunction(VlFunc& f, int kind);
  void genInitStatics();
  void prepass(VlFunc& f);
  void genStmts(VlStmt* s);
  void reduceStmt(VlStmt* s);
  void genStmt(VlStmt* s);
  void genExpr(VlNode* e, VlGenMode mode);
  void genCond(VlNode* e);
  void emitLine(int line);
  size_t label();
  void patchHere(std::vector<size_t>& jumps);
  void genReturn(VlStmt* s);
  void genExitLoop(VlStmt* s, bool isExit);
  void genIf(VlStmt* s);
  void genWhile(VlStmt* s);
  void genFor(VlStmt* s);
  void genForEach(VlStmt* s);
  void genDoCase(VlStmt* s);
  void genSwitch(VlStmt* s);
  void genSequence(VlStmt* s);
  void genTry(VlStmt* s);
  void genWith(VlStmt* s);
  void genMemvarDecl(VlStmt* s);
  void genLocalInit(VlStmt* s);
  void genDims(VlNode* dims);
  void genSeqOp(VlPcode op, size_t at);
  size_t seqOpen(VlPcode op);
  void error(int line, int col, const std::string& message) { m_diag.error(line, col, message); }

  VlDiagnostics& m_diag;
  VlModuleAst& m_ast;
  VlCompiledModule& m_out;
  std::unordered_map<std::string, int> m_symIndex;
  std::vector<uint32_t> m_symKind;  // KIND_* of symbols the module defines, 0 otherwise

  VlFunc* m_func = nullptr;
  bool m_inStaticInit = false;
  BlockCtx* m_block = nullptr;
  const Scope* m_scope = nullptr;
  std::set<int> m_captured;  // function locals used by codeblocks
  bool m_usesStatics = false;
  std::vector<Flow> m_flow;
  int m_lineBase = -1;
  int m_lastLine = -1;
  int m_staticsSymbol = -1;
};

// ---------------------------------------------------------------------------------------------
// Symbols and names

int ModuleGen::symbol(const char* name, uint32_t bits) {
  auto it = m_symIndex.find(name);
  int i;
  if (it == m_symIndex.end()) {
    i = static_cast<int>(m_out.symbols.size());
    m_out.symbols.push_back({name, 0, -1});
    m_symKind.push_back(0);
    m_symIndex.emplace(name, i);
    if (m_out.symbols.size() > 0xFFFF) error(0, 0, "too many symbols in one module");
  } else {
    i = it->second;
  }
  m_out.symbols[i].scope |= bits;
  return i;
}

void ModuleGen::symOp(VlPcode op1, VlPcode op2, const char* name, uint32_t bits) {
  int i = symbol(name, bits);
  if (op1 != op2 && i < 256) {
    m_buf->op(op1);
    m_buf->u1(static_cast<unsigned>(i));
  } else {
    m_buf->op(op2);
    m_buf->u2(static_cast<unsigned>(i) & 0xFFFF);
  }
}

Res ModuleGen::resolve(const char* name, const Scope* chain) const {
  Res r;
  for (const Scope* s = chain; s; s = s->up) {
    int i = 1;
    for (VlNode* p = s->block->params; p; p = p->next, ++i)
      if (!std::strcmp(p->name, name)) {
        r.kind = Rk::Local;
        r.frame = s->block;
        r.index = i;
        return r;
      }
  }
  auto fromDecl = [&](const VlVarDecl& d) {
    switch (d.kind) {
      case VlVarKind::Local: r.kind = Rk::Local; break;
      case VlVarKind::Static: r.kind = Rk::Static; break;
      case VlVarKind::Memvar: r.kind = Rk::Memvar; break;
      case VlVarKind::Field: r.kind = Rk::Field; break;
    }
    r.index = d.index;
    r.alias = d.alias;
  };
  if (m_func) {
    int params = m_func->paramCount();
    for (size_t i = 0; i < m_func->params.size(); ++i)
      if (!std::strcmp(m_func->params[i].name, name)) {
        r.kind = Rk::Local;
        r.index = static_cast<int>(i) + 1;
        return r;
      }
    for (size_t i = 0; i < m_func->locals.size(); ++i)
      if (!std::strcmp(m_func->locals[i].name, name)) {
        r.kind = Rk::Local;
        r.index = params + static_cast<int>(i) + 1;
        return r;
      }
    for (const VlVarDecl& d : m_func->decls)
      if (!std::strcmp(d.name, name)) {
        fromDecl(d);
        return r;
      }
  }
  for (const VlVarDecl& d : m_ast.decls)
    if (!std::strcmp(d.name, name)) {
      fromDecl(d);
      return r;
    }
  return r;
}

// Resolution at the current point of generation; a local in a static initializer is an error.
Res ModuleGen::resolveHere(const char* name, const VlNode* at) {
  Res r = resolve(name, m_scope);
  if (m_inStaticInit && r.kind == Rk::Local && !r.frame) {
    error(at->line, at->col, std::string("local variable '") + name + "' in a static initializer");
    r.kind = Rk::Undeclared;
  }
  if (r.kind == Rk::Static) m_usesStatics = true;
  return r;
}

// The number under which the current frame reaches a local: positive in its own frame, negative
// through the detached-local vector of the running codeblock.
int ModuleGen::localNumber(const Origin& o) {
  if (!m_block) return o.index;
  if (o.frame == m_block->node) return o.index;
  return -vectorSlot(m_block, o);
}

int ModuleGen::vectorSlot(BlockCtx* b, const Origin& o) {
  BlockCtx* v = b;
  while (v->share) v = v->parent;
  for (size_t i = 0; i < v->origins.size(); ++i)
    if (v->origins[i] == o) return static_cast<int>(i) + 1;
  int addr;
  if (!v->parent) addr = o.index;
  else if (o.frame == v->parent->node) addr = o.index;
  else addr = -vectorSlot(v->parent, o);
  v->origins.push_back(o);
  v->addrs.push_back(addr);
  if (v->origins.size() > 0x7FFF) error(v->node->line, v->node->col, "too many detached locals");
  return static_cast<int>(v->origins.size());
}

// A function local that may be updated in place (LOCALSETINT and friends): not a parameter
// (which may hold a reference), not detached, in the function's own frame.
int ModuleGen::safeLocal(VlNode* target) const {
  if (m_block || m_inStaticInit || target->kind != VlNk::Var) return 0;
  Res r = resolve(target->name, m_scope);
  if (r.kind != Rk::Local || r.frame || r.index <= m_func->paramCount() || r.index > 255) return 0;
  if (m_captured.count(r.index)) return 0;
  return r.index;
}

void ModuleGen::genVar(VlNode* var, VlGenMode mode) {
  Res r = resolveHere(var->name, var);
  bool pop = mode == VlGenMode::Pop;
  switch (r.kind) {
    case Rk::Local: {
      int n = localNumber({r.frame, r.index});
      genLocalOp(pop ? VL_P_STORELOCAL1 : VL_P_LOADLOCAL1, pop ? VL_P_STORELOCAL2 : VL_P_LOADLOCAL2, n);
      return;
    }
    case Rk::Static:
      m_buf->op(pop ? VL_P_STORESTATIC : VL_P_LOADSTATIC);
      m_buf->u2(static_cast<unsigned>(r.index));
      return;
    case Rk::Memvar: symOp(pop ? VL_P_STOREMEMVAR : VL_P_LOADMEMVAR, pop ? VL_P_STOREMEMVAR : VL_P_LOADMEMVAR,
                           var->name, 0x00C1);
      return;
    case Rk::Field:
      if (r.alias) {
        symOp(VL_P_PUTSYM1, VL_P_PUTSYM2, r.alias, 0x00C1);
        symOp(pop ? VL_P_STOREALIASFIELD1 : VL_P_LOADALIASFIELD1, pop ? VL_P_STOREALIASFIELD2 : VL_P_LOADALIASFIELD2,
              var->name, 0x00C1);
      } else {
        symOp(pop ? VL_P_STOREFIELD : VL_P_LOADFIELD, pop ? VL_P_STOREFIELD : VL_P_LOADFIELD, var->name, 0x00C1);
      }
      return;
    case Rk::Undeclared:
      symOp(pop ? VL_P_STOREVAR : VL_P_LOADVAR, pop ? VL_P_STOREVAR : VL_P_LOADVAR, var->name, 0x00C1);
      return;
  }
}

void ModuleGen::genVarRef(VlNode* var) {
  Res r = resolveHere(var->name, var);
  switch (r.kind) {
    case Rk::Local: {
      int n = localNumber({r.frame, r.index});
      m_buf->op(VL_P_LOCALREF);
      m_buf->u2(static_cast<unsigned>(n) & 0xFFFF);
      return;
    }
    case Rk::Static:
      m_buf->op(VL_P_STATICREF);
      m_buf->u2(static_cast<unsigned>(r.index));
      return;
    case Rk::Field:
      error(var->line, var->col, std::string("field '") + var->name + "' cannot be passed by reference");
      return;
    default: symOp(VL_P_MEMVARREF, VL_P_MEMVARREF, var->name, 0x00C1); return;
  }
}

void ModuleGen::genElemArray(VlNode* array, bool byRef) {
  if (!byRef) {
    genVar(array, VlGenMode::Push);
    return;
  }
  // Assigning an element goes through a reference so that a string is changed in place.
  Res r = resolve(array->name, m_scope);
  if (r.kind == Rk::Field) genVar(array, VlGenMode::Push);
  else genVarRef(array);
}

void ModuleGen::genNameOp(VlNameOp op, const char* name, const VlNode*) {
  switch (op) {
    case VlNameOp::PushVar: symOp(VL_P_LOADVAR, VL_P_LOADVAR, name, 0x00C1); break;
    case VlNameOp::PopVar: symOp(VL_P_STOREVAR, VL_P_STOREVAR, name, 0x00C1); break;
    case VlNameOp::RefVar: symOp(VL_P_MEMVARREF, VL_P_MEMVARREF, name, 0x00C1); break;
    case VlNameOp::PushMemvar: symOp(VL_P_LOADMEMVAR, VL_P_LOADMEMVAR, name, 0x00C1); break;
    case VlNameOp::PopMemvar: symOp(VL_P_STOREMEMVAR, VL_P_STOREMEMVAR, name, 0x00C1); break;
    case VlNameOp::PushField: symOp(VL_P_LOADFIELD, VL_P_LOADFIELD, name, 0x00C1); break;
    case VlNameOp::PopField: symOp(VL_P_STOREFIELD, VL_P_STOREFIELD, name, 0x00C1); break;
    case VlNameOp::PushAliasField: symOp(VL_P_LOADALIASFIELD1, VL_P_LOADALIASFIELD2, name, 0x00C1); break;
    case VlNameOp::PopAliasField: symOp(VL_P_STOREALIASFIELD1, VL_P_STOREALIASFIELD2, name, 0x00C1); break;
    case VlNameOp::PushAliasVar: symOp(VL_P_LOADALIASVAR, VL_P_LOADALIASVAR, name, 0x00C1); break;
    case VlNameOp::PopAliasVar: symOp(VL_P_STOREALIASVAR, VL_P_STOREALIASVAR, name, 0x00C1); break;
    case VlNameOp::FuncSymbol: symOp(VL_P_PUTSYM1, VL_P_PUTSYM2, name, 0x0001); break;
    case VlNameOp::AliasSymbol: symOp(VL_P_PUTSYM1, VL_P_PUTSYM2, name, 0x00C1); break;
    case VlNameOp::MsgSymbol: symOp(VL_P_PUTMSG, VL_P_PUTMSG, name, 0x00C1); break;
  }
}

void ModuleGen::genStringPush(const char* text, uint32_t len) {
  if (len + 1 <= 255) {
    m_buf->op(VL_P_PUTSTR1);
    m_buf->u1(len + 1);
  } else if (len + 1 <= 0xFFFF) {
    m_buf->op(VL_P_PUTSTR2);
    m_buf->u2(len + 1);
  } else {
    error(0, 0, "string too long");
    return;
  }
  m_buf->bytes(text, len);
  m_buf->u1(0);
}

bool ModuleGen::genAssignFast(VlNode* target, VlNode* value) {
  int n = safeLocal(target);
  if (!n) return false;
  if (value->kind == VlNk::Number && !value->isDouble && value->ival >= -32768 && value->ival <= 32767) {
    m_buf->op(VL_P_LOCALSETINT);
    m_buf->u1(static_cast<unsigned>(n));
    m_buf->u2(static_cast<unsigned>(value->ival) & 0xFFFF);
    return true;
  }
  if (value->kind == VlNk::String && value->len + 1 <= 0xFFFF && !vl_textHasMacro(value->name, value->len)) {
    m_buf->op(VL_P_LOCALSETSTR);
    m_buf->u1(static_cast<unsigned>(n));
    m_buf->u2(value->len + 1);
    m_buf->bytes(value->name, value->len);
    m_buf->u1(0);
    return true;
  }
  return false;
}

bool ModuleGen::genIncFast(VlNode* target, bool inc) {
  int n = safeLocal(target);
  if (!n) return false;
  m_buf->op(VL_P_LOCALADDINT);
  m_buf->u1(static_cast<unsigned>(n));
  m_buf->u2(inc ? 1u : 0xFFFFu);
  return true;
}

void ModuleGen::compileError(VlCompError, const VlNode* at, const std::string& message) {
  error(at ? at->line : 0, at ? at->col : 0, message);
}

// ---------------------------------------------------------------------------------------------
// Codeblocks

template <typename F>
void ModuleGen::visitNames(VlNode* n, const Scope* chain, F&& use) {
  if (!n) return;
  switch (n->kind) {
    case VlNk::Var:
    case VlNk::VarRef: use(n->name, chain); return;
    case VlNk::Macro:
      if (n->macroKind == VL_MACRO_VAR) use(n->name, chain);
      else if (n->macroKind == VL_MACRO_EXPR) visitNames(n->a, chain, use);
      return;
    case VlNk::Block: {
      Scope inner{n, chain};
      for (VlNode* e = n->list; e; e = e->next) visitNames(e, &inner, use);
      return;
    }
    case VlNk::AliasVar:
      // The aliased name is a field or memory variable, never a local.
      if (n->a->kind != VlNk::AliasName) visitNames(n->a, chain, use);
      if (n->b->kind == VlNk::Macro) visitNames(n->b, chain, use);
      return;
    default: break;
  }
  visitNames(n->a, chain, use);
  visitNames(n->b, chain, use);
  visitNames(n->c, chain, use);
  for (VlNode* e = n->list; e; e = e->next) visitNames(e, chain, use);
}

template <typename F>
void ModuleGen::visitStmts(VlStmt* s, F&& use) {
  for (; s; s = s->next) {
    visitNames(s->e1, nullptr, use);
    visitNames(s->e2, nullptr, use);
    visitNames(s->e3, nullptr, use);
    visitNames(s->var, nullptr, use);
    for (VlNode* d = s->decls; d; d = d->next) {
      visitNames(d->a, nullptr, use);
      for (VlNode* e = d->list; e; e = e->next) visitNames(e, nullptr, use);
    }
    if (s->kind == VlSk::LocalInit) {
      visitNames(s->var->a, nullptr, use);
      for (VlNode* e = s->var->list; e; e = e->next) visitNames(e, nullptr, use);
    }
    visitStmts(s->body, use);
    visitStmts(s->alt, use);
    visitStmts(s->fin, use);
    visitStmts(s->cases, use);
  }
}

// Which locals codeblocks detach (they must not be updated in place) and whether the function
// reaches statics (it then sets its statics base on entry).
void ModuleGen::prepass(VlFunc& f) {
  m_captured.clear();
  m_usesStatics = false;
  visitStmts(f.body, [&](const char* name, const Scope* chain) {
    Res r = resolve(name, chain);
    if (r.kind == Rk::Static) m_usesStatics = true;
    if (r.kind == Rk::Local && !r.frame && chain) m_captured.insert(r.index);
  });
}

void ModuleGen::genBlock(VlNode* block) {
  BlockCtx ctx(block, m_block);
  Scope link{block, m_scope};
  if (m_block) {
    // Nested in a block: share that block's vector unless this block uses its parameters.
    bool usesParent = false;
    VlNode* parentNode = m_block->node;
    for (VlNode* e = block->list; e; e = e->next)
      visitNames(e, &link, [&](const char* name, const Scope* chain) {
        Res r = resolve(name, chain);
        if (r.kind == Rk::Local && r.frame == parentNode) usesParent = true;
      });
    ctx.share = !usesParent;
  }
  VlPcodeBuf inner;
  VlPcodeBuf* outerBuf = m_buf;
  BlockCtx* outerBlock = m_block;
  const Scope* outerScope = m_scope;
  m_buf = &inner;
  m_block = &ctx;
  m_scope = &link;
  genBlockBody(block);
  m_buf = outerBuf;
  m_block = outerBlock;
  m_scope = outerScope;

  size_t n = ctx.share ? 0 : ctx.addrs.size();
  if (n == 0 && block->paramCount == 0 && inner.size() + 2 <= 255) {
    m_buf->op(VL_P_MAKEBLOCK1);
    m_buf->u1(static_cast<unsigned>(inner.size() + 2));
    m_buf->append(inner);
    return;
  }
  size_t total = 7 + 2 * n + inner.size();
  if (total > 0xFFFF || block->paramCount > 0xFFFF) {
    error(block->line, block->col, "codeblock too large");
    return;
  }
  m_buf->op(VL_P_MAKEBLOCK2);
  m_buf->u2(static_cast<unsigned>(total));
  m_buf->u2(block->paramCount);
  m_buf->u2(static_cast<unsigned>(n));
  for (size_t i = 0; i < n; ++i) m_buf->u2(static_cast<unsigned>(ctx.addrs[i]) & 0xFFFF);
  m_buf->append(inner);
}

// ---------------------------------------------------------------------------------------------
// Functions

void ModuleGen::generate() {
  bool firstSet = false;
  for (auto& fp : m_ast.funcs) {
    VlFunc& f = *fp;
    int kind = f.kind == VL_FUNC_STATIC ? KIND_STATIC
               : f.kind == VL_FUNC_INIT ? KIND_INIT
               : f.kind == VL_FUNC_EXIT ? KIND_EXIT
                                        : KIND_PUBLIC;
    genFunction(f, kind);
    if (!firstSet && (kind == KIND_PUBLIC || kind == KIND_STATIC)) {
      firstSet = true;
      m_out.firstSymbol = m_out.functions.back().symbol;
    }
  }
  if (!m_ast.statics.empty()) genInitStatics();

  // Final scopes: a defined function's own bits, plus the bits of its use as a variable or
  // message name.
  for (size_t i = 0; i < m_out.symbols.size(); ++i) {
    uint32_t usage = m_out.symbols[i].scope & 0x00C0;
    switch (m_symKind[i]) {
      case KIND_PUBLIC: m_out.symbols[i].scope = 0x0001 | usage; break;
      case KIND_STATIC: m_out.symbols[i].scope = 0x0002 | usage; break;
      case KIND_INIT: m_out.symbols[i].scope = 0x0008 | usage; break;
      case KIND_EXIT: m_out.symbols[i].scope = 0x0010 | usage; break;
      case KIND_INITSTATICS: m_out.symbols[i].scope = 0x0018; break;
      default: break;
    }
  }
  if (m_out.firstSymbol >= 0) m_out.symbols[m_out.firstSymbol].scope |= 0x0004;
}

void ModuleGen::genFunction(VlFunc& f, int kind) {
  m_func = &f;
  int sym = symbol(f.name.c_str(), 0);
  m_symKind[sym] = kind;
  m_out.symbols[sym].function = static_cast<int>(m_out.functions.size());
  prepass(f);
  int params = f.paramCount();
  int locals = static_cast<int>(f.locals.size());
  if (params > 254) error(f.line, f.col, "too many parameters");
  if (locals > 0xFFFF - params) error(f.line, f.col, "too many local variables");

  VlPcodeBuf buf;
  size_t errorsBefore = m_diag.list().size();
  for (int attempt = 0; attempt < 2; ++attempt) {
    buf.code.clear();
    m_buf = &buf;
    m_longJumps = attempt == 1;
    m_jumpOverflow = false;
    m_lineBase = -1;
    m_lastLine = -1;
    m_flow.clear();
    m_block = nullptr;
    m_scope = nullptr;
    if (params || locals) {
      if (locals <= 255) {
        buf.op(VL_P_ENTER);
        buf.u1(static_cast<unsigned>(locals));
      } else {
        buf.op(VL_P_ENTERWIDE);
        buf.u2(static_cast<unsigned>(locals) & 0xFFFF);
      }
      buf.u1(static_cast<unsigned>(params) & 0xFF);
    }
    if (m_usesStatics) {
      if (m_staticsSymbol < 0) {
        m_staticsSymbol = symbol(kInitStatics, 0);
        m_symKind[m_staticsSymbol] = KIND_INITSTATICS;
      }
      buf.op(VL_P_STATICBASE);
      buf.u2(static_cast<unsigned>(m_staticsSymbol));
    }
    genStmts(f.body);
    VlStmt* last = f.body;
    while (last && last->next) last = last->next;
    if (!last || last->kind != VlSk::Return) {
      buf.op(VL_P_PUTNIL);
      buf.op(VL_P_SETRESULT);
      buf.op(VL_P_PROCEXIT);
    }
    // Forward jumps are written short first; a function too long for them is written again.
    if (!m_jumpOverflow || m_diag.list().size() != errorsBefore) break;
  }
  if (m_jumpOverflow) error(f.line, f.col, "function too large");
  m_out.functions.push_back({f.name, sym, std::move(buf.code)});
  m_func = nullptr;
}

// "(_INITSTATICS)": reserves the module's statics and gives them their initial values, once at
// start-up.
void ModuleGen::genInitStatics() {
  if (m_staticsSymbol < 0) {
    m_staticsSymbol = symbol(kInitStatics, 0);
    m_symKind[m_staticsSymbol] = KIND_INITSTATICS;
  }
  int count = 0;
  for (const VlStaticInit& s : m_ast.statics)
    if (s.index > count) count = s.index;
  if (count > 0xFFFF) error(0, 0, "too many statics");
  VlPcodeBuf buf;
  m_buf = &buf;
  m_longJumps = false;
  m_jumpOverflow = false;
  m_block = nullptr;
  m_scope = nullptr;
  buf.op(VL_P_STATICCOUNT);
  buf.u2(static_cast<unsigned>(m_staticsSymbol));
  buf.u2(static_cast<unsigned>(count) & 0xFFFF);
  buf.op(VL_P_STATICBASE);
  buf.u2(static_cast<unsigned>(m_staticsSymbol));
  m_inStaticInit = true;
  for (const VlStaticInit& s : m_ast.statics) {
    if (!s.var->a && !s.var->list) continue;
    m_func = s.owner;
    if (s.var->list) {
      genDims(s.var);
    } else {
      VlNode* e = reduce(s.var->a);
      gen(e, VlGenMode::Push);
    }
    buf.op(VL_P_STORESTATIC);
    buf.u2(static_cast<unsigned>(s.index));
  }
  m_inStaticInit = false;
  m_func = nullptr;
  buf.op(VL_P_PROCEXIT);
  if (m_jumpOverflow) error(0, 0, "static initializers too large");
  m_out.symbols[m_staticsSymbol].function = static_cast<int>(m_out.functions.size());
  m_out.functions.push_back({kInitStatics, m_staticsSymbol, std::move(buf.code)});
}

// ---------------------------------------------------------------------------------------------
// Statements

void ModuleGen::emitLine(int line) {
  if (line <= 0 || line == m_lastLine) return;
  if (line > 0xFFFF) line = 0xFFFF;
  if (m_lineBase < 0) {
    m_buf->op(VL_P_LINEBASE);
    m_buf->u2(static_cast<unsigned>(line));
    m_lineBase = line;
  } else if (line >= m_lineBase && line - m_lineBase <= 255) {
    m_buf->op(VL_P_LINESTEP);
    m_buf->u1(static_cast<unsigned>(line - m_lineBase));
  } else {
    m_buf->op(VL_P_SETLINE);
    m_buf->u2(static_cast<unsigned>(line));
  }
  m_lastLine = line;
}

size_t ModuleGen::label() {
  m_lastLine = -1;
  return m_buf->size();
}

void ModuleGen::patchHere(std::vector<size_t>& jumps) {
  for (size_t j : jumps) patchJump(j);
  jumps.clear();
  m_lastLine = -1;
}

// Statement expressions were reduced by reduceStmt; nodes built around them need no folding.
void ModuleGen::genExpr(VlNode* e, VlGenMode mode) { gen(e, mode); }

void ModuleGen::genCond(VlNode* e) { genExpr(e, VlGenMode::Push); }

void ModuleGen::genStmts(VlStmt* s) {
  for (; s; s = s->next) genStmt(s);
}

// Statement expressions are reduced once, in place: a function that must be generated again
// (long jumps) sees the same trees.
void ModuleGen::reduceStmt(VlStmt* s) {
  if (s->e1) s->e1 = reduce(s->e1);
  if (s->e2) s->e2 = reduce(s->e2);
  if (s->e3) s->e3 = reduce(s->e3);
  auto decl = [&](VlNode* v) {
    if (v->a) v->a = reduce(v->a);
    reduceList(v);
  };
  for (VlNode* d = s->decls; d; d = d->next) decl(d);
  if (s->kind == VlSk::LocalInit) decl(s->var);
  for (VlStmt* c = s->cases; c; c = c->next)
    if (c->e1) c->e1 = reduce(c->e1);
}

void ModuleGen::genStmt(VlStmt* s) {
  reduceStmt(s);
  switch (s->kind) {
    case VlSk::Expr:
      emitLine(s->line);
      genExpr(s->e1, VlGenMode::Stmt);
      return;
    case VlSk::LocalInit: genLocalInit(s); return;
    case VlSk::Return: genReturn(s); return;
    case VlSk::If: genIf(s); return;
    case VlSk::DoWhile: genWhile(s); return;
    case VlSk::For: genFor(s); return;
    case VlSk::ForEach: genForEach(s); return;
    case VlSk::DoCase: genDoCase(s); return;
    case VlSk::Switch: genSwitch(s); return;
    case VlSk::Sequence: genSequence(s); return;
    case VlSk::Try: genTry(s); return;
    case VlSk::With: genWith(s); return;
    case VlSk::Exit: genExitLoop(s, true); return;
    case VlSk::Loop: genExitLoop(s, false); return;
    case VlSk::MemvarDecl: genMemvarDecl(s); return;
    case VlSk::Parameters:
      // Frame set-up, like ENTER: no line of its own.
      for (VlNode* v = s->decls; v; v = v->next) {
        Res r = resolve(v->name, nullptr);
        if (r.kind != Rk::Undeclared && r.kind != Rk::Memvar) {
          error(v->line, v->col, std::string("'") + v->name + "' is declared twice");
          continue;
        }
        m_buf->op(VL_P_PARAMPRIVATE);
        m_buf->u2(static_cast<unsigned>(symbol(v->name, 0x00C1)));
        m_buf->u1(static_cast<unsigned>(v->ival) & 0xFF);
      }
      return;
    case VlSk::Case: return;
  }
}

void ModuleGen::genDims(VlNode* var) {
  for (VlNode* d = var->list; d; d = d->next) genExpr(d, VlGenMode::Push);
  m_buf->op(VL_P_DIMARRAY);
  m_buf->u2(var->count & 0xFFFF);
}

void ModuleGen::genLocalInit(VlStmt* s) {
  emitLine(s->line);
  VlNode* v = s->var;
  if (v->list) {
    genDims(v);
    genVar(v, VlGenMode::Pop);
    return;
  }
  VlNode* assign = vl_nodeBinary(m_arena, VlNk::Assign, v, v->a);
  genExpr(assign, VlGenMode::Stmt);
}

void ModuleGen::genMemvarDecl(VlStmt* s) {
  emitLine(s->line);
  // One call creates every listed variable, then the initial values are assigned.
  uint32_t n = 0;
  symOp(VL_P_PUTSYM1, VL_P_PUTSYM2, s->flag ? "__MVPUBLIC" : "__MVPRIVATE", 0x0001);
  m_buf->op(VL_P_PUTNIL);
  for (VlNode* v = s->decls; v; v = v->next) {
    Res r = resolve(v->name, nullptr);
    if (r.kind == Rk::Local || r.kind == Rk::Static || r.kind == Rk::Field)
      error(v->line, v->col, std::string("'") + v->name + "' is not a memory variable");
    symOp(VL_P_PUTSYM1, VL_P_PUTSYM2, v->name, 0x00C1);
    ++n;
  }
  if (n < 256) {
    m_buf->op(VL_P_CALLP1);
    m_buf->u1(n);
  } else {
    m_buf->op(VL_P_CALLP2);
    m_buf->u2(n & 0xFFFF);
  }
  for (VlNode* v = s->decls; v; v = v->next) {
    if (v->list) {
      genDims(v);
      genVar(v, VlGenMode::Pop);
    } else if (v->a) {
      genExpr(vl_nodeBinary(m_arena, VlNk::Assign, vl_nodeName(m_arena, VlNk::Var, v->name, v->line, v->col), v->a),
              VlGenMode::Stmt);
    }
  }
}

void ModuleGen::genReturn(VlStmt* s) {
  emitLine(s->line);
  if (s->e1) genExpr(s->e1, VlGenMode::Push);
  else m_buf->op(VL_P_PUTNIL);
  m_buf->op(VL_P_SETRESULT);
  // Open sequences and TRYs must be closed: their records would outlive the procedure.
  for (size_t i = m_flow.size(); i-- > 0;) {
    const Flow& f = m_flow[i];
    switch (f.kind) {
      case Flow::Switch: m_buf->op(VL_P_DROP); break;
      case Flow::Seq: genSeqOp(VL_P_SEQCLOSE, SIZE_MAX); break;
      case Flow::TryBody:
        if (f.hasFinally) error(s->line, s->col, "RETURN inside TRY with FINALLY is not supported");
        genSeqOp(VL_P_TRYCLOSE, SIZE_MAX);
        break;
      default: break;
    }
  }
  m_buf->op(VL_P_PROCEXIT);
}

void ModuleGen::genExitLoop(VlStmt* s, bool isExit) {
  // EXIT leaves the innermost loop or SWITCH, LOOP continues the innermost loop.
  size_t target = SIZE_MAX;
  for (size_t i = m_flow.size(); i-- > 0;) {
    if (m_flow[i].kind == Flow::Loop || (isExit && m_flow[i].kind == Flow::Switch)) {
      target = i;
      break;
    }
  }
  if (target == SIZE_MAX) {
    error(s->line, s->col, isExit ? "EXIT outside a loop" : "LOOP outside a loop");
    return;
  }
  for (size_t i = m_flow.size(); i-- > target + 1;) {
    const Flow& f = m_flow[i];
    switch (f.kind) {
      case Flow::Switch: m_buf->op(VL_P_DROP); break;
      case Flow::With: m_buf->op(VL_P_WITHCLOSE); break;
      case Flow::Seq: genSeqOp(VL_P_SEQCLOSE, SIZE_MAX); break;
      case Flow::TryBody:
        if (f.hasFinally) {
          error(s->line, s->col, isExit ? "EXIT out of TRY with FINALLY is not supported"
                                        : "LOOP out of TRY with FINALLY is not supported");
          return;
        }
        genSeqOp(VL_P_TRYCLOSE, SIZE_MAX);
        break;
      case Flow::TryCatch:
      case Flow::Finally:
        if (f.hasFinally) {
          error(s->line, s->col, isExit ? "EXIT out of TRY with FINALLY is not supported"
                                        : "LOOP out of TRY with FINALLY is not supported");
          return;
        }
        break;
      default: break;
    }
  }
  Flow& t = m_flow[target];
  if (isExit) {
    t.exits.push_back(jumpForward(VL_P_GOTO2));
  } else if (t.continueTarget != SIZE_MAX) {
    jumpBack(VL_P_GOTO2, t.continueTarget);
  } else {
    t.continues.push_back(jumpForward(VL_P_GOTO2));
  }
}

void ModuleGen::genIf(VlStmt* s) {
  std::vector<size_t> toEnd;
  emitLine(s->line);
  genCond(s->e1);
  size_t next = jumpForward(VL_P_IFNOT2);
  genStmts(s->body);
  for (VlStmt* c = s->cases; c; c = c->next) {
    toEnd.push_back(jumpForward(VL_P_GOTO2));
    patchJump(next);
    label();
    emitLine(c->line);
    genCond(c->e1);
    next = jumpForward(VL_P_IFNOT2);
    genStmts(c->body);
  }
  if (s->hasAlt) {
    toEnd.push_back(jumpForward(VL_P_GOTO2));
    patchJump(next);
    label();
    genStmts(s->alt);
  } else {
    patchJump(next);
  }
  patchHere(toEnd);
  label();
}

void ModuleGen::genWhile(VlStmt* s) {
  size_t top = label();
  emitLine(s->line);
  genCond(s->e1);
  size_t toEnd = jumpForward(VL_P_IFNOT2);
  m_flow.push_back({Flow::Loop});
  m_flow.back().continueTarget = top;
  genStmts(s->body);
  jumpBack(VL_P_GOTO2, top);
  Flow f = std::move(m_flow.back());
  m_flow.pop_back();
  patchJump(toEnd);
  patchHere(f.exits);
  label();
}

void ModuleGen::genFor(VlStmt* s) {
  emitLine(s->line);
  genExpr(vl_nodeBinary(m_arena, VlNk::Assign, s->var, s->e1), VlGenMode::Stmt);
  size_t toTest = jumpForward(VL_P_GOTO2);
  size_t top = label();
  m_flow.push_back({Flow::Loop});
  genStmts(s->body);
  Flow f = std::move(m_flow.back());
  m_flow.pop_back();
  patchHere(f.continues);
  emitLine(s->endLine);
  // The step: counter := counter + step.
  if (s->e3) {
    VlNode* sum = vl_nodeBinary(m_arena, VlNk::Plus, s->var, s->e3);
    genExpr(vl_nodeBinary(m_arena, VlNk::Assign, s->var, sum), VlGenMode::Stmt);
  } else {
    genExpr(vl_nodeUnary(m_arena, VlNk::PreInc, s->var), VlGenMode::Stmt);
  }
  patchJump(toTest);
  genVar(s->var, VlGenMode::Push);
  genExpr(s->e2, VlGenMode::Push);
  if (s->e3) genExpr(s->e3, VlGenMode::Push);
  else m_buf->op(VL_P_PUTONE);
  m_buf->op(VL_P_LOOPCHECK);
  jumpBack(VL_P_IFSO2, top);
  patchHere(f.exits);
  label();
}

void ModuleGen::genForEach(VlStmt* s) {
  emitLine(s->line);
  Res r = resolveHere(s->var->name, s->var);
  if (r.kind == Rk::Field) error(s->var->line, s->var->col, "a field cannot be the FOR EACH variable");
  genVarRef(s->var);
  genExpr(s->e1, VlGenMode::Push);
  m_buf->op(VL_P_EACHOPEN);
  size_t top = label();
  m_buf->op(VL_P_EACHSTEP);
  size_t toEnd = jumpForward(VL_P_IFNOT2);
  m_flow.push_back({Flow::Loop});
  m_flow.back().continueTarget = top;
  genStmts(s->body);
  jumpBack(VL_P_GOTO2, top);
  Flow f = std::move(m_flow.back());
  m_flow.pop_back();
  patchJump(toEnd);
  patchHere(f.exits);
  label();
  m_buf->op(VL_P_EACHCLOSE);
}

void ModuleGen::genDoCase(VlStmt* s) {
  std::vector<size_t> toEnd;
  for (VlStmt* c = s->cases; c; c = c->next) {
    emitLine(c->line);
    genCond(c->e1);
    size_t next = jumpForward(VL_P_IFNOT2);
    genStmts(c->body);
    toEnd.push_back(jumpForward(VL_P_GOTO2));
    patchJump(next);
    label();
  }
  if (s->hasAlt) genStmts(s->alt);
  patchHere(toEnd);
  label();
}

// The value stays on the stack while CASEVALUE compares it with each constant; the CASE bodies
// follow in order and fall through to the next one unless left with EXIT.
void ModuleGen::genSwitch(VlStmt* s) {
  emitLine(s->line);
  genExpr(s->e1, VlGenMode::Push);
  std::vector<std::pair<VlStmt*, size_t>> jumps;
  std::set<int32_t> seen;
  for (VlStmt* c = s->cases; c; c = c->next) {
    VlNode* v = c->e1;
    int32_t value;
    if (v->kind == VlNk::Number && !v->isDouble && v->ival >= INT32_MIN && v->ival <= INT32_MAX) {
      value = static_cast<int32_t>(v->ival);
    } else if (v->kind == VlNk::String && v->len == 1) {
      value = static_cast<unsigned char>(v->name[0]);
    } else {
      error(c->line, c->col, "a CASE of SWITCH must be an integer or a one-character string constant");
      continue;
    }
    if (!seen.insert(value).second) error(c->line, c->col, "duplicate CASE value");
    m_buf->op(VL_P_CASEVALUE);
    m_buf->i4(value);
    jumps.push_back({c, jumpForward(VL_P_IFSO2)});
  }
  size_t toOther = jumpForward(VL_P_GOTO2);
  m_flow.push_back({Flow::Switch});
  for (auto& [c, j] : jumps) {
    patchJump(j);
    label();
    genStmts(c->body);
  }
  patchJump(toOther);
  label();
  if (s->hasAlt) genStmts(s->alt);
  Flow f = std::move(m_flow.back());
  m_flow.pop_back();
  patchHere(f.exits);
  label();
  m_buf->op(VL_P_DROP);
}

size_t ModuleGen::seqOpen(VlPcode op) {
  size_t at = m_buf->size();
  m_buf->op(op);
  m_buf->s3(0);
  return at;
}

// A sequence instruction (S3 operand); SIZE_MAX targets the next instruction.
void ModuleGen::genSeqOp(VlPcode op, size_t at) {
  if (at == SIZE_MAX) {
    m_buf->op(op);
    m_buf->s3(4);
    return;
  }
  int64_t offset = static_cast<int64_t>(m_buf->size()) - static_cast<int64_t>(at);
  if (offset > 0x7FFFFF) {
    error(0, 0, "function too large");
    return;
  }
  m_buf->putS3At(at + 1, static_cast<int32_t>(offset));
}

void ModuleGen::genSequence(VlStmt* s) {
  size_t open = seqOpen(VL_P_SEQOPEN);
  m_flow.push_back({Flow::Seq});
  genStmts(s->body);
  m_flow.pop_back();
  size_t close = seqOpen(VL_P_SEQCLOSE);
  genSeqOp(VL_P_SEQOPEN, open);  // to the RECOVER section
  label();
  m_buf->op(VL_P_SEQHANDLER);
  if (s->var) genVar(s->var, VlGenMode::Pop);
  else m_buf->op(VL_P_DROP);
  genStmts(s->alt);
  genSeqOp(VL_P_SEQCLOSE, close);  // past it
  label();
}

void ModuleGen::genTry(VlStmt* s) {
  size_t open = seqOpen(VL_P_TRYOPEN);
  m_flow.push_back({Flow::TryBody, s->hasFin});
  genStmts(s->body);
  m_flow.pop_back();
  size_t close = seqOpen(VL_P_TRYCLOSE);
  genSeqOp(VL_P_TRYOPEN, open);
  label();
  size_t handler = seqOpen(VL_P_TRYHANDLER);  // offset to FINALLY, 0 without one
  if (s->var) genVar(s->var, VlGenMode::Pop);
  else m_buf->op(VL_P_DROP);
  m_flow.push_back({Flow::TryCatch, s->hasFin});
  genStmts(s->alt);
  m_flow.pop_back();
  // The normal path also runs FINALLY.
  genSeqOp(VL_P_TRYCLOSE, close);
  label();
  if (s->hasFin) {
    genSeqOp(VL_P_TRYHANDLER, handler);
    m_buf->op(VL_P_FINALLYAT);
    m_flow.push_back({Flow::Finally, true});
    genStmts(s->fin);
    m_flow.pop_back();
    m_buf->op(VL_P_FINALLYEXIT);
  }
}

void ModuleGen::genWith(VlStmt* s) {
  emitLine(s->line);
  genExpr(s->e1, VlGenMode::Push);
  m_buf->op(VL_P_WITHOPEN);
  m_flow.push_back({Flow::With});
  genStmts(s->body);
  m_flow.pop_back();
  m_buf->op(VL_P_WITHCLOSE);
}

}  // namespace

void vl_moduleGenerate(VlArena& arena, VlDiagnostics& diag, VlModuleAst& ast, VlCompiledModule& out) {
  ModuleGen gen(arena, diag, ast, out);
  gen.generate();
}
