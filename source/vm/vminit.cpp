// Start-up and shutdown: the initialisation sequence, the quit sequence, action requests, the
// cancel check report and the VM-level language functions.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "../rtl/console.h"
#include "../rtl/regex.h"
#include "../rtl/set.h"
#include "../rtl/version.h"
#include "arrays.h"
#include "classes.h"
#include "cmdarg.h"
#include "errint.h"
#include "executor.h"
#include "extend.h"
#include "gc.h"
#include "memvars.h"
#include "subsys.h"
#include "vm.h"
#include "vmcall.h"
#include "xmem.h"

uint16_t vl_vmActionRequest;

namespace {

int s_errorLevel;
bool s_quitting;
bool s_finished;
bool s_debugRequested;
VlItem* s_breakBlock;
VlItem* s_globals;

void errOutLine(const char* text) {
  vl_conOutErrStr(text);
  vl_conOutErrStr(vl_conNewLine());
}

// Calls a function by dynamic symbol with the given string arguments; the result is ignored.
void callSymbol(VlSymbol* sym, int argc = 0, char** argv = nullptr, bool skipInternal = false) {
  vl_vmPushSymbol(sym);
  vl_vmPushNil();
  uint16_t n = 0;
  for (int i = 0; i < argc; ++i) {
    if (skipInternal && vl_cmdargIsInternal(argv[i])) continue;
    vl_vmPushString(argv[i], std::strlen(argv[i]));
    ++n;
  }
  vl_vmDo(n);
}

bool callIfExists(const char* name) {
  VlDynSym* d = vl_dynsymFind(name);
  if (!vl_dynsymHasFunction(d)) return false;
  callSymbol(d->symbol);
  return true;
}

void writeInfo() {
  char line[512];
  std::snprintf(line, sizeof line, "%s", vl_verVersion());
  errOutLine(line);
  errOutLine(vl_verPlatform());
  errOutLine(vl_verCompiler());
  std::snprintf(line, sizeof line, "DS avail=%luKB  OS avail=%luKB  EMM avail=%luKB  MemStat:%s  MT:%s  Opt:%i",
                static_cast<unsigned long>(vl_xquery(1)), static_cast<unsigned long>(vl_xquery(3)),
                static_cast<unsigned long>(vl_xquery(4)), vl_xquery(1002) ? "On" : "Off", "Off", 0);
  errOutLine(line);
}

void writeBuild() {
  static const char* const extensions[][2] = {
      {"Vellum extensions: ", "Yes"},
      {"Xbase dialect extensions: ", "Yes"},
      {"Object extensions: ", "Yes"},
      {"Symbol extensions: ", "Yes"},
      {"Hash extensions: ", "Yes"},
      {"Codeblock extensions: ", "Yes"},
      {"Macro extensions: ", "Yes"},
      {"TRY/CATCH support: ", "Yes"},
      {"WITH OBJECT support: ", "Yes"},
      {"FOR EACH support: ", "Yes"},
      {"SWITCH support: ", "Yes"},
      {"Hidden strings: ", "No"},
      {"Debug build: ", "No"},
  };
  char line[512];
  const char* dashes = "---------------------------";
  errOutLine("Vellum Build Info");
  errOutLine(dashes);
  std::snprintf(line, sizeof line, "Version: %s", vl_verVersion());
  errOutLine(line);
  std::snprintf(line, sizeof line, "PCode Version: %d", VL_PCODE_VERSION);
  errOutLine(line);
  std::snprintf(line, sizeof line, "Compiler: %s", vl_verCompiler());
  errOutLine(line);
  std::snprintf(line, sizeof line, "Platform: %s", vl_verPlatform());
  errOutLine(line);
  errOutLine("");
  std::snprintf(line, sizeof line, "Built on: %s %s", __DATE__, __TIME__);
  errOutLine(line);
  std::snprintf(line, sizeof line, "Last ChangeLog entry: %s", vl_verChangeLogId());
  errOutLine(line);
  std::snprintf(line, sizeof line, "ChangeLog CVS version: %s", vl_verChangeLogId());
  errOutLine(line);
  for (const auto& e : extensions) {
    std::snprintf(line, sizeof line, "%s%s", e[0], e[1]);
    errOutLine(line);
  }
  std::snprintf(line, sizeof line, "Maximum symbol name length: %i", static_cast<int>(VL_SYMBOL_NAME_LEN));
  errOutLine(line);
  errOutLine(dashes);
}

void processInternalOptions() {
  if (vl_cmdargCheck("INFO")) writeInfo();
  if (vl_cmdargCheck("BUILD")) writeBuild();
  (void)vl_cmdargNum("F");  // file handle count: nothing to set on this platform
  if (vl_dynsymHasFunction(vl_dynsymFind("TRACELOG"))) {
    struct stat st{};
    if (::stat("trace.log", &st) == 0) {
      if (FILE* f = std::fopen("trace.log", "w")) std::fclose(f);
    }
  }
}

// Walks the modules in registration order calling each symbol whose scope, masked with
// VL_FS_INITEXIT, equals `want`, in modules whose combined scope has `moduleBits`.
void runModuleProcedures(uint32_t moduleBits, uint32_t want, bool withArgs, bool stopOnRequest) {
  for (VlModule* m = vl_vmFirstModule(); m; m = m->next) {
    if ((m->scopes & moduleBits) != moduleBits) continue;
    for (uint16_t i = 0; i < m->count; ++i) {
      VlSymbol* sym = &m->symbols[i];
      if ((sym->scope & VL_FS_INITEXIT) != want || !sym->value.func) continue;
      if (withArgs) callSymbol(sym, vl_cmdargARGC() - 1, vl_cmdargARGV() + 1, true);
      else callSymbol(sym);
      if (stopOnRequest && vl_vmActionRequest) return;
    }
  }
}

}  // namespace

