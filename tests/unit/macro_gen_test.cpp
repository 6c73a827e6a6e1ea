// The macro compiler's code generation: run-time names by dynamic-symbol address, folding, the
// compile flags and features, and the status bits that TYPE() reads.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>

#include "macro/macro.h"
#include "pcode_text.h"

namespace {

// Stands in for the global name table: every name gets a distinct address.
class FakeNames : public VlMacroNames {
 public:
  void* symbol(const char* name) override {
    auto it = m_byName.find(name);
    if (it != m_byName.end()) return it->second.get();
    auto cell = std::make_unique<char>();
    void* p = cell.get();
    m_byAddr[p] = name;
    m_byName.emplace(name, std::move(cell));
    return p;
  }
  bool known(const char* name) override { return m_known.count(name) != 0; }
  bool hasValue(const char* name) override { return m_values.count(name) != 0; }
  bool hasFunction(const char* name) override { return m_functions.count(name) != 0; }
  std::string nameOf(const void* p) const {
    auto it = m_byAddr.find(p);
    return it == m_byAddr.end() ? "?" : it->second;
  }

  std::set<std::string> m_known, m_values, m_functions;

 private:
  std::map<std::string, std::unique_ptr<char>> m_byName;
  std::map<const void*, std::string> m_byAddr;
};

struct Result {
  bool ok;
  VlMacroResult r;
  std::string code;
};

Result macro(const std::string& text, uint32_t flags = VL_MCF_PUSH, uint32_t features = VL_FEAT_SHORTCUT,
             FakeNames* names = nullptr) {
  FakeNames local;
  FakeNames& n = names ? *names : local;
  Result res;
  res.ok = vl_macroCompileText(text.data(), text.size(), flags, features, n, res.r);
  res.code = pcodeText(res.r.code.data(), res.r.code.size(), {}, [&](const void* p) { return n.nameOf(p); });
  return res;
}

}  // namespace

struct Case {
  const char* text;
  const char* code;
};

