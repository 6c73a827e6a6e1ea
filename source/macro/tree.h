// The expression tree built by the grammar and turned into p-code by the code generator. Nodes
// live in the compilation's arena; a list (array elements, arguments, block bodies) is chained
// through `next`.
#pragma once

#include <cstdint>
#include <string>

#include "arena.h"

enum class VlNk : uint8_t {
  Empty,  // an omitted argument or element
  Nil,
  Self,
  Number,
  String,
  Logical,
  Block,      // params (list of Var), list = body
  Array,      // list = elements
  VarRef,     // @name
  FuncRef,    // @name()
  Iif,        // a ? b : c
  ParenList,  // list
  ArgList,    // list
  Elem,       // a[b]
  Macro,      // macroKind: &name (name), macro text (name), &(a)
  Call,       // a = function name or macro, b = argument list or null
  AliasVar,   // a = alias, b = variable (Var or Macro)
  AliasExpr,  // a = alias, b = parenthesised list
  Send,       // a = object, b = message (FuncName or Macro), c = arguments or null
  WithSend,   // b = message, c = arguments or null
  FuncName,
  AliasName,
  Var,
  PostInc,
  PostDec,
  PreInc,
  PreDec,
  Assign,  // a := b, and the compound assignments below
  PlusEq,
  MinusEq,
  MultEq,
  DivEq,
  ModEq,
  PowEq,
  Not,
  Neg,
  // Binary operators: a op b.
  Or,
  And,
  Eq,
  ExactEq,
  Lt,
  Gt,
  Le,
  Ge,
  Ne,
  Contains,
  Like,
  Has,
  Plus,
  Minus,
  Mult,
  Div,
  Mod,
  Power,
  BitAnd,
  BitOr,
  BitXor,
  Shr,
  Shl,
};

enum : uint8_t {
  VL_MACRO_VAR = 1,   // &name
  VL_MACRO_TEXT = 2,  // abc&x.
  VL_MACRO_EXPR = 3,  // &(e)
};

// Macro subtypes: how a macro node is generated.
enum : uint8_t {
  VL_MSUB_EXPR = 0,
  VL_MSUB_FUNC = 1,    // function or message name: MACSYMBOL
  VL_MSUB_ALIAS = 2,   // alias or variable part of an aliased variable: its text only
  VL_MSUB_ARG = 0x08,  // argument of a call
  VL_MSUB_LIST = 0x10,
  VL_MSUB_INDEX = 0x20,
  VL_MSUB_PAREN = 0x40,
};

struct VlNode {
  VlNk kind = VlNk::Empty;
  uint8_t macroKind = 0;
  uint8_t macroSub = 0;
  bool refFlag = false;   // send: @obj:name; aliased memory variable: @M->name
  bool isDouble = false;  // number
  bool logical = false;
  uint8_t width = 0;  // double: display width, 255 default
  uint8_t dec = 0;    // double: decimals, 255 default
  int line = 0, col = 0;
  VlNode* next = nullptr;
  VlNode* a = nullptr;
  VlNode* b = nullptr;
  VlNode* c = nullptr;
  VlNode* list = nullptr;    // first element of a list
  VlNode* params = nullptr;  // codeblock parameters
  uint32_t count = 0;        // list elements
  uint32_t paramCount = 0;
  const char* name = "";  // names, string bytes, macro texts (zero-terminated)
  uint32_t len = 0;
  int64_t ival = 0;
  double dval = 0;
  VlNode* call = nullptr;  // macro argument: the call it belongs to
};

inline bool vl_nodeIsBinary(VlNk k) { return k >= VlNk::Or && k <= VlNk::Shl; }
inline bool vl_nodeIsAssign(VlNk k) { return k >= VlNk::Assign && k <= VlNk::PowEq; }
inline bool vl_nodeIsIncDec(VlNk k) { return k >= VlNk::PostInc && k <= VlNk::PreDec; }
int vl_nodePriority(VlNk k);  // binding priority of a binary operator (higher binds tighter)
const char* vl_nodeOpText(VlNk k);

VlNode* vl_nodeNew(VlArena& arena, VlNk kind, int line = 0, int col = 0);
VlNode* vl_nodeName(VlArena& arena, VlNk kind, const char* name, int line = 0, int col = 0);
VlNode* vl_nodeInt(VlArena& arena, int64_t v);
VlNode* vl_nodeDouble(VlArena& arena, double v, int width, int dec);
VlNode* vl_nodeString(VlArena& arena, const char* text, uint32_t len);
VlNode* vl_nodeLogical(VlArena& arena, bool v);
VlNode* vl_nodeUnary(VlArena& arena, VlNk kind, VlNode* a);
VlNode* vl_nodeBinary(VlArena& arena, VlNk kind, VlNode* a, VlNode* b);
// Appends `item` to the list of `owner`.
void vl_nodeAppend(VlNode* owner, VlNode* item);

// Deepest nesting of the tree (counted without recursion); stops counting past `limit`.
int vl_nodeDepth(const VlNode* root, int limit);

// A compact text form of the tree, for tests and diagnostics: (op left right), (call F args...).
std::string vl_nodeDump(const VlNode* node);