int vl_vmErrorLevel() { return s_errorLevel; }
void vl_vmSetErrorLevel(int level) { s_errorLevel = level; }
bool vl_vmIsFinished() { return s_finished; }
bool vl_vmIsQuitting() { return s_quitting; }
VlItem* vl_vmBreakBlock() { return s_breakBlock; }
bool vl_vmDebugRequested() { return s_debugRequested; }
void vl_vmRequestDebug() { s_debugRequested = true; }

void vl_vmRestartMemory() {
  s_finished = false;
  vl_xinit();
  vl_gcInit();
}

void vl_vmRequestQuit() { vl_vmActionRequest = VL_REQ_QUIT; }
void vl_vmRequestEndProc() { vl_vmActionRequest = VL_REQ_ENDPROC; }
uint16_t vl_vmRequestQuery() { return vl_vmActionRequest; }
void vl_vmRequestReset() { vl_vmActionRequest = VL_REQ_NONE; }
void vl_vmRequestRestore(uint16_t request) { vl_vmActionRequest = request; }

void vl_vmRequestCancel() {
  if (!vl_set.cancel) return;
  char line[320];
  VlProcInfo info;
  vl_conOutErrStr(vl_conNewLine());
  vl_procInfo(0, &info);
  std::snprintf(line, sizeof line, "Cancelled at: %s (%i)", info.name, info.line);
  errOutLine(line);
  // With no procedure running (the stack is empty) every level reads as "vl_vmQuit": stop.
  for (int level = 1; vl_stackFrameOffset(level) >= 0 && vl_procInfo(level, &info) && info.name[0]; ++level) {
    std::snprintf(line, sizeof line, "%s (%u)", info.name, static_cast<unsigned>(info.line));
    errOutLine(line);
  }
  vl_vmRequestQuit();
}

