// Raising run-time errors: the Error object builders and the launch protocol.
#include "errapi.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "../rtl/langapi.h"
#include "../rtl/set.h"
#include "arrays.h"
#include "codeblock.h"
#include "errint.h"
#include "executor.h"
#include "extend.h"
#include "vm.h"
#include "vmcall.h"

namespace {

VlItem* s_errorBlock;
int s_launchDepth;
VlErrorHandler* s_handlers;
VlDynSym* s_errorNew;

void setIvar(VlItem* error, const char* message, const VlItem* value) {
  vl_objSendMsg(error, message, 1, value);
}

void setIvarC(VlItem* error, const char* message, const char* text) {
  VlItem v;
  v.type = VL_IT_NIL;
  vl_itemPutC(&v, text ? text : "");
  setIvar(error, message, &v);
  vl_itemClear(&v);
}

void setIvarN(VlItem* error, const char* message, int64_t n) {
  VlItem v;
  v.type = VL_IT_NIL;
  vl_itemPutNInt(&v, n);
  setIvar(error, message, &v);
}

void setIvarL(VlItem* error, const char* message, bool b) {
  VlItem v;
  v.type = VL_IT_NIL;
  vl_itemPutL(&v, b);
  setIvar(error, message, &v);
}

bool getIvarL(VlItem* error, const char* message) { return vl_itemGetL(vl_objSendMsg(error, message, 0)); }

// Builds the Args array from the builder's arguments (a null pointer stands for NIL); one array
// argument with subcode 1001, 1004 or 1005 is used as it is.
void setArgs(VlItem* error, int subCode, int argCount, va_list ap) {
  if (argCount == 0) return;
  if (argCount == VL_ERR_ARGS_BASEPARAMS) {
    VlItem* args = vl_arrayFromParams(static_cast<int32_t>(vl_stack.base - vl_stack.items));
    setIvar(error, "_ARGS", args);
    vl_itemRelease(args);
    return;
  }
  VlItem* first = va_arg(ap, VlItem*);
  if (argCount == 1 && first && VL_IS_ARRAY(first) && (subCode == 1001 || subCode == 1004 || subCode == 1005)) {
    setIvar(error, "_ARGS", first);
    return;
  }
  VlItem args;
  args.type = VL_IT_NIL;
  vl_arrayNew(&args, static_cast<uint32_t>(argCount));
  for (int i = 0; i < argCount; ++i) {
    VlItem* arg = i == 0 ? first : va_arg(ap, VlItem*);
    if (arg) vl_arraySet(&args, static_cast<uint32_t>(i + 1), arg);
  }
  setIvar(error, "_ARGS", &args);
  vl_itemClear(&args);
}

VlItem* newError(int severity, const char* subsystem, int genCode, int subCode, const char* description,
                 const char* operation, int osCode, unsigned flags, int procLevel) {
  VlItem* error = vl_errNew();
  setIvarN(error, "_SEVERITY", severity);
  setIvarC(error, "_SUBSYSTEM", subsystem ? subsystem : "BASE");
  setIvarN(error, "_GENCODE", genCode);
  setIvarN(error, "_SUBCODE", subCode);
  setIvarC(error, "_DESCRIPTION", description ? description : vl_langDGetErrorDesc(genCode));
  setIvarC(error, "_OPERATION", operation ? operation : "");
  setIvarN(error, "_OSCODE", osCode);
  setIvarL(error, "_CANRETRY", (flags & VL_ERR_FLAG_RETRY) != 0);
  setIvarL(error, "_CANSUBSTITUTE", (flags & VL_ERR_FLAG_SUBSTITUTE) != 0);
  setIvarL(error, "_CANDEFAULT", (flags & VL_ERR_FLAG_DEFAULT) != 0);
  VlProcInfo info;
  if (vl_procInfo(procLevel, &info)) {
    setIvarC(error, "_PROCNAME", info.name);
    setIvarN(error, "_PROCLINE", info.line);
  }
  return error;
}

// Quits the process from inside the error system: the handler asked to end the program.
[[noreturn]] void quitFromErrorSystem(VlItem* answer, VlItem* error) {
  if (answer) vl_itemRelease(answer);
  if (error) vl_itemRelease(error);
  std::exit(vl_vmQuit());
}

// Evaluates the handler for the error; returns the answer (a new item) or null.
VlItem* evaluate(VlItem* error) {
  if (s_handlers) {
    s_handlers->error = error;
    s_handlers->errorBlock = s_errorBlock;
    VlItem* answer = s_handlers->func(s_handlers);
    s_handlers->error = nullptr;
    s_handlers->errorBlock = nullptr;
    return answer;
  }
  VlItem* ret = vl_vmEvalBlockV(s_errorBlock, 1, error);
  return vl_itemNew(ret);
}

bool isBreakBlockActive() {
  const VlItem* brk = vl_vmBreakBlock();
  return vl_vmTryDepth > 0 && brk && VL_IS_BLOCK(brk) && VL_IS_BLOCK(s_errorBlock) &&
         brk->u.blk.base->pcode == s_errorBlock->u.blk.base->pcode;
}

}  // namespace

