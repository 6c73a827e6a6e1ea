// libFuzzer target: arbitrary bytes as a DBF table, opened and read through the DBF driver
// (every field of every record, forward and backward), then changed and closed. Whatever the
// bytes, the driver must end with a clean error or sane records, never a crash or a sanitizer
// report. Built only with the fuzz preset (clang): cmake --preset fuzz && cmake --build --preset fuzz
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/filesys.h"
#include "rdd/rddapi.h"
#include "vm/cmdarg.h"
#include "vm/errapi.h"
#include "vm/extend.h"
#include "vm/vm.h"
#include "vm/vmcall.h"

namespace {

// Start-up asks for the error system's block procedures; the library modules are not linked.
void nilResult() { vl_ret(); }
VlSymbol s_standIns[] = {
    {"__ERRORBLOCK", VL_FS_PUBLIC, {nilResult}, VL_SYM_DEFINED},
    {"__BREAKBLOCK", VL_FS_PUBLIC, {nilResult}, VL_SYM_DEFINED},
};
struct Register {
  Register() { vl_vmProcessSymbols(s_standIns, 2, "dbf_fuzz.cpp", VL_PCODE_VERSION); }
} s_register;

// Every error takes its default when it has one and otherwise ends the operation (a break).
VlItem* answer(VlErrorHandler* h) {
  VlItem* canDefault = vl_objSendMsg(h->error, "CANDEFAULT", 0);
  if (vl_itemGetL(canDefault)) {
    VlItem* no = vl_itemNew(nullptr);
    vl_itemPutL(no, false);
    return no;
  }
  // No BEGIN SEQUENCE here: only the flag, cleared after each call.
  vl_vmRequestRestore(VL_REQ_BREAK);
  return nullptr;
}

VlErrorHandler s_handler{answer, nullptr, nullptr, nullptr, nullptr};
std::string s_path;

void callFn(const char* name, std::initializer_list<const VlItem*> args) {
  vl_vmPushSymbol(vl_dynsymFind(name)->symbol);
  vl_vmPushNil();
  for (const VlItem* a : args) {
    if (a) vl_vmPush(a);
    else vl_vmPushNil();
  }
  vl_vmDo(static_cast<uint16_t>(args.size()));
  vl_vmRequestReset();
}

void init() {
  static char prog[] = "dbf_fuzz";
  static char* argv[] = {prog, nullptr};
  vl_cmdargInit(1, argv);
  vl_vmInit(false);
  vl_errorHandler(&s_handler);
  s_path = "/tmp/vl_dbf_fuzz_" + std::to_string(getpid()) + ".dbf";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = (init(), true);
  (void)ready;
  FILE* f = std::fopen(s_path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  VlItem yes, no, driver, file;
  yes.type = no.type = driver.type = file.type = VL_IT_NIL;
  vl_itemPutL(&yes, true);
  vl_itemPutL(&no, false);
  vl_itemPutC(&driver, "DBF");
  vl_itemPutC(&file, s_path.c_str());
  callFn("DBUSEAREA", {&yes, &driver, &file, nullptr, &no, &no});
  if (VlArea* area = vl_rddGetCurrentWorkAreaPointer()) {
    VlItem value;
    value.type = VL_IT_NIL;
    uint16_t fields = 0;
    VL_SELF(area, fieldCount, &fields);
    VL_SELF(area, goTop);
    for (int pass = 0; pass < 2; ++pass) {
      long direction = pass == 0 ? 1 : -1;
      for (int guard = 0; guard < 100000; ++guard) {
        bool end = true;
        VlStatus status = direction > 0 ? VL_SELF(area, eof, &end) : VL_SELF(area, bof, &end);
        if (status != VL_SUCCESS || end) break;
        bool deleted;
        VL_SELF(area, deleted, &deleted);
        for (uint16_t i = 1; i <= fields; ++i) VL_SELF(area, getValue, i, &value);
        vl_vmRequestReset();
        if (VL_SELF(area, skip, direction) != VL_SUCCESS) break;
      }
      VL_SELF(area, goBottom);
    }
    // Change the first record and append one: the close rewrites the header.
    VL_SELF(area, goTop);
    if (fields > 0) {
      VL_SELF(area, getValue, 1, &value);
      VL_SELF(area, putValue, 1, &value);
      VL_SELF(area, deleteRec);
      VL_SELF(area, append, true);
      VL_SELF(area, putValue, fields, &value);
    }
    vl_vmRequestReset();
    vl_itemClear(&value);
    callFn("DBCLOSEAREA", {});
  }
  vl_itemClear(&driver);
  vl_itemClear(&file);
  std::remove(s_path.c_str());
  return 0;
}
