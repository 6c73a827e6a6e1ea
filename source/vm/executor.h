// The p-code executor.
#pragma once

#include <cstdint>

#include "item.h"
#include "symbols.h"

// Runs one procedure's or codeblock's p-code until PROCEXIT, BLOCKEXIT or an action request
// makes it leave. length bounds every operand read (0: the code is trusted to be well formed).
void vl_vmExecute(const uint8_t* pcode, VlSymbol* symbols, VlItem** globals, uint32_t length = 0);

// The current line base (LINEBASE / LINESTEP); calls save and restore it.
extern uint16_t vl_vmLineBase;
// Open TRY constructs; while non-zero and the error block is the break block, a run-time error
// becomes a break carrying the Error object.
extern uint32_t vl_vmTryDepth;
