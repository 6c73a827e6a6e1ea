// Expression tree nodes: construction, priorities, depth and the text dump used by tests.
#include "tree.h"

#include <cstdio>
#include <vector>

int vl_nodePriority(VlNk k) {
  switch (k) {
    case VlNk::Or: return 35;
    case VlNk::And: return 36;
    case VlNk::Eq:
    case VlNk::ExactEq:
    case VlNk::Lt:
    case VlNk::Gt:
    case VlNk::Le:
    case VlNk::Ge:
    case VlNk::Ne: return 38;
    case VlNk::Contains: return 45;
    case VlNk::Has: return 46;
    case VlNk::Like: return 47;
    case VlNk::Plus:
    case VlNk::Minus: return 48;
    case VlNk::Mult:
    case VlNk::Div:
    case VlNk::Mod: return 50;
    case VlNk::Power: return 53;
    case VlNk::BitAnd: return 54;
    case VlNk::BitOr: return 55;
    case VlNk::BitXor: return 56;
    case VlNk::Shr: return 57;
    case VlNk::Shl: return 58;
    default: return 0;  // assignments and everything that is not a binary operator
  }
}

const char* vl_nodeOpText(VlNk k) {
  switch (k) {
    case VlNk::Assign: return ":=";
    case VlNk::PlusEq: return "+=";
    case VlNk::MinusEq: return "-=";
    case VlNk::MultEq: return "*=";
    case VlNk::DivEq: return "/=";
    case VlNk::ModEq: return "%=";
    case VlNk::PowEq: return "^=";
    case VlNk::Not: return ".NOT.";
    case VlNk::Neg: return "neg";
    case VlNk::Or: return ".OR.";
    case VlNk::And: return ".AND.";
    case VlNk::Eq: return "=";
    case VlNk::ExactEq: return "==";
    case VlNk::Lt: return "<";
    case VlNk::Gt: return ">";
    case VlNk::Le: return "<=";
    case VlNk::Ge: return ">=";
    case VlNk::Ne: return "!=";
    case VlNk::Contains: return "$";
    case VlNk::Like: return "LIKE";
    case VlNk::Has: return "HAS";
    case VlNk::Plus: return "+";
    case VlNk::Minus: return "-";
    case VlNk::Mult: return "*";
    case VlNk::Div: return "/";
    case VlNk::Mod: return "%";
    case VlNk::Power: return "**";
    case VlNk::BitAnd: return "&";
    case VlNk::BitOr: return "|";
    case VlNk::BitXor: return "^^";
    case VlNk::Shr: return ">>";
    case VlNk::Shl: return "<<";
    case VlNk::PostInc: return "post++";
    case VlNk::PostDec: return "post--";
    case VlNk::PreInc: return "++";
    case VlNk::PreDec: return "--";
    default: return "?";
  }
}

VlNode* vl_nodeNew(VlArena& arena, VlNk kind, int line, int col) {
  VlNode* n = arena.make<VlNode>();
  n->kind = kind;
  n->line = line;
  n->col = col;
  return n;
}

VlNode* vl_nodeName(VlArena& arena, VlNk kind, const char* name, int line, int col) {
  VlNode* n = vl_nodeNew(arena, kind, line, col);
  n->name = name;
  n->len = 0;
  while (name[n->len]) ++n->len;
  return n;
}

VlNode* vl_nodeInt(VlArena& arena, int64_t v) {
  VlNode* n = vl_nodeNew(arena, VlNk::Number);
  n->ival = v;
  return n;
}

VlNode* vl_nodeDouble(VlArena& arena, double v, int width, int dec) {
  VlNode* n = vl_nodeNew(arena, VlNk::Number);
  n->isDouble = true;
  n->dval = v;
  n->width = static_cast<uint8_t>(width);
  n->dec = static_cast<uint8_t>(dec);
  return n;
}

VlNode* vl_nodeString(VlArena& arena, const char* text, uint32_t len) {
  VlNode* n = vl_nodeNew(arena, VlNk::String);
  n->name = arena.copy(text, len);
  n->len = len;
  return n;
}

VlNode* vl_nodeLogical(VlArena& arena, bool v) {
  VlNode* n = vl_nodeNew(arena, VlNk::Logical);
  n->logical = v;
  return n;
}

VlNode* vl_nodeUnary(VlArena& arena, VlNk kind, VlNode* a) {
  VlNode* n = vl_nodeNew(arena, kind, a ? a->line : 0, a ? a->col : 0);
  n->a = a;
  return n;
}

VlNode* vl_nodeBinary(VlArena& arena, VlNk kind, VlNode* a, VlNode* b) {
  VlNode* n = vl_nodeNew(arena, kind, a ? a->line : 0, a ? a->col : 0);
  n->a = a;
  n->b = b;
  return n;
}

