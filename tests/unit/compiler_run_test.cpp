// Compiled programs run in the virtual machine: control flow, sequences, TRY, FOR EACH, by-reference
// calls and the lines PROCLINE() reports, using locals only (what the executor alone can run).
#include <gtest/gtest.h>

#include <string>

#include "compiler/compiler.h"
#include "compiler/loader.h"
#include "vmtest.h"

namespace {

// Compiles and registers a module; its functions are called through their own symbols, so the
// same names in other tests' modules do not matter.
class Program {
 public:
  explicit Program(const std::string& src) {
    std::vector<VlDiagnostic> errors;
    VlCompiledModule m;
    ok_ = vl_compileModule(src.data(), src.size(), "run.prg", m, errors);
    if (!ok_) {
      ADD_FAILURE() << vl_compileFormatErrors("run.prg", errors);
      return;
    }
    module_ = m;
    symbols_ = vl_compileRegister(std::move(m));
  }
  Val call(const char* name, const std::vector<Val>& args = {}) {
    VlSymbol* f = ok_ ? vl_compileFunction(symbols_, module_, name) : nullptr;
    if (!f) {
      ADD_FAILURE() << "no function " << name;
      return Val();
    }
    return vlCall(f, args);
  }

 private:
  bool ok_ = false;
  VlCompiledModule module_;
  VlSymbol* symbols_ = nullptr;
};

}  // namespace

TEST(CompiledRun, ConditionsAndCases) {
  Program p(R"(
FUNCTION Sign(n)
   IF n < 0
      RETURN "neg"
   ELSEIF n == 0
      RETURN "zero"
   ENDIF
   RETURN "pos"

FUNCTION Kind(n)
   DO CASE
   CASE n == 1
      RETURN "one"
   CASE n == 2 .OR. n == 3
      RETURN "few"
   OTHERWISE
      RETURN "many"
   ENDCASE
   RETURN "unreached"

FUNCTION Sw(x)
   LOCAL s := ""
   SWITCH x
   CASE 1
      s += "a"
   CASE 2
      s += "b"
      EXIT
   CASE "C"
      s += "c"
   OTHERWISE
      s += "d"
   END
   RETURN s
)");
  EXPECT_EQ(p.call("SIGN", {Val::i(-3)}).text(), "neg");
  EXPECT_EQ(p.call("SIGN", {Val::i(0)}).text(), "zero");
  EXPECT_EQ(p.call("SIGN", {Val::i(7)}).text(), "pos");
  EXPECT_EQ(p.call("KIND", {Val::i(1)}).text(), "one");
  EXPECT_EQ(p.call("KIND", {Val::i(3)}).text(), "few");
  EXPECT_EQ(p.call("KIND", {Val::i(9)}).text(), "many");
  EXPECT_EQ(p.call("SW", {Val::i(1)}).text(), "ab") << "CASE bodies fall through until EXIT";
  EXPECT_EQ(p.call("SW", {Val::i(2)}).text(), "b");
  EXPECT_EQ(p.call("SW", {Val::s("C")}).text(), "cd");
  EXPECT_EQ(p.call("SW", {Val::i(5)}).text(), "d");
}

TEST(CompiledRun, LoopsWithExitAndLoop) {
  Program p(R"(
FUNCTION Nested()
   LOCAL i, j, n := 0
   FOR i := 1 TO 3
      FOR j := 1 TO 3
         IF j == 2
            LOOP
         ENDIF
         IF i == 3
            EXIT
         ENDIF
         n := n * 10 + j
      NEXT
   NEXT
   RETURN {n, i, j}

FUNCTION Step()
   LOCAL i, s := ""
   FOR i := 10 TO 1 STEP -3
      s += [*]
   NEXT
   RETURN {s, i}

FUNCTION While()
   LOCAL n := 0, odd := 0
   DO WHILE .T.
      n++
      IF n % 2 == 0
         LOOP
      ENDIF
      IF n > 9
         EXIT
      ENDIF
      odd += n
   ENDDO
   RETURN odd

FUNCTION SwitchInLoop()
   LOCAL i, s := ""
   FOR i := 1 TO 4
      SWITCH i
      CASE 2
         LOOP
      CASE 4
         EXIT
      END
      s += "x"
   NEXT
   RETURN s
)");
  Val r = p.call("NESTED");
  EXPECT_EQ(describe(r), "array[3]");
  EXPECT_EQ(describe(vl_itemArrayGet(&r.it, 1)), "int:1313:w10");
  EXPECT_EQ(vl_itemGetNI(vl_itemArrayGet(&r.it, 2)), 4);
  EXPECT_EQ(vl_itemGetNI(vl_itemArrayGet(&r.it, 3)), 1);
  Val s = p.call("STEP");
  EXPECT_EQ(Val::from(vl_itemArrayGet(&s.it, 1)).text(), "****");
  EXPECT_EQ(vl_itemGetNI(vl_itemArrayGet(&s.it, 2)), -2);
  EXPECT_EQ(p.call("WHILE").ni(), 1 + 3 + 5 + 7 + 9);
  EXPECT_EQ(p.call("SWITCHINLOOP").text(), "xxx") << "EXIT leaves the SWITCH only; LOOP drops the SWITCH value";
}

