// The run-time's regular-expression service (a thin layer over PCRE2), used by the REGEXFULL
// and REGEXFIND instructions and by wildcard matching.
#pragma once

#include <cstddef>

// Whether the pattern matches the text (the whole text when full is true). *valid is false
// when the pattern does not compile (the result is then false).
bool vl_regexMatch(const char* pattern, size_t patLen, const char* text, size_t textLen, bool full, bool* valid);