void vl_nodeAppend(VlNode* owner, VlNode* item) {
  item->next = nullptr;
  if (!owner->list) {
    owner->list = item;
  } else {
    VlNode* last = owner->list;
    while (last->next) last = last->next;
    last->next = item;
  }
  ++owner->count;
}

int vl_nodeDepth(const VlNode* root, int limit) {
  if (!root) return 0;
  std::vector<std::pair<const VlNode*, int>> stack;
  stack.push_back({root, 1});
  int deepest = 0;
  while (!stack.empty()) {
    auto [n, d] = stack.back();
    stack.pop_back();
    if (d > deepest) deepest = d;
    if (deepest > limit) return deepest;
    for (const VlNode* child : {n->a, n->b, n->c})
      if (child) stack.push_back({child, d + 1});
    for (const VlNode* e = n->list; e; e = e->next) stack.push_back({e, d + 1});
    for (const VlNode* e = n->params; e; e = e->next) stack.push_back({e, d + 1});
  }
  return deepest;
}

namespace {

void dumpList(std::string& out, const VlNode* first);

void dump(std::string& out, const VlNode* n) {
  if (!n) {
    out += "<null>";
    return;
  }
  char buf[64];
  switch (n->kind) {
    case VlNk::Empty: out += "<empty>"; return;
    case VlNk::Nil: out += "NIL"; return;
    case VlNk::Self: out += "SELF"; return;
    case VlNk::Number:
      if (n->isDouble) {
        if (n->dec == 255) std::snprintf(buf, sizeof buf, "%g", n->dval);
        else std::snprintf(buf, sizeof buf, "%.*f", n->dec, n->dval);
      } else {
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(n->ival));
      }
      out += buf;
      return;
    case VlNk::String:
      out += '"';
      out.append(n->name, n->len);
      out += '"';
      return;
    case VlNk::Logical: out += n->logical ? ".T." : ".F."; return;
    case VlNk::Block:
      out += "(block (";
      for (const VlNode* p = n->params; p; p = p->next) {
        if (p != n->params) out += ' ';
        out += p->name;
      }
      out += ")";
      dumpList(out, n->list);
      out += ')';
      return;
    case VlNk::Array: out += "(array"; dumpList(out, n->list); out += ')'; return;
    case VlNk::VarRef: out += '@'; out += n->name; return;
    case VlNk::FuncRef: out += '@'; out += n->name; out += "()"; return;
    case VlNk::Iif:
      out += "(iif ";
      dump(out, n->a);
      out += ' ';
      dump(out, n->b);
      out += ' ';
      dump(out, n->c);
      out += ')';
      return;
    case VlNk::ParenList: out += "(paren"; dumpList(out, n->list); out += ')'; return;
    case VlNk::ArgList: out += "(args"; dumpList(out, n->list); out += ')'; return;
    case VlNk::Elem:
      out += "(elem ";
      dump(out, n->a);
      out += ' ';
      dump(out, n->b);
      out += ')';
      return;
    case VlNk::Macro:
      if (n->macroKind == VL_MACRO_EXPR) {
        out += "&(";
        dump(out, n->a);
        out += ')';
      } else if (n->macroKind == VL_MACRO_VAR) {
        out += '&';
        out += n->name;
      } else {
        out += n->name;
      }
      return;
    case VlNk::Call:
      out += "(call ";
      dump(out, n->a);
      if (n->b) dumpList(out, n->b->list);
      out += ')';
      return;
    case VlNk::AliasVar:
      out += "(-> ";
      dump(out, n->a);
      out += ' ';
      dump(out, n->b);
      out += ')';
      return;
    case VlNk::AliasExpr:
      out += "(->list ";
      dump(out, n->a);
      if (n->b) dumpList(out, n->b->list);
      out += ')';
      return;
    case VlNk::Send:
    case VlNk::WithSend:
      out += n->kind == VlNk::WithSend ? "(withsend " : n->refFlag ? "(@send " : "(send ";
      if (n->kind == VlNk::Send) {
        dump(out, n->a);
        out += ' ';
      }
      dump(out, n->b);
      if (n->c) dumpList(out, n->c->list);
      out += ')';
      return;
    case VlNk::FuncName:
    case VlNk::AliasName:
    case VlNk::Var: out += n->name; return;
    default: break;
  }
  out += '(';
  out += vl_nodeOpText(n->kind);
  out += ' ';
  dump(out, n->a);
  if (n->b) {
    out += ' ';
    dump(out, n->b);
  }
  out += ')';
}

void dumpList(std::string& out, const VlNode* first) {
  for (const VlNode* e = first; e; e = e->next) {
    out += ' ';
    dump(out, e);
  }
}

}  // namespace

std::string vl_nodeDump(const VlNode* node) {
  std::string out;
  dump(out, node);
  return out;
}
