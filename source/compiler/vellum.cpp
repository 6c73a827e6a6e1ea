// vellum: compiles a program in memory and runs it. "vellum file.prg [args]" registers the
// program's module with p-code function symbols after the run-time's own modules (so a library
// function keeps its name: the first definition wins), makes its first function the starting
// procedure and runs it with the arguments. "-c file.prg -o file.cpp" and "-d file.prg" are
// those of vlcc.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "compiler.h"
#include "vm/cmdarg.h"
#include "vm/symbols.h"
#include "vm/vm.h"

namespace {

// The registered module lives as long as the process: the name table and running code point
// into it.
struct LoadedModule {
  VlCompiledModule compiled;
  std::vector<VlSymbol> symbols;
  std::vector<VlPcodeFunc> functions;
};
LoadedModule* s_program;

VlSymbol* registerModule(LoadedModule& m) {
  m.functions.resize(m.compiled.functions.size());
  m.symbols.resize(m.compiled.symbols.size());
  for (size_t i = 0; i < m.symbols.size(); ++i) {
    const VlCompiledSymbol& cs = m.compiled.symbols[i];
    VlSymbol& s = m.symbols[i];
    s.name = cs.name.c_str();
    s.scope = cs.scope;
    s.value.ptr = nullptr;
    s.dynsym = nullptr;
    if (cs.function >= 0) {
      VlPcodeFunc& f = m.functions[static_cast<size_t>(cs.function)];
      const VlCompiledFunction& cf = m.compiled.functions[static_cast<size_t>(cs.function)];
      f.pcode = cf.code.data();
      f.symbols = m.symbols.data();
      f.globals = nullptr;
      f.length = static_cast<uint32_t>(cf.code.size());
      s.scope |= VL_FS_PCODEFUNC;
      s.value.pcodeFunc = &f;
      s.dynsym = VL_SYM_DEFINED;
    }
  }
  vl_vmProcessSymbols(m.symbols.data(), static_cast<uint16_t>(m.symbols.size()), m.compiled.name.c_str(),
                      VL_PCODE_VERSION);
  return m.compiled.firstSymbol >= 0 ? &m.symbols[static_cast<size_t>(m.compiled.firstSymbol)] : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: vellum file.prg [arguments]\n       vellum -c file.prg -o file.cpp\n       vellum -d file.prg\n",
               stderr);
    return 2;
  }
  if (!std::strcmp(argv[1], "-c") || !std::strcmp(argv[1], "-d")) return vl_compileCommand(argc - 1, argv + 1, "vellum");

  s_program = new LoadedModule;
  if (!vl_compileFile(argv[1], s_program->compiled)) return 1;
  if (s_program->compiled.symbols.empty()) {
    std::fprintf(stderr, "%s: the program has no procedure\n", argv[1]);
    return 1;
  }
  VlSymbol* start = registerModule(*s_program);
  if (start) vl_vmSetStartSymbol(start);
  // The program sees its own path as the program path and the rest as its arguments.
  vl_cmdargInit(argc - 1, argv + 1);
  vl_vmInit(true);
  return vl_vmQuit();
}
