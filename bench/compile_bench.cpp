// Compiler speed on the optimised build: a generated source file of 10,000 lines (functions
// with locals, loops, conditions, cases, calls, codeblocks, strings and arithmetic) compiled to
// p-code, and the same module written as C++. The goal is well under a second for the file.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "compiler/compiler.h"

namespace {

// About 10,000 lines: functions of 50 lines each.
std::string generate(int lines) {
  std::string s = "STATIC s_total := 0\n\n";
  int n = 2;
  for (int f = 0; n < lines; ++f) {
    std::string fn = "FUNC" + std::to_string(f);
    s += "FUNCTION " + fn + "(nCount, cName)\n";
    s += "   LOCAL i, j, nSum := 0, aList := {}, bBlock, cText := \"\"\n";
    s += "   FOR i := 1 TO nCount\n";
    s += "      IF i % 3 == 0 .AND. i > 10\n";
    s += "         nSum += i * 2 - (i / 4)\n";
    s += "      ELSEIF i % 5 == 0\n";
    s += "         nSum -= Helper(i, cName + \"x\")\n";
    s += "      ELSE\n";
    s += "         AADD(aList, {i, STR(i), cName})\n";
    s += "      ENDIF\n";
    s += "   NEXT\n";
    s += "   j := 0\n";
    s += "   DO WHILE j < LEN(aList)\n";
    s += "      j++\n";
    s += "      IF aList[j][1] > 100\n";
    s += "         EXIT\n";
    s += "      ENDIF\n";
    s += "      cText += aList[j][2] + \", \"\n";
    s += "   ENDDO\n";
    s += "   DO CASE\n";
    s += "   CASE nSum > 1000\n";
    s += "      ? \"big\", nSum\n";
    s += "   CASE nSum > 100\n";
    s += "      ? \"medium\", nSum\n";
    s += "   OTHERWISE\n";
    s += "      ? \"small\", nSum\n";
    s += "   ENDCASE\n";
    s += "   bBlock := {|x, y| x + y + nSum}\n";
    s += "   AEVAL(aList, {|a| s_total += a[1]})\n";
    s += "   SWITCH nCount\n";
    s += "   CASE 1\n";
    s += "      cText := UPPER(cText)\n";
    s += "      EXIT\n";
    s += "   CASE 2\n";
    s += "      cText := LOWER(cText)\n";
    s += "      EXIT\n";
    s += "   OTHERWISE\n";
    s += "      cText := SUBSTR(cText, 1, 10)\n";
    s += "   ENDSWITCH\n";
    s += "   BEGIN SEQUENCE\n";
    s += "      nSum := EVAL(bBlock, nSum, 1)\n";
    s += "   RECOVER USING nSum\n";
    s += "      nSum := 0\n";
    s += "   END\n";
    s += "   FOR EACH i IN aList\n";
    s += "      nSum += IIF(i[1] > 5, i[1], -i[1])\n";
    s += "   NEXT\n";
    s += "   PRIVATE cLast := cName\n";
    s += "   RETURN nSum + LEN(cText)\n\n";
    n += 50;
  }
  s += "FUNCTION Helper(n, c)\n   RETURN n * LEN(c)\n";
  return s;
}

double msSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
  const std::string src = generate(10000);
  int lines = static_cast<int>(std::count(src.begin(), src.end(), '\n'));
  std::vector<double> compileMs, cppMs;
  size_t code = 0;
  for (int round = 0; round < 7; ++round) {
    VlCompiledModule module;
    std::vector<VlDiagnostic> errors;
    auto t0 = std::chrono::steady_clock::now();
    bool ok = vl_compileModule(src.data(), src.size(), "bench.prg", module, errors);
    compileMs.push_back(msSince(t0));
    if (!ok) {
      std::fputs(vl_compileFormatErrors("bench.prg", errors).c_str(), stderr);
      return 1;
    }
    t0 = std::chrono::steady_clock::now();
    std::string cpp = vl_compileToCpp(module, "bench.prg");
    cppMs.push_back(msSince(t0));
    code = 0;
    for (const auto& f : module.functions) code += f.code.size();
  }
  std::sort(compileMs.begin(), compileMs.end());
  std::sort(cppMs.begin(), cppMs.end());
  std::printf("compile %d lines (%zu bytes of p-code): median %.1f ms, best %.1f ms (%.0f lines/s)\n", lines, code,
              compileMs[compileMs.size() / 2], compileMs[0], lines / (compileMs[compileMs.size() / 2] / 1000.0));
  std::printf("write the module as C++: median %.1f ms\n", cppMs[cppMs.size() / 2]);
  return compileMs[compileMs.size() / 2] < 1000.0 ? 0 : 1;
}
