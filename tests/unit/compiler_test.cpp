// The module compiler: symbol tables, line numbers, the p-code of every statement, codeblocks
// with detached locals, statics, errors and hostile input.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "compiler/compiler.h"
#include "pcode_text.h"
#include "process.h"
#include "vm/pcodes.h"

namespace {

struct Compiled {
  bool ok = false;
  VlCompiledModule m;
  std::vector<VlDiagnostic> errors;

  std::vector<std::string> names() const {
    std::vector<std::string> n;
    for (const auto& s : m.symbols) n.push_back(s.name);
    return n;
  }
  const VlCompiledFunction* function(const std::string& name) const {
    for (const auto& f : m.functions)
      if (f.name == name) return &f;
    return nullptr;
  }
  std::string code(const std::string& name) const {
    const VlCompiledFunction* f = function(name);
    if (!f) return "<no function " + name + ">";
    return pcodeText(f->code.data(), f->code.size(), names());
  }
  std::string errorText() const { return vl_compileFormatErrors("t.prg", errors); }
};

Compiled compile(const std::string& src, const std::string& path = "t.prg") {
  Compiled c;
  c.ok = vl_compileModule(src.data(), src.size(), path, c.m, c.errors);
  return c;
}

// The code of function F of a program, without its frame set-up and its closing return.
std::string body(const std::string& src) {
  Compiled c = compile(src);
  if (!c.ok) return "ERROR " + c.errorText();
  return c.code("F");
}

}  // namespace

// The application module: its symbol table and its recorded lines are part of its interface.
TEST(Compiler, TarvenSymbolTableAndLines) {
  std::string text;
  ASSERT_TRUE(vl_compileReadFile(VL_SOURCE_DIR "/source/app/TARVEN.PRG", text));
  Compiled c = compile(text, "source/app/TARVEN.PRG");
  ASSERT_TRUE(c.ok) << c.errorText();
  EXPECT_EQ(c.m.name, "TARVEN.PRG");

  const struct {
    const char* name;
    uint32_t scope;
  } expected[] = {
      {"MAIN", 0x0005},      {"SET", 0x0001},       {"WWW", 0x00C1},         {"SETCOLOR", 0x0001},
      {"SCROLL", 0x0001},    {"SETPOS", 0x0001},    {"READKILL", 0x0001},    {"GETLIST", 0x00C1},
      {"PCOUNT", 0x0001},    {"QOUT", 0x0001},      {"QQOUT", 0x0001},       {"DIRECTORY", 0x0001},
      {"AKAT", 0x00C1},      {"LEN", 0x0001},       {"A", 0x00C1},           {"I", 0x00C1},
      {"UPPER", 0x0001},     {"PPP", 0x00C1},       {"ULECZ", 0x0001},       {"__MVPRIVATE", 0x0001},
      {"AT", 0x0001},        {"SUBSTR", 0x0001},    {"FILE", 0x0001},        {"DBUSEAREA", 0x0001},
      {"WWW_", 0x00C1},      {"__DBCOPY", 0x0001},  {"DBCLOSEAREA", 0x0001}, {"DBF___", 0x00C1},
      {"FERASE", 0x0001},    {"DBF", 0x00C1},       {"FRENAME", 0x0001},     {"DBF_", 0x00C1},
  };
  ASSERT_EQ(c.m.symbols.size(), 32u);
  for (size_t i = 0; i < 32; ++i) {
    EXPECT_EQ(c.m.symbols[i].name, expected[i].name) << "symbol " << i;
    EXPECT_EQ(c.m.symbols[i].scope, expected[i].scope) << "symbol " << i << " " << expected[i].name;
  }
  EXPECT_EQ(c.m.firstSymbol, 0);
  EXPECT_EQ(c.m.symbols[18].function, 1) << "ULECZ is defined here";

  const VlCompiledFunction* main = c.function("MAIN");
  const VlCompiledFunction* ulecz = c.function("ULECZ");
  ASSERT_TRUE(main && ulecz);
  EXPECT_EQ(pcodeLines(main->code), (std::vector<int>{13, 14, 15, 21, 22, 23, 25, 26, 29, 30, 31, 32, 33, 35, 36,
                                                     37, 38, 41, 42, 43, 44, 46, 48, 49, 51}));
  EXPECT_EQ(pcodeLines(ulecz->code),
            (std::vector<int>{54, 55, 57, 58, 59, 60, 64, 65, 66, 67, 69, 72, 73, 74, 76, 77, 79, 80, 82, 84, 87}));
  // MAIN: no locals, one parameter position, whose PRIVATE WWW is made at line 15.
  std::string mainCode = c.code("MAIN");
  EXPECT_EQ(mainCode.rfind("ENTER 0 1; LINEBASE 13;", 0), 0u) << mainCode;
  EXPECT_NE(mainCode.find("LINESTEP 2; PUTSYM1 SET; PUTNIL; PUTINT8 112; PUTTRUE; CALLP1 2; PARAMPRIVATE WWW 1; LINESTEP 8;"),
            std::string::npos)
      << mainCode;
  // ULECZ: one local after its one parameter.
  EXPECT_EQ(c.code("ULECZ").rfind("ENTER 1 1; LINEBASE 54; LOCALSETINT 2 0; LINESTEP 1; PUTSYM1 __MVPRIVATE;", 0), 0u)
      << c.code("ULECZ");
}

