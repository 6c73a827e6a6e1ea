// The statement tree of a source file: functions with their declarations and bodies. Expressions
// are the macro compiler's trees; statements and expressions live in the compilation's arena,
// functions and declaration tables in ordinary containers owned by VlModuleAst.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "macro/tree.h"

enum class VlSk : uint8_t {
  Expr,        // e1 evaluated for its effect
  LocalInit,   // var := e1 (a LOCAL with an initial value or dimensions in var->list)
  Return,      // e1 or null
  If,          // e1 condition, body; cases: ELSEIF branches; alt: ELSE body (hasAlt)
  DoWhile,     // e1 condition, body
  For,         // var := e1 TO e2 STEP e3, body; endLine: the NEXT line
  ForEach,     // var IN e1, body
  DoCase,      // cases (kind Case), alt: OTHERWISE body (hasAlt)
  Switch,      // e1 value, cases (e1 constant), alt: OTHERWISE body (hasAlt)
  Case,        // a branch: e1 condition or constant, body
  Sequence,    // body; alt: RECOVER body (hasAlt), var: USING variable
  Try,         // body; alt: CATCH body (hasAlt), var: CATCH variable; fin: FINALLY body (hasFin)
  With,        // e1 object, body
  Exit,
  Loop,
  MemvarDecl,  // PRIVATE (flag false) or PUBLIC (flag true): decls = Var nodes (init in a, dims in list)
  Parameters,  // decls = Var nodes
};

struct VlStmt {
  VlSk kind = VlSk::Expr;
  int line = 0, col = 0;
  int endLine = 0;
  VlStmt* next = nullptr;
  VlNode* e1 = nullptr;
  VlNode* e2 = nullptr;
  VlNode* e3 = nullptr;
  VlNode* var = nullptr;
  VlNode* decls = nullptr;  // first of a chain of Var nodes
  VlStmt* body = nullptr;
  VlStmt* alt = nullptr;
  VlStmt* fin = nullptr;
  VlStmt* cases = nullptr;
  bool hasAlt = false;
  bool hasFin = false;
  bool flag = false;
};

enum class VlVarKind : uint8_t { Local, Static, Memvar, Field };

struct VlVarDecl {
  const char* name;
  VlVarKind kind;
  int index;              // local number (params first) or static number (1-based, module wide)
  const char* alias;      // FIELD ... IN alias
  int line, col;
};

enum : uint32_t {
  VL_FUNC_PUBLIC = 0x0001,
  VL_FUNC_STATIC = 0x0002,
  VL_FUNC_INIT = 0x0008,
  VL_FUNC_EXIT = 0x0010,
};

struct VlFunc {
  std::string name;
  uint32_t kind = VL_FUNC_PUBLIC;
  int line = 0, col = 0;
  bool implicit = false;  // the code before the first FUNCTION or PROCEDURE
  std::vector<VlVarDecl> params;      // declared parameters: locals 1..n
  std::vector<VlVarDecl> locals;      // LOCAL: numbered after the parameter positions
  std::vector<VlVarDecl> decls;       // STATIC, MEMVAR and FIELD declarations of the function
  std::vector<const char*> parameters;  // PARAMETERS names, in order: parameter positions
  VlStmt* body = nullptr;
  int paramCount() const { return static_cast<int>(params.size() + parameters.size()); }
};

struct VlStaticInit {
  int index;        // 1-based static number
  VlNode* var;      // init in var->a, dimensions in var->list
  VlFunc* owner;    // null for a module-wide STATIC
};

struct VlModuleAst {
  std::vector<std::unique_ptr<VlFunc>> funcs;
  std::vector<VlVarDecl> decls;  // module-wide STATIC, MEMVAR and FIELD declarations
  std::vector<VlStaticInit> statics;
};
