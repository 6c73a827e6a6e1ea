// Calls: functions by symbol, message sends, codeblock evaluation from native code.
#pragma once

#include <cstdint>

#include "item.h"
#include "symbols.h"

// Calls the function whose symbol, self (NIL) and n arguments are on the stack; a non-NIL self
// makes it a message send. The result is in the return value.
void vl_vmDo(uint16_t n);
void vl_vmSend(uint16_t n);
void vl_vmFunction(uint16_t n);  // vl_vmDo, then pushes a copy of the return value

VlItem* vl_vmEvalBlock(const VlItem* block);
VlItem* vl_vmEvalBlockV(const VlItem* block, int count, ...);  // const VlItem* arguments
VlItem* vl_itemDo(const VlItem* item, int count, ...);         // new free-standing result or null
VlItem* vl_itemDoC(const char* name, int count, ...);
VlItem* vl_objSendMsg(const VlItem* object, const char* message, int count, ...);

VlSymbol* vl_vmEvalSymbol();
void vl_vmRegisterEvalSymbol();
