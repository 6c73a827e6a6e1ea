// vlcc: the build-time compiler. "vlcc -c file.prg -o file.cpp" writes the module as C++ that
// registers itself before main; "vlcc -d file.prg" prints the symbol table and the disassembly.
// On any error nothing is written and the exit code is 1.
#include "compiler.h"

int main(int argc, char** argv) { return vl_compileCommand(argc - 1, argv + 1, "vlcc"); }