void vl_errInit() {
  s_errorNew = vl_dynsymFind("ERRORNEW");
  if (!vl_dynsymHasFunction(s_errorNew))
    vl_errInternal(9000, "Couldn't locate ErrorNew() symbol in vl_errInit()", nullptr, nullptr);
  s_errorBlock = vl_itemNew(nullptr);
  s_launchDepth = 0;
  s_handlers = nullptr;
}

void vl_errExit() {
  if (s_errorBlock) {
    vl_itemRelease(s_errorBlock);
    s_errorBlock = nullptr;
  }
}

VlItem* vl_errNew() {
  vl_vmPushSymbol(s_errorNew->symbol);
  vl_vmPushNil();
  vl_vmDo(0);
  if (!vl_arrayIsObject(&vl_stack.ret))
    vl_errInternal(9000, "Couldn't create Error object in vl_errNew()", nullptr, nullptr);
  VlItem* error = vl_itemNew(nullptr);
  vl_itemForwardValue(error, &vl_stack.ret);
  VlProcInfo info;
  if (vl_procInfo(0, &info) && info.file[0]) setIvarC(error, "_MODULENAME", info.file);
  return error;
}

unsigned vl_errLaunch(VlItem* error) {
  if (!error) return VL_ERR_RESULT_RETRY;
  if (!VL_IS_BLOCK(s_errorBlock) && !s_handlers) {
    vl_itemRelease(error);
    vl_errInternal(9002, nullptr, nullptr, nullptr);
  }
  if (s_launchDepth >= vl_set.errorLoop) {
    vl_itemRelease(error);
    vl_errInternal(9003, nullptr, nullptr, nullptr);
  }
  if (isBreakBlockActive()) {
    vl_vmRequestBreak(error);
    return VL_ERR_RESULT_BREAK;
  }
  ++s_launchDepth;
  VlItem* answer = evaluate(error);
  --s_launchDepth;

  uint16_t request = vl_vmRequestQuery();
  if (request & VL_REQ_QUIT) quitFromErrorSystem(answer, error);
  if (request & (VL_REQ_BREAK | VL_REQ_ENDPROC)) {
    if (answer) vl_itemRelease(answer);
    return VL_ERR_RESULT_BREAK;
  }
  if (!answer) vl_errInternal(9001, nullptr, nullptr, nullptr);
  bool ok = VL_IS_LOGICAL(answer) && !getIvarL(error, "CANSUBSTITUTE");
  bool value = ok && vl_itemGetL(answer);
  vl_itemRelease(answer);
  if (!ok) vl_errInternal(9001, nullptr, nullptr, nullptr);
  if (value) {
    if (!getIvarL(error, "CANRETRY")) vl_errInternal(9001, nullptr, nullptr, nullptr);
    setIvarN(error, "_TRIES", vl_itemGetNI(vl_objSendMsg(error, "TRIES", 0)) + 1);
    return VL_ERR_RESULT_RETRY;
  }
  if (!getIvarL(error, "CANDEFAULT")) vl_errInternal(9001, nullptr, nullptr, nullptr);
  return VL_ERR_RESULT_DEFAULT;
}

VlItem* vl_errLaunchSubst(VlItem* error) {
  if (!error) return vl_itemNew(nullptr);
  if (!VL_IS_BLOCK(s_errorBlock) && !s_handlers) {
    vl_itemRelease(error);
    vl_errInternal(9002, nullptr, nullptr, nullptr);
  }
  if (s_launchDepth >= vl_set.errorLoop) {
    vl_itemRelease(error);
    vl_errInternal(9003, nullptr, nullptr, nullptr);
  }
  if (isBreakBlockActive()) {
    vl_vmRequestBreak(error);
    return nullptr;
  }
  ++s_launchDepth;
  VlItem* answer = evaluate(error);
  --s_launchDepth;

  uint16_t request = vl_vmRequestQuery();
  if (request & VL_REQ_QUIT) quitFromErrorSystem(answer, error);
  if (request & (VL_REQ_BREAK | VL_REQ_ENDPROC)) {
    if (answer) vl_itemRelease(answer);
    return nullptr;
  }
  if (!getIvarL(error, "CANSUBSTITUTE")) {
    if (answer) vl_itemRelease(answer);
    vl_itemRelease(error);
    vl_errInternal(9001, nullptr, nullptr, nullptr);
  }
  return answer;
}

