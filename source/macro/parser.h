// The expression grammar shared by the macro compiler and the module compiler.
//
// Operators are grouped by levels (lowest first: .OR.; .AND.; .NOT.; |; ^^; bit-and; the
// comparisons; shifts; + and -; * / %; power; unary minus and the increments) and every binary
// operator is right-associative at the parser level. Each time a binary node receives its right
// operand, the node is re-associated by priority (makeBinary): when the right operand is a binary
// node whose priority is not higher than the new node's, the new node takes that operand's left
// child instead and becomes its left child. The two together give the trees callers rely on:
// a - b - c is (a - b) - c, a | b + c is (a | b) + c, a $ b = c is (a $ b) = c.
//
// An assignment is parsed where a target is followed by an assignment operator and takes the
// rest of the expression as its value; as the right operand of a binary operator it is an error.
// Nesting, operator chains and the depth of the finished tree are bounded, so no input can
// exhaust the stack of the parser or of the passes that walk the tree.
#pragma once

#include <string>

#include "diag.h"
#include "lexer.h"
#include "tree.h"

class VlParser {
 public:
  static constexpr int kMaxNesting = 200;   // parentheses, brackets, braces, prefix operators
  static constexpr int kMaxChain = 1000;    // operands of one operator chain
  static constexpr int kMaxTreeDepth = 1000;

  VlParser(VlLexer& lexer, const char* source, VlArena& arena, VlDiagnostics& diag, bool macroMode);
  virtual ~VlParser() = default;

  void start() { advance(); }
  VlNode* parseExpression();
  // The same, and a finished tree deeper than kMaxTreeDepth is reported.
  VlNode* parseTopExpression();
  const VlToken& token() const { return m_tok; }
  bool take(VlTok kind) { return accept(kind); }  // consumes the token when it is of that kind
  bool failed() const { return m_failed; }

 protected:
  void advance();
  const VlToken& peek();
  bool accept(VlTok kind);
  bool expect(VlTok kind);
  void errorAt(int line, int col, const std::string& message);
  void syntaxError(const VlToken& tok);
  std::string tokenText(const VlToken& tok) const;
  bool enter();
  void leave() { --m_depth; }
  VlNode* errorNode();

  VlNode* parseBinary(int minLevel);
  VlNode* parseUnary();
  VlNode* parseOperand();
  VlNode* parsePrimary();
  VlNode* parsePostfix(VlNode* n);
  VlNode* parseAssignment(VlNode* target);
  VlNode* parseArgs();
  VlNode* parseArgElement(bool inArray);
  VlNode* parseReference();
  VlNode* parseBrace(const VlToken& open);
  VlNode* parseBlock(const VlToken& open);
  VlNode* parseAliased(VlNode* alias);
  VlNode* parseMessage();
  VlNode* makeBinary(VlNk op, VlNode* left, VlNode* right, const VlToken& opTok);

  VlLexer& m_lex;
  const char* m_source;
  VlArena& m_arena;
  VlDiagnostics& m_diag;
  bool m_macro;
  VlToken m_tok;
  VlToken m_ahead;
  bool m_hasAhead = false;
  int m_depth = 0;
  bool m_failed = false;              // an error in the current expression (or statement)
  VlNode* m_pendingOperand = nullptr;  // an operand the statement parser already read
};

bool vl_tokIsAssign(VlTok kind);
VlNk vl_tokAssignKind(VlTok kind);
