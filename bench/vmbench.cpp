// Executor benchmarks on hand-assembled p-code: an integer loop, a call-heavy recursion (fib)
// and string concatenation. Each prints its result and the best wall time of a few runs, so
// bench/run.sh can set them beside the same programs in Lua 5.4. Times are processor time.
//
//   vl_bench loop|fib|concat [repetitions]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "../tests/unit/asm.h"
#include "vm/cmdarg.h"
#include "vm/extend.h"
#include "vm/stack.h"
#include "vm/vm.h"
#include "vm/vmcall.h"

// The run-time's error-system stand-ins (the library modules are not linked here): no error is
// expected, so no error block is installed.
VL_FUNC(__ERRORBLOCK) { vl_ret(); }
VL_FUNC(__BREAKBLOCK) { vl_ret(); }
VL_NATIVE_MODULE(bench_support, VL_FUNCENTRY(__ERRORBLOCK), VL_FUNCENTRY(__BREAKBLOCK));

namespace {

// LOOP(n): s := 0; i := 0; DO WHILE i < n; s := s + i; i++; ENDDO; RETURN s
const char* kLoop =
    "ENTER 2 1\n"
    "LOCALSETINT 2 0\n"
    "LOCALSETINT 3 0\n"
    "top: LOADLOCAL1 3\nLOADLOCAL1 1\nLT\nIFNOT1 done\n"
    "LOADLOCAL1 2\nLOADLOCAL1 3\nADD\nSTORELOCAL1 2\n"
    "LOCALADDINT 3 1\n"
    "GOTO1 top\n"
    "done: LOADLOCAL1 2\nSETRESULT\nPROCEXIT";

// FIB(n): IF n < 2; RETURN n; ENDIF; RETURN FIB(n - 1) + FIB(n - 2)
const char* kFib =
    "ENTER 0 1\n"
    "LOADLOCAL1 1\nPUTINT8 2\nLT\nIFNOT1 rec\n"
    "LOADLOCAL1 1\nSETRESULT\nPROCEXIT\n"
    "rec: PUTSYM1 FIB\nPUTNIL\nLOADLOCAL1 1\nADDINT16 -1\nCALLF1 1\n"
    "PUTSYM1 FIB\nPUTNIL\nLOADLOCAL1 1\nADDINT16 -2\nCALLF1 1\n"
    "ADD\nSETRESULT\nPROCEXIT";

// CONCAT(n): s := ""; FOR i := 1 TO n; s := s + "abc"; NEXT; RETURN LEN(s) (as the length)
const char* kConcat =
    "ENTER 2 1\n"
    "LOCALSETSTR 2 \"\"\n"
    "LOCALSETINT 3 1\n"
    "top: LOADLOCAL1 3\nLOADLOCAL1 1\nLE\nIFNOT1 done\n"
    "LOADLOCAL1 2\nPUTSTR1 \"abc\"\nADD\nSTORELOCAL1 2\n"
    "LOCALADDINT 3 1\n"
    "GOTO1 top\n"
    "done: LOADLOCAL1 2\nSETRESULT\nPROCEXIT";

struct Module {
  std::vector<uint8_t> code;
  VlPcodeFunc func;
  VlSymbol symbols[1];
};

VlSymbol* load(Module& m, const char* name, const char* text) {
  m.code = vlAssemble(text, {name});
  m.func = VlPcodeFunc{m.code.data(), m.symbols, nullptr, static_cast<uint32_t>(m.code.size())};
  m.symbols[0] = VlSymbol{name, VL_FS_PUBLIC | VL_FS_PCODEFUNC, {nullptr}, VL_SYM_DEFINED};
  m.symbols[0].value.pcodeFunc = &m.func;
  vl_vmProcessSymbols(m.symbols, 1, "bench.prg", VL_PCODE_VERSION);
  return &m.symbols[0];
}

std::string run(VlSymbol* proc, int64_t arg) {
  vl_vmPushSymbol(proc);
  vl_vmPushNil();
  vl_vmPushLongLong(arg);
  vl_vmDo(1);
  const VlItem* r = &vl_stack.ret;
  std::string out;
  if (VL_IS_STRING(r)) out = "length " + std::to_string(r->n32);
  else out = std::to_string(vl_itemGetNLL(r));
  vl_itemClear(&vl_stack.ret);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vl_bench loop|fib|concat [repetitions]\n");
    return 2;
  }
  std::string which = argv[1];
  int reps = argc > 2 ? std::atoi(argv[2]) : 3;
  char* vmArgv[] = {argv[0], nullptr};
  vl_cmdargInit(1, vmArgv);
  vl_vmInit(false);

  static Module module;
  VlSymbol* proc;
  int64_t n;
  if (which == "loop") {
    proc = load(module, "LOOP", kLoop);
    n = 20000000;
  } else if (which == "fib") {
    proc = load(module, "FIB", kFib);
    n = 30;
  } else if (which == "concat") {
    proc = load(module, "CONCAT", kConcat);
    n = 30000;
  } else {
    std::fprintf(stderr, "unknown benchmark %s\n", which.c_str());
    return 2;
  }

  double best = 1e30;
  std::string result;
  for (int r = 0; r < reps; ++r) {
    // Processor time, as Lua's os.clock() measures it: the machine is shared.
    std::clock_t t0 = std::clock();
    result = run(proc, n);
    double ms = 1000.0 * static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
    if (ms < best) best = ms;
  }
  std::printf("%s %s %.1f ms\n", which.c_str(), result.c_str(), best);
  return vl_vmQuit();
}
