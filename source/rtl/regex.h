// The regular-expression service: PCRE2 matching with a small cache of compiled patterns, and
// the conversion of wildcard masks ("*", "?", "[...]") into regular expressions.
#pragma once

#include <cstddef>

// True when the pattern matches the whole text (full) or somewhere in it. *valid (may be null)
// becomes false when the pattern does not compile; the result is then false.
bool vl_regexMatch(const char* pattern, size_t patLen, const char* text, size_t textLen, bool full, bool* valid);

// The regular expression for a wildcard mask: "*" any run, "?" any one character, "[abc]" and
// "[!abc]" a set; everything else literal. A set left open is copied as it is, so the result
// does not compile and the caller can report the mask. The text is zero-terminated and owned by
// the caller (vl_xfree).
char* vl_regexFromWildcard(const char* mask, size_t maskLen, size_t* outLen);

// Frees the cached compiled patterns.
void vl_regexRelease();
