// The operators, run through the executor: which pairings of operand types have a meaning
// (a grid per operator over ten kinds of value), then the values, widths and decimals of
// chosen cases, string comparison with SET_EXACT off and on, dates, array indexing and the
// FOR test.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "rtl/set.h"
#include "vm/arrays.h"
#include "vm/operators.h"
#include "vm/stack.h"
#include "vm/vm.h"
#include "vmtest.h"

namespace {

// An operator applied to parameters 1 and 2 inside BEGIN SEQUENCE, so that an error without a
// substitute breaks out to "broke" instead of ending the test program.
VlSymbol* binaryProc(const std::string& op) {
  static std::map<std::string, VlSymbol*> s_procs;
  VlSymbol*& p = s_procs[op];
  if (!p)
    p = vlProc("ENTER 0 2\nSEQOPEN rec\nLOADLOCAL1 1\nLOADLOCAL1 2\n" + op +
               "\nSETRESULT\nSEQCLOSE done\nrec: SEQHANDLER\nDROP\nPUTSTR1 \"broke\"\nSETRESULT\ndone: PROCEXIT");
  return p;
}

VlSymbol* unaryProc(const std::string& op) {
  static std::map<std::string, VlSymbol*> s_procs;
  VlSymbol*& p = s_procs[op];
  if (!p)
    p = vlProc("ENTER 0 1\nSEQOPEN rec\nLOADLOCAL1 1\n" + op +
               "\nSETRESULT\nSEQCLOSE done\nrec: SEQHANDLER\nDROP\nPUTSTR1 \"broke\"\nSETRESULT\ndone: PROCEXIT");
  return p;
}

const char* const kKinds[] = {"NIL", "INT", "LNG", "DBL", "DAT", "LOG", "CH1", "STR", "ARR", "BLK"};

std::vector<Val> samples() {
  return {Val::nil(),   Val::i(7),    Val::l(5000000000LL), Val::d(2.5, 1),      Val::date(2000, 1, 2),
          Val::b(true), Val::s("A"),  Val::s("AB C"),       Val::arr({Val::i(1)}), Val::from(vl_vmBreakBlock())};
}

// N number, D date, L logical, C string, E the operator's error.
char kindOfResult(const std::string& d) {
  if (d.rfind("int", 0) == 0 || d.rfind("long", 0) == 0 || d.rfind("dbl", 0) == 0) return 'N';
  if (d.rfind("date", 0) == 0) return 'D';
  if (d == ".T." || d == ".F.") return 'L';
  if (d.rfind("str", 0) == 0 || d.rfind("memo", 0) == 0) return 'C';
  return '?';
}

struct Grid {
  const char* op;
  int subCode;
  const char* operation;
  const char* rows[10];  // a = row kind, b = column kind; S: not tried
};

// Derived from the operator rules: numeric-like values are numbers, dates and one-character
// strings.
const Grid kGrids[] = {
    {"ADD", 1081, "+",
     {"EEEEEEEEEE", "ENNNDECEEE", "ENNNDECEEE", "ENNNDECEEE", "EDDDDECEEE", "EEEEEEEEEE", "ECCCCECCEE", "EEEEEECCEE",
      "EEEEEEEEEE", "EEEEEEEEEE"}},
    {"SUB", 1082, "-",
     {"EEEEEEEEEE", "ENNNNECEEE", "ENNNNECEEE", "ENNNNECEEE", "EDDDNECEEE", "EEEEEEEEEE", "ECCCCECCEE", "EEEEEECCEE",
      "EEEEEEEEEE", "EEEEEEEEEE"}},
    {"MUL", 1083, "*",
     {"EEEEEEEEEE", "ENNNNENEEE", "ENNNNENEEE", "ENNNNENEEE", "ENNNNENEEE", "EEEEEEEEEE", "ENNNNENEEE", "EEEEEEEEEE",
      "EEEEEEEEEE", "EEEEEEEEEE"}},
    {"DIV", 1084, "/",
     {"EEEEEEEEEE", "ENNNNENEEE", "ENNNNENEEE", "ENNNNENEEE", "ENNNNENEEE", "EEEEEEEEEE", "ENNNNENEEE", "EEEEEEEEEE",
      "EEEEEEEEEE", "EEEEEEEEEE"}},
    {"MOD", 1085, "%",
     {"EEEEEEEEEE", "ENNNNENEEE", "ENNNNENEEE", "ENNNNENEEE", "ENNNNENEEE", "EEEEEEEEEE", "ENNNNENEEE", "EEEEEEEEEE",
      "EEEEEEEEEE", "EEEEEEEEEE"}},
    {"POW", 1088, "^",
     {"EEEEEEEEEE", "ENNNNENEEE", "ENNNNENEEE", "ENNNNENEEE", "ENNNNENEEE", "EEEEEEEEEE", "ENNNNENEEE", "EEEEEEEEEE",
      "EEEEEEEEEE", "EEEEEEEEEE"}},
    {"EQ", 1071, "=",
     {"LLLLLLLLLL", "LLLLLELEEE", "LLLLLELEEE", "LLLLLELEEE", "LLLLLELEEE", "LEEEELEEEE", "LLLLLELLEE", "LEEEEELLEE",
      "LEEEEEEEEE", "LEEEEEEEEE"}},
    {"EXACTEQ", 1070, "==",
     {"LLLLLLLLLL", "LLLLLELEEE", "LLLLLELEEE", "LLLLLELEEE", "LLLLLELEEE", "LEEEELEEEE", "LLLLLELLEE", "LEEEEELLEE",
      "LEEEEEEELE", "LEEEEEEEEE"}},
    {"NE", 1072, "<>",
     {"LLLLLLLLLL", "LLLLLELEEE", "LLLLLELEEE", "LLLLLELEEE", "LLLLLELEEE", "LEEEELEEEE", "LLLLLELLEE", "LEEEEELLEE",
      "LEEEEEEEEE", "LEEEEEEEEE"}},
    {"LT", 1073, "<",
     {"EEEEEEEEEE", "ELLLLELEEE", "ELLLLELEEE", "ELLLLELEEE", "ELLLLELEEE", "EEEEELEEEE", "ELLLLELLEE", "EEEEEELLEE",
      "EEEEEEEEEE", "EEEEEEEEEE"}},
    {"LE", 1074, "<=",
     {"EEEEEEEEEE", "ELLLLELEEE", "ELLLLELEEE", "ELLLLELEEE", "ELLLLELEEE", "EEEEELEEEE", "ELLLLELLEE", "EEEEEELLEE",
      "EEEEEEEEEE", "EEEEEEEEEE"}},
    {"GTR", 1075, ">",
     {"EEEEEEEEEE", "ELLLLELEEE", "ELLLLELEEE", "ELLLLELEEE", "ELLLLELEEE", "EEEEELEEEE", "ELLLLELLEE", "EEEEEELLEE",
      "EEEEEEEEEE", "EEEEEEEEEE"}},
    {"GE", 1076, ">=",
     {"EEEEEEEEEE", "ELLLLELEEE", "ELLLLELEEE", "ELLLLELEEE", "ELLLLELEEE", "EEEEELEEEE", "ELLLLELLEE", "EEEEEELLEE",
      "EEEEEEEEEE", "EEEEEEEEEE"}},
    // A block searched for in an array would be evaluated: not tried here.
    {"CONTAINS", 1109, "$",
     {"EEEEEEEELE", "EEEEEEEELE", "EEEEEEEELE", "EEEEEEEELE", "EEEEEEEELE", "EEEEEEEELE", "EEEEEELLLE", "EEEEEELLLE",
      "EEEEEEEELE", "EEEEEEEESE"}},
    {"LAND", 1078, ".AND.",
     {"EEEEEEEEEE", "EEEEEEEEEE", "EEEEEEEEEE", "EEEEEEEEEE", "EEEEEEEEEE", "EEEEELEEEE", "EEEEEEEEEE", "EEEEEEEEEE",
      "EEEEEEEEEE", "EEEEEEEEEE"}},
    {"LOR", 1079, ".OR.",
     {"EEEEEEEEEE", "EEEEEEEEEE", "EEEEEEEEEE", "EEEEEEEEEE", "EEEEEEEEEE", "EEEEELEEEE", "EEEEEEEEEE", "EEEEEEEEEE",
      "EEEEEEEEEE", "EEEEEEEEEE"}},
    {"BAND", 1088, "&",
     {"EEEEEEEEEE", "ENNNNENNEE", "ENNNNENNEE", "ENNNNENNEE", "ENNNNENNEE", "EEEEEEEEEE", "ECCCCECCEE", "ECCCCECCEE",
      "EEEEEEEEEE", "EEEEEEEEEE"}},
    {"BOR", 1088, "|",
     {"EEEEEEEEEE", "ENNNNENNEE", "ENNNNENNEE", "ENNNNENNEE", "ENNNNENNEE", "EEEEEEEEEE", "ECCCCECCEE", "ECCCCECCEE",
      "EEEEEEEEEE", "EEEEEEEEEE"}},
    {"BXOR", 1088, "^^",
     {"EEEEEEEEEE", "ENNNNENNEE", "ENNNNENNEE", "ENNNNENNEE", "ENNNNENNEE", "EEEEEEEEEE", "ECCCCECCEE", "ECCCCECCEE",
      "EEEEEEEEEE", "EEEEEEEEEE"}},
    {"SHR", 1088, ">>",
     {"EEEEEEEEEE", "ENNNNENEEE", "ENNNNENEEE", "ENNNNENEEE", "ENNNNENEEE", "EEEEEEEEEE", "ENNNNENEEE", "EEEEEEEEEE",
      "EEEEEEEEEE", "EEEEEEEEEE"}},
    {"SHL", 1088, "<<",
     {"EEEEEEEEEE", "ENNNNENEEE", "ENNNNENEEE", "ENNNNENEEE", "ENNNNENEEE", "EEEEEEEEEE", "ENNNNENEEE", "EEEEEEEEEE",
      "EEEEEEEEEE", "EEEEEEEEEE"}},
};

TEST(Operators, EveryTypePairingOfEveryBinaryOperator) {
  std::vector<Val> v = samples();
  for (const Grid& g : kGrids) {
    for (int a = 0; a < 10; ++a) {
      for (int b = 0; b < 10; ++b) {
        char want = g.rows[a][b];
        if (want == 'S') continue;
        ErrorCatcher errors;
        errors.substitute = Val::s("substitute");
        std::string got = describe(vlCall(binaryProc(g.op), {v[a], v[b]}));
        std::string where = std::string(g.op) + " " + kKinds[a] + " " + kKinds[b];
        if (want == 'E') {
          EXPECT_EQ(got, "str:\"substitute\"") << where;
          ASSERT_EQ(errors.errors.size(), 1u) << where;
          EXPECT_EQ(errors.errors[0], "BASE 1/" + std::to_string(g.subCode) + " " + g.operation + " [" +
                                          describe(v[a]) + "," + describe(v[b]) + "]")
              << where;
        } else {
          EXPECT_EQ(kindOfResult(got), want) << where << " gave " << got;
          EXPECT_TRUE(errors.errors.empty()) << where << ": " << (errors.errors.empty() ? "" : errors.errors[0]);
        }
      }
    }
  }
}

TEST(Operators, EveryTypeUnderTheUnaryOperators) {
  struct Unary {
    const char* op;
    int subCode;
    const char* operation;
    const char* kinds;
  } ops[] = {
      {"NEG", 1080, "-", "ENNNEENEEE"},
      {"INCR", 1086, "++", "ENNNDECEEE"},
      {"DECR", 1087, "--", "ENNNDECEEE"},
      {"LNOT", 1077, ".NOT.", "EEEEELEEEE"},
  };
  std::vector<Val> v = samples();
  for (const Unary& u : ops) {
    for (int a = 0; a < 10; ++a) {
      ErrorCatcher errors;
      errors.substitute = Val::s("substitute");
      std::string got = describe(vlCall(unaryProc(u.op), {v[a]}));
      std::string where = std::string(u.op) + " " + kKinds[a];
      if (u.kinds[a] == 'E') {
        EXPECT_EQ(got, "str:\"substitute\"") << where;
        ASSERT_EQ(errors.errors.size(), 1u) << where;
        EXPECT_EQ(errors.errors[0], "BASE 1/" + std::to_string(u.subCode) + " " + u.operation + " [" + describe(v[a]) + "]");
      } else {
        EXPECT_EQ(kindOfResult(got), u.kinds[a]) << where << " gave " << got;
        EXPECT_TRUE(errors.errors.empty()) << where;
      }
    }
  }
}

struct ValueCase {
  const char* op;
  Val a, b;
  const char* expected;
};

void runCases(const std::vector<ValueCase>& cases) {
  for (const ValueCase& c : cases) {
    ErrorCatcher errors;
    errors.substitute = Val::s("substitute");
    std::string got = describe(vlCall(binaryProc(c.op), {c.a, c.b}));
    EXPECT_EQ(got, c.expected) << describe(c.a) << " " << c.op << " " << describe(c.b)
                               << (errors.errors.empty() ? "" : " error: " + errors.errors[0]);
  }
}

TEST(Operators, ArithmeticValuesWidthsAndDecimals) {
  runCases({
      {"ADD", Val::i(1), Val::i(2), "int:3:w10"},
      {"ADD", Val::i(INT32_MAX), Val::i(1), "long:2147483648:w10"},
      {"ADD", Val::l(INT64_MAX), Val::i(1), "dbl:9.223372037e+18:w20:d0"},
      {"ADD", Val::d(1.5, 1), Val::i(2), "dbl:3.5:w10:d1"},
      {"ADD", Val::d(1.25, 2), Val::d(1, 1), "dbl:2.25:w10:d2"},
      {"ADD", Val::l(3), Val::i(4), "int:7:w10"},
      {"SUB", Val::i(INT32_MIN), Val::i(1), "long:-2147483649:w20"},
      {"SUB", Val::l(INT64_MIN), Val::i(1), "dbl:-9.223372037e+18:w20:d0"},
      {"SUB", Val::d(5.5, 1), Val::i(2), "dbl:3.5:w10:d1"},
      {"MUL", Val::i(4), Val::i(2), "int:8:w10"},
      {"MUL", Val::d(1.25, 2), Val::d(2.5, 1), "dbl:3.125:w10:d3"},
      {"MUL", Val::i(100000), Val::i(100000), "long:10000000000:w20"},
      {"MUL", Val::l(INT64_MAX), Val::i(2), "dbl:1.844674407e+19:w20:d2"},
      {"MUL", Val::s("\x02"), Val::i(3), "int:6:w10"},
      {"DIV", Val::i(7), Val::i(2), "dbl:3.5:w10:d2"},
      {"DIV", Val::i(10), Val::i(5), "dbl:2:w10:d2"},
      {"MOD", Val::i(7), Val::i(2), "dbl:1:w10:d2"},
      {"MOD", Val::i(-7), Val::i(2), "dbl:-1:w10:d2"},
      {"MOD", Val::d(7.5, 1), Val::i(2), "dbl:1.5:w10:d2"},
      {"POW", Val::i(2), Val::i(3), "dbl:8:w10:d2"},
      {"POW", Val::i(2), Val::i(-1), "dbl:0.5:w10:d2"},
  });
  int saved = vl_set.decimals;
  vl_set.decimals = 0;
  runCases({{"MOD", Val::i(7), Val::i(2), "int:1:w10"}, {"DIV", Val::i(7), Val::i(2), "dbl:3.5:w10:d0"}});
  vl_set.decimals = 4;
  runCases({{"DIV", Val::i(1), Val::i(4), "dbl:0.25:w10:d4"}, {"MOD", Val::i(7), Val::i(2), "dbl:1:w10:d4"}});
  vl_set.decimals = saved;
}

TEST(Operators, StringsAndCharacterArithmetic) {
  runCases({
      {"ADD", Val::s("AB"), Val::s("CD"), "str:\"ABCD\""},
      {"ADD", Val::s(""), Val::s("X"), "str:\"X\""},
      {"ADD", Val::s("XY"), Val::s(""), "str:\"XY\""},
      {"ADD", Val::s("A"), Val::i(1), "str:\"B\""},
      {"ADD", Val::i(1), Val::s("A"), "str:\"B\""},
      {"ADD", Val::s("\xFF"), Val::i(1), "str:\"\\x00\""},
      {"SUB", Val::s("AB "), Val::s("CD"), "str:\"ABCD \""},
      {"SUB", Val::s("AB  "), Val::s("C"), "str:\"ABC  \""},
      {"SUB", Val::s("AB"), Val::s("CD"), "str:\"ABCD\""},
      {"SUB", Val::s("B"), Val::i(1), "str:\"A\""},
      {"SUB", Val::s(std::string(1, '\0')), Val::i(1), "str:\"\\xFF\""},
      {"BXOR", Val::s("AB"), Val::s(" "), "str:\"ab\""},
      {"BAND", Val::s("ab"), Val::i(0xDF), "str:\"AB\""},
      {"BOR", Val::i(0), Val::s("AB"), "long:67:w10"},
      {"BAND", Val::i(5), Val::i(3), "long:1:w10"},
      {"BOR", Val::i(5), Val::i(3), "long:7:w10"},
      {"BXOR", Val::i(5), Val::i(1), "long:4:w10"},
      {"SHL", Val::i(1), Val::i(33), "long:2:w10"},
      {"SHR", Val::i(-8), Val::i(1), "long:-4:w10"},
      {"SHL", Val::i(1), Val::i(31), "long:-2147483648:w20"},
  });
}

TEST(Operators, DateArithmetic) {
  runCases({
      {"ADD", Val::date(2000, 2, 28), Val::i(1), "date:20000229"},
      {"ADD", Val::i(1), Val::date(2000, 2, 28), "date:20000229"},
      {"ADD", Val::date(2000, 2, 28), Val::d(1.9, 1), "date:20000229"},
      {"ADD", Val::date(1999, 12, 31), Val::l(1), "date:20000101"},
      {"SUB", Val::date(2000, 3, 1), Val::i(1), "date:20000229"},
      {"SUB", Val::date(2000, 3, 1), Val::date(2000, 2, 1), "int:29:w10"},
      {"SUB", Val::date(2000, 2, 1), Val::date(2000, 3, 1), "int:-29:w10"},
      {"LT", Val::date(2000, 2, 1), Val::date(2000, 3, 1), ".T."},
      {"EQ", Val::date(2000, 2, 1), Val::date(2000, 2, 1), ".T."},
  });
}

TEST(Operators, ZeroDivisorHasTwoNilArguments) {
  ErrorCatcher errors;
  errors.substitute = Val::i(0);
  EXPECT_EQ(describe(vlCall(binaryProc("DIV"), {Val::i(10), Val::i(0)})), "int:0:w10");
  EXPECT_EQ(describe(vlCall(binaryProc("MOD"), {Val::i(10), Val::d(0, 1)})), "int:0:w10");
  ASSERT_EQ(errors.errors.size(), 2u);
  EXPECT_EQ(errors.errors[0], "BASE 5/1340 / [NIL,NIL]");
  EXPECT_EQ(errors.errors[1], "BASE 5/1341 % [NIL,NIL]");
}

TEST(Operators, UnaryValues) {
  struct Case {
    const char* op;
    Val a;
    const char* expected;
  } cases[] = {
      {"NEG", Val::i(5), "int:-5:w10"},
      {"NEG", Val::i(INT32_MIN), "long:2147483648:w10"},
      {"NEG", Val::i(1000000000), "int:-1000000000:w20"},
      {"NEG", Val::l(INT64_MIN), "dbl:9.223372037e+18:w20:d0"},
      {"NEG", Val::d(2.5, 1), "dbl:-2.5:w10:d1"},
      {"NEG", Val::s("A"), "int:-65:w10"},
      {"INCR", Val::i(INT32_MAX), "long:2147483648:w10"},
      {"DECR", Val::i(INT32_MIN), "long:-2147483649:w20"},
      {"INCR", Val::l(INT64_MAX), "dbl:9.223372037e+18:w20:d0"},
      {"INCR", Val::d(9999999999.0, 0), "dbl:1e+10:w20:d0"},
      {"INCR", Val::s("A"), "str:\"B\""},
      {"DECR", Val::s(std::string(1, '\0')), "str:\"\\xFF\""},
      {"INCR", Val::date(2000, 2, 28), "date:20000229"},
      {"DECR", Val::date(2000, 3, 1), "date:20000229"},
      {"LNOT", Val::b(false), ".T."},
  };
  ErrorCatcher errors;
  for (const Case& c : cases) EXPECT_EQ(describe(vlCall(unaryProc(c.op), {c.a})), c.expected) << c.op << " " << describe(c.a);
  EXPECT_TRUE(errors.errors.empty());
}

// SETRESULT drops the memo bit, so these look at the operator's result on the stack itself.
TEST(Operators, ConcatenationKeepsTheLeftOperandsMemoBit) {
  struct Case {
    Val a, b;
    const char* expected;
  } cases[] = {
      {Val::memo("AB"), Val::s("C"), "memo:\"ABC\""},
      {Val::memo(""), Val::s("C"), "memo:\"C\""},
      {Val::s("AB"), Val::memo("C"), "str:\"ABC\""},
      {Val::memo("AB "), Val::s("C"), "memo:\"ABC \""},
  };
  for (const Case& c : cases) {
    int32_t top = vl_stackTopOffset();
    vl_vmPush(&c.a.it);
    vl_vmPush(&c.b.it);
    if (VL_IS_MEMO(&c.a.it) && c.a.it.n32 == 3) vl_opMinus();
    else vl_opPlus();
    EXPECT_EQ(describe(vl_stack.pos[-1]), c.expected);
    vl_stackRemove(top);
  }
}

TEST(Operators, EqualityAndOrdering) {
  Val shared = Val::arr({Val::i(1)});
  runCases({
      {"EQ", Val::nil(), Val::nil(), ".T."},
      {"EQ", Val::nil(), Val::i(0), ".F."},
      {"EQ", Val::i(0), Val::nil(), ".F."},
      {"NE", Val::nil(), Val::nil(), ".F."},
      {"NE", Val::i(0), Val::nil(), ".T."},
      {"EQ", Val::i(1), Val::d(1.0, 1), ".T."},
      {"EQ", Val::l(5), Val::i(5), ".T."},
      {"EQ", Val::s("A"), Val::i(65), ".T."},
      {"EQ", Val::l(9007199254740993LL), Val::l(9007199254740992LL), ".F."},  // 64-bit, not double
      {"EXACTEQ", shared, shared, ".T."},
      {"EXACTEQ", Val::arr({Val::i(1)}), Val::arr({Val::i(1)}), ".F."},
      {"EQ", Val::arr({Val::i(1)}), Val::arr({Val::i(1)}), "str:\"substitute\""},
      {"LT", Val::b(false), Val::b(true), ".T."},
      {"GE", Val::i(3), Val::d(2.5, 1), ".T."},
      {"LT", Val::l(-5000000000LL), Val::i(1), ".T."},
      {"LAND", Val::b(true), Val::b(false), ".F."},
      {"LOR", Val::b(true), Val::b(false), ".T."},
  });
}

TEST(Operators, StringComparisonWithExactOffAndOn) {
  ASSERT_FALSE(vl_set.exact);
  runCases({
      {"EQ", Val::s("ABC"), Val::s("AB"), ".T."},
      {"EQ", Val::s("AB"), Val::s("ABC"), ".F."},
      {"EQ", Val::s("AB"), Val::s(""), ".T."},
      {"EQ", Val::s(""), Val::s("AB"), ".F."},
      {"LT", Val::s("ABC"), Val::s("AB"), ".F."},
      {"GTR", Val::s("ABC"), Val::s("AB"), ".F."},
      {"LT", Val::s("AB"), Val::s("ABC"), ".T."},
      {"EXACTEQ", Val::s("ABC"), Val::s("AB"), ".F."},
      {"EXACTEQ", Val::s("AB"), Val::s("AB"), ".T."},
      {"NE", Val::s("ABC"), Val::s("AB"), ".F."},
      {"NE", Val::s("AB"), Val::s("ABC"), ".T."},
      {"LT", Val::s("a"), Val::s("\xE9"), ".T."},  // bytes compare unsigned
      {"EQ", Val::s("AB "), Val::s("AB"), ".T."},
  });
  vl_set.exact = true;
  runCases({
      {"EQ", Val::s("ABC"), Val::s("AB"), ".F."},
      {"EQ", Val::s("AB  "), Val::s("AB"), ".T."},
      {"EQ", Val::s("AB"), Val::s(""), ".F."},
      {"LT", Val::s("AB"), Val::s("ABC"), ".T."},
      {"GTR", Val::s("ABC"), Val::s("AB"), ".T."},
      {"NE", Val::s("ABC"), Val::s("AB"), ".T."},
      {"EXACTEQ", Val::s("AB "), Val::s("AB"), ".F."},
  });
  vl_set.exact = false;
}

TEST(Operators, ContainsForStringsAndArrays) {
  runCases({
      {"CONTAINS", Val::s(""), Val::s("ABC"), ".F."},
      {"CONTAINS", Val::s("B"), Val::s("ABC"), ".T."},
      {"CONTAINS", Val::s("BC"), Val::s("ABC"), ".T."},
      {"CONTAINS", Val::s("BD"), Val::s("ABC"), ".F."},
      {"CONTAINS", Val::s("ABCD"), Val::s("ABC"), ".F."},
      {"CONTAINS", Val::i(2), Val::arr({Val::i(1), Val::i(2), Val::i(3)}), ".T."},
      {"CONTAINS", Val::i(4), Val::arr({Val::i(1), Val::i(2), Val::i(3)}), ".F."},
      {"CONTAINS", Val::s("A"), Val::arr({Val::s("AB")}), ".F."},  // exact comparison
      {"CONTAINS", Val::s("AB"), Val::arr({Val::s("AB")}), ".T."},
      {"CONTAINS", Val::i(65), Val::arr({Val::s("A")}), ".F."},
      {"CONTAINS", Val::nil(), Val::arr({Val::i(1), Val::nil()}), ".T."},
      {"CONTAINS", Val::date(2000, 1, 2), Val::arr({Val::date(2000, 1, 2)}), ".T."},
  });
}

// Array and string indexing through ELEMGET.
TEST(Operators, ElementAccess) {
  runCases({
      {"ELEMGET", Val::s("HELLO"), Val::i(2), "str:\"E\""},
      {"ELEMGET", Val::s("HELLO"), Val::i(-1), "str:\"O\""},
      {"ELEMGET", Val::s("HELLO"), Val::i(10), "str:\"\""},
      {"ELEMGET", Val::s(""), Val::i(-1), "str:\"\""},
      {"ELEMGET", Val::arr({Val::i(1), Val::i(2), Val::i(3)}), Val::i(2), "int:2:w10"},
      {"ELEMGET", Val::arr({Val::i(1), Val::i(2), Val::i(3)}), Val::i(-1), "int:3:w10"},
      {"ELEMGET", Val::arr({Val::i(1), Val::i(2), Val::i(3)}), Val::d(1.9, 1), "int:1:w10"},
      {"ELEMGET", Val::arr({Val::i(1), Val::i(2), Val::i(3)}), Val::s("\x02"), "int:2:w10"},
      {"ELEMGET", Val::arr({}), Val::i(-1), "NIL"},
      {"ELEMGET", Val::nil(), Val::i(-1), "NIL"},
      {"ELEMGET", Val::arr({Val::s("deep")}), Val::i(1), "str:\"deep\""},
  });
  ErrorCatcher errors;
  errors.substitute = Val::s("substitute");
  EXPECT_EQ(describe(vlCall(binaryProc("ELEMGET"), {Val::arr({Val::i(1)}), Val::i(5)})), "str:\"broke\"");
  EXPECT_EQ(describe(vlCall(binaryProc("ELEMGET"), {Val::arr({Val::i(1)}), Val::s("xy")})), "str:\"substitute\"");
  EXPECT_EQ(describe(vlCall(binaryProc("ELEMGET"), {Val::i(5), Val::i(1)})), "str:\"broke\"");
  ASSERT_EQ(errors.errors.size(), 3u);
  EXPECT_EQ(errors.errors[0], "BASE 2/1132 array access [array[1],int:5:w10]");
  EXPECT_EQ(errors.errors[1], "BASE 1/1068 array access [array[1],str:\"xy\"]");
  EXPECT_EQ(errors.errors[2], "BASE 1/1068 array access [int:5:w10,int:1:w10]");
}

// ELEMPUT: value, container, index (index on top).
TEST(Operators, ElementAssignment) {
  VlSymbol* put = vlProc(
      "ENTER 0 3\nSEQOPEN rec\nLOADLOCAL1 3\nLOCALREF 1\nLOADLOCAL1 2\nELEMPUT\n"
      "LOADLOCAL1 1\nSETRESULT\nSEQCLOSE done\nrec: SEQHANDLER\nDROP\nPUTSTR1 \"broke\"\nSETRESULT\ndone: PROCEXIT");
  struct Case {
    Val container, index, value;
    const char* expected;
  } cases[] = {
      {Val::s("HELLO"), Val::i(1), Val::s("J"), "str:\"JELLO\""},
      {Val::s("HELLO"), Val::i(-1), Val::s("P!"), "str:\"HELLP\""},
      {Val::s("HELLO"), Val::i(2), Val::i(65 + 256), "str:\"HALLO\""},
      {Val::s("H"), Val::i(1), Val::s("J"), "str:\"J\""},
      {Val::s("HELLO"), Val::i(6), Val::s("X"), "str:\"broke\""},
      {Val::arr({Val::i(1), Val::i(2)}), Val::i(-1), Val::memo("m"), "array[2]"},
      {Val::arr({Val::i(1)}), Val::i(3), Val::i(9), "str:\"broke\""},
      {Val::arr({Val::i(1)}), Val::s("kk"), Val::i(9), "str:\"broke\""},
      {Val::i(5), Val::i(1), Val::i(9), "str:\"broke\""},
  };
  ErrorCatcher errors;
  for (const Case& c : cases) EXPECT_EQ(describe(vlCall(put, {c.container, c.index, c.value})), c.expected) << describe(c.container);
  ASSERT_EQ(errors.errors.size(), 4u);
  EXPECT_EQ(errors.errors[0], "BASE 2/1133 array assign [str:\"HELLO\",int:6:w10,str:\"X\"]");
  EXPECT_EQ(errors.errors[1], "BASE 2/1133 array assign [int:3:w10]");
  EXPECT_EQ(errors.errors[2], "BASE 1/1069 array assign [array[1],str:\"kk\",int:9:w10]");
  EXPECT_EQ(errors.errors[3], "BASE 1/1069 array assign [int:5:w10,int:1:w10,int:9:w10]");

  // The array element received the value without its memo bit, in the caller's array too.
  Val a = Val::arr({Val::i(1), Val::i(2)});
  vlCall(put, {a, Val::i(2), Val::memo("m")});
  EXPECT_EQ(describe(vl_arrayGetItemPtr(&a.it, 2)), "str:\"m\"");
}

TEST(Operators, ForLoopTest) {
  VlSymbol* check = vlProc("ENTER 0 3\nLOADLOCAL1 1\nLOADLOCAL1 2\nLOADLOCAL1 3\nLOOPCHECK\nSETRESULT\nPROCEXIT");
  struct Case {
    Val counter, limit, step;
    const char* expected;
  } cases[] = {
      {Val::i(1), Val::i(10), Val::i(1), ".T."},     {Val::i(10), Val::i(10), Val::i(1), ".T."},
      {Val::i(11), Val::i(10), Val::i(1), ".F."},    {Val::i(5), Val::i(1), Val::i(-1), ".T."},
      {Val::i(0), Val::i(1), Val::i(-1), ".F."},     {Val::d(1.5, 1), Val::i(2), Val::d(0.5, 1), ".T."},
      {Val::date(2000, 1, 1), Val::date(2000, 1, 2), Val::i(1), ".T."},
      {Val::b(false), Val::b(true), Val::i(1), ".T."}, {Val::b(true), Val::b(false), Val::i(1), ".F."},
  };
  for (const Case& c : cases) EXPECT_EQ(describe(vlCall(check, {c.counter, c.limit, c.step})), c.expected);

  ErrorCatcher errors;
  errors.substitute = Val::i(1);
  EXPECT_EQ(describe(vlCall(check, {Val::i(1), Val::i(3), Val::s("xy")})), ".T.") << "the substitute step is used";
  EXPECT_EQ(describe(vlCall(check, {Val::i(1), Val::s("xy"), Val::i(1)})), ".T.");
  errors.substitute = Val::b(true);
  EXPECT_EQ(describe(vlCall(check, {Val::i(1), Val::b(false), Val::i(1)})), ".F.") << "a logical limit wants a logical counter";
  ASSERT_EQ(errors.errors.size(), 3u);
  EXPECT_EQ(errors.errors[0], "BASE 1/1073 < [str:\"xy\"]");
  EXPECT_EQ(errors.errors[1], "BASE 1/1073 < [str:\"xy\"]");
  EXPECT_EQ(errors.errors[2], "BASE 1/1073 < [int:1:w10]");
}

}  // namespace