void vl_vmInit(bool start) {
  if (s_finished) vl_vmRestartMemory();
  if (vl_dynsymFind("VL_NOMOUSE")) vl_gtSetMouse(false);

  // The VM's own state.
  vl_vmActionRequest = VL_REQ_NONE;
  s_errorLevel = 0;
  s_debugRequested = false;
  s_quitting = false;
  vl_vmExecutorReset();
  vl_staticsReset();

  vl_errInit();
  vl_stackInit();
  s_globals = vl_itemArrayNew(0);
  vl_vmRegisterEvalSymbol();
  vl_setInitialise();
  vl_conInit();
  vl_memvarInit();
  vl_i18nInit("en_US");
  if (const char* lang = std::getenv("LANG")) vl_i18nInit(lang);
  else if (const char* all = std::getenv("LC_ALL")) vl_i18nInit(all);
  vl_initSymbols();
  vl_langSelectInit("EN");
  processInternalOptions();

  VlDynSym* d = vl_dynsymFind("__ERRORBLOCK");
  if (!vl_dynsymHasFunction(d)) vl_errInternal(9000, "Error! missing __ErrorBlock()", nullptr, nullptr);
  callSymbol(d->symbol);
  d = vl_dynsymFind("__BREAKBLOCK");
  if (!vl_dynsymHasFunction(d)) vl_errInternal(9000, "Error! missing __BreakBlock()", nullptr, nullptr);
  callSymbol(d->symbol);
  s_breakBlock = vl_itemNew(nullptr);
  vl_itemForwardValue(s_breakBlock, &vl_stack.ret);

  runModuleProcedures(VL_FS_INITEXIT, VL_FS_INITEXIT, false, false);
  callIfExists("KESTINIT");
  for (const char* name : {"DBFDBTINIT", "DBFFPTINIT", "DBFNTXINIT", "DBFCDXINIT", "SIXCDXINIT", "RMDBFCDXINIT",
                           "ADSINIT", "RDDINIT"})
    callIfExists(name);
  runModuleProcedures(VL_FS_INIT, VL_FS_INIT, true, false);

  VlSymbol* startSym = nullptr;
  if (VlDynSym* app = vl_dynsymFind("_APPMAIN"); vl_dynsymHasFunction(app)) startSym = app->symbol;
  else startSym = vl_vmStartSymbol();
  if (!startSym && start) vl_errInternal(9013, nullptr, nullptr, nullptr);

  if (start && !vl_vmActionRequest) {
    // Arguments from element 1 on that are not internal options.
    callSymbol(startSym, vl_cmdargARGC() - 1, vl_cmdargARGV() + 1, true);
  }
}

int vl_vmQuit() {
  if (s_quitting) return s_errorLevel;
  s_quitting = true;
  vl_vmActionRequest = VL_REQ_NONE;

  if (vl_stack.items) runModuleProcedures(VL_FS_EXIT, VL_FS_EXIT, false, true);

  vl_rddShutdown();
  vl_idleRelease();
  vl_backgroundRelease();
  vl_i18nRelease();
  if (vl_set.eol.type != VL_IT_NIL) vl_itemClear(&vl_set.eol);

  vl_stackClearAll();
  vl_itemClear(&vl_stack.ret);
  if (s_globals) {
    vl_arraySize(s_globals, 0);
    vl_itemRelease(s_globals);
    s_globals = nullptr;
  }
  vl_gcCollect(true);
  vl_staticsRelease();

  vl_inkeyReleaseFilters();
  vl_errExit();
  vl_clsReleaseAll();
  vl_vmReleaseModules();
  vl_dynsymRelease();
  vl_conRelease();
  vl_setRelease();
  vl_cdpReleaseAll();
  vl_regexRelease();
  vl_gcCollect(true);
  vl_memvarExit();
  vl_stackFree();
  if (s_breakBlock) {
    vl_itemRelease(s_breakBlock);
    s_breakBlock = nullptr;
  }
  vl_gcReleaseAll();
  vl_vmExecutorRelease();
  vl_xexit();
  s_finished = true;
  return s_errorLevel;
}

// ERRORLEVEL([n]): the error level on entry; with an argument, the new level.
VL_FUNC(ERRORLEVEL) {
  int previous = s_errorLevel;
  if (vl_pcount() >= 1) {
    const VlItem* p = vl_param(1, VL_IT_NUMERIC);
    s_errorLevel = p ? vl_itemGetNI(p) : 0;
  }
  vl_retni(previous);
}

VL_FUNC(__QUIT) { vl_vmRequestQuit(); }
VL_FUNC(VL_VMMODE) { vl_retni(0); }
VL_FUNC(VL_MULTITHREAD) { vl_retl(false); }
VL_FUNC(KESTREL520) {}
VL_FUNC(KESTREL530) {}
VL_FUNC(SYSINIT) {}

VL_NATIVE_MODULE(vminit, VL_FUNCENTRY(ERRORLEVEL), VL_FUNCENTRY(__QUIT), VL_FUNCENTRY(VL_VMMODE),
                 VL_FUNCENTRY(VL_MULTITHREAD), VL_FUNCENTRY(KESTREL520), VL_FUNCENTRY(KESTREL530),
                 VL_FUNCENTRY(SYSINIT));
