// Raising run-time errors from native code. Every builder makes an Error object, launches it
// through the error block and obeys the answer: the caller repeats the operation on
// VL_ERR_RESULT_RETRY, continues with its default on VL_ERR_RESULT_DEFAULT and returns at once
// on VL_ERR_RESULT_BREAK. Arguments are item pointers; a null pointer stands for NIL.
#pragma once

#include <cstdint>

#include "errcodes.h"
#include "item.h"

void vl_errInit();
void vl_errExit();

VlItem* vl_errNew();
unsigned vl_errLaunch(VlItem* error);
VlItem* vl_errLaunchSubst(VlItem* error);
VlItem* vl_errRT_New(int severity, const char* subsystem, int genCode, int subCode, const char* description,
                     const char* operation, int osCode, unsigned flags);
VlItem* vl_errRT_New_Subst(int severity, const char* subsystem, int genCode, int subCode,
                           const char* description, const char* operation, int osCode, unsigned flags);

unsigned vl_errRT_BASE(int genCode, int subCode, const char* description, const char* operation, int argCount, ...);
unsigned vl_errRT_BASE_Ext1(int genCode, int subCode, const char* description, const char* operation, int osCode,
                            unsigned flags, int argCount, ...);
VlItem* vl_errRT_BASE_Subst(int genCode, int subCode, const char* description, const char* operation, int argCount,
                            ...);
void vl_errRT_BASE_SubstR(int genCode, int subCode, const char* description, const char* operation, int argCount,
                          ...);
unsigned vl_errRT_TERM(int genCode, int subCode, const char* description, const char* operation, int osCode,
                       unsigned flags);
unsigned vl_errRT_DBCMD(int genCode, int subCode, const char* description, const char* operation);
unsigned vl_errRT_DBCMD_Ext(int genCode, int subCode, const char* description, const char* operation,
                            unsigned flags);

// Passing this as the argument count makes the builder use every parameter of the running
// native function as the error's arguments.
inline constexpr int VL_ERR_ARGS_BASEPARAMS = -1;

VlItem* vl_errorBlock(const VlItem* newBlock);

struct VlErrorHandler;
using VlErrorHandlerFn = VlItem* (*)(VlErrorHandler* handler);
struct VlErrorHandler {
  VlErrorHandlerFn func;
  VlItem* error;
  void* reserved;
  VlErrorHandler* prev;
  VlItem* errorBlock;
};
VlErrorHandler* vl_errorHandler(VlErrorHandler* handler);
