// The evaluation stack: operands of the executor and every call frame.
//
// Invariants:
//  1. Every slot owns its own cell for the life of the stack; growing the slot vector never moves
//     a cell, so item pointers into the stack stay valid (references address slots by index
//     through &vl_stack.items, which does move).
//  2. The top slot (*pos) and every slot above it hold NIL.
//  3. A frame: base -> the symbol item, base+1 -> self, base+2.. -> parameters, then locals.
//     The symbol item's prevFrame holds the caller's base offset during the call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "item.h"

struct VlStack {
  VlItem** items;  // slot vector
  VlItem** pos;    // first free slot
  VlItem** base;   // symbol item of the current frame
  int32_t capacity;
  int32_t staticsBase;  // first static of the running module
  uint32_t callDepth;
  VlItem ret;  // the return value
};

extern VlStack vl_stack;

inline constexpr int32_t VL_STACK_INITIAL = 200;
inline constexpr int32_t VL_STACK_EXPAND = 20;

void vl_stackInit();
void vl_stackFree();
void vl_stackIncrease();
int32_t vl_stackCapacity();

inline VlItem* vl_stackAllocItem() {
  if (vl_stack.pos - vl_stack.items >= vl_stack.capacity - 1) vl_stackIncrease();
  return *vl_stack.pos++;
}
VlItem* vl_stackPush();
void vl_stackPop();
void vl_stackPopReturn();  // pops the top into the return value (moves it)
void vl_stackDec();
void vl_stackRemove(int32_t offset);
inline VlItem* vl_stackItemFromTop(int n) { return vl_stack.pos[n]; }  // n < 0
inline VlItem* vl_stackItemFromBase(int n) { return vl_stack.base[n + 1]; }
inline VlItem* vl_stackItem(int32_t offset) { return vl_stack.items[offset]; }
inline VlItem* vl_stackSelfItem() { return vl_stack.base[1]; }
inline VlItem* vl_stackBaseItem() { return *vl_stack.base; }
inline VlItem* vl_stackReturnItem() { return &vl_stack.ret; }
int32_t vl_stackTopOffset();
int32_t vl_stackBaseOffset();
void vl_stackClearAll();  // quit sequence: pops everything down to the start

// Frame helpers shared by the call protocol and the executor.
inline int vl_frameParamCount(const VlItem* symItem) {
  int n = symItem->u.sym.paramCnt;
  return n >= 255 ? n - 256 : n;
}
VlItem* vl_stackLocalVariable(int n);  // local or parameter n of the current frame (n >= 1)

// ---- pushes ----
void vl_vmPushNil();
void vl_vmPushLogical(bool v);
void vl_vmPushInteger(int32_t v);
void vl_vmPushLong(long v);
void vl_vmPushLongLong(int64_t v);
void vl_vmPushDouble(double v, int decimals);
void vl_vmPushDoubleLen(double v, int width, int decimals);
void vl_vmPushNumber(double v, int decimals);
void vl_vmPushNumberLen(double v, int decimals, VlType t1, VlType t2);
void vl_vmPushString(const char* text, size_t len);
void vl_vmPushStringPcode(const char* text, size_t len);
void vl_vmPushSymbol(VlSymbol* sym);
void vl_vmPushPointer(void* ptr);
void vl_vmPushDate(int32_t julian);
void vl_vmPush(const VlItem* item);
void vl_vmPushForward(VlItem* item);

// Width of an integer literal of the p-code: 10 up to 999,999,999, one more per further digit,
// 20 below -999,999,999.
uint16_t vl_vmLiteralWidth(int64_t v);

// ---- procedure information ----
struct VlProcInfo {
  char name[128];
  uint16_t line;
  char file[256];
};
// Walks `level` frames up from the current one; false when the walk ran out of frames.
bool vl_procInfo(int level, VlProcInfo* info);
// Base offset of the frame `level` levels up, -1 when there is none.
int32_t vl_stackFrameOffset(int level);
void vl_stackCallTrace();
void vl_stackDump();
