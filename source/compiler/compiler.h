// The xBase compiler: a source file becomes a module, its symbol table in order of first
// reference and the p-code of each function. The build-time tool (vlcc) writes the module as C++
// and the runner (vellum) registers it in memory; both use this one core.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "macro/diag.h"

struct VlCompiledSymbol {
  std::string name;
  uint32_t scope = 0;
  int function = -1;  // index into the module's functions when the module defines it
};

struct VlCompiledFunction {
  std::string name;
  int symbol = 0;  // index into the symbol table
  std::vector<uint8_t> code;
};

struct VlCompiledModule {
  std::string name;  // registered module name: the source file name, e.g. "alert.prg"
  std::vector<VlCompiledSymbol> symbols;
  std::vector<VlCompiledFunction> functions;
  int firstSymbol = -1;  // the first function's symbol (candidate starting procedure), -1 if none
};

// Compiles one source file; `path` names the module and the procedure made of code before the
// first FUNCTION or PROCEDURE. False with at least one error (at most `errorLimit`) otherwise.
bool vl_compileModule(const char* text, size_t len, const std::string& path, VlCompiledModule& out,
                      std::vector<VlDiagnostic>& errors, size_t errorLimit = 20);

// Errors as "file:line:column: message" lines.
std::string vl_compileFormatErrors(const std::string& path, const std::vector<VlDiagnostic>& errors);

// The symbol table and the disassembled p-code of every function.
std::string vl_compileListing(const VlCompiledModule& module);

// Reads a whole file; false when it cannot be read.
bool vl_compileReadFile(const std::string& path, std::string& text);
// Writes a file beside its target and renames it, so that a failed write leaves nothing.
bool vl_compileWriteFile(const std::string& path, const std::string& text);
// Reads and compiles a file, reporting errors on standard error.
bool vl_compileFile(const std::string& path, VlCompiledModule& out);
// The commands of vlcc (and of vellum): "-c file.prg -o file.cpp" and "-d file.prg". Returns
// the exit code: 0, 1 after an error, 2 for a wrong command line.
int vl_compileCommand(int argc, char** argv, const char* tool);

// The module as a C++ source that registers it before main; each function is reached through a
// native stub that runs its p-code.
std::string vl_compileToCpp(const VlCompiledModule& module, const std::string& sourcePath);