TEST(CompiledRun, ForEach) {
  Program p(R"(
FUNCTION Tens(a)
   LOCAL x
   FOR EACH x IN a
      x := x * 10
   NEXT
   RETURN x == NIL

FUNCTION Chars(c)
   LOCAL x, s := ""
   FOR EACH x IN c
      IF x == "b"
         LOOP
      ENDIF
      IF x == "d"
         EXIT
      ENDIF
      s += x
      s += [0] + VL_ENUMINDEX() * 0
   NEXT
   RETURN s
)");
  Val a = Val::arr({Val::i(1), Val::i(2), Val::i(3)});
  EXPECT_TRUE(p.call("TENS", {a}).lg()) << "the control variable is NIL after the loop";
  EXPECT_EQ(vl_itemGetNI(vl_itemArrayGet(&a.it, 3)), 30) << "assigning the control variable changes the element";
  EXPECT_EQ(p.call("CHARS", {Val::s("abcde")}).text(), "a0c0");
}

TEST(CompiledRun, SequencesAreClosedOnEveryWayOut) {
  Program p(R"(
FUNCTION Caught()
   LOCAL x
   BEGIN SEQUENCE
      Thrower(5)
      x := "not reached"
   RECOVER USING x
   END
   RETURN x

STATIC PROCEDURE Thrower(n)
   BREAK(n)
   RETURN

FUNCTION Nested()
   LOCAL x, s := ""
   BEGIN SEQUENCE
      BEGIN SEQUENCE
         BREAK "in"
      RECOVER USING x
         s += x
         BREAK "out"
      END
   RECOVER USING x
      s += x
   END
   RETURN s

FUNCTION Early()
   BEGIN SEQUENCE
      RETURN "early"
   END
   RETURN "late"

FUNCTION Left()
   LOCAL i, n := 0, x
   FOR i := 1 TO 5
      BEGIN SEQUENCE
         IF i == 2
            LOOP
         ENDIF
         IF i == 4
            EXIT
         ENDIF
         n += i
      END
   NEXT
   x := Early()
   BEGIN SEQUENCE
      BREAK n
   RECOVER USING x
   END
   RETURN x
)");
  EXPECT_EQ(p.call("CAUGHT").ni(), 5);
  EXPECT_EQ(p.call("NESTED").text(), "inout");
  EXPECT_EQ(p.call("EARLY").text(), "early");
  // Had LOOP, EXIT or RETURN left their records behind, this BREAK would land in one of them.
  EXPECT_EQ(p.call("LEFT").ni(), 4);
}

TEST(CompiledRun, TryCatchFinally) {
  Program p(R"(
FUNCTION Order()
   LOCAL s := "", e
   TRY
      s += "t"
      BREAK "!"
      s += "x"
   CATCH e
      s += "c" + e
   FINALLY
      s += "f"
   END
   TRY
      s += "t"
   CATCH
      s += "x"
   FINALLY
      s += "f"
   END
   RETURN s

FUNCTION Bound()
   LOCAL a := {}, e
   TRY
      a := a[1]
   CATCH e
      RETURN e:SubCode
   END
   RETURN 0
)");
  EXPECT_EQ(p.call("ORDER").text(), "tc!ftf");
  EXPECT_EQ(p.call("BOUND").ni(), 1132) << "a run-time error reaches CATCH as an Error object";
}