TEST(MacroGen, PushCode) {
  const Case cases[] = {
      {"a + 1", "RTLOADVAR @A; PUTONE; ADD; PROCEXIT"},
      {"a := 5", "PUTINT8 5; DUP; RTSTOREMEMVAR @A; PROCEXIT"},
      {"a[1] := 2", "PUTINT8 2; DUP; RTMEMVARREF @A; PUTONE; ELEMPUT; PROCEXIT"},
      {"a[2]", "RTLOADMEMVAR @A; PUTINT8 2; ELEMGET; PROCEXIT"},
      {"{|a, b| a + b}", "RTBLOCK p=2 {LOADLOCAL2 1; LOADLOCAL2 2; ADD; BLOCKEXIT}; PROCEXIT"},
      // Only the innermost block's parameters are locals.
      {"{|x| {|| x}}", "RTBLOCK p=1 {RTBLOCK p=0 {RTLOADVAR @X; BLOCKEXIT}; BLOCKEXIT}; PROCEXIT"},
      {"{|a| a[1] := 2}", "RTBLOCK p=1 {PUTINT8 2; DUP; LOCALREF 1; PUTONE; ELEMPUT; BLOCKEXIT}; PROCEXIT"},
      {"{|| }", "RTBLOCK p=0 {PUTNIL; BLOCKEXIT}; PROCEXIT"},
      {"o:x", "RTMSG @X; RTLOADVAR @O; SEND1 0; PROCEXIT"},
      {"::name", "RTMSG @NAME; LOADSELF; SEND1 0; PROCEXIT"},
      {":x(1)", "RTMSG @X; PUTNIL; PUTONE; WITHSEND1 1; PROCEXIT"},
      {"o:x := 1", "RTMSG @_X; RTLOADVAR @O; PUTONE; SEND1 1; PROCEXIT"},
      {"o:x += 1", "RTMSG @_X; RTLOADVAR @O; RTMSG @X; RTLOADVAR @O; SEND1 0; PUTONE; ADD; SEND1 1; PROCEXIT"},
      {"o:x++",
       "RTMSG @X; RTLOADVAR @O; SEND1 0; RTMSG @_X; RTLOADVAR @O; RTMSG @X; RTLOADVAR @O; SEND1 0; INCR; SEND1 1; "
       "DROP; PROCEXIT"},
      {"x++", "RTLOADVAR @X; DUP; INCR; RTSTOREMEMVAR @X; PROCEXIT"},
      {"--x", "RTLOADVAR @X; DECR; DUP; RTSTOREMEMVAR @X; PROCEXIT"},
      {"f(@x, @g(), @o:v, , 1)",
       "RTSYMBOL @F; PUTNIL; RTMEMVARREF @X; RTSYMBOL @G; FUNCADDR; RTMSG @V; RTLOADVAR @O; INSTVARREF; PUTNIL; "
       "PUTONE; CALLF1 5; PROCEXIT"},
      {"f( )", "RTSYMBOL @F; PUTNIL; CALLF1 0; PROCEXIT"},
      {"x IN y", "RTLOADVAR @X; RTLOADVAR @Y; CONTAINS; PROCEXIT"},
      {"{ \"a\" => 1 }", "RTSYMBOL @HASH; PUTNIL; RTSTRING \"a\"; PUTONE; CALLF1 2; PROCEXIT"},
      {"{1, , 2}", "PUTONE; PUTNIL; PUTINT8 2; MAKEARRAY 3; PROCEXIT"},
      {"\"a&b\"", "RTSTRING \"a&b\"; MACTEXT; PROCEXIT"},
      {"\"a & b\"", "RTSTRING \"a & b\"; PROCEXIT"},
      {"&x", "RTLOADVAR @X; MACLOAD 64; PROCEXIT"},
      {"&(a)", "RTLOADVAR @A; MACLOAD 64; PROCEXIT"},
      {"abc&x.", "RTSTRING \"abc&x.\"; MACLOAD 64; PROCEXIT"},
      {"&f()", "RTLOADVAR @F; MACSYMBOL; PUTNIL; CALLF1 0; PROCEXIT"},
      {"o:&m", "RTLOADVAR @M; MACSYMBOL; RTLOADVAR @O; SEND1 0; PROCEXIT"},
      {"IIF(a, 1, 2)", "RTLOADVAR @A; IFNOT2 +7; PUTONE; GOTO2 +5; PUTINT8 2; PROCEXIT"},
      {"IIF(.T., a, b)", "RTLOADVAR @A; PROCEXIT"},
      // Aliased variables.
      {"M->x", "RTLOADMEMVAR @X; PROCEXIT"},
      {"MEMVAR->x", "RTLOADMEMVAR @X; PROCEXIT"},
      {"FIELD->x", "RTLOADFIELD @X; PROCEXIT"},
      {"2->x", "PUTINT8 2; RTLOADALIASFIELD @X; PROCEXIT"},
      {"cust->x", "RTSYMBOL @CUST; RTLOADALIASFIELD @X; PROCEXIT"},
      {"(n)->x", "RTLOADVAR @N; RTLOADALIASVAR @X; PROCEXIT"},
      {"cust->(a)", "LOADALIAS; RTSYMBOL @CUST; STOREALIAS; RTLOADVAR @A; ALIASSWAP; PROCEXIT"},
      {"&a->b", "RTLOADVAR @A; RTSTRING \"B\"; MACLOADALIAS 64; PROCEXIT"},
      {"a->&b", "RTSTRING \"A\"; RTLOADVAR @B; MACLOADALIAS 64; PROCEXIT"},
      // Calls that compile to instructions of their own.
      {"LEFT(s, 2)", "RTLOADVAR @S; STRLEFT 2; PROCEXIT"},
      {"RIGHT(s, 3)", "RTLOADVAR @S; STRRIGHT 3; PROCEXIT"},
      {"VL_ENUMINDEX()", "EACHINDEX; PROCEXIT"},
      {"VL_QWITH()", "LOADWITH; PROCEXIT"},
      {"VL_SETWITH(o)", "LOADWITH; RTLOADVAR @O; WITHOPEN; PROCEXIT"},
      {"VL_SETWITH()", "LOADWITH; WITHCLOSE; PROCEXIT"},
      {"EVAL(b, 1)", "RTMSG @EVAL; RTLOADVAR @B; PUTONE; SEND1 1; PROCEXIT"},
      {"ATAIL(a)", "RTLOADMEMVAR @A; PUTINT8 -1; ELEMGET; PROCEXIT"},
      {"v[LEN(v)]", "RTLOADMEMVAR @V; PUTINT8 -1; ELEMGET; PROCEXIT"},
      {"TYPE(x)", "RTSYMBOL @TYPE; PUTNIL; RTLOADVAR @X; PUTINT8 64; CALLF1 2; PROCEXIT"},
      {"SUBS(c, 1, 2)", "RTSYMBOL @SUBSTR; PUTNIL; RTLOADVAR @C; PUTONE; PUTINT8 2; CALLF1 3; PROCEXIT"},
      {"SUB(c)", "RTSYMBOL @SUB; PUTNIL; RTLOADVAR @C; CALLF1 1; PROCEXIT"},
      {"SUBSTR(f(), 3, 1)", "RTSYMBOL @F; PUTNIL; CALLF1 0; PUTINT8 3; ELEMGET; PROCEXIT"},
      {"SUBSTR(s, 3, 1)", "RTSYMBOL @SUBSTR; PUTNIL; RTLOADVAR @S; PUTINT8 3; PUTONE; CALLF1 3; PROCEXIT"},
      // Folding.
      {"SUBSTR(\"abcdef\", -2)", "RTSTRING \"ef\"; PROCEXIT"},
      {"SUBSTR(\"abc\", 2, 10)", "RTSTRING \"bc\"; PROCEXIT"},
      {"SUBSTR(\"hello\", 0, 2)", "RTSTRING \"he\"; PROCEXIT"},
      {"{1, 2, 3}[2]", "PUTINT8 2; PROCEXIT"},
      {"CHR(256)", "RTSTRING \"\\x00\"; PROCEXIT"},
      {"CHR(0)", "RTSTRING \"\\x00\"; PROCEXIT"},
      {"CHR(-1)", "RTSTRING \"\\xFF\"; PROCEXIT"},
      {"CHR(65.9)", "RTSTRING \"A\"; PROCEXIT"},
      {"\"\" $ \"abc\"", "PUTFALSE; PROCEXIT"},
      {"\"b\" $ \"abc\"", "PUTTRUE; PROCEXIT"},
      {"AT(\"\", \"abc\")", "PUTZERO; PROCEXIT"},
      {"AT(\"c\", \"abc\")", "PUTINT8 3; PROCEXIT"},
      {"7 / 2", "PUTDOUBLE 3.5 255 255; PROCEXIT"},
      {"6 / 3", "PUTINT8 2; PROCEXIT"},
      {"7 % 3", "PUTONE; PROCEXIT"},
      {"1.5 + 2", "PUTDOUBLE 3.5 255 1; PROCEXIT"},
      {"1.25 * 2.5", "PUTDOUBLE 3.125 255 3; PROCEXIT"},
      {"9223372036854775807 + 1", "PUTDOUBLE 9.22337e+18 255 0; PROCEXIT"},
      {"2 ** 3", "PUTINT8 2; PUTINT8 3; POW; PROCEXIT"},
      {"-5", "PUTINT8 -5; PROCEXIT"},
      {"-2147483648", "PUTINT32 -2147483648; PROCEXIT"},
      {"5000000000", "PUTINT64 5000000000; PROCEXIT"},
      {".NOT. .T.", "PUTFALSE; PROCEXIT"},
      {"NIL == NIL", "PUTTRUE; PROCEXIT"},
      {"1 = 1.0", "PUTTRUE; PROCEXIT"},
      {"\"\" = \"\"", "PUTTRUE; PROCEXIT"},
      {"\"a\" = \"a\"", "RTSTRING \"a\"; RTSTRING \"a\"; EQ; PROCEXIT"},
      {"\"a\" == \"a\"", "PUTTRUE; PROCEXIT"},
      {"NIL = 0", "PUTFALSE; PROCEXIT"},
      {".F. != x", "RTLOADVAR @X; PROCEXIT"},
      {"x != .T.", "RTLOADVAR @X; LNOT; PROCEXIT"},
      {"2 < 3", "PUTTRUE; PROCEXIT"},
      {".F. < .T.", "PUTTRUE; PROCEXIT"},
      {"6 & 3 | 8", "PUTINT8 10; PROCEXIT"},
      {"1 << 4", "PUTINT8 16; PROCEXIT"},
      {"-8 >> 1", "PUTINT8 -4; PROCEXIT"},
      {"\"ab\" + \"cd\"", "RTSTRING \"abcd\"; PROCEXIT"},
      {"\"ab\" - \"cd\"", "RTSTRING \"ab\"; RTSTRING \"cd\"; SUB; PROCEXIT"},
      {"(1 + 2)", "PUTINT8 3; PROCEXIT"},
      {"(a)", "RTLOADVAR @A; PROCEXIT"},
      // Shortcut logic.
      {"a .AND. b", "PUTFALSE; RTLOADVAR @A; IFNOT2 +13; DROP; RTLOADVAR @B; PROCEXIT"},
      {"a .OR. b", "RTLOADVAR @A; DUP; IFSO2 +13; RTLOADVAR @B; LOR; PROCEXIT"},
      {".T. .AND. x", "RTLOADVAR @X; PROCEXIT"},
      {"x .AND. .F.", "PUTFALSE; PROCEXIT"},
      {"x .OR. .T.", "PUTTRUE; PROCEXIT"},
      {".F. .OR. x", "RTLOADVAR @X; PROCEXIT"},
  };
  for (const Case& c : cases) {
    Result r = macro(c.text);
    EXPECT_TRUE(r.ok) << c.text << ": " << r.r.error;
    EXPECT_EQ(r.code, c.code) << c.text;
  }
}

