// Process-wide state of the virtual machine: start-up and quit, the error level, action requests.
#pragma once

#include <cstdint>

struct VlItem;
struct VlSymbol;

enum : uint16_t {
  VL_REQ_NONE = 0,
  VL_REQ_QUIT = 1,
  VL_REQ_BREAK = 2,
  VL_REQ_ENDPROC = 4,
};

void vl_vmInit(bool start);
int vl_vmQuit();

void vl_vmRequestQuit();
void vl_vmRequestEndProc();
void vl_vmRequestBreak(VlItem* value);
void vl_vmRequestCancel();
uint16_t vl_vmRequestQuery();
void vl_vmRequestReset();
void vl_vmRequestRestore(uint16_t request);

int vl_vmErrorLevel();
void vl_vmSetErrorLevel(int level);

bool vl_vmIsFinished();
bool vl_vmIsQuitting();
void vl_vmRestartMemory();

VlItem* vl_vmBreakBlock();     // the block TRY installs as the error block
bool vl_vmDebugRequested();    // Alt+D seen by the cancel check
void vl_vmRequestDebug();      // the cancel check saw Alt+D

// Action requests are read after every instruction; keep the flag where the executor can test
// it without a call.
extern uint16_t vl_vmActionRequest;
