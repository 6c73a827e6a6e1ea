// Symbols, modules and the global name table.
//
// A module's symbol table is a static array of VlSymbol built into the program (or made by the
// compiler at run time). Registration (vl_vmProcessSymbols) enters the public names into the
// global name table: a vector of VlDynSym pointers sorted by name (byte-wise), which unites
// equal names of all modules. The first module to define a public function wins the name.
#pragma once

#include <cstddef>
#include <cstdint>

struct VlItem;
struct VlDynSym;
struct VlModule;

using VlFunc = void (*)();

enum : uint32_t {
  VL_FS_PUBLIC = 0x0001,
  VL_FS_STATIC = 0x0002,
  VL_FS_FIRST = 0x0004,
  VL_FS_INIT = 0x0008,
  VL_FS_EXIT = 0x0010,
  VL_FS_INITEXIT = 0x0018,  // the module's static-initialisation procedure
  VL_FS_MESSAGE = 0x0040,
  VL_FS_MEMVAR = 0x0080,
  VL_FS_PCODEFUNC = 0x0100,
  VL_FS_NAMEONLY = 0x001A,  // name-only symbols owned by the table
  VL_FS_ENTERED = 0x00C5,   // any of these bits enters the name into the table
  VL_FS_STATIC_MASK = 0x001A,
};

// A p-code function reached without a native stub (modules compiled at run time).
struct VlPcodeFunc {
  const uint8_t* pcode;
  struct VlSymbol* symbols;
  VlItem** globals;
  uint32_t length;  // bytes of p-code, for the bounds check of the executor
};

struct VlSymbol {
  const char* name;
  uint32_t scope;
  union {
    VlFunc func;
    intptr_t staticsBase;  // the "(_INITSTATICS)" symbol after the module reserved its statics
    VlPcodeFunc* pcodeFunc;
    void* ptr;
  } value;
  // Before registration: VL_SYM_DEFINED when this module defines the function, else null.
  // After registration: the dynamic symbol the name was entered under (null if not entered).
  VlDynSym* dynsym;
};

#define VL_SYM_DEFINED (reinterpret_cast<VlDynSym*>(static_cast<uintptr_t>(1)))

struct VlDynSym {
  VlSymbol* symbol;   // supplies the name and, if any, the function
  uint32_t memvar;    // handle of the visible memory-variable value; 0 = none
  uint32_t area;      // work area bound to the name as a field; 0 = none
  VlModule* module;   // first module that defined the function under this name
};

struct VlModule {
  VlSymbol* symbols;
  uint16_t count;
  uint16_t scopes;  // bit-or of the scopes of all its symbols
  VlModule* next;
  char* name;
};

inline constexpr int VL_PCODE_VERSION = 7;
inline constexpr size_t VL_SYMBOL_NAME_LEN = 63;

void vl_vmProcessSymbols(VlSymbol* symbols, uint16_t count, const char* moduleName, int pcodeVersion);

VlDynSym* vl_dynsymFind(const char* name);
VlDynSym* vl_dynsymFindName(const char* name);
VlDynSym* vl_dynsymGet(const char* name);
VlDynSym* vl_dynsymGetCase(const char* name);
VlDynSym* vl_dynsymNew(VlSymbol* symbol, VlModule* module);
void vl_dynsymRelease();
uint32_t vl_dynsymCount();
VlDynSym* vl_dynsymAt(uint32_t index);  // table order, for walks such as __MSAVE

// The function a symbol calls: its own when this module defines it, else the global one.
inline VlSymbol* vl_symbolFunction(VlSymbol* sym) {
  if (sym->value.func) return sym;
  VlDynSym* d = sym->dynsym;
  return (d && d->symbol->value.func) ? d->symbol : nullptr;
}
inline bool vl_dynsymHasFunction(const VlDynSym* d) { return d && d->symbol->value.func; }

VlModule* vl_vmFindModuleBySymbols(const VlSymbol* symbols);
VlModule* vl_vmFindModuleByName(const char* name);
VlModule* vl_vmFirstModule();
void vl_vmReleaseModules();

VlSymbol* vl_vmStartSymbol();               // remembered at registration
void vl_vmSetStartSymbol(VlSymbol* sym);    // the runner picks its own program's first function

// ---- native modules ----
// A native language-level function: void VL_FUN_NAME(), working only through the extend interface.
#define VL_FUNC(name) void VL_FUN_##name()
#define VL_FUNC_EXTERN(name) void VL_FUN_##name()
#define VL_FUNCENTRY(name) \
  VlSymbol { #name, VL_FS_PUBLIC, {VL_FUN_##name}, VL_SYM_DEFINED }

// Registers a table of native functions as a module, before main, in link order.
struct VlNativeModule {
  VlNativeModule(const char* file, VlSymbol* symbols, size_t count);
};

#define VL_NATIVE_MODULE(id, ...)                                    \
  static VlSymbol s_vlSymbols_##id[] = {__VA_ARGS__};                \
  static VlNativeModule s_vlModule_##id(__FILE__, s_vlSymbols_##id,   \
                                        sizeof(s_vlSymbols_##id) / sizeof(s_vlSymbols_##id[0]))