TEST(CompiledRun, ReferencesAndFrames) {
  Program p(R"(
FUNCTION Swapped()
   LOCAL a := 1, b := 2
   Swap(@a, @b)
   DO Twice WITH a
   RETURN a * 10 + b

STATIC PROCEDURE Swap(x, y)
   LOCAL t := x
   x := y
   y := t
   RETURN

STATIC PROCEDURE Twice(v)
   v := v * 2
   RETURN

FUNCTION Count(a, b, c)
   RETURN PCOUNT()

PROCEDURE Proc()
   Count(1)
   RETURN

FUNCTION Locals()
   LOCAL n := 7, s := "ab", m := 0
   n++
   n--
   n += 5
   m := -n
   s += "c"
   RETURN {n, s, m}
)");
  EXPECT_EQ(p.call("SWAPPED").ni(), 41);
  EXPECT_EQ(p.call("COUNT", {Val::i(1), Val::i(2)}).ni(), 2);
  EXPECT_EQ(describe(p.call("PROC")), "NIL") << "a procedure returns NIL, not the result of its last call";
  Val r = p.call("LOCALS");
  EXPECT_EQ(vl_itemGetNI(vl_itemArrayGet(&r.it, 1)), 12);
  EXPECT_EQ(Val::from(vl_itemArrayGet(&r.it, 2)).text(), "abc");
  EXPECT_EQ(vl_itemGetNI(vl_itemArrayGet(&r.it, 3)), -12);
}

TEST(CompiledRun, ProcLineReportsTheRunningStatement) {
  Program p(
      "FUNCTION Lines()\n"                     // 1
      "   LOCAL a := {}, i, n := 0\n"          // 2
      "   a := {PROCLINE()}\n"                 // 3
      "   FOR i := 1 TO 2\n"                   // 4
      "      n += PROCLINE()\n"                // 5
      "   NEXT\n"                              // 6
      "   n := n * 1000 + Callee()\n"          // 7
      "   IF n > 0 ; n := n * 1000 + PROCLINE()\n"  // 8
      "   ENDIF\n"                             // 9
      + std::string(300, '\n') +              // 10..309
      "   RETURN {a[1], n, PROCLINE()}\n"      // 310
      "FUNCTION Callee()\n"
      "   RETURN PROCLINE(1)\n");
  Val r = p.call("LINES");
  EXPECT_EQ(vl_itemGetNI(vl_itemArrayGet(&r.it, 1)), 3);
  EXPECT_EQ(vl_itemGetNL(vl_itemArrayGet(&r.it, 2)), (10L * 1000 + 7) * 1000 + 8);
  EXPECT_EQ(vl_itemGetNI(vl_itemArrayGet(&r.it, 3)), 310);
}

TEST(CompiledRun, OperatorsBindAsTheGrammarSays) {
  Program p(R"(
FUNCTION Ops(a, b, c)
   RETURN {a - b - c, a | b + c, a ** b ** c, -a ** 2, a + b * c}

FUNCTION Strs(a)
   RETURN {a $ "xyz" = .T., [x], "xy"[2], a IN "xyz"}
)");
  Val r = p.call("OPS", {Val::i(10), Val::i(3), Val::i(2)});
  EXPECT_EQ(vl_itemGetNI(vl_itemArrayGet(&r.it, 1)), 5);
  EXPECT_EQ(vl_itemGetNI(vl_itemArrayGet(&r.it, 2)), (10 | 3) + 2);
  EXPECT_EQ(vl_itemGetND(vl_itemArrayGet(&r.it, 3)), 1000000.0);
  EXPECT_EQ(vl_itemGetND(vl_itemArrayGet(&r.it, 4)), 100.0);
  EXPECT_EQ(vl_itemGetNI(vl_itemArrayGet(&r.it, 5)), 16);
  Val s = p.call("STRS", {Val::s("y")});
  EXPECT_TRUE(vl_itemGetL(vl_itemArrayGet(&s.it, 1)));
  EXPECT_EQ(Val::from(vl_itemArrayGet(&s.it, 2)).text(), "x");
  EXPECT_EQ(Val::from(vl_itemArrayGet(&s.it, 3)).text(), "y");
  EXPECT_TRUE(vl_itemGetL(vl_itemArrayGet(&s.it, 4)));
}