TEST(MacroGen, PopAndAliasedCode) {
  const Case pop[] = {
      {"a", "RTSTOREMEMVAR @A; PROCEXIT"},
      {"a[1]", "RTMEMVARREF @A; PUTONE; ELEMPUT; PROCEXIT"},
      {"M->x", "RTSTOREMEMVAR @X; PROCEXIT"},
      {"FIELD->x", "RTSTOREFIELD @X; PROCEXIT"},
      {"cust->x", "RTSYMBOL @CUST; RTSTOREALIASFIELD @X; PROCEXIT"},
      {"2->x", "PUTINT8 2; RTSTOREALIASFIELD @X; PROCEXIT"},
      {"&x", "RTLOADVAR @X; MACSTORE 64; PROCEXIT"},
  };
  for (const Case& c : pop) {
    Result r = macro(c.text, VL_MCF_POP);
    EXPECT_TRUE(r.ok) << c.text;
    EXPECT_EQ(r.code, c.code) << c.text;
  }
  Result a = macro("a", VL_MCF_PUSH | VL_MCF_ALIASED);
  EXPECT_EQ(a.code, "RTLOADALIASVAR @A; PROCEXIT");
  Result b = macro("a", VL_MCF_POP | VL_MCF_ALIASED);
  EXPECT_EQ(b.code, "RTSTOREALIASVAR @A; PROCEXIT");
  // Not assignable: a target error.
  Result c = macro("f()", VL_MCF_POP);
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.r.status, VL_MST_ERR2 | VL_MST_ERR4);
}

