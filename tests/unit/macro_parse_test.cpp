// The expression grammar: how operators bind (levels plus re-association), context-dependent
// tokens and the bounds that keep hostile input from exhausting the stack.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "macro/lexer.h"
#include "macro/parser.h"

namespace {

std::string tree(const std::string& text) {
  VlArena arena;
  VlDiagnostics diag;
  VlLexer lex(text.data(), text.size(), VlLexer::Macro, arena, diag);
  VlParser p(lex, text.data(), arena, diag, true);
  p.start();
  VlNode* n = p.parseTopExpression();
  if (p.failed() || diag.hasErrors() || p.token().kind != VlTok::End) return "ERROR";
  return vl_nodeDump(n);
}

struct Case {
  const char* text;
  const char* expected;
};

TEST(MacroGrammar, OperatorsBindAsSpecifiedByLevelsAndPriorities) {
  const Case cases[] = {
      {"a - b - c", "(- (- A B) C)"},
      {"a + b * c", "(+ A (* B C))"},
      {"a * b + c", "(+ (* A B) C)"},
      {".NOT. a .AND. b", "(.AND. (.NOT. A) B)"},
      {".NOT. a = b", "(.NOT. (= A B))"},
      {"!a .OR. b", "(.OR. (.NOT. A) B)"},
      {"a := b := c", "(:= A (:= B C))"},
      {"a $ b = c", "(= ($ A B) C)"},
      {"a = b $ c", "(= A ($ B C))"},
      {"-a ** b", "(** (neg A) B)"},
      {"a ** b ** c", "(** (** A B) C)"},
      {"a ^ b", "(** A B)"},
      {"a / b * c % d", "(% (* (/ A B) C) D)"},
      {"a .OR. b .AND. c", "(.OR. A (.AND. B C))"},
      {"a .AND. b .OR. c", "(.OR. (.AND. A B) C)"},
      // Bit operators sit low in the grammar but bind tightly once re-associated.
      {"a | b + c", "(+ (| A B) C)"},
      {"a + b | c", "(| (+ A B) C)"},
      {"a & b = c", "(= (& A B) C)"},
      {"a << 2 + 1", "(+ (<< A 2) 1)"},
      {"a = b .AND. c", "(.AND. (= A B) C)"},
      {"a += b * 2", "(+= A (* B 2))"},
      {"x++ + --y", "(+ (post++ X) (-- Y))"},
      {"a LIKE b", "(LIKE A B)"},
      {"a HAS b", "(HAS A B)"},
      {"x IN y", "($ X Y)"},
      {"IN + 1", "(+ IN 1)"},
      {"a == b != c", "(!= (== A B) C)"},
      {"a <> b # c", "(!= (!= A B) C)"},
      {".NOT. a := b", "(.NOT. (:= A B))"},
      {"-x := 5", "(neg (:= X 5))"},
  };
  for (const Case& c : cases) EXPECT_EQ(tree(c.text), c.expected) << c.text;
}

TEST(MacroGrammar, OperandForms) {
  const Case cases[] = {
      {"::name", "(send SELF NAME)"},
      {"::name := 1", "(:= (send SELF NAME) 1)"},
      {"o:m(1, 2):n", "(send (send O M 1 2) N)"},
      {":x(1)", "(withsend X 1)"},
      {"{|a, b| a + b}", "(block (A B) (+ A B))"},
      {"{|| }", "(block ())"},
      {"{|a| a | 1}", "(block (A) (| A 1))"},
      {"{ \"a\" => 1, \"b\" => 2 }", "(call HASH \"a\" 1 \"b\" 2)"},
      {"{=>}", "(call HASH)"},
      {"{}", "(array)"},
      {"{1, , @x}", "(array 1 <empty> @X)"},
      {"a[1]", "(elem A 1)"},
      {"[x]", "\"x\""},
      {"a[1, 2][3]", "(elem (elem (elem A 1) 2) 3)"},
      {"f()[2]", "(elem (call F) 2)"},
      {"\"ab\"[1]", "(elem \"ab\" 1)"},
      {"f(@x, @g(), @o:v, , 1)", "(call F @X @G() (@send O V) <empty> 1)"},
      {"IIF(a, 1, 2)", "(iif A 1 2)"},
      {"if(a, 1, 2)", "(iif A 1 2)"},
      {"cust->name", "(-> CUST NAME)"},
      {"M->x", "(-> M X)"},
      {"FIELD->x", "(-> FIELD X)"},
      {"_FIELD->x", "(-> FIELD X)"},
      {"2->x", "(-> 2 X)"},
      {"(n)->x", "(-> (paren N) X)"},
      {"cust->(f(), g())", "(->list CUST (call F) (call G))"},
      {"&x", "&X"},
      {"&x.", "&X"},
      {"abc&x.", "abc&x."},
      {"&x.def", "&x.def"},
      {"&(a + 1)", "&((+ A 1))"},
      {"&f(1)", "(call &F 1)"},
      {"&a->b", "(-> &A B)"},
      {"QSELF()", "SELF"},
      {"(1, 2)", "(paren 1 2)"},
      {"a & b", "(& A B)"},
      {".t. .OR. .N.", "(.OR. .T. .F.)"},
      {"1.50", "1.50"},
      {".5", "0.5"},
      {"0x1F", "31"},
      {"99999999999999999999", "100000000000000000000"},
  };
  for (const Case& c : cases) EXPECT_EQ(tree(c.text), c.expected) << c.text;
}

TEST(MacroGrammar, SyntaxErrors) {
  const char* bad[] = {
      "a + b := c", "a * b := 1", "1 +", "a\nb", "a; b", "&'x'", "&[x]", "1abc", "f(", "a[1", "{|a a| 1}",
      "{|a, a| 1}", "(", ")", "a b", "@x", "x->", "\"abc", "a.", ". 5",
  };
  for (const char* t : bad) EXPECT_EQ(tree(t), "ERROR") << t;
  // A trailing line break is the end of the expression.
  EXPECT_EQ(tree("a + 1\n"), "(+ A 1)");
}

TEST(MacroGrammar, IdentifiersAreUpperCasedAndCutTo63Characters) {
  std::string name(70, 'a');
  std::string expected(63, 'A');
  EXPECT_EQ(tree(name), expected);
}

TEST(MacroGrammar, ReservedNamesAbbreviateFromFourCharacters) {
  EXPECT_STREQ(vl_macroReservedName("SUBS"), "SUBSTR");
  EXPECT_STREQ(vl_macroReservedName("SUBSTR"), "SUBSTR");
  EXPECT_EQ(vl_macroReservedName("SUB"), nullptr);
  EXPECT_EQ(vl_macroReservedName("SUBSTRX"), nullptr);
  EXPECT_STREQ(vl_macroReservedName("AT"), "AT");
  EXPECT_STREQ(vl_macroReservedName("REPL"), "REPLICATE");
  EXPECT_STREQ(vl_macroReservedName("SETP"), "SETPOS");
  EXPECT_STREQ(vl_macroReservedName("SETPOSB"), "SETPOSBS");
  EXPECT_STREQ(vl_macroReservedName("TRAN"), "TRANSFORM");
  EXPECT_EQ(vl_macroReservedName("FOO"), nullptr);
}

TEST(MacroGrammar, DeepNestingAndLongChainsFailCleanly) {
  std::string nested = std::string(5000, '(') + "1" + std::string(5000, ')');
  EXPECT_EQ(tree(nested), "ERROR");
  std::string minus(5000, '-');
  EXPECT_EQ(tree(minus + "1"), "ERROR");
  std::string chain = "a";
  for (int i = 0; i < 3000; ++i) chain += "+a";
  EXPECT_EQ(tree(chain), "ERROR");
  std::string blocks;
  for (int i = 0; i < 3000; ++i) blocks += "{||";
  EXPECT_EQ(tree(blocks), "ERROR");
  // Moderate depth is fine.
  std::string ok = std::string(50, '(') + "1" + std::string(50, ')');
  EXPECT_NE(tree(ok), "ERROR");
}

}  // namespace