TEST(Compiler, LinesAreRecordedAtEveryStatementAndJumpTarget) {
  // Line 300 is beyond LINESTEP's reach from the base at line 2.
  std::string src = "FUNCTION F\nx := 1\ny := 2; DO WHILE y < 3\ny++\nENDDO";
  src += std::string(295, '\n') + "z := 3\n";
  Compiled c = compile(src);
  ASSERT_TRUE(c.ok) << c.errorText();
  EXPECT_EQ(c.code("F"),
            "LINEBASE 2; PUTONE; STOREVAR X; LINESTEP 1; PUTINT8 2; STOREVAR Y; LINESTEP 1; LOADVAR Y; PUTINT8 3; LT; "
            "IFNOT2 +15; LINESTEP 2; LOADVAR Y; INCR; STOREVAR Y; GOTO2 -20; SETLINE 300; PUTINT8 3; STOREVAR Z; "
            "PUTNIL; SETRESULT; PROCEXIT")
      << "the loop test re-sets its line even though it shares a line with the statement before it";
}

// Each construct's p-code, checked instruction by instruction (jump offsets count from the jump).
TEST(Compiler, StatementCode) {
  const struct {
    const char* src;
    const char* code;
  } cases[] = {
      {"FUNCTION F\nIF a\n? 1\nELSEIF b\n? 2\nELSE\n? 3\nENDIF\n",
       "LINEBASE 2; LOADVAR A; IFNOT2 +14; LINESTEP 1; PUTSYM1 QOUT; PUTNIL; PUTONE; CALLP1 1; GOTO2 +32; LINESTEP 2; "
       "LOADVAR B; IFNOT2 +15; LINESTEP 3; PUTSYM1 QOUT; PUTNIL; PUTINT8 2; CALLP1 1; GOTO2 +12; LINESTEP 5; "
       "PUTSYM1 QOUT; PUTNIL; PUTINT8 3; CALLP1 1; PUTNIL; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nDO WHILE a\nIF b\nEXIT\nENDIF\nLOOP\nENDDO\n",
       "LINEBASE 2; LOADVAR A; IFNOT2 +20; LINESTEP 1; LOADVAR B; IFNOT2 +6; GOTO2 +9; GOTO2 -20; GOTO2 -23; PUTNIL; "
       "SETRESULT; PROCEXIT"},
      {"FUNCTION F\nLOCAL i\nFOR i := 1 TO 10\n? i\nNEXT\n",
       "ENTER 1 0; LINEBASE 3; LOCALSETINT 1 1; GOTO2 +18; LINESTEP 1; PUTSYM1 QOUT; PUTNIL; LOADLOCAL1 1; CALLP1 1; "
       "LINESTEP 2; LOCALADDINT 1 1; LOADLOCAL1 1; PUTINT8 10; PUTONE; LOOPCHECK; IFSO2 -21; PUTNIL; SETRESULT; "
       "PROCEXIT"},
      {"FUNCTION F(n)\nLOCAL i\nFOR i := n TO 1 STEP -1\nIF i = 5\nLOOP\nENDIF\nNEXT\n",
       "ENTER 1 1; LINEBASE 3; LOADLOCAL1 1; STORELOCAL1 2; GOTO2 +25; LINESTEP 1; LOADLOCAL1 2; PUTINT8 5; EQ; "
       "IFNOT2 +6; GOTO2 +3; LINESTEP 4; LOADLOCAL1 2; PUTINT8 -1; ADD; STORELOCAL1 2; LOADLOCAL1 2; PUTONE; "
       "PUTINT8 -1; LOOPCHECK; IFSO2 -28; PUTNIL; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nLOCAL x, a := {1, 2}\nFOR EACH x IN a\n? x\nNEXT\n",
       "ENTER 2 0; LINEBASE 2; PUTONE; PUTINT8 2; MAKEARRAY 2; STORELOCAL1 2; LINESTEP 1; LOCALREF 1; LOADLOCAL1 2; "
       "EACHOPEN; EACHSTEP; IFNOT2 +15; LINESTEP 2; PUTSYM1 QOUT; PUTNIL; LOADLOCAL1 1; CALLP1 1; GOTO2 -13; "
       "EACHCLOSE; PUTNIL; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nDO CASE\nCASE a\n? 1\nCASE b\n? 2\nOTHERWISE\n? 3\nENDCASE\n",
       "LINEBASE 3; LOADVAR A; IFNOT2 +14; LINESTEP 1; PUTSYM1 QOUT; PUTNIL; PUTONE; CALLP1 1; GOTO2 +32; LINESTEP 2; "
       "LOADVAR B; IFNOT2 +15; LINESTEP 3; PUTSYM1 QOUT; PUTNIL; PUTINT8 2; CALLP1 1; GOTO2 +12; LINESTEP 5; "
       "PUTSYM1 QOUT; PUTNIL; PUTINT8 3; CALLP1 1; PUTNIL; SETRESULT; PROCEXIT"},
      // CASE bodies fall through to the next unless left with EXIT; the value is dropped at the end.
      {"FUNCTION F(n)\nSWITCH n\nCASE 1\n? 1\nCASE 'A'\n? 2\nEXIT\nOTHERWISE\n? 3\nEND\n",
       "ENTER 0 1; LINEBASE 2; LOADLOCAL1 1; CASEVALUE 1; IFSO2 +14; CASEVALUE 65; IFSO2 +14; GOTO2 +23; LINESTEP 2; "
       "PUTSYM1 QOUT; PUTNIL; PUTONE; CALLP1 1; LINESTEP 4; PUTSYM1 QOUT; PUTNIL; PUTINT8 2; CALLP1 1; GOTO2 +12; "
       "LINESTEP 7; PUTSYM1 QOUT; PUTNIL; PUTINT8 3; CALLP1 1; DROP; PUTNIL; SETRESULT; PROCEXIT"},
      // LOOP out of a SWITCH drops the SWITCH value first.
      {"FUNCTION F\nDO WHILE .T.\nSWITCH 2\nCASE 2\nLOOP\nEND\nENDDO\n",
       "LINEBASE 2; PUTTRUE; IFNOT2 +26; LINESTEP 1; PUTINT8 2; CASEVALUE 2; IFSO2 +6; GOTO2 +7; DROP; GOTO2 -23; "
       "DROP; GOTO2 -27; PUTNIL; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nLOCAL e\nBEGIN SEQUENCE\nf()\nRECOVER USING e\n? e\nEND\n",
       "ENTER 1 0; SEQOPEN +16; LINEBASE 4; PUTSYM1 F; PUTNIL; CALLP1 0; SEQCLOSE +16; SEQHANDLER; STORELOCAL1 1; "
       "LINESTEP 2; PUTSYM1 QOUT; PUTNIL; LOADLOCAL1 1; CALLP1 1; PUTNIL; SETRESULT; PROCEXIT"},
      // RETURN closes the sequence: its record must not outlive the procedure.
      {"FUNCTION F\nBEGIN SEQUENCE\nRETURN 1\nEND\n",
       "SEQOPEN +18; LINEBASE 3; PUTONE; SETRESULT; SEQCLOSE +4; PROCEXIT; SEQCLOSE +6; SEQHANDLER; DROP; PUTNIL; "
       "SETRESULT; PROCEXIT"},
      {"FUNCTION F\nLOCAL e\nTRY\nf()\nCATCH e\n? e\nFINALLY\n? 2\nEND\n",
       "ENTER 1 0; TRYOPEN +16; LINEBASE 4; PUTSYM1 F; PUTNIL; CALLP1 0; TRYCLOSE +19; TRYHANDLER +15; STORELOCAL1 1; "
       "LINESTEP 2; PUTSYM1 QOUT; PUTNIL; LOADLOCAL1 1; CALLP1 1; FINALLYAT; LINESTEP 4; PUTSYM1 QOUT; PUTNIL; "
       "PUTINT8 2; CALLP1 1; FINALLYEXIT; PUTNIL; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nTRY\nf()\nCATCH\nEND\n",
       "TRYOPEN +16; LINEBASE 3; PUTSYM1 F; PUTNIL; CALLP1 0; TRYCLOSE +9; TRYHANDLER +0; DROP; PUTNIL; SETRESULT; "
       "PROCEXIT"},
      {"FUNCTION F\nWITH OBJECT o\n:x := 1\n? :y(2)\nEND\n",
       "LINEBASE 2; LOADVAR O; WITHOPEN; LINESTEP 1; PUTMSG _X; PUTNIL; PUTONE; WITHSEND1 1; DROP; LINESTEP 2; "
       "PUTSYM1 QOUT; PUTNIL; PUTMSG Y; PUTNIL; PUTINT8 2; WITHSEND1 1; CALLP1 1; WITHCLOSE; PUTNIL; SETRESULT; "
       "PROCEXIT"},
      {"FUNCTION F\n? 1, 2\n?? \"a\"\n?\n",
       "LINEBASE 2; PUTSYM1 QOUT; PUTNIL; PUTONE; PUTINT8 2; CALLP1 2; LINESTEP 1; PUTSYM1 QQOUT; PUTNIL; "
       "PUTSTR1 \"a\"; CALLP1 1; LINESTEP 2; PUTSYM1 QOUT; PUTNIL; CALLP1 0; PUTNIL; SETRESULT; PROCEXIT"},
      // DO ... WITH passes variables by reference, other values by value.
      {"FUNCTION F\nLOCAL a\nDO P WITH a, b, (c), 1\n",
       "ENTER 1 0; LINEBASE 3; PUTSYM1 P; PUTNIL; LOCALREF 1; MEMVARREF B; LOADVAR C; PUTONE; CALLP1 4; PUTNIL; "
       "SETRESULT; PROCEXIT"},
      {"FUNCTION F\nPARAMETERS a, b\nPRIVATE x := 1, y[3]\nPUBLIC z\n",
       "ENTER 0 2; PARAMPRIVATE A 1; PARAMPRIVATE B 2; LINEBASE 3; PUTSYM1 __MVPRIVATE; PUTNIL; PUTSYM1 X; PUTSYM1 Y; "
       "CALLP1 2; PUTONE; STOREVAR X; PUTINT8 3; DIMARRAY 1; STOREVAR Y; LINESTEP 1; PUTSYM1 __MVPUBLIC; PUTNIL; "
       "PUTSYM1 Z; CALLP1 1; PUTNIL; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nLOCAL a := 1, b := 'x', c := 1.5, d[2, 3]\na++\n",
       "ENTER 4 0; LINEBASE 2; LOCALSETINT 1 1; LOCALSETSTR 2 \"x\"; PUTDOUBLE 1.5 1 1; STORELOCAL1 3; PUTINT8 2; "
       "PUTINT8 3; DIMARRAY 2; STORELOCAL1 4; LINESTEP 1; LOCALADDINT 1 1; PUTNIL; SETRESULT; PROCEXIT"},
      // A parameter may hold a reference: it is assigned with STORELOCAL, never in place.
      {"FUNCTION F(p)\np := 1\np++\n",
       "ENTER 0 1; LINEBASE 2; PUTONE; STORELOCAL1 1; LINESTEP 1; LOADLOCAL1 1; INCR; STORELOCAL1 1; PUTNIL; "
       "SETRESULT; PROCEXIT"},
      {"FUNCTION F\nMEMVAR m\nFIELD f1, f2 IN cust\nm := f1 + f2\nf1 := 1\n",
       "LINEBASE 4; PUTSYM1 CUST; LOADALIASFIELD1 F1; PUTSYM1 CUST; LOADALIASFIELD1 F2; ADD; STOREMEMVAR M; "
       "LINESTEP 1; PUTONE; PUTSYM1 CUST; STOREALIASFIELD1 F1; PUTNIL; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nx := &y + &(z) + a&b.c\n&y := 1\n? cust->name, M->m, FIELD->f, 2->g, (n)->h, cust->(f(), g())\n",
       "LINEBASE 2; LOADVAR Y; MACLOAD 64; LOADVAR Z; MACLOAD 64; ADD; PUTSTR1 \"a&b.c\"; MACLOAD 64; ADD; "
       "STOREVAR X; LINESTEP 1; PUTONE; LOADVAR Y; MACSTORE 64; LINESTEP 2; PUTSYM1 QOUT; PUTNIL; PUTSYM1 CUST; "
       "LOADALIASFIELD1 NAME; LOADMEMVAR M; LOADFIELD F; PUTINT8 2; LOADALIASFIELD1 G; LOADVAR N; LOADALIASVAR H; "
       "LOADALIAS; PUTSYM1 CUST; STOREALIAS; PUTSYM1 F; PUTNIL; CALLP1 0; PUTSYM1 G; PUTNIL; CALLF1 0; ALIASSWAP; "
       "CALLP1 6; PUTNIL; SETRESULT; PROCEXIT"},
      // The object of a compound assignment or increment is evaluated twice.
      {"FUNCTION F\no:x += 1\n? o:x++, ++o:x\n",
       "LINEBASE 2; PUTMSG _X; LOADVAR O; PUTMSG X; LOADVAR O; SEND1 0; PUTONE; ADD; SEND1 1; DROP; LINESTEP 1; "
       "PUTSYM1 QOUT; PUTNIL; PUTMSG X; LOADVAR O; SEND1 0; PUTMSG _X; LOADVAR O; PUTMSG X; LOADVAR O; SEND1 0; INCR; "
       "SEND1 1; DROP; PUTMSG _X; LOADVAR O; PUTMSG X; LOADVAR O; SEND1 0; INCR; SEND1 1; CALLP1 2; PUTNIL; "
       "SETRESULT; PROCEXIT"},
      // At statement level "=" assigns; elsewhere it compares. Element assignment goes through a
      // reference so that a string is changed in place.
      {"FUNCTION F\nLOCAL s\nx = 1\ns[2] = \"b\"\n? x = 1\n",
       "ENTER 1 0; LINEBASE 3; PUTONE; STOREVAR X; LINESTEP 1; PUTSTR1 \"b\"; LOCALREF 1; PUTINT8 2; ELEMPUT; "
       "LINESTEP 2; PUTSYM1 QOUT; PUTNIL; LOADVAR X; PUTONE; EQ; CALLP1 1; PUTNIL; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nn := IIF(x, 1, 2)\nIF .T. .AND. y\nENDIF\nRETURN SUBS(\"abc\", 2) + LEFT(s, 2)\n",
       "LINEBASE 2; LOADVAR X; IFNOT2 +7; PUTONE; GOTO2 +5; PUTINT8 2; STOREVAR N; LINESTEP 1; LOADVAR Y; IFNOT2 +3; "
       "LINESTEP 3; PUTSTR1 \"bc\"; LOADVAR S; STRLEFT 2; ADD; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nBREAK\nBREAK 5\nQUIT\n",
       "LINEBASE 2; PUTSYM1 BREAK; PUTNIL; CALLP1 0; LINESTEP 1; PUTSYM1 BREAK; PUTNIL; PUTINT8 5; CALLP1 1; "
       "LINESTEP 2; PUTSYM1 __QUIT; PUTNIL; CALLP1 0; PUTNIL; SETRESULT; PROCEXIT"},
      // "++" after a keyword that takes an expression belongs to the expression.
      {"FUNCTION F\nLOCAL n := 0\nIF --n < 0\nENDIF\nRETURN ++n\n",
       "ENTER 1 0; LINEBASE 2; LOCALSETINT 1 0; LINESTEP 1; LOADLOCAL1 1; DECR; DUP; STORELOCAL1 1; PUTZERO; LT; "
       "IFNOT2 +3; LINESTEP 3; LOADLOCAL1 1; INCR; DUP; STORELOCAL1 1; SETRESULT; PROCEXIT"},
      // Keywords are plain names where an assignment follows.
      {"FUNCTION F\nnext := 1\nloop++\nend := exit\n",
       "LINEBASE 2; PUTONE; STOREVAR NEXT; LINESTEP 1; LOADVAR LOOP; INCR; STOREVAR LOOP; LINESTEP 2; LOADVAR EXIT; "
       "STOREVAR END; PUTNIL; SETRESULT; PROCEXIT"},
  };
  for (const auto& tc : cases) EXPECT_EQ(body(tc.src), tc.code) << tc.src;
}

