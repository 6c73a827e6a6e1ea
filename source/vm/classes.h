// The class table (handles are 1-based) and message dispatch. A class has a name, a count of
// instance variables and a method table keyed by message (dynamic symbol); an object is an
// array whose base carries its class handle, its elements being the instance variables.
//
// This is the core the full class system grows from: method records already carry the type,
// scope, data index and declaring class that inheritance, class variables, inline blocks and
// scope checks will use.
#pragma once

#include <cstdint>

#include "symbols.h"

struct VlItem;

// Message types of a method record.
enum : uint16_t {
  VL_MT_METHOD = 0,    // a native function (or a p-code function's stub)
  VL_MT_DATA = 1,      // instance variable: getter, or setter for a name beginning with "_"
  VL_MT_CLASSDATA = 2,
  VL_MT_INLINE = 3,
  VL_MT_VIRTUAL = 4,
  VL_MT_SUPER = 5,
  VL_MT_ONERROR = 6,
  VL_MT_DESTRUCTOR = 7,
};

// Scope bits of a method record.
enum : uint16_t {
  VL_CLS_EXPORTED = 0x0001,
  VL_CLS_PUBLISHED = 0x0002,
  VL_CLS_PROTECTED = 0x0004,
  VL_CLS_HIDDEN = 0x0008,
  VL_CLS_CTOR = 0x0010,  // the send's result is the receiver itself
  VL_CLS_READONLY = 0x0020,
  VL_CLS_SHARED = 0x0040,
  VL_CLS_SUPER = 0x0080,
  VL_CLS_INHERITED = 0x0100,
};

uint16_t vl_clsCount();
const char* vl_clsName(uint16_t handle);        // "" for an invalid handle
const char* vl_clsModuleName(uint16_t handle);  // module of the class's defining function, or null
void vl_clsReleaseAll();

// Sends a message through the class system when self (already in the frame) has a class or a
// scalar class; false when the class system does not handle the value.
bool vl_clsDispatch(VlSymbol* message, uint16_t argc);

// A new class with room for `dataCount` instance variables and about `methodCount` messages.
uint16_t vl_clsNew(const char* name, uint16_t dataCount, uint16_t methodCount);
// Registers a message. VL_MT_METHOD: `func` runs for it. VL_MT_DATA: the instance variable at
// `dataIndex` (1-based) is read by the message, or written when the name begins with "_";
// `initValue` (may be null) is what a new instance holds there. Re-registration replaces.
bool vl_clsAddMsg(uint16_t cls, const char* name, uint16_t type, VlFunc func, uint16_t dataIndex, uint16_t scope,
                  const VlItem* initValue);
// Registers NAME and _NAME for instance variable `dataIndex`.
bool vl_clsAddData(uint16_t cls, const char* name, uint16_t dataIndex, const VlItem* initValue);
// A new instance: data-count NIL elements, then the registered initial values.
void vl_clsInst(uint16_t cls, VlItem* out);
uint16_t vl_clsFindByName(const char* name);  // exact name; 0 when there is none

// True when the value's class answers the message (operators use it to find overloads).
bool vl_objHasMessage(const VlItem* value, const char* name);
bool vl_objHasMsgDyn(const VlItem* value, const VlDynSym* message);
// For the executor's direct instance-variable access: the 1-based data index when sending
// `message` with argc arguments (0 or 1) to `object` is a plain read (argc 0) or assignment
// (argc 1) of an instance variable; 0 otherwise.
uint16_t vl_objDataIndex(const VlItem* object, VlSymbol* message, uint16_t argc);
