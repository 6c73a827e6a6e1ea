// Hot keys: the SETKEY table of (key, action block, optional condition block) in insertion
// order, the help key that start-up binds (__SETHELPK) and __XHELP, which calls a HELP function.
// The blocks are held items, so the collector keeps them alive while they are in the table.
#include <cstdint>
#include <cstring>

#include "../vm/codeblock.h"
#include "../vm/extend.h"
#include "../vm/gc.h"
#include "../vm/pcodes.h"
#include "../vm/vmcall.h"
#include "../vm/xmem.h"
#include "inkey.h"

namespace {

struct HotKey {
  int32_t key;
  VlItem* action;     // held codeblock
  VlItem* condition;  // held codeblock or null
  HotKey* next;
};

HotKey* s_first;

HotKey* findKey(int32_t key, HotKey** prev = nullptr) {
  HotKey* before = nullptr;
  for (HotKey* h = s_first; h; before = h, h = h->next) {
    if (h->key == key) {
      if (prev) *prev = before;
      return h;
    }
  }
  return nullptr;
}

void releaseBlocks(HotKey* h) {
  vl_itemRelease(h->action);
  h->action = nullptr;
  if (h->condition) vl_itemRelease(h->condition);
  h->condition = nullptr;
}

void unlink(HotKey* h, HotKey* prev) {
  (prev ? prev->next : s_first) = h->next;
  releaseBlocks(h);
  vl_xfree(h);
}

// Binds key to action (and condition) exactly as SETKEY with those arguments does; the previous
// action, if any, is left in `previous`.
void bind(int32_t key, const VlItem* action, const VlItem* condition, VlItem* previous) {
  HotKey* prev = nullptr;
  HotKey* h = findKey(key, &prev);
  if (h) {
    if (previous) vl_itemCopy(previous, h->action);
    if (action && VL_IS_BLOCK(action)) {
      releaseBlocks(h);
      h->action = vl_itemNew(action);
      h->condition = (condition && VL_IS_BLOCK(condition)) ? vl_itemNew(condition) : nullptr;
    } else {
      unlink(h, prev);
    }
    return;
  }
  if (!action || !VL_IS_BLOCK(action)) return;
  auto* n = static_cast<HotKey*>(vl_xgrab(sizeof(HotKey)));
  n->key = key;
  n->action = vl_itemNew(action);
  n->condition = (condition && VL_IS_BLOCK(condition)) ? vl_itemNew(condition) : nullptr;
  n->next = nullptr;
  HotKey** tail = &s_first;
  while (*tail) tail = &(*tail)->next;
  *tail = n;
}

// The help block {|p, l, v| __XHELP(p, l, v)}: p-code with a symbol table of its own, as a
// compiled module would have it.
VlSymbol s_helpSymbols[] = {{"__XHELP", VL_FS_PUBLIC, {nullptr}, nullptr}};
VlNativeModule s_helpModule("source/rtl/setkey_help.prg", s_helpSymbols, 1);
const uint8_t s_helpCode[] = {VL_P_PUTSYM1,    0, VL_P_PUTNIL, VL_P_LOADLOCAL1, 1, VL_P_LOADLOCAL1, 2,
                              VL_P_LOADLOCAL1, 3, VL_P_CALLF1, 3,               VL_P_BLOCKEXIT};

void makeHelpBlock(VlItem* out) {
  auto* cb = static_cast<VlCodeblock*>(vl_gcAlloc(sizeof(VlCodeblock), vl_codeblockReleaseBlock));
  cb->procname = "__SETHELPK";
  cb->line = 0;
  cb->localCount = 0;
  cb->holders = 1;
  cb->pcode = s_helpCode;
  cb->codeLength = sizeof s_helpCode;
  cb->ownsCode = false;
  cb->locals = nullptr;
  cb->symbols = s_helpSymbols;
  cb->globals = nullptr;
  cb->object = nullptr;
  vl_itemClear(out);
  out->type = VL_IT_BLOCK;
  out->n16 = 3;  // declared parameters
  out->n32 = 0;  // statics base
  out->u.blk.base = cb;
}

}  // namespace

void vl_setkeyInit() { vl_setkeyRelease(); }

void vl_setkeyRelease() {
  while (s_first) unlink(s_first, nullptr);
}

// SETKEY(nKey [, bAction [, bCondition]]) -> the (previous) action block or NIL.
VL_FUNC(SETKEY) {
  int32_t key = vl_parni(1);
  if (key == 0) return;
  if (vl_pcount() == 1) {
    HotKey* h = findKey(key);
    if (!h) {
      vl_ret();
      return;
    }
    if (h->condition) {
      VlItem keyItem;
      keyItem.type = VL_IT_NIL;
      vl_itemPutNI(&keyItem, key);
      // The table may change while the condition runs: keep our own hold on the action.
      VlItem* action = vl_itemNew(h->action);
      VlItem* result = vl_vmEvalBlockV(h->condition, 1, &keyItem);
      bool refused = VL_IS_LOGICAL(result) && !vl_itemGetL(result);
      if (refused) vl_ret();
      else vl_itemReturn(action);
      vl_itemRelease(action);
      return;
    }
    vl_itemReturn(h->action);
    return;
  }
  VlItem previous;
  previous.type = VL_IT_NIL;
  bind(key, vl_param(2, VL_IT_ANY), vl_param(3, VL_IT_ANY), &previous);
  vl_itemReturnForward(&previous);
}

// __SETHELPK(): key 28 (F1) calls __XHELP with the procedure, line and variable of the caller.
VL_FUNC(__SETHELPK) {
  VlItem block;
  block.type = VL_IT_NIL;
  makeHelpBlock(&block);
  bind(28, &block, nullptr, nullptr);
  vl_itemClear(&block);
}

// __XHELP(...): calls HELP with every argument when a function of that name exists.
VL_FUNC(__XHELP) {
  VlDynSym* help = vl_dynsymFindName("HELP");
  if (!vl_dynsymHasFunction(help)) return;
  int n = vl_pcount();
  vl_vmPushSymbol(help->symbol);
  vl_vmPushNil();
  for (int i = 1; i <= n; ++i) vl_vmPush(vl_param(i, VL_IT_ANY));
  vl_vmDo(static_cast<uint16_t>(n));
}

VL_NATIVE_MODULE(setkey, VL_FUNCENTRY(SETKEY), VL_FUNCENTRY(__SETHELPK), VL_FUNCENTRY(__XHELP));