VlItem* vl_errRT_New(int severity, const char* subsystem, int genCode, int subCode, const char* description,
                     const char* operation, int osCode, unsigned flags) {
  return newError(severity, subsystem, genCode, subCode, description, operation, osCode, flags, 0);
}

VlItem* vl_errRT_New_Subst(int severity, const char* subsystem, int genCode, int subCode,
                           const char* description, const char* operation, int osCode, unsigned flags) {
  bool callerLevel = (!subsystem || std::string_view(subsystem) == "BASE") &&
                     ((genCode == VL_EG_NOVARMETHOD && subCode == 1005) || (genCode == VL_EG_NOMETHOD && subCode == 1004));
  return newError(severity, subsystem, genCode, subCode, description, operation, osCode,
                  flags | VL_ERR_FLAG_SUBSTITUTE, callerLevel ? 1 : 0);
}

unsigned vl_errRT_BASE(int genCode, int subCode, const char* description, const char* operation, int argCount, ...) {
  VlItem* error = vl_errRT_New(VL_ERR_SEVERITY_ERROR, "BASE", genCode, subCode, description, operation, 0, 0);
  va_list ap;
  va_start(ap, argCount);
  setArgs(error, subCode, argCount, ap);
  va_end(ap);
  unsigned result = vl_errLaunch(error);
  vl_itemRelease(error);
  return result;
}

unsigned vl_errRT_BASE_Ext1(int genCode, int subCode, const char* description, const char* operation, int osCode,
                            unsigned flags, int argCount, ...) {
  VlItem* error = vl_errRT_New(VL_ERR_SEVERITY_ERROR, "BASE", genCode, subCode, description, operation, osCode, flags);
  va_list ap;
  va_start(ap, argCount);
  setArgs(error, subCode, argCount, ap);
  va_end(ap);
  unsigned result = vl_errLaunch(error);
  vl_itemRelease(error);
  return result;
}

static VlItem* baseSubstV(int genCode, int subCode, const char* description, const char* operation, int argCount,
                          va_list ap) {
  VlItem* error = vl_errRT_New_Subst(VL_ERR_SEVERITY_ERROR, "BASE", genCode, subCode, description, operation, 0, 0);
  setArgs(error, subCode, argCount, ap);
  VlItem* result = vl_errLaunchSubst(error);
  vl_itemRelease(error);
  return result;
}

VlItem* vl_errRT_BASE_Subst(int genCode, int subCode, const char* description, const char* operation, int argCount,
                            ...) {
  va_list ap;
  va_start(ap, argCount);
  VlItem* result = baseSubstV(genCode, subCode, description, operation, argCount, ap);
  va_end(ap);
  return result;
}

void vl_errRT_BASE_SubstR(int genCode, int subCode, const char* description, const char* operation, int argCount,
                          ...) {
  va_list ap;
  va_start(ap, argCount);
  VlItem* result = baseSubstV(genCode, subCode, description, operation, argCount, ap);
  va_end(ap);
  if (result) {
    vl_itemReturnForward(result);
    vl_itemRelease(result);
  }
}

unsigned vl_errRT_TERM(int genCode, int subCode, const char* description, const char* operation, int osCode,
                       unsigned flags) {
  VlItem* error = vl_errRT_New(VL_ERR_SEVERITY_ERROR, "TERM", genCode, subCode, description, operation, osCode, flags);
  unsigned result = vl_errLaunch(error);
  vl_itemRelease(error);
  return result;
}

unsigned vl_errRT_DBCMD_Ext(int genCode, int subCode, const char* description, const char* operation,
                            unsigned flags) {
  VlItem* error = vl_errRT_New(VL_ERR_SEVERITY_ERROR, "DBCMD", genCode, subCode, description, operation, 0, flags);
  unsigned result = vl_errLaunch(error);
  vl_itemRelease(error);
  return result;
}

unsigned vl_errRT_DBCMD(int genCode, int subCode, const char* description, const char* operation) {
  return vl_errRT_DBCMD_Ext(genCode, subCode, description, operation,
                            genCode == VL_EG_NOTABLE ? static_cast<unsigned>(VL_ERR_FLAG_DEFAULT) : 0u);
}

VlItem* vl_errorBlock(const VlItem* newBlock) {
  VlItem* old = vl_itemNew(s_errorBlock);
  if (newBlock) vl_itemCopy(s_errorBlock, newBlock);
  return old;
}

VlErrorHandler* vl_errorHandler(VlErrorHandler* handler) {
  VlErrorHandler* previous = s_handlers;
  // Restoring the head that an earlier install returned must not relink it to the handler
  // being removed.
  if (handler && !(previous && previous->prev == handler)) handler->prev = previous;
  s_handlers = handler;
  return previous;
}