TEST(Compiler, StaticsAreReservedAndInitialisedByTheInitStaticsProcedure) {
  Compiled c = compile("STATIC s := 10\nFUNCTION F\nSTATIC t := {}\ns := t\nFUNCTION G\nRETURN 1\n");
  ASSERT_TRUE(c.ok) << c.errorText();
  EXPECT_EQ(c.code("F"), "STATICBASE (_INITSTATICS); LINEBASE 4; LOADSTATIC 2; STORESTATIC 1; PUTNIL; SETRESULT; PROCEXIT");
  EXPECT_EQ(c.code("G"), "LINEBASE 6; PUTONE; SETRESULT; PROCEXIT") << "a function without statics sets no base";
  EXPECT_EQ(c.code("(_INITSTATICS)"),
            "STATICCOUNT (_INITSTATICS) 2; STATICBASE (_INITSTATICS); PUTINT8 10; STORESTATIC 1; MAKEARRAY 0; "
            "STORESTATIC 2; PROCEXIT");
  ASSERT_EQ(c.m.symbols.size(), 3u);
  EXPECT_EQ(c.m.symbols[1].name, "(_INITSTATICS)");
  EXPECT_EQ(c.m.symbols[1].scope, 0x0018u);
  EXPECT_EQ(c.m.symbols[0].scope, 0x0005u);
  EXPECT_EQ(c.m.symbols[2].scope, 0x0001u);
}