TEST(MacroGen, FeaturesChangeTheCode) {
  const struct {
    const char* text;
    uint32_t features;
    const char* code;
  } cases[] = {
      {"a .AND. b", 0, "RTLOADVAR @A; RTLOADVAR @B; LAND; PROCEXIT"},
      {".T. .AND. x", 0, "PUTTRUE; RTLOADVAR @X; LAND; PROCEXIT"},
      {"(a + b, c)", VL_FEAT_SHORTCUT, "RTLOADVAR @A; RTLOADVAR @B; ADD; DROP; RTLOADVAR @C; PROCEXIT"},
      {"(a + b, c)", VL_FEAT_STMTOPS, "RTLOADVAR @A; DROP; RTLOADVAR @B; DROP; RTLOADVAR @C; PROCEXIT"},
      {"f(&x)", VL_FEAT_EXTMACRO, "RTSYMBOL @F; PUTNIL; RTLOADVAR @X; MACLOADARGS 64; RTSYMBOL @F; CALLF1 1; PROCEXIT"},
      {"f(&x)", 0, "RTSYMBOL @F; PUTNIL; RTLOADVAR @X; MACLOAD 64; CALLF1 1; PROCEXIT"},
      {"{&x}", VL_FEAT_EXTMACRO, "MACLISTOPEN; RTLOADVAR @X; MACLOADLIST 64; MACLISTCLOSE; MAKEARRAY 1; PROCEXIT"},
      {"a[&x]", VL_FEAT_EXTMACRO, "RTLOADMEMVAR @A; RTLOADVAR @X; MACLOADINDEX 64; ELEMGET; PROCEXIT"},
      {"(1, &x)", VL_FEAT_EXTMACRO, "PUTONE; DROP; RTLOADVAR @X; MACLOADEXPR 64; PROCEXIT"},
      {"{|| &x}", 0, "RTBLOCK p=0 {RTLOADVAR @X; MACLOADEXPR 64; BLOCKEXIT}; PROCEXIT"},
      // __DBLIST's field blocks made of macros become what the macros hold.
      {"__DBLIST(1, 2, 3, 4, 5, 6, 7, 8, 9, {{|| &(e)}, {|| &v}, &(s + v + t)})", VL_FEAT_EXTMACRO,
       "RTSYMBOL @__DBLIST; PUTNIL; PUTONE; PUTINT8 2; PUTINT8 3; PUTINT8 4; PUTINT8 5; PUTINT8 6; PUTINT8 7; "
       "PUTINT8 8; PUTINT8 9; RTLOADVAR @E; RTLOADVAR @V; RTLOADVAR @V; MAKEARRAY 3; CALLF1 10; PROCEXIT"},
  };
  for (const auto& c : cases) {
    Result r = macro(c.text, VL_MCF_PUSH, c.features);
    EXPECT_TRUE(r.ok) << c.text;
    EXPECT_EQ(r.code, c.code) << c.text << " features " << c.features;
  }
}

