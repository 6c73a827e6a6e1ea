// Internal (unrecoverable) errors: reported on standard error with a call trace, logged, and the
// process ends with exit code 1.
#pragma once

[[noreturn]] void vl_errInternal(unsigned number, const char* text, const char* p1, const char* p2);
