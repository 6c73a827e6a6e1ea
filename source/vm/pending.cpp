// Entry points of subsystems that are not built yet. Start-up and the quit sequence call them
// where those subsystems will hook in; each one moves to its subsystem when that is built.
// None of them may pretend to do work: they either have nothing to release yet or stop the
// process with an internal error that names what is missing.
#include "codeblock.h"
#include "errint.h"
#include "executor.h"
#include "subsys.h"

uint16_t vl_vmLineBase;
uint32_t vl_vmTryDepth;

// Terminal and keyboard: nothing is open yet.
void vl_idleRelease() {}
void vl_backgroundRelease() {}
void vl_inkeyReleaseFilters() {}

// Executor: no recover, FINALLY, WITH OBJECT or FOR EACH records can exist yet.
void vl_vmExecutorReset() { vl_vmLineBase = 0; vl_vmTryDepth = 0; }
void vl_vmExecutorRelease() {}

// Statics: no module can reserve statics yet.
#include "memvars.h"
void vl_staticsReset() {}
void vl_staticsRelease() {}

// National language: only English is known; the language module registry comes later.
void vl_i18nInit(const char*) {}
void vl_i18nRelease() {}
void vl_langSelectInit(const char*) {}
void vl_cdpReleaseAll() {}

// The core function table: every core function registers with its own module for now.
void vl_initSymbols() {}

// The database layer: no work area can be open yet.
void vl_rddShutdown() {}

void vl_vmExecute(const uint8_t*, VlSymbol*, VlItem**, uint32_t) {
  vl_errInternal(9014, "Unsupported VM opcode", nullptr, nullptr);
}

void vl_codeblockEvaluate() {
  vl_errInternal(9017, "Codeblock expected from %s", "vl_vmDoBlock()", nullptr);
}

void vl_vmRequestBreak(VlItem*) {
  // Without BEGIN SEQUENCE there is never a recover record: a break is a quit request.
  extern uint16_t vl_vmActionRequest;
  vl_vmActionRequest = 1;
}
