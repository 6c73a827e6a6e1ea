// Stand-ins for the library modules that unit tests and probes link without: the error system's
// entry points that start-up requires. __ERRORBLOCK installs no error block (tests install a
// native handler where they expect errors); __BREAKBLOCK answers a block {|e| BREAK(e)} made by
// hand, which is all TRY needs of it: the error system compares the error block with it.
#include "vm/codeblock.h"
#include "vm/extend.h"
#include "vm/gc.h"
#include "vm/pcodes.h"

namespace {
VlSymbol s_breakSymbols[] = {{"BREAK", VL_FS_PUBLIC, {nullptr}, nullptr}};
const uint8_t s_breakCode[] = {VL_P_PUTSYM1, 0, VL_P_PUTNIL, VL_P_LOADLOCAL1, 1, VL_P_CALLF1, 1, VL_P_BLOCKEXIT};
VlNativeModule s_breakModule("tests/unit/support_break.prg", s_breakSymbols, 1);
}  // namespace

VL_FUNC(__ERRORBLOCK) { vl_ret(); }

VL_FUNC(__BREAKBLOCK) {
  auto* cb = static_cast<VlCodeblock*>(vl_gcAlloc(sizeof(VlCodeblock), vl_codeblockReleaseBlock));
  cb->procname = "__BREAKBLOCK";
  cb->line = 0;
  cb->localCount = 0;
  cb->holders = 1;
  cb->pcode = s_breakCode;
  cb->codeLength = sizeof s_breakCode;
  cb->ownsCode = false;
  cb->locals = nullptr;
  cb->symbols = s_breakSymbols;
  cb->globals = nullptr;
  cb->object = nullptr;
  VlItem* r = &vl_stack.ret;
  vl_itemClear(r);
  r->type = VL_IT_BLOCK;
  r->n16 = 1;  // one parameter
  r->n32 = 0;  // statics base
  r->u.blk.base = cb;
}

VL_NATIVE_MODULE(test_support, VL_FUNCENTRY(__ERRORBLOCK), VL_FUNCENTRY(__BREAKBLOCK));
