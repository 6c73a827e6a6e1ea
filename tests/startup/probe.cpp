// A whole program whose application module is native: MAIN (first, public) does what its first
// argument asks, so that start-up and shutdown can be tested as a process.
#include <cstdio>
#include <cstring>

#include "vm/extend.h"
#include "vm/vm.h"
#include "vm/vmcall.h"

namespace {

void out(const char* text) { std::fputs(text, stdout); std::fflush(stdout); }

void callByName(const char* name, int argc = 0, const VlItem* arg = nullptr) {
  VlDynSym* d = vl_dynsymFindName(name);
  vl_vmPushSymbol(d->symbol);
  vl_vmPushNil();
  if (argc) vl_vmPush(arg);
  vl_vmDo(static_cast<uint16_t>(argc));
}

void nestedQuit(int depth) {
  if (depth == 0) {
    callByName("__QUIT");
    return;
  }
  nestedQuit(depth - 1);
}

}  // namespace

// MAIN: prints its parameters, then acts on the first one.
static void probeMain() {
  int n = vl_pcount();
  std::printf("PCOUNT=%d\n", n);
  for (int i = 1; i <= n; ++i) std::printf("ARG%d=%s\n", i, vl_parcx(i));
  std::fflush(stdout);
  const char* what = n ? vl_parcx(1) : "";
  if (!std::strcmp(what, "errorlevel")) {
    VlItem three;
    three.type = VL_IT_NIL;
    vl_itemPutNI(&three, 3);
    callByName("ERRORLEVEL", 1, &three);
    std::printf("previous=%d\n", vl_itemGetNI(&vl_stack.ret));
    callByName("ERRORLEVEL", 1, &three);
    std::printf("previous=%d\n", vl_itemGetNI(&vl_stack.ret));
  } else if (!std::strcmp(what, "quit")) {
    VlItem seven;
    seven.type = VL_IT_NIL;
    vl_itemPutNI(&seven, 7);
    callByName("ERRORLEVEL", 1, &seven);
    nestedQuit(5);
    // Native code is not unwound by the executor: it sees the request and returns.
    if (vl_vmRequestQuery() == VL_REQ_QUIT) out("quit requested\n");
  } else if (!std::strcmp(what, "badversion")) {
    static VlSymbol table[] = {{"XYZZY", VL_FS_PUBLIC, {nullptr}, nullptr}};
    vl_vmProcessSymbols(table, 1, "ABC", 7);
  } else if (!std::strcmp(what, "undefined")) {
    VlDynSym* d = vl_dynsymGet("NO_SUCH_FUNCTION");
    vl_vmPushSymbol(d->symbol);
    vl_vmPushNil();
    vl_vmPushInteger(1);
    vl_vmPushInteger(2);
    vl_vmDo(2);
  } else if (!std::strcmp(what, "deep")) {
    // Recursion past the initial 200 slots: the stack grows and MEMORY(1003) reports it.
    std::printf("capacity=%d\n", vl_stackCapacity());
    for (int i = 0; i < 300; ++i) vl_vmPushInteger(i);
    std::printf("capacity=%d\n", vl_stackCapacity());
    vl_stackRemove(vl_stackTopOffset() - 300);
  }
}

static void probeExit() { out("EXIT procedure ran\n"); }

static VlSymbol s_symbols[] = {
    {"MAIN", VL_FS_PUBLIC | VL_FS_FIRST, {probeMain}, VL_SYM_DEFINED},
    {"PROBE_EXIT", VL_FS_EXIT, {probeExit}, VL_SYM_DEFINED},
};

// Registered before every other module: this object comes first on the link line.
static struct Register {
  Register() { vl_vmProcessSymbols(s_symbols, 2, "tests/startup/probe.cpp", VL_PCODE_VERSION); }
} s_register;