TEST(Compiler, CodeblocksListTheLocalsTheyDetach) {
  const struct {
    const char* src;
    const char* code;
  } cases[] = {
      // A block in a function lists the function locals it uses and reaches them as -1, -2...
      {"FUNCTION F(p)\nLOCAL a, b\nb := {|x| x + a + p}\n",
       "ENTER 2 1; LINEBASE 3; MAKEBLOCK2 p=1 l=[2,1] {LOADLOCAL1 1; LOADLOCAL1 -1; ADD; LOADLOCAL1 -2; ADD; "
       "BLOCKEXIT}; STORELOCAL1 3; PUTNIL; SETRESULT; PROCEXIT"},
      // A nested block shares its creator's vector unless it uses the creator's parameters.
      {"FUNCTION F\nLOCAL a\nRETURN {|x| {|| a + x}, {|| a}}\n",
       "ENTER 1 0; LINEBASE 3; MAKEBLOCK2 p=1 l=[1] {MAKEBLOCK2 p=0 l=[-1,1] {LOADLOCAL1 -1; LOADLOCAL1 -2; ADD; "
       "BLOCKEXIT}; DROP; MAKEBLOCK1 {LOADLOCAL1 -1; BLOCKEXIT}; BLOCKEXIT}; SETRESULT; PROCEXIT"},
      // A local captured anywhere is never updated in place.
      {"FUNCTION F\nLOCAL n := 0\nb := {|| n}\nn := 5\nn++\n",
       "ENTER 1 0; LINEBASE 2; PUTZERO; STORELOCAL1 1; LINESTEP 1; MAKEBLOCK2 p=0 l=[1] {LOADLOCAL1 -1; BLOCKEXIT}; "
       "STOREVAR B; LINESTEP 2; PUTINT8 5; STORELOCAL1 1; LINESTEP 3; LOADLOCAL1 1; INCR; STORELOCAL1 1; PUTNIL; "
       "SETRESULT; PROCEXIT"},
      // Inside a block, a name that is neither a parameter nor a local is a memory variable; a
      // macro on a local detaches it too.
      {"FUNCTION F\nLOCAL c\nRETURN {|a| a + m + &c, &c}\n",
       "ENTER 1 0; LINEBASE 3; MAKEBLOCK2 p=1 l=[1] {LOADLOCAL1 1; LOADVAR M; ADD; LOADLOCAL1 -1; MACLOAD 64; ADD; "
       "DROP; LOADLOCAL1 -1; MACLOADEXPR 64; BLOCKEXIT}; SETRESULT; PROCEXIT"},
  };
  for (const auto& tc : cases) EXPECT_EQ(body(tc.src), tc.code) << tc.src;
}

