// The statement grammar of a source file, on top of the shared expression grammar.
//
// A line break (or ";" within a line) ends a statement; ";" at the end of a line continues it.
// Statement keywords may be abbreviated to four letters and are words only at the start of a
// statement: a keyword followed by an assignment, "++", "--" or "->" starts an expression
// statement instead (so a variable may be called NEXT or CASE). Errors are reported per
// statement; the parser skips to the end of the statement and goes on, so every error of a file
// is reported (up to the diagnostics' limit). Constructs nest at most kMaxDepth deep.
#pragma once

#include <string>
#include <vector>

#include "ast.h"
#include "macro/parser.h"

class VlModuleParser : public VlParser {
 public:
  static constexpr int kMaxDepth = 64;

  VlModuleParser(VlLexer& lexer, const char* source, VlArena& arena, VlDiagnostics& diag, VlModuleAst& ast,
                 std::string implicitName);
  void parseModule();

 private:
  enum Term : uint8_t {
    TNone,
    TElse,
    TElseIf,
    TEndIf,
    TEndDo,
    TNext,
    TCase,
    TOtherwise,
    TEndCase,
    TRecover,
    TCatch,
    TFinally,
    TEnd,
    TEndSwitch,
    TEndWith,
    TEndSeq,
    TEndTry,
    TFunc,
    TEof,
  };
  static uint32_t bit(Term t) { return 1u << t; }

  const char* word() const;
  const char* peekWord();
  bool isKeyword(const char* kw, bool abbrev = true) const;
  static bool matches(const char* w, const char* kw, bool abbrev);
  bool exprFollows();
  Term classify();
  bool atStatementEnd() const;
  void skipSeparators();
  void consumeKeyword();
  void endStatement();
  void closeConstruct();
  void sync();
  void stmtError(int line, int col, const std::string& message);

  VlStmt* newStmt(VlSk kind, const VlToken& at);
  VlStmt* parseBody(uint32_t accept, const char* what, const VlToken& open, Term* found);
  VlStmt* parseStatement();
  VlStmt* parseExprStatement();
  VlStmt* parseQout();
  VlStmt* parseReturn();
  VlStmt* parseIf();
  VlStmt* parseWhile(const VlToken& open);
  VlStmt* parseFor();
  VlStmt* parseForEach(const VlToken& open);
  VlStmt* parseDoCase(const VlToken& open);
  VlStmt* parseSwitch();
  VlStmt* parseSequence();
  VlStmt* parseTry();
  VlStmt* parseWith();
  VlStmt* parseDo(const VlToken& open);
  VlStmt* parseCallStatement(const char* function, bool withArgument);
  VlStmt* parseMemvarStatement(bool isPublic);
  VlStmt* parseParameters();
  VlStmt* parseLocal();
  void parseStatic();
  void parseMemvarOrField(bool field);
  VlNode* parseDeclaredVar(bool allowInit);
  void parseFunctionHeader();
  void declare(std::vector<VlVarDecl>& table, const VlVarDecl& d);
  bool checkDeclPosition(const VlToken& at);
  VlFunc* implicitFunction();

  VlModuleAst& m_ast;
  std::string m_implicitName;
  VlFunc* m_func = nullptr;
  VlStmt* m_tail = nullptr;
  bool m_seenCode = false;
  int m_nesting = 0;
  int m_staticCount = 0;
  std::vector<uint32_t> m_open;  // terminators accepted by the enclosing constructs
};
