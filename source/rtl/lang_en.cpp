// The English texts the VM needs before the language module registry exists: error
// descriptions and internal error texts.
#include "langapi.h"

namespace {

const char* const s_errorDesc[] = {
    "Unknown error", "Argument error", "Bound error", "String overflow", "Numeric overflow", "Zero divisor",
    "Numeric error", "Syntax error", "Operation too complex", "", "", "Memory low", "Undefined function",
    "No exported method", "Variable does not exist", "Alias does not exist", "No exported variable",
    "Illegal characters in alias", "Alias already in use", "", "Create error", "Open error", "Close error",
    "Read error", "Write error", "Print error", "", "", "", "", "Operation not supported", "Limit exceeded",
    "Corruption detected", "Data type error", "Data width error", "Workarea not in use", "Workarea not indexed",
    "Exclusive required", "Lock required", "Write not allowed", "Append lock failed", "Lock Failure", "", "", "",
    "", "array access", "array assign", "array dimension", "not an array", "conditional",
};

const char* const s_internal[] = {
    "Unrecoverable error %lu: ",
    "Error recovery failure",
    "No ERRORBLOCK() for error",
    "Too many recursive error handler calls",
    "RDD invalid or failed to load",
    "Invalid method type from %s",
    "vl_xgrab can't allocate memory",
    "vl_xrealloc called with a NULL pointer",
    "vl_xrealloc called with an invalid pointer",
    "vl_xrealloc can't reallocate memory",
    "vl_xfree called with an invalid pointer",
    "vl_xfree called with a NULL pointer",
    "Can't locate the starting procedure: '%s'",
    "No starting procedure",
    "Unsupported VM opcode",
    "Symbol item expected from %s",
    "Invalid symbol type for self from %s",
    "Codeblock expected from %s",
    "Incorrect item type on the stack trying to pop from %s",
    "Stack underflow",
    "An item was going to be copied to itself from %s",
    "Invalid symbol item passed as memvar %s",
    "Memory buffer overflow",
    "vl_xgrab requested to allocate zero bytes",
    "vl_xrealloc requested to resize to zero bytes",
    "vl_xalloc requested to allocate zero bytes",
};

}  // namespace

const char* vl_langDGetItem(int index) {
  if (index >= 89 && index < 89 + static_cast<int>(sizeof s_internal / sizeof s_internal[0])) return s_internal[index - 89];
  return "";
}

const char* vl_langDGetErrorDesc(int genCode) {
  if (genCode >= 0 && genCode < static_cast<int>(sizeof s_errorDesc / sizeof s_errorDesc[0])) return s_errorDesc[genCode];
  return "";
}

const char* vl_langDGetInternalError(unsigned number) {
  if (number >= 9000 && number <= 9025) return vl_langDGetItem(static_cast<int>(number - 9000 + 89));
  return "";
}
