// The Error class and the language functions of the error system: ERRORNEW, ERRORBLOCK, BREAK,
// THROW and __ERRRT_BASE. The class "ERROR" is made the first time ERRORNEW runs: 17 instance
// variables in a fixed order with their initial values, and NEW, which answers the object.
#include <cstring>

#include "arrays.h"
#include "classes.h"
#include "errapi.h"
#include "extend.h"
#include "vm.h"

namespace {

enum InitKind { NIL, FALSE, EMPTY, ZERO, TWO };

struct IvarDef {
  const char* name;
  InitKind init;
};

// The order is part of the object's layout: instance variable k is element k of the object.
const IvarDef s_ivars[] = {
    {"ARGS", NIL},        {"CANDEFAULT", FALSE}, {"CANRETRY", FALSE}, {"CANSUBSTITUTE", FALSE},
    {"CARGO", NIL},       {"DESCRIPTION", EMPTY}, {"FILENAME", EMPTY}, {"GENCODE", ZERO},
    {"OPERATION", EMPTY}, {"OSCODE", ZERO},       {"SEVERITY", TWO},   {"SUBCODE", ZERO},
    {"SUBSYSTEM", EMPTY}, {"TRIES", ZERO},        {"PROCNAME", NIL},   {"PROCLINE", NIL},
    {"MODULENAME", EMPTY},
};
constexpr uint16_t IVAR_COUNT = sizeof s_ivars / sizeof s_ivars[0];
static_assert(IVAR_COUNT == 17, "the Error object has 17 instance variables");

enum : uint16_t { IV_DESCRIPTION = 6, IV_GENCODE = 8, IV_OPERATION = 9, IV_SUBCODE = 12, IV_SUBSYSTEM = 13,
                  IV_ARGS = 1, IV_PROCNAME = 15, IV_PROCLINE = 16, IV_MODULENAME = 17 };

bool s_inErrorNew;

// NEW: the object itself (the constructor scope makes the send answer the receiver).
void errorNewMethod() { vl_itemReturn(vl_stack.base[1]); }

uint16_t errorClass() {
  uint16_t h = vl_clsFindByName("ERROR");
  if (h) return h;
  h = vl_clsNew("ERROR", IVAR_COUNT, IVAR_COUNT * 2 + 1);
  VlItem init;
  init.type = VL_IT_NIL;
  for (uint16_t i = 0; i < IVAR_COUNT; ++i) {
    switch (s_ivars[i].init) {
      case NIL: vl_itemClear(&init); break;
      case FALSE: vl_itemPutL(&init, false); break;
      case EMPTY: vl_itemPutC(&init, ""); break;
      case ZERO: vl_itemPutNI(&init, 0); break;
      case TWO: vl_itemPutNI(&init, 2); break;
    }
    vl_clsAddData(h, s_ivars[i].name, static_cast<uint16_t>(i + 1), &init);
  }
  vl_itemClear(&init);
  vl_clsAddMsg(h, "NEW", VL_MT_METHOD, errorNewMethod, 0, VL_CLS_EXPORTED | VL_CLS_CTOR, nullptr);
  return h;
}

void setElement(VlItem* object, uint16_t index, const VlItem* value) {
  VlItem* slot = vl_arrayGetItemPtr(object, index);
  vl_itemCopy(slot, value);
}

}  // namespace

// ERRORNEW([subsystem, genCode, subCode, operation, description, args, module, procName, procLine])
VL_FUNC(ERRORNEW) {
  // An error raised while an Error object is being built must not recurse.
  if (s_inErrorNew) {
    vl_ret();
    return;
  }
  s_inErrorNew = true;
  VlItem object;
  object.type = VL_IT_NIL;
  vl_clsInst(errorClass(), &object);

  static const uint16_t firstSix[] = {IV_SUBSYSTEM, IV_GENCODE, IV_SUBCODE, IV_OPERATION, IV_DESCRIPTION, IV_ARGS};
  for (int k = 1; k <= 6; ++k) {
    const VlItem* p = vl_param(k, VL_IT_ANY);
    if (p && !VL_IS_NIL(p)) setElement(&object, firstSix[k - 1], p);
  }
  VlProcInfo info;
  bool known = vl_procInfo(1, &info);
  VlItem tmp;
  tmp.type = VL_IT_NIL;
  const VlItem* p = vl_param(7, VL_IT_ANY);
  if (p && !VL_IS_NIL(p)) setElement(&object, IV_MODULENAME, p);
  else setElement(&object, IV_MODULENAME, vl_itemPutC(&tmp, known ? info.file : ""));
  p = vl_param(8, VL_IT_ANY);
  if (p && !VL_IS_NIL(p)) setElement(&object, IV_PROCNAME, p);
  else setElement(&object, IV_PROCNAME, vl_itemPutC(&tmp, known ? info.name : ""));
  p = vl_param(9, VL_IT_ANY);
  if (p && !VL_IS_NIL(p)) setElement(&object, IV_PROCLINE, p);
  else setElement(&object, IV_PROCLINE, vl_itemPutNI(&tmp, known ? info.line : 0));
  vl_itemClear(&tmp);

  vl_itemReturnForward(&object);
  s_inErrorNew = false;
}

// ERRORBLOCK([block]): the current error block; a block argument becomes the new one.
VL_FUNC(ERRORBLOCK) {
  VlItem* old = vl_errorBlock(vl_param(1, VL_IT_BLOCK));
  vl_itemReturnForward(old);
  vl_itemRelease(old);
}

// BREAK([value]): unwinds to the innermost BEGIN SEQUENCE or TRY; quits outside any.
VL_FUNC(BREAK) { vl_vmRequestBreak(vl_param(1, VL_IT_ANY)); }

// THROW(error): launches the object as a substitutable error; the answer is the result.
VL_FUNC(THROW) {
  VlItem* p = vl_param(1, VL_IT_ANY);
  if (!p || !vl_arrayIsObject(p)) {
    vl_errRT_BASE_SubstR(VL_EG_ARG, 9101, nullptr, "THROW", 1, vl_paramError(1));
    return;
  }
  VlItem* error = vl_itemNew(p);
  VlItem* answer = vl_errLaunchSubst(error);
  if (answer) {
    vl_itemReturnForward(answer);
    vl_itemRelease(answer);
  }
  vl_itemRelease(error);
}

// __ERRRT_BASE(genCode, subCode, description, operation, argCount, argument)
VL_FUNC(__ERRRT_BASE) {
  const char* description = vl_parc(3);
  const char* operation = vl_parc(4);
  if (vl_parni(5) > 0)
    vl_errRT_BASE(vl_parni(1), vl_parni(2), description, operation, 1, vl_paramError(6));
  else
    vl_errRT_BASE(vl_parni(1), vl_parni(2), description, operation, 0);
}

VL_NATIVE_MODULE(errorobj, VL_FUNCENTRY(ERRORNEW), VL_FUNCENTRY(ERRORBLOCK), VL_FUNCENTRY(BREAK),
                 VL_FUNCENTRY(THROW), VL_FUNCENTRY(__ERRRT_BASE));