TEST(Compiler, CodeBeforeTheFirstFunctionIsAProcedureNamedAfterTheFile) {
  Compiled c = compile("? \"hi\"\nRETURN\nFUNCTION G\nRETURN 2\n", "dir/hello-world.prg");
  ASSERT_TRUE(c.ok) << c.errorText();
  EXPECT_EQ(c.m.name, "hello-world.prg");
  ASSERT_GE(c.m.symbols.size(), 1u);
  EXPECT_EQ(c.m.symbols[0].name, "HELLO_WORLD");
  EXPECT_EQ(c.m.symbols[0].scope, 0x0005u);
  EXPECT_EQ(c.m.firstSymbol, 0);
  EXPECT_EQ(c.code("HELLO_WORLD"), "LINEBASE 1; PUTSYM1 QOUT; PUTNIL; PUTSTR1 \"hi\"; CALLP1 1; LINESTEP 1; PUTNIL; "
                                   "SETRESULT; PROCEXIT");
}

TEST(Compiler, FunctionKindsAndScopes) {
  Compiled c = compile(
      "INIT PROCEDURE Start\n? 1\nEXIT PROCEDURE Stop\n? 2\nSTATIC FUNCTION Helper\nRETURN 1\n"
      "FUNCTION Main\nRETURN Helper() + Later()\nFUNCTION Later\nRETURN o:Helper\n");
  ASSERT_TRUE(c.ok) << c.errorText();
  auto scope = [&](const char* name) -> uint32_t {
    for (const auto& s : c.m.symbols)
      if (s.name == name) return s.scope;
    return 0xFFFF;
  };
  EXPECT_EQ(scope("START"), 0x0008u);
  EXPECT_EQ(scope("STOP"), 0x0010u);
  EXPECT_EQ(scope("HELPER"), 0x0006u | 0x00C0u) << "static, first, and used as a message name";
  EXPECT_EQ(scope("MAIN"), 0x0001u) << "the first function is the static one";
  EXPECT_EQ(scope("LATER"), 0x0001u);
  EXPECT_EQ(scope("QOUT"), 0x0001u);
}

