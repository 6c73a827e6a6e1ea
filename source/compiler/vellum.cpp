// vellum: compiles a program in memory and runs it. "vellum file.prg [args]" registers the
// program's module with p-code function symbols after the run-time's own modules (so a library
// function keeps its name: the first definition wins), makes its first function the starting
// procedure and runs it with the arguments. "-c file.prg -o file.cpp" and "-d file.prg" are
// those of vlcc.
#include <cstdio>
#include <cstring>

#include "compiler.h"
#include "loader.h"
#include "vm/cmdarg.h"
#include "vm/symbols.h"
#include "vm/vm.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: vellum file.prg [arguments]\n       vellum -c file.prg -o file.cpp\n       vellum -d file.prg\n",
               stderr);
    return 2;
  }
  if (!std::strcmp(argv[1], "-c") || !std::strcmp(argv[1], "-d")) return vl_compileCommand(argc - 1, argv + 1, "vellum");

  VlCompiledModule module;
  if (!vl_compileFile(argv[1], module)) return 1;
  int first = module.firstSymbol;
  VlSymbol* symbols = vl_compileRegister(std::move(module));
  if (!symbols || first < 0) {
    std::fprintf(stderr, "%s: the program has no procedure\n", argv[1]);
    return 1;
  }
  vl_vmSetStartSymbol(&symbols[first]);
  // The program sees its own path as the program path and the rest as its arguments.
  vl_cmdargInit(argc - 1, argv + 1);
  vl_vmInit(true);
  return vl_vmQuit();
}
