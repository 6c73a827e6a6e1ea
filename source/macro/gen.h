// Code generation from the expression tree, shared by the macro compiler and the module
// compiler. A node is generated in one of three modes: push (leave its value on the stack), pop
// (store the value on top of the stack into it) and statement (evaluate it for its effect).
//
// The two compilers differ only in how names become instructions, so those are virtual hooks: the
// macro compiler names dynamic symbols by address (the RT* instructions) and knows only the
// parameters of the innermost codeblock, while the module compiler indexes its module's symbol
// table and resolves locals, statics and declared memory variables and fields lexically.
#pragma once

#include <cstdint>
#include <string>

#include "lexer.h"
#include "macro.h"
#include "pcodebuf.h"
#include "tree.h"

enum class VlGenMode : uint8_t { Push, Pop, Stmt };

// Compile-error classes (the macro compiler keeps them as status bits).
enum class VlCompError : uint8_t { Operand, Index, Target, Alias, Other };

// Instructions that name a symbol.
enum class VlNameOp : uint8_t {
  PushVar,         // field first, else memory variable
  PopVar,          // memory variable (created when missing)
  RefVar,          // reference to a memory variable
  PushMemvar,
  PopMemvar,
  PushField,
  PopField,
  PushAliasField,  // the alias value is on the stack
  PopAliasField,
  PushAliasVar,    // "M"/"MEMVAR"/"FIELD" alias texts decided at run time
  PopAliasVar,
  FuncSymbol,
  MsgSymbol,
  AliasSymbol,
};


class VlCodeGen {
 public:
  VlCodeGen(VlArena& arena, uint32_t features, bool macroMode);
  virtual ~VlCodeGen() = default;

  void gen(VlNode* n, VlGenMode mode);
  // Constant folding and call rewrites, operands first.
  VlNode* reduce(VlNode* n);
  bool needsLongJumps() const { return m_jumpOverflow; }

 protected:
  // ---- hooks ----
  virtual void genVar(VlNode* var, VlGenMode mode) = 0;
  virtual void genVarRef(VlNode* var) = 0;
  virtual void genNameOp(VlNameOp op, const char* name, const VlNode* at) = 0;
  virtual void genStringPush(const char* text, uint32_t len) = 0;
  virtual void genBlock(VlNode* block) = 0;
  // The array operand of an element: push it, or push a reference to it for an assignment.
  virtual void genElemArray(VlNode* array, bool byRef) = 0;
  // Statement-mode assignment shortcuts (module locals); true when handled.
  virtual bool genAssignFast(VlNode* target, VlNode* value) { return false; }
  virtual bool genIncFast(VlNode* target, bool inc) { return false; }
  virtual void compileError(VlCompError cls, const VlNode* at, const std::string& message) = 0;
  virtual void onCall(const char* name, bool reserved) {}

  // ---- helpers for targets ----
  // A codeblock's body: every expression but the last as a statement, the last pushed (NIL for
  // an empty body), then BLOCKEXIT.
  void genBlockBody(VlNode* block);
  void genPushNumber(const VlNode* n);
  void genInt(int64_t v);
  void genLocalOp(VlPcode op1, VlPcode op2, int n);  // LOADLOCAL1/2-style choice
  size_t jumpForward(VlPcode op2);                    // GOTO2 / IFNOT2 / IFSO2 with a placeholder
  void patchJump(size_t at);                          // to the current position
  void jumpBack(VlPcode op2, size_t target);
  static bool isConstant(const VlNode* n);
  void reduceList(VlNode* owner);  // reduces every element of a list in place
  const char* callName(const VlNode* call);  // reserved-name resolved function name, or null

  VlArena& m_arena;
  VlPcodeBuf* m_buf = nullptr;
  uint32_t m_features;
  bool m_macro;
  bool m_longJumps = false;
  bool m_jumpOverflow = false;

 private:
  void genPush(VlNode* n);
  void genPop(VlNode* n);
  void genStmt(VlNode* n);
  void genString(const VlNode* n);
  void genArray(VlNode* n, bool statement);
  void genIif(VlNode* n);
  void genElem(VlNode* n, bool pop);
  void genMacro(VlNode* n, bool pop);
  void genMacroSource(VlNode* n);
  bool genSpecialCall(VlNode* n, VlGenMode mode);
  void genCall(VlNode* n, VlGenMode mode);
  void genFuncExpr(VlNode* f);
  void genArgs(VlNode* args, VlNode* call, uint32_t* count);
  void genAliasVar(VlNode* n, bool pop);
  void genAliasPush(VlNode* alias);
  void genAliasExpr(VlNode* n, VlGenMode mode);
  void genMessage(VlNode* msg, bool setter);
  void genSend(VlNode* n);
  void genSendOp(VlNode* send, uint32_t argc);
  void genAssign(VlNode* n, VlGenMode mode);
  void genCompound(VlNode* n, VlGenMode mode);
  void genIncDec(VlNode* n, VlGenMode mode);
  void genSendUpdate(VlNode* target, VlNode* value, VlPcode operation);
  void genLogical(VlNode* n, VlGenMode mode);
  void genBinary(VlNode* n, VlGenMode mode);
  void genList(VlNode* first, bool lastPushed);
  bool isTarget(const VlNode* n) const;
  bool checkElem(VlNode* n);

  VlNode* detached(const VlNode* n);  // a copy outside any list
  VlNode* reduceCall(VlNode* n);
  VlNode* reduceBinary(VlNode* n);
  void reduceTarget(VlNode* n);
};

// Shared helpers of the two compilers.
bool vl_textHasMacro(const char* text, uint32_t len);  // "&" followed by a letter or "_"