TEST(MacroGen, ListsAndStatus) {
  Result notAllowed = macro("1, 2");
  EXPECT_FALSE(notAllowed.ok);
  EXPECT_TRUE(notAllowed.r.parsed);
  EXPECT_EQ(notAllowed.r.status, VL_MST_ERR2 | VL_MST_ERR4);

  Result args = macro("1, 2", VL_MCF_PUSH | VL_MCF_LIST);
  EXPECT_TRUE(args.ok);
  EXPECT_EQ(args.code, "PUTONE; PUTINT8 2; PROCEXIT");
  EXPECT_EQ(args.r.extraValues, 1u);

  Result last = macro("1, 2", VL_MCF_PUSH | VL_MCF_LIST | VL_MCF_PAREN);
  EXPECT_EQ(last.code, "PUTONE; DROP; PUTINT8 2; PROCEXIT");

  const char* syntax[] = {"", "   ", "1 +", "a b", "f(", "1\n2", "a;b", "&'x'"};
  for (const char* t : syntax) {
    Result r = macro(t);
    EXPECT_FALSE(r.ok) << t;
    EXPECT_FALSE(r.r.parsed) << t;
  }

  // Compile errors keep the parse but clear bit 0x01, each class with its own bits.
  const struct {
    const char* text;
    uint32_t status;
  } classes[] = {
      {"IIF(\"x\", 1, 2)", 0},                                    // operand
      {"{1, 2, 3}[4]", VL_MST_ERR2},                              // index
      {"a[.T.]", VL_MST_ERR2},                                    // index
      {"1 := 2", VL_MST_ERR2 | VL_MST_ERR4},                      // target
      {"1.5->x", VL_MST_ERR2 | VL_MST_ERR4 | VL_MST_ERR8},        // alias
      {"SUB(1.5->x)", VL_MST_ERR2 | VL_MST_ERR4 | VL_MST_ERR8},  // the call's own bit 0x04 is there too
  };
  for (const auto& c : classes) {
    Result r = macro(c.text);
    EXPECT_FALSE(r.ok) << c.text;
    EXPECT_TRUE(r.r.parsed) << c.text;
    EXPECT_EQ(r.r.status, c.status) << c.text;
  }

  // A call of a name outside the reserved list sets 0x04 without failing.
  Result sub = macro("SUB(c)");
  EXPECT_TRUE(sub.ok);
  EXPECT_EQ(sub.r.status, VL_MST_OK | VL_MST_ERR4);
  EXPECT_EQ(macro("{|| 1}").r.rootKind, VlNk::Block);
}

TEST(MacroGen, TypeCheckLooksNamesUp) {
  FakeNames names;
  names.m_known = {"UPPER", "MYFUNC", "X", "NOFUNC"};
  names.m_functions = {"UPPER", "MYFUNC"};
  names.m_values = {"X"};
  const uint32_t flags = VL_MCF_PUSH | VL_MCF_TYPECHECK;
  EXPECT_EQ(macro("UPPER('a')", flags, VL_FEAT_SHORTCUT, &names).r.status, VL_MST_OK);
  EXPECT_EQ(macro("MYFUNC()", flags, VL_FEAT_SHORTCUT, &names).r.status, VL_MST_OK | VL_MST_ERR4);
  EXPECT_EQ(macro("NOFUNC()", flags, VL_FEAT_SHORTCUT, &names).r.status, VL_MST_ERR4 | VL_MST_ERR8);
  EXPECT_EQ(macro("UNKNOWN()", flags, VL_FEAT_SHORTCUT, &names).r.status, VL_MST_ERR4 | VL_MST_ERR8);
  EXPECT_EQ(macro("x + 1", flags, VL_FEAT_SHORTCUT, &names).r.status, VL_MST_OK);
  EXPECT_EQ(macro("y + 1", flags, VL_FEAT_SHORTCUT, &names).r.status, VL_MST_NOVALUE);
}
