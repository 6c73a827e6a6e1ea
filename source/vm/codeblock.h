// Codeblocks: a base (a block of the collector) with the block's p-code and the detached locals
// it shares with the procedure that created it.
#pragma once

#include <cstdint>

#include "item.h"

struct VlSymbol;
struct VlArrayBase;

struct VlCodeblock {
  const char* procname;  // procedure that created the block (static text)
  uint16_t line;         // line at creation
  uint16_t localCount;   // detached locals
  int32_t holders;
  const uint8_t* pcode;
  uint32_t codeLength;
  bool ownsCode;          // macro-compiled blocks own a copy of their p-code
  VlItem* locals;         // [0] header (count of sharing blocks in u.i64), [1..n] memvar references
  VlSymbol* symbols;      // the module's symbol table
  VlItem** globals;       // the module's globals table
  VlArrayBase* object;    // self of the method that created the block, held; null otherwise
};

void vl_codeblockHold(VlCodeblock* cb);
void vl_codeblockDrop(VlCodeblock* cb);
void vl_codeblockReleaseBlock(void* cb);  // the collector's release routine
void vl_codeblockMark(VlCodeblock* cb);   // marks detached locals and the held object
void vl_codeblockDelete(VlItem* block);   // clears a codeblock item (releasing the block at 0)

// MAKEBLOCK2 / MAKEBLOCK1: a new block over `code` (codeLength bytes inside the module's p-code),
// detaching the listed locals of the current frame (1-based local numbers, `localCount` of them
// at `localNumbers`, each a little-endian U2). Leaves the item in `out`.
void vl_codeblockNew(VlItem* out, const uint8_t* code, uint32_t codeLength, uint16_t params,
                     const uint8_t* localNumbers, uint16_t localCount, VlSymbol* symbols, VlItem** globals);
// RTBLOCK: copies the code into an owned buffer; no locals, symbols or object.
void vl_codeblockMacroNew(VlItem* out, const uint8_t* code, uint32_t codeLength, uint16_t params);
// Detached local -index (index < 0) of the block: the vector entry, a memory-variable
// reference to the shared value (follow it with vl_itemUnRef).
VlItem* vl_codeblockGetVar(VlItem* block, int index);
// A reference item to that detached local (it holds the value on its own).
void vl_codeblockGetRef(VlItem* out, VlItem* block, int index);

// The function behind __EVAL: evaluates the codeblock that is self of the current frame.
void vl_codeblockEvaluate();
