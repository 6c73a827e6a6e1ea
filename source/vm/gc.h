// The garbage collector: a non-moving mark-and-sweep collector over two circular lists of blocks.
//
// Invariants:
//  1. Every collectable block is on exactly one list: the held list when its lock count is above
//     0 (held blocks are roots), the ordinary list otherwise.
//  2. A block whose mark equals the current colour is unmarked. Marking flips the block's colour
//     bit; the sweep frees the blocks still unmarked, then the current colour flips, so the
//     survivors count as unmarked for the next collection without a clearing pass.
//  3. A block doomed by the running sweep is never freed twice: vl_gcFree ignores it.
#pragma once

#include <cstddef>
#include <cstdint>

struct VlItem;

using VlGcReleaseFn = void (*)(void* data);
// Marks what a block of another subsystem refers to (class data, for example); may be null.
using VlGcMarkFn = void (*)(void* data);

void* vl_gcAlloc(size_t size, VlGcReleaseFn release);
void* vl_gcAllocMark(size_t size, VlGcReleaseFn release, VlGcMarkFn mark);
void vl_gcFree(void* data);
void vl_gcLock(void* data);
void vl_gcUnlock(void* data);
VlItem* vl_gcGripGet(const VlItem* item);
void vl_gcGripDrop(VlItem* item);
void vl_gcItemRef(const VlItem* item);
// Marks one block; true when it was unmarked before (the caller then marks what it refers to).
bool vl_gcMarkBlock(void* data);
bool vl_gcIsMarked(const void* data);
bool vl_gcIsDoomed(const void* data);  // swept by the running collection
void vl_gcCollect(bool forced);
void vl_gcReleaseAll();
void vl_gcInit();
uint32_t vl_gcAllocCount();
size_t vl_gcBlockCount();  // blocks alive on both lists
bool vl_gcIsReleasingAll();

// A root provider marks items the collector cannot see otherwise (memory variables, statics,
// class data). Providers register once, before main or during start-up.
using VlGcRootFn = void (*)();
void vl_gcRegisterRoots(VlGcRootFn fn);

// Release routines, so the marker can tell the kind of a held block.
void vl_gcHeldItemRelease(void* data);
