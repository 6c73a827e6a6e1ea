// The macro compiler's front end: one expression text (or a comma list) compiled to p-code that
// names its variables and functions by the address of their dynamic symbols. The run-time
// services (macro substitution, TYPE(), compiled key and filter expressions) call this and run
// the result; the names are resolved through VlMacroNames so that this library needs nothing of
// the run-time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tree.h"

// Compile flags.
enum : uint32_t {
  VL_MCF_PUSH = 0x01,       // leave the value (or values) on the stack
  VL_MCF_POP = 0x02,        // store the value on top of the stack into the expression
  VL_MCF_ALIASED = 0x04,    // an alias value is on the stack: plain names are aliased variables
  VL_MCF_TYPECHECK = 0x08,  // TYPE(): names are looked up while compiling
  VL_MCF_PAREN = 0x10,      // a top-level list keeps only its last value
  VL_MCF_LIST = 0x20,       // a top-level list is accepted
};

// Feature bits (the run-time keeps a global word, 8 at start-up).
enum : uint32_t {
  VL_FEAT_STMTOPS = 0x01,   // operators in statement position compile their operands only
  VL_FEAT_EXTMACRO = 0x02,  // macro lists in argument, array, index and parenthesised positions
  VL_FEAT_SHORTCUT = 0x08,  // .AND. / .OR. skip the right operand when the left decides
};

// Status bits.
enum : uint32_t {
  VL_MST_OK = 0x01,
  VL_MST_ERR2 = 0x02,
  VL_MST_ERR4 = 0x04,     // also: a called function is not a reserved name
  VL_MST_ERR8 = 0x08,     // also: type check found an unknown function
  VL_MST_NOVALUE = 0x10,  // type check: a variable that is neither memory variable nor field
};

// Name services of the run-time.
class VlMacroNames {
 public:
  virtual ~VlMacroNames() = default;
  // The dynamic symbol of a name, entered into the global name table when absent.
  virtual void* symbol(const char* name) = 0;
  // Type-check mode only.
  virtual bool known(const char* name) { return true; }        // in the global name table already
  virtual bool hasValue(const char* name) { return true; }     // memory variable or field of the current area
  virtual bool hasFunction(const char* name) { return true; }  // bound to a function or a field
};

struct VlMacroResult {
  std::vector<uint8_t> code;  // ends with PROCEXIT
  uint32_t status = 0;
  bool parsed = false;  // the grammar accepted the text
  VlNk rootKind = VlNk::Empty;
  uint32_t extraValues = 0;  // values beyond the first of a top-level list
  std::string error;         // first error, for diagnostics
};

// Compiles `text`; true when the code can run (parsed and status bit 0x01 still set).
bool vl_macroCompileText(const char* text, size_t len, uint32_t flags, uint32_t features, VlMacroNames& names,
                         VlMacroResult& out);
