// Entry points of subsystems that are not built yet. Start-up, the quit sequence and the
// executor call them where those subsystems will hook in; each one moves to its subsystem when
// that is built. None of them may pretend to do work: they either report a state that is true
// while the subsystem is missing (nothing to release, no key pressed, no PRIVATE variable can
// exist yet) or stop the process with an internal error that names what is missing.
#include "codeblock.h"
#include "errint.h"
#include "executor.h"
#include "fieldapi.h"
#include "memvars.h"
#include "polling.h"
#include "subsys.h"
#include "../rtl/regex.h"

namespace {
[[noreturn]] void missing(const char* subsystem, const char* what) {
  vl_errInternal(9000, "%s not available yet: %s", subsystem, what);
}
}  // namespace

// Terminal and keyboard: nothing is open yet, no key can be pressed.
void vl_idleRelease() {}
void vl_backgroundRelease() {}
void vl_inkeyReleaseFilters() {}
int vl_gt_ReadKey(int) { return 0; }
void vl_inkeyPut(int) { missing("The keyboard buffer is", "vl_inkeyPut()"); }
// No background task can be registered yet.
void vl_backgroundRun() {}

// Statics: no module can reserve statics yet.
void vl_staticsReset() {}
void vl_staticsRelease() {}
VlItem* vl_staticsArray() { missing("Statics are", "STATICCOUNT, LOADSTATIC, STORESTATIC, STATICREF"); }

// Memory variables. No PRIVATE can be created before they exist, so the private-stack mark is
// always 0 and there is nothing to release when a procedure returns.
uint32_t vl_memvarSetPrivatesBase() { return 0; }
void vl_memvarRestorePrivates(uint32_t) {}
VlFieldReader vl_memvarFieldReader() { return nullptr; }
void vl_memvarSetValue(VlSymbol*, VlItem*) { missing("Memory variables are", "STOREMEMVAR, STOREVAR"); }
bool vl_memvarGetValue(VlItem*, VlSymbol*) { missing("Memory variables are", "LOADMEMVAR, LOADVAR"); }
bool vl_memvarGetRefer(VlItem*, VlSymbol*) { missing("Memory variables are", "MEMVARREF"); }
void vl_memvarNewParameter(VlSymbol*, const VlItem*) { missing("Memory variables are", "PARAMPRIVATE"); }

// Codeblocks.
void vl_codeblockNew(VlItem*, const uint8_t*, uint32_t, uint16_t, const uint8_t*, uint16_t, VlSymbol*, VlItem**) {
  missing("Codeblocks are", "MAKEBLOCK2, MAKEBLOCK1");
}
void vl_codeblockMacroNew(VlItem*, const uint8_t*, uint32_t, uint16_t) { missing("Codeblocks are", "RTBLOCK"); }
VlItem* vl_codeblockGetVar(VlItem*, int) { missing("Codeblocks are", "detached locals (LOADLOCAL, STORELOCAL)"); }
void vl_codeblockGetRef(VlItem*, VlItem*, int) { missing("Codeblocks are", "detached locals (LOCALREF)"); }
void vl_codeblockEvaluate() { vl_errInternal(9017, "Codeblock expected from %s", "vl_vmDoBlock()", nullptr); }

// Fields and work areas.
int vl_fieldCurrentArea() { missing("Work areas are", "LOADALIAS and the aliased field instructions"); }
bool vl_fieldSelectAlias(VlItem*) {
  missing("Work areas are", "STOREALIAS, ALIASSWAP and the aliased field and variable instructions");
}
void vl_fieldSelectArea(int) { missing("Work areas are", "the aliased field and variable instructions"); }
void vl_fieldGet(VlSymbol*, VlItem*) { missing("Fields are", "LOADFIELD, LOADVAR and the aliased field reads"); }
void vl_fieldPut(VlSymbol*, const VlItem*) { missing("Fields are", "STOREFIELD and the aliased field writes"); }

// Regular expressions.
bool vl_regexMatch(const char*, size_t, const char*, size_t, bool, bool*) {
  missing("Regular expressions are", "REGEXFULL, REGEXFIND");
}

// National-language support beyond the language modules (message catalogues chosen by LANG or
// LC_ALL): nothing is loaded yet.
void vl_i18nInit(const char*) {}
void vl_i18nRelease() {}

// The core function table: every core function registers with its own module for now.
void vl_initSymbols() {}

// The database layer: no work area can be open yet.
void vl_rddShutdown() {}
