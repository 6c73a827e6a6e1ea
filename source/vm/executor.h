// The p-code executor.
#pragma once

#include <cstdint>

#include "item.h"
#include "symbols.h"

// Runs one procedure's or codeblock's p-code until PROCEXIT, BLOCKEXIT or an action request
// makes it leave. length bounds every operand read and every jump (0: the code is trusted to be
// well formed); a truncated instruction or a jump outside the code is an internal error.
void vl_vmExecute(const uint8_t* pcode, VlSymbol* symbols, VlItem** globals, uint32_t length = 0);

// The current line base (LINEBASE / LINESTEP); calls save and restore it.
extern uint16_t vl_vmLineBase;
// Open TRY constructs; while non-zero and the error block is the break block, a run-time error
// becomes a break carrying the Error object.
extern uint32_t vl_vmTryDepth;

// A function the executor calls every 65,536 instructions, before the cancel check (tests and
// profilers); returns the previous one.
using VlVmPollFn = void (*)();
VlVmPollFn vl_vmSetPollHook(VlVmPollFn fn);