TEST(Compiler, MacroCompilerRulesApplyToModuleCode) {
  const struct {
    const char* src;
    const char* code;
  } cases[] = {
      {"FUNCTION F\nRETURN a - b - c\n", "LINEBASE 2; LOADVAR A; LOADVAR B; SUB; LOADVAR C; SUB; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nRETURN a | b + c\n", "LINEBASE 2; LOADVAR A; LOADVAR B; BOR; LOADVAR C; ADD; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nRETURN [x] + a[1]\n",
       "LINEBASE 2; PUTSTR1 \"x\"; LOADVAR A; PUTONE; ELEMGET; ADD; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nRETURN SUBS(c, 1, 2) + SUB(c)\n",
       "LINEBASE 2; PUTSYM1 SUBSTR; PUTNIL; LOADVAR C; PUTONE; PUTINT8 2; CALLF1 3; PUTSYM1 SUB; PUTNIL; LOADVAR C; "
       "CALLF1 1; ADD; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nRETURN 2 * 3 + 4 / 2 + 7 % 3\n", "LINEBASE 2; PUTINT8 9; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nRETURN \"a\" + \"b\" == \"ab\"\n", "LINEBASE 2; PUTTRUE; SETRESULT; PROCEXIT"},
      // Folding agrees with the run-time operators and functions.
      {"FUNCTION F\nRETURN {\"\" $ \"abc\", AT(\"\", \"abc\"), CHR(256), CHR(65.9)}\n",
       "LINEBASE 2; PUTFALSE; PUTZERO; PUTSTR1 \"\\x00\"; PUTSTR1 \"A\"; MAKEARRAY 4; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nRETURN x IN y\n", "LINEBASE 2; LOADVAR X; LOADVAR Y; CONTAINS; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nRETURN {\"a\" => 1}\n",
       "LINEBASE 2; PUTSYM1 HASH; PUTNIL; PUTSTR1 \"a\"; PUTONE; CALLF1 2; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nRETURN ::name\n", "LINEBASE 2; PUTMSG NAME; LOADSELF; SEND1 0; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nRETURN \"a &b\"\n", "LINEBASE 2; PUTSTR1 \"a &b\"; MACTEXT; SETRESULT; PROCEXIT"},
      {"FUNCTION F\nRETURN -1.5\n", "LINEBASE 2; PUTDOUBLE -1.5 2 1; SETRESULT; PROCEXIT"},
  };
  for (const auto& tc : cases) EXPECT_EQ(body(tc.src), tc.code) << tc.src;
}

