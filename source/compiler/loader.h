// Registers a module compiled in memory with the virtual machine: its defined functions become
// p-code function symbols (no native stubs). Part of the runner and the tests, not of vlcc,
// because it needs the run-time.
#pragma once

#include "compiler.h"

struct VlSymbol;

// Registers the module (kept alive for the rest of the process) after every module registered
// so far; returns its symbol table, or null when it has no symbols.
VlSymbol* vl_compileRegister(VlCompiledModule&& module);
// The symbol of a function the module defines, by name; null when it defines none of that name.
VlSymbol* vl_compileFunction(VlSymbol* symbols, const VlCompiledModule& module, const char* name);
