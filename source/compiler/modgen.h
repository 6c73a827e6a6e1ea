// Code generation for a parsed source file: statements, lexically scoped names, codeblocks with
// detached locals, statics and line numbers.
#pragma once

#include "ast.h"
#include "compiler.h"
#include "macro/arena.h"
#include "macro/diag.h"

void vl_moduleGenerate(VlArena& arena, VlDiagnostics& diag, VlModuleAst& ast, VlCompiledModule& out);