TEST(Compiler, ErrorsNameFileLineColumnAndTheToken) {
  const struct {
    const char* src;
    const char* errors;
  } cases[] = {
      {"FUNCTION F\nx := (1 + \nRETURN\n", "t.prg:2:11: syntax error at end of line\n"},
      {"FUNCTION F\nx := 1 2\ny := )\nz := \"abc\nw := 1abc\n",
       "t.prg:2:8: syntax error at '2'\nt.prg:3:6: syntax error at ')'\nt.prg:4:6: unterminated string\n"
       "t.prg:5:6: invalid number '1abc'\n"},
      {"FUNCTION F\nIF x\n? 1\n", "t.prg:2:1: IF is not closed\n"},
      {"FUNCTION F\nENDIF\n", "t.prg:2:1: ENDIF does not match an open statement\n"},
      {"FUNCTION F\nDO WHILE x\nIF y\nENDDO\n", "t.prg:3:1: IF is not closed\n"},
      {"FUNCTION F\nEXIT\nLOOP\n", "t.prg:2:1: EXIT outside a loop\nt.prg:3:1: LOOP outside a loop\n"},
      {"FUNCTION F\nx := 1\nLOCAL y\n", "t.prg:3:1: declaration follows an executable statement\n"},
      {"FUNCTION F\nLOCAL a, a\n", "t.prg:2:10: 'A' is declared twice\n"},
      {"FUNCTION F(a, a)\n", "t.prg:1:15: 'A' is declared twice\n"},
      {"FUNCTION F\nFUNCTION F\n", "t.prg:2:10: function F is defined twice\n"},
      {"FUNCTION F\n1 := 2\nf() := 3\n",
       "t.prg:2:1: invalid assignment target\nt.prg:3:1: invalid assignment target\n"},
      {"FUNCTION F\nRETURN a + b := c\n", "t.prg:2:10: syntax error: assignment as the right operand of '+'\n"},
      {"FUNCTION F\nSWITCH x\nCASE y\nCASE 1.5\nCASE 1\nCASE 1\nEND\n",
       "t.prg:3:1: a CASE of SWITCH must be an integer or a one-character string constant\n"
       "t.prg:4:1: a CASE of SWITCH must be an integer or a one-character string constant\n"
       "t.prg:6:1: duplicate CASE value\n"},
      {"FUNCTION F\nTRY\nRETURN 1\nFINALLY\nEND\n", "t.prg:3:1: RETURN inside TRY with FINALLY is not supported\n"},
      {"FUNCTION F\n#include \"x.ch\"\n", "t.prg:2:1: preprocessor directives are not supported\n"},
      {"FUNCTION F\nRETURN {1,2}[3]\n", "t.prg:2:14: array index out of range\n"},
      {"FUNCTION F\nRETURN 1.5->x\n", "t.prg:2:8: invalid alias\n"},
      {"STATIC s := n\nFUNCTION F(n)\nSTATIC t := n\n", "t.prg:3:13: local variable 'N' in a static initializer\n"},
      {"FUNCTION F\n/* unterminated\n", "t.prg:2:1: unterminated comment\n"},
      {"FUNCTION F\nx := \x01\n", "t.prg:2:6: invalid character '\\x01'\n"},
  };
  for (const auto& tc : cases) {
    Compiled c = compile(tc.src);
    EXPECT_FALSE(c.ok) << tc.src;
    EXPECT_EQ(c.errorText(), tc.errors) << tc.src;
  }
}

TEST(Compiler, ErrorsStopAtTheLimit) {
  std::string src = "FUNCTION F\n";
  for (int i = 0; i < 50; ++i) src += "x := )\n";
  Compiled c = compile(src);
  ASSERT_EQ(c.errors.size(), 21u);
  EXPECT_EQ(c.errors[19].line, 21);
  EXPECT_EQ(c.errors[20].message, "too many errors, compilation stopped");
}

TEST(Compiler, CommentsContinuationsAndSeparators) {
  Compiled c = compile(
      "* a comment line\n"
      "FUNCTION F  // trailing comment\n"
      "   x := 1 + ;   && continued\n"
      "        2 ; y := 3 /* inline */ ; z := 4\n"
      "   /* a comment\n   over lines */\n"
      "   RETURN x * 2   // and a * at the start of a continued line is a multiplication\n");
  ASSERT_TRUE(c.ok) << c.errorText();
  // A statement starting on a continued line records the line it starts on.
  EXPECT_EQ(c.code("F"), "LINEBASE 3; PUTINT8 3; STOREVAR X; LINESTEP 1; PUTINT8 3; STOREVAR Y; PUTINT8 4; "
                         "STOREVAR Z; LINESTEP 4; LOADVAR X; PUTINT8 2; MUL; SETRESULT; PROCEXIT");
  Compiled bom = compile("\xEF\xBB\xBF" "FUNCTION F\r\n\tRETURN 1\r\n");
  EXPECT_TRUE(bom.ok) << bom.errorText();
  Compiled d = compile("FUNCTION F\nx := 2 ;\n* 3\n");
  ASSERT_TRUE(d.ok) << d.errorText();
  EXPECT_EQ(d.code("F"), "LINEBASE 2; PUTINT8 6; STOREVAR X; PUTNIL; SETRESULT; PROCEXIT");
}

