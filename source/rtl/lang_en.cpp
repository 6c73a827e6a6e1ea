// The English language module ("EN"): current from start-up.
#include "langapi.h"

extern const VlLang vl_langEN;

constexpr VlLang vl_langEN = {{
    // identification
    "EN", "English", "English", "EN", "437", "1.0",
    // months
    "January", "February", "March", "April", "May", "June", "July", "August", "September", "October",
    "November", "December",
    // days
    "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday",
    // national messages (NATIONMSG 1..13)
    "Database Files    # Records    Last Update     Size", "Do you want more samples?", "Page No.",
    "** Subtotal **", "* Subsubtotal *", "*** Total ***", "Ins", "   ", "Invalid date", "Range: ", " - ", "Y/N",
    "INVALID EXPRESSION",
    // descriptions of the generic error codes 0..50
    "Unknown error", "Argument error", "Bound error", "String overflow", "Numeric overflow", "Zero divisor",
    "Numeric error", "Syntax error", "Operation too complex", "", "", "Memory low", "Undefined function",
    "No exported method", "Variable does not exist", "Alias does not exist", "No exported variable",
    "Illegal characters in alias", "Alias already in use", "", "Create error", "Open error", "Close error",
    "Read error", "Write error", "Print error", "", "", "", "", "Operation not supported", "Limit exceeded",
    "Corruption detected", "Data type error", "Data width error", "Workarea not in use", "Workarea not indexed",
    "Exclusive required", "Lock required", "Write not allowed", "Append lock failed", "Lock Failure", "", "", "",
    "", "array access", "array assign", "array dimension", "not an array", "conditional",
    // internal errors 9000..9025
    "Unrecoverable error %lu: ", "Error recovery failure", "No ERRORBLOCK() for error",
    "Too many recursive error handler calls", "RDD invalid or failed to load", "Invalid method type from %s",
    "vl_xgrab can't allocate memory", "vl_xrealloc called with a NULL pointer",
    "vl_xrealloc called with an invalid pointer", "vl_xrealloc can't reallocate memory",
    "vl_xfree called with an invalid pointer", "vl_xfree called with a NULL pointer",
    "Can't locate the starting procedure: '%s'", "No starting procedure", "Unsupported VM opcode",
    "Symbol item expected from %s", "Invalid symbol type for self from %s", "Codeblock expected from %s",
    "Incorrect item type on the stack trying to pop from %s", "Stack underflow",
    "An item was going to be copied to itself from %s", "Invalid symbol item passed as memvar %s",
    "Memory buffer overflow", "vl_xgrab requested to allocate zero bytes",
    "vl_xrealloc requested to resize to zero bytes", "vl_xalloc requested to allocate zero bytes",
    // date format, yes and no
    "YYYY/MM/DD", "Y", "N",
}};

namespace {
// Every slot of the table must be filled: a missing text would read as a null pointer.
constexpr bool allFilled() {
  for (const char* t : vl_langEN.texts)
    if (!t) return false;
  return true;
}
static_assert(allFilled(), "the English module must have all 118 texts");

const bool s_registered = vl_langRegister(&vl_langEN);
}  // namespace