// No input crashes the compiler or makes it loop: random bytes, every prefix of a real module,
// and pathological nesting all end with a result or an error.
TEST(Compiler, HostileInputEndsCleanly) {
  std::string tarven;
  ASSERT_TRUE(vl_compileReadFile(VL_SOURCE_DIR "/source/app/TARVEN.PRG", tarven));
  for (size_t n = 0; n <= tarven.size(); n += 7) compile(tarven.substr(0, n));

  std::mt19937 rng(12345);
  const std::string alphabet = "abcxyz0123456789 \t\n;:=+-*/%^&|$#@!<>()[]{},.\"'?\\\x01\xff";
  const char* words[] = {"IF ", "ENDIF ", "DO WHILE ", "ENDDO ", "FOR ", "NEXT ", "FUNCTION F ", "RETURN ",
                         "CASE ", "SWITCH ", "BEGIN SEQUENCE ", "END ", "TRY ", "CATCH ", "{|x| ", "LOCAL ",
                         "STATIC ", "&(", ".AND. ", "->", "::", "WITH OBJECT ", "FOR EACH x IN "};
  for (int round = 0; round < 400; ++round) {
    std::string src;
    int len = static_cast<int>(rng() % 300);
    for (int i = 0; i < len; ++i) {
      if (rng() % 5 == 0) src += words[rng() % (sizeof words / sizeof words[0])];
      else src += alphabet[rng() % alphabet.size()];
    }
    compile(src);
  }

  Compiled deep = compile("FUNCTION F\n" + std::string(100, 'I') + "\n" + []() {
    std::string s;
    for (int i = 0; i < 100; ++i) s += "IF x\n";
    return s;
  }());
  EXPECT_FALSE(deep.ok);
  EXPECT_NE(deep.errorText().find("statements nested too deeply"), std::string::npos) << deep.errorText();

  Compiled parens = compile("FUNCTION F\nRETURN " + std::string(20000, '(') + "1" + std::string(20000, ')') + "\n");
  EXPECT_FALSE(parens.ok);
  EXPECT_NE(parens.errorText().find("expression nested too deeply"), std::string::npos);

  std::string chain = "FUNCTION F\nRETURN a";
  for (int i = 0; i < 5000; ++i) chain += " + a";
  Compiled longChain = compile(chain + "\n");
  EXPECT_FALSE(longChain.ok);
  EXPECT_NE(longChain.errorText().find("expression too complex"), std::string::npos);

  // Just inside the limits: deep trees are still compiled (and walked without exhausting the stack).
  std::string deepChain = "FUNCTION F\nRETURN a";
  for (int i = 0; i < 990; ++i) deepChain += (i % 2 ? " - a" : " + a[1]");
  EXPECT_TRUE(compile(deepChain + "\n").ok);
  std::string nested = "FUNCTION F\nRETURN " + std::string(150, '(') + "a" + std::string(150, ')') + " + " +
                       std::string(40, '{') + std::string(40, '}') + "\n";
  Compiled n = compile(nested);
  EXPECT_TRUE(n.ok) << n.errorText();
}

TEST(Compiler, LongFunctionsUseLongJumps) {
  std::string src = "FUNCTION F\nIF x\n";
  for (int i = 0; i < 3000; ++i) src += "? \"a fairly long line of text to print\"\n";
  src += "ENDIF\n";
  Compiled c = compile(src);
  ASSERT_TRUE(c.ok) << c.errorText();
  EXPECT_EQ(c.code("F").rfind("LINEBASE 2; LOADVAR X; IFNOT3 +", 0), 0u);
}

TEST(Compiler, CppOutputRegistersTheModule) {
  Compiled c = compile("FUNCTION Main\n? \"x\"\nRETURN\nSTATIC FUNCTION Helper\nRETURN 1\n", "dir/alert.prg");
  ASSERT_TRUE(c.ok) << c.errorText();
  std::string cpp = vl_compileToCpp(c.m, "dir/alert.prg");
  EXPECT_NE(cpp.find("{\"MAIN\", 0x0005, {vl_fn0}, VL_SYM_DEFINED},"), std::string::npos) << cpp;
  EXPECT_NE(cpp.find("{\"QOUT\", 0x0001, {nullptr}, nullptr},"), std::string::npos) << cpp;
  EXPECT_NE(cpp.find("{\"HELPER\", 0x0002, {vl_fn1}, VL_SYM_DEFINED},"), std::string::npos) << cpp;
  EXPECT_NE(cpp.find("void vl_fn0() { vl_vmExecute(s_pcode0, s_symbols, nullptr, sizeof s_pcode0); }"),
            std::string::npos);
  EXPECT_NE(cpp.find("vl_vmProcessSymbols(s_symbols, 3, \"alert.prg\", VL_PCODE_VERSION);"), std::string::npos);
}

// The command-line tools: errors on standard error as file:line:column, exit code 1, and no
// output file left behind.
TEST(CompilerTools, VlccAndVellumCommands) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / "vl_vlcc_test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::string good = (dir / "good.prg").string(), bad = (dir / "bad.prg").string();
  std::string out = (dir / "out.cpp").string();
  {
    std::ofstream(good) << "FUNCTION Main\n? \"hi\"\nRETURN\n";
    std::ofstream(bad) << "FUNCTION Main\nx := )\nIF\n";
  }
  ProcessResult r = runProcess(VL_VLCC, {"-c", bad, "-o", out});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, bad + ":2:6: syntax error at ')'\n" + bad + ":3:3: syntax error at end of line\n" + bad +
                       ":3:1: IF is not closed\n");
  EXPECT_FALSE(fs::exists(out));
  EXPECT_FALSE(fs::exists(out + ".tmp"));

  r = runProcess(VL_VLCC, {"-c", good, "-o", out});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::string cpp;
  ASSERT_TRUE(vl_compileReadFile(out, cpp));
  EXPECT_NE(cpp.find("vl_vmProcessSymbols(s_symbols, 2, \"good.prg\", VL_PCODE_VERSION);"), std::string::npos);

  r = runProcess(VL_VLCC, {"-d", good});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("0x0005  MAIN"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("PUTSTR1"), std::string::npos) << r.out;

  r = runProcess(VL_VELLUM, {"-d", good});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("function MAIN"), std::string::npos);
  r = runProcess(VL_VELLUM, {bad});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  r = runProcess(VL_VLCC, {"-c", (dir / "missing.prg").string(), "-o", out});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("missing.prg: cannot read the file"), std::string::npos);
  r = runProcess(VL_VLCC, {"-x"});
  EXPECT_EQ(r.exitCode, 2);
  fs::remove_all(dir);
}
